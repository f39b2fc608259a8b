// Operator evaluation by operand type: the number group with its result
// types, text concatenation, booleans, and groups.
#include <gtest/gtest.h>

#include <cmath>

#include "support/expression_context.h"

namespace {

class ExprOperators : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_.AddDate("BORN", 2450000);
    ctx_.AddDate("LATER", 2450010);
    ctx_.AddNumber("N", 7);
    ctx_.AddText("NAME", "AB  ");
    ctx_.AddBoolean("FLAG", true);
    auto& count = ctx_.AddNumber("COUNT", 0);
    count.SetNumber(3, TgsExpValueType::Integer);
  }
  TestEvaluation Eval(std::string_view text) { return EvaluateExpression(text, &ctx_); }
  TestExpContext ctx_;
};

TEST_F(ExprOperators, Arithmetic) {
  EXPECT_DOUBLE_EQ(Eval("1 + 2").Number(), 3);
  EXPECT_DOUBLE_EQ(Eval("N - 10").Number(), -3);
  EXPECT_DOUBLE_EQ(Eval("N * 1.5").Number(), 10.5);
  EXPECT_DOUBLE_EQ(Eval("N / 2").Number(), 3.5);
  EXPECT_DOUBLE_EQ(Eval("0.1 + 0.2").Number(), 0.1 + 0.2);
}

TEST_F(ExprOperators, PowerIsTheRealPower) {
  EXPECT_DOUBLE_EQ(Eval("2^3").Number(), 8);
  EXPECT_DOUBLE_EQ(Eval("2 ** 3").Number(), 8);
  EXPECT_DOUBLE_EQ(Eval("2^0").Number(), 1);
  EXPECT_DOUBLE_EQ(Eval("2^1").Number(), 2);
  EXPECT_DOUBLE_EQ(Eval("2^-1").Number(), 0.5);
  EXPECT_DOUBLE_EQ(Eval("2^2.5").Number(), std::pow(2.0, 2.5));
}

TEST_F(ExprOperators, NumberComparisons) {
  EXPECT_TRUE(Eval("N = 7").Boolean());
  EXPECT_TRUE(Eval("N # 8").Boolean());
  EXPECT_TRUE(Eval("N > 6.5").Boolean());
  EXPECT_TRUE(Eval("N < 7.5").Boolean());
  EXPECT_TRUE(Eval("N >= 7").Boolean());
  EXPECT_TRUE(Eval("N <= 7").Boolean());
  EXPECT_FALSE(Eval("N < 7").Boolean());
  EXPECT_EQ(Eval("N = 7").type, TgsExpValueType::Boolean);
}

TEST_F(ExprOperators, ResultTypeIsTheRightOperandsType) {
  TestEvaluation days = Eval("LATER - BORN");
  EXPECT_EQ(days.type, TgsExpValueType::Date);
  EXPECT_DOUBLE_EQ(days.Number(), 10);
  EXPECT_EQ(Eval("BORN + 1").type, TgsExpValueType::Number);
  EXPECT_EQ(Eval("1 + BORN").type, TgsExpValueType::Date);
  EXPECT_DOUBLE_EQ(Eval("1 + BORN").Number(), 2450001);
  EXPECT_EQ(Eval("BORN - {20240101}").type, TgsExpValueType::Date);
  EXPECT_EQ(Eval("N + COUNT").type, TgsExpValueType::Integer);
  EXPECT_EQ(Eval("COUNT + N").type, TgsExpValueType::Number);
  EXPECT_TRUE(Eval("BORN < LATER").Boolean());
  EXPECT_TRUE(Eval("COUNT = 3").Boolean());
}

TEST_F(ExprOperators, ExactlyEqualComparesWholeValues) {
  // Texts: same length and same bytes; no trailing-blank, prefix, wildcard
  // or case rule.
  EXPECT_TRUE(Eval("NAME == 'AB  '").Boolean());
  EXPECT_FALSE(Eval("NAME == 'AB'").Boolean());
  EXPECT_TRUE(Eval("NAME = 'AB'").Boolean());
  EXPECT_FALSE(Eval("'ABC' == 'AB'").Boolean());
  EXPECT_FALSE(Eval("'AB' == 'ABC'").Boolean());
  EXPECT_FALSE(Eval("'SMITH' == 'SMI*'").Boolean());
  EXPECT_TRUE(Eval("'' == ''").Boolean());
  EXPECT_FALSE(Eval("' ' == ''").Boolean());
  EXPECT_FALSE(EvaluateExpression("'abc' == 'ABC'", &ctx_, {.caseInsensitive = true}).Boolean());
  // Numbers, dates and logicals: equal values.
  EXPECT_TRUE(Eval("N == 7.0").Boolean());
  EXPECT_FALSE(Eval("N == 7.5").Boolean());
  EXPECT_TRUE(Eval("COUNT == 3").Boolean());
  EXPECT_TRUE(Eval("BORN + 10 == LATER").Boolean());
  EXPECT_FALSE(Eval("BORN == LATER").Boolean());
  EXPECT_TRUE(Eval("FLAG == .T.").Boolean());
  EXPECT_FALSE(Eval("FLAG == .F.").Boolean());
  EXPECT_EQ(Eval("N == 7").type, TgsExpValueType::Boolean);
}

