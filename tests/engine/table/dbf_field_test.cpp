// Field access: lookup by name, typed get and put per type, display and
// entry texts, blank records, the deletion flag, version 0x30 binary
// storage and memo fields.
#include "engine/table/gs6_dbf_field.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/support/gs6_date.h"
#include "engine/support/gs6_glbl.h"
#include "support/error_text.h"
#include "platform/file.h"
#include "platform/locale.h"
#include "support/dbf_writer.h"
#include "support/memo_files.h"
#include "support/temp_dir.h"

namespace {

std::unique_ptr<GSO_dBaseFld> Open(const std::string& path, bool readWrite = true) {
  auto table = std::make_unique<GSO_dBaseFld>(path, "", false, readWrite);
  table->OpenTable();
  return table;
}

std::string Field(GSO_dBaseFld& t, int32_t n) { return t.GetFieldText(n); }

int32_t DayOf(int year, int month, int day) {
  int32_t serial = 0;
  platform::TryEncodeDate(year, month, day, serial);
  return serial + DBFDate().DayOffset();
}

// A table with one field of each text type; row 1 holds the given values.
struct TextTable {
  TempDir dir;
  std::string path;
  std::unique_ptr<GSO_dBaseFld> table;
  explicit TextTable(std::vector<std::string> values) {
    DbfLayout layout;
    layout.fields = {{"NAME", 'C', 10}, {"AMOUNT", 'N', 5, 2}, {"BORN", 'D', 8},
                     {"OK", 'L', 1},    {"RATE", 'F', 8, 3},   {"BIN", 'B', 10}};
    layout.rows.push_back({std::move(values)});
    path = WriteDbf(dir.File("PEOPLE.DBF"), layout);
    table = Open(path);
    table->ReadRecord(1);
  }
};

}  // namespace

TEST(DbfFields, DescriptorsAndNameLookup) {
  TextTable t({"A"});
  GSO_dBaseFld& f = *t.table;
  EXPECT_EQ(f.FieldNumber("Amount  "), 2);  // any case, trailing blanks dropped
  EXPECT_EQ(f.FieldNumber("AMOUN"), 0);
  EXPECT_EQ(f.FieldDecimals(2), 2);
  EXPECT_EQ(f.FieldOffset(2), 11);
  EXPECT_EQ(f.FieldType(0), '\0');
  EXPECT_EQ(f.GetFieldText(9), "");
  EXPECT_EQ(ErrorOf([&] { f.GetFieldTextByName("nosuch"); }),
            FormatMessage(Msg::NoFieldName, {t.path + "->nosuch"}));
  EXPECT_EQ(ErrorOf([&] { f.GetDateByName("NAME"); }), FormatMessage(Msg::FieldIncorrectType, {"NAME"}));
  EXPECT_EQ(f.GetNumberByName("bin"), 0);  // B counts as a number field
}

TEST(DbfFields, LongCharacterFieldLengthUsesSixteenBitsAndHasNoDecimals) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"LONG", 'C', 300}, {"N", 'N', 5, 2}};
  layout.rows.push_back({{std::string(300, 'a'), "3.14"}});
  std::string path = WriteDbf(dir.File("T.DBF"), layout);
  std::vector<uint8_t> bytes = ReadBytes(path);
  EXPECT_EQ(bytes[32 + 16], 0x2C);  // 300: the decimals byte holds the high byte
  EXPECT_EQ(bytes[32 + 17], 0x01);
  auto table = Open(path);
  EXPECT_EQ(table->RecordLength(), 306);
  EXPECT_EQ(table->FieldLength(1), 300);
  EXPECT_EQ(table->FieldDecimals(1), 0);
  EXPECT_EQ(table->FieldDescriptor(2)[12], 0x2D);  // offset 301 = 0x12D
  EXPECT_EQ(table->FieldDescriptor(2)[13], 0x01);
  table->ReadRecord(1);
  EXPECT_EQ(std::string(table->CurrentRecord() + 301, 5), " 3.14");
  table->PutFieldText(1, std::string(400, 'z'));
  EXPECT_EQ(table->GetFieldText(1), std::string(300, 'z'));
}

