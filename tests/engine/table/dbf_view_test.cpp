// Read-only tables read their records through a memory view of the file
// (other handles' writes and appends are checked through the dataset, as
// the viewer meets them): a table cut short underneath gives read errors
// for the records it lost whichever page they were in, records ending in a
// zero byte are still read whole, reading all over a large table keeps the
// view's resident part within its limit, and a bus error that is not a
// record read still ends the process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf.h"
#include "support/dbf_writer.h"
#include "support/error_text.h"
#include "support/temp_dir.h"
#include "table_fixtures.h"

namespace {

constexpr int kRecords = 2000;  // 20-byte records over ten pages

int CurrentId(const GSO_dBaseDBF& table) { return std::stoi(std::string(table.CurrentRecord() + 1, 6)); }

}  // namespace

TEST(DbfView, TableCutShortUnderneathGivesReadErrorsForTheRecordsItLost) {
  TempDir dir;
  const DbfLayout layout = NumberedLayout(kRecords);
  const std::string path = WriteDbf(dir.File("T.DBF"), layout);
  auto reader = OpenDbf(path, true, false);
  ASSERT_TRUE(reader->RecordsViewed());
  for (int n = 1; n <= kRecords; n += 97) reader->ReadRecord(n);  // every page seen

  // A new, shorter edition written over the table in place, ending inside
  // record 301.
  std::vector<uint8_t> bytes = ReadBytes(path);
  bytes.resize(HeaderLengthOf(layout) + 300u * RecordLengthOf(layout) + 7u);
  WriteBytes(path, bytes);

  reader->ReadRecord(300);
  const std::string error = FormatMessage(Msg::ReadError, {path});
  // Record 301 is cut in two, 302 lies wholly past the end in the same page
  // (that part of the view reads as zeros), the others lie in pages past
  // the end (touching them faults). Each fails every time, and the records
  // that remain are read as before.
  for (int round = 0; round < 2; ++round) {
    for (int n : {301, 302, 1000, kRecords}) {
      const TRecNo before = reader->RecNumber();
      EXPECT_EQ(ErrorOf([&] { reader->ReadRecord(n); }), error) << n;
      EXPECT_EQ(reader->RecNumber(), before);
    }
    reader->ReadRecord(299);
    EXPECT_EQ(CurrentId(*reader), 299);
    reader->ReadRecord(1);
    EXPECT_EQ(CurrentId(*reader), 1);
  }
  reader->RefreshHeader();
  EXPECT_EQ(reader->RecordCount(), 300);
}

TEST(DbfView, RecordsEndingInAZeroByteAreReadWhole) {
  TempDir dir;
  DbfLayout layout;
  layout.version = 0x30;
  layout.fields = {{"NAME", 'C', 8}, {"N", 'I', 4}};
  layout.rows = {{{"ZERO", std::string(4, '\0')}}, {{"ONE", std::string("\1\0\0\0", 4)}}};
  const std::string path = WriteDbf(dir.File("B.DBF"), layout);
  auto reader = OpenDbf(path, true, false);
  ASSERT_TRUE(reader->RecordsViewed());
  for (int n : {1, 2, 1}) {
    reader->ReadRecord(n);
    EXPECT_EQ(std::string(reader->CurrentRecord(), 13), RecordImage(layout, layout.rows[size_t(n - 1)])) << n;
  }
}

TEST(DbfView, ReadingAllOverALargeTableKeepsTheViewWithinItsResidentLimit) {
  TempDir dir;
  // Records of 60 KB: the table is larger than the limit by half.
  constexpr int kWidth = 60000;
  DbfLayout layout;
  layout.fields = {{"ID", 'N', 6}, {"TEXT", 'C', kWidth}};
  const int records = static_cast<int>(kViewResidentBytes * 3 / 2 / kWidth);
  for (int i = 1; i <= records; ++i) layout.rows.push_back({{std::to_string(i), std::string(kWidth, char('A' + i % 26))}});
  auto reader = OpenDbf(WriteDbf(dir.File("L.DBF"), layout), true, false);
  ASSERT_TRUE(reader->RecordsViewed());
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < records; ++i) {
      const int n = (i * 37) % records + 1;  // all over the table
      reader->ReadRecord(n);
      ASSERT_EQ(CurrentId(*reader), n);
      ASSERT_EQ(reader->CurrentRecord()[reader->RecordLength() - 1], char('A' + n % 26)) << n;
    }
  }
  EXPECT_GT(reader->MappedBytesTouched(), 0);
  EXPECT_LE(reader->MappedBytesTouched(), kViewResidentBytes);
}

// A program that maps a file of its own and touches it past a cut meets its
// bus error as it would without the engine's handler in the process.
TEST(DbfViewDeathTest, BusErrorsOutsideARecordReadStillEndTheProcess) {
  TempDir dir;
  auto reader = OpenDbf(WriteDbf(dir.File("T.DBF"), NumberedLayout(10)), true, false);
  ASSERT_TRUE(reader->RecordsViewed());
  const std::string own = dir.File("own.dat");
  EXPECT_DEATH(
      {
        const long page = ::sysconf(_SC_PAGESIZE);
        const int fd = ::open(own.c_str(), O_RDWR | O_CREAT, 0600);
        if (fd < 0 || ::ftruncate(fd, 2 * page) != 0) _exit(0);
        void* base = ::mmap(nullptr, static_cast<size_t>(2 * page), PROT_READ, MAP_SHARED, fd, 0);
        if (base == MAP_FAILED || ::ftruncate(fd, 0) != 0) _exit(0);
        const volatile char* bytes = static_cast<const char*>(base);
        if (bytes[page] == 0) _exit(0);  // faults: the page is gone
        _exit(0);
      },
      "");
  reader->ReadRecord(10);
  EXPECT_EQ(CurrentId(*reader), 10);
}
