// Reading, writing and appending records: motion codes at both ends,
// record offsets, header writes with date and stamp, the read-ahead window.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "engine/support/gs6_glbl.h"
#include "support/error_text.h"
#include "engine/table/gs6_dbf.h"
#include "platform/system.h"
#include "support/dbf_writer.h"
#include "support/memo_files.h"
#include "support/temp_dir.h"
#include "table_fixtures.h"

namespace {

// The ID field of the current record image.
int CurrentId(const GSO_dBaseDBF& table) { return std::stoi(std::string(table.CurrentRecord() + 1, 6)); }

void SetRecord(GSO_dBaseDBF& table, const DbfLayout& layout, const DbfRow& row) {
  std::string image = RecordImage(layout, row);
  std::memcpy(table.CurrentRecord(), image.data(), image.size());
}

class FixedClock {
 public:
  explicit FixedClock(platform::LocalDateTime at) {
    platform::SetClockForTests([at] { return at; });
  }
  ~FixedClock() { platform::SetClockForTests(nullptr); }
};

}  // namespace

TEST(DbfRecords, MotionCodesWalkBothEndsAndTargetsBeyondTheEnd) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), NumberedLayout(5));
  auto table = OpenDbf(path);
  table->ReadRecord(GotoNext);  // from no record: the first
  EXPECT_EQ(CurrentId(*table), 1);
  table->ReadRecord(GotoLast);
  table->ReadRecord(GotoNext);
  EXPECT_TRUE(table->Eof());
  EXPECT_EQ(table->RecNumber(), 5);
  table->ReadRecord(GotoPrevious);
  EXPECT_EQ(CurrentId(*table), 4);
  table->ReadRecord(GotoFirst);
  table->ReadRecord(GotoPrevious);
  EXPECT_TRUE(table->Bof());
  EXPECT_EQ(CurrentId(*table), 1);
  table->ReadRecord(GotoCurrent);
  EXPECT_FALSE(table->Bof());
  table->ReadRecord(0);  // does nothing
  EXPECT_EQ(table->RecNumber(), 1);

  // Targets beyond the end: one past it is end of file, others are refused.
  table->ReadRecord(3);
  table->ReadRecord(6);
  EXPECT_TRUE(table->Eof());
  EXPECT_EQ(table->RecNumber(), 3);
  EXPECT_EQ(ErrorOf([&] { table->ReadRecord(-9); }), FormatMessage(Msg::RecordNotInTable, {-9, path}));
  EXPECT_EQ(table->RecNumber(), 3);  // a failed read keeps the current record
}

TEST(DbfRecords, EmptyTableSetsBothEnds) {
  TempDir dir;
  auto table = OpenDbf(WriteDbf(dir.File("T.DBF"), NumberedLayout(0)));
  for (int32_t target : {GotoFirst, GotoLast, GotoNext, GotoPrevious, GotoCurrent, 1, 5}) {
    table->ReadRecord(target);
    EXPECT_TRUE(table->Eof());
    EXPECT_TRUE(table->Bof());
  }
}

TEST(DbfRecords, WriteReplacesInPlaceAndBeyondCountAppends) {
  TempDir dir;
  DbfLayout layout = NumberedLayout(3);
  std::string path = WriteDbf(dir.File("T.DBF"), layout);
  {
    auto table = OpenDbf(path);
    table->ReadRecord(2);
    DbfRow changed{{"22", "CHANGED"}};
    SetRecord(*table, layout, changed);
    table->WriteRecord(2);
    DbfRow added{{"4", "ADDED"}};
    SetRecord(*table, layout, added);
    table->WriteRecord(9);
    EXPECT_EQ(table->RecordCount(), 4);
    EXPECT_EQ(table->RecNumber(), 4);
  }
  std::vector<uint8_t> bytes = ReadBytes(path);
  uint16_t h = HeaderLengthOf(layout);
  ASSERT_EQ(bytes.size(), h + 4 * 20 + 1u);
  EXPECT_EQ(std::string(bytes.begin() + h + 20, bytes.begin() + h + 40), RecordImage(layout, {{"22", "CHANGED"}}));
  EXPECT_EQ(std::string(bytes.begin() + h + 60, bytes.begin() + h + 80), RecordImage(layout, {{"4", "ADDED"}}));
  EXPECT_EQ(bytes.back(), 0x1A);
  EXPECT_EQ(bytes[4], 4);  // header count
}