TEST(DbfFields, NumbersAreFormattedToWidthAndDecimalsAndReadBack) {
  TextTable t({"A", "12a", "", "", "  12.500"});
  GSO_dBaseFld& f = *t.table;
  EXPECT_EQ(ErrorOf([&] { f.GetNumber(2); }), FormatMessage(Msg::InvalidNumeric, {"PEOPLE->AMOUNT (12a)"}));
  f.PutFieldText(2, "  -.5");
  EXPECT_DOUBLE_EQ(f.GetNumber(2), -0.5);
  f.PutFieldText(2, "1 2");
  EXPECT_THROW(f.GetNumber(2), EDeridarError);
  f.PutNumber(2, 3.14159);
  EXPECT_EQ(Field(f, 2), " 3.14");
  EXPECT_EQ(ErrorOf([&] { f.PutNumber(2, 123.456); }),
            FormatMessage(Msg::NumericTooBig, {"AMOUNT - 123.46"}));
  EXPECT_EQ(Field(f, 2), " 3.14");  // a failed put leaves the field unchanged
  EXPECT_EQ(ErrorOf([&] { f.PutNumber(3, 1); }), FormatMessage(Msg::FieldIncorrectType, {"BORN"}));
  EXPECT_EQ(f.GetDisplayText(5), "12.500");

  platform::LocaleGuard russian(platform::LocaleSettings{});
  f.PutValueFromText(2, "3,5");
  EXPECT_EQ(Field(f, 2), " 3.50");
  EXPECT_EQ(f.GetDisplayText(2), "3.50");
  EXPECT_EQ(ErrorOf([&] { f.PutValueFromText(2, "abc"); }),
            FormatMessage(Msg::InvalidFieldValue, {"Number", "AMOUNT"}));
  EXPECT_TRUE(f.PutValueByName("name", "Jones"));
  EXPECT_EQ(Field(f, 1), "Jones     ");
}

TEST(DbfFields, BlankRecordZeroesNumericFieldsAndChangesAreMarkedPerField) {
  TextTable t({"A", "1.5", "20260101", "T", "2", "7"});
  GSO_dBaseFld& f = *t.table;
  f.BlankRecord();
  EXPECT_EQ(Field(f, 1), std::string(10, ' '));
  EXPECT_EQ(Field(f, 2), " 0.00");
  EXPECT_EQ(Field(f, 5), "   0.000");
  EXPECT_EQ(f.CurrentRecord()[0], ' ');
  for (uint8_t changed : f.ChangedFieldMap()) EXPECT_EQ(changed, 1);
  f.ReadRecord(1);
  for (uint8_t changed : f.ChangedFieldMap()) EXPECT_EQ(changed, 0);
  // A field text is aligned by type and marks only its field.
  f.PutFieldText(2, "7");
  EXPECT_EQ(Field(f, 2), "    7");
  EXPECT_EQ(f.ChangedFieldMap()[2], 1);
  EXPECT_EQ(f.ChangedFieldMap()[3], 0);
}

TEST(DbfFields, LogicalLettersAndEntryTexts) {
  TextTable t({"A", "", "", "J"});
  GSO_dBaseFld& f = *t.table;
  EXPECT_TRUE(f.GetLogical(4));
  f.PutFieldText(4, "?");
  EXPECT_FALSE(f.GetLogical(4));
  EXPECT_EQ(f.GetDisplayText(4), "F");
  for (auto [entry, stored] : {std::pair{"0", "F"}, {"yes", "T"}, {"", "F"}}) {
    f.PutValueFromText(4, entry);
    EXPECT_EQ(Field(f, 4), stored) << entry;
  }
  EXPECT_EQ(ErrorOf([&] { f.PutValueFromText(4, "x"); }),
            FormatMessage(Msg::InvalidFieldValue, {"Logical", "OK"}));
  EXPECT_EQ(ErrorOf([&] { f.PutLogical(1, true); }), FormatMessage(Msg::InvalidFieldValue, {"Logical", "NAME"}));
}

