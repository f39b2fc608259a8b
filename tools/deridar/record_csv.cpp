#include "tools/deridar/record_csv.h"

#include <cstdio>
#include <cstring>

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf_field.h"

namespace {

std::string_view Trimmed(std::string_view text, bool leadingToo) {
  size_t end = text.find_last_not_of(' ');
  text = end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
  if (leadingToo) {
    size_t start = text.find_first_not_of(' ');
    text = start == std::string_view::npos ? std::string_view() : text.substr(start);
  }
  return text;
}

}  // namespace

TableLanguage LanguageOf(uint8_t languageByte) {
  // The language bytes in common use and the code pages they name.
  static constexpr struct {
    uint8_t byte;
    int codePage;
  } kKnown[] = {
      {0x01, 437},  {0x02, 850},  {0x03, 1252}, {0x04, 10000}, {0x08, 865}, {0x09, 437},
      {0x0A, 850},  {0x0B, 437},  {0x0D, 437},  {0x0E, 850},   {0x0F, 437}, {0x10, 850},
      {0x11, 437},  {0x12, 850},  {0x13, 932},  {0x14, 850},   {0x15, 437}, {0x16, 850},
      {0x17, 865},  {0x18, 437},  {0x19, 437},  {0x1A, 850},   {0x1B, 437}, {0x1C, 863},
      {0x1D, 850},  {0x1F, 852},  {0x22, 852},  {0x23, 852},   {0x24, 860}, {0x25, 850},
      {0x26, 866},  {0x37, 850},  {0x40, 852},  {0x4D, 936},   {0x4E, 949}, {0x4F, 950},
      {0x50, 874},  {0x57, 1251}, {0x58, 1252}, {0x59, 1252},  {0x64, 852}, {0x65, 866},
      {0x66, 865},  {0x67, 861},  {0x6A, 737},  {0x6B, 857},   {0x78, 950}, {0x79, 949},
      {0x7A, 936},  {0x7B, 932},  {0x7C, 874},  {0x86, 737},   {0x87, 852}, {0x88, 857},
      {0xC8, 1250}, {0xC9, 1251}, {0xCA, 1254}, {0xCB, 1253},  {0xCC, 1257},
  };
  TableLanguage language;
  for (const auto& known : kKnown)
    if (known.byte == languageByte) language.codePageNumber = known.codePage;
  if (language.codePageNumber == 1251) language.decodeAs = platform::CodePage::Cp1251;
  return language;
}

void WriteOut(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string ExpressionBytes(const std::string& utf8) {
  return platform::FromUtf8(utf8, platform::CodePage::Cp866);
}

void RaiseDecoded(const std::exception& e) {
  if (dynamic_cast<const EDeridarBase*>(&e))
    throw std::runtime_error(platform::ToUtf8(e.what(), platform::CodePage::Cp866));
  throw;
}

RecordCsvWriter::RecordCsvWriter(GSO_dBaseFld& table, platform::CodePage codePage,
                                 bool rawBytes, bool withDeleted)
    : table_(table), codePage_(codePage), rawBytes_(rawBytes), withDeleted_(withDeleted) {
  for (int32_t n = 1; n <= table.FieldCount(); ++n) {
    const uint8_t* d = table.FieldDescriptor(n);
    Column c;
    c.name.assign(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), 11));
    c.type = static_cast<char>(d[11]);
    c.offset = static_cast<int32_t>(d[12] | (d[13] << 8) | (d[14] << 16) | (d[15] << 24));
    c.length = table.DescriptorLength(n);
    c.binary = table.IsBinaryField(n);
    c.memo = table.IsMemoField(n) && table.HasMemo();  // the memo file is opened when read
    columns_.push_back(c);
  }
}

std::string RecordCsvWriter::Decode(std::string_view bytes) const {
  return rawBytes_ ? std::string(bytes) : platform::ToUtf8(bytes, codePage_);
}

void RecordCsvWriter::AppendField(std::string_view value) {
  bool quote = value.find_first_of(",\"\r\n") != std::string_view::npos;
  if (!quote) {
    out_.append(value);
    return;
  }
  out_.push_back('"');
  for (char c : value) {
    if (c == '"') out_.push_back('"');
    out_.push_back(c);
  }
  out_.push_back('"');
}

void RecordCsvWriter::WriteHeader() {
  if (withDeleted_) out_ += "_deleted";
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (i > 0 || withDeleted_) out_.push_back(',');
    AppendField(Decode(columns_[i].name));
  }
  out_ += "\r\n";
}

void RecordCsvWriter::WriteRecord() {
  const char* record = table_.CurrentRecord();
  if (withDeleted_) out_ += record[0] == '*' ? "1" : "0";
  for (size_t i = 0; i < columns_.size(); ++i) {
    const Column& c = columns_[i];
    int32_t n = static_cast<int32_t>(i) + 1;
    if (i > 0 || withDeleted_) out_.push_back(',');
    if (c.memo) {
      // The memo text, kept whole: its blanks and line ends are content.
      AppendField(Decode(table_.ReadMemo(n)));
    } else if (c.binary) {
      AppendField(table_.GetDisplayText(n));
    } else {
      bool numeric = c.type == 'N' || c.type == 'F';
      AppendField(Decode(Trimmed(std::string_view(record + c.offset, c.length), numeric)));
    }
  }
  out_ += "\r\n";
  if (out_.size() > (1 << 16)) {
    WriteOut(out_);
    out_.clear();
  }
}

bool RecordCsvWriter::Finish() {
  WriteOut(out_);
  out_.clear();
  return std::fflush(stdout) == 0;
}
