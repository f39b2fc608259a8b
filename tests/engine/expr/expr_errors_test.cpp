// Every error of the parser and evaluator: the exact message, raised as an
// expression exception, and the state a failed compile leaves behind.
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

TEST_F(ExprErrors, EachFaultHasItsMessage) {
  const std::string big(300, '9');
  const std::string syntax = "Syntax Error in expression ", assigned = "A assigned value is required but invalid",
                    number = "A number value is required but invalid",
                    sides = "The two sides of an operation do not match";
  const struct {
    std::string text, message;
  } cases[] = {
      // A syntax error quotes the whole expression.
      {"A +", syntax + "\"A +\""}, {"1 2", syntax + "\"1 2\""}, {"A =", syntax + "\"A =\""},
      {"(A + 1) * (A ~ 2)", syntax + "\"(A + 1) * (A ~ 2)\""}, {"LEN(A ~ 2)", syntax + "\"LEN(A ~ 2)\""},
      {"@", syntax + "\"@\""},
      // Missing closers.
      {"(a+b", "Missing closing parentheses"}, {"LEN('x'", "Missing closing parentheses"},
      {"LEN(')'", "Missing closing parentheses"}, {".T", "Missing closing period"},
      {"'abc", "Missing closing \"'\" on literal"}, {"\"abc", "Missing closing \"\"\" on literal"},
      {"[abc", "Missing closing \"[\" on literal"}, {"{2024", "Missing closing \"{\" on literal"},
      {".X.", "Expecting \".T.\" or \".F.\""}, {".TRUE.", "Expecting \".T.\" or \".F.\""},
      // Unknown names; a blank before the parenthesis makes no call.
      {"FOO(1)", "There is no function for FOO"}, {"BAR + 1", "There is no function for BAR"},
      {"UPPER (T)", "There is no function for UPPER"},
      // Nodes left over, and operands missing or of the wrong type.
      {"A ! B", "Expression cannot be evaluated"}, {"!", "Target value missing for .NOT. operation"},
      {"B .AND. !", "Target value missing for .NOT. operation"},
      {"A = 'x'", sides}, {"T + 1", sides}, {"B .AND. A", sides}, {"() = 1", sides}, {"1 == 'a'", sides},
      {".T. == 1", sides},
      {".NOT. 5", assigned}, {".NOT. T", assigned}, {"A .AND. 1", assigned}, {"1 $ 2", assigned},
      {"T * 'y'", assigned}, {"T / 'y'", assigned}, {"T .OR. 'y'", assigned}, {"B > .F.", assigned},
      {"B $ .F.", assigned},
      {"B + .F.", number}, {"B ^ .F.", number}, {"-T", number}, {"-(A = 1)", number},
      // Numbers outside the range of doubles.
      {"1 / 0", "Argument for / must be other than 0"}, {"A / (A - 1)", "Argument for / must be other than 0"},
      {"10 ^ 400", "Argument for ^ must be within the number range"},
      {"-8 ^ 0.5", "Argument for ^ must be within the number range"},
      {big + " * " + big, "Argument for * must be within the number range"},
      {big + " + " + big + " * " + big, "Argument for * must be within the number range"},
      {big + " * 1 + " + big + " * 1", "<no error>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    EXPECT_EQ(Error(c.text), c.message);
  }
  // Without a context every name is unknown, whatever its case.
  EXPECT_EQ(ExpressionError("foo(1)"), "There is no function for FOO");
  EXPECT_EQ(ExpressionError("BAR"), "There is no function for BAR");
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
