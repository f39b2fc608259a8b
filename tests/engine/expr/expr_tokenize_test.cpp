// The tokenizer and the literal forms: symbol and word operators, names,
// quoted, date, logical and number literals, function-call argument
// splitting, and the bracket scan.
#include <gtest/gtest.h>

#include "engine/support/gs6_date.h"
#include "platform/locale.h"
#include "support/expression_context.h"

namespace {

std::string Kinds(TgsExpHandler& handler, std::string_view text) {
  std::string out;
  for (const TgsExpToken& token : handler.Tokenize(text)) {
    if (!out.empty()) out += ' ';
    if (token.kind >= 129 && token.kind <= 146)
      out += std::string(OperatorDisplayName(static_cast<TgsExpOperatorCode>(token.kind)));
    else
      out += std::to_string(token.kind) + ":" + token.payload;
  }
  return out;
}

class ExprTokenize : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_.AddNumber("A", 5);
    ctx_.AddText("NAME;PHONE.NAME", "SMITH");
  }
  TestExpContext ctx_;
  TgsExpHandler handler_{&ctx_, false, ""};
};

// The other operator spellings are exercised by the property test.
TEST_F(ExprTokenize, OperatorTokens) {
  EXPECT_EQ(Kinds(handler_, "A=>1"), "153:A >= 157:1");
  EXPECT_EQ(Kinds(handler_, "A==1"), "153:A exactly equal 157:1");
  EXPECT_EQ(Kinds(handler_, "A+-1"), "153:A + 157:-1");
  EXPECT_EQ(Kinds(handler_, "A - -1"), "153:A - 157:-1");
  EXPECT_EQ(Kinds(handler_, "A .ne. 1"), "153:A # 157:1");
  EXPECT_EQ(Kinds(handler_, "A gt 1 AND A lt 9"), "153:A > 157:1 .AND. 153:A < 157:9");
  // A point that starts a word operator does not belong to the number.
  EXPECT_EQ(Kinds(handler_, "A=1.AND.A=2.5"), "153:A = 157:1 .AND. 153:A = 157:2.5");
  EXPECT_EQ(Kinds(handler_, "A=1.OR.A=2."), "153:A = 157:1 .OR. 153:A = 157:2.");
}

TEST_F(ExprTokenize, IncompleteWordOperatorsAreSyntaxErrors) {
  for (const char* text : {"A .AND A", "A AND. A", "A=*1", "A +", "A AND"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ExpressionError(text, &ctx_), std::string("Syntax Error in expression \"") + text + "\"");
  }
}

TEST_F(ExprTokenize, QuotedLiterals) {
  EXPECT_EQ(Kinds(handler_, "'a b'"), "155:a b");
  EXPECT_EQ(Kinds(handler_, "\"it's\""), "155:it's");
  EXPECT_EQ(Kinds(handler_, "[say \"x\"]"), "155:say \"x\"");
  EXPECT_EQ(Kinds(handler_, "{20240229}"), "156:20240229");
  EXPECT_EQ(Kinds(handler_, "''"), "155:");
  EXPECT_EQ(Kinds(handler_, ".t."), "158:.T.");
}

