// The POSIX file layer: positioned I/O, byte-range locks (per handle, and
// against other processes), names and the clock. Sharing modes are checked
// with their messages through the engine's disk-file tests.
#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/system.h"
#include "support/temp_dir.h"

namespace {

std::string MakeFile(const TempDir& dir, const std::string& name, const std::string& content) {
  std::string path = dir.File(name);
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

// Runs `body` in a child process; returns its exit code.
template <class F>
int InChild(F body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(PlatformFile, MissingFileOrFolderIsNotOpened) {
  TempDir dir;
  platform::File f;
  EXPECT_FALSE(f.Open(dir.File("none.dat"), false, true));
  EXPECT_FALSE(f.Open(dir.Path().string(), false, true));
  EXPECT_FALSE(platform::FileExists(dir.Path().string()));
}

TEST(PlatformFile, PositionedReadWriteSizeTruncateAndReadOnlyHandles) {
  TempDir dir;
  std::string path = MakeFile(dir, "a.dat", "0123456789");
  platform::File f;
  ASSERT_TRUE(f.Open(path, true, true));
  char buf[8] = {};
  EXPECT_EQ(f.ReadAt(7, buf, 8), 3);  // short at end of file
  EXPECT_EQ(f.ReadAt(100, buf, 8), 0);
  ASSERT_TRUE(f.WriteAt(12, "AB", 2));  // beyond the end: a hole of zeros
  EXPECT_EQ(f.Size(), 14);
  ASSERT_EQ(f.ReadAt(10, buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), std::string("\0\0AB", 4));
  ASSERT_TRUE(f.Truncate(4));
  EXPECT_EQ(f.Size(), 4);
  platform::File reader;
  ASSERT_TRUE(reader.Open(path, false, true));
  EXPECT_FALSE(reader.WriteAt(0, "x", 1));
}

TEST(PlatformFile, RangeLocksBelongToTheHandle) {
  TempDir dir;
  std::string path = MakeFile(dir, "a.dat", "abc");
  platform::File a, b, c;
  ASSERT_TRUE(a.Open(path, true, true));
  ASSERT_TRUE(b.Open(path, true, true));
  ASSERT_TRUE(c.Open(path, true, true));
  ASSERT_TRUE(a.LockRange(0x7FFFFFFE, 1));
  EXPECT_FALSE(b.LockRange(0x7FFFFFF0, 0x20));  // overlapping
  EXPECT_TRUE(b.LockRange(0x7FFFFFFD, 1));      // adjacent
  // Closing another handle of the same process keeps a's lock.
  c.Close();
  EXPECT_FALSE(b.LockRange(0x7FFFFFFE, 1));
  ASSERT_TRUE(a.UnlockRange(0x7FFFFFFE, 1));
  EXPECT_TRUE(b.LockRange(0x7FFFFFFE, 1));
  // A read-only handle takes a read lock, which still excludes writers.
  platform::File reader;
  ASSERT_TRUE(reader.Open(path, false, true));
  ASSERT_TRUE(reader.LockRange(100, 1));
  EXPECT_FALSE(b.LockRange(100, 1));
}

TEST(PlatformFile, RangeLocksAboveFourGigabytesAndInvalidRanges) {
  TempDir dir;
  std::string path = MakeFile(dir, "a.dat", "abc");
  platform::File a, b;
  ASSERT_TRUE(a.Open(path, true, true));
  ASSERT_TRUE(b.Open(path, true, true));
  ASSERT_TRUE(a.LockRange(0x40000000, 0xB0000000));  // ends at 0xF0000000
  EXPECT_FALSE(b.LockRange(0xEFFFFFFF, 1));
  EXPECT_TRUE(b.LockRange(0xF0000000, 1));
  EXPECT_FALSE(b.LockRange(10, 0));   // zero length never means "to the end"
  EXPECT_FALSE(b.LockRange(-1, 1));
}

TEST(PlatformFile, RangeLockExcludesAnotherProcess) {
  TempDir dir;
  std::string path = MakeFile(dir, "a.dat", "abc");
  platform::File a;
  ASSERT_TRUE(a.Open(path, true, true));
  ASSERT_TRUE(a.LockRange(1000000005, 1));
  int held = InChild([&] {
    platform::File other;
    if (!other.Open(path, true, true)) return 2;
    if (other.LockRange(1000000005, 1)) return 1;
    return other.LockRange(1000000006, 1) ? 0 : 3;
  });
  EXPECT_EQ(held, 0);
}

TEST(PlatformFile, FullPathExpandsRelativeNames) {
  std::string cwd = platform::FullPath(".");
  EXPECT_EQ(platform::FullPath("a/../b/./c.dbf"), cwd + "/b/c.dbf");
  EXPECT_EQ(platform::FullPath("/x/y/../z.dbf"), "/x/z.dbf");
}

TEST(PlatformFile, NameInAnotherLetterCaseIsFoundWhenItIsTheOnlyOne) {
  TempDir dir;
  MakeFile(dir, "Phone.Dbf", "x");
  MakeFile(dir, "exact.dbf", "x");
  MakeFile(dir, "EXACT.DBF", "x");
  MakeFile(dir, "twin.cdx", "x");
  MakeFile(dir, "TWIN.cdx", "x");
  std::filesystem::create_directory(dir.Path() / "FOLDER.DBF");
  EXPECT_EQ(platform::ExistingFileName(dir.File("PHONE.DBF")), dir.File("Phone.Dbf"));
  EXPECT_TRUE(platform::FileExists(dir.File("phone.dbf")));
  // The exact name wins over other cases.
  EXPECT_EQ(platform::ExistingFileName(dir.File("exact.dbf")), dir.File("exact.dbf"));
  EXPECT_EQ(platform::ExistingFileName(dir.File("EXACT.DBF")), dir.File("EXACT.DBF"));
  // Two candidates, none, or only a folder: the name stays as asked.
  EXPECT_EQ(platform::ExistingFileName(dir.File("Twin.CDX")), dir.File("Twin.CDX"));
  EXPECT_FALSE(platform::FileExists(dir.File("Twin.CDX")));
  EXPECT_EQ(platform::ExistingFileName(dir.File("none.dbf")), dir.File("none.dbf"));
  EXPECT_FALSE(platform::FileExists(dir.File("folder.dbf")));
  EXPECT_FALSE(platform::FileExists(dir.File("nofolder/phone.dbf")));
}

TEST(PlatformFile, RenameAndRemove) {
  TempDir dir;
  std::string path = MakeFile(dir, "a.dat", "abc");
  ASSERT_TRUE(platform::RenameFile(path, dir.File("b.dat")));
  EXPECT_FALSE(platform::FileExists(path));
  EXPECT_FALSE(platform::RenameFile(path, dir.File("c.dat")));
  EXPECT_TRUE(platform::RemoveFile(dir.File("b.dat")));
}

TEST(PlatformSystem, TestClockReplacesAndRestoresTheSystemClock) {
  platform::SetClockForTests([] { return platform::LocalDateTime{2026, 3, 4, 5, 6, 7, 8}; });
  EXPECT_EQ(platform::Now().millisecond, 8);
  platform::SetClockForTests(nullptr);
  EXPECT_GE(platform::Now().year, 2024);
}
