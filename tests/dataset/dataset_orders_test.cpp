// Orders, ranges, searches and filters through the dataset over CDX tags
// it builds itself: IndexOn, OpenIndexes, IndexName, SetRange(Ex),
// LocateRecord, LookupValue, record filters and IndexDefs.
#include <gtest/gtest.h>


#include "dataset/Razuz6oz.h"
#include "open_on.h"
#include "engine/support/gs6_glbl.h"
#include "support/error_text.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"

using namespace platform;

namespace {

class DataSetOrders : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfLayout layout;
    layout.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 20}, {"TIP", 'N', 1}};
    const char* rows[][3] = {
        {"2405678", "PETROV", "2"},  {"2301234", "IVANOV", "1"},  {"2509999", "TAXOFON", "3"},
        {"2300001", "SIDOROV", "1"}, {"2399999", "KUZNETSOV", "1"}, {"2400000", "ZAVOD", "2"},
        {"1999999", "ORLOV", "1"},   {"2300500", "ABRAMOV", "1"},
    };
    for (auto& row : rows) layout.rows.push_back({{row[0], row[1], row[2]}});
    WriteDbf(dir_.File("PHONE.DBF"), layout);
    table_.SetDatabaseName(dir_.Path().string());
    table_.SetTableName("PHONE.DBF");
    table_.Open();
  }

  std::vector<std::string> Nums() {
    std::vector<std::string> nums;
    for (table_.First(); !table_.Eof(); table_.Next())
      nums.push_back(table_.FieldByName("NUM")->AsString());
    return nums;
  }

  void BuildTelephoneTags() {
    table_.IndexOn("TELN.CDX", "TELN", "NUM", "TIP=1", 1, 0);
    table_.IndexOn("ALL.CDX", "BYNUM", "NUM", "", 1, 0);
    table_.IndexOn("ALL.CDX", "BYFIO", "FIO", "", 1, 0);
  }

  TempDir dir_;
  TDeridarDataSet table_;
};

}  // namespace

TEST_F(DataSetOrders, BuiltTagsOrderTheRowsAndKeepTheirForCondition) {
  BuildTelephoneTags();
  EXPECT_EQ(table_.Table()->OpenIndexCount(), 0);  // the build leaves nothing open
  table_.OpenIndexes("TELN.CDX", "TELN");
  EXPECT_EQ(Nums(), (std::vector<std::string>{"1999999", "2300001", "2300500", "2301234",
                                              "2399999"}));
  table_.OpenIndexes("ALL.CDX", "BYFIO");
  // A new order keeps the record of the active row.
  EXPECT_EQ(table_.FieldByName("FIO")->AsString(), "KUZNETSOV");
  table_.Next();
  EXPECT_EQ(table_.FieldByName("FIO")->AsString(), "ORLOV");
  table_.SetIndexName("BYNUM");
  EXPECT_EQ(Nums().front(), "1999999");
  table_.SetIndexName("");
  EXPECT_EQ(Nums().front(), "2405678");
  // Files without the current tag fall back to record order.
  table_.SetIndexName("BYNUM");
  table_.SetIndexFiles({"TELN.CDX"});
  EXPECT_EQ(table_.IndexName(), "");
  EXPECT_EQ(Nums().front(), "2405678");

  // Building a tag closes the open files but keeps the list.
  table_.OpenIndexes("TELN.CDX", "TELN");
  table_.IndexOn("TIP.CDX", "TIP", "STR(TIP,1)+NUM", "", 1, 0);
  EXPECT_EQ(table_.Table()->OpenIndexCount(), 0);
  EXPECT_EQ(table_.IndexFiles(), std::vector<std::string>{"TELN.CDX"});
}

