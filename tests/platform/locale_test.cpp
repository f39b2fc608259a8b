// Locale settings, number texts and the calendar of date serials.
#include <gtest/gtest.h>

#include "platform/locale.h"

using platform::LocaleGuard;
using platform::LocaleSettings;

TEST(Locale, DefaultsToRussianAndGuardRestores) {
  EXPECT_EQ(platform::Locale().shortDateFormat, "dd.mm.yyyy");
  {
    LocaleSettings us;
    us.decimalSeparator = '.';
    LocaleGuard guard(us);
    EXPECT_EQ(platform::Locale().decimalSeparator, '.');
  }
  EXPECT_EQ(platform::Locale().decimalSeparator, ',');
}

TEST(LocaleNumbers, GeneralTextUsesDecimalSeparatorAndDropsZeros) {
  EXPECT_EQ(platform::FloatToText(-12), "-12");
  EXPECT_EQ(platform::FloatToText(0.1 + 0.2), "0,3");
  EXPECT_EQ(platform::FloatToText(0.0001), "0,0001");
  EXPECT_EQ(platform::FloatToText(0.00001), "1E-5");
  EXPECT_EQ(platform::FloatToText(123456789012345.0), "123456789012345");
  EXPECT_EQ(platform::FloatToText(-2.5e-7), "-2,5E-7");
  LocaleSettings dot;
  dot.decimalSeparator = '.';
  LocaleGuard guard(dot);
  EXPECT_EQ(platform::FloatToText(3.25), "3.25");
}

TEST(LocaleNumbers, ParserAcceptsLocaleFormAndRejectsOthers) {
  EXPECT_DOUBLE_EQ(platform::TextToFloat(" 12,5 "), 12.5);
  EXPECT_DOUBLE_EQ(platform::TextToFloat("1,5E3"), 1500);
  EXPECT_DOUBLE_EQ(platform::TextToFloat(",5"), 0.5);
  double v = 7;
  for (const char* bad : {"   ", "12.5", "1,2,3", "1e", "-", "1 2", "1e999"}) {
    EXPECT_FALSE(platform::TryTextToFloat(bad, v)) << bad;
    EXPECT_THROW(platform::TextToFloat(bad), platform::ConvertError) << bad;
  }
  EXPECT_EQ(v, 7);
}

TEST(LocaleCalendar, SerialsFollowTheGregorianCalendar) {
  int32_t s = -1;
  ASSERT_TRUE(platform::TryEncodeDate(1899, 12, 30, s));
  EXPECT_EQ(s, 0);
  ASSERT_TRUE(platform::TryEncodeDate(1980, 1, 1, s));
  EXPECT_EQ(s, 29221);
  EXPECT_FALSE(platform::TryEncodeDate(1900, 2, 29, s));
  EXPECT_FALSE(platform::TryEncodeDate(2023, 2, 29, s));
  EXPECT_TRUE(platform::TryEncodeDate(2000, 2, 29, s));
  EXPECT_FALSE(platform::TryEncodeDate(2024, 13, 1, s));
  EXPECT_FALSE(platform::TryEncodeDate(0, 1, 1, s));

  int y, m, d;
  ASSERT_TRUE(platform::TryEncodeDate(2023, 12, 31, s));
  ASSERT_TRUE(platform::DecodeDate(s + 1, y, m, d));
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240101);
  ASSERT_TRUE(platform::DecodeDate(platform::kMinDateSerial, y, m, d));
  EXPECT_EQ(y * 10000 + m * 100 + d, 10101);
  ASSERT_TRUE(platform::DecodeDate(platform::kMaxDateSerial, y, m, d));
  EXPECT_EQ(y * 10000 + m * 100 + d, 99991231);
  EXPECT_FALSE(platform::DecodeDate(platform::kMaxDateSerial + 1, y, m, d));
  EXPECT_EQ(y, 0);

  EXPECT_EQ(platform::DayOfWeek(0), 7);  // 1899-12-30 was a Saturday
  EXPECT_EQ(platform::DayOfWeek(-1), 6);
}

TEST(LocaleCalendar, PatternsFormatDayMonthAndYear) {
  int32_t s = 0;
  ASSERT_TRUE(platform::TryEncodeDate(2024, 3, 5, s));
  EXPECT_EQ(platform::FormatDate("DD.MM.YY", s), "05.03.24");
  EXPECT_EQ(platform::FormatDate("yyyymmdd", s), "20240305");
  EXPECT_EQ(platform::FormatDate("d/m/yyyy", s), "5.3.2024");
  EXPECT_EQ(platform::FormatDate("dd 'of' mm", s), "05 of 03");
  EXPECT_EQ(platform::FormatDate("dd", platform::kMaxDateSerial + 1), "");
}

TEST(LocaleCalendar, ShortDatesParseInLocaleOrder) {
  int32_t expected = 0;
  ASSERT_TRUE(platform::TryEncodeDate(2024, 2, 29, expected));
  EXPECT_EQ(platform::TextToDate(" 29.2.24 "), expected);
  ASSERT_TRUE(platform::TryEncodeDate(1985, 7, 1, expected));
  EXPECT_EQ(platform::TextToDate("1.7.85"), expected);
  for (const char* bad : {"29.02.2023", "1.2.3.4", "a.b.c", "12", "1..2", "99999.1.1"})
    EXPECT_THROW(platform::TextToDate(bad), platform::ConvertError) << bad;

  LocaleSettings us;
  us.dateSeparator = '/';
  us.shortDateFormat = "M/d/yyyy";
  LocaleGuard guard(us);
  ASSERT_TRUE(platform::TryEncodeDate(2024, 12, 25, expected));
  EXPECT_EQ(platform::TextToDate("12/25/2024"), expected);
}