TEST_F(ExprTokenize, NumberLiterals) {
  struct Case {
    const char* text;
    double value;
    int32_t length;
    int32_t decimals;
  } cases[] = {
      {"42", 42, 2, 0},    {"3.25", 3.25, 4, 2}, {"-5", -5, 2, 0},  {"+7.5", 7.5, 4, 1},
      {"1.2.3", 0, 5, 3},  {"-", 0, 1, 0},       {"5.", 5, 2, 0},   {"0.125", 0.125, 5, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TgsExpHandler handler(nullptr, false, c.text);
    ASSERT_NE(handler.Root(), nullptr);
    auto* literal = dynamic_cast<const TgsExpNumLit*>(handler.Root());
    ASSERT_NE(literal, nullptr);
    EXPECT_EQ(literal->Value(), c.value);
    EXPECT_EQ(literal->Length(), c.length);
    EXPECT_EQ(literal->Decimals(), c.decimals);
    TgsExpValue value;
    EXPECT_EQ(handler.Evaluate(value), TgsExpValueType::Number);
  }
}

TEST_F(ExprTokenize, MinusBeforeANameACallOrAGroupNegatesIt) {
  EXPECT_EQ(TreeShape("-A", &ctx_), "(- A)");
  EXPECT_EQ(TreeShape("ABS(- A)", &ctx_), "ABS((- A))");
  EXPECT_EQ(TreeShape("-(A + 1) * 2", &ctx_), "((- [(A + 1)]) * 2)");
  EXPECT_EQ(TreeShape("A - -ABS(A)", &ctx_), "(A - (- ABS(A)))");
  // The sign binds to its operand alone, as it does in a number literal.
  EXPECT_EQ(TreeShape("-A^2", &ctx_), "((- A) ^ 2)");
  TgsExpHandler handler(&ctx_, false, "-phone->name");
  EXPECT_EQ(handler.ExpressionText(), "-NAME");
  // Only the minus sign: a plus before a name stays a syntax error.
  EXPECT_EQ(ExpressionError("+A", &ctx_), "Syntax Error in expression \"+A\"");
  EXPECT_EQ(ExpressionError(".5"), "Missing closing period");
}

TEST_F(ExprTokenize, DateLiterals) {
  const int32_t day = DBFDate().TextToDay("20240229");
  TestEvaluation result = EvaluateExpression("{20240229}");
  EXPECT_EQ(result.type, TgsExpValueType::Date);
  EXPECT_EQ(result.Number(), day);
  EXPECT_EQ(EvaluateExpression("{}").Number(), 0);
  EXPECT_EQ(EvaluateExpression("{00000000}").Number(), 0);
  platform::LocaleGuard russian(platform::LocaleSettings{});
  EXPECT_EQ(EvaluateExpression("{29.02.2024}").Number(), day);
  TgsExpHandler handler(nullptr, false, "{20240229}");
  EXPECT_EQ(handler.ExpressionText(), "{29.02.2024}");
  EXPECT_EQ(ExpressionError("{31.02.2024}"), "A Date value is required but invalid");
}

TEST_F(ExprTokenize, QualifiedNamesReachTheField) {
  for (const char* text : {"NAME", "name", "PHONE.NAME", "phone->name", "Phone->Name"}) {
    SCOPED_TRACE(text);
    TestEvaluation result = EvaluateExpression(text, &ctx_);
    EXPECT_EQ(result.type, TgsExpValueType::Text);
    EXPECT_EQ(result.Text(), "SMITH");
  }
  EXPECT_EQ(ExpressionError("PHONE.BAD", &ctx_), "There is no function for PHONE");
  EXPECT_EQ(ExpressionError("OTHER->NAME", &ctx_), "There is no function for OTHER");
}

TEST_F(ExprTokenize, ArgumentsSplitAtTopLevelCommas) {
  EXPECT_EQ(TreeShape("IIF(.T., 'a,b', 'c')"), "IIF(.T., \"a,b\", \"c\")");
  EXPECT_EQ(TreeShape("MAX(1,,2)"), "MAX(1, 2)");
  EXPECT_EQ(TreeShape("MAX(1, )"), "MAX(1)");
}

TEST(FindClosing, StopsAtTheMatchingBracketOutsideQuotes) {
  EXPECT_EQ(FindClosing("(a)", 0, false), 2u);
  EXPECT_EQ(FindClosing("(a(b)c)", 0, false), 6u);
  EXPECT_EQ(FindClosing("(')')", 0, false), 4u);
  EXPECT_EQ(FindClosing("(\")\")", 0, false), 4u);
  EXPECT_EQ(FindClosing("([)],{)})", 0, false), 8u);
  EXPECT_EQ(FindClosing("(a,b)", 0, true), 2u);
  EXPECT_EQ(FindClosing("((a,b),c)", 0, true), 6u);
  EXPECT_EQ(FindClosing("('a,b',c)", 0, true), 6u);
  EXPECT_EQ(FindClosing("(a", 0, false), 2u);
  EXPECT_EQ(FindClosing("('a)", 0, false), 4u);
}

TEST_F(ExprTokenize, ParenthesisInsideQuotesUnbalancesAGroupButNotACall) {
  // The group ends at the quoted ')': what is left after it is no operator.
  EXPECT_EQ(ExpressionError("(A = ')')", &ctx_), "Syntax Error in expression \"(A = ')')\"");
  EXPECT_EQ(ExpressionError("(A = ')", &ctx_), "Missing closing \"'\" on literal");
  EXPECT_EQ(TreeShape("LEN(')')"), "LEN(\")\")");
}

TEST_F(ExprTokenize, EmptyAndBlankTextsCompileToNoTree) {
  for (const char* text : {"", "   ", "\t\r\n"}) {
    TgsExpHandler handler(&ctx_, false, text);
    EXPECT_EQ(handler.Root(), nullptr);
    EXPECT_EQ(handler.OperandCount(), 0);
    EXPECT_EQ(handler.ExpressionText(), "");
  }
}

}  // namespace
