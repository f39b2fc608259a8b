// The read-ahead window with direct cache: records read in place from the
// window, the window's edges, changes that must not leak into the window,
// and another writer's change seen once the header refresh notices it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf.h"
#include "platform/system.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"
#include "table_fixtures.h"

namespace {

// Records of 100 bytes: a window holds 327 of them.
constexpr int kPerWindow = 327;

DbfLayout HundredByteRows(int rows) { return NumberedLayout(rows, 0x03, 93); }

std::unique_ptr<GSO_dBaseDBF> OpenDirect(const std::string& path, bool shared = false,
                                         bool readWrite = true) {
  auto table = OpenDbf(path, shared, readWrite);
  table->SetCache(true);
  table->SetDirectCache(true);
  return table;
}

int IdOf(const char* record) { return std::stoi(std::string(record + 1, 6)); }
int CurrentId(const GSO_dBaseDBF& table) { return IdOf(table.CurrentRecord()); }

// Writes `id` into the ID field of the record image being changed.
void ChangeId(GSO_dBaseDBF& table, int id) {
  std::string text = std::to_string(id);
  text.insert(0, 6 - text.size(), ' ');
  std::memcpy(table.EditableRecord() + 1, text.data(), 6);
}

}  // namespace

TEST(DbfDirectCache, RecordsAreReadInPlaceUpToTheWindowsLastRecord) {
  TempDir dir;
  auto table = OpenDirect(WriteDbf(dir.File("T.DBF"), HundredByteRows(1000)));
  ASSERT_EQ(table->RecordLength(), 100);
  ASSERT_EQ(table->CacheWindowSize(), kPerWindow * 100);

  table->ReadRecord(GotoFirst);
  ASSERT_TRUE(table->RecordInWindow());
  const char* windowStart = table->CurrentRecord();
  for (int n = 2; n < kPerWindow; ++n) {
    table->ReadRecord(GotoNext);
    ASSERT_EQ(table->CurrentRecord(), windowStart + (n - 1) * 100) << n;
    ASSERT_EQ(CurrentId(*table), n);
  }
  // The window's last record is read again as the first of the next window.
  table->ReadRecord(GotoNext);
  EXPECT_EQ(table->CurrentRecord(), windowStart);
  EXPECT_EQ(CurrentId(*table), kPerWindow);
  EXPECT_EQ(std::memcmp(table->SnapshotBuffer(), table->CurrentRecord(), 100), 0);

  // Backwards out of the window: a new window starts at the record.
  table->ReadRecord(kPerWindow - 1);
  EXPECT_EQ(table->CurrentRecord(), windowStart);
  EXPECT_EQ(CurrentId(*table), kPerWindow - 1);

  // To the end of the file: the short last window serves every record.
  int seen = kPerWindow - 1;
  while (true) {
    table->ReadRecord(GotoNext);
    if (table->Eof()) break;
    ASSERT_TRUE(table->RecordInWindow());
    ASSERT_EQ(CurrentId(*table), ++seen);
  }
  EXPECT_EQ(seen, 1000);
}

TEST(DbfDirectCache, ALentBufferIsFilledAndTheOwnBufferKeepsTheRecord) {
  TempDir dir;
  auto table = OpenDirect(WriteDbf(dir.File("T.DBF"), HundredByteRows(20)));
  std::string mine(101, '\0');
  table->SetCurrentRecord(mine.data());
  table->ReadRecord(5);
  EXPECT_EQ(table->CurrentRecord(), mine.data());
  EXPECT_EQ(IdOf(mine.data()), 5);

  table->RestoreCurrentRecord();
  table->ReadRecord(7);
  ASSERT_TRUE(table->RecordInWindow());
  // Leaving the window - by restoring, by lending, by switching the cache
  // or the direct mode off - keeps the record read as the current record.
  table->RestoreCurrentRecord();
  EXPECT_FALSE(table->RecordInWindow());
  EXPECT_EQ(CurrentId(*table), 7);
  table->ReadRecord(8);
  table->SetCurrentRecord(mine.data());
  table->RestoreCurrentRecord();
  EXPECT_EQ(CurrentId(*table), 8);
  table->ReadRecord(9);
  table->SetCache(false);
  EXPECT_EQ(CurrentId(*table), 9);
  table->SetCache(true);
  table->ReadRecord(10);
  table->SetDirectCache(false);
  EXPECT_FALSE(table->RecordInWindow());
  EXPECT_EQ(CurrentId(*table), 10);
}

TEST(DbfDirectCache, ChangesReachTheWindowOnlyByWriting) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), HundredByteRows(50));
  auto table = OpenDirect(path, true);
  table->ReadRecord(3);
  ChangeId(*table, 900003);  // changed, never written
  EXPECT_FALSE(table->RecordInWindow());
  EXPECT_EQ(CurrentId(*table), 900003);
  table->ReadRecord(3);
  EXPECT_EQ(CurrentId(*table), 3);

  table->ReadRecord(4);
  ChangeId(*table, 900004);
  table->WriteRecord(4);
  table->ReadRecord(1);
  table->ReadRecord(4);
  EXPECT_TRUE(table->RecordInWindow());
  EXPECT_EQ(CurrentId(*table), 900004);
  auto other = OpenDbf(path, true, false);
  other->ReadRecord(4);
  EXPECT_EQ(CurrentId(*other), 900004);

  // An appended record is read from the file once the window is passed.
  table->ReadRecord(50);
  ChangeId(*table, 51);
  table->AppendRecord();
  table->ReadRecord(49);
  table->ReadRecord(GotoNext);
  table->ReadRecord(GotoNext);
  EXPECT_FALSE(table->Eof());
  EXPECT_EQ(CurrentId(*table), 51);
}

TEST(DbfDirectCache, AnotherWritersChangeIsSeenOnceTheHeaderRefreshNoticesIt) {
  TempDir dir;
  DbfLayout layout = HundredByteRows(30);
  layout.updateStamp = 1;
  std::string path = WriteDbf(dir.File("T.DBF"), layout);
  auto reader = OpenDirect(path, true, false);
  auto writer = OpenDbf(path, true, true);
  reader->ReadRecord(GotoFirst);
  reader->ReadRecord(GotoNext);
  ASSERT_EQ(CurrentId(*reader), 2);

  platform::SetClockForTests([] { return platform::LocalDateTime{2026, 1, 2, 3, 4, 5, 6}; });
  writer->ReadRecord(2);
  ChangeId(*writer, 700002);
  writer->WriteRecord(2);
  platform::SetClockForTests(nullptr);

  // The window still holds what it read.
  reader->ReadRecord(2);
  EXPECT_EQ(CurrentId(*reader), 2);
  // The refresh sees the new stamp and empties the window.
  reader->RefreshHeader();
  EXPECT_TRUE(reader->ExternalChange());
  reader->ReadRecord(2);
  EXPECT_EQ(CurrentId(*reader), 700002);

  // A reread of the current record always fetches the file's bytes.
  writer->ReadRecord(3);
  ChangeId(*writer, 700003);
  writer->WriteRecord(3);
  reader->ReadRecord(3);
  EXPECT_EQ(CurrentId(*reader), 3);
  reader->ReadRecord(GotoCurrent);
  EXPECT_EQ(CurrentId(*reader), 700003);
  EXPECT_TRUE(reader->RecordInWindow());
}
