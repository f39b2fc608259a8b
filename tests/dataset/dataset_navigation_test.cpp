// Moving through the dataset: rows in record order with deleted records
// hidden and shown, the row buffer layout, bookmarks and their order,
// record counts, record numbers and the record filter event.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dataset/Razuz6oz.h"
#include "open_on.h"
#include "platform/system.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"
#include "support/dataset_fixtures.h"

using namespace platform;

namespace {

// Exposes the buffer hooks for layout checks.
class OpenDataSet : public TDeridarDataSet {
 public:
  using TDeridarDataSet::ActiveBuffer;
  using TDeridarDataSet::GetBookmarkData;
  using TDeridarDataSet::GetBookmarkFlag;
  using TDeridarDataSet::RecordBufferSize;
};

std::vector<int> Ids(TDeridarDataSet& table) {
  std::vector<int> ids;
  for (table.First(); !table.Eof(); table.Next()) ids.push_back(table.FieldByName("ID")->AsInteger());
  return ids;
}

std::vector<int> IdsBackward(TDeridarDataSet& table) {
  std::vector<int> ids;
  for (table.Last(); !table.Bof(); table.Prior()) ids.push_back(table.FieldByName("ID")->AsInteger());
  return ids;
}

}  // namespace

TEST(DataSetNavigation, DeletedRecordsAreHiddenAtBothEndsUnlessUsed) {
  TempDir dir;
  Numbered(dir, 7, {1, 2, 4, 7});
  TDeridarDataSet table;
  OpenOn(table, dir);
  EXPECT_EQ(table.FieldByName("ID")->AsInteger(), 3);
  EXPECT_EQ(Ids(table), (std::vector<int>{3, 5, 6}));
  EXPECT_EQ(IdsBackward(table), (std::vector<int>{6, 5, 3}));
  table.SetUseDeleted(true);
  EXPECT_EQ(Ids(table), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(IdsBackward(table), (std::vector<int>{7, 6, 5, 4, 3, 2, 1}));
}

TEST(DataSetNavigation, AnEmptyOrAllDeletedTableIsEmpty) {
  TempDir dir;
  Numbered(dir, 3, {1, 2, 3});
  TDeridarDataSet table;
  OpenOn(table, dir);
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_EQ(table.ActiveRecordNumber(), 0);
  table.Last();
  EXPECT_TRUE(table.IsEmpty());
}

TEST(DataSetBookmarks, TheRowBufferHoldsRecordNumberFlagAndBookmarkWhoseTextsOrderLikeRecordNumbers) {
  TempDir dir;
  Numbered(dir, 12);
  OpenDataSet table;
  OpenOn(table, dir);
  const int32_t length = table.Table()->RecordLength();
  EXPECT_EQ(table.RecordBufferSize(), length + 19);
  table.MoveBy(6);
  const char* buffer = table.ActiveBuffer();
  EXPECT_EQ(std::string(buffer + 1, 5), "    7");
  int32_t n;
  std::memcpy(&n, buffer + length, 4);
  EXPECT_EQ(n, 7);
  EXPECT_EQ(buffer[length + 5], 0);
  EXPECT_EQ(std::string(buffer + length + 8, 11), std::string("         7\0", 11));
  TBookmark seven = table.GetBookmark();

  // Bookmark texts order like record numbers, missing ones first.
  table.MoveBy(5);
  TBookmark twelve = table.GetBookmark();
  EXPECT_EQ(table.BookmarkCompare(seven, twelve), -1);
  EXPECT_EQ(table.BookmarkCompare(seven, seven), 0);
  EXPECT_EQ(table.BookmarkCompare(TBookmark(), seven), -1);

  table.GotoBookmark(seven);
  EXPECT_EQ(table.FieldByName("ID")->AsInteger(), 7);
  table.Next();
  EXPECT_EQ(table.FieldByName("ID")->AsInteger(), 8);

  // Only numbers of existing records are valid.
  EXPECT_TRUE(table.BookmarkIsValid(std::string("        12\0", 11)));
  EXPECT_FALSE(table.BookmarkIsValid(std::string("         0\0", 11)));
  EXPECT_FALSE(table.BookmarkIsValid(std::string("        13\0", 11)));
  EXPECT_FALSE(table.BookmarkIsValid(std::string("      abc\0\0", 11)));
  EXPECT_EQ(DatabaseErrorOf([&] { table.GotoBookmark(std::string("        99\0", 11)); }),
            "Bookmark is invalid for table T");
}

// Bookmark texts of numbers of one to five digits, written into each row as
// it is fetched: right-aligned, and each leads back to its record.
TEST(DataSetBookmarks, BookmarksOfNumbersOfEveryLengthAreRightAlignedAndLeadBack) {
  TempDir dir;
  Numbered(dir, 10203);
  OpenDataSet table;
  OpenOn(table, dir);
  const std::vector<std::pair<int, std::string>> expected = {
      {1, "         1"},   {9, "         9"},    {10, "        10"},    {99, "        99"},
      {100, "       100"}, {1005, "      1005"}, {10203, "     10203"}};
  std::vector<TBookmark> marks;
  for (const auto& [n, text] : expected) {
    table.MoveBy(n - table.FieldByName("ID")->AsInteger());
    ASSERT_EQ(table.FieldByName("ID")->AsInteger(), n);
    marks.push_back(table.GetBookmark());
    EXPECT_EQ(marks.back(), text + std::string(1, '\0')) << n;
  }
  for (size_t i = 0; i < expected.size(); ++i) {
    table.GotoBookmark(marks[i]);
    EXPECT_EQ(table.FieldByName("ID")->AsInteger(), expected[i].first);
  }
}

TEST(DataSetCounts, HeaderCountOrVisibleRecordsAndRecordNumbers) {
  TempDir dir;
  Numbered(dir, 10, {2, 5});
  TDeridarDataSet table;
  const std::string closed = "Cannot perform this operation on a closed dataset";
  EXPECT_EQ(DatabaseErrorOf([&] { table.RecordCount(); }), closed);
  OpenOn(table, dir);
  table.MoveBy(3);
  EXPECT_EQ(table.RecordCount(), 10);
  table.SetExactCount(true);
  EXPECT_EQ(table.RecordCount(), 8);
  EXPECT_EQ(table.FieldByName("ID")->AsInteger(), 6);  // position kept
  table.Next();
  EXPECT_EQ(table.FieldByName("ID")->AsInteger(), 7);

  // Record numbers are the active rows' and can be visited.
  EXPECT_EQ(table.ActiveRecordNumber(), 7);
  table.GotoRecordNumber(8);
  EXPECT_EQ(table.FieldByName("NAME")->AsString(), "N8");
  table.Prior();
  EXPECT_EQ(table.ActiveRecordNumber(), 7);
}

TEST(DataSetFilter, TheRecordEventHidesRecordsWhileFiltered) {
  TempDir dir;
  Numbered(dir, 9);
  TDeridarDataSet table;
  table.OnFilterRecord = [](TDataSet& dataSet, bool& accept) {
    EXPECT_EQ(dataSet.State(), dsFilter);
    accept = dataSet.FieldByName("ID")->AsInteger() % 3 == 0;
  };
  table.SetFiltered(true);
  OpenOn(table, dir);
  EXPECT_EQ(Ids(table), (std::vector<int>{3, 6, 9}));
  EXPECT_EQ(IdsBackward(table), (std::vector<int>{9, 6, 3}));
  EXPECT_FALSE(table.IsSequenced());
}

TEST(DataSetScan, SkippingPassesTheRecordsAScanVisits) {
  TempDir dir;
  Numbered(dir, 700, {1, 2, 300, 327, 328, 699, 700});
  TDeridarDataSet table;
  table.SetReadOnly(true);
  table.OnFilterRecord = [](TDataSet& dataSet, bool& accept) {
    accept = dataSet.FieldByName("ID")->AsInteger() % 10 != 5;
  };
  table.SetFiltered(true);
  OpenOn(table, dir);
  table.MoveBy(3);
  const int activeId = table.FieldByName("ID")->AsInteger();
  // Page by page, as a grid fetches rows: the skip's count and last
  // bookmark match the scan's, across read-ahead windows.
  TBookmark skipAfter, scanAfter;
  int total = 0;
  for (;;) {
    TBookmark last, lastVisited;
    int32_t skipped = table.SkipRecords(skipAfter, 64, last);
    int32_t visited = table.ScanRecords(scanAfter, 64, [&](const TBookmark& mark) { lastVisited = mark; });
    ASSERT_EQ(skipped, visited);
    if (skipped == 0) break;
    ASSERT_EQ(last, lastVisited);
    skipAfter = last;
    scanAfter = lastVisited;
    total += skipped;
  }
  EXPECT_EQ(total, 623);  // 700, less 7 deleted and 70 filtered out
  EXPECT_EQ(table.FieldByName("ID")->AsInteger(), activeId);
}

TEST(DataSetScan, AReadOnlySharedReaderSeesAnotherWritersChangeOnRefresh) {
  TempDir dir;
  Numbered(dir, 40);
  TDeridarDataSet reader;
  reader.SetReadOnly(true);
  OpenOn(reader, dir);
  auto names = [&](const TBookmark& after) {
    std::vector<std::string> out;
    reader.ScanRecords(after, 100, [&](const TBookmark&) {
      out.push_back(reader.FieldByName("NAME")->AsString());
    });
    return out;
  };
  ASSERT_EQ(names(TBookmark())[9], "N10");
  reader.MoveBy(9);

  TDeridarDataSet writer;
  OpenOn(writer, dir);
  writer.MoveBy(9);
  writer.Edit();
  writer.FieldByName("NAME")->SetAsString("CHANGED");
  writer.Post();

  // The dataset's refresh, and a scan from the first record (a grid
  // fetching its rows anew), read the file's bytes.
  reader.Refresh();
  EXPECT_EQ(reader.FieldByName("NAME")->AsString(), "CHANGED");
  platform::SetClockForTests([] { return platform::LocalDateTime{2026, 1, 2, 3, 4, 5, 6}; });
  writer.Edit();
  writer.FieldByName("NAME")->SetAsString("AGAIN");
  writer.Post();
  platform::SetClockForTests(nullptr);
  EXPECT_EQ(names(TBookmark())[9], "AGAIN");
}
