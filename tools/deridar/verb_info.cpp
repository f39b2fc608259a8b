// deridar info TABLE: the table's header (with its language byte and the
// code page chosen for its texts) and field list.
#include <cstdio>
#include <string>

#include "engine/table/gs6_dbf.h"
#include "tools/deridar/record_csv.h"
#include "tools/deridar/verbs.h"

int VerbInfo(const VerbArgs& args) {
  if (args.size() != 1) throw UsageError("expects one table name");
  GSO_dBaseDBF table(args[0], TablePassword(), true, false);
  table.OpenTable();
  std::printf("version 0x%02X\n", table.Version());
  int32_t year = 0, month = 0, day = 0;
  table.LastUpdate(year, month, day);
  std::printf("last update %04d-%02d-%02d\n", year, month, day);
  std::printf("records %d\n", table.RecordCount());
  std::printf("header length %d\n", table.HeaderLength());
  std::printf("record length %d\n", table.RecordLength());
  const uint8_t languageByte = table.HeaderImage()[29];
  const TableLanguage language = LanguageOf(languageByte);
  if (language.codePageNumber != 0)
    std::printf("language 0x%02X code page %d\n", languageByte, language.codePageNumber);
  else
    std::printf("language 0x%02X code page unknown\n", languageByte);
  std::printf("texts decoded as code page %s\n",
              language.decodeAs == platform::CodePage::Cp1251 ? "1251" : "866");
  std::printf("fields %d\n", table.FieldCount());
  for (int32_t n = 1; n <= table.FieldCount(); ++n) {
    const uint8_t* d = table.FieldDescriptor(n);
    std::string name(reinterpret_cast<const char*>(d), 11);
    name.resize(name.find('\0') == std::string::npos ? 11 : name.find('\0'));
    char type = static_cast<char>(d[11]);
    int decimals = type == 'C' ? 0 : d[17];
    std::printf("%s %c %d %d\n", name.c_str(), type, table.DescriptorLength(n), decimals);
  }
  return 0;
}
