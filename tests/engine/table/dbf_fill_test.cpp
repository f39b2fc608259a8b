// Search records built from loose values.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/support/gs6_date.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf_field.h"
#include "platform/locale.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"

namespace {

struct FillTable {
  TempDir dir;
  std::unique_ptr<GSO_dBaseFld> table;
  FillTable() {
    DbfLayout layout;
    layout.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 8, 2}, {"BORN", 'D', 8}, {"OK", 'L', 1}};
    layout.rows = {{{"OLD", "1.00", "20000101", "F"}}};
    WriteDbf(dir.File("T.DBF"), layout);
    table = std::make_unique<GSO_dBaseFld>(dir.File("T.DBF"), "", false, true);
    table->OpenTable();
    table->ReadRecord(1);
  }
};

}  // namespace

TEST(DbfFill, ValuesGoToTheListedFieldsInOrderAndTheTableRecordIsUntouched) {
  platform::LocaleGuard guard(platform::LocaleSettings{});
  FillTable t;
  std::vector<char> buffer(static_cast<size_t>(t.table->RecordLength()) + 1, 'x');
  int32_t day = DBFDate().TextToDay("31.12.2024");
  t.table->FillRecordFromValues(
      buffer.data(), " NAME ; QTY;BORN ;OK",
      {std::string("\xC8\xC2"), 12.5, platform::TVariantDate{day - 2415019}, true});

  EXPECT_EQ(t.table->GetFieldText(1), "OLD       ");

  t.table->SetCurrentRecord(buffer.data());
  EXPECT_EQ(std::string(buffer.data(), 11), " \x88\x82        ");  // OEM bytes of the text
  EXPECT_DOUBLE_EQ(t.table->GetNumber(2), 12.5);
  EXPECT_EQ(t.table->GetDate(3), day);
  EXPECT_TRUE(t.table->GetLogical(4));
  t.table->RestoreCurrentRecord();
}

TEST(DbfFill, NullAndMissingValuesLeaveBlankFieldsAndASingleValueGoesFirst) {
  FillTable t;
  std::vector<char> buffer(static_cast<size_t>(t.table->RecordLength()) + 1, 'x');
  t.table->FillRecordFromValues(buffer.data(), "QTY;NAME", {7.0});
  t.table->SetCurrentRecord(buffer.data());
  EXPECT_DOUBLE_EQ(t.table->GetNumber(2), 7.0);
  EXPECT_EQ(t.table->GetFieldText(1), std::string(10, ' '));
  t.table->RestoreCurrentRecord();

  t.table->FillRecordFromValues(buffer.data(), "NAME", {platform::TVariant{}});
  t.table->SetCurrentRecord(buffer.data());
  EXPECT_EQ(t.table->GetFieldText(1), std::string(10, ' '));
  t.table->RestoreCurrentRecord();
}

TEST(DbfFill, ARefusedValueRaisesAndRestoresTheTableRecord) {
  FillTable t;
  std::vector<char> buffer(static_cast<size_t>(t.table->RecordLength()) + 1, ' ');
  char* own = t.table->CurrentRecord();
  EXPECT_THROW(t.table->FillRecordFromValues(buffer.data(), "NOSUCH", {std::string("a")}),
               EDeridarError);
  EXPECT_EQ(t.table->CurrentRecord(), own);
  EXPECT_THROW(t.table->FillRecordFromValues(buffer.data(), "QTY", {std::string("abc")}),
               EDeridarError);
  EXPECT_EQ(t.table->CurrentRecord(), own);
}
