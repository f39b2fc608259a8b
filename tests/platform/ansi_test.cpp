// Case mapping, collation and substring search of code page 1251.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/ansi.h"
#include "platform/codepage.h"

namespace {

// UTF-8 source text as 1251 bytes.
std::string W(const char* utf8) { return platform::FromUtf8(utf8, platform::CodePage::Cp1251); }

}  // namespace

TEST(AnsiCase, LatinAndCyrillicLettersChangeCase) {
  EXPECT_EQ(platform::UpperCase(W("abz Иванов ёлка ђўјґєїіѕ")), W("ABZ ИВАНОВ ЁЛКА ЂЎЈҐЄЇІЅ"));
  EXPECT_EQ(platform::LowerCase(W("ABZ ИВАНОВ ЁЛКА ЂЎЈҐЄЇІЅ")), W("abz иванов ёлка ђўјґєїіѕ"));
  EXPECT_EQ(platform::UpperChar(0xB8), 0xA8);  // ё -> Ё
  EXPECT_EQ(platform::LowerChar(0xA8), 0xB8);
}

TEST(AnsiCase, NonLettersKeepTheirByte) {
  for (int c = 0; c < 256; ++c) {
    uint8_t b = static_cast<uint8_t>(c);
    if (platform::IsLetter(b)) {
      // Every letter belongs to exactly one case pair.
      uint8_t other = platform::UpperChar(b) == b ? platform::LowerChar(b) : platform::UpperChar(b);
      EXPECT_NE(other, b) << c;
      EXPECT_EQ(platform::UpperChar(platform::LowerChar(b)), platform::UpperChar(b)) << c;
    } else {
      EXPECT_EQ(platform::UpperChar(b), b) << c;
      EXPECT_EQ(platform::LowerChar(b), b) << c;
    }
  }
  EXPECT_EQ(platform::UpperCase(W("µ№§0-9")), W("µ№§0-9"));
}

TEST(AnsiCollation, SortsWordsInRussianLocaleOrder) {
  std::vector<std::string> words = {W("Ёж"),   W("еж"),  W("Еж"),   W("ёж"),  W("жук"),
                                    W("Apple"), W("apple"), W("b"),  W("B"),  W("1abc"),
                                    W("-x"),   W("ягода"), W("Яблоко"), W("аист"), W("Аист"),
                                    W("Ежевика"), W("zebra")};
  std::sort(words.begin(), words.end(),
            [](const std::string& a, const std::string& b) { return platform::CompareStr(a, b) < 0; });
  std::vector<std::string> expected = {W("-x"),   W("1abc"), W("apple"), W("Apple"), W("b"),
                                       W("B"),    W("zebra"), W("аист"), W("Аист"), W("еж"),
                                       W("Еж"),   W("Ежевика"), W("ёж"), W("Ёж"),  W("жук"),
                                       W("Яблоко"), W("ягода")};
  EXPECT_EQ(words, expected);
}

TEST(AnsiCollation, CaseSensitiveCompareIsStrictTotalOrderOnSingleBytes) {
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      std::string x(1, static_cast<char>(a)), y(1, static_cast<char>(b));
      int r = platform::CompareStr(x, y);
      EXPECT_EQ(r == 0, a == b) << a << " " << b;
      EXPECT_EQ(r, -platform::CompareStr(y, x)) << a << " " << b;
    }
  }
}

TEST(AnsiCollation, LetterOrderBeatsCaseAndPrefixSortsFirst) {
  // The letter decides before the case of an earlier position.
  EXPECT_LT(platform::CompareStr(W("Ab"), W("aC")), 0);
  EXPECT_LT(platform::CompareStr(W("a"), W("B")), 0);  // although 'a' > 'B' as bytes
  EXPECT_LT(platform::CompareStr(W("ab"), W("abc")), 0);
  EXPECT_LT(platform::CompareStr(W("Ё"), W("ж")), 0);
}

TEST(AnsiCollation, CaseInsensitiveCompareIgnoresOnlyCase) {
  EXPECT_EQ(platform::CompareText(W("Иванов Ёж"), W("иВАНОВ ёЖ")), 0);
  EXPECT_NE(platform::CompareText(W("еж"), W("ёж")), 0);
  EXPECT_GT(platform::CompareText(W("abcd"), W("ABC")), 0);
  EXPECT_EQ(platform::CompareTextZ("abc", "ABC"), 0);
  EXPECT_LT(platform::CompareStrZ(nullptr, "a"), 0);
  EXPECT_EQ(platform::CompareStrZ("", nullptr), 0);
}

TEST(AnsiText, PositionIsOneBasedAndZeroWhenAbsent) {
  EXPECT_EQ(platform::TextPos("lo", "hello"), 4u);
  EXPECT_EQ(platform::TextPos("x", "hello"), 0u);
  EXPECT_EQ(platform::TextPos("", "hello"), 0u);
  EXPECT_EQ(platform::TextPos("hello!", "hello"), 0u);
}
