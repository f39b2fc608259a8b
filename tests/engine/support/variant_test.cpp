// The value cell: its storage, conversions and the three-way compare.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/support/gs6_date.h"
#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"
#include "platform/locale.h"
#include "support/error_text.h"

namespace {

TgsVariant Text(std::string_view s) {
  TgsVariant v;
  v.SetText(s);
  return v;
}

int Cmp(const TgsVariant& a, const TgsVariant& b, int prefix = 0, int* position = nullptr,
        const uint8_t* table = nullptr) {
  int pos = -1;
  int r = a.Compare(&b, pos, table, prefix);
  if (position) *position = pos;
  return r;
}

}  // namespace

TEST(Variant, SettersReuseTheAllocationUntilAValueOutgrowsIt) {
  TgsVariant v(16);
  const uint8_t* area = v.Data();
  v.SetText("ABCDEFGH");
  v.SetFloat(2.5);
  v.SetBoolean(true);
  EXPECT_EQ(v.Length(), 1u);
  EXPECT_EQ(v.Data(), area);
  v.SetText(std::string(40, 'x'));
  EXPECT_EQ(v.Size(), 40u);
  v.Reset();
  EXPECT_EQ(v.Data(), nullptr);
}

TEST(Variant, AppendPadTrimAndUpperCase) {
  TgsVariant v;
  v.AppendBytes(nullptr, 3);
  v.AppendBytes("ab", 0);
  EXPECT_TRUE(v.IsEmpty());
  v.SetText("ab");
  v.AppendBytes("cd", 2);
  EXPECT_EQ(v.Tag(), TgsVariant::kBinary);
  EXPECT_EQ(v.AsText(), "abcd");

  v.SetText("ab");
  v.PadText(5);
  v.PadText(3);
  EXPECT_EQ(v.AsText(), "ab   ");
  v.TrimText();
  EXPECT_EQ(v.AsText(), "ab");
  v.SetText("\xE8\xE2\xE0\xed\xEE\xE2 \xB8 x");  // иванов ё x
  v.UpperCaseText();
  EXPECT_EQ(v.AsText(), "\xC8\xC2\xC0\xCD\xCE\xC2 \xA8 X");

  TgsVariant f;
  f.SetFloat(1.0);
  f.PadText(20);
  f.TrimText();
  EXPECT_EQ(f.Length(), 8u);  // only text values pad and trim
}

TEST(Variant, CopyIsPrivate) {
  TgsVariant a = Text("abc");
  TgsVariant b;
  EXPECT_TRUE(b.CopyFrom(&a));
  a.SetText("xyz");
  EXPECT_EQ(b.AsText(), "abc");
  EXPECT_FALSE(b.CopyFrom(nullptr));
  EXPECT_EQ(b.Tag(), TgsVariant::kNone);
  TgsVariant c(a);
  TgsVariant moved(std::move(c));
  EXPECT_EQ(moved.AsText(), "xyz");
  EXPECT_EQ(c.Tag(), TgsVariant::kNone);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(c.Size(), 0u);
}

// A copy into a cell with a larger allocation (reused, not replaced) holds
// exactly the other's value: its length, tag and bytes, and an empty value
// stays empty.
TEST(Variant, CopyIntoALargerCellTakesTheOthersValueExactly) {
  TgsVariant big = Text("a much longer text than the next one");
  const TgsVariant shorter = Text("xy");
  big = shorter;
  EXPECT_EQ(big.AsText(), "xy");
  int position = 0;
  EXPECT_EQ(big.Compare(&shorter, position, nullptr, -1), 0);
  EXPECT_EQ(big.Length(), 2u);
  TgsVariant number;
  number.SetFloat(2.5);
  big = number;
  EXPECT_EQ(big.Tag(), TgsVariant::kFloat);
  EXPECT_EQ(big.AsFloat(), 2.5);
  big = TgsVariant();
  EXPECT_TRUE(big.IsEmpty());
  EXPECT_EQ(big.AsText(), "");
}

TEST(Variant, AppendingItsOwnBytesSurvivesTheGrowth) {
  TgsVariant v;
  v.SetText("abc");
  v.AppendBytes(v.Data(), v.Length());  // grows: the source area is replaced
  EXPECT_EQ(v.AsText(), "abcabc");
  v.SetText(std::string_view(reinterpret_cast<const char*>(v.Data()) + 1, 3));
  EXPECT_EQ(v.AsText(), "bca");
}

TEST(Variant, ConversionsOfTextValues) {
  EXPECT_TRUE(Text("j").AsBoolean());
  EXPECT_FALSE(Text("x").AsBoolean());
  EXPECT_EQ(Text("19800101").AsDate(), 2444240);
  EXPECT_EQ(Text("01.01.1980").AsDate(), 2444240);
  EXPECT_DOUBLE_EQ(Text(" 12,25").AsFloat(), 12.25);
  EXPECT_THROW(Text("12x").AsFloat(), platform::ConvertError);
  EXPECT_THROW(Text("32.13.2000").AsDate(), platform::ConvertError);
  TgsVariant empty;
  empty.SetText("");
  EXPECT_FALSE(empty.AsBoolean());
  EXPECT_EQ(empty.AsDate(), 0);
  EXPECT_EQ(empty.AsFloat(), 0.0);
}

