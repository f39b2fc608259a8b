// Field values through the dataset: every type read and written, the null
// rules, translation both ways, and memo contents through the blob stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "dataset/Razuz6oz.h"
#include "open_on.h"
#include "engine/support/gs6_glbl.h"
#include "platform/locale.h"
#include "support/dataset_fixtures.h"
#include "support/dbf_writer.h"
#include "support/memo_files.h"
#include "support/temp_dir.h"

using namespace platform;

namespace {

int32_t Serial(int year, int month, int day) {
  int32_t serial = 0;
  EXPECT_TRUE(TryEncodeDate(year, month, day, serial));
  return serial;
}

// The stored text of field `field` of record `n`, read through a handle of
// its own.
std::string StoredText(const std::string& path, int32_t n, int32_t field) {
  GSO_dBHandler raw(path, "", true, false);
  raw.OpenTable();
  raw.ReadRecord(n);
  return raw.GetFieldText(field);
}

}  // namespace

class DataSetValues : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfLayout layout;
    layout.fields = {{"NAME", 'C', 10}, {"BORN", 'D', 8},  {"SMALL", 'N', 3},
                     {"COUNT", 'N', 7}, {"BIG", 'N', 12}, {"PRICE", 'N', 9, 2},
                     {"OK", 'L', 1}};
    layout.rows = {
        {{"ALPHA", "19991231", "-12", "1234567", "98765432101", "12.50", "T"}},
        {{"", "        ", "", "", "", "", "F"}},
        {{"GAMMA", "00000000", "7", "0", "1", "0.01", "N"}},
        {{"DELTA", "20021399", "1", "2", "3", "4", "Y"}},
    };
    path_ = WriteDbf(dir_.File("VALUES.DBF"), layout);
    table_.SetDatabaseName(dir_.Path().string());
    table_.SetTableName("VALUES");
    table_.SetLargeIntegerAs(TgsIntFields::asLargeInt);
  }

  TField* F(const char* name) { return table_.FieldByName(name); }

  TempDir dir_;
  std::string path_;
  TDeridarDataSet table_;
};

TEST_F(DataSetValues, EveryTypeReadsItsStoredValueAndOnlyTextsAndDatesCanBeNull) {
  table_.Open();
  EXPECT_EQ(F("NAME")->AsString(), "ALPHA");
  EXPECT_EQ(F("BORN")->AsDateTime(), Serial(1999, 12, 31));
  EXPECT_EQ(F("SMALL")->AsInteger(), -12);
  EXPECT_EQ(F("BIG")->AsLargeInt(), 98765432101);
  EXPECT_DOUBLE_EQ(F("PRICE")->AsFloat(), 12.5);
  EXPECT_TRUE(F("OK")->AsBoolean());

  // Empty text and empty or bad dates have no value, but numbers always do.
  table_.Next();
  EXPECT_TRUE(F("NAME")->IsNull());
  EXPECT_TRUE(F("BORN")->IsNull());
  EXPECT_FALSE(F("SMALL")->IsNull());
  EXPECT_FALSE(F("OK")->IsNull());
  table_.Next();
  EXPECT_TRUE(F("BORN")->IsNull());  // "00000000"
  table_.Next();
  EXPECT_TRUE(F("BORN")->IsNull());  // month 13 does not decode
  EXPECT_TRUE(F("OK")->AsBoolean());  // "Y"
}

TEST_F(DataSetValues, ValuesWrittenInEditStateAreStoredInTheTableForm) {
  table_.Open();
  table_.Edit();
  F("NAME")->SetAsString("OMEGA");
  F("BORN")->SetAsDateTime(Serial(2024, 2, 29));
  F("SMALL")->SetAsInteger(99);
  F("BIG")->SetAsLargeInt(-5);
  F("PRICE")->SetAsFloat(3.14159);
  F("OK")->SetAsBoolean(false);
  table_.Post();
  table_.Close();

  GSO_dBHandler raw(path_, "", false, false);
  raw.OpenTable();
  raw.ReadRecord(1);
  EXPECT_EQ(raw.GetFieldText(1), "OMEGA     ");
  EXPECT_EQ(raw.GetFieldText(2), "20240229");
  EXPECT_EQ(raw.GetFieldText(3), " 99");
  EXPECT_EQ(raw.GetFieldText(5), "          -5");
  EXPECT_EQ(raw.GetFieldText(6), "     3.14");
  EXPECT_EQ(raw.GetFieldText(7), "F");
}