// NTX files open beside a CDX file: each is an order named after its file,
// ranges work on it, and a posted edit keeps every open file in step.
TEST_F(DataSetOrders, NtxOrdersBesideACompoundFileFollowEdits) {
  table_.IndexOn("TELN.NTX", "", "NUM", "TIP=1", 1, 0);
  table_.IndexOn("FIO.NTX", "", "FIO", "", 1, 1);
  table_.IndexOn("ALL.CDX", "BYNUM", "NUM", "", 1, 0);
  table_.OpenIndexes("TELN.NTX; FIO.NTX, ALL.CDX", "TELN");
  EXPECT_EQ(Nums(), (std::vector<std::string>{"1999999", "2300001", "2300500", "2301234", "2399999"}));
  table_.SetRange("2300000", "2399999");
  EXPECT_EQ(Nums(), (std::vector<std::string>{"2300001", "2300500", "2301234", "2399999"}));
  table_.SetRange("", "");

  // IVANOV becomes a payphone AAA with a number before all others.
  table_.SetIndexName("FIO");
  table_.Last();
  table_.Prior();
  ASSERT_EQ(table_.FieldByName("FIO")->AsString(), "IVANOV");
  table_.Edit();
  table_.FieldByName("FIO")->SetAsString("AAA");
  table_.FieldByName("NUM")->SetAsString("1000000");
  table_.FieldByName("TIP")->SetAsString("3");
  table_.Post();
  table_.First();
  EXPECT_EQ(table_.FieldByName("FIO")->AsString(), "ZAVOD");
  table_.Last();
  EXPECT_EQ(table_.FieldByName("FIO")->AsString(), "AAA");
  table_.SetIndexName("TELN");
  EXPECT_EQ(Nums(), (std::vector<std::string>{"1999999", "2300001", "2300500", "2399999"}));
  table_.SetIndexName("BYNUM");
  EXPECT_EQ(Nums().front(), "1000000");
}

TEST_F(DataSetOrders, RangesNarrowTheRowsAndRepeatedBoundsDoNotMove) {
  table_.SetRange("2300000", "2399999");  // without a tag: no range
  EXPECT_EQ(Nums().size(), 8u);
  table_.SetRange("", "");
  BuildTelephoneTags();
  table_.OpenIndexes("ALL.CDX", "BYNUM");
  // An unknown tag is refused and the order stays.
  EXPECT_EQ(ErrorOf<std::exception>([&] { table_.SetIndexName("NOSUCH"); }), "Cannot find index tag NOSUCH");
  EXPECT_EQ(Nums().front(), "1999999");
  table_.SetRange("2300000", "2399999");
  EXPECT_EQ(Nums(), (std::vector<std::string>{"2300001", "2300500", "2301234", "2399999"}));
  table_.SetExactCount(true);
  EXPECT_EQ(table_.RecordCount(), 4);
  table_.First();
  table_.Next();
  table_.SetRange("2300000", "2399999");
  EXPECT_EQ(table_.FieldByName("NUM")->AsString(), "2300500");
  table_.SetRange("", "");
  EXPECT_EQ(Nums().size(), 8u);
}

TEST_F(DataSetOrders, AHighBoundThatIsAPrefixEndsBeforeLongerKeys) {
  BuildTelephoneTags();
  table_.OpenIndexes("ALL.CDX", "BYNUM");
  table_.SetRange("23", "23");
  EXPECT_TRUE(Nums().empty());
  // The same bounds again are no change, whatever the switches: clear first.
  table_.SetRange("", "");
  table_.SetRangeEx("23", "23", true, true, true);  // partial high: a prefix range
  EXPECT_EQ(Nums().size(), 4u);
  table_.SetRangeEx("\xFF", "\xFF", false, false, false);
  EXPECT_TRUE(table_.IsEmpty());
}

TEST_F(DataSetOrders, IndexListsSplitAtSeparatorsOutsideQuotes) {
  table_.IndexOn("a b.cdx", "AB", "NUM", "", 1, 0);
  table_.IndexOn("c.cdx", "C", "FIO", "", 1, 0);
  table_.OpenIndexes(" \"a b.cdx\"; c.cdx, ", "C");
  EXPECT_EQ(table_.IndexFiles(), (std::vector<std::string>{"a b.cdx", "c.cdx"}));
  EXPECT_EQ(table_.IndexTagName(1), "AB");
  table_.BuildIndexDefs();
  ASSERT_EQ(table_.IndexDefs().Count(), 2);
  EXPECT_EQ(table_.IndexDefs().Items(1).fields, "FIO");
  table_.OpenIndexes("", "");
  EXPECT_EQ(table_.Table()->OpenIndexCount(), 0);
  EXPECT_EQ(ErrorOf<std::exception>([&] { table_.OpenIndexes("missing.cdx", ""); }),
            "Cannot find file " + dir_.File("missing.cdx"));
}

