// Resource limits seen through the dataset: a table takes at most 63 index
// files; the 64th is refused with a message that names it, and the files
// already open stay usable.
#include <gtest/gtest.h>

#include <string>

#include "dataset/Razuz6oz.h"
#include "open_on.h"
#include "engine/table/gs6_dbsy.h"
#include "support/dataset_fixtures.h"
#include "support/temp_dir.h"

TEST(DataSetLimits, TheSixtyFourthIndexFileIsRefused) {
  TempDir dir;
  Numbered(dir, 20);
  TDeridarDataSet table;
  OpenOn(table, dir);
  std::string list;
  for (int i = 1; i <= 64; ++i) {
    const std::string name = "F" + std::to_string(i) + ".CDX";
    table.IndexOn(name, "T" + std::to_string(i), i % 2 ? "ID" : "NAME", "", 1, 0);
    list += name + (i < 64 ? ";" : "");
  }
  EXPECT_EQ(DatabaseErrorOf([&] { table.OpenIndexes(list, "T63"); }),
            "Error getting " + dir.File("F64.CDX"));
  EXPECT_EQ(table.Table()->OpenIndexCount(), GSO_dBHandler::kIndexSlotCount);
  EXPECT_EQ(table.Table()->TagByNumber(64), nullptr);

  // The 63 files that did open still give orders.
  table.SetIndexName("T63");
  table.First();
  EXPECT_EQ(table.FieldByName("ID")->AsInteger(), 1);
  table.SetIndexName("T62");
  table.Last();
  EXPECT_EQ(table.FieldByName("NAME")->AsString(), "N9");
}

TEST(DataSetLimits, AFileListedTwiceIsNamedInTheMessage) {
  TempDir dir;
  Numbered(dir, 3);
  TDeridarDataSet table;
  OpenOn(table, dir);
  table.IndexOn("F.CDX", "T", "ID", "", 1, 0);
  EXPECT_EQ(DatabaseErrorOf([&] { table.OpenIndexes("F.CDX;F.CDX", "T"); }),
            "Index file " + dir.File("F.CDX") + " already open");
}
