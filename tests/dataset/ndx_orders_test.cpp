// NDX orders through the dataset: built with IndexOn, opened beside a
// compound file, used for ranges and searches, and kept in step when rows
// are edited and appended.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/Razuz6oz.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"

TEST(DataSetNdx, OrdersOfAnNdxBesideACompoundFileFollowEdits) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 20}, {"TIP", 'N', 1}};
  const char* rows[][3] = {{"2405678", "PETROV", "2"}, {"2301234", "IVANOV", "1"},
                           {"2509999", "TAXOFON", "3"}, {"2300001", "SIDOROV", "1"},
                           {"1999999", "ORLOV", "1"}};
  for (auto& row : rows) layout.rows.push_back({{row[0], row[1], row[2]}});
  WriteDbf(dir.File("PHONE.DBF"), layout);
  TDeridarDataSet table;
  table.SetDatabaseName(dir.Path().string());
  table.SetTableName("PHONE.DBF");
  table.Open();
  table.IndexOn("FIO.NDX", "", "FIO", "", 1, 0);
  table.IndexOn("ALL.CDX", "BYNUM", "NUM", "", 1, 0);
  table.OpenIndexes("ALL.CDX;FIO.NDX", "FIO");
  auto column = [&table](const char* field) {
    std::vector<std::string> out;
    for (table.First(); !table.Eof(); table.Next()) out.push_back(table.FieldByName(field)->AsString());
    return out;
  };
  EXPECT_EQ(column("FIO"), (std::vector<std::string>{"IVANOV", "ORLOV", "PETROV", "SIDOROV", "TAXOFON"}));
  EXPECT_EQ(table.IndexTagCount(), 2);

  table.SetRange("O", "S");
  EXPECT_EQ(column("FIO"), (std::vector<std::string>{"ORLOV", "PETROV"}));
  table.SetRange("", "");
  ASSERT_TRUE(table.LocateRecord("FIO", {"SIDOROV"}, 0));
  EXPECT_EQ(table.FieldByName("NUM")->AsString(), "2300001");

  // An edit moves the row in both files' orders; an appended row joins them.
  table.Edit();
  table.FieldByName("FIO")->SetAsString("ANTONOV");
  table.FieldByName("NUM")->SetAsString("2999999");
  table.Post();
  table.Append();
  table.FieldByName("FIO")->SetAsString("KOZLOV");
  table.FieldByName("NUM")->SetAsString("2000000");
  table.Post();
  EXPECT_EQ(column("FIO"), (std::vector<std::string>{"ANTONOV", "IVANOV", "KOZLOV", "ORLOV", "PETROV", "TAXOFON"}));
  table.SetIndexName("BYNUM");
  EXPECT_EQ(column("NUM"), (std::vector<std::string>{"1999999", "2000000", "2301234", "2405678", "2509999", "2999999"}));
}
