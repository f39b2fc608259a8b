// Editing through the dataset: inserts and appends, delete and recall with
// deleted records hidden and shown, and the record lock an edit holds.
#include <gtest/gtest.h>

#include "dataset/Razuz6oz.h"
#include "open_on.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"
#include "support/dataset_fixtures.h"

using namespace platform;

namespace {

std::string Name(TDeridarDataSet& table) { return table.FieldByName("NAME")->AsString(); }
int Id(TDeridarDataSet& table) { return table.FieldByName("ID")->AsInteger(); }

}  // namespace

TEST(DataSetEdit, AppendedAndInsertedRecordsGoToTheEnd) {
  TempDir dir;
  Numbered(dir, 3);
  TDeridarDataSet table;
  OpenOn(table, dir);
  table.Append();
  EXPECT_TRUE(table.FieldByName("NAME")->IsNull());
  table.FieldByName("ID")->SetAsInteger(4);
  table.FieldByName("NAME")->SetAsString("N4");
  table.Post();
  EXPECT_EQ(table.ActiveRecordNumber(), 4);
  table.First();
  table.Insert();
  table.FieldByName("ID")->SetAsInteger(5);
  table.Post();
  table.AppendRecord({std::string("6"), std::string("N6")});
  EXPECT_EQ(table.RecordCount(), 6);
  table.Last();
  EXPECT_EQ(Name(table), "N6");
  table.Prior();
  EXPECT_EQ(Id(table), 5);
}

TEST(DataSetEdit, DeletingHidesTheRecordAndMovesOnAndRecallRestoresIt) {
  TempDir dir;
  Numbered(dir, 4, {2});
  TDeridarDataSet table;
  table.SetUseDeleted(true);
  OpenOn(table, dir);
  auto ids = [&] {
    std::vector<int> out;
    for (table.First(); !table.Eof(); table.Next()) out.push_back(Id(table));
    return out;
  };
  table.MoveBy(1);  // the deleted record 2, shown
  table.RecallRecord();
  table.SetUseDeleted(false);
  EXPECT_EQ(ids(), (std::vector<int>{1, 2, 3, 4}));

  // With deleted records hidden the row moves on, or back from the last.
  table.First();
  table.Next();
  table.Delete();
  EXPECT_EQ(Id(table), 3);
  table.Last();
  table.Delete();
  EXPECT_EQ(Id(table), 3);
  EXPECT_EQ(ids(), (std::vector<int>{1, 3}));
}

TEST(DataSetLocks, PostingAndCancellingReleaseTheRecordLock) {
  TempDir dir;
  std::string path = Numbered(dir, 3);
  TDeridarDataSet table;
  OpenOn(table, dir);
  GSO_dBHandler other(path, "", true, true);
  other.OpenTable();
  table.Edit();
  EXPECT_FALSE(other.LockRecord(1));  // the edited record is locked in the file
  table.Cancel();
  EXPECT_EQ(table.Table()->LockCount(), 0);
  table.Edit();
  table.FieldByName("ID")->SetAsInteger(10);
  table.Post();
  EXPECT_EQ(table.Table()->LockCount(), 0);
  EXPECT_TRUE(other.LockRecord(1));  // another handle can lock it now
}
