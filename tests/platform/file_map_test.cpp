// The read-only file view: copies equal the file's bytes and follow other
// handles' writes, pieces beyond the view are refused, a file cut short by
// another handle makes the copy fail instead of ending the process, a grown
// file is seen once mapped again, copies stay within the blocks a resident
// limit allows, and bus errors outside a copy still reach the handler the
// program had installed before.
#include "platform/file_map.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace {

// A SIGBUS handler of "other code", installed before any view exists (at
// program start): it counts the signals raised to it. A real fault reaching
// it means a copy's fault escaped; it then ends the process rather than
// return into the fault again.
volatile sig_atomic_t foreignBusErrors = 0;

void ForeignBusHandler(int signal, siginfo_t* info, void*) {
  if (info != nullptr && info->si_code > 0) {
    ::signal(signal, SIG_DFL);
    return;
  }
  foreignBusErrors = foreignBusErrors + 1;
}

const bool foreignHandlerInstalled = [] {
  struct sigaction action {};
  action.sa_sigaction = ForeignBusHandler;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGBUS, &action, nullptr) == 0;
}();

const int64_t kPage = ::sysconf(_SC_PAGESIZE);

// Bytes that differ from page to page and within a page.
std::string Pattern(int64_t length, char salt = 'a') {
  std::string bytes(static_cast<size_t>(length), '\0');
  for (int64_t i = 0; i < length; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>(salt + (i * 7 + i / kPage) % 23);
  return bytes;
}

std::string MakeFile(const TempDir& dir, const std::string& content) {
  std::string path = dir.File("view.dat");
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

std::string Copied(platform::FileMap& view, int64_t offset, size_t length) {
  std::string out(length, '\0');
  return view.CopyOut(offset, out.data(), length) ? out : std::string("(failed)");
}

}  // namespace

TEST(FileMap, CopiesEqualTheFilesBytesAndPiecesBeyondTheViewAreRefused) {
  TempDir dir;
  const std::string content = Pattern(3 * kPage + 100);
  const std::string path = MakeFile(dir, content);
  platform::File file;
  ASSERT_TRUE(file.Open(path, false, true));
  platform::FileMap view;
  EXPECT_FALSE(view.Map(file, 0));
  platform::File closed;
  EXPECT_FALSE(view.Map(closed, 100));
  ASSERT_TRUE(view.Map(file, file.Size()));
  EXPECT_EQ(view.Size(), static_cast<int64_t>(content.size()));

  // Across page boundaries and up to the last byte, as a read gives them.
  for (int64_t offset : {int64_t{0}, kPage - 3, 2 * kPage + 5, int64_t(content.size()) - 40}) {
    std::string read(40, '\0');
    ASSERT_EQ(file.ReadAt(offset, read.data(), read.size()), 40);
    EXPECT_EQ(Copied(view, offset, 40), read) << offset;
  }
  EXPECT_EQ(Copied(view, int64_t(content.size()) - 10, 11), "(failed)");
  EXPECT_EQ(Copied(view, int64_t(content.size()), 1), "(failed)");
  EXPECT_EQ(Copied(view, -1, 2), "(failed)");
  EXPECT_EQ(Copied(view, 0, content.size() + 1), "(failed)");

  // Bytes another handle writes are seen at once.
  platform::File writer;
  ASSERT_TRUE(writer.Open(path, true, true));
  ASSERT_TRUE(writer.WriteAt(2 * kPage - 2, "NEWTEXT", 7));
  EXPECT_EQ(Copied(view, 2 * kPage - 2, 7), "NEWTEXT");

  view.Unmap();
  EXPECT_FALSE(view.IsMapped());
  EXPECT_EQ(Copied(view, 0, 1), "(failed)");
}

TEST(FileMap, FileCutShortByAnotherHandleFailsTheCopyAndTheProcessGoesOn) {
  ASSERT_TRUE(foreignHandlerInstalled);
  TempDir dir;
  const std::string content = Pattern(8 * kPage);
  const std::string path = MakeFile(dir, content);
  platform::File file;
  ASSERT_TRUE(file.Open(path, false, true));
  platform::FileMap view;
  ASSERT_TRUE(view.Map(file, file.Size()));
  ASSERT_EQ(Copied(view, 6 * kPage, 16), content.substr(static_cast<size_t>(6 * kPage), 16));

  // Another handle cuts the file to a page and a half, as a copy of a new
  // edition over it does before writing.
  platform::File cutter;
  ASSERT_TRUE(cutter.Open(path, true, true));
  ASSERT_TRUE(cutter.Truncate(kPage + kPage / 2));

  // Every page past the new end faults, again and again; none of it reaches
  // the program's own handler.
  for (int round = 0; round < 3; ++round) {
    for (int64_t page = 2; page < 8; ++page) EXPECT_EQ(Copied(view, page * kPage + 8, 16), "(failed)") << page;
    EXPECT_EQ(Copied(view, kPage + kPage / 2 - 8, 2 * kPage), "(failed)");  // runs into a cut page
  }
  EXPECT_EQ(foreignBusErrors, 0);
  // What remains is still copied.
  EXPECT_EQ(Copied(view, kPage - 8, 16), content.substr(static_cast<size_t>(kPage - 8), 16));

  // Written anew, the file is seen again through the same view.
  const std::string edition = Pattern(8 * kPage, 'A');
  ASSERT_TRUE(cutter.WriteAt(0, edition.data(), edition.size()));
  EXPECT_EQ(Copied(view, 7 * kPage, 16), edition.substr(static_cast<size_t>(7 * kPage), 16));
}

TEST(FileMap, GrownFileIsCopiedOnceMappedAgain) {
  TempDir dir;
  const std::string content = Pattern(kPage + 10);
  const std::string path = MakeFile(dir, content);
  platform::File file;
  ASSERT_TRUE(file.Open(path, false, true));
  platform::FileMap view;
  ASSERT_TRUE(view.Map(file, file.Size()));

  platform::File writer;
  ASSERT_TRUE(writer.Open(path, true, true));
  const std::string more = Pattern(3 * kPage, 'K');
  ASSERT_TRUE(writer.WriteAt(int64_t(content.size()), more.data(), more.size()));
  EXPECT_EQ(Copied(view, int64_t(content.size()), 8), "(failed)");  // beyond the view it was made with

  ASSERT_TRUE(view.Map(file, file.Size()));
  EXPECT_EQ(view.Size(), int64_t(content.size() + more.size()));
  EXPECT_EQ(Copied(view, int64_t(content.size()) + 2 * kPage, 100), more.substr(static_cast<size_t>(2 * kPage), 100));
  EXPECT_EQ(Copied(view, 0, 10), content.substr(0, 10));
}

TEST(FileMap, CopiesKeepToTheBlocksTheResidentLimitAllows) {
  TempDir dir;
  const int64_t block = platform::FileMap::kViewBlock;
  const std::string path = MakeFile(dir, Pattern(100));
  {
    platform::File grow;
    ASSERT_TRUE(grow.Open(path, true, true));
    ASSERT_TRUE(grow.Truncate(4 * block));  // a hole reads as zeros
    ASSERT_TRUE(grow.WriteAt(3 * block, "FAR", 3));
  }
  platform::File file;
  ASSERT_TRUE(file.Open(path, false, true));
  platform::FileMap view;
  ASSERT_TRUE(view.Map(file, file.Size(), block));
  EXPECT_EQ(Copied(view, 10, 5), Pattern(100).substr(10, 5));
  EXPECT_EQ(view.TouchedBytes(), block);
  // Two blocks further on: beyond the limit, refused; the block touched
  // before is still copied from.
  EXPECT_EQ(Copied(view, 3 * block, 3), "(failed)");
  EXPECT_EQ(Copied(view, 20, 5), Pattern(100).substr(20, 5));
  EXPECT_EQ(view.TouchedBytes(), block);
  // A view made again counts afresh.
  ASSERT_TRUE(view.Map(file, file.Size(), block));
  EXPECT_EQ(Copied(view, 3 * block, 3), "FAR");
  EXPECT_EQ(Copied(view, 10, 5), "(failed)");
}

TEST(FileMap, BusErrorsOutsideACopyReachTheHandlerInstalledBefore) {
  ASSERT_TRUE(foreignHandlerInstalled);
  TempDir dir;
  const std::string path = MakeFile(dir, Pattern(100));
  platform::File file;
  ASSERT_TRUE(file.Open(path, false, true));
  platform::FileMap view;
  ASSERT_TRUE(view.Map(file, file.Size()));  // the view's handler is in place from here
  const int before = foreignBusErrors;
  ASSERT_EQ(raise(SIGBUS), 0);
  EXPECT_EQ(foreignBusErrors, before + 1);
  EXPECT_EQ(Copied(view, 0, 10), Pattern(100).substr(0, 10));
}
