// The user's locale settings and the number and date texts that follow them.
//
// One process-wide settings object stands in for the desktop's regional
// settings: Russian by default (decimal separator ",", short date format
// "dd.mm.yyyy", date separator "."). Tests choose other settings with
// `LocaleGuard`, which restores the previous ones when it goes out of scope.
//
// Number texts: `FloatToText` writes the general form (up to 15 significant
// digits, trailing zeros dropped, scientific form "1,5E20" / "1E-5" when the
// integer part needs more than 15 digits or the value is below 0.0001 in
// magnitude); `TextToFloat` reads an optional sign, digits with the locale's
// decimal separator and an optional exponent, surrounding blanks allowed.
//
// Date texts: the calendar works on date serials, the count of days since
// 30 December 1899 (serial 0), proleptic Gregorian, years 1 to 9999.
// Date patterns know d/dd (day), m/mm (month), yy (two-digit year),
// yyy.. (four-digit year), "/" (the locale's date separator) and quoted
// literals ("..." or '...'); letters are case-insensitive, everything else
// is copied.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

struct LocaleSettings {
  char decimalSeparator = ',';
  char thousandSeparator = '\xA0';  // no-break space in code page 1251
  char dateSeparator = '.';
  std::string shortDateFormat = "dd.mm.yyyy";
};

// The process-wide settings (mutable; read at every conversion).
LocaleSettings& Locale();

// Sets the locale for its lifetime and restores the previous one after.
class LocaleGuard {
 public:
  explicit LocaleGuard(const LocaleSettings& settings);
  ~LocaleGuard();
  LocaleGuard(const LocaleGuard&) = delete;
  LocaleGuard& operator=(const LocaleGuard&) = delete;

 private:
  LocaleSettings saved_;
};

// A text that does not convert to a number or a date.
class ConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// --- Numbers ---------------------------------------------------------------
std::string FloatToText(double value);
double TextToFloat(std::string_view text);                // throws ConvertError
bool TryTextToFloat(std::string_view text, double& value);
// A number text of xBase data (table fields, expressions, key bounds): as
// TryTextToFloat, but "." is read as the decimal point whatever the locale,
// and the locale's separator as well.
bool TryTextToNumber(std::string_view text, double& value);

// --- Calendar (date serials) -----------------------------------------------
constexpr int32_t kMinDateSerial = -693593;  // 0001-01-01
constexpr int32_t kMaxDateSerial = 2958465;  // 9999-12-31

bool IsValidDate(int year, int month, int day);
// The serial of a calendar date; false (serial untouched) when it is none.
bool TryEncodeDate(int year, int month, int day, int32_t& serial);
// The calendar date of a serial; false (all zero) outside years 1..9999.
bool DecodeDate(int32_t serial, int& year, int& month, int& day);
// 1 (Sunday) to 7 (Saturday).
int DayOfWeek(int32_t serial);
// Today's serial by the platform clock (platform/system.h).
int32_t TodaySerial();

// A serial as text through a date pattern (see above); empty when the serial
// is outside years 1..9999.
std::string FormatDate(std::string_view pattern, int32_t serial);
// A date text in the order of the short date format (day, month, year for
// Russian) with the locale's date separator: two or three numbers; without a
// year the current year is taken; a one- or two-digit year yy means 20yy
// below 50, else 19yy. Throws ConvertError when it is not a valid date.
int32_t TextToDate(std::string_view text);

}  // namespace platform
