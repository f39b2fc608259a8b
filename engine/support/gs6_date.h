// Dates of the engine: day numbers and their text forms.
//
// A date is a signed 32-bit Julian day number; 0 means no date. The
// platform's date serial (days since 1899-12-30) plus `DayOffset()`
// (2415019, the day number of 1899-12-30) gives the day number.
//
// Text forms:
//   storage  "yyyymmdd" (record form of "D" fields and key form of dates),
//            8 blanks for no date;
//   display  the locale's short date format, upper-cased and widened to a
//            four-digit year ("dd.mm.yy" displays as DD.MM.YYYY), blanks as
//            long as the pattern for no date.
// Day numbers outside the years 1 to 9999 have no text form and are written
// like "no date".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TgsDBFDate {
 public:
  TgsDBFDate();

  int32_t DayOffset() const { return dayOffset_; }
  bool FourDigitYear() const { return fourDigitYear_; }

  // Year, month and day of a day number; all 0 when it has no calendar date.
  void DecodeDay(int32_t day, int& year, int& month, int& dayOfMonth) const;
  int32_t Today() const;
  // 1 (Sunday) to 7 (Saturday) for day > 0, else 0.
  int DayOfWeekOf(int32_t day) const;
  std::string DayToStorageText(int32_t day) const;
  std::string DayToDisplayText(int32_t day) const;
  // The display pattern: the short date format upper-cased, four-digit year.
  std::string DisplayPattern() const;
  // Blank or "00000000" -> 0; eight digits -> yyyymmdd (a non-date gives the
  // day number of the serial origin, 2415019); other text is read in the
  // locale's short date form and throws platform::ConvertError when invalid.
  int32_t TextToDay(std::string_view text) const;

 private:
  int32_t dayOffset_;
  bool fourDigitYear_ = true;
};

// The process-wide date object.
const TgsDBFDate& DBFDate();
