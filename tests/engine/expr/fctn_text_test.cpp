// Built-in text functions, table-driven: trimming, case, cutting and
// padding, searching and replacing, SOUNDEX, character codes; with their
// result types and argument errors.
#include <gtest/gtest.h>

#include "function_cases.h"

namespace {

TEST(FctnText, Trimming) {
  ExpectTexts({
      {"ALLTRIM('  a b  ')", "a b"}, {"ALLTRIM(CHR(9) + 'x' + CHR(13) + CHR(10))", "x"},
      {"LTRIM('  a b  ')", "a b  "}, {"TRIM('  a b  ')", "  a b"}, {"RTRIM('  a b  ')", "  a b"},
      {"TRIM('')", ""}, {"ALLTRIM('   ')", ""},
  });
}

TEST(FctnText, CaseFunctions) {
  ExpectTexts({
      {"UPPER('abc xyz')", "ABC XYZ"}, {"UPPER('\xE0\xE1\xB8')", "\xC0\xC1\xA8"},
      {"LOWER('ABC \xC0\xA8')", "abc \xE0\xB8"}, {"PROPER([joHN o'BRIEN-SMITH])", "John O'brien-Smith"},
      {"PROPER('a.b_c(d)e f1g 2h')", "A.B_C(D)E F1g 2h"},
      {"PROPER('\xE8\xE2\xE0\xED \xCF\xC5\xD2\xD0\xCE\xC2')", "\xC8\xE2\xE0\xED \xCF\xE5\xF2\xF0\xEE\xE2"},
      {"PROPER('')", ""},
  });
}

TEST(FctnText, UpperOfOemTextGoesThroughAnsi) {
  // OEM (866) "аяё" upper-cases to OEM "АЯЁ" on a table whose text is OEM.
  const std::string oemLower = "\xA0\xEF\xF1", oemUpper = "\x80\x9F\xF0";
  TestExpContext oem;
  oem.AddText("NAME", oemLower);
  EXPECT_EQ(EvaluateExpression("UPPER(NAME)", &oem).Text(), oemUpper);
  // Without the OEM setting the bytes are taken as ANSI.
  TestExpContext ansi;
  ansi.SetTranslateOem(false);
  ansi.AddText("NAME", oemLower);
  EXPECT_EQ(EvaluateExpression("UPPER(NAME)", &ansi).Text(), "\xA0\xCF\xD1");
  EXPECT_EQ(EvaluateExpression("UPPER('')", &oem).Text(), "");
}

TEST(FctnText, LeftRightSubstrSpace) {
  ExpectTexts({
      {"LEFT('AB', 5)", "AB   "}, {"LEFT('ABC', 0)", ""}, {"LEFT('ABC', 0.005)", ""},
      {"LEFT('ABC', 2.9)", "AB"}, {"LEFT('ABC', -3)", ""}, {"RIGHT('ABC', 2)", "BC"},
      {"RIGHT('ABC', 5)", "ABC"}, {"RIGHT('ABC', 0)", ""}, {"RIGHT('ABC', -1)", ""},
      {"SUBSTR('ABCDE', 2, 3)", "BCD"}, {"SUBSTR('ABCDE', 4)", "DE"}, {"SUBSTR('ABCDE', 6)", ""},
      {"SUBSTR('ABCDE', 0)", ""}, {"SUBSTR('ABCDE', -1, 2)", "AB"}, {"SUBSTR('ABCDE', 2, 0)", ""},
      {"SUBSTR('ABCDE', 2, -1)", ""}, {"SUBSTR('ABCDE', 2, 99)", "BCDE"}, {"SUBSTR('ABCDE', 2, 'x')", "BCDE"},
      {"SUBSTR('ABCDE', -2147483648, 2147483647)", "ABCDE"}, {"SPACE(3)", "   "}, {"SPACE(0)", ""},
      {"SPACE(-5)", ""},
  });
}

TEST(FctnText, LenCountsTrailingBlanks) {
  TestExpContext ctx;
  ctx.AddText("NAME", "AB   ", 5);
  ExpectNumbers({{"LEN(NAME)", 5}, {"LEN('')", 0}, {"LEN('abc' + ' ')", 4}}, &ctx);
  TestEvaluation len = EvaluateExpression("LEN('abc')");
  EXPECT_EQ(len.value.GetKind(), TgsExpValue::Kind::Integer);
}

TEST(FctnText, AtAndAtc) {
  ExpectNumbers({
      {"AT('B', 'ABCB')", 2}, {"AT('B', 'ABCB', 2)", 4}, {"AT('B', 'ABCB', 3)", 4}, {"AT('X', 'ABC')", 0},
      {"AT('AA', 'AAA', 2)", 2}, {"AT('B', 'ABCB', 0)", 0}, {"AT('B', 'ABCB', -1)", 0}, {"AT('', 'ABC')", 0},
      {"AT('b', 'ABC')", 0}, {"AT('B', 'ABCB', 'x')", 2}, {"ATC('b', 'ABC')", 2}, {"ATC('C', 'abcabc', 2)", 6},
      {"ATC('\xE0', '\xC0')", 0},
  });
}

TEST(FctnText, StrTran) {
  ExpectTexts({
      {"STRTRAN('AXBXC', 'X', '-')", "A-B-C"}, {"STRTRAN('AXBXC', 'X', '-', 2)", "AXB-C"},
      {"STRTRAN('AXBXC', 'X', '-', 1, 1)", "A-BXC"}, {"STRTRAN('AXBXC', 'X')", "ABC"},
      {"STRTRAN('AXBXC', 'X', '-', 1, 0)", "AXBXC"}, {"STRTRAN('AXBXC', 'X', '-', 1, -1)", "AXBXC"},
      {"STRTRAN('AXBXC', 'X', 5)", "ABC"}, {"STRTRAN('AXBXC', '', '-')", "AXBXC"},
      {"STRTRAN('', 'X', '-')", ""}, {"STRTRAN('AAAA', 'AA', 'b')", "bb"},
      {"STRTRAN('AXBXC', 'X', '--', 3)", "AXBXC"},
  });
}

TEST(FctnText, Soundex) {
  ExpectTexts({
      {"SOUNDEX('ROBERT')", "R163"}, {"SOUNDEX('RUPERT')", "R163"}, {"SOUNDEX('robert')", "R163"},
      {"SOUNDEX('A')", "A000"}, {"SOUNDEX('')", "0000"}, {"SOUNDEX('TYMCZAK')", "T520"},
      {"SOUNDEX('PFISTER')", "P123"}, {"SOUNDEX('ASHCRAFT')", "A261"}, {"SOUNDEX('1ABC')", "1200"},
      {"SOUNDEX('B B B')", "B100"},  // the first letter is not a digit
  });
}

TEST(FctnText, AscAndChr) {
  ExpectNumbers({{"ASC('A')", 65}, {"ASC('')", 0}, {"ASC('\xFF')", 255}, {"ASC('ab')", 97}});
  ExpectTexts({{"CHR(65)", "A"}, {"CHR(65.5)", "B"}, {"CHR(66.5)", "B"}, {"CHR(255)", "\xFF"},
               {"CHR(0)", std::string(1, '\0')}});
  EXPECT_EQ(ExpressionError("CHR(256)"), "A Byte value is required but invalid");
  EXPECT_EQ(ExpressionError("CHR(-1)"), "A Byte value is required but invalid");
  EXPECT_EQ(ExpressionError("CHR(1e)"), "Syntax Error in expression \"CHR(1e)\"");
}

TEST(FctnText, TypedArgumentsAreChecked) {
  EXPECT_EQ(ExpressionError("UPPER(1)"), "Text needed for Argument 1 of UPPER");
  EXPECT_EQ(ExpressionError("LEFT('a', 'b')"), "Number needed for Argument 2 of LEFT");
  EXPECT_EQ(ExpressionError("SUBSTR('a')"), "Number needed for Argument 2 of SUBSTR");
  EXPECT_EQ(ExpressionError("LEN(1)"), "Text needed for Argument 1 of LEN");
  // A date is a member of the number group.
  EXPECT_EQ(EvaluateExpression("SPACE({20240101} - {20231231})").Text(), " ");
}

TEST(FctnText, HugeSizesAreRefused) {
  EXPECT_EQ(ExpressionError("SPACE(2000000000)"), "Argument for SPACE must be at most 16777216");
  EXPECT_EQ(ExpressionError("LEFT('a', 1e9)"), "Syntax Error in expression \"LEFT('a', 1e9)\"");
  EXPECT_EQ(ExpressionError("LEFT('a', 1000000000)"), "Argument for LEFT must be at most 16777216");
  EXPECT_EQ(ExpressionError("PADL('a', 1000000000)"), "Argument for PADL must be at most 16777216");
  EXPECT_EQ(ExpressionError("STR(1, 1000000000)"), "Argument for STR must be at most 16777216");
}

}  // namespace