TEST_F(DataSetValues, WritingOutsideEditStateIsRefused) {
  table_.Open();
  EXPECT_EQ(DatabaseErrorOf([&] { F("NAME")->SetAsString("X"); }),
            "Dataset not in edit or insert mode");
  F("COUNT")->SetReadOnly(true);
  table_.Edit();
  EXPECT_EQ(DatabaseErrorOf([&] { F("COUNT")->SetAsInteger(1); }),
            "Field 'COUNT' cannot be modified");
  table_.Cancel();
}

TEST_F(DataSetValues, OldValuesComeFromTheSnapshotWhileEditingAndAClearedDateIsBlank) {
  table_.Open();
  table_.Edit();
  F("NAME")->SetAsString("CHANGED");
  EXPECT_EQ(std::string(table_.Table()->SnapshotBuffer() + 1, 5), "ALPHA");
  table_.Cancel();
  EXPECT_EQ(F("NAME")->AsString(), "ALPHA");

  // A cleared date has no value and is stored as eight blanks.
  table_.Edit();
  F("BORN")->Clear();
  table_.Post();
  EXPECT_EQ(StoredText(path_, 1, 2), "        ");
  EXPECT_EQ(StoredText(path_, 1, 1), "ALPHA     ");  // the cancelled change is gone
}

TEST(DataSetTranslation, TextIsShownInAnsiAndStoredInOem) {
  TempDir dir;
  const std::string ansi = "\xD1\xE8\xE4\xEE\xF0\xEE\xE2";  // Sidorov in 1251
  const std::string oem = "\x91\xA8\xA4\xAE\xE0\xAE\xA2";   // the same in 866
  DbfLayout layout;
  layout.fields = {{"FIO", 'C', 20}};
  layout.rows = {{{oem}}};
  WriteDbf(dir.File("T.DBF"), layout);
  TDeridarDataSet table;
  OpenOn(table, dir);
  EXPECT_EQ(table.FieldByName("FIO")->AsString(), ansi);
  table.Edit();
  table.FieldByName("FIO")->SetAsString(ansi + "A");
  table.Post();
  EXPECT_EQ(StoredText(dir.File("T.DBF"), 1, 1).substr(0, 8), oem + "A");

  table.SetTranslateASCII(false);
  EXPECT_EQ(table.FieldByName("FIO")->AsString(), oem + "A");
}

// String fields read their text straight from the row: blanks at the end
// go (runs of any length, inner and leading ones stay), a zero byte ends the
// text, and the text is translated only when the dataset translates. Every
// way of reading a text gives the same characters.
TEST(DataSetTexts, TextsEndBeforeTrailingBlanksAndAtAZeroByte) {
  TempDir dir;
  const std::string oem = "\x91\xA8\xA4\xAE\xE0\xAE\xA2";   // Sidorov in 866
  const std::string ansi = "\xD1\xE8\xE4\xEE\xF0\xEE\xE2";  // the same in 1251
  const std::vector<std::string> stored = {
      "", "A", "ABCDEFG", "ABCDEFGH", "ABCDEFGHI", "ABCDEFGHIJKLMNOPQ", "ABCDEFGHIJKLMNOPQRST",
      "A  B", "  A", std::string("AB\0CD", 5), std::string("ABCDEFGH\0", 9),
      std::string("ABCDEFGHIJKLMN\0P", 16), oem + " A.B."};
  const std::vector<std::string> expected = {
      "", "A", "ABCDEFG", "ABCDEFGH", "ABCDEFGHI", "ABCDEFGHIJKLMNOPQ", "ABCDEFGHIJKLMNOPQRST",
      "A  B", "  A", "AB", "ABCDEFGH", "ABCDEFGHIJKLMN", ansi + " A.B."};
  DbfLayout layout;
  layout.fields = {{"ID", 'N', 2}, {"T", 'C', 20}};
  for (const std::string& text : stored) layout.rows.push_back({{"1", text}});
  WriteDbf(dir.File("T.DBF"), layout);

  TDeridarDataSet table;
  OpenOn(table, dir);
  TField* t = table.FieldByName("T");
  std::string display;
  for (size_t i = 0; i < stored.size(); ++i, table.Next()) {
    SCOPED_TRACE(i);
    ASSERT_FALSE(table.Eof());
    EXPECT_EQ(t->AsString(), expected[i]);
    t->ReadDisplayText(display);
    EXPECT_EQ(display, expected[i]);
    EXPECT_EQ(t->IsNull(), expected[i].empty());
    // The native value is the stored text, untranslated.
    char native[21] = {};
    EXPECT_EQ(t->GetData(native), !expected[i].empty());
    EXPECT_EQ(TranslateToAnsi(std::string(native)), expected[i]);
  }
  EXPECT_TRUE(table.Eof());

  table.SetTranslateASCII(false);
  table.Last();
  EXPECT_EQ(t->AsString(), oem + " A.B.");
}

