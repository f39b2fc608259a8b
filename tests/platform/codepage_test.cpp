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

TEST(CodePage, ConversionIntoABufferNeverWritesPastItsRoom) {
  // "Ёж, ok€" and a cut-off sequence: seven characters and a replacement.
  const std::string utf8 = "Ёж, ok€\xD0";
  const std::string whole = platform::FromUtf8(utf8, CodePage::Cp866, '\0');
  EXPECT_EQ(whole, std::string("\xF0\xA6, ok\0\0", 8));
  for (size_t room = 0; room <= whole.size(); ++room) {
    std::string out(whole.size() + 1, '#');
    EXPECT_EQ(platform::FromUtf8Into(utf8, CodePage::Cp866, out.data(), room, '\0'), whole.size());
    EXPECT_EQ(out.substr(0, room), whole.substr(0, room)) << room;
    EXPECT_EQ(out.substr(room), std::string(out.size() - room, '#')) << room;
  }
}
