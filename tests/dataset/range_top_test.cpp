// The row a dataset stands on right after its key range changes: the top
// record of the new range, taken from the handler's read at the range's top
// (deleted records passed over), or no row when the range is empty.
#include <gtest/gtest.h>

#include "dataset/Razuz6oz.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"

namespace {

class DataSetRangeTop : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfLayout layout;
    layout.fields = {{"NUM", 'C', 7}};
    for (const char* num : {"2405678", "2301234", "2300001", "2399999", "1999999", "2300500"})
      layout.rows.push_back({{num}});
    layout.rows[2].deleted = true;  // 2300001, the lowest of the 23 range
    WriteDbf(dir_.File("PHONE.DBF"), layout);
    table_.SetDatabaseName(dir_.Path().string());
    table_.SetTableName("PHONE.DBF");
    table_.SetUseDeleted(false);
    table_.Open();
    table_.IndexOn("NUM.CDX", "NUM", "NUM", "", 1, 0);
    table_.OpenIndexes("NUM.CDX", "NUM");
  }

  std::string Num() { return table_.FieldByName("NUM")->AsString(); }

  TempDir dir_;
  TDeridarDataSet table_;
};

}  // namespace

TEST_F(DataSetRangeTop, TheRowAfterARangeChangeIsItsFirstVisibleRecord) {
  table_.Last();
  table_.SetRange("2300000", "2399999");
  EXPECT_FALSE(table_.Bof() && table_.Eof());
  EXPECT_EQ(Num(), "2300500");  // the deleted 2300001 is passed over
  EXPECT_EQ(table_.ActiveRecordNumber(), 6);
  table_.Next();
  EXPECT_EQ(Num(), "2301234");
  table_.Prior();
  table_.Prior();
  EXPECT_TRUE(table_.Bof());
  EXPECT_EQ(Num(), "2300500");

  // Cleared: the top of the whole order.
  table_.SetRange("", "");
  EXPECT_EQ(Num(), "1999999");

  // Explicit switches: an exclusive low bound passes over the key equal to it.
  table_.SetRangeEx("2300500", "2399999", false, true, false);
  EXPECT_EQ(Num(), "2301234");
}

TEST_F(DataSetRangeTop, AnEmptyRangeLeavesNoRow) {
  table_.SetRange("2500000", "2599999");
  EXPECT_TRUE(table_.IsEmpty());
  EXPECT_TRUE(table_.Eof());
  table_.SetRange("", "");
  EXPECT_FALSE(table_.IsEmpty());
  EXPECT_EQ(Num(), "1999999");
  // A range ending below every key is empty as well.
  table_.SetRangeEx("1000000", "1000001", true, true, false);
  EXPECT_TRUE(table_.IsEmpty());
}
