// deridar dump TABLE [--encoding 866|1251|none] [--deleted]: the records as
// RFC 4180 CSV in UTF-8 (CRLF line ends), with a header row of field names.
// Texts are decoded from the table's code page (866 unless told otherwise;
// "none" copies the bytes unchanged). Trailing blanks are dropped, and the
// leading blanks of numeric fields. Deleted records are left out unless
// --deleted is given, which adds a leading "_deleted" column (1 or 0).
// Numbers stored as bytes (the binary types of version 0x30 tables) are
// written as their display text.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/table/gs6_dbf_field.h"
#include "platform/codepage.h"
#include "tools/deridar/verbs.h"

namespace {

struct Column {
  std::string name;
  char type = 'C';
  int32_t offset = 0;
  int32_t length = 0;
  bool binary = false;
};

void AppendCsvField(std::string& out, std::string_view value) {
  bool quote = value.find_first_of(",\"\r\n") != std::string_view::npos;
  if (!quote) {
    out.append(value);
    return;
  }
  out.push_back('"');
  for (char c : value) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

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

int VerbDump(const VerbArgs& args) {
  std::string tableName;
  platform::CodePage codePage = platform::CodePage::Cp866;
  bool rawBytes = false;
  bool withDeleted = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--deleted") {
      withDeleted = true;
    } else if (args[i] == "--encoding") {
      if (i + 1 >= args.size()) throw UsageError("--encoding needs a value");
      const std::string& e = args[++i];
      rawBytes = false;
      if (e == "866")
        codePage = platform::CodePage::Cp866;
      else if (e == "1251")
        codePage = platform::CodePage::Cp1251;
      else if (e == "none")
        rawBytes = true;
      else
        throw UsageError("unknown encoding \"" + e + "\"");
    } else if (tableName.empty() && args[i].rfind("--", 0) != 0) {
      tableName = args[i];
    } else {
      throw UsageError("unexpected argument \"" + args[i] + "\"");
    }
  }
  if (tableName.empty()) throw UsageError("expects a table name");

  GSO_dBaseFld table(tableName, "", true, false);
  table.OpenTable();
  table.SetCache(true);

  std::vector<Column> columns;
  for (int32_t n = 1; n <= table.FieldCount(); ++n) {
    const uint8_t* d = table.FieldDescriptor(n);
    Column c;
    c.name.assign(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), 11));
    c.type = static_cast<char>(d[11]);
    c.offset = static_cast<int32_t>(d[12] | (d[13] << 8) | (d[14] << 16) | (d[15] << 24));
    c.length = table.DescriptorLength(n);
    c.binary = table.IsBinaryField(n);
    columns.push_back(c);
  }

  auto decode = [&](std::string_view bytes) {
    return rawBytes ? std::string(bytes) : platform::ToUtf8(bytes, codePage);
  };

  std::string out;
  if (withDeleted) out += "_deleted";
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i > 0 || withDeleted) out.push_back(',');
    AppendCsvField(out, decode(columns[i].name));
  }
  out += "\r\n";

  for (table.ReadRecord(GotoFirst); !table.Eof(); table.ReadRecord(GotoNext)) {
    const char* record = table.CurrentRecord();
    bool deleted = record[0] == '*';
    if (deleted && !withDeleted) continue;
    if (withDeleted) out += deleted ? "1" : "0";
    for (size_t i = 0; i < columns.size(); ++i) {
      const Column& c = columns[i];
      if (i > 0 || withDeleted) out.push_back(',');
      if (c.binary) {
        AppendCsvField(out, table.GetDisplayText(static_cast<int32_t>(i) + 1));
        continue;
      }
      bool numeric = c.type == 'N' || c.type == 'F';
      AppendCsvField(out, decode(Trimmed(std::string_view(record + c.offset, c.length), numeric)));
    }
    out += "\r\n";
    if (out.size() > (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
