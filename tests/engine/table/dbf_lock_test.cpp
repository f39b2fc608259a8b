// Table locks per protocol as other handles see them, their nesting under a
// table lock, deferred header writes, and appends made by one handle becoming
// visible to another. Locks and appends across processes are driven through
// the dataset's sharing tests.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf.h"
#include "support/error_text.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"
#include "table_fixtures.h"

namespace {

std::unique_ptr<GSO_dBaseDBF> OpenShared(const std::string& path, bool readWrite = true) {
  return OpenDbf(path, true, readWrite);
}

// A second handle on the same file that probes regions directly.
struct Probe {
  explicit Probe(const std::string& path) : file(path, true, true) { file.Open(); }
  bool Free(TgsLockArea area) {
    if (!file.LockRegion(area.offset, area.length)) return false;
    file.Unlock();
    return true;
  }
  GSO_DiskFile file;
};

}  // namespace

class DbfProtocolLocks : public ::testing::TestWithParam<TgsLokProtocol> {};

TEST_P(DbfProtocolLocks, EachLockHoldsItsRegionAgainstOtherHandles) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), NumberedLayout(10));
  TgsLokProtocol protocol = GetParam();
  auto table = OpenShared(path);
  table->SetLockProtocol(protocol);
  Probe probe(path);
  int32_t h = table->HeaderLength(), r = table->RecordLength();

  ASSERT_TRUE(table->LockRecord(5));
  EXPECT_FALSE(probe.Free(RecordLockArea(protocol, 5, h, r, false)));
  EXPECT_TRUE(probe.Free(RecordLockArea(protocol, 6, h, r, false)));
  EXPECT_FALSE(table->LockRecord(6));  // one region per handle
  table->UnlockTable();
  EXPECT_TRUE(probe.Free(RecordLockArea(protocol, 5, h, r, false)));

  ASSERT_TRUE(table->LockHeader());
  EXPECT_FALSE(probe.Free(HeaderLockArea(protocol)));
  table->UnlockTable();
  EXPECT_TRUE(probe.Free(HeaderLockArea(protocol)));

  ASSERT_TRUE(table->LockTable());
  TgsLockArea tableArea = TableLockArea(protocol);
  EXPECT_FALSE(probe.Free({tableArea.offset, 1}));
  EXPECT_FALSE(probe.Free({tableArea.offset + tableArea.length - 1, 1}));
  EXPECT_TRUE(probe.Free({tableArea.offset + tableArea.length, 1}));
  table->UnlockTable();
  EXPECT_TRUE(probe.Free(tableArea));

  ASSERT_TRUE(table->LockAll());
  EXPECT_FALSE(probe.Free({0, 1}));
  table->UnlockTable();
}

INSTANTIATE_TEST_SUITE_P(AllProtocols, DbfProtocolLocks,
                         ::testing::Values(TgsLokProtocol::Default, TgsLokProtocol::DB4Lock,
                                           TgsLokProtocol::ClipLock, TgsLokProtocol::FoxLock));

TEST(DbfLocks, RecordLockUnderTableLockIsANestedLevel) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), NumberedLayout(10));
  auto table = OpenShared(path);
  Probe probe(path);
  ASSERT_TRUE(table->LockTable());
  ASSERT_TRUE(table->LockRecord(2));
  ASSERT_TRUE(table->LockRecord(7));
  ASSERT_TRUE(table->LockHeader());
  EXPECT_EQ(table->LockCount(), 4);
  EXPECT_EQ(table->LockedArea(), TableLockArea(TgsLokProtocol::Default));
  for (int i = 0; i < 3; ++i) table->UnlockTable();
  EXPECT_FALSE(probe.Free(TableLockArea(TgsLokProtocol::Default)));
  table->UnlockTable();
  EXPECT_FALSE(table->TableLocked());
  EXPECT_TRUE(probe.Free(TableLockArea(TgsLokProtocol::Default)));
  EXPECT_EQ(table->LockCount(), 0);
}

TEST(DbfLocks, HeaderWriteWaitsForTheLastTableUnlock) {
  TempDir dir;
  DbfLayout layout = NumberedLayout(3);
  std::string path = WriteDbf(dir.File("T.DBF"), layout);
  auto table = OpenShared(path);
  ASSERT_TRUE(table->LockTable());
  ASSERT_TRUE(table->LockTable());
  std::string image = RecordImage(layout, {{"4", "FOUR"}});
  std::memcpy(table->CurrentRecord(), image.data(), image.size());
  table->AppendRecord();
  table->UnlockTable();
  EXPECT_EQ(ReadBytes(path)[4], 3);  // header count not yet written
  table->UnlockTable();
  EXPECT_EQ(ReadBytes(path)[4], 4);
}

TEST(DbfLocks, AppendRefusesWhileHoldingAnotherRegionAndKeepsIt) {
  TempDir dir;
  DbfLayout layout = NumberedLayout(3);
  std::string path = WriteDbf(dir.File("T.DBF"), layout);
  auto table = OpenShared(path);
  Probe probe(path);
  ASSERT_TRUE(table->LockRecord(2));
  EXPECT_EQ(ErrorOf([&] { table->AppendRecord(); }), FormatMessage(Msg::CannotLockFile, {path}));
  EXPECT_EQ(table->RecordCount(), 3);
  EXPECT_EQ(table->LockCount(), 1);  // the record lock survived
  EXPECT_FALSE(probe.Free(RecordLockArea(TgsLokProtocol::Default, 2, table->HeaderLength(),
                                         table->RecordLength(), false)));
}

TEST(DbfShared, AppendIsVisibleToASecondHandle) {
  TempDir dir;
  DbfLayout layout = NumberedLayout(3);
  std::string path = WriteDbf(dir.File("T.DBF"), layout);
  auto writer = OpenShared(path);
  auto reader = OpenShared(path, false);
  reader->SetCache(true);
  reader->ReadRecord(GotoLast);
  EXPECT_EQ(reader->RecNumber(), 3);

  std::string image = RecordImage(layout, {{"4", "FOUR"}});
  std::memcpy(writer->CurrentRecord(), image.data(), image.size());
  writer->AppendRecord();

  reader->ReadRecord(GotoNext);  // runs past the known count: refreshes
  EXPECT_FALSE(reader->Eof());
  EXPECT_TRUE(reader->ExternalChange());
  EXPECT_EQ(std::string(reader->CurrentRecord(), image.size()), image);
  // Once the header is read again with nothing moved, the change is cleared.
  reader->RefreshHeader();
  EXPECT_FALSE(reader->ExternalChange());
}