TEST(DbfFields, DatesReadWriteAndDisplay) {
  TextTable t({"A", "", "00000000"});
  GSO_dBaseFld& f = *t.table;
  EXPECT_EQ(f.GetDate(3), 0);
  EXPECT_EQ(f.GetDisplayText(3), "");
  int32_t day = DayOf(2026, 12, 8);
  EXPECT_TRUE(f.PutDate(3, day));
  EXPECT_EQ(Field(f, 3), "20261208");
  EXPECT_EQ(f.GetDate(3), day);
  {
    platform::LocaleGuard russian(platform::LocaleSettings{});
    EXPECT_EQ(f.GetDisplayText(3), "08.12.2026");
    f.PutValueFromText(3, "01.02.2003");
    EXPECT_EQ(Field(f, 3), "20030201");
    EXPECT_EQ(ErrorOf([&] { f.PutValueFromText(3, "31.02.2003"); }),
              FormatMessage(Msg::InvalidFieldValue, {"Date", "BORN"}));
  }
  f.PutDate(3, 0);
  EXPECT_EQ(Field(f, 3), std::string(8, ' '));
  EXPECT_EQ(ErrorOf([&] { f.PutDate(3, -1); }), FormatMessage(Msg::InvalidFieldValue, {"Date", "BORN"}));
  EXPECT_FALSE(f.PutDate(1, day));
  f.PutFieldText(3, "xx.yy");
  EXPECT_EQ(ErrorOf([&] { f.GetDate(3); }), FormatMessage(Msg::InvalidDate, {"PEOPLE->BORN (xx.yy)"}));
}

TEST(DbfFields, BinaryFieldDisplayWithoutMemo) {
  TextTable t({"A", "", "", "", "", "0"});
  EXPECT_EQ(t.table->GetDisplayText(6), "--binary--");
  t.table->PutFieldText(6, "5");
  EXPECT_EQ(t.table->GetDisplayText(6), "--BINARY--");
}

TEST(DbfFields, DeletionIsWrittenAtOnce) {
  TextTable t({"A"});
  GSO_dBaseFld& f = *t.table;
  f.MarkDeleted();
  EXPECT_TRUE(f.IsDeleted());
  uint16_t h = f.HeaderLength();
  EXPECT_EQ(ReadBytes(t.path)[h], '*');
  f.MarkUndeleted();
  EXPECT_EQ(ReadBytes(t.path)[h], ' ');
  t.table.reset();
  auto fresh = Open(t.path);
  EXPECT_EQ(ErrorOf([&] { fresh->MarkDeleted(); }), FormatMessage(Msg::CannotDelete));
  EXPECT_EQ(fresh->RecordCount(), 1);  // nothing appended
}

TEST(DbfFields, VersionThirtyBinaryTypes) {
  TempDir dir;
  DbfLayout layout;
  layout.version = 0x30;
  layout.fields = {{"I", 'I', 4}, {"T", 'T', 8}, {"Y", 'Y', 8}, {"B", 'B', 8}, {"M", 'M', 4}, {"N", 'N', 4}};
  layout.rows.push_back({{"    ", std::string(8, '\0'), std::string(8, '\0'), std::string(8, '\0'), "    ", "1"}});
  std::string path = WriteDbf(dir.File("V.DBF"), layout);
  auto table = Open(path);
  table->ReadRecord(1);
  EXPECT_EQ(table->GetNumber(1), 0);  // four blanks
  EXPECT_EQ(table->GetNumber(2), 0);  // eight zero bytes

  table->PutNumber(1, -123456.9);
  EXPECT_EQ(table->GetNumber(1), -123456);
  const uint8_t expectI[] = {0xC0, 0x1D, 0xFE, 0xFF};
  EXPECT_EQ(std::memcmp(table->CurrentRecord() + table->FieldOffset(1), expectI, 4), 0);
  table->PutNumber(3, 12.34567);
  EXPECT_DOUBLE_EQ(table->GetNumber(3), 12.3457);
  double stamp = (2461018.0 - 1721425.0) * 86400000.0 + 3723000.0;  // day 2461018, 01:02:03
  table->PutNumber(2, stamp);
  EXPECT_DOUBLE_EQ(table->GetNumber(2), stamp);
  const uint8_t* t = reinterpret_cast<const uint8_t*>(table->CurrentRecord() + table->FieldOffset(2));
  EXPECT_EQ(t[0] | (t[1] << 8) | (t[2] << 16) | (t[3] << 24), 2461018);
  EXPECT_EQ(t[4] | (t[5] << 8) | (t[6] << 16) | (t[7] << 24), 3723000);
  EXPECT_EQ(table->GetDisplayText(3), "12.3457");
  EXPECT_EQ(ErrorOf([&] { table->PutNumber(1, 3e9); }), FormatMessage(Msg::NumericTooBig, {"I - 3000000000.0000"}));

  table->BlankRecord();
  for (int n = 1; n <= 5; ++n) EXPECT_EQ(table->GetNumber(n), 0) << n;
  EXPECT_EQ(std::string(table->CurrentRecord() + table->FieldOffset(1), 4), std::string(4, '\0'));
  EXPECT_EQ(table->GetDisplayText(2), "");
}

