// Built-in date, conversion, logical and list functions: the blank date,
// display and storage forms, DESCEND by type, IIF evaluating one branch,
// BETWEEN, INLIST, EMPTY, MAX and MIN.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/support/gs6_date.h"
#include "function_cases.h"
#include "platform/locale.h"

namespace {

class FctnDate : public ::testing::Test {
 protected:
  platform::LocaleGuard locale_{platform::LocaleSettings{}};  // Russian: dd.mm.yyyy, ","
  const int32_t leapDay_ = DBFDate().TextToDay("20240229");
};

TEST_F(FctnDate, CtodAndTheBlankDate) {
  TestEvaluation date = EvaluateExpression("CTOD('29.02.2024')");
  EXPECT_EQ(date.type, TgsExpValueType::Date);
  EXPECT_EQ(date.Number(), leapDay_);
  EXPECT_EQ(EvaluateExpression("CTOD('20240229')").Number(), leapDay_);
  EXPECT_EQ(EvaluateExpression("CTOD('')").Number(), BlankDate);
  EXPECT_EQ(EvaluateExpression("CTOD('   ')").Number(), 0);
  EXPECT_EQ(ExpressionError("CTOD('31.02.2024')"), "A Date value is required but invalid");
  EXPECT_EQ(ExpressionError("CTOD(1)"), "Text needed for Argument 1 of CTOD");
}

TEST_F(FctnDate, DateTexts) {
  ExpectTexts({{"DTOS({29.02.2024})", "20240229"}, {"DTOS(CTOD(''))", "        "}, {"DTOS({})", "        "},
               {"DTOC({20240229})", "29.02.2024"}, {"DTOC({20240229}, 1)", "20240229"},
               {"DTOC({20240229}, 1.2)", "20240229"}, {"DTOC({20240229}, 2)", "29.02.2024"},
               {"DTOC({20240229}, '1')", "29.02.2024"}, {"DTOC(CTOD(''))", "          "},
               {"DTOC({20240229} + 1)", "01.03.2024"}});
}

TEST_F(FctnDate, DayOfWeekAndToday) {
  EXPECT_EQ(EvaluateExpression("DOW({20240229})").Number(), 5) << "a Thursday";
  EXPECT_EQ(EvaluateExpression("DOW({20240303})").Number(), 1) << "a Sunday";
  EXPECT_EQ(EvaluateExpression("DOW(CTOD(''))").Number(), 0);
  EXPECT_EQ(EvaluateExpression("DOW({})").Number(), 0);
  TestEvaluation today = EvaluateExpression("DATE()");
  EXPECT_EQ(today.type, TgsExpValueType::Date);
  EXPECT_EQ(today.Number(), DBFDate().Today());
  EXPECT_EQ(ExpressionError("DTOS('20240229')"), "Date needed for Argument 1 of DTOS");
  // Day numbers outside the calendar have no text and no weekday.
  EXPECT_EQ(EvaluateExpression("DTOS(99999999999)").Text(), "        ");
  EXPECT_EQ(EvaluateExpression("DOW(-5)").Number(), 0);
}

TEST(FctnConvert, Val) {
  platform::LocaleGuard russian{platform::LocaleSettings{}};
  EXPECT_DOUBLE_EQ(EvaluateExpression("VAL('12,5')").Number(), 12.5);
  EXPECT_DOUBLE_EQ(EvaluateExpression("VAL('  -3 ')").Number(), -3);
  EXPECT_DOUBLE_EQ(EvaluateExpression("VAL('')").Number(), 0);
  EXPECT_DOUBLE_EQ(EvaluateExpression("VAL('abc')").Number(), 0);
  platform::LocaleSettings point;
  point.decimalSeparator = '.';
  platform::LocaleGuard english{point};
  EXPECT_DOUBLE_EQ(EvaluateExpression("VAL('12.5')").Number(), 12.5);
  EXPECT_EQ(EvaluateExpression("VAL('1')").type, TgsExpValueType::Number);
}

TEST(FctnDescend, ReversesTheOrderOfEachType) {
  TestEvaluation text = EvaluateExpression("DESCEND('A ' + CHR(0))");
  EXPECT_EQ(text.type, TgsExpValueType::Text);
  EXPECT_EQ(text.Text(), std::string("\xBF\xE0\0", 3));
  TestEvaluation number = EvaluateExpression("DESCEND(5)");
  EXPECT_EQ(number.type, TgsExpValueType::Number);
  EXPECT_EQ(number.Number(), -5);
  EXPECT_FALSE(std::signbit(EvaluateExpression("DESCEND(0)").Number()));
  TestEvaluation date = EvaluateExpression("DESCEND({20240229})");
  EXPECT_EQ(date.type, TgsExpValueType::Date);
  EXPECT_EQ(date.Number(), 5231808.0 - DBFDate().TextToDay("20240229"));
  EXPECT_EQ(EvaluateExpression("DESCEND(CTOD(''))").Number(), BlankDate);
  EXPECT_FALSE(EvaluateExpression("DESCEND(.T.)").Boolean());
  EXPECT_EQ(EvaluateExpression("DESCEND(.T.)").type, TgsExpValueType::Boolean);
  TestEvaluation empty = EvaluateExpression("DESCEND(())");
  EXPECT_EQ(empty.type, TgsExpValueType::Empty);
  EXPECT_FALSE(empty.Boolean());
  TestEvaluation len = EvaluateExpression("DESCEND(LEN('abc'))");
  EXPECT_EQ(len.Number(), -3);
}

TEST(FctnDescend, AscendingResultsAreDescendingTexts) {
  const char* texts[] = {"", "A", "AB", "B", "b", "\xC0"};
  for (const char* a : texts) {
    for (const char* b : texts) {
      if (std::string(a).size() != std::string(b).size()) continue;
      std::string ea = EvaluateExpression("DESCEND('" + std::string(a) + "')").Text();
      std::string eb = EvaluateExpression("DESCEND('" + std::string(b) + "')").Text();
      EXPECT_EQ(std::string(a) < std::string(b), eb < ea) << a << " / " << b;
    }
  }
}

// A variable that counts its reads, to see which IIF branch ran.
TEST(FctnLogic, IifEvaluatesOnlyTheChosenBranch) {
  TestExpContext ctx;
  TestFieldVar& left = ctx.AddText("L", "left");
  TestFieldVar& right = ctx.AddText("R", "right");
  TestEvaluation a = EvaluateExpression("IIF(.T., L, R)", &ctx);
  EXPECT_EQ(a.Text(), "left");
  EXPECT_EQ(left.Reads(), 1);
  EXPECT_EQ(right.Reads(), 0);
  EXPECT_EQ(EvaluateExpression("IIF(.F., L, R)", &ctx).Text(), "right");
  EXPECT_EQ(left.Reads(), 1);
  EXPECT_EQ(right.Reads(), 1);
  // The branch not taken may even be in error; the result has the type of
  // the branch taken, and no branch gives Empty.
  EXPECT_EQ(EvaluateExpression("IIF(.T., 1, 1/0)").Number(), 1);
  EXPECT_EQ(EvaluateExpression("IIF(.F., 'A', 1)").type, TgsExpValueType::Number);
  EXPECT_EQ(EvaluateExpression("IIF(.F., 'A')").type, TgsExpValueType::Empty);
  EXPECT_EQ(ExpressionError("IIF(1, 'A', 'B')"), "Boolean needed for Argument 1 of IIF");
}

TEST(FctnLogic, Between) {
  // Texts compare by their bytes.
  ExpectBooleans({{"BETWEEN(5, 1, 10)", true}, {"BETWEEN(1, 1, 1)", true}, {"BETWEEN(0, 1, 10)", false},
                  {"BETWEEN('B', 'A', 'C')", true}, {"BETWEEN('b', 'A', 'C')", false},
                  {"BETWEEN({20240229}, 0, {20241231})", true}});
  EXPECT_EQ(ExpressionError("BETWEEN(5, 'A', 10)"), "Number needed for Argument 2 of BETWEEN");
  EXPECT_EQ(ExpressionError("BETWEEN('x', 'A')"), "Text needed for Argument 3 of BETWEEN");
}

TEST(FctnLogic, Inlist) {
  ExpectBooleans({{"INLIST('B  ', 'A', 'B')", true}, {"INLIST('B', 'A', 'B  ')", false},
                  {"INLIST(2, 1, 2, 3)", true}, {"INLIST(4, 1, 2, 3)", false}, {"INLIST(1, '1')", false},
                  {"INLIST()", false}, {"INLIST(1)", false}});
}

TEST(FctnLogic, Empty) {
  TestExpContext ctx;
  ctx.AddDate("NODATE", 0);
  ctx.AddDate("BORN", 2450000);
  struct Case {
    const char* expression;
    bool empty;
  } cases[] = {
      {"EMPTY(CTOD(''))", true}, {"EMPTY(NODATE)", true},   {"EMPTY(BORN)", false},  {"EMPTY(0)", true},
      {"EMPTY(0.5)", false},     {"EMPTY('')", true},       {"EMPTY('   ')", true},  {"EMPTY(CHR(9))", false},
      {"EMPTY(' x ')", false},   {"EMPTY(.F.)", true},      {"EMPTY(.T.)", false},   {"EMPTY(())", false},
      {"EMPTY(LEN(''))", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    TestEvaluation result = EvaluateExpression(c.expression, &ctx);
    EXPECT_EQ(result.type, TgsExpValueType::Boolean);
    EXPECT_EQ(result.Boolean(), c.empty);
  }
}

TEST(FctnLogic, MaxAndMin) {
  EXPECT_EQ(EvaluateExpression("MAX(1, 5, 3)").Number(), 5);
  EXPECT_EQ(EvaluateExpression("MIN(4, 2, 3)").Number(), 2);
  EXPECT_EQ(EvaluateExpression("MAX('B', 'A')").Text(), "B");
  EXPECT_EQ(EvaluateExpression("MIN('b', 'B')").Text(), "B") << "byte order";
  EXPECT_EQ(EvaluateExpression("MAX(7)").Number(), 7);
  EXPECT_EQ(EvaluateExpression("MAX(.F., .T.)").Boolean(), true);
  TestEvaluation date = EvaluateExpression("MAX({20240101}, {20240229})");
  EXPECT_EQ(date.type, TgsExpValueType::Date);
  EXPECT_EQ(EvaluateExpression("MAX('A', 'A  ')").Text(), "A  ");
  EXPECT_EQ(EvaluateExpression("MIN(2, 2.0)").type, TgsExpValueType::Number);
  EXPECT_EQ(ExpressionError("MIN(1, {20240101})"), "All arguments for Min() must be of the same type");
  EXPECT_EQ(ExpressionError("MAX()"), "A value is required for Max()");
}

TEST(FctnLogic, MaxKeepsTheFirstOfEqualValues) {
  TestExpContext ctx;
  ctx.AddNumber("N", 5);
  auto& integer = ctx.AddNumber("I", 0);
  integer.SetNumber(5, TgsExpValueType::Number);
  TestEvaluation result = EvaluateExpression("MAX(LEN('abcde'), N)", &ctx);
  EXPECT_EQ(result.value.GetKind(), TgsExpValue::Kind::Integer);
}

}  // namespace