TEST_F(DataSetOrders, LocateFindsByFieldsWithAndWithoutATag) {
  table_.MoveBy(2);
  EXPECT_TRUE(table_.LocateRecord("FIO", {"kuzn"}, loCaseInsensitive | loPartialKey));
  EXPECT_EQ(table_.FieldByName("NUM")->AsString(), "2399999");
  EXPECT_FALSE(table_.LocateRecord("FIO", {"NOBODY"}, 0));
  EXPECT_EQ(table_.FieldByName("NUM")->AsString(), "2399999");  // not moved

  BuildTelephoneTags();
  table_.OpenIndexes("ALL.CDX", "BYNUM");
  EXPECT_TRUE(table_.LocateRecord("NUM", {"2400000"}, 0));
  EXPECT_EQ(table_.FieldByName("FIO")->AsString(), "ZAVOD");
  table_.Next();
  EXPECT_EQ(table_.FieldByName("NUM")->AsString(), "2405678");
}

TEST_F(DataSetOrders, LookupReturnsAFieldWithoutMoving) {
  table_.MoveBy(1);
  EXPECT_EQ(table_.LookupValue("NUM", {"2509999"}, "FIO"), std::optional<std::string>("TAXOFON"));
  EXPECT_EQ(table_.LookupValue("NUM", {"0000000"}, "FIO"), std::nullopt);
  EXPECT_EQ(table_.FieldByName("NUM")->AsString(), "2301234");
  table_.Next();
  EXPECT_EQ(table_.FieldByName("NUM")->AsString(), "2509999");
}

TEST_F(DataSetOrders, FilterTextsSelectRecords) {
  table_.SetFilter("TIP = 2");
  EXPECT_EQ(Nums().size(), 8u);  // not filtered yet
  table_.SetFiltered(true);
  EXPECT_EQ(Nums(), (std::vector<std::string>{"2405678", "2400000"}));
  table_.SetFilter("TIP = 3");
  EXPECT_EQ(Nums(), std::vector<std::string>{"2509999"});
  table_.SetFiltered(false);
  EXPECT_EQ(Nums().size(), 8u);
}

TEST(DataSetMasterDetail, TheDetailFollowsTheMastersRecord) {
  TempDir dir;
  DbfLayout cities;
  cities.fields = {{"CODE", 'C', 2}, {"CITY", 'C', 10}};
  cities.rows = {{{"AA", "ALPHA"}}, {{"BB", "BETA"}}, {{"CC", "GAMMA"}}};
  WriteDbf(dir.File("CITY.DBF"), cities);
  DbfLayout phones;
  phones.fields = {{"CODE", 'C', 2}, {"NUM", 'C', 5}};
  phones.rows = {{{"BB", "20001"}}, {{"AA", "10001"}}, {{"BB", "20002"}}, {{"AA", "10002"}}};
  WriteDbf(dir.File("PHONES.DBF"), phones);

  TDeridarDataSet master;
  OpenOn(master, dir, "CITY");
  TDataSource source(&master);

  TDeridarDataSet detail;
  OpenOn(detail, dir, "PHONES");
  detail.IndexOn("PHONES.CDX", "BYCODE", "CODE+NUM", "", 1, 0);
  detail.OpenIndexes("PHONES.CDX", "BYCODE");
  detail.SetMasterFields("CODE");
  detail.SetMasterSource(&source);
  auto nums = [&] {
    std::vector<std::string> out;
    for (detail.First(); !detail.Eof(); detail.Next()) out.push_back(detail.FieldByName("NUM")->AsString());
    return out;
  };
  master.First();
  EXPECT_EQ(nums(), (std::vector<std::string>{"10001", "10002"}));
  master.Next();
  EXPECT_EQ(nums(), (std::vector<std::string>{"20001", "20002"}));
  master.Next();
  EXPECT_TRUE(nums().empty());

  source.SetEnabled(false);  // the link goes off: the whole table shows
  EXPECT_EQ(nums().size(), 4u);
}