TEST(DbfFields, ShortBinaryFieldsStayInsideTheRecord) {
  TempDir dir;
  DbfLayout layout;
  layout.version = 0x30;
  layout.fields = {{"Y", 'Y', 2}, {"C", 'C', 3}};
  layout.rows.push_back({{std::string("\x10\x27", 2), "abc"}});
  auto table = Open(WriteDbf(dir.File("V.DBF"), layout));
  table->ReadRecord(1);
  EXPECT_DOUBLE_EQ(table->GetNumber(1), 1.0);  // 0x2710 = 10000
  table->PutNumber(1, 99);
  EXPECT_EQ(table->GetFieldText(2), "abc");
}

TEST(DbfFields, MemoFieldsGoThroughTheMemoFile) {
  TempDir dir;
  MemoFileBuilder memo(MemoLayout::Db3);
  int32_t block = memo.Add("Hello memo");
  memo.Save(dir.File("M.dbt"));
  DbfLayout layout;
  layout.version = 0x83;
  layout.fields = {{"NAME", 'C', 5}, {"NOTE", 'M', 10}};
  layout.rows.push_back({{"a", std::to_string(block)}});
  layout.rows.push_back({{"b", ""}});
  auto table = Open(WriteDbf(dir.File("M.DBF"), layout));
  table->ReadRecord(1);
  EXPECT_EQ(table->GetDisplayText(2), "Hello memo");
  EXPECT_EQ(table->MemoSize(2), 10);
  table->ReadRecord(2);
  table->PutValueFromText(2, "Second text");
  EXPECT_GT(table->GetNumber(2), 0);
  table->WriteRecord(2);
  table->ReadRecord(2);
  EXPECT_EQ(table->ReadMemo(2), "Second text");
}