TEST(DbfRecords, AppendClearsTheDeletionFlagWritesTheEndMarkAndTakesACallersBuffer) {
  TempDir dir;
  DbfLayout layout = NumberedLayout(2);
  layout.endMark = false;
  std::string path = WriteDbf(dir.File("T.DBF"), layout);
  auto table = OpenDbf(path);
  DbfRow row{{"3", "NEW"}, true};
  SetRecord(*table, layout, row);
  table->AppendRecord();
  EXPECT_EQ(table->RecNumber(), 3);
  std::vector<uint8_t> bytes = ReadBytes(path);
  EXPECT_EQ(bytes.size(), HeaderLengthOf(layout) + 3 * 20 + 1u);
  EXPECT_EQ(bytes[HeaderLengthOf(layout) + 40], ' ');
  EXPECT_EQ(bytes.back(), 0x1A);

  // An append from a caller's buffer of exactly the record length.
  std::string own = RecordImage(layout, {{"4", "MINE"}});
  table->SetCurrentRecord(own.data());
  table->AppendRecord();
  table->RestoreCurrentRecord();
  table->ReadRecord(4);
  EXPECT_EQ(std::string(table->CurrentRecord(), 20), own);
}

TEST(DbfRecords, HeaderWriteStoresDateStampCountAndFlags) {
  TempDir dir;
  DbfLayout layout = NumberedLayout(2);
  layout.flags = 0xFD;  // bits 3..7 are dropped on write, bits 0..2 kept
  std::string path = WriteDbf(dir.File("T.DBF"), layout);
  FixedClock clock({2026, 12, 8, 17, 45, 30, 123});
  {
    auto table = OpenDbf(path);
    table->SetUserID(0x01020304);
    table->ReadRecord(1);
    table->WriteRecord(1);
    EXPECT_EQ(table->UpdateStamp(), GSO_dBaseDBF::MakeUpdateStamp());
  }
  std::vector<uint8_t> bytes = ReadBytes(path);
  EXPECT_EQ(bytes[1], 126);  // dBase tables count the year from 1900
  EXPECT_EQ(bytes[2], 12);
  EXPECT_EQ(bytes[3], 8);
  EXPECT_EQ(bytes[4], 2);
  uint32_t stamp = ((17u * 64 + 45) * 64 + 30) * 1024 + 123;
  EXPECT_EQ(bytes[16] | (bytes[17] << 8) | (bytes[18] << 16) | (uint32_t(bytes[19]) << 24), stamp);
  EXPECT_EQ(bytes[20], 4);
  EXPECT_EQ(bytes[23], 1);
  EXPECT_EQ(bytes[28], 0x05);
}

TEST(DbfRecords, ReadOnlyTableNeverWritesItsHeader) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), NumberedLayout(2));
  std::vector<uint8_t> before = ReadBytes(path);
  {
    auto table = OpenDbf(path, true, false);
    table->ReadRecord(GotoLast);
    table->MarkHeaderDirty();
    EXPECT_EQ(ErrorOf([&] { table->WriteRecord(1); }), FormatMessage(Msg::WriteError, {path}));
  }
  EXPECT_EQ(ReadBytes(path), before);
}

TEST(DbfCache, CachedReadsMatchDirectReadsAndSeeOwnWrites) {
  TempDir dir;
  DbfLayout layout = NumberedLayout(5000);
  auto table = OpenDbf(WriteDbf(dir.File("T.DBF"), layout));
  table->SetCache(true);
  int seen = 0;
  for (table->ReadRecord(GotoFirst); !table->Eof(); table->ReadRecord(GotoNext)) {
    ASSERT_EQ(CurrentId(*table), ++seen);
  }
  EXPECT_EQ(seen, 5000);
  table->ReadRecord(1638);
  SetRecord(*table, layout, {{"777777", "WRITTEN"}});
  table->WriteRecord(1638);
  for (int n = 5000; n >= 1; n -= 997) {
    table->ReadRecord(n);
    EXPECT_EQ(CurrentId(*table), n == 1638 ? 777777 : n);
  }
}

