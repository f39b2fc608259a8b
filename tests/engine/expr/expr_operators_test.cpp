// Operator evaluation beyond what the property test's reference covers:
// result types within the number group, exact equality, negation, empty
// groups and repeated evaluation.
#include <gtest/gtest.h>

#include "function_cases.h"

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
  ExpectBooleans({{"NAME == 'AB  '", true}, {"NAME == 'AB'", false}, {"NAME = 'AB'", true}, {"'ABC' == 'AB'", false},
                  {"'AB' == 'ABC'", false}, {"'SMITH' == 'SMI*'", false}, {"'' == ''", true}, {"' ' == ''", false}},
                 &ctx_);
  EXPECT_FALSE(EvaluateExpression("'abc' == 'ABC'", &ctx_, {.caseInsensitive = true}).Boolean());
  // Numbers, dates and logicals: equal values.
  ExpectBooleans({{"N == 7.0", true}, {"N == 7.5", false}, {"COUNT == 3", true}, {"BORN + 10 == LATER", true},
                  {"BORN == LATER", false}, {"FLAG == .T.", true}, {"FLAG == .F.", false}},
                 &ctx_);
}

// Where the minus binds is checked on tree shapes by the tokenizer tests.
TEST_F(ExprOperators, MinusNegatesNamesCallsAndGroups) {
  EXPECT_DOUBLE_EQ(Eval("-(N - 10)").Number(), 3);
  EXPECT_DOUBLE_EQ(Eval("N - -N").Number(), 14);
  EXPECT_DOUBLE_EQ(Eval("-N^2").Number(), 49);
  TestEvaluation count = Eval("-COUNT");
  EXPECT_EQ(count.type, TgsExpValueType::Integer);
  EXPECT_DOUBLE_EQ(count.Number(), -3);
  // A negated day number is a plain number.
  EXPECT_EQ(Eval("-BORN").type, TgsExpValueType::Number);
  EXPECT_EQ(Eval("-(LATER - BORN)").type, TgsExpValueType::Number);
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
