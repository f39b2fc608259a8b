// Counting the rows of an index order without reading them
// (TDeridarDataSet::CountRecords): the count and the bookmark that ends
// every page must be what moving through the rows one by one gives - for
// the whole order and for ranges of any size, up and down, with deleted
// records hidden or shown, after records are added - and the active row
// does not move.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dataset/Razuz6oz.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"

using namespace platform;

namespace {

constexpr int kRows = 12000;

// The bookmarks of the rows as the dataset moves through them.
std::vector<TBookmark> Walked(TDeridarDataSet& table) {
  std::vector<TBookmark> rows;
  for (table.First(); !table.Eof(); table.Next()) rows.push_back(table.GetBookmark());
  return rows;
}

class RowCount : public ::testing::Test {
 protected:
  void SetUp() override {
    // Numbers with repeats, every eleventh record deleted.
    std::mt19937 rng(11);
    DbfLayout layout;
    layout.fields = {{"NUM", 'C', 7}, {"TIP", 'N', 1}};
    for (int i = 0; i < kRows; ++i) {
      DbfRow row{{std::to_string(1000000 + rng() % 9000000), std::to_string(1 + i % 3)}};
      row.deleted = i % 11 == 5;
      layout.rows.push_back(row);
    }
    WriteDbf(dir_.File("PHONE.DBF"), layout);
    table_.SetDatabaseName(dir_.Path().string());
    table_.SetTableName("PHONE.DBF");
    table_.Open();
    table_.IndexOn("NUM.CDX", "UP", "NUM", "", 0, 0);
    table_.IndexOn("NUM.CDX", "DOWN", "NUM", "", 0, 1);
    table_.IndexOn("NUM.CDX", "CITY", "NUM", "TIP=1", 0, 0);
  }

  // CountRecords against the walk, for a few page sizes; the active row
  // stays where it was.
  void ExpectCountedAsWalked(const std::string& what) {
    const std::vector<TBookmark> rows = Walked(table_);
    const int32_t count = static_cast<int32_t>(rows.size());
    table_.First();
    table_.MoveBy(count / 2);
    for (int32_t step : {1, 64, 5000}) {
      SCOPED_TRACE(what + ", pages of " + std::to_string(step));
      std::vector<TBookmark> expected;
      for (int32_t row = step; row <= count; row += step) expected.push_back(rows[static_cast<size_t>(row - 1)]);
      std::vector<TBookmark> ends{TBookmark("x", 1)};
      EXPECT_EQ(table_.CountRecords(step, ends), count);
      EXPECT_EQ(ends, expected);
      if (count > 0) {
        EXPECT_EQ(table_.GetBookmark(), rows[static_cast<size_t>(count / 2)]) << "the active row stays";
      }
    }
    if (count / 2 + 1 < count) {
      table_.Next();
      EXPECT_EQ(table_.GetBookmark(), rows[static_cast<size_t>(count / 2 + 1)]) << "and the next row follows it";
    }
  }

  TempDir dir_;
  TDeridarDataSet table_;
};

}  // namespace

TEST_F(RowCount, OrdersAndRangesOfAnySizeAreCountedAsTheRowsAreWalked) {
  for (const char* tag : {"UP", "DOWN", "CITY"}) {
    table_.OpenIndexes("NUM.CDX", tag);
    // With deleted rows shown every key counts: one order is enough.
    const std::vector<bool> shown = tag == std::string("UP") ? std::vector<bool>{false, true} : std::vector<bool>{false};
    for (bool useDeleted : shown) {
      table_.SetUseDeleted(useDeleted);
      const std::string what = std::string(tag) + (useDeleted ? " with deleted rows" : "");
      table_.SetRange("", "");
      ExpectCountedAsWalked(what + ", whole order");
      // Far more rows than a walk would count at a key press.
      table_.SetRangeEx("1", "8", true, true, true);
      ASSERT_GT(Walked(table_).size(), tag == std::string("CITY") ? 2000u : size_t{TDeridarDataSet::kRangeCountLimit});
      ExpectCountedAsWalked(what + ", numbers 1.. to 8..");
      // Bounds inside runs of keys, an exclusive low bound, and none inside.
      table_.SetRangeEx("4321", "4322", false, true, true);
      ExpectCountedAsWalked(what + ", numbers after 4321 to 4322..");
      table_.SetRangeEx("55", "55", true, true, true);
      ExpectCountedAsWalked(what + ", numbers 55..");
      table_.SetRangeEx("A", "B", true, true, true);
      ASSERT_TRUE(Walked(table_).empty());
      ExpectCountedAsWalked(what + ", no row");
    }
  }
}

TEST_F(RowCount, RowsAddedOrDeletedAfterACountAreCountedAgain) {
  table_.OpenIndexes("NUM.CDX", "CITY");
  std::vector<TBookmark> ends;
  const int32_t before = table_.CountRecords(64, ends);
  ASSERT_GT(before, 1000);
  for (int i = 0; i < 300; ++i) {
    table_.Append();
    table_.FieldByName("NUM")->SetAsString(std::to_string(5000000 + i * 17));
    table_.FieldByName("TIP")->SetAsString(i % 2 == 0 ? "1" : "2");
    table_.Post();
  }
  EXPECT_EQ(table_.CountRecords(64, ends), before + 150);
  ExpectCountedAsWalked("after appends");
  table_.First();
  table_.Delete();
  EXPECT_EQ(table_.CountRecords(64, ends), before + 149);
  ExpectCountedAsWalked("after a delete");
  table_.SetRangeEx("5", "5", true, true, true);
  ExpectCountedAsWalked("a range after appends");
}
