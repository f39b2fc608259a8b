// Record-set framework: field objects, their conversions, transliteration
// and persistent fields.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "support/error_text.h"
#include "support/memory_dataset.h"
#include "platform/db.h"
#include "platform/locale.h"

using namespace platform;

namespace {

using Column = MemoryDataSet::Column;

// A one-row set with one column of every kind, opened in edit state.
std::unique_ptr<MemoryDataSet> EditedRow() {
  auto ds = std::make_unique<MemoryDataSet>(std::vector<Column>{
      {"S", ftString, 5}, {"SI", ftSmallint}, {"I", ftInteger}, {"L", ftLargeint},
      {"F", ftFloat}, {"C", ftCurrency}, {"B", ftBoolean}, {"D", ftDate}, {"T", ftDateTime},
      {"M", ftMemo}});
  ds->AddRow({});
  ds->Open();
  ds->Edit();
  return ds;
}

}  // namespace

TEST(DbFields, DefaultFieldsFollowTheDefinitionsAndStartNull) {
  auto ds = EditedRow();
  EXPECT_NE(dynamic_cast<TSmallintField*>(ds->FieldByName("SI")), nullptr);
  EXPECT_NE(dynamic_cast<TCurrencyField*>(ds->FieldByName("C")), nullptr);
  EXPECT_EQ(ds->FieldByName("M")->FieldNo(), 10);
  EXPECT_EQ(ds->FieldByName("S")->DataSize(), 6);
  EXPECT_EQ(ds->FindField("s"), ds->FieldByName("S"));  // names ignore case
  EXPECT_EQ(DatabaseErrorOf([&] { ds->FieldByName("NOPE"); }), "Field 'NOPE' not found");
  for (int32_t i = 0; i < ds->FieldCount(); ++i) {
    TField* f = ds->Fields(i);
    EXPECT_TRUE(f->IsNull()) << f->FieldName();
    if (f->DataType() != ftMemo) {
      EXPECT_EQ(f->AsString(), "") << f->FieldName();
    }
  }
  EXPECT_EQ(ds->FieldByName("I")->AsInteger(), 0);
  EXPECT_EQ(ds->FieldByName("M")->DisplayText(), "(memo)");
  ds->FieldByName("I")->SetAsInteger(3);
  EXPECT_FALSE(ds->FieldByName("I")->IsNull());
  ds->FieldByName("I")->Clear();
  EXPECT_TRUE(ds->FieldByName("I")->IsNull());
}

TEST(DbFields, StringsCutToTheirSizeAndIntegersCheckTheirRange) {
  auto ds = EditedRow();
  TField* s = ds->FieldByName("S");
  s->SetAsString("ABCDEFGH");
  EXPECT_EQ(s->AsString(), "ABCDE");
  s->SetAsString("x1");
  EXPECT_EQ(DatabaseErrorOf([&] { s->AsInteger(); }), "'x1' is not a valid integer value");
  TField* si = ds->FieldByName("SI");
  si->SetAsInteger(-32768);
  EXPECT_EQ(si->AsInteger(), -32768);
  EXPECT_EQ(DatabaseErrorOf([&] { si->SetAsInteger(40000); }),
            "40000 is not a valid value for field 'SI'. The allowed range is -32768 to 32767");
  EXPECT_EQ(si->AsInteger(), -32768);  // unchanged
  TField* i = ds->FieldByName("I");
  EXPECT_THROW(i->SetAsLargeInt(int64_t{1} << 40), EDatabaseError);
  i->SetAsString(" -17 ");
  EXPECT_EQ(i->AsInteger(), -17);
  EXPECT_THROW(i->SetAsString("99999999999999999999"), EDatabaseError);
  i->SetAsFloat(2.6);
  EXPECT_EQ(i->AsInteger(), 3);
  EXPECT_THROW(i->SetAsFloat(1e300), EDatabaseError);
  TField* l = ds->FieldByName("L");
  l->SetAsString("-9223372036854775808");
  EXPECT_EQ(l->AsLargeInt(), INT64_MIN);
  EXPECT_EQ(l->AsString(), "-9223372036854775808");
}

TEST(DbFields, FloatAndDateTextsFollowTheLocaleAndDatesAreSerials) {
  LocaleSettings russian;
  LocaleGuard guard(russian);
  auto ds = EditedRow();
  TField* f = ds->FieldByName("F");
  f->SetAsString("2,5");
  EXPECT_DOUBLE_EQ(f->AsFloat(), 2.5);
  EXPECT_EQ(DatabaseErrorOf([&] { f->SetAsString("2.5x"); }),
            "'2.5x' is not a valid floating point value");
  EXPECT_THROW(f->SetAsFloat(std::numeric_limits<double>::quiet_NaN()), EDatabaseError);
  TField* c = ds->FieldByName("C");
  c->SetAsFloat(3.14159);
  EXPECT_EQ(c->DisplayText(), "3,14");
  TField* d = ds->FieldByName("D");
  d->SetAsString("31.12.1999");
  EXPECT_DOUBLE_EQ(d->AsDateTime(), 36525.0);
  d->SetAsDateTime(36526.75);  // the time of day is dropped
  EXPECT_EQ(d->AsString(), "01.01.2000");
  EXPECT_EQ(DatabaseErrorOf([&] { d->SetAsString("31.02.1999"); }),
            "'31.02.1999' is not a valid date");
  EXPECT_THROW(d->SetAsDateTime(1e12), EDatabaseError);

  TField* t = ds->FieldByName("T");
  t->SetAsString("01.01.2000 12:30");
  EXPECT_DOUBLE_EQ(t->AsDateTime(), 36526.0 + 0.5 + 30.0 / 1440.0);
  EXPECT_EQ(t->AsString(), "01.01.2000 12:30:00");
  t->SetAsString("02.01.2000");
  EXPECT_EQ(t->AsString(), "02.01.2000");
  EXPECT_THROW(t->SetAsString("02.01.2000 25:00"), EDatabaseError);
}

