// The ANSI/OEM translation tables and their completion rule.
#include <gtest/gtest.h>

#include "engine/support/gs6_glbl.h"
#include "platform/codepage.h"

namespace {

// A seed where ANSI 200 becomes OEM 150 and ANSI 150 becomes '?', so ANSI 150
// cannot keep its own code (200 took it) nor survive the seed's round trip.
uint8_t FakeToOem(uint8_t c) { return c == 200 ? 150 : c == 150 ? '?' : c; }
uint8_t FakeToAnsi(uint8_t c) { return c == 150 ? 200 : c; }

// A seed that sends 210 to an unmapped '?' and 211 to a control code.
uint8_t LossyToOem(uint8_t c) { return c == 210 ? '?' : c == 211 ? 7 : c; }
uint8_t LossyToAnsi(uint8_t c) { return c; }

}  // namespace

TEST(Translation, EveryByteSurvivesAnsiToOemToAnsiAlsoInPlace) {
  const TgsTranslationTables& t = TranslationTables();
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(t.toAnsi[t.toOem[c]], c) << c;
    EXPECT_EQ(t.toOem[t.toAnsi[c]], c) << c;
  }
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(TranslateToAnsi(TranslateToOem(all)), all);
  std::string text = all;  // raw buffers translate in place
  TranslateToOem(text.data(), text.data(), text.size());
  EXPECT_EQ(text, TranslateToOem(all));
  TranslateToAnsi(text.data(), text.data(), text.size());
  EXPECT_EQ(text, all);
}

// Texts of every length up to a few words, from any starting byte: each
// byte is mapped by the table, into another buffer and in place alike.
TEST(Translation, EveryLengthAndStartMapsEachByte) {
  const TgsTranslationTables& t = TranslationTables();
  for (size_t length = 0; length <= 9; ++length) {
    for (int start = 120; start < 140; ++start) {
      std::string text;
      for (size_t i = 0; i < length; ++i) text += static_cast<char>((start + 7 * i) % 256);
      std::string out(length, '\0');
      TranslateToAnsi(text.data(), out.data(), length);
      std::string inPlace = text;
      TranslateToAnsi(inPlace.data(), inPlace.data(), length);
      for (size_t i = 0; i < length; ++i)
        ASSERT_EQ(static_cast<uint8_t>(out[i]), t.toAnsi[static_cast<uint8_t>(text[i])])
            << length << " " << i;
      EXPECT_EQ(inPlace, out);
    }
  }
}

TEST(Translation, CyrillicLettersMapToTheirOemCodes) {
  auto oem = [](const char* utf8) { return platform::FromUtf8(utf8, platform::CodePage::Cp866); };
  auto ansi = [](const char* utf8) { return platform::FromUtf8(utf8, platform::CodePage::Cp1251); };
  EXPECT_EQ(TranslateToOem(ansi("Иванов Ёж ёлка №5")), oem("Иванов Ёж ёлка №5"));
  EXPECT_EQ(TranslateToAnsi(oem("ПЕТРОВ А.А.")), ansi("ПЕТРОВ А.А."));
}

TEST(Translation, ByteWhoseCodeIsTakenGetsSmallestFreeCode) {
  TgsTranslationTables t = BuildTranslationTables(FakeToOem, FakeToAnsi);
  EXPECT_EQ(t.toOem[200], 150);
  EXPECT_EQ(t.toOem[150], 200);  // 150 is taken; 200 is the only free code
  EXPECT_EQ(t.toAnsi[200], 150);
}

TEST(Translation, ByteThatDoesNotRoundTripKeepsItsOwnFreeCode) {
  TgsTranslationTables t = BuildTranslationTables(LossyToOem, LossyToAnsi);
  EXPECT_EQ(t.toOem[210], 210);
  EXPECT_EQ(t.toOem[211], 211);
  for (int c = 0; c < 256; ++c) EXPECT_EQ(t.toAnsi[t.toOem[c]], c) << c;
}
