// STR, STRZERO and the padding functions: widths, decimals, rounding, the
// table context's default width, pad characters and nested padding calls.
#include <gtest/gtest.h>

#include "function_cases.h"

namespace {

TEST(FctnStr, WidthAndDecimals) {
  ExpectTexts({
      {"STR(3.14159, 6, 2)", "  3.14"}, {"STR(123456, 3)", "***"}, {"STR(5, 0)", ""}, {"STR(5, -2)", ""},
      {"STR(42, 5)", "   42"}, {"STR(-42, 5)", "  -42"}, {"STR(-42, 3)", "-42"}, {"STR(-42, 2)", "**"},
      {"STR(0.5, 5, 3)", "0.500"}, {"STR(1.5, 8, 2)", "    1.50"}, {"STR(2.75, 4, 1)", " 2.8"},
      {"STR(1, 3, 5)", "***"}, {"STR(1, 5, -1)", "    1"}, {"STR(1234567890123, 15)", "  1234567890123"},
      {"STR(42, 'x')", "        42"},
  });
}

TEST(FctnStr, HalvesRoundAwayFromZero) {
  ExpectTexts({
      {"STR(2.5, 3)", "  3"}, {"STR(3.5, 3)", "  4"}, {"STR(-2.5, 3)", " -3"}, {"STR(0.5, 3)", "  1"},
      {"STR(9.5, 3)", " 10"}, {"STR(0.125, 5, 2)", " 0.13"}, {"STR(0.375, 5, 2)", " 0.38"},
      {"STR(-0.25, 5, 1)", " -0.3"},
      {"STR(99.95, 6, 1)", " 100.0"},  // the double of 99.95 lies just above the half
      {"STR(2.4, 3)", "  2"},
  });
}

TEST(FctnStr, DefaultWidthComesFromTheContext) {
  EXPECT_EQ(EvaluateExpression("STR(42)").Text(), "        42");
  TestExpContext ctx;
  ctx.AddNumber("NUM", 42, 7);
  ctx.AddText("NAME", "x", 35);
  EXPECT_EQ(EvaluateExpression("STR(42)", &ctx).Text(), "        42");
  ctx.SetDefaultStrWidth(4);
  EXPECT_EQ(EvaluateExpression("STR(42)", &ctx).Text(), "  42");
  // Negative: the declared length of the first argument.
  ctx.SetDefaultStrWidth(-1);
  EXPECT_EQ(EvaluateExpression("STR(NUM)", &ctx).Text(), "     42");
  EXPECT_EQ(EvaluateExpression("STR(42.50)", &ctx).Text(), "   43");
  EXPECT_EQ(EvaluateExpression("STR(NUM + 1)", &ctx).Text(), "");
  EXPECT_EQ(EvaluateExpression("STR(NUM, 3)", &ctx).Text(), " 42");
}

TEST(FctnStr, DefaultWidthIsFixedWhenTheKeyIsCompiled) {
  TestExpContext ctx;
  ctx.SetDefaultStrWidth(4);
  TgsExpHandler key(&ctx, false, "STR(42)");
  ctx.SetDefaultStrWidth(12);  // another tag compiles with another width
  TgsExpHandler other(&ctx, false, "STR(42)");
  TgsExpValue value;
  key.Evaluate(value);
  EXPECT_EQ(value.Text(), "  42");
  other.Evaluate(value);
  EXPECT_EQ(value.Text(), "          42");
}

TEST(FctnStr, StrZero) {
  ExpectTexts({
      {"STRZERO(42, 5)", "00042"}, {"STRZERO(-5, 4)", "00-5"}, {"STRZERO(3.14159, 6, 2)", "003.14"},
      {"STRZERO(123, 2)", "**"}, {"STRZERO(7)", "0000000007"},
  });
}

TEST(FctnStr, ArgumentErrors) {
  EXPECT_EQ(ExpressionError("STR('1')"), "Number needed for Argument 1 of STR");
  EXPECT_EQ(ExpressionError("STRZERO()"), "Number needed for Argument 1 of STRZERO");
}

TEST(FctnPad, PaddingFunctions) {
  ExpectTexts({
      {"PADL('AB', 5, '*')", "***AB"}, {"PADR('AB', 5)", "AB   "}, {"PADC('AB', 5, '*')", "*AB**"},
      {"PADC('AB', 6, '*')", "**AB**"}, {"PADL('ABCDEF', 3)", "ABCDEF"}, {"PADR('ABCDEF', 3)", "ABCDEF"},
      {"PADC('', 3, '-')", "---"}, {"PADL('AB', 2.5)", "AB"}, {"PADL('AB', 3.5, '.')", "..AB"},
      {"PADL('AB', -4)", "AB"}, {"PADL(42, 5)", "   42"}, {"PADR(.T., 3, '_')", "T__"},
      {"PADL(1.5, 5)", "  1.5"},
  });
}

TEST(FctnPad, NestedCallsKeepTheirOwnPadAndWidth) {
  ExpectTexts({
      {"PADL(PADR('A', 3, '*'), 5)", "  A**"}, {"PADR(PADL('A', 3, '*'), 5, '-')", "**A--"},
      {"PADC(PADL(PADR('A', 2, '1'), 3, '2'), 7, PADL('', 1, '3'))", "332A133"},
      {"PADL('x', 2, PADR('', 1, '#')) + PADR('y', 2)", "#xy "},
  });
}

TEST(FctnPad, PadCharacterAndValueErrors) {
  EXPECT_EQ(ExpressionError("PADL('AB', 5, '**')"), "A Char value is required but invalid");
  EXPECT_EQ(ExpressionError("PADL('AB', 5, '')"), "A Char value is required but invalid");
  EXPECT_EQ(ExpressionError("PADL('AB', 5, 1)"), "A Char value is required but invalid");
  EXPECT_EQ(ExpressionError("PADR()"), "Value needed for Argument 1 of Pad");
  // An empty argument keeps no place: 5 becomes the value.
  EXPECT_EQ(ExpressionError("PADC(, 5)"), "Number needed for Argument 2 of PADC");
  EXPECT_EQ(ExpressionError("PADL('AB')"), "Number needed for Argument 2 of PADL");
  EXPECT_EQ(ExpressionError("PADC('AB', 'x')"), "Number needed for Argument 2 of PADC");
}

}  // namespace