TEST_F(ExprOperators, MinusNegatesNamesCallsAndGroups) {
  EXPECT_DOUBLE_EQ(Eval("-N").Number(), -7);
  EXPECT_DOUBLE_EQ(Eval("ABS(-N)").Number(), 7);
  EXPECT_DOUBLE_EQ(Eval("- N + 10").Number(), 3);
  EXPECT_DOUBLE_EQ(Eval("-(N - 10)").Number(), 3);
  EXPECT_DOUBLE_EQ(Eval("-ABS(N) * 2").Number(), -14);
  EXPECT_DOUBLE_EQ(Eval("N - -N").Number(), 14);
  EXPECT_DOUBLE_EQ(Eval("-N^2").Number(), 49);
  EXPECT_TRUE(Eval("-N < 0 .AND. -(-N) = N").Boolean());
  TestEvaluation count = Eval("-COUNT");
  EXPECT_EQ(count.type, TgsExpValueType::Integer);
  EXPECT_DOUBLE_EQ(count.Number(), -3);
  // A negated day number is a plain number.
  EXPECT_EQ(Eval("-BORN").type, TgsExpValueType::Number);
  EXPECT_EQ(Eval("-(LATER - BORN)").type, TgsExpValueType::Number);
}

TEST_F(ExprOperators, TextConcatenation) {
  EXPECT_EQ(Eval("'A' + 'B'").Text(), "AB");
  EXPECT_EQ(Eval("NAME + 'CD'").Text(), "AB  CD");
  EXPECT_EQ(Eval("'AB  ' - 'CD'").Text(), "ABCD  ");
  EXPECT_EQ(Eval("NAME - 'CD' - 'E'").Text(), "ABCDE  ");
  EXPECT_EQ(Eval("'' + 'X'").Text(), "X");
  EXPECT_EQ(Eval("'X' - ''").Text(), "X");
  EXPECT_EQ(Eval("'  ' - 'X'").Text(), "X  ");
  EXPECT_EQ(Eval("'A' + 'B'").type, TgsExpValueType::Text);
}

TEST_F(ExprOperators, BooleanOperators) {
  EXPECT_TRUE(Eval(".T. .AND. FLAG").Boolean());
  EXPECT_FALSE(Eval(".F. .AND. FLAG").Boolean());
  EXPECT_TRUE(Eval(".F. .OR. FLAG").Boolean());
  EXPECT_FALSE(Eval(".NOT. FLAG").Boolean());
  EXPECT_TRUE(Eval(".T. = FLAG").Boolean());
  EXPECT_TRUE(Eval(".F. # FLAG").Boolean());
  EXPECT_TRUE(Eval("TRUE .AND. .NOT. FALSE").Boolean());
  EXPECT_EQ(Eval("FLAG .OR. .F.").type, TgsExpValueType::Boolean);
}

TEST_F(ExprOperators, SystemVariables) {
  EXPECT_TRUE(EvaluateExpression("TRUE").Boolean());
  EXPECT_FALSE(EvaluateExpression("false").Boolean());
  TestEvaluation pi = EvaluateExpression("PI");
  EXPECT_EQ(pi.type, TgsExpValueType::Number);
  EXPECT_DOUBLE_EQ(pi.Number(), 3.1415926535897932385);
}

TEST_F(ExprOperators, GroupsPassTheirValueAndEmptyGroupsReportEmpty) {
  EXPECT_EQ(Eval("(NAME)").Text(), "AB  ");
  EXPECT_EQ(Eval("()").type, TgsExpValueType::Empty);
  EXPECT_EQ(Eval("(  )").type, TgsExpValueType::Empty);
  // Two empty groups: no operation, but a comparison still reports Boolean.
  EXPECT_EQ(Eval("() = ()").type, TgsExpValueType::Boolean);
  EXPECT_EQ(Eval("() + ()").type, TgsExpValueType::Empty);
}

TEST_F(ExprOperators, EvaluationRepeatsOnTheCurrentValues) {
  TgsExpHandler handler(&ctx_, false, "N * 2 + 1");
  auto* n = static_cast<TestFieldVar*>(ctx_.FindVariable("N"));
  TgsExpValue value;
  for (int i = 0; i < 5; ++i) {
    n->SetNumber(i);
    EXPECT_EQ(handler.Evaluate(value), TgsExpValueType::Number);
    EXPECT_DOUBLE_EQ(value.AsDouble(), i * 2 + 1);
  }
  EXPECT_EQ(n->Reads(), 5);
}

}  // namespace
