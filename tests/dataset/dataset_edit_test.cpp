// Editing through the dataset: edit/post/cancel, inserts and appends,
// delete and recall with deleted records hidden and shown, and record locks
// held by a second process.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <set>

#include "dataset/Razuz6oz.h"
#include "open_on.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"
#include "support/dataset_fixtures.h"

using namespace platform;

namespace {

std::string Name(TDeridarDataSet& table) { return table.FieldByName("NAME")->AsString(); }
int Id(TDeridarDataSet& table) { return table.FieldByName("ID")->AsInteger(); }

// Another process that opens the table shared, locks record `n` for
// editing and holds the lock until told to go.
class LockingPeer {
 public:
  LockingPeer(const TempDir& dir, int n) {
    if (pipe(ready_) != 0 || pipe(release_) != 0) ADD_FAILURE() << "pipe";
    pid_ = fork();
    if (pid_ == 0) {
      // The dataset must outlive the wait: closing it releases the lock.
      auto table = std::make_unique<TDeridarDataSet>();
      char byte = 1;
      try {
        OpenOn(*table, dir);
        table->MoveBy(n - 1);
        table->Edit();
        byte = 0;
      } catch (...) {
      }
      (void)!write(ready_[1], &byte, 1);
      char go = 0;
      (void)!read(release_[0], &go, 1);
      _exit(byte);
    }
    char byte = 1;
    if (read(ready_[0], &byte, 1) != 1 || byte != 0) ADD_FAILURE() << "peer could not lock";
  }
  ~LockingPeer() {
    char byte = 0;
    (void)!write(release_[1], &byte, 1);
    int status = 0;
    waitpid(pid_, &status, 0);
    for (int fd : {ready_[0], ready_[1], release_[0], release_[1]}) close(fd);
  }

 private:
  pid_t pid_ = -1;
  int ready_[2] = {-1, -1};
  int release_[2] = {-1, -1};
};

}  // namespace

TEST(DataSetEdit, PostedChangesReachTheFileAndCancelledOnesDoNot) {
  TempDir dir;
  std::string path = Numbered(dir, 5);
  TDeridarDataSet table;
  OpenOn(table, dir);
  table.MoveBy(2);
  table.Edit();
  table.FieldByName("NAME")->SetAsString("THREE");
  table.Post();
  EXPECT_EQ(Name(table), "THREE");
  table.Edit();
  table.FieldByName("NAME")->SetAsString("LOST");
  table.Cancel();
  EXPECT_EQ(Name(table), "THREE");
  table.Close();

  GSO_dBHandler raw(path, "", false, false);
  raw.OpenTable();
  raw.ReadRecord(3);
  EXPECT_EQ(raw.GetDisplayText(2), "THREE");
}

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
  EXPECT_EQ(Id(table), 4);
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
  ASSERT_EQ(Id(table), 2);
  table.RecallRecord();
  EXPECT_EQ(Id(table), 2);
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

  // A deleted record shown with UseDeleted is recalled.
  table.SetUseDeleted(true);
  table.GotoRecordNumber(2);
  table.RecallRecord();
  table.SetUseDeleted(false);
  EXPECT_EQ(ids(), (std::vector<int>{1, 2, 3}));
}

TEST(DataSetLocks, ARecordLockedByAnotherProcessCannotBeEdited) {
  TempDir dir;
  Numbered(dir, 5);
  TDeridarDataSet table;
  OpenOn(table, dir);
  {
    LockingPeer peer(dir, 2);
    table.MoveBy(1);
    EXPECT_EQ(DatabaseErrorOf([&] { table.Edit(); }), "Record is locked by another user");
    EXPECT_EQ(table.State(), dsBrowse);
    table.Next();
    table.Edit();
    table.FieldByName("NAME")->SetAsString("MINE");
    table.Post();
    EXPECT_EQ(Name(table), "MINE");
  }
  table.First();
  table.Next();
  table.Edit();  // the peer is gone and so is its lock
  table.FieldByName("NAME")->SetAsString("TWO");
  table.Post();
  EXPECT_EQ(Name(table), "TWO");
}

TEST(DataSetLocks, PostingAndCancellingReleaseTheRecordLock) {
  TempDir dir;
  std::string path = Numbered(dir, 3);
  TDeridarDataSet table;
  OpenOn(table, dir);
  table.Edit();
  EXPECT_GT(table.Table()->LockCount(), 0);
  table.Cancel();
  EXPECT_EQ(table.Table()->LockCount(), 0);
  table.Edit();
  table.FieldByName("ID")->SetAsInteger(10);
  table.Post();
  EXPECT_EQ(table.Table()->LockCount(), 0);

  // Another handle can lock the record now.
  GSO_dBHandler other(path, "", true, true);
  other.OpenTable();
  EXPECT_TRUE(other.LockRecord(1));
}
