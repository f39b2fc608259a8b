// The locale settings object, number texts and the calendar of date serials.
#include "platform/locale.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/system.h"

namespace platform {

LocaleSettings& Locale() {
  static LocaleSettings settings;
  return settings;
}

LocaleGuard::LocaleGuard(const LocaleSettings& settings) : saved_(Locale()) { Locale() = settings; }

LocaleGuard::~LocaleGuard() { Locale() = saved_; }

// --- Numbers ---------------------------------------------------------------

std::string FloatToText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  // 15 significant digits: d.dddddddddddddde[+-]x
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", value);
  std::string text(buf);
  bool negative = text[0] == '-';
  size_t start = negative ? 1 : 0;
  size_t ePos = text.find('e');
  std::string digits;
  for (size_t i = start; i < ePos; ++i)
    if (std::isdigit(static_cast<unsigned char>(text[i]))) digits += text[i];
  int exponent = std::atoi(text.c_str() + ePos + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  const char sep = Locale().decimalSeparator;
  std::string out = negative ? "-" : "";
  if (exponent >= 15 || exponent < -4) {
    out += digits[0];
    if (digits.size() > 1) {
      out += sep;
      out.append(digits, 1, std::string::npos);
    }
    out += 'E';
    out += std::to_string(exponent);
  } else if (exponent < 0) {
    out += '0';
    out += sep;
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += digits;
  } else {
    size_t intDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
      out += digits;
      out.append(intDigits - digits.size(), '0');
    } else {
      out.append(digits, 0, intDigits);
      out += sep;
      out.append(digits, intDigits, std::string::npos);
    }
  }
  return out;
}

namespace {

bool ParseNumber(std::string_view text, double& value, bool dotToo) {
  size_t i = 0, n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  if (i == n) return false;
  // Rebuild the number in the C locale's spelling for strtod.
  std::string c;
  if (text[i] == '+' || text[i] == '-') c += text[i++];
  size_t mantissaDigits = 0;
  while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) {
    c += text[i++];
    ++mantissaDigits;
  }
  if (i < n && (text[i] == Locale().decimalSeparator || (dotToo && text[i] == '.'))) {
    c += '.';
    ++i;
    while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) {
      c += text[i++];
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    c += 'e';
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) c += text[i++];
    size_t expDigits = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) {
      c += text[i++];
      ++expDigits;
    }
    if (expDigits == 0) return false;
  }
  if (i != n) return false;
  char* end = nullptr;
  double v = std::strtod(c.c_str(), &end);
  if (end != c.c_str() + c.size() || std::isinf(v)) return false;
  value = v;
  return true;
}

}  // namespace

bool TryTextToFloat(std::string_view text, double& value) { return ParseNumber(text, value, false); }

bool TryTextToNumber(std::string_view text, double& value) { return ParseNumber(text, value, true); }

double TextToFloat(std::string_view text) {
  double value = 0;
  if (!TryTextToFloat(text, value))
    throw ConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return value;
}

// --- Calendar ----------------------------------------------------------------
namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// Serial 0 (1899-12-30) counted from 1970-01-01.
constexpr int64_t kSerialEpoch = -25569;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

bool IsValidDate(int year, int month, int day) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  int last = kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
  return day <= last;
}

bool TryEncodeDate(int year, int month, int day, int32_t& serial) {
  if (!IsValidDate(year, month, day)) return false;
  serial = static_cast<int32_t>(DaysFromCivil(year, month, day) - kSerialEpoch);
  return true;
}

bool DecodeDate(int32_t serial, int& year, int& month, int& day) {
  if (serial < kMinDateSerial || serial > kMaxDateSerial) {
    year = month = day = 0;
    return false;
  }
  CivilFromDays(static_cast<int64_t>(serial) + kSerialEpoch, year, month, day);
  return true;
}

int DayOfWeek(int32_t serial) {
  // Serial 0 (1899-12-30) was a Saturday.
  int64_t r = (static_cast<int64_t>(serial) + 6) % 7;
  if (r < 0) r += 7;
  return static_cast<int>(r) + 1;
}

int32_t TodaySerial() {
  LocalDateTime now = Now();
  int32_t serial = 0;
  TryEncodeDate(now.year, now.month, now.day, serial);
  return serial;
}

std::string FormatDate(std::string_view pattern, int32_t serial) {
  int year, month, day;
  if (!DecodeDate(serial, year, month, day)) return {};
  auto twoDigits = [](int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v % 100);
    return std::string(b);
  };
  std::string out;
  size_t i = 0;
  while (i < pattern.size()) {
    char c = pattern[i];
    char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c == '"' || c == '\'') {
      size_t close = pattern.find(c, i + 1);
      if (close == std::string_view::npos) close = pattern.size();
      out.append(pattern.substr(i + 1, close - i - 1));
      i = close + 1;
      continue;
    }
    if (lc == 'd' || lc == 'm' || lc == 'y') {
      size_t run = 1;
      while (i + run < pattern.size() &&
             std::tolower(static_cast<unsigned char>(pattern[i + run])) == lc)
        ++run;
      int v = lc == 'd' ? day : lc == 'm' ? month : year;
      if (lc == 'y') {
        if (run <= 2) {
          out += twoDigits(v);
        } else {
          char b[8];
          std::snprintf(b, sizeof b, "%04d", v);
          out += b;
        }
      } else {
        out += run == 1 ? std::to_string(v) : twoDigits(v);
      }
      i += run;
      continue;
    }
    out += c == '/' ? Locale().dateSeparator : c;
    ++i;
  }
  return out;
}

int32_t TextToDate(std::string_view text) {
  auto fail = [&]() -> int32_t {
    throw ConvertError("'" + std::string(text) + "' is not a valid date");
  };
  // Order of day, month and year from the pattern's first letters.
  std::string order;
  for (char ch : Locale().shortDateFormat) {
    char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if ((lc == 'd' || lc == 'm' || lc == 'y') && order.find(lc) == std::string::npos) order += lc;
  }
  if (order.size() != 3) order = "dmy";

  std::vector<int> numbers;
  std::vector<size_t> widths;
  const char sep = Locale().dateSeparator;
  size_t i = 0, n = text.size();
  while (i < n && text[i] == ' ') ++i;
  while (n > i && text[n - 1] == ' ') --n;
  while (i < n) {
    size_t begin = i;
    int v = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(text[i])) && i - begin < 4) v = v * 10 + (text[i++] - '0');
    if (i == begin || numbers.size() == 3) return fail();
    numbers.push_back(v);
    widths.push_back(i - begin);
    if (i < n) {
      if (text[i] != sep) return fail();
      ++i;
      if (i == n) return fail();
    }
  }
  if (numbers.size() < 2) return fail();
  int year = 0, month = 0, day = 0;
  bool hasYear = numbers.size() == 3;
  size_t k = 0;
  for (char part : order) {
    if (part == 'y' && !hasYear) continue;
    int v = numbers[k];
    if (part == 'y' && widths[k] <= 2) v += v < 50 ? 2000 : 1900;
    (part == 'd' ? day : part == 'm' ? month : year) = v;
    ++k;
  }
  if (!hasYear) {
    int ty, tm, td;
    DecodeDate(TodaySerial(), ty, tm, td);
    year = ty;
  }
  int32_t serial = 0;
  if (!TryEncodeDate(year, month, day, serial)) return fail();
  return serial;
}

}  // namespace platform
