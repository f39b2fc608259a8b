// Text comparison of the comparison operators: emptiness before trimming,
// trailing blanks, locale collation, wildcard patterns, case folding, and
// the "$" operator that ignores all of these.
#include <gtest/gtest.h>

#include "support/expression_context.h"

namespace {

bool Holds(std::string_view text, TgsExpUserLink* link = nullptr, TestCompileOptions options = {}) {
  TestEvaluation result = EvaluateExpression(text, link, options);
  EXPECT_EQ(result.type, TgsExpValueType::Boolean) << text;
  return result.Boolean();
}

TEST(ExprTextCompare, TrailingBlanksAreIgnoredOnBothSides) {
  EXPECT_TRUE(Holds("'ABC  ' = 'ABC'"));
  EXPECT_TRUE(Holds("'ABC' = 'ABC   '"));
  EXPECT_FALSE(Holds("'ABC  ' # 'ABC'"));
  EXPECT_FALSE(Holds("' ABC' = 'ABC'")) << "leading blanks count";
}

TEST(ExprTextCompare, EmptinessIsDecidedBeforeTrimming) {
  EXPECT_TRUE(Holds("'' = ''"));
  EXPECT_TRUE(Holds("'' < 'A'"));
  EXPECT_TRUE(Holds("'A' > ''"));
  EXPECT_FALSE(Holds("'   ' = ''"));
  EXPECT_TRUE(Holds("'   ' > ''"));
  EXPECT_TRUE(Holds("'   ' = ' '"));
  EXPECT_TRUE(Holds("'   ' < 'A'"));
}

TEST(ExprTextCompare, NoPrefixMatching) {
  EXPECT_FALSE(Holds("'ABC' = 'AB'"));
  EXPECT_FALSE(Holds("'AB' = 'ABC'"));
  EXPECT_TRUE(Holds("'ABC' > 'AB'"));
  EXPECT_TRUE(Holds("'AB' <= 'ABC'"));
}

TEST(ExprTextCompare, OrderIsTheLocaleCollationNotBytes) {
  EXPECT_TRUE(Holds("'a' < 'B'"));
  EXPECT_TRUE(Holds("'a' < 'A'")) << "lower case before upper case";
  EXPECT_FALSE(Holds("'a' = 'A'"));
  // Cyrillic after Latin, in alphabetical order (1251 bytes).
  EXPECT_TRUE(Holds("'Z' < '\xC0'"));
  EXPECT_TRUE(Holds("'\xE5' < '\xB8'")) << "\xB8 (yo) sorts right after \xE5 (ye)";
  EXPECT_TRUE(Holds("'\xB8' < '\xE6'"));
}

TEST(ExprTextCompare, CaseInsensitiveFoldsBothSides) {
  TestCompileOptions noCase;
  noCase.caseInsensitive = true;
  EXPECT_TRUE(Holds("'abc' = 'ABC'", nullptr, noCase));
  EXPECT_FALSE(Holds("'abc' = 'ABC'"));
  EXPECT_TRUE(Holds("'\xE0\xE1' = '\xC0\xC1'", nullptr, noCase)) << "Cyrillic letters fold too";
  EXPECT_TRUE(Holds("'smith' = 'SMI*'", nullptr, noCase));
}

TEST(ExprTextCompare, InStringIgnoresTrimmingAndCaseFlags) {
  TestCompileOptions noCase;
  noCase.caseInsensitive = true;
  EXPECT_FALSE(Holds("'abc' $ 'XABCX'"));
  EXPECT_FALSE(Holds("'abc' $ 'XABCX'", nullptr, noCase));
  EXPECT_TRUE(Holds("'ABC' $ 'XABCX'"));
  EXPECT_FALSE(Holds("'ABC ' $ 'XABCX'")) << "no trimming";
  EXPECT_FALSE(Holds("'' $ 'ABC'")) << "an empty text is never found";
  EXPECT_FALSE(Holds("'ABC' $ ''"));
}

class ExprWildcard : public ::testing::Test {
 protected:
  bool Matches(std::string_view name, std::string_view pattern, TestCompileOptions options = {}) {
    TestExpContext ctx;
    ctx.AddText("NAME", name);
    return Holds("NAME = '" + std::string(pattern) + "'", &ctx, options);
  }
};

TEST_F(ExprWildcard, TrailingStarSearchesAnywhere) {
  EXPECT_TRUE(Matches("SMITH", "SMI*"));
  EXPECT_TRUE(Matches("XSMI", "SMI*"));
  EXPECT_FALSE(Matches("SMYTH", "SMI*"));
  EXPECT_FALSE(Matches("SM", "SM*")) << "a text shorter than the pattern";
}

TEST_F(ExprWildcard, LeadingStarAndLoneStar) {
  EXPECT_TRUE(Matches("SMITH", "*ITH"));
  EXPECT_TRUE(Matches("SMITH", "*"));
  EXPECT_TRUE(Matches("X", "*"));
  EXPECT_FALSE(Matches("  ", "*")) << "blanks trim to the empty text";
}

TEST_F(ExprWildcard, QuestionMarkIsWildOnlyInAPatternWithAStar) {
  EXPECT_FALSE(Matches("SMITH", "S?ITH"));
  EXPECT_TRUE(Matches("SMITH", "S?I*"));
  EXPECT_FALSE(Matches("SMITH", "*S?I")) << "after a leading star ? is literal";
}

TEST_F(ExprWildcard, NoPatternsWithoutPartialCompare) {
  TestCompileOptions exact;
  exact.partialCompare = false;
  EXPECT_FALSE(Matches("SMITH", "SMI*", exact));
  EXPECT_TRUE(Matches("SMI*", "SMI*", exact));
}

TEST_F(ExprWildcard, PercentAndUnderscoreWithWildcardStyle) {
  TestCompileOptions style;
  style.wildcardStyle = true;
  EXPECT_TRUE(Matches("SMITH", "S_I%", style));
  EXPECT_FALSE(Matches("SMITH", "SMI*", style)) << "the star is an ordinary character then";
  EXPECT_FALSE(Matches("SMITH", "SMO%", style));
}

TEST_F(ExprWildcard, MismatchReportsLessForEveryOperator) {
  TestExpContext ctx;
  ctx.AddText("NAME", "ZZZ");
  EXPECT_TRUE(Holds("NAME < 'A*'", &ctx));
  EXPECT_TRUE(Holds("NAME # 'A*'", &ctx));
  EXPECT_FALSE(Holds("NAME > 'A*'", &ctx));
}

TEST(ExprTextCompare, NullTextCountsAsEmpty) {
  TestExpContext ctx;
  ctx.AddText("MEMO", "").SetNull(TgsExpValueType::Text);
  EXPECT_TRUE(Holds("MEMO = ''", &ctx));
  EXPECT_TRUE(Holds("MEMO < ' '", &ctx));
  EXPECT_EQ(EvaluateExpression("MEMO + 'X'", &ctx).Text(), "X");
}

}  // namespace
