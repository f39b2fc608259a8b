// Day numbers and their storage and display texts.
#include <gtest/gtest.h>

#include "engine/support/gs6_date.h"
#include "platform/locale.h"
#include "platform/system.h"

namespace {
constexpr int32_t k19800101 = 2444240;
constexpr int32_t kOrigin = 2415019;  // 1899-12-30
}  // namespace

// The calendar itself is the locale layer's (see the platform tests); here
// the offset to Julian day numbers and the eight-digit storage texts.
TEST(DBFDate, EightDigitTextsAreJulianDaysAndNoDateIsBlank) {
  TgsDBFDate date;
  EXPECT_EQ(date.DayOffset(), kOrigin);
  EXPECT_EQ(date.TextToDay("19800101"), k19800101);
  EXPECT_EQ(date.DayToStorageText(k19800101 + 366), "19810101");  // 1980 is a leap year
  EXPECT_EQ(date.TextToDay("19000229"), kOrigin);  // no such date
  int y, m, d;
  date.DecodeDay(0, y, m, d);
  EXPECT_EQ(y, 0);  // no calendar date before the year 1
  EXPECT_EQ(date.TextToDay("        "), 0);
  EXPECT_EQ(date.TextToDay("00000000"), 0);
  // No date writes as blanks, and neither does one beyond 9999-12-31.
  EXPECT_EQ(date.DayToStorageText(-5), "        ");
  EXPECT_EQ(date.DayToDisplayText(0), "          ");
  EXPECT_EQ(date.DayToStorageText(date.TextToDay("99991231") + 1), "        ");
  EXPECT_EQ(date.DayToStorageText(date.TextToDay("00010101")), "00010101");
}

TEST(DBFDate, DisplayUsesShortFormatWithFourDigitYear) {
  const TgsDBFDate& date = DBFDate();
  int32_t day = date.TextToDay("20240305");
  EXPECT_EQ(date.DisplayPattern(), "DD.MM.YYYY");
  EXPECT_EQ(date.DayToDisplayText(day), "05.03.2024");

  platform::LocaleSettings twoDigit;
  twoDigit.shortDateFormat = "dd.MM.yy";
  platform::LocaleGuard guard(twoDigit);
  EXPECT_EQ(date.DayToDisplayText(day), "05.03.2024");
}

TEST(DBFDate, PatternWithoutYearDoesNotLoop) {
  platform::LocaleSettings noYear;
  noYear.shortDateFormat = "dd.mm";
  platform::LocaleGuard guard(noYear);
  const TgsDBFDate& date = DBFDate();
  EXPECT_EQ(date.DisplayPattern(), "DD.MM");
  EXPECT_EQ(date.DayToDisplayText(date.TextToDay("20240305")), "05.03");
}

TEST(DBFDate, OtherTextsReadInShortDateForm) {
  const TgsDBFDate& date = DBFDate();
  EXPECT_EQ(date.TextToDay("05.03.2024  "), date.TextToDay("20240305"));
  EXPECT_EQ(date.TextToDay(date.DayToDisplayText(k19800101)), k19800101);
  EXPECT_THROW(date.TextToDay("31.02.2024"), platform::ConvertError);
  EXPECT_THROW(date.TextToDay("2024030"), platform::ConvertError);
}

TEST(DBFDate, WeekdaysAndToday) {
  const TgsDBFDate& date = DBFDate();
  EXPECT_EQ(date.DayOfWeekOf(date.TextToDay("20240303")), 1);  // Sunday
  EXPECT_EQ(date.DayOfWeekOf(0), 0);
  platform::SetClockForTests([] {
    platform::LocalDateTime t;
    t.year = 2024;
    t.month = 12;
    t.day = 31;
    t.hour = 23;
    return t;
  });
  int32_t today = date.Today();
  platform::SetClockForTests({});
  EXPECT_EQ(date.DayToStorageText(today), "20241231");
}
