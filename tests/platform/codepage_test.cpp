// The fixed code-page tables.
#include <gtest/gtest.h>

#include "platform/codepage.h"

using platform::CodePage;

TEST(CodePage, EveryByteRoundTripsThroughUnicode) {
  for (CodePage cp : {CodePage::Cp1251, CodePage::Cp866}) {
    for (int b = 0; b < 256; ++b) {
      std::string one(1, static_cast<char>(b));
      EXPECT_EQ(platform::FromUtf8(platform::ToUtf8(one, cp), cp), one) << b;
    }
  }
}

TEST(CodePage, CyrillicLettersSitWhereExpected) {
  EXPECT_EQ(platform::ToUnicode(CodePage::Cp866, 0x80), u'А');
  EXPECT_EQ(platform::ToUnicode(CodePage::Cp866, 0xF0), u'Ё');
  EXPECT_EQ(platform::ToUnicode(CodePage::Cp1251, 0xC0), u'А');
  EXPECT_EQ(platform::ToUnicode(CodePage::Cp1251, 0xA8), u'Ё');
  EXPECT_EQ(platform::ConvertByte(0xC0, CodePage::Cp1251, CodePage::Cp866), 0x80);
  EXPECT_EQ(platform::ToUtf8("\x88\xa2\xa0\xad", CodePage::Cp866), "Иван");
  EXPECT_EQ(platform::FromUtf8("€", CodePage::Cp866), "?");
}
