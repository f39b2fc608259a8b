// Small fixtures shared by the dataset tests: a numbered table, and the
// error texts of support/error_text.h.
#pragma once

#include <set>
#include <string>

#include "platform/db.h"
#include "support/dbf_writer.h"
#include "support/error_text.h"
#include "support/temp_dir.h"

// T.DBF with fields ID N(5) and NAME C(8): rows 1..`rows` hold i and "Ni";
// the rows in `deleted` are marked deleted.
inline std::string Numbered(const TempDir& dir, int rows, std::set<int> deleted = {}) {
  DbfLayout layout;
  layout.fields = {{"ID", 'N', 5}, {"NAME", 'C', 8}};
  for (int i = 1; i <= rows; ++i) {
    DbfRow row{{std::to_string(i), "N" + std::to_string(i)}};
    row.deleted = deleted.count(i) > 0;
    layout.rows.push_back(row);
  }
  return WriteDbf(dir.File("T.DBF"), layout);
}
