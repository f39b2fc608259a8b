// CSV rendering of table records shared by the verbs that print records
// (dump, seek): RFC 4180 fields in UTF-8, CRLF line ends, a header row of
// field names and an optional leading "_deleted" column.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"

class GSO_dBaseFld;

class RecordCsvWriter {
 public:
  // Texts are decoded from `codePage`, or copied unchanged with `rawBytes`.
  // `withDeleted` adds the "_deleted" column (1 or 0).
  RecordCsvWriter(GSO_dBaseFld& table, platform::CodePage codePage, bool rawBytes,
                  bool withDeleted);

  void WriteHeader();
  // The table's current record. Trailing blanks are dropped, and the
  // leading blanks of numeric fields; memo fields show their memo text;
  // numbers stored as bytes show their display text.
  void WriteRecord();
  // Writes out what is buffered; false when stdout failed.
  bool Finish();

 private:
  struct Column {
    std::string name;
    char type = 'C';
    int32_t offset = 0;
    int32_t length = 0;
    bool binary = false;
    bool memo = false;
  };

  std::string Decode(std::string_view bytes) const;
  void AppendField(std::string_view value);

  GSO_dBaseFld& table_;
  platform::CodePage codePage_;
  bool rawBytes_;
  bool withDeleted_;
  std::vector<Column> columns_;
  std::string out_;
};

// What a table's language byte (header byte 29) says of its texts: the
// code page they are written in (0 for a byte this tool does not know) and
// the code page they are decoded from here (866 for all but the 1251 ones).
struct TableLanguage {
  int codePageNumber = 0;
  platform::CodePage decodeAs = platform::CodePage::Cp866;
};
TableLanguage LanguageOf(uint8_t languageByte);

// Copies a text to stdout in one write.
void WriteOut(std::string_view text);

// Expressions are typed in UTF-8 but compared with the table's code page
// 866 texts, so their text is converted before it is compiled.
std::string ExpressionBytes(const std::string& utf8);

// Runs `work`; an engine failure inside it (whose message may quote the
// converted expression) is raised again with its message decoded to UTF-8.
template <typename Work>
void WithDecodedEngineMessages(Work&& work);

[[noreturn]] void RaiseDecoded(const std::exception& e);

template <typename Work>
void WithDecodedEngineMessages(Work&& work) {
  try {
    work();
  } catch (const std::exception& e) {
    RaiseDecoded(e);
  }
}
