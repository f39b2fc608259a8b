// Searches and filters through the dataset on a directory whose texts are
// Russian names in code page 866: comparisons and case folding follow the
// letters, LocateRecord finds the first record of the current view whatever
// index files are open, and refused filter texts and tag names leave the
// previous state in place.
#include <gtest/gtest.h>

#include "dataset/Razuz6oz.h"
#include "platform/codepage.h"
#include "support/dbf_writer.h"
#include "support/error_text.h"
#include "support/temp_dir.h"

using namespace platform;

namespace {

std::string Oem(const char* utf8) { return FromUtf8(utf8, CodePage::Cp866); }
std::string Ansi(const char* utf8) { return FromUtf8(utf8, CodePage::Cp1251); }

class RussianSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfLayout layout;
    layout.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 35}, {"ADR", 'C', 35}, {"TIP", 'N', 1}};
    const char* rows[][4] = {
        {"2000001", "ИВАНОВА МАРИЯ", "ЛЕНИНА 1", "1"},  {"2000002", "ВОЛКОВ ИВАН", "МИРА 2", "2"},
        {"2000003", "ИВАНОВА МАРИЯ", "САДОВАЯ 3", "1"}, {"2000004", "Иванова Анна", "ЛЕНИНА 4", "1"},
        {"2000005", "СЕРГЕЕВА ОЛЬГА", "МИРА 5", "3"},   {"1999999", "ИВАНОВА МАРИЯ", "ПОЧТА", "3"},
        {"2000007", "ЁЛКИН ПЁТР", "ЛЕСНАЯ 7", "1"},     {"2000008", "АНДРЕЕВ ЮРИЙ", "МИРА 8", "2"},
    };
    for (auto& row : rows) layout.rows.push_back({{row[0], Oem(row[1]), Oem(row[2]), row[3]}});
    WriteDbf(dir_.File("PHONE.DBF"), layout);
    table_.SetDatabaseName(dir_.Path().string());
    table_.SetTableName("PHONE.DBF");
    table_.Open();
    table_.IndexOn("ALL.CDX", "BYFIO", "FIO", "", 1, 0);
    table_.IndexOn("ALL.CDX", "BYNUM", "NUM", "", 1, 0);
    table_.IndexOn("FIOADR.CDX", "FIOADR", "FIO+ADR", "", 1, 0);
    table_.IndexOn("UFIO.CDX", "UFIO", "UPPER(FIO)", "", 1, 0);
    table_.IndexOn("TAXF.CDX", "TAXF", "FIO", "TIP=3", 1, 0);
  }

  std::string Num() { return table_.FieldByName("NUM")->AsString(); }

  std::vector<std::string> Nums() {
    std::vector<std::string> nums;
    for (table_.First(); !table_.Eof(); table_.Next()) nums.push_back(Num());
    return nums;
  }

  // The NUM of the record LocateRecord lands on, "-" when it finds none
  // (after checking that the row stayed where it was).
  std::string Locate(const std::string& fields, const std::vector<std::string>& values, uint32_t options) {
    const std::string before = Num();
    if (table_.LocateRecord(fields, values, options)) return Num();
    EXPECT_EQ(Num(), before) << "a failed search moved the row";
    return "-";
  }

  TempDir dir_;
  TDeridarDataSet table_;
};

}  // namespace

TEST_F(RussianSearch, FiltersCompareAndFoldRussianLetters) {
  table_.SetFilter(Ansi("FIO < 'Б'"));
  table_.SetFiltered(true);
  EXPECT_EQ(Nums(), std::vector<std::string>{"2000008"});  // only АНДРЕЕВ
  table_.SetFilter(Ansi("FIO > 'Е' .AND. FIO < 'Ж'"));
  EXPECT_EQ(Nums(), std::vector<std::string>{"2000007"});  // Ё sorts between Е and Ж
  table_.SetFilter(Ansi("FIO = 'иванова анна'"));
  EXPECT_TRUE(Nums().empty());
  table_.SetFilterOptions(foCaseInsensitive);
  EXPECT_EQ(Nums(), std::vector<std::string>{"2000004"});
  table_.SetFilter(Ansi("FIO = 'иванова*'"));
  EXPECT_EQ(Nums(), (std::vector<std::string>{"2000001", "2000003", "2000004", "1999999"}));
  // Different letters stay different when case does not count.
  table_.SetFilter(Ansi("'Р' = 'А' .OR. 'п' = 'П' .AND. 'Ё' = 'е'"));
  EXPECT_TRUE(Nums().empty());
  table_.SetFilter(Ansi("'ё' = 'Ё'"));
  EXPECT_EQ(Nums().size(), 8u);
}

