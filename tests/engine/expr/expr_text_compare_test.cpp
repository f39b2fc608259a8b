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

TEST(ExprTextCompare, ComparisonsOfLiterals) {
  const TestCompileOptions noCase{.caseInsensitive = true};
  const struct {
    const char* text;
    bool holds;
    TestCompileOptions options = {};
  } cases[] = {
      // Trailing blanks are ignored on both sides; leading blanks count.
      {"'ABC  ' = 'ABC'", true}, {"'ABC' = 'ABC   '", true}, {"'ABC  ' # 'ABC'", false},
      {"' ABC' = 'ABC'", false},
      // Emptiness is decided before trimming.
      {"'' = ''", true}, {"'' < 'A'", true}, {"'A' > ''", true}, {"'   ' = ''", false}, {"'   ' > ''", true},
      {"'   ' = ' '", true}, {"'   ' < 'A'", true},
      // No prefix matching.
      {"'ABC' = 'AB'", false}, {"'AB' = 'ABC'", false}, {"'ABC' > 'AB'", true}, {"'AB' <= 'ABC'", true},
      // The order is the locale's collation, not the bytes': lower case
      // before upper case, Cyrillic (1251) after Latin, yo right after ye.
      {"'a' < 'B'", true}, {"'a' < 'A'", true}, {"'a' = 'A'", false}, {"'Z' < '\xC0'", true},
      {"'\xE5' < '\xB8'", true}, {"'\xB8' < '\xE6'", true},
      // Case-insensitive compiles fold both sides, Cyrillic letters too.
      {"'abc' = 'ABC'", true, noCase}, {"'abc' = 'ABC'", false}, {"'\xE0\xE1' = '\xC0\xC1'", true, noCase},
      {"'smith' = 'SMI*'", true, noCase},
      // "$" ignores trimming and the case flag; an empty text is never found.
      {"'abc' $ 'XABCX'", false}, {"'abc' $ 'XABCX'", false, noCase}, {"'ABC' $ 'XABCX'", true},
      {"'ABC ' $ 'XABCX'", false}, {"'' $ 'ABC'", false}, {"'ABC' $ ''", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Holds(c.text, nullptr, c.options), c.holds) << c.text << (c.options.caseInsensitive ? " (no case)" : "");
  }
}

TEST(ExprTextCompare, WildcardPatterns) {
  const TestCompileOptions exact{.partialCompare = false}, style{.wildcardStyle = true};
  const struct {
    const char* name;
    const char* pattern;
    bool matches;
    TestCompileOptions options = {};
  } cases[] = {
      // A trailing star searches anywhere, in a text no shorter than the pattern.
      {"SMITH", "SMI*", true}, {"XSMI", "SMI*", true}, {"SMYTH", "SMI*", false}, {"SM", "SM*", false},
      // A leading star, and a lone star (blanks trim to the empty text).
      {"SMITH", "*ITH", true}, {"SMITH", "*", true}, {"X", "*", true}, {"  ", "*", false},
      // "?" is wild only in a pattern with a trailing star.
      {"SMITH", "S?ITH", false}, {"SMITH", "S?I*", true}, {"SMITH", "*S?I", false},
      // No patterns without partial compare.
      {"SMITH", "SMI*", false, exact}, {"SMI*", "SMI*", true, exact},
      // "%" and "_" in the wildcard style, where the star is an ordinary character.
      {"SMITH", "S_I%", true, style}, {"SMITH", "SMI*", false, style}, {"SMITH", "SMO%", false, style},
  };
  for (const auto& c : cases) {
    TestExpContext ctx;
    ctx.AddText("NAME", c.name);
    EXPECT_EQ(Holds("NAME = '" + std::string(c.pattern) + "'", &ctx, c.options), c.matches)
        << c.name << " = " << c.pattern;
  }
  // A mismatch reports "less" for every operator.
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
