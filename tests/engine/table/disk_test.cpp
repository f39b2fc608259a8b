// Disk files: open modes and their refusals, lock nesting per handle, the
// open-file list, name normalisation, truncate and rename, and the lock
// regions of every protocol.
#include "engine/table/gs6_disk.h"

#include <gtest/gtest.h>

#include <fstream>

#include "engine/support/gs6_glbl.h"
#include "support/error_text.h"
#include "support/temp_dir.h"

namespace {

// A ten-byte file "a.dat" in a fresh folder.
class DiskFileTest : public ::testing::Test {
 protected:
  DiskFileTest() { std::ofstream(path_, std::ios::binary) << "0123456789"; }
  TempDir dir_;
  std::string path_ = dir_.File("a.dat");
};

}  // namespace

TEST(DiskFile, OpenOfMissingFileNamesTheFullPath) {
  TempDir dir;
  GSO_DiskFile file(dir.File("missing.dat"), true, false);
  EXPECT_EQ(ErrorOf([&] { file.Open(); }), FormatMessage(Msg::FileNotFound, {dir.File("missing.dat")}));
  EXPECT_TRUE(file.IsClosed());
}

TEST_F(DiskFileTest, ExclusiveOpenIsRefusedWhileSharedOpen) {
  GSO_DiskFile shared(path_, true, false);
  shared.Open();
  GSO_DiskFile exclusive(path_, false, true);
  EXPECT_EQ(ErrorOf([&] { exclusive.Open(); }), FormatMessage(Msg::AccessDenied, {path_}));
  shared.Close();
  exclusive.Open();
  GSO_DiskFile late(path_, true, false);
  EXPECT_EQ(ErrorOf([&] { late.Open(); }), FormatMessage(Msg::AccessDenied, {path_}));
}

TEST_F(DiskFileTest, OpenFilesAreListedUntilClosed) {
  size_t before = GSobjFileColl::Instance().Count();
  {
    GSO_DiskFile file(path_, true, false);
    file.Open();
    EXPECT_TRUE(GSobjFileColl::Instance().Contains(&file));
    file.Close();
    EXPECT_FALSE(GSobjFileColl::Instance().Contains(&file));
    file.Open();  // a closed object may be reopened
  }
  EXPECT_EQ(GSobjFileColl::Instance().Count(), before);
}

TEST_F(DiskFileTest, ReadWriteTrackPositionAndShortReads) {
  GSO_DiskFile file(path_, false, true);
  file.Open();
  char buf[6] = {};
  EXPECT_EQ(file.ReadAt(6, buf, 6), 4);
  EXPECT_EQ(file.Position(), 12);
  file.WriteAt(2, "xy", 2);
  EXPECT_TRUE(file.WrittenSinceFlush());
  file.Flush();
  EXPECT_FALSE(file.WrittenSinceFlush());

  GSO_DiskFile readOnly(path_, true, false);
  file.Close();
  readOnly.Open();
  EXPECT_EQ(ErrorOf([&] { readOnly.WriteAt(0, "x", 1); }), FormatMessage(Msg::WriteError, {path_}));
}

TEST_F(DiskFileTest, ExclusiveLocksAreOnlyCounted) {
  GSO_DiskFile file(path_, false, true);
  file.Open();
  EXPECT_TRUE(file.LockRegion(100, 1));
  EXPECT_TRUE(file.LockRegion(200, 1));  // no one region per handle here
  EXPECT_EQ(file.LockCount(), 2);
  EXPECT_TRUE(file.HasFullAccess());
}

TEST_F(DiskFileTest, SharedHandleHoldsOneRegionWithNestingUntilClosed) {
  GSO_DiskFile file(path_, true, true);
  GSO_DiskFile other(path_, true, true);
  file.Open();
  other.Open();
  ASSERT_TRUE(file.LockRegion(1000000005, 1));
  EXPECT_FALSE(file.LockRegion(1000000006, 1));  // one region per object
  EXPECT_TRUE(file.LockRegion(1000000005, 1));   // same region nests
  file.Unlock();
  EXPECT_FALSE(other.LockRegion(1000000005, 1));  // still one level held
  file.Unlock();
  EXPECT_TRUE(other.LockRegion(1000000005, 1));
  other.Unlock();

  // Closing releases every nested level at once.
  ASSERT_TRUE(file.LockRegion(0x7FFFFFFE, 1));
  file.AddLockLevel();
  file.Close();
  EXPECT_TRUE(other.LockRegion(0x7FFFFFFE, 1));
}

TEST_F(DiskFileTest, TruncateNeedsWriteAccessAndWhenSharedTheWholeFileLock) {
  const std::string refused = FormatMessage(Msg::RequiresFullAccess, {"Truncate", path_});
  {
    GSO_DiskFile readOnly(path_, false, false);
    readOnly.Open();
    EXPECT_EQ(ErrorOf([&] { readOnly.Truncate(4); }), refused);
  }
  GSO_DiskFile file(path_, true, true);
  file.Open();
  EXPECT_FALSE(file.HasFullAccess());
  EXPECT_EQ(ErrorOf([&] { file.Truncate(4); }), refused);
  ASSERT_TRUE(file.LockWholeFile());
  file.Truncate(4);
  EXPECT_EQ(file.SizeOfFile(), 4);
}

