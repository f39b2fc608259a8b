// Hostile expression texts: deep nesting of groups, calls and NOTs, long
// operator chains and huge literals end with an expression error or
// compile; they never exhaust the stack.
#include <gtest/gtest.h>

#include "engine/support/gs6_glbl.h"
#include "support/expression_context.h"

namespace {

std::string Repeat(std::string_view piece, int count) {
  std::string out;
  out.reserve(piece.size() * static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) out += piece;
  return out;
}

TEST(ExprLimits, ModerateNestingCompilesAndEvaluates) {
  std::string text = Repeat("(", 100) + "1+1" + Repeat(")", 100);
  EXPECT_DOUBLE_EQ(EvaluateExpression(text).Number(), 2);
  std::string calls = Repeat("ABS(", 100) + "-1" + Repeat(")", 100);
  EXPECT_DOUBLE_EQ(EvaluateExpression(calls).Number(), 1);
}

TEST(ExprLimits, ThousandsOfParenthesesEndWithAnError) {
  for (int depth : {kMaxExpressionNesting + 1, 5000, 100000}) {
    SCOPED_TRACE(depth);
    std::string text = Repeat("(", depth) + "1" + Repeat(")", depth);
    EXPECT_EQ(ExpressionError(text), "Expression cannot be evaluated");
  }
  EXPECT_EQ(ExpressionError(Repeat("(", 100000)), "Missing closing parentheses");
}

TEST(ExprLimits, DeeplyNestedCallsEndWithAnError) {
  std::string text = Repeat("ABS(", 20000) + "1" + Repeat(")", 20000);
  EXPECT_EQ(ExpressionError(text), "Expression cannot be evaluated");
  std::string unclosed = Repeat("ABS(", 20000) + "1";
  EXPECT_EQ(ExpressionError(unclosed), "Missing closing parentheses");
}

TEST(ExprLimits, ManyLaterNotsEndWithAnError) {
  std::string text = ".T." + Repeat(" .AND. .NOT. .T.", 5000);
  EXPECT_EQ(ExpressionError(text), "Expression cannot be evaluated");
}

TEST(ExprLimits, LongOperatorChainsEvaluateWriteAndFreeWithoutDeepRecursion) {
  // Far beyond what a recursion per operator would survive: compiled,
  // evaluated, written back and freed by loops.
  const std::string sum = "1" + Repeat("+1", 200000);
  TgsExpHandler handler(nullptr, false, sum);
  TgsExpValue value;
  EXPECT_EQ(handler.Evaluate(value), TgsExpValueType::Number);
  EXPECT_DOUBLE_EQ(value.AsDouble(), 200001);
  EXPECT_EQ(handler.ExpressionText(), sum);
  EXPECT_EQ(handler.Root()->Height(), 2);

  // Operators of several priorities along one chain keep their binding and
  // the order of evaluation; a type error anywhere in it is still found.
  EXPECT_DOUBLE_EQ(EvaluateExpression("10" + Repeat("-2*3", 5000)).Number(), 10 - 6.0 * 5000);
  EXPECT_EQ(EvaluateExpression("'a'" + Repeat("+'b'", 5000)).Text().size(), 5001u);
  EXPECT_EQ(ExpressionError("1" + Repeat("+1", 3000) + "+'x'" + Repeat("+1", 3000)),
            "The two sides of an operation do not match");
  TestExpContext context;
  context.AddNumber("N", 4);
  EXPECT_EQ(TreeShape("N" + Repeat("-N", 3), &context), "(((N - N) - N) - N)");
  TgsExpHandler names(&context, false, "N" + Repeat("+N", 30000));
  EXPECT_EQ(names.FieldNames(kTableFieldKind).size(), 30001u * 2);
}

TEST(ExprLimits, HugeLiteralsCompile) {
  std::string text(1 << 20, 'x');
  TestEvaluation result = EvaluateExpression("'" + text + "' + 'y'");
  EXPECT_EQ(result.value.Text().size(), text.size() + 1);
  std::string digits(5000, '9');
  TgsExpHandler handler(nullptr, false, digits);
  TgsExpValue value;
  EXPECT_EQ(handler.Evaluate(value), TgsExpValueType::Number);
  EXPECT_EQ(value.AsDouble(), 0) << "a literal beyond the range of doubles reads as 0";
  EXPECT_EQ(handler.MaxLength(), 5000);
  EXPECT_FALSE(handler.ExpressionText().empty());
  std::string decimals = "0." + std::string(100000, '1');
  TgsExpHandler fraction(nullptr, false, decimals);
  EXPECT_EQ(fraction.MaxDecimals(), 100000);
  EXPECT_EQ(fraction.ExpressionText().size(), decimals.size());
}

TEST(ExprLimits, ManyArgumentsAndOperandsCompile) {
  std::string text = "MAX(1" + Repeat(",2", 20000) + ")";
  TgsExpHandler handler(nullptr, false, text);
  EXPECT_EQ(handler.OperandCount(), 20002);
  TgsExpValue value;
  handler.Evaluate(value);
  EXPECT_DOUBLE_EQ(value.AsDouble(), 2);
}

}  // namespace
