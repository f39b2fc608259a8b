// The date object: day numbers to and from their storage and display texts.
#include "engine/support/gs6_date.h"

#include <cctype>

#include "platform/ansi.h"
#include "platform/locale.h"

TgsDBFDate::TgsDBFDate() {
  // The day number of 1980-01-01 minus its platform serial.
  int32_t serial1980 = 0;
  platform::TryEncodeDate(1980, 1, 1, serial1980);
  dayOffset_ = 2444240 - serial1980;
}

void TgsDBFDate::DecodeDay(int32_t day, int& year, int& month, int& dayOfMonth) const {
  const int64_t serial = static_cast<int64_t>(day) - dayOffset_;
  if (serial < platform::kMinDateSerial || serial > platform::kMaxDateSerial) {
    year = month = dayOfMonth = 0;
    return;
  }
  platform::DecodeDate(static_cast<int32_t>(serial), year, month, dayOfMonth);
}

int32_t TgsDBFDate::Today() const { return platform::TodaySerial() + dayOffset_; }

int TgsDBFDate::DayOfWeekOf(int32_t day) const {
  if (day <= 0) return 0;
  return platform::DayOfWeek(day - dayOffset_);
}

std::string TgsDBFDate::DayToStorageText(int32_t day) const {
  if (day <= 0) return std::string(8, ' ');
  std::string text = platform::FormatDate("yyyymmdd", day - dayOffset_);
  return text.empty() ? std::string(8, ' ') : text;
}

std::string TgsDBFDate::DisplayPattern() const {
  std::string pattern = platform::UpperCase(platform::Locale().shortDateFormat);
  // Widen the year to four digits; a pattern without a year stays as it is.
  while (pattern.find("YYYY") == std::string::npos) {
    size_t first = pattern.find('Y');
    if (first == std::string::npos) break;
    pattern.insert(first, 1, 'Y');
  }
  return pattern;
}

std::string TgsDBFDate::DayToDisplayText(int32_t day) const {
  std::string pattern = DisplayPattern();
  if (day <= 0) return std::string(pattern.size(), ' ');
  std::string text = platform::FormatDate(pattern, day - dayOffset_);
  return text.empty() ? std::string(pattern.size(), ' ') : text;
}

int32_t TgsDBFDate::TextToDay(std::string_view text) const {
  std::string_view trimmed = text;
  while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
  if (trimmed.empty() || text == "00000000") return 0;
  int32_t serial = 0;
  bool allDigits = trimmed.size() == 8;
  for (char c : trimmed)
    if (!std::isdigit(static_cast<unsigned char>(c))) allDigits = false;
  if (allDigits) {
    auto num = [&](size_t from, size_t count) {
      int v = 0;
      for (size_t i = from; i < from + count; ++i) v = v * 10 + (trimmed[i] - '0');
      return v;
    };
    // A combination that is no calendar date keeps serial 0.
    platform::TryEncodeDate(num(0, 4), num(4, 2), num(6, 2), serial);
  } else {
    serial = platform::TextToDate(trimmed);
  }
  return dayOffset_ + serial;
}

const TgsDBFDate& DBFDate() {
  static const TgsDBFDate date;
  return date;
}
