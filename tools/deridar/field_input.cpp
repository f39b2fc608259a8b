// Checking typed values against their fields, opening a table for the
// writing verbs, and the progress line (see field_input.h).
#include "tools/deridar/field_input.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "engine/support/gs6_glbl.h"
#include "platform/system.h"
#include "tools/deridar/record_csv.h"
#include "tools/deridar/verbs.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string CodePageName(platform::CodePage codePage) {
  return codePage == platform::CodePage::Cp1251 ? "1251" : "866";
}

// Characters in a UTF-8 text (for messages about lengths).
size_t CharacterCount(std::string_view utf8) {
  size_t count = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++count;
  return count;
}

// The text in the code page, into `out` (its capacity kept from value to
// value, so a run of rows allocates nothing).
void Text(GSO_dBaseFld& table, int32_t field, std::string_view utf8, platform::CodePage codePage,
          std::string& out) {
  // A character the code page lacks, and malformed UTF-8, come out as NUL,
  // which a table text never holds. The conversion is never longer than
  // the UTF-8.
  out.resize(utf8.size());
  out.resize(platform::FromUtf8Into(utf8, codePage, out.data(), out.size(), '\0'));
  if (out.find('\0') != std::string::npos)
    throw ValueError("\"" + std::string(utf8) + "\" holds a character that code page " +
                     CodePageName(codePage) + " lacks");
  if (table.FieldType(field) == 'M') return;
  const int32_t length = table.FieldLength(field);
  if (static_cast<int32_t>(out.size()) > length)
    throw ValueError("text of " + std::to_string(CharacterCount(utf8)) + " characters does not fit its " +
                     std::to_string(length));
}

// A decimal number laid out as the field stores it, into `out`: digits
// with the field's decimals, right-aligned by the field layer.
void Number(GSO_dBaseFld& table, int32_t field, std::string_view text, std::string& out) {
  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  const size_t point = digits.find('.');
  std::string_view whole = digits.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? std::string_view() : digits.substr(point + 1);
  bool ok = !(whole.empty() && fraction.empty());
  for (char c : whole) ok = ok && IsDigit(c);
  for (char c : fraction) ok = ok && IsDigit(c);
  if (!ok) throw ValueError("\"" + std::string(text) + "\" is not a number");

  const int32_t length = table.FieldLength(field);
  const int32_t decimals = table.FieldType(field) == 'I' ? 0 : table.FieldDecimals(field);
  while (!fraction.empty() && fraction.back() == '0' && static_cast<int32_t>(fraction.size()) > decimals)
    fraction.remove_suffix(1);
  if (static_cast<int32_t>(fraction.size()) > decimals)
    throw ValueError(std::string(text) + " has more than " + std::to_string(decimals) + " decimals");
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
  out.clear();
  bool nonZero = false;
  for (char c : whole) nonZero = nonZero || c != '0';
  for (char c : fraction) nonZero = nonZero || c != '0';
  if (negative && nonZero) out += '-';
  if (whole.empty())
    out += '0';
  else
    out.append(whole);
  if (decimals > 0) {
    out += '.';
    out.append(fraction);
    out.append(static_cast<size_t>(decimals) - fraction.size(), '0');
  }
  if (table.FieldType(field) == 'I') {
    const long long value = std::strtoll(out.c_str(), nullptr, 10);
    if (out.size() > 11 || value < INT32_MIN || value > INT32_MAX)
      throw ValueError(std::string(text) + " is out of the range of a 32-bit integer");
    return;
  }
  if (static_cast<int32_t>(out.size()) > length)
    throw ValueError(std::string(text) + " does not fit its " + std::to_string(length) + " characters");
}

bool LeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int Digits(std::string_view text) {
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

void Date(std::string_view text, std::string& ymd) {
  ymd.clear();
  if (text.size() == 8) {
    ymd.assign(text);
  } else if (text.size() == 10 && text[2] == '.' && text[5] == '.') {
    ymd.append(text.substr(6, 4)).append(text.substr(3, 2)).append(text.substr(0, 2));
  }
  bool ok = ymd.size() == 8;
  for (char c : ymd) ok = ok && IsDigit(c);
  if (ok) {
    const int year = Digits(std::string_view(ymd).substr(0, 4));
    const int month = Digits(std::string_view(ymd).substr(4, 2));
    const int day = Digits(std::string_view(ymd).substr(6, 2));
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    ok = year >= 1 && month >= 1 && month <= 12 && day >= 1 &&
         day <= kDays[month - 1] + (month == 2 && LeapYear(year) ? 1 : 0);
  }
  if (!ok) throw ValueError("\"" + std::string(text) + "\" is not a date (YYYYMMDD or dd.mm.yyyy)");
}

void Logical(std::string_view text, std::string& out) {
  auto is = [&](std::string_view word) {
    if (text.size() != word.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != word[i]) return false;
    }
    return true;
  };
  for (std::string_view yes : {"t", "y", ".t.", "true", "yes", "1"})
    if (is(yes)) return void(out.assign("T"));
  for (std::string_view no : {"f", "n", ".f.", "false", "no", "0"})
    if (is(no)) return void(out.assign("F"));
  throw ValueError("\"" + std::string(text) + "\" is not a logical value (T or F)");
}

}  // namespace