// A record filter reads the texts of the record it is asked about, not of
// the row shown.
TEST(DataSetTexts, AFilterReadsTheTextsOfTheRecordItTests) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 12}};
  layout.rows = {{{"ANNA"}}, {{"BORIS"}}, {{"ALLA"}}, {{"VERA"}}, {{"ARKADY"}}};
  WriteDbf(dir.File("T.DBF"), layout);
  TDeridarDataSet table;
  OpenOn(table, dir);
  TField* name = table.FieldByName("NAME");
  std::vector<std::string> tested;
  table.OnFilterRecord = [&](TDataSet&, bool& accept) {
    tested.push_back(name->AsString());
    accept = tested.back()[0] == 'A';
  };
  table.SetFiltered(true);
  table.First();
  std::vector<std::string> shown;
  for (; !table.Eof(); table.Next()) shown.push_back(name->AsString());
  EXPECT_EQ(shown, (std::vector<std::string>{"ANNA", "ALLA", "ARKADY"}));
  EXPECT_NE(std::find(tested.begin(), tested.end(), "BORIS"), tested.end());
}

class DataSetMemo : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoFileBuilder memo(MemoLayout::Db4);
    int32_t block = memo.Add(TranslateToOem("\xCF\xF0\xE8\xEC\xE5\xF7\xE0\xED\xE8\xE5"));
    memo.Save(dir_.File("NOTES.dbt"));
    DbfLayout layout;
    layout.version = 0x8B;
    layout.fields = {{"ID", 'N', 3}, {"NOTE", 'M', 10}};
    layout.rows = {{{"1", std::to_string(block)}}, {{"2", ""}}};
    WriteDbf(dir_.File("NOTES.DBF"), layout);
    table_.SetDatabaseName(dir_.Path().string());
    table_.SetTableName("NOTES");
  }

  TempDir dir_;
  TDeridarDataSet table_;
};

TEST_F(DataSetMemo, MemoTextReadsTranslatedAndEmptyMemosAreNull) {
  table_.Open();
  TField* note = table_.FieldByName("NOTE");
  EXPECT_EQ(note->AsString(), "\xCF\xF0\xE8\xEC\xE5\xF7\xE0\xED\xE8\xE5");
  table_.Next();
  EXPECT_TRUE(note->IsNull());
}

TEST_F(DataSetMemo, AMemoWrittenThroughTheStreamIsStoredInOemAndReadsBackUnchanged) {
  const std::string ansi = "\xCD\xEE\xE2\xFB\xE9 \xF2\xE5\xEA\xF1\xF2 with latin";
  table_.Open();
  table_.Next();
  table_.Edit();
  table_.FieldByName("NOTE")->SetAsString(ansi);
  table_.Post();
  table_.Close();
  {
    GSO_dBHandler raw(dir_.File("NOTES.DBF"), "", true, false);
    raw.OpenTable();
    raw.ReadRecord(2);
    EXPECT_EQ(raw.ReadMemo(2), TranslateToOem(ansi));
  }
  table_.Open();
  table_.Last();
  EXPECT_EQ(table_.FieldByName("NOTE")->AsString(), ansi);
}

TEST_F(DataSetMemo, TheStreamReadsSeeksAndRefusesWritesOutsideEditing) {
  table_.Open();
  TField* note = table_.FieldByName("NOTE");
  auto stream = table_.CreateBlobStream(note, bmRead);
  EXPECT_EQ(stream->Size(), 10);
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(stream->Read(buffer, 4), 4);
  EXPECT_EQ(stream->Seek(-2, soEnd), 8);
  EXPECT_EQ(stream->Read(buffer, 16), 2);
  EXPECT_EQ(buffer[2], '\0');  // the rest comes with its terminator
  EXPECT_EQ(DatabaseErrorOf([&] { table_.CreateBlobStream(note, bmWrite); }),
            "Dataset not in edit or insert mode");
  note->SetReadOnly(true);
  table_.Edit();
  EXPECT_EQ(DatabaseErrorOf([&] { table_.CreateBlobStream(note, bmWrite); }),
            "Field 'NOTE' cannot be modified");
  table_.Cancel();
}
