// Fixtures shared by the table-file tests: a numbered table layout and
// opening a table file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/table/gs6_dbf.h"
#include "support/dbf_writer.h"

// Fields ID N(6) and NAME C(nameWidth); row i holds i and "ROWi".
inline DbfLayout NumberedLayout(int rows, uint8_t version = 0x03, int nameWidth = 13) {
  DbfLayout layout;
  layout.version = version;
  layout.fields = {{"ID", 'N', 6}, {"NAME", 'C', nameWidth}};
  for (int i = 1; i <= rows; ++i)
    layout.rows.push_back({{std::to_string(i), "ROW" + std::to_string(i)}});
  return layout;
}

inline std::unique_ptr<GSO_dBaseDBF> OpenDbf(const std::string& path, bool shared = false,
                                              bool readWrite = true) {
  auto table = std::make_unique<GSO_dBaseDBF>(path, "", shared, readWrite);
  table->OpenTable();
  return table;
}