TEST_F(RussianSearch, LocateGivesTheSameRecordWhateverIndexFilesAreOpen) {
  struct Call {
    const char* fields;
    std::vector<std::string> values;
    uint32_t options;
    const char* expected;  // in record order
  };
  const std::vector<Call> calls = {
      {"FIO", {Ansi("иванова мария")}, loCaseInsensitive, "2000001"},
      {"FIO", {Ansi("ИВАНОВА МАРИЯ")}, 0, "2000001"},
      {"FIO", {Ansi("иванова мария")}, 0, "-"},
      {"FIO", {Ansi("ивАНОВА а")}, loCaseInsensitive | loPartialKey, "2000004"},
      {"FIO", {Ansi("ИВАНОВА")}, loPartialKey, "2000001"},
      {"FIO", {Ansi("ИВАНОВА")}, 0, "-"},
      {"FIO;ADR", {Ansi("ИВАНОВА МАРИЯ"), Ansi("САД")}, loPartialKey, "2000003"},
      {"FIO", {Ansi("ёлкин пётр")}, loCaseInsensitive, "2000007"},
  };
  for (const char* files : {"", "ALL.CDX", "FIOADR.CDX", "UFIO.CDX", "ALL.CDX;FIOADR.CDX;UFIO.CDX"}) {
    table_.OpenIndexes(files, "");
    for (const Call& call : calls) {
      table_.First();
      EXPECT_EQ(Locate(call.fields, call.values, call.options), call.expected)
          << "files " << files << ", fields " << call.fields << ", options " << call.options;
    }
  }
  // In a tag's order the first record of that order is found, by key or by
  // scan alike.
  for (const char* tag : {"BYFIO", "BYNUM", "FIOADR", "UFIO"}) {
    table_.OpenIndexes("ALL.CDX;FIOADR.CDX;UFIO.CDX", tag);
    EXPECT_EQ(Locate("FIO", {Ansi("иванова мария")}, loCaseInsensitive),
              std::string(tag) == "BYNUM" ? "1999999" : "2000001")
        << tag;
  }
}

TEST_F(RussianSearch, LocateStaysInsideTheFilterTheForConditionAndTheRange) {
  table_.OpenIndexes("ALL.CDX", "BYFIO");
  table_.SetFilter("TIP = 3");
  table_.SetFiltered(true);
  EXPECT_EQ(Locate("FIO", {Ansi("ИВАНОВА МАРИЯ")}, 0), "1999999");
  EXPECT_EQ(Locate("FIO", {Ansi("ВОЛКОВ ИВАН")}, 0), "-");
  EXPECT_EQ(table_.LookupValue("FIO", {Ansi("ВОЛКОВ ИВАН")}, "NUM"), std::nullopt);
  table_.SetFiltered(false);
  EXPECT_EQ(Locate("FIO", {Ansi("ВОЛКОВ ИВАН")}, 0), "2000002");

  // The FOR tag's order holds only payphones.
  table_.OpenIndexes("TAXF.CDX", "TAXF");
  table_.First();
  EXPECT_EQ(Locate("ADR", {Ansi("ЛЕНИНА 1")}, 0), "-");
  EXPECT_EQ(Locate("ADR", {Ansi("МИРА")}, loPartialKey), "2000005");
  EXPECT_EQ(Locate("FIO", {Ansi("ВОЛКОВ ИВАН")}, 0), "-");
  EXPECT_EQ(Locate("FIO", {Ansi("ИВАНОВА МАРИЯ")}, 0), "1999999");

  table_.OpenIndexes("ALL.CDX", "BYNUM");
  table_.SetRange("2000003", "2000005");
  EXPECT_EQ(Locate("FIO", {Ansi("ИВАНОВА МАРИЯ")}, 0), "2000003");
  EXPECT_EQ(Locate("FIO", {Ansi("ВОЛКОВ ИВАН")}, 0), "-");
}

TEST_F(RussianSearch, RefusedFilterTextsAndTagNamesKeepThePreviousState) {
  table_.SetFilter("TIP = 3");
  table_.SetFiltered(true);
  EXPECT_EQ(ErrorOf<std::exception>([&] { table_.SetFilter("TIP +"); }), "Syntax Error in expression \"TIP +\"");
  EXPECT_EQ(ErrorOf<std::exception>([&] { table_.SetFilter("NUM"); }),
            "Filter expression must return boolean result");
  EXPECT_EQ(table_.Filter(), "TIP = 3");
  EXPECT_TRUE(table_.Filtered());
  EXPECT_EQ(Nums(), (std::vector<std::string>{"2000005", "1999999"}));

  table_.SetFiltered(false);
  table_.SetFilter("NUM");  // only stored while unfiltered
  EXPECT_EQ(ErrorOf<std::exception>([&] { table_.SetFiltered(true); }),
            "Filter expression must return boolean result");
  EXPECT_FALSE(table_.Filtered());
  EXPECT_EQ(Nums().size(), 8u);
  table_.SetFilter("");

  table_.OpenIndexes("ALL.CDX", "BYNUM");
  EXPECT_EQ(ErrorOf<std::exception>([&] { table_.SetIndexName("NOSUCH"); }), "Cannot find index tag NOSUCH");
  EXPECT_EQ(table_.IndexName(), "BYNUM");
  table_.Close();
  table_.Open();
  EXPECT_EQ(Nums().front(), "1999999");
}
