// Index files kept in step with edits posted through the dataset: rows read
// by a grid while a record is edited, and unique tags whose key holder
// changes. Afterwards every tag agrees with the table as `index check` sees it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dataset/Razuz6oz.h"
#include "engine/index/gs6_cdx.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbsy.h"
#include "open_on.h"
#include "support/dataset_fixtures.h"

using namespace platform;

namespace {

// The problems `index check` would report for every tag of T.CDX.
std::vector<std::string> TagProblems(const std::string& path) {
  GSO_dBHandler table(path, "", false, false);
  table.OpenTable();
  std::vector<std::string> problems;
  if (table.OpenIndexFile("T.CDX") != 0) return {"T.CDX not opened"};
  auto* file = static_cast<GSobjCDXFile*>(table.IndexFile(1));
  for (int32_t i = 0; i < file->TagCount(); ++i) {
    auto& tag = *static_cast<GSobjCDXTag*>(file->TagByPosition(i));
    cdx::TreeReport report;
    file->CheckTag(tag, report);
    for (const std::string& p : report.problems) problems.push_back(tag.TagName() + ": " + p);
  }
  return problems;
}

// The grid's page fetch: the rows after the first, each field read.
void ReadRowsAsTheGridDoes(TDeridarDataSet& table) {
  TBookmark last;
  table.SkipRecords(TBookmark(), 50, last);
  table.ScanRecords(TBookmark(), 50, [&](const TBookmark&) {
    for (int32_t i = 0; i < table.FieldCount(); ++i) table.Fields(i)->AsString();
  });
  table.RecordCount();
}

}  // namespace

TEST(DataSetIndexUpkeep, EditsPostedAfterRowsWereReadMoveEveryTagsEntries) {
  TempDir dir;
  const std::string path = Numbered(dir, 40);
  {
    GSO_dBHandler table(path, "", false, true);
    table.OpenTable();
    table.IndexOn("T.CDX", "BYNAME", "NAME", "", 1, 0);
    table.IndexOn("T.CDX", "BYID", "ID", "", 1, 1);
    table.IndexOn("T.CDX", "LOW", "NAME", "ID < 20", 1, 0);
  }
  TDeridarDataSet table;
  OpenOn(table, dir);
  table.OpenIndexes("T.CDX", "BYNAME");
  for (int step = 0; step < 6; ++step) {
    table.First();
    table.MoveBy(step * 5);
    table.Edit();
    table.FieldByName("NAME")->SetAsString("E" + std::to_string(step));
    table.FieldByName("ID")->SetAsInteger(100 + step);
    ReadRowsAsTheGridDoes(table);
    table.Post();
    ReadRowsAsTheGridDoes(table);
  }
  table.Close();
  EXPECT_EQ(TagProblems(path), std::vector<std::string>{});
}

namespace {

// T.DBF with ID N(5), NAME C(8) and FIO C(35): the names repeat.
std::string People(const TempDir& dir) {
  DbfLayout layout;
  layout.fields = {{"ID", 'N', 5}, {"NAME", 'C', 8}, {"FIO", 'C', 35}};
  const char* names[] = {"IVAN", "OLGA", "IVAN", "PETR", "OLGA", "IVAN"};
  for (int i = 1; i <= 6; ++i)
    layout.rows.push_back(DbfRow{{std::to_string(i), names[i - 1], std::string(names[i - 1]) + " S"}});
  return WriteDbf(dir.File("T.DBF"), layout);
}

void EditRecord(TDeridarDataSet& table, int id, const char* field, const std::string& value) {
  ASSERT_TRUE(table.LocateRecord("ID", {std::to_string(id)}, 0)) << id;
  table.Edit();
  table.FieldByName(field)->SetAsString(value);
  table.Post();
}

}  // namespace

TEST(DataSetIndexUpkeep, AUniqueKeyStaysWhileAnyRecordHoldsIt) {
  TempDir dir;
  const std::string path = People(dir);
  TDeridarDataSet table;
  OpenOn(table, dir);
  table.IndexOn("T.CDX", "NAMES", "NAME", "", 0, 0);
  table.IndexOn("T.CDX", "LOWNAMES", "NAME", "ID < 6", 0, 0);
  table.OpenIndexes("T.CDX", "NAMES");
  // Record 1 holds IVAN and record 2 OLGA: each leaves its key, and the
  // next record with that key takes the entry.
  EditRecord(table, 1, "NAME", "ZOYA");
  EditRecord(table, 2, "ID", "9");  // OLGA fails LOWNAMES' condition now
  EditRecord(table, 3, "NAME", "ANNA");
  table.Close();
  EXPECT_EQ(TagProblems(path), std::vector<std::string>{});
}

TEST(DataSetIndexUpkeep, KeysThatFaultOrShrinkOnBlankRecordsIndexAndOpen) {
  TempDir dir;
  const std::string path = People(dir);
  {
    TDeridarDataSet table;
    OpenOn(table, dir);
    table.IndexOn("T.CDX", "BYFIO", "TRIM(FIO)", "", 1, 0);
    table.IndexOn("T.CDX", "SHARE", "STR(100/LEN(TRIM(NAME)),10,2)", "", 1, 0);
    // A key that faults on a record of the table is refused, and leaves no
    // file of its own.
    EXPECT_THROW(table.IndexOn("NEW.CDX", "BAD", "STR(100/(ID-3),10,2)", "", 1, 0), EDeridarExpression);
    EXPECT_FALSE(std::filesystem::exists(dir.File("NEW.CDX")));
  }
  TDeridarDataSet table;
  OpenOn(table, dir);
  table.OpenIndexes("T.CDX", "BYFIO");
  // The key is as long as the field, not as the name first seen.
  const std::string longest(35, 'Y');
  EditRecord(table, 4, "FIO", longest);
  table.Last();
  EXPECT_EQ(table.FieldByName("FIO")->AsString(), longest);
  table.Close();
  EXPECT_EQ(TagProblems(path), std::vector<std::string>{});
}