TEST_F(DiskFileTest, WaitingLockGivesUpWithCannotLock) {
  GSO_DiskFile holder(path_, true, true);
  GSO_DiskFile waiter(path_, true, true);
  holder.Open();
  waiter.Open();
  ASSERT_TRUE(holder.LockRegion(0x7FFFFFFD, 1));
  EXPECT_EQ(ErrorOf([&] { waiter.LockRegionWaiting(0x7FFFFFFD, 1, 40, 10); }),
            FormatMessage(Msg::CannotLockFile, {path_}));
  holder.Unlock();
  waiter.LockRegionWaiting(0x7FFFFFFD, 1, 40, 10);
  EXPECT_EQ(waiter.LockCount(), 1);
}

TEST_F(DiskFileTest, RenameMovesAndReopensAndCreateNewEmpties) {
  GSO_DiskFile file(path_, false, true);
  file.Open();
  file.Rename(dir_.File("b.dat"));
  char buf[3];
  EXPECT_EQ(file.ReadAt(0, buf, 3), 3);
  EXPECT_EQ(ErrorOf([&] { file.Rename(dir_.File("nofolder/c.dat")); }),
            FormatMessage(Msg::RenameError, {dir_.File("b.dat")}));
  EXPECT_TRUE(file.IsClosed());
  EXPECT_EQ(file.FileName(), dir_.File("b.dat"));

  file.CreateNew();
  EXPECT_EQ(file.SizeOfFile(), 0);
  GSO_DiskFile bad(dir_.File("nofolder/x.dat"), true, true);
  EXPECT_EQ(ErrorOf([&] { bad.CreateNew(); }),
            FormatMessage(Msg::CreateError, {dir_.File("nofolder/x.dat")}));
}

TEST(DiskFile, NamesAreExpandedUnlessNetworkOrDevice) {
  std::string cwd = GSO_DiskFile::NormalizeName(".");
  EXPECT_EQ(GSO_DiskFile::NormalizeName("PHONE.DBF"), cwd + "/PHONE.DBF");
  EXPECT_EQ(GSO_DiskFile::NormalizeName("\\\\server\\share\\PHONE.DBF"), "\\\\server\\share\\PHONE.DBF");
  EXPECT_EQ(GSO_DiskFile::NormalizeName("ab:cd"), "ab:cd");
  // A colon in the first two characters (a drive letter) does not count.
  EXPECT_EQ(GSO_DiskFile::NormalizeName("C:x.dbf"), cwd + "/C:x.dbf");
}

TEST(LockRegions, TableHeaderAndWholeFilePerProtocol) {
  using P = TgsLokProtocol;
  EXPECT_EQ(TableLockArea(P::Default), (TgsLockArea{0x40000000, 0x3FFFFFFF}));
  EXPECT_EQ(TableLockArea(P::FoxLock), (TgsLockArea{0x40000000, 0x3FFFFFFF}));
  EXPECT_EQ(TableLockArea(P::DB4Lock), (TgsLockArea{0x40000000, 0xB0000000}));
  EXPECT_EQ(TableLockArea(P::ClipLock), (TgsLockArea{1000000000, 1000000000}));
  EXPECT_EQ(HeaderLockArea(P::Default), (TgsLockArea{0x7FFFFFFE, 1}));
  EXPECT_EQ(HeaderLockArea(P::DB4Lock), (TgsLockArea{0xEFFFFFFF, 1}));
  EXPECT_EQ(HeaderLockArea(P::ClipLock), (TgsLockArea{1000000000, 1}));
  EXPECT_EQ(WholeFileLockArea(), (TgsLockArea{0, 0x7FFFFFFF}));
  EXPECT_EQ(MemoLockArea(P::Default), (TgsLockArea{0x7FFFFFFD, 1}));
  EXPECT_EQ(MemoLockArea(P::FoxLock), (TgsLockArea{0x7FFFFFFD, 1}));
  EXPECT_EQ(MemoLockArea(P::DB4Lock), (TgsLockArea{0xEFFFFFFE, 2}));
  EXPECT_EQ(MemoLockArea(P::ClipLock), (TgsLockArea{1000000000, 1}));
}

TEST(LockRegions, RecordLocksPerProtocol) {
  using P = TgsLokProtocol;
  EXPECT_EQ(RecordLockArea(P::DB4Lock, 1, 161, 78, false), (TgsLockArea{0xEFFFFFFD, 1}));
  EXPECT_EQ(RecordLockArea(P::DB4Lock, 1, 161, 78, true), (TgsLockArea{0xEFFFFFFD, 1}));
  EXPECT_EQ(RecordLockArea(P::ClipLock, 1, 161, 78, false), (TgsLockArea{1000000001, 1}));
  EXPECT_EQ(RecordLockArea(P::Default, 1, 161, 78, false), (TgsLockArea{0x400000A1, 1}));
  EXPECT_EQ(RecordLockArea(P::Default, 3, 161, 78, false), (TgsLockArea{0x400000A1 + 156, 1}));
  EXPECT_EQ(RecordLockArea(P::FoxLock, 3, 161, 78, true), (TgsLockArea{0x7FFFFFFE - 3, 1}));
  // Large record numbers and lengths do not overflow.
  EXPECT_EQ(RecordLockArea(P::Default, 2000000000, 161, 65535, false).offset,
            0x40000000LL + 161 + 1999999999LL * 65535);
}
