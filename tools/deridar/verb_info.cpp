// deridar info TABLE: the table's header and field list.
#include <cstdio>
#include <string>

#include "engine/table/gs6_dbf.h"
#include "tools/deridar/verbs.h"

int VerbInfo(const VerbArgs& args) {
  if (args.size() != 1) throw UsageError("expects one table name");
  GSO_dBaseDBF table(args[0], "", true, false);
  table.OpenTable();
  std::printf("version 0x%02X\n", table.Version());
  int32_t year = 0, month = 0, day = 0;
  table.LastUpdate(year, month, day);
  std::printf("last update %04d-%02d-%02d\n", year, month, day);
  std::printf("records %d\n", table.RecordCount());
  std::printf("header length %d\n", table.HeaderLength());
  std::printf("record length %d\n", table.RecordLength());
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