TEST(Variant, ConversionsOfFloatDateAndBooleanValues) {
  TgsVariant v;
  v.SetFloat(0.75);
  EXPECT_FALSE(v.AsBoolean());
  v.SetFloat(-1.5);
  EXPECT_TRUE(v.AsBoolean());
  EXPECT_EQ(v.AsText(), "-1,5");
  v.SetFloat(2444240.9);
  EXPECT_EQ(v.AsDate(), 2444240);
  v.SetFloat(1.0e100);  // "no date" inside expressions
  EXPECT_EQ(v.AsDate(), 0);
  v.SetFloat(5.0);  // a day number before the year 1 has no date
  EXPECT_EQ(v.AsDate(), 0);

  v.SetDate(2444240);
  EXPECT_FALSE(v.AsBoolean());
  EXPECT_EQ(v.AsText(), "01.01.1980");

  v.SetBoolean(true);
  EXPECT_EQ(v.AsDate(), 0);
  EXPECT_EQ(v.AsFloat(), 1.0);
  EXPECT_EQ(v.AsText(), "T");
}

TEST(Variant, BinaryValuesReadOnlyTheBytesTheyHave) {
  TgsVariant v;
  int32_t day = 2444240;
  v.SetBinary(&day, sizeof day);
  EXPECT_EQ(v.AsDate(), 2444240);
  double d = 3.5;
  v.SetBinary(&d, sizeof d);
  EXPECT_EQ(v.AsFloat(), 3.5);
  v.SetBinary("\x01\x02", 2);  // shorter than a day number or a double
  EXPECT_EQ(v.AsDate(), 0x0201);
  EXPECT_EQ(v.AsText(), "\x01\x02");
}

TEST(Variant, TextBufferIsTerminatedAndBounded) {
  char buf[5];
  std::memset(buf, 'z', sizeof buf);
  Text("abcdefgh").AsTextBuffer(buf, sizeof buf);
  EXPECT_STREQ(buf, "abcd");
}

TEST(VariantCompare, TextPrefixesTakeTheCallersResult) {
  int pos = 0;
  EXPECT_EQ(Cmp(Text("AB"), Text("ABC"), 0, &pos), 0);
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(Cmp(Text("AB"), Text("ABC"), -1), -1);
  EXPECT_EQ(Cmp(Text("AB"), Text("ABC"), 5), 1);
  EXPECT_EQ(Cmp(Text("ABD"), Text("ABC"), 0, &pos), 1);
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(Cmp(Text("ABC"), Text("ABC"), 0, &pos), 0);
  EXPECT_EQ(pos, 4);
  // Unsigned bytes: Cyrillic sorts after Latin.
  EXPECT_EQ(Cmp(Text("\xC0"), Text("Z")), 1);
}

TEST(VariantCompare, CollationTableMapsTextBytes) {
  uint8_t fold[256];
  for (int c = 0; c < 256; ++c) fold[c] = static_cast<uint8_t>(c >= 'a' && c <= 'z' ? c - 32 : c);
  EXPECT_EQ(Cmp(Text("abc"), Text("ABC"), 0, nullptr, fold), 0);
  EXPECT_EQ(Cmp(Text("abc"), Text("ABC")), 1);
  // Binary values ignore the table.
  TgsVariant a, b;
  a.SetBinary("abc", 3);
  b.SetBinary("ABC", 3);
  EXPECT_EQ(Cmp(a, b, 0, nullptr, fold), 1);
}

TEST(VariantCompare, TypesMustMatchUnlessOneIsBinary) {
  TgsVariant date;
  date.SetDate(2444240);
  EXPECT_EQ(ErrorOf([&] { Cmp(Text("x"), date); }), "Variant types mismatch for compare");
  TgsVariant bin;
  bin.SetBinary("AB", 2);
  int pos = 0;
  EXPECT_EQ(Cmp(bin, Text("ABC"), -1, &pos), -1);  // compared as text, prefix rule
  EXPECT_EQ(Cmp(Text("ABD"), bin), 1);
}

TEST(VariantCompare, NumbersDatesBooleansAndEmptyCells) {
  TgsVariant a, b;
  a.SetFloat(-2);
  b.SetFloat(10);
  EXPECT_EQ(Cmp(a, b), -1);
  a.SetDate(5);
  b.SetDate(5);
  EXPECT_EQ(Cmp(a, b), 0);
  a.SetBoolean(true);
  b.SetBoolean(false);
  EXPECT_EQ(Cmp(a, b), 1);

  TgsVariant none, emptyText = Text("");
  EXPECT_EQ(Cmp(none, Text("a")), -1);
  EXPECT_EQ(Cmp(none, emptyText), 0);
  EXPECT_EQ(Cmp(Text("a"), emptyText), 1);
  int pos = 7;
  EXPECT_EQ(Text("a").Compare(nullptr, pos, nullptr, 0), 1);
  EXPECT_EQ(pos, 0);
}

TEST(VariantCompare, RawCompareTakesFloatBytesAsBinary) {
  TgsVariant f, bin;
  f.SetFloat(1.0);
  unsigned char bytes[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  bin.SetBinary(bytes, 8);
  int pos = 0;
  // Against binary bytes a float compares bytewise: 1.0 is 00..F0 3F.
  EXPECT_EQ(f.CompareRaw(&bin, pos, nullptr, 0), -1);
  EXPECT_EQ(pos, 1);
  TgsVariant txt = Text("x");
  EXPECT_THROW(f.Compare(&txt, pos, nullptr, 0), EDeridarError);
  EXPECT_EQ(f.CompareRaw(&txt, pos, nullptr, 0), -1);  // 0x00 < 'x'
}