std::unique_ptr<GSO_dBHandler> OpenTableForWriting(const std::string& name,
                                                   const std::vector<std::string>& indexFiles) {
  auto table = std::make_unique<GSO_dBHandler>(name, TablePassword(), true, true);
  table->OpenTable();
  for (const std::string& file : indexFiles)
    if (table->OpenIndexFile(file) < 0) throw UsageError("index file \"" + file + "\" given twice");
  return table;
}

platform::CodePage TableCodePage(const GSO_dBaseDBF& table, const std::string& encoding) {
  if (encoding == "866") return platform::CodePage::Cp866;
  if (encoding == "1251") return platform::CodePage::Cp1251;
  if (!encoding.empty()) throw UsageError("unknown encoding \"" + encoding + "\"");
  return LanguageOf(table.HeaderImage()[29]).decodeAs;
}

std::string FieldLabel(GSO_dBaseFld& table, int32_t field) { return table.FieldName(field); }

void CheckValue(GSO_dBaseFld& table, int32_t field, std::string_view utf8, platform::CodePage codePage,
                CheckedValue& checked) {
  checked.field = field;
  checked.bytes.clear();
  const char type = table.FieldType(field);
  if (table.IsBinaryField(field) && type != 'M' && type != 'I')
    throw ValueError(std::string("fields of type ") + type + " cannot be written from text");
  if (type == 'C' || type == 'M') return Text(table, field, utf8, codePage, checked.bytes);
  std::string_view text = utf8;
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return;
  switch (type) {
    case 'N':
    case 'F':
    case 'I':
      return Number(table, field, text, checked.bytes);
    case 'D':
      return Date(text, checked.bytes);
    case 'L':
      return Logical(text, checked.bytes);
    default:
      throw ValueError(std::string("fields of type ") + type + " cannot be written from text");
  }
}

CheckedValue CheckValue(GSO_dBaseFld& table, int32_t field, std::string_view utf8,
                        platform::CodePage codePage) {
  CheckedValue checked;
  CheckValue(table, field, utf8, codePage, checked);
  return checked;
}

void StoreValue(GSO_dBaseFld& table, const CheckedValue& v) {
  const char type = table.FieldType(v.field);
  if (table.MemoOf(v.field))
    table.WriteMemo(v.field, v.bytes);
  else if (type == 'I')
    table.PutNumber(v.field, v.bytes.empty() ? 0 : std::strtod(v.bytes.c_str(), nullptr));
  else
    table.PutFieldText(v.field, v.bytes);
}

void StoreValues(GSO_dBaseFld& table, const std::vector<CheckedValue>& values) {
  for (const CheckedValue& v : values) StoreValue(table, v);
}

ProgressLine::ProgressLine(std::string what, int64_t total, int64_t tableRecords)
    : what_(std::move(what)),
      total_(total),
      shown_(tableRecords > 100000 && platform::StandardErrorIsTerminal()) {}

ProgressLine::~ProgressLine() {
  if (shown_ && lastPercent_ >= 0) std::fprintf(stderr, "\r\033[K");
}

void ProgressLine::Step(int64_t done) {
  if (!shown_ || total_ <= 0) return;
  const int percent = static_cast<int>(done * 100 / total_);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  std::fprintf(stderr, "\r%s: %d%% (%lld of %lld)", what_.c_str(), percent, static_cast<long long>(done),
               static_cast<long long>(total_));
  std::fflush(stderr);
}

void ProgressReportingHandler::StatusReport(int32_t stat1, int32_t stat2, int32_t stat3) {
  if (stat1 == -1) {
    line_.reset();
    line_ = std::make_unique<ProgressLine>(what_ + (stat2 == 1 ? ": reading records" : ": writing keys"), stat3,
                                           RecordCount());
  } else if (stat1 == 0) {
    line_.reset();
  } else if (line_) {
    line_->Step(stat2);
  }
}
