// Every error of the parser and evaluator: the exact message, the class of
// the exception, and the state a failed compile leaves behind.
#include <gtest/gtest.h>

#include "engine/support/gs6_glbl.h"
#include "support/expression_context.h"

namespace {

class ExprErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_.AddNumber("A", 1);
    ctx_.AddText("T", "x");
    ctx_.AddBoolean("B", true);
  }
  std::string Error(std::string_view text) { return ExpressionError(text, &ctx_); }
  TestExpContext ctx_;
};

TEST_F(ExprErrors, SyntaxErrorQuotesTheWholeExpression) {
  EXPECT_EQ(Error("A +"), "Syntax Error in expression \"A +\"");
  EXPECT_EQ(Error("1 2"), "Syntax Error in expression \"1 2\"");
  EXPECT_EQ(Error("A ="), "Syntax Error in expression \"A =\"");
  EXPECT_EQ(Error("(A + 1) * (A ~ 2)"), "Syntax Error in expression \"(A + 1) * (A ~ 2)\"");
  EXPECT_EQ(Error("LEN(A ~ 2)"), "Syntax Error in expression \"LEN(A ~ 2)\"");
  EXPECT_EQ(Error("@"), "Syntax Error in expression \"@\"");
}

TEST_F(ExprErrors, MissingClosers) {
  EXPECT_EQ(Error("(a+b"), "Missing closing parentheses");
  EXPECT_EQ(Error("LEN('x'"), "Missing closing parentheses");
  EXPECT_EQ(Error("LEN(')'"), "Missing closing parentheses");
  EXPECT_EQ(Error(".T"), "Missing closing period");
  EXPECT_EQ(Error("'abc"), "Missing closing \"'\" on literal");
  EXPECT_EQ(Error("\"abc"), "Missing closing \"\"\" on literal");
  EXPECT_EQ(Error("[abc"), "Missing closing \"[\" on literal");
  EXPECT_EQ(Error("{2024"), "Missing closing \"{\" on literal");
  EXPECT_EQ(Error(".X."), "Expecting \".T.\" or \".F.\"");
  EXPECT_EQ(Error(".TRUE."), "Expecting \".T.\" or \".F.\"");
}

TEST_F(ExprErrors, UnknownNames) {
  EXPECT_EQ(Error("FOO(1)"), "There is no function for FOO");
  EXPECT_EQ(ExpressionError("foo(1)"), "There is no function for FOO");
  EXPECT_EQ(Error("BAR + 1"), "There is no function for BAR");
  EXPECT_EQ(ExpressionError("BAR"), "There is no function for BAR");
  EXPECT_EQ(Error("UPPER (T)"), "There is no function for UPPER") << "no blank before the parenthesis";
}

TEST_F(ExprErrors, VariableTokenWithoutALinkIsUnknown) {
  TgsExpHandler handler(nullptr, false, "");
  std::vector<TgsExpToken> tokens{TgsExpToken{kTokenVariable, 0, "Xyz"}};
  try {
    handler.BuildTree(tokens);
    FAIL() << "no error";
  } catch (const EDeridarExpression& e) {
    EXPECT_STREQ(e.what(), "Field/variable Xyz is unknown");
  }
}

TEST_F(ExprErrors, LeftoverNodesCannotBeEvaluated) {
  EXPECT_EQ(Error("A ! B"), "Expression cannot be evaluated");
}

TEST_F(ExprErrors, MissingOperand) {
  EXPECT_EQ(Error("!"), "Target value missing for .NOT. operation");
  EXPECT_EQ(Error("B .AND. !"), "Target value missing for .NOT. operation");
}

TEST_F(ExprErrors, SidesDoNotMatch) {
  EXPECT_EQ(Error("A = 'x'"), "The two sides of an operation do not match");
  EXPECT_EQ(Error("T + 1"), "The two sides of an operation do not match");
  EXPECT_EQ(Error("B .AND. A"), "The two sides of an operation do not match");
  EXPECT_EQ(Error("() = 1"), "The two sides of an operation do not match");
}

TEST_F(ExprErrors, OperatorNotDefinedForTheType) {
  const std::string assigned = "A assigned value is required but invalid";
  const std::string number = "A number value is required but invalid";
  EXPECT_EQ(Error(".NOT. 5"), assigned);
  EXPECT_EQ(Error(".NOT. T"), assigned);
  EXPECT_EQ(Error("A .AND. 1"), assigned);
  EXPECT_EQ(Error("1 $ 2"), assigned);
  EXPECT_EQ(Error("T * 'y'"), assigned);
  EXPECT_EQ(Error("T / 'y'"), assigned);
  EXPECT_EQ(Error("T .OR. 'y'"), assigned);
  EXPECT_EQ(Error("B > .F."), assigned);
  EXPECT_EQ(Error("B $ .F."), assigned);
  EXPECT_EQ(Error("B + .F."), number);
  EXPECT_EQ(Error("B ^ .F."), number);
  EXPECT_EQ(Error("-T"), number);
  EXPECT_EQ(Error("-(A = 1)"), number);
  EXPECT_EQ(Error("1 == 'a'"), "The two sides of an operation do not match");
  EXPECT_EQ(Error(".T. == 1"), "The two sides of an operation do not match");
}

TEST_F(ExprErrors, NumbersOutsideTheRangeOfDoubles) {
  EXPECT_EQ(Error("1 / 0"), "Argument for / must be other than 0");
  EXPECT_EQ(Error("A / (A - 1)"), "Argument for / must be other than 0");
  EXPECT_EQ(Error("10 ^ 400"), "Argument for ^ must be within the number range");
  EXPECT_EQ(Error("-8 ^ 0.5"), "Argument for ^ must be within the number range");
  std::string big(300, '9');
  EXPECT_EQ(Error(big + " * " + big), "Argument for * must be within the number range");
  EXPECT_EQ(Error(big + " + " + big + " * " + big), "Argument for * must be within the number range");
  EXPECT_EQ(Error(big + " * 1 + " + big + " * 1"), "<no error>");
}

TEST_F(ExprErrors, ErrorsAreExpressionExceptions) {
  TgsExpHandler handler(&ctx_, false, "");
  EXPECT_THROW(handler.Compile("A +"), EDeridarExpression);
  EXPECT_THROW(TgsExpHandler(&ctx_, false, "(A"), EDeridarExpression);
  handler.Compile("A = 'x'");
  TgsExpValue value;
  EXPECT_THROW(handler.Evaluate(value), EDeridarExpression);
}

TEST_F(ExprErrors, FailedCompileLeavesNoTree) {
  TgsExpHandler handler(&ctx_, false, "A + 1");
  ASSERT_NE(handler.Root(), nullptr);
  EXPECT_THROW(handler.Compile("A + 1 +"), EDeridarExpression);
  EXPECT_EQ(handler.Root(), nullptr);
  TgsExpValue value;
  EXPECT_EQ(handler.Evaluate(value), TgsExpValueType::Unknown);
  handler.Compile("A + 2");
  EXPECT_EQ(handler.Evaluate(value), TgsExpValueType::Number);
  EXPECT_DOUBLE_EQ(value.AsDouble(), 3);
}

}  // namespace
