// deridar create TABLE --field NAME:TYPE:LEN[:DEC] ... [--version 03|83|8B|F5|30]
//                [--encoding 866|1251]: a new empty table, and its memo file
// when a field is of type M. Without --version the table is 0x03, or 0x83
// when it has memo fields. The language byte names code page 866, or 1251
// with --encoding 1251. An existing table or memo file is never overwritten.
// The lengths of D (8), L (1) and M fields may be left out. --password is
// refused: new tables are plain.
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/table/gs6_dbf_create.h"
#include "tools/deridar/verbs.h"

namespace {

int32_t Count(const std::string& text, const std::string& definition) {
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > 65535)
    throw UsageError("--field \"" + definition + "\": \"" + text + "\" is not a length");
  return static_cast<int32_t>(value);
}

TableFieldDefinition ParseField(const std::string& definition) {
  std::vector<std::string> parts(1);
  for (char c : definition) {
    if (c == ':')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  if (parts.size() < 2 || parts.size() > 4 || parts[0].empty() || parts[1].size() != 1)
    throw UsageError("--field \"" + definition + "\" is not NAME:TYPE:LEN[:DEC]");
  TableFieldDefinition field;
  field.name = parts[0];
  field.type = parts[1][0];
  if (parts.size() > 2) field.length = Count(parts[2], definition);
  if (parts.size() > 3) field.decimals = Count(parts[3], definition);
  return field;
}

}  // namespace

int VerbCreate(const VerbArgs& args) {
  std::string tableName, version, encoding;
  std::vector<TableFieldDefinition> fields;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--field")
      fields.push_back(ParseField(value()));
    else if (a == "--version")
      version = value();
    else if (a == "--encoding")
      encoding = value();
    else if (a.rfind("--", 0) == 0 || !tableName.empty())
      throw UsageError("unexpected argument \"" + a + "\"");
    else
      tableName = a;
  }
  if (tableName.empty()) throw UsageError("expects a table name");
  // A new table is plain; one is enciphered afterwards by re-keying it.
  if (!TablePassword().empty()) throw UsageError("create makes plain tables; --password does not apply");
  if (fields.empty()) throw UsageError("expects at least one --field");

  bool memo = false;
  for (const TableFieldDefinition& f : fields) memo = memo || f.type == 'M' || f.type == 'm';
  uint8_t versionByte = memo ? 0x83 : 0x03;
  if (!version.empty()) {
    char* end = nullptr;
    unsigned long v = std::strtoul(version.c_str(), &end, 16);
    if (*end != '\0' || v > 0xFF || !TableVersionCreatable(static_cast<uint8_t>(v)))
      throw UsageError("--version is one of 03, 83, 8B, F5, 30");
    versionByte = static_cast<uint8_t>(v);
  }
  uint8_t language = kLanguageCp866;
  if (encoding == "1251")
    language = kLanguageCp1251;
  else if (!encoding.empty() && encoding != "866")
    throw UsageError("unknown encoding \"" + encoding + "\"");
  CreateTable(tableName, versionByte, fields, language);
  return 0;
}