namespace {

// A table of `version` with fields NAME C(5) and NOTE M (10 characters, or
// 4 bytes in version 0x30) whose memo references are `references` (raw
// field bytes), beside a memo file of the version's layout that holds
// "Hello memo" at its first block. Returns the table's path.
std::string MemoTable(const TempDir& dir, uint8_t version, const std::vector<std::string>& references,
                      int32_t* firstBlock = nullptr) {
  const bool fox = version == 0x30 || version == 0xF5;
  MemoFileBuilder memo(fox ? MemoLayout::Fox : version == 0x8B ? MemoLayout::Db4 : MemoLayout::Db3);
  const int32_t block = memo.Add("Hello memo");
  if (firstBlock) *firstBlock = block;
  memo.Save(dir.File(fox ? "M.FPT" : "M.DBT"));
  DbfLayout layout;
  layout.version = version;
  layout.flags = version == 0x30 ? 0x02 : 0x00;
  layout.fields = {{"NAME", 'C', 5}, {"NOTE", 'M', version == 0x30 ? 4 : 10}};
  for (const std::string& reference : references) layout.rows.push_back({{"x", reference}});
  return WriteDbf(dir.File("M.DBF"), layout);
}

std::string DecimalReference(int32_t block) {
  std::string text = std::to_string(block);
  return std::string(10 - text.size(), ' ') + text;
}

std::string BinaryReference(uint32_t block) {
  std::vector<uint8_t> bytes = LE32(block);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(DbfFields, EmptiedMemoLeavesBlanksInTextReferencesAndZeroInBinaryOnes) {
  for (uint8_t version : {uint8_t{0x83}, uint8_t{0x8B}, uint8_t{0xF5}, uint8_t{0x30}}) {
    SCOPED_TRACE(static_cast<int>(version));
    TempDir dir;
    int32_t block = 0;
    std::string path = MemoTable(dir, version, {"", ""}, &block);
    const bool binary = version == 0x30;
    {
      auto table = Open(path);
      table->ReadRecord(1);
      table->PutValueFromText(2, "Some text");
      table->WriteRecord(1);
      table->ReadRecord(1);
      EXPECT_EQ(table->ReadMemo(2), "Some text");
      table->PutValueFromText(2, "");
      table->WriteRecord(1);
      table->ReadRecord(2);
      table->WriteMemo(2, "");  // never held a memo
      table->WriteRecord(2);
    }
    auto table = Open(path);
    for (TRecNo n : {1, 2}) {
      table->ReadRecord(n);
      EXPECT_EQ(Field(*table, 2), binary ? std::string(4, '\0') : std::string(10, ' ')) << n;
      EXPECT_EQ(table->ReadMemo(2), "");
    }
  }
}

TEST(DbfFields, BlankMemoReferencesReadEmptyWithoutTheMemoFile) {
  for (uint8_t version : {uint8_t{0x83}, uint8_t{0x30}}) {
    SCOPED_TRACE(static_cast<int>(version));
    TempDir dir;
    const bool binary = version == 0x30;
    const std::vector<std::string> references =
        binary ? std::vector<std::string>{std::string(4, '\0'), "    ", BinaryReference(1)}
               : std::vector<std::string>{"", "         0", DecimalReference(1)};
    std::string path = MemoTable(dir, version, references);
    const std::string memoPath = dir.File(binary ? "M.FPT" : "M.DBT");
    ASSERT_TRUE(platform::RemoveFile(memoPath));
    auto table = Open(path);
    for (TRecNo n : {1, 2}) {
      table->ReadRecord(n);
      EXPECT_EQ(table->ReadMemo(2), "") << n;
      EXPECT_EQ(table->MemoSize(2), 0) << n;
      EXPECT_EQ(table->GetDisplayText(2), "") << n;
      table->PutValueFromText(2, "");
      table->WriteRecord(n);
    }
    table->FlushTable();
    // A memo that is really there to read needs the file.
    table->ReadRecord(3);
    EXPECT_EQ(ErrorOf([&] { (void)table->ReadMemo(2); }), FormatMessage(Msg::FileNotFound, {memoPath}));
  }
}

TEST(DbfFields, MemoReferenceThatIsNoBlockNumberIsABadMemoRecord) {
  TempDir dir;
  const std::vector<std::string> texts = {"        -5", "9999999999", "4294967297", "       12a"};
  std::string path = MemoTable(dir, 0x83, texts);
  auto table = Open(path);
  const std::string bad = FormatMessage(Msg::MemoRecordBad, {dir.File("M.DBT")});
  for (TRecNo n = 1; n <= table->RecordCount(); ++n) {
    table->ReadRecord(n);
    EXPECT_EQ(ErrorOf([&] { (void)table->ReadMemo(2); }), bad) << texts[n - 1];
    EXPECT_EQ(ErrorOf([&] { (void)table->MemoSize(2); }), bad) << texts[n - 1];
    EXPECT_EQ(ErrorOf([&] { table->WriteMemo(2, "new"); }), bad) << texts[n - 1];
  }
  TempDir foxDir;
  path = MemoTable(foxDir, 0x30, {BinaryReference(0xFFFFFFFFu), BinaryReference(0x80000000u)});
  table = Open(path);
  for (TRecNo n : {1, 2}) {
    table->ReadRecord(n);
    EXPECT_EQ(ErrorOf([&] { (void)table->ReadMemo(2); }),
              FormatMessage(Msg::MemoRecordBad, {foxDir.File("M.FPT")}));
  }
}
