// How operators bind: priority levels, left-to-right binding of equal
// priorities, the placement rule of NOT, and the expression text rebuilt
// from a tree.
#include <gtest/gtest.h>

#include "support/expression_context.h"

namespace {

class ExprBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"A", "B", "C"}) ctx_.AddNumber(name, 1);
    for (const char* name : {"P", "Q", "R"}) ctx_.AddBoolean(name, true);
  }
  std::string Shape(std::string_view text) { return TreeShape(text, &ctx_); }
  TestExpContext ctx_;
};

TEST_F(ExprBinding, HigherPriorityBindsFirst) {
  EXPECT_EQ(Shape("a+b*c^2"), "(A + (B * (C ^ 2)))");
  EXPECT_EQ(Shape("A*B+C"), "((A * B) + C)");
  EXPECT_EQ(Shape("A+B=C"), "((A + B) = C)");
  EXPECT_EQ(Shape("A=1 .AND. B=2 .OR. C=3"), "(((A = 1) .AND. (B = 2)) .OR. (C = 3))");
  EXPECT_EQ(Shape("P .OR. Q .AND. R"), "(P .OR. (Q .AND. R))");
}

TEST_F(ExprBinding, EqualPrioritiesBindLeftToRight) {
  EXPECT_EQ(Shape("A-B-C"), "((A - B) - C)");
  EXPECT_EQ(Shape("A/B*C"), "((A / B) * C)");
  EXPECT_EQ(Shape("2^3^2"), "((2 ^ 3) ^ 2)");
  EXPECT_EQ(Shape("A=B#C"), "((A = B) # C)");
  EXPECT_DOUBLE_EQ(EvaluateExpression("2^3^2").Number(), 64);
  // However long the chain, it binds fully to the left: 1+2-1+2-1... is 101.
  std::string chain = "1";
  for (int i = 0; i < 200; ++i) chain += (i % 2 == 0) ? "+2" : "-1";
  EXPECT_DOUBLE_EQ(EvaluateExpression(chain).Number(), 101);
}

TEST_F(ExprBinding, GroupsOverridePriority) {
  EXPECT_EQ(Shape("(A+B)*C"), "([(A + B)] * C)");
  EXPECT_EQ(Shape("A-(B-C)"), "(A - [(B - C)])");
  EXPECT_DOUBLE_EQ(EvaluateExpression("((2+3))*4").Number(), 20);
}

TEST_F(ExprBinding, LeadingNotBindsAfterComparisons) {
  EXPECT_EQ(Shape(".NOT. A=1 .AND. P"), "((.NOT. (A = 1)) .AND. P)");
  EXPECT_EQ(Shape("!P .OR. Q"), "((.NOT. P) .OR. Q)");
}

TEST_F(ExprBinding, LaterNotTakesTheRestOfItsSubexpression) {
  EXPECT_EQ(Shape("P .AND. .NOT. A=1 .OR. Q"), "(P .AND. [((.NOT. (A = 1)) .OR. Q)])");
  // Inside a group the rest ends at the group's end.
  EXPECT_EQ(Shape("(P .AND. NOT Q) .OR. R"), "([(P .AND. [(.NOT. Q)])] .OR. R)");
  // The difference shows in the value: with P false, P AND ((NOT R) OR Q)
  // is false, while ((P AND NOT R) OR Q) would be true.
  TestExpContext ctx;
  ctx.AddBoolean("P", false);
  ctx.AddBoolean("Q", true);
  ctx.AddBoolean("R", false);
  EXPECT_FALSE(EvaluateExpression("P .AND. .NOT. R .OR. Q", &ctx).Boolean());
  EXPECT_TRUE(EvaluateExpression("(P .AND. .NOT. R) .OR. Q", &ctx).Boolean());
}

TEST_F(ExprBinding, NotSpellings) {
  for (const char* text : {"NOT P", "!P", ".not. P", ".NOT.P", "not(P)"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Shape(text), text == std::string("not(P)") ? "(.NOT. [P])" : "(.NOT. P)");
    EXPECT_FALSE(EvaluateExpression(text, &ctx_).Boolean());
  }
}

TEST_F(ExprBinding, NameStartingWithNotIsAName) {
  ctx_.AddBoolean("NOTE", false);
  ctx_.AddBoolean("NOT_PAID", true);
  ctx_.AddBoolean("NOT1", true);
  EXPECT_EQ(Shape("NOTE"), "NOTE");
  EXPECT_EQ(Shape("NOT_PAID .AND. NOT1"), "(NOT_PAID .AND. NOT1)");
  EXPECT_EQ(Shape("NOT NOTE"), "(.NOT. NOTE)");
}

TEST_F(ExprBinding, ExpressionTextUsesDisplayNamesWithoutBlanks) {
  struct Case {
    const char* text;
    const char* rebuilt;
  } cases[] = {
      {"a + b * c", "A+B*C"}, {"(A+B) * C", "(A+B)*C"}, {"A >= 1 and B <> 2", "A>=1.AND.B#2"},
      {"A => 1 .or. B =< 2", "A>=1.OR.B<=2"}, {"A != 1", "A#1"}, {"not P", ".NOT.P"}, {"2 ** 3", "2^3"},
      {"'ab' $ 'xaby'", "\"ab\"in string\"xaby\""}, {".t. = .F.", ".T.=.F."}, {"1.50 + 2", "1.50+2"},
      {"-3.250", "-3.250"}, {"[it's] + 'say \"hi\"'", "\"it's\"+'say \"hi\"'"}, {"()", "()"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TgsExpHandler handler(&ctx_, false, c.text);
    EXPECT_EQ(handler.ExpressionText(), c.rebuilt);
  }
}

TEST_F(ExprBinding, RebuiltTextCompilesToTheSameValue) {
  for (const char* text : {"a+b*c^2", "(A - 2) * (B + 3) / 4", "P .AND. .NOT. A=1 .OR. Q", "'x\"y' + [z]"}) {
    SCOPED_TRACE(text);
    TgsExpHandler first(&ctx_, false, text);
    TgsExpHandler second(&ctx_, false, first.ExpressionText());
    TgsExpValue a, b;
    EXPECT_EQ(first.Evaluate(a), second.Evaluate(b));
    EXPECT_EQ(TgsExpValue::Compare(a, b), 0);
  }
}

}  // namespace