TEST(DbFields, BooleanFieldTexts) {
  auto ds = EditedRow();
  TField* b = ds->FieldByName("B");
  b->SetAsString("true");
  EXPECT_EQ(b->AsString(), "True");
  b->SetAsString("N");
  EXPECT_EQ(b->AsString(), "False");
  EXPECT_EQ(DatabaseErrorOf([&] { b->SetAsString("maybe"); }),
            "'maybe' is not a valid boolean value for field 'B'");
  EXPECT_THROW(b->AsDateTime(), EDatabaseError);
}

TEST(DbFields, TransliterateTranslatesStringsBothWays) {
  // Stored in 866: "ИВАНОВ" is 0x88 0x82 0x80 0x8D 0x8E 0x82; shown in 1251.
  auto ds = std::make_unique<MemoryDataSet>(
      std::vector<Column>{{"FIO", ftString, 10}, {"M", ftMemo}}, /*translate=*/true);
  ds->AddRow({std::string("\x88\x82\x80\x8D\x8E\x82"), std::string("\x88\x82")});
  ds->Open();
  TField* fio = ds->FieldByName("FIO");
  EXPECT_EQ(fio->AsString(), "\xC8\xC2\xC0\xCD\xCE\xC2");
  fio->SetTransliterate(false);
  EXPECT_EQ(fio->AsString(), "\x88\x82\x80\x8D\x8E\x82");
  fio->SetTransliterate(true);

  ds->Edit();
  fio->SetAsString("\xDF");  // 1251 "Я" is stored as 866 0x9F
  ds->Post();
  EXPECT_EQ(ds->StoredValue(0, 0), "\x9F");

  // Memo contents go through the blob stream, translated once.
  TField* memo = ds->FieldByName("M");
  EXPECT_EQ(memo->AsString(), "\xC8\xC2");
  EXPECT_EQ(memo->DisplayText(), "(MEMO)");
  ds->Edit();
  memo->SetAsString("\xDF\xDF");
  ds->Post();
  EXPECT_EQ(ds->StoredValue(0, 1), "\x9F\x9F");
}

TEST(DbFields, PersistentFieldsBindByNameAndType) {
  auto ds = std::make_unique<MemoryDataSet>(
      std::vector<Column>{{"NUM", ftString, 7}, {"TIP", ftSmallint}});
  ds->AddRow({"1234567", "2"});
  auto* tip = ds->CreateField<TSmallintField>("TIP");
  auto* num = ds->CreateField<TStringField>("NUM", 3);  // storage says 7
  ds->Open();
  EXPECT_EQ(ds->FieldCount(), 2);
  EXPECT_EQ(ds->Fields(0), tip);  // the application's order
  EXPECT_EQ(num->FieldNo(), 1);
  EXPECT_EQ(num->AsString(), "1234567");  // the storage's size wins
  ds->Close();
  EXPECT_EQ(ds->FieldCount(), 2);  // persistent fields stay
  EXPECT_THROW(ds->CreateField<TStringField>("NUM", 7), EDatabaseError);  // duplicate

  auto wrong = std::make_unique<MemoryDataSet>(std::vector<Column>{{"TIP", ftSmallint}});
  wrong->CreateField<TStringField>("TIP", 5);
  EXPECT_EQ(DatabaseErrorOf([&] { wrong->Open(); }), "Type mismatch for field 'TIP'");
  auto missing = std::make_unique<MemoryDataSet>(std::vector<Column>{{"TIP", ftSmallint}});
  missing->CreateField<TSmallintField>("KIND");
  EXPECT_EQ(DatabaseErrorOf([&] { missing->Open(); }), "Field 'KIND' not found");
}

TEST(DbFields, AddingFieldsToAnOpenDataSetIsRefused) {
  auto ds = EditedRow();
  EXPECT_EQ(DatabaseErrorOf([&] { ds->CreateField<TIntegerField>("X"); }),
            "Cannot perform this operation on an open dataset");
}

TEST(DbFields, ValidateSeesTheValueBeforeItIsStored) {
  auto ds = EditedRow();
  TField* i = ds->FieldByName("I");
  i->OnValidate = [](TField& f, const void* buffer) {
    int32_t v = 0;
    if (buffer) std::memcpy(&v, buffer, 4);
    if (v < 0) throw EDatabaseError("negative " + f.FieldName());
  };
  i->SetAsInteger(5);
  EXPECT_EQ(DatabaseErrorOf([&] { i->SetAsInteger(-1); }), "negative I");
  EXPECT_EQ(i->AsInteger(), 5);
}

TEST(DbFields, ReadingAFieldOfAClosedDataSetIsAnError) {
  auto ds = std::make_unique<MemoryDataSet>(std::vector<Column>{{"N", ftInteger}});
  auto* n = ds->CreateField<TIntegerField>("N");
  EXPECT_EQ(DatabaseErrorOf([&] { n->AsInteger(); }),
            "Cannot perform this operation on a closed dataset");
}
