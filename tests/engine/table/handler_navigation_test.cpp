// Table handler in record order: skips at both ends with deleted records
// hidden and shown, the record-acceptance hook, records beyond the table and
// the read-ahead window's size. Walks with deleted records hidden and shown
// are driven through the dataset's navigation tests.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbsy.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"

namespace {

// Rows with ID 1..n; the rows listed in `deleted` carry the deletion mark.
DbfLayout Numbered(int rows, std::set<int> deleted = {}, int nameLength = 13) {
  DbfLayout layout;
  layout.fields = {{"ID", 'N', 6}, {"NAME", 'C', nameLength}};
  for (int i = 1; i <= rows; ++i) {
    DbfRow row{{std::to_string(i), "ROW" + std::to_string(i)}};
    row.deleted = deleted.count(i) > 0;
    layout.rows.push_back(row);
  }
  return layout;
}

std::unique_ptr<GSO_dBHandler> Open(const std::string& path, bool shared = false) {
  auto table = std::make_unique<GSO_dBHandler>(path, "", shared, true);
  table->OpenTable();
  return table;
}

int Id(GSO_dBHandler& table) { return static_cast<int>(table.GetNumber(1)); }

// A handler that accepts only records with an odd ID.
class OddOnly : public GSO_dBHandler {
 public:
  using GSO_dBHandler::GSO_dBHandler;
  bool RecordAcceptable() override { return static_cast<int>(GetNumber(1)) % 2 == 1; }
};

}  // namespace

TEST(HandlerMoves, RecordNumbersAreReadAsGivenButARereadLeavesADeletedRecord) {
  TempDir dir;
  auto table = Open(WriteDbf(dir.File("T.DBF"), Numbered(5, {3})));
  table->ReadRecord(3);  // read even though deleted
  EXPECT_EQ(table->RecNumber(), 3);
  EXPECT_TRUE(table->Positioned());
  table->ReadRecord(GotoCurrent);  // a reread moves forward
  EXPECT_EQ(table->RecNumber(), 4);

  // A number beyond the table gives a blank record at end of file.
  table->ReadRecord(9);
  EXPECT_TRUE(table->Eof());
  EXPECT_EQ(table->GetFieldText(2), std::string(13, ' '));
  EXPECT_FALSE(table->Positioned());
}

TEST(HandlerMoves, TheAcceptanceHookRejectsRecordsOnCodesOnly) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), Numbered(6));
  OddOnly table(path, "", false, true);
  table.OpenTable();
  table.ReadRecord(GotoFirst);
  table.ReadRecord(GotoNext);
  EXPECT_EQ(Id(table), 3);
  table.ReadRecord(GotoLast);
  EXPECT_EQ(Id(table), 5);
  table.ReadRecord(4);
  EXPECT_EQ(Id(table), 4);
}

TEST(HandlerSkip, CountsVisibleRecordsAndClampsAtTheEnds) {
  TempDir dir;
  auto table = Open(WriteDbf(dir.File("T.DBF"), Numbered(10, {3, 4, 9})));
  table->ReadRecord(1);
  table->Skip(3);
  EXPECT_EQ(table->RecNumber(), 6);
  table->Skip(-2);
  EXPECT_EQ(table->RecNumber(), 2);
  table->Skip(10);
  EXPECT_TRUE(table->Eof());
  EXPECT_EQ(table->RecNumber(), 10);

  // With deleted records visible it jumps straight to the record.
  table->SetUseDeleted(true);
  table->ReadRecord(3);
  table->Skip(4);
  EXPECT_EQ(table->RecNumber(), 7);
  EXPECT_FALSE(table->Eof());
  table->Skip(-20);
  EXPECT_EQ(table->RecNumber(), 1);
  EXPECT_TRUE(table->Bof());
}

TEST(HandlerCache, WindowHoldsWholeRecordsOfAtMost32768Bytes) {
  TempDir dir;
  auto table = Open(WriteDbf(dir.File("S.DBF"), Numbered(3, {}, 93)));  // 100-byte records
  table->SetCacheSwitch(true);
  EXPECT_EQ(table->CacheWindowSize(), 32700);
  table->SetCacheSwitch(false);
  table->SetCacheAllowed(false);  // a forbidden cache stays off
  table->SetCacheSwitch(true);
  EXPECT_FALSE(table->CacheOn());

  DbfLayout wide;
  wide.fields = {{"TEXT", 'C', 39999}};
  wide.rows = {{{"A"}}, {{"B"}}};
  auto big = Open(WriteDbf(dir.File("B.DBF"), wide));
  big->SetCacheSwitch(true);
  EXPECT_EQ(big->CacheWindowSize(), 40000);
  big->ReadRecord(GotoFirst);
  big->ReadRecord(GotoNext);
  EXPECT_EQ(big->GetFieldText(1).substr(0, 1), "B");
}

TEST(HandlerIndexes, WithNoIndexFilesSearchesFindNothing) {
  TempDir dir;
  auto table = Open(WriteDbf(dir.File("T.DBF"), Numbered(2)));
  EXPECT_TRUE(table->LockIndexes());
  EXPECT_EQ(table->IndexFile(64), nullptr);
  EXPECT_FALSE(table->KeySearch("1"));
  EXPECT_TRUE(table->Eof());
  EXPECT_EQ(table->KeyLookup("ID", "1"), -1);
}

TEST(HandlerStatus, DbfObjectPassesReportsAndAcceptanceToItsOwner) {
  struct Owner : DBFObjectOwner {
    bool AcceptTableRecord() override { return ++asked % 2 == 0; }
    void TableStatus(int32_t a, int32_t b, int32_t c) override { reports.push_back({a, b, c}); }
    int asked = 0;
    std::vector<std::array<int32_t, 3>> reports;
  } owner;
  TempDir dir;
  DBFObject table(&owner, WriteDbf(dir.File("T.DBF"), Numbered(4)), "", false, true);
  table.OpenTable();
  table.StatusReport(-1, 1, 4);
  ASSERT_EQ(owner.reports.size(), 1u);
  EXPECT_EQ(owner.reports[0], (std::array<int32_t, 3>{-1, 1, 4}));
  table.ReadRecord(GotoFirst);  // record 1 refused, record 2 accepted
  EXPECT_EQ(table.RecNumber(), 2);
  EXPECT_EQ(owner.asked, 2);
}