TEST(DbfTable, TruncatedUnderneathGivesReadErrorNotGarbage) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), NumberedLayout(10));
  auto table = OpenDbf(path, true, false);
  table->ReadRecord(5);
  std::vector<uint8_t> bytes = ReadBytes(path);
  bytes.resize(HeaderLengthOf(NumberedLayout(10)) + 6 * 20 + 5);
  WriteBytes(path, bytes);
  table->ReadRecord(6);  // still whole
  EXPECT_EQ(ErrorOf([&] { table->ReadRecord(7); }), FormatMessage(Msg::ReadError, {path}));
  EXPECT_EQ(table->RecNumber(), 6);
  table->RefreshHeader();
  EXPECT_EQ(table->RecordCount(), 6);
  EXPECT_TRUE(table->ExternalChange());
}

TEST(DbfRecords, FoxProTablesStoreTheYearOfTheCentury) {
  TempDir dir;
  FixedClock clock({2026, 12, 8, 17, 45, 30, 123});
  for (uint8_t version : {uint8_t{0x30}, uint8_t{0xF5}}) {
    std::string path = WriteDbf(dir.File("F.DBF"), NumberedLayout(1, version));
    PatchFile(path, 1, {0});
    auto table = OpenDbf(path);
    table->ReadRecord(1);
    table->WriteRecord(1);
    int32_t year = 0, month = 0, day = 0;
    table->LastUpdate(year, month, day);
    EXPECT_EQ(year, 2026);
    table.reset();
    EXPECT_EQ(ReadBytes(path)[1], 26) << int(version);
  }
}

TEST(DbfRecords, UpdateYearIsReadInBothConventions) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), NumberedLayout(1));
  const struct {
    uint8_t stored;
    int32_t year;
  } cases[] = {{126, 2026}, {26, 2026}, {99, 1999}, {80, 1980}, {0, 2000}};
  for (const auto& c : cases) {
    PatchFile(path, 1, {c.stored, 3, 4});
    int32_t year = 0, month = 0, day = 0;
    OpenDbf(path)->LastUpdate(year, month, day);
    EXPECT_EQ(year, c.year) << int(c.stored);
    EXPECT_EQ(month * 100 + day, 304);
  }
}

TEST(DbfTable, CountFieldTextsCountsEveryRecordByItsTextAcrossBlocks) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 8}, {"TIP", 'N', 3}};
  // 60,000 records of 12 bytes: several of the pass's blocks. Values in
  // runs and alone, deleted records among them, a blank value, and one
  // number stored without its right alignment.
  std::map<std::string, TRecNo> expected;
  for (int i = 0; i < 60000; ++i) {
    std::string tip = i % 1000 < 600 ? "1" : std::to_string(2 + i % 3);
    if (i % 997 == 0) tip = "";
    DbfRow row{{"N" + std::to_string(i % 50), tip}};
    row.deleted = i % 7 == 0;
    layout.rows.push_back(row);
    ++expected[tip];
  }
  ASSERT_EQ(layout.rows[5].values[1], "1");
  layout.rows[5].values[1] = "2  ";
  --expected["1"];
  ++expected["2"];
  const std::string path = WriteDbf(dir.File("T.DBF"), layout);
  auto table = OpenDbf(path, false, false);
  const auto counts = table->CountFieldTexts(2);
  EXPECT_EQ((std::map<std::string, TRecNo>(counts.begin(), counts.end())), expected);
  EXPECT_EQ(table->CountFieldTexts(1).size(), 50u);
  EXPECT_TRUE(table->CountFieldTexts(3).empty()) << "no such field";

  // A table cut short under the pass is an error naming it.
  std::vector<uint8_t> bytes = ReadBytes(path);
  bytes.resize(bytes.size() - 100);
  WriteBytes(path, bytes);
  EXPECT_EQ(ErrorOf([&] { table->CountFieldTexts(2); }), FormatMessage(Msg::ReadError, {path}));
}
