// The built-in function library: the system variables, the function
// implementations and the process-wide registries they are entered in.
#include "engine/expr/gs6_fctn.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "engine/support/gs6_date.h"
#include "engine/support/gs6_glbl.h"
#include "platform/ansi.h"
#include "platform/locale.h"

namespace {

constexpr double kPi = 3.1415926535897932385;  // the value of PI and PI()

template <class F>
void Register(TgsFunctionReg& reg) {
  reg.RegisterFunction(std::make_unique<F>());
}

// The process-wide registries with the library entered: the system
// variables first, then one instance of every function.
struct TgsFunctionLibrary {
  TgsFieldVarReg variables;
  TgsFunctionReg functions;

  TgsFunctionLibrary() {
    variables.RegisterVariable(std::make_unique<TgsSDVTrue>());
    variables.RegisterVariable(std::make_unique<TgsSDVFalse>());
    variables.RegisterVariable(std::make_unique<TgsSDVPi>());
    // In the order of the function list; the registry sorts them by name.
    Register<TgsUDFAbsolute>(functions);
    Register<TgsUDFAllTrim>(functions);
    Register<TgsUDFArcCos>(functions);
    Register<TgsUDFArcSin>(functions);
    Register<TgsUDFArcTan>(functions);
    Register<TgsUDFArcTan2>(functions);
    Register<TgsUDFAsc>(functions);
    Register<TgsUDFAt>(functions);
    Register<TgsUDFAtC>(functions);
    Register<TgsUDFBetween>(functions);
    Register<TgsUDFCeiling>(functions);
    Register<TgsUDFChr>(functions);
    Register<TgsUDFCosine>(functions);
    Register<TgsUDFCTOD>(functions);
    Register<TgsUDFDate>(functions);
    Register<TgsUDFDescend>(functions);
    Register<TgsUDFDOW>(functions);
    Register<TgsUDFDTOC>(functions);
    Register<TgsUDFDegToRad>(functions);
    Register<TgsUDFDTOS>(functions);
    Register<TgsUDFEmpty>(functions);
    Register<TgsUDFFloor>(functions);
    Register<TgsUDFFutureValue>(functions);
    Register<TgsUDFIIF>(functions);
    Register<TgsUDFInlist>(functions);
    Register<TgsUDFInt>(functions);
    Register<TgsUDFLeft>(functions);
    Register<TgsUDFLen>(functions);
    Register<TgsUDFLog>(functions);
    Register<TgsUDFLog10>(functions);
    Register<TgsUDFLower>(functions);
    Register<TgsUDFLTrim>(functions);
    Register<TgsUDFMax>(functions);
    Register<TgsUDFMin>(functions);
    Register<TgsUDFMod>(functions);
    Register<TgsUDFPadC>(functions);
    Register<TgsUDFPadL>(functions);
    Register<TgsUDFPadR>(functions);
    Register<TgsUDFPi>(functions);
    Register<TgsUDFPresentValue>(functions);
    Register<TgsUDFProper>(functions);
    Register<TgsUDFRight>(functions);
    Register<TgsUDFRTrim>(functions);
    Register<TgsUDFRadToDeg>(functions);
    Register<TgsUDFSin>(functions);
    Register<TgsUDFSoundex>(functions);
    Register<TgsUDFSpace>(functions);
    Register<TgsUDFStr>(functions);
    Register<TgsUDFStrTran>(functions);
    Register<TgsUDFStrZero>(functions);
    Register<TgsUDFSubStr>(functions);
    Register<TgsUDFTan>(functions);
    Register<TgsUDFTrim>(functions);
    Register<TgsUDFUpper>(functions);
    Register<TgsUDFVal>(functions);
  }
};

TgsFunctionLibrary& Library() {
  static TgsFunctionLibrary library;
  return library;
}

}  // namespace

TgsFunctionReg& GlobalFunctionReg() { return Library().functions; }
TgsFieldVarReg& GlobalVariableReg() { return Library().variables; }

// --- System variables ----------------------------------------------------------

TgsExpValueType TgsSDVTrue::GetValue(TgsExpValue& value) {
  value.SetBoolean(true);
  return TgsExpValueType::Boolean;
}

TgsExpValueType TgsSDVFalse::GetValue(TgsExpValue& value) {
  value.SetBoolean(false);
  return TgsExpValueType::Boolean;
}

TgsExpValueType TgsSDVPi::GetValue(TgsExpValue& value) {
  value.SetDouble(kPi);
  return TgsExpValueType::Number;
}

// --- Shared steps ------------------------------------------------------------------

namespace {

bool IsBlank(char c) { return static_cast<uint8_t>(c) <= 32; }

void TrimRightInPlace(std::string& text) {
  size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  text.resize(end);
}

void TrimLeftInPlace(std::string& text) {
  size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  text.erase(0, start);
}

void AsciiUpperInPlace(std::string& text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

// Reads a Number argument.
double NumberArgument(TgsExpFunction& call, size_t index, TgsExpValue& cell) {
  call.GetArgument(index, cell, TgsExpValueType::Number);
  return cell.AsDouble();
}

// Reads an optional argument: its truncated value when a Number is given,
// otherwise `fallback`.
int64_t OptionalTrunc(TgsExpFunction& call, size_t index, TgsExpValue& cell, int64_t fallback) {
  if (call.GetArgument(index, cell, TgsExpValueType::Any) != TgsExpValueType::Number) return fallback;
  return TruncToInt32(cell.AsDouble());
}

// Stores a number result; a result outside the range of doubles (overflow,
// an undefined value) ends the evaluation with a message naming the function.
TgsExpValueType NumberResult(TgsExpValue& value, double result, std::string_view function) {
  if (!std::isfinite(result))
    Raise<EDeridarExpression>(Msg::ArgumentMustBe, function, "within the number range");
  value.SetDouble(result + 0.0);  // no negative zero
  return TgsExpValueType::Number;
}

// Refuses texts longer than the library builds.
size_t CheckedTextSize(int64_t size, std::string_view function) {
  if (size > static_cast<int64_t>(kMaxFunctionText))
    Raise<EDeridarExpression>(Msg::ArgumentMustBe, function, "at most " + std::to_string(kMaxFunctionText));
  return size < 0 ? 0 : static_cast<size_t>(size);
}

// `value` in fixed notation with `decimals` digits after the point (none
// for 0), rounded half away from zero on the decimal value as it is shown:
// the shortest decimal text that reads back as the value, so that 1.005
// (held as 1.00499999...) rounds to 1.01 as its reader expects. A result
// that rounds to zero carries no minus sign.
std::string FormatFixed(double value, int decimals) {
  char buffer[400];
  if (!std::isfinite(value)) {
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
  }
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  std::string_view shown(buffer, static_cast<size_t>(result.ptr - buffer));
  const bool negative = !shown.empty() && shown.front() == '-';
  if (negative) shown.remove_prefix(1);
  const size_t point = shown.find('.');
  std::string digits(shown.substr(0, point));  // the integer digits, then the kept decimals
  std::string_view fraction = point == std::string_view::npos ? std::string_view() : shown.substr(point + 1);
  const size_t kept = static_cast<size_t>(decimals);
  const bool roundUp = fraction.size() > kept && fraction[kept] >= '5';
  digits.append(fraction.substr(0, std::min(kept, fraction.size())));
  digits.append(kept - std::min(kept, fraction.size()), '0');
  if (roundUp) {
    size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i == 0)
      digits.insert(0, 1, '1');
    else
      ++digits[i - 1];
  }
  std::string text;
  if (negative && digits.find_first_not_of('0') != std::string::npos) text += '-';
  text.append(digits, 0, digits.size() - kept);
  if (kept > 0) {
    text += '.';
    text.append(digits, digits.size() - kept, kept);
  }
  return text;
}

bool IsProperSeparator(uint8_t c) {
  return c == 0 || (c >= 32 && c <= 38) || (c >= 40 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 95) ||
         (c >= 123 && c <= 127);
}

char SoundexDigit(char c) {
  switch (c) {
    case 'B': case 'F': case 'P': case 'V': return '1';
    case 'C': case 'G': case 'J': case 'K': case 'Q': case 'S': case 'X': case 'Z': return '2';
    case 'D': case 'T': return '3';
    case 'L': return '4';
    case 'M': case 'N': return '5';
    case 'R': return '6';
    default: return 0;
  }
}

// Position (1-based) of the n-th occurrence of `needle` in `haystack`, each
// search starting one character after the previous find; the last one found
// when there are fewer; 0 when none or n <= 0.
int64_t NthOccurrence(std::string_view needle, std::string_view haystack, int64_t n) {
  if (needle.empty()) return 0;
  int64_t total = 0;
  size_t offset = 0;
  for (int64_t i = 0; i < n; ++i) {
    size_t found = haystack.find(needle, offset);
    if (found == std::string_view::npos) break;
    total = static_cast<int64_t>(found) + 1;
    offset = found + 1;
  }
  return total;
}

}  // namespace

// --- Text functions ----------------------------------------------------------------

TgsExpValueType TgsUDFAllTrim::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Text);
  std::string& text = value.TextBuffer();
  TrimRightInPlace(text);
  TrimLeftInPlace(text);
  return TgsExpValueType::Text;
}

TgsExpValueType TgsUDFLTrim::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Text);
  TrimLeftInPlace(value.TextBuffer());
  return TgsExpValueType::Text;
}

TgsExpValueType TgsUDFTrim::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Text);
  TrimRightInPlace(value.TextBuffer());
  return TgsExpValueType::Text;
}

namespace {

// Runs a case rule of code page 1251 over the call's text argument. When the
// call's table keeps its text in the OEM code page the text is translated to
// 1251 for the rule and back, so that OEM letters change case by their
// meaning and the result stays OEM.
template <class Rule>
TgsExpValueType ChangeCase(TgsExpFunction& call, TgsExpValue& value, Rule rule) {
  call.GetArgument(0, value, TgsExpValueType::Text);
  std::string& text = value.TextBuffer();
  TgsExpUserLink* link = call.OwnerLink();
  const bool oem = link && link->TranslateOem() && !text.empty();
  if (oem) TranslateToAnsi(text.data(), text.data(), text.size());
  rule(text);
  if (oem) TranslateToOem(text.data(), text.data(), text.size());
  return TgsExpValueType::Text;
}

}  // namespace

TgsExpValueType TgsUDFUpper::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return ChangeCase(call, value, [](std::string& text) { platform::UpperCaseInPlace(text); });
}

TgsExpValueType TgsUDFLower::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return ChangeCase(call, value, [](std::string& text) {
    for (char& c : text) c = static_cast<char>(platform::LowerChar(static_cast<uint8_t>(c)));
  });
}

TgsExpValueType TgsUDFProper::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return ChangeCase(call, value, [](std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
      auto c = static_cast<uint8_t>(text[i]);
      bool startsWord = i == 0 || IsProperSeparator(static_cast<uint8_t>(text[i - 1]));
      text[i] = static_cast<char>(startsWord ? platform::UpperChar(c) : platform::LowerChar(c));
    }
  });
}

TgsExpValueType TgsUDFLeft::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Text);
  double n = NumberArgument(call, 1, call.Scratch(0));
  int64_t count = n <= 0.01 ? 0 : TruncToInt32(n);
  // Padded with blanks or cut: always exactly `count` long.
  value.TextBuffer().resize(CheckedTextSize(count, "LEFT"), ' ');
  return TgsExpValueType::Text;
}

TgsExpValueType TgsUDFRight::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Text);
  int64_t count = TruncToInt32(NumberArgument(call, 1, call.Scratch(0)));
  std::string& text = value.TextBuffer();
  const auto length = static_cast<int64_t>(text.size());
  if (count <= 0)
    text.clear();
  else if (count < length)
    text.erase(0, static_cast<size_t>(length - count));
  return TgsExpValueType::Text;
}

TgsExpValueType TgsUDFSubStr::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Text);
  TgsExpValue& cell = call.Scratch(0);
  const int64_t start = TruncToInt32(NumberArgument(call, 1, cell));
  std::string& text = value.TextBuffer();
  const auto length = static_cast<int64_t>(text.size());
  int64_t count = OptionalTrunc(call, 2, cell, length);
  if (start == 0 || start > length) {
    text.clear();
    return TgsExpValueType::Text;
  }
  count = std::min(count, length - start + 1);
  if (count <= 0) {
    text.clear();
    return TgsExpValueType::Text;
  }
  // A start below 1 counts from the first character.
  const int64_t from = std::max<int64_t>(start, 1) - 1;
  text = text.substr(static_cast<size_t>(from), static_cast<size_t>(count));
  return TgsExpValueType::Text;
}

TgsExpValueType TgsUDFSpace::Execute(TgsExpFunction& call, TgsExpValue& value) {
  int64_t count = TruncToInt32(NumberArgument(call, 0, value));
  value.TextBuffer().assign(CheckedTextSize(count, "SPACE"), ' ');
  return TgsExpValueType::Text;
}

TgsExpValueType TgsUDFLen::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Text);
  value.SetInteger(static_cast<int32_t>(std::min<size_t>(value.Text().size(), std::numeric_limits<int32_t>::max())));
  return TgsExpValueType::Number;
}

TgsExpValueType TgsUDFAt::Execute(TgsExpFunction& call, TgsExpValue& value) {
  TgsExpValue& needle = call.Scratch(0);
  call.GetArgument(0, needle, TgsExpValueType::Text);
  call.GetArgument(1, value, TgsExpValueType::Text);
  int64_t n = OptionalTrunc(call, 2, call.Scratch(1), 1);
  int64_t position = NthOccurrence(needle.Text(), value.Text(), n);
  value.SetDouble(static_cast<double>(position));
  return TgsExpValueType::Number;
}

TgsExpValueType TgsUDFAtC::Execute(TgsExpFunction& call, TgsExpValue& value) {
  TgsExpValue& needle = call.Scratch(0);
  call.GetArgument(0, needle, TgsExpValueType::Text);
  call.GetArgument(1, value, TgsExpValueType::Text);
  int64_t n = OptionalTrunc(call, 2, call.Scratch(1), 1);
  AsciiUpperInPlace(needle.TextBuffer());
  AsciiUpperInPlace(value.TextBuffer());
  int64_t position = NthOccurrence(needle.Text(), value.Text(), n);
  value.SetDouble(static_cast<double>(position));
  return TgsExpValueType::Number;
}

TgsExpValueType TgsUDFStrTran::Execute(TgsExpFunction& call, TgsExpValue& value) {
  TgsExpValue& source = call.Scratch(0);
  TgsExpValue& find = call.Scratch(1);
  TgsExpValue& replacement = call.Scratch(2);
  call.GetArgument(0, source, TgsExpValueType::Text);
  call.GetArgument(1, find, TgsExpValueType::Text);
  if (call.GetArgument(2, replacement, TgsExpValueType::Any) != TgsExpValueType::Text) replacement.SetText("");
  int64_t start = OptionalTrunc(call, 3, value, 1);
  int64_t count = 0;
  const bool limited = call.GetArgument(4, value, TgsExpValueType::Any) == TgsExpValueType::Number;
  if (limited) count = TruncToInt32(value.AsDouble());
  const std::string_view text = source.Text(), pattern = find.Text(), with = replacement.Text();
  std::string& out = value.TextBuffer();
  out.clear();
  if (pattern.empty() || (limited && count <= 0)) {
    out.assign(text);
    return TgsExpValueType::Text;
  }
  size_t position = 0;
  for (;;) {
    size_t found = text.find(pattern, position);
    if (found == std::string_view::npos) break;
    out.append(text, position, found - position);
    if (--start > 0) {
      out.append(pattern);
    } else {
      out.append(with);
      --count;
    }
    position = found + pattern.size();
    if (limited && count == 0) break;
  }
  out.append(text.substr(position));
  return TgsExpValueType::Text;
}

TgsExpValueType TgsUDFSoundex::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Text);
  std::string& text = value.TextBuffer();
  AsciiUpperInPlace(text);
  if (text.empty()) {
    text = "0000";
    return TgsExpValueType::Text;
  }
  // The first character, then the digits of the rest; a digit equal to the
  // one before it in that sequence is dropped.
  std::string code(1, text.front());
  char previous = text.front();
  for (size_t i = 1; i < text.size() && code.size() < 4; ++i) {
    char digit = SoundexDigit(text[i]);
    if (digit == 0) continue;
    if (digit != previous) code += digit;
    previous = digit;
  }
  code.resize(4, '0');
  text = code;
  return TgsExpValueType::Text;
}

TgsExpValueType TgsUDFAsc::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Text);
  std::string_view text = value.Text();
  value.SetDouble(text.empty() ? 0 : static_cast<uint8_t>(text.front()));
  return TgsExpValueType::Number;
}

TgsExpValueType TgsUDFChr::Execute(TgsExpFunction& call, TgsExpValue& value) {
  int32_t code = RoundToInt32(NumberArgument(call, 0, value));
  if (code < 0 || code > 255) Raise<EDeridarExpression>(Msg::ValueRequiredInvalid, "Byte");
  value.TextBuffer().assign(1, static_cast<char>(code));
  return TgsExpValueType::Text;
}

// --- Padding -----------------------------------------------------------------------

TgsExpValueType TgsUDFPadMain::Execute(TgsExpFunction& call, TgsExpValue& value) {
  char pad = ' ';
  TgsExpValueType padType = call.GetArgument(2, value, TgsExpValueType::Any);
  if (padType != TgsExpValueType::Empty) {
    if (padType != TgsExpValueType::Text || value.Text().size() != 1)
      Raise<EDeridarExpression>(Msg::ValueRequiredInvalid, "Char");
    pad = value.Text().front();
  }
  TgsExpValue& subject = call.Scratch(0);
  if (call.GetArgument(0, subject, TgsExpValueType::Any) == TgsExpValueType::Empty)
    Raise<EDeridarExpression>(Msg::ArgumentNeeded, "Value", 1, "Pad");
  if (!subject.IsText()) subject.SetText(subject.AsText());
  const int64_t width = RoundToInt32(NumberArgument(call, 1, value));
  const std::string_view text = subject.Text();
  std::string& out = value.TextBuffer();
  if (static_cast<int64_t>(text.size()) < width) {
    const size_t size = CheckedTextSize(width, FunctionName());
    out.assign(size, pad);
    out.replace(TextOffset(text.size(), size), text.size(), text);
  } else {
    out.assign(text);  // padding never cuts
  }
  return TgsExpValueType::Text;
}

size_t TgsUDFPadMain::TextOffset(size_t, size_t) const { return 0; }

size_t TgsUDFPadL::TextOffset(size_t length, size_t width) const { return width - length; }

size_t TgsUDFPadC::TextOffset(size_t length, size_t width) const { return (width - length) / 2; }

// --- STR and STRZERO ---------------------------------------------------------------

TgsExpValueType TgsUDFStr::Execute(TgsExpFunction& call, TgsExpValue& value) {
  const double number = NumberArgument(call, 0, value);
  int64_t width;
  int64_t decimals = 0;
  if (call.GetArgument(1, value, TgsExpValueType::Any) == TgsExpValueType::Number) {
    width = RoundToInt32(value.AsDouble());
    if (call.GetArgument(2, value, TgsExpValueType::Any) == TgsExpValueType::Number)
      decimals = std::max(0, RoundToInt32(value.AsDouble()));
  } else {
    width = call.DefaultStrWidth();
    if (width < 0) width = call.ArgumentLength(0);
  }
  const size_t size = CheckedTextSize(width, "STR");
  std::string& out = value.TextBuffer();
  // "0." and the decimals alone would be wider than the width.
  if (decimals > 0 && decimals + 2 > width) {
    out.assign(size, '*');
    return TgsExpValueType::Text;
  }
  out = FormatFixed(number, static_cast<int>(decimals));
  if (out.size() > size)
    out.assign(size, '*');
  else
    out.insert(0, size - out.size(), ' ');
  return TgsExpValueType::Text;
}

TgsExpValueType TgsUDFStrZero::Execute(TgsExpFunction& call, TgsExpValue& value) {
  TgsUDFStr::Execute(call, value);
  for (char& c : value.TextBuffer()) {
    if (c != ' ') break;
    c = '0';
  }
  return TgsExpValueType::Text;
}

// --- Conversion and date functions -------------------------------------------------

TgsExpValueType TgsUDFVal::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Text);
  double number = 0;
  if (!platform::TryTextToNumber(value.Text(), number) || !std::isfinite(number)) number = 0;
  value.SetDouble(number);
  return TgsExpValueType::Number;
}

TgsExpValueType TgsUDFCTOD::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Text);
  if (value.Text().empty()) {
    value.SetDouble(BlankDate);
    return TgsExpValueType::Date;
  }
  int32_t day = 0;
  try {
    day = DBFDate().TextToDay(value.Text());
  } catch (const platform::ConvertError&) {
    Raise<EDeridarExpression>(Msg::ValueRequiredInvalid, "Date");
  }
  value.SetDouble(day);
  return TgsExpValueType::Date;
}

TgsExpValueType TgsUDFDTOC::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Date);
  const double date = value.AsDouble();
  if (date == BlankDate) {
    value.SetText(DBFDate().DayToDisplayText(0));
    return TgsExpValueType::Text;
  }
  const int32_t day = TruncToInt32(date);
  TgsExpValue& mode = call.Scratch(0);
  bool storage = call.GetArgument(1, mode, TgsExpValueType::Any) == TgsExpValueType::Number &&
                 RoundToInt32(mode.AsDouble()) == 1;
  value.SetText(storage ? DBFDate().DayToStorageText(day) : DBFDate().DayToDisplayText(day));
  return TgsExpValueType::Text;
}

TgsExpValueType TgsUDFDTOS::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Date);
  const double date = value.AsDouble();
  value.SetText(date == BlankDate ? std::string(8, ' ') : DBFDate().DayToStorageText(TruncToInt32(date)));
  return TgsExpValueType::Text;
}

TgsExpValueType TgsUDFDOW::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Date);
  const double date = value.AsDouble();
  value.SetDouble(date == BlankDate ? 0 : DBFDate().DayOfWeekOf(TruncToInt32(date)));
  return TgsExpValueType::Number;
}

TgsExpValueType TgsUDFDate::Execute(TgsExpFunction&, TgsExpValue& value) {
  value.SetInteger(DBFDate().Today());
  return TgsExpValueType::Date;
}

TgsExpValueType TgsUDFDescend::Execute(TgsExpFunction& call, TgsExpValue& value) {
  const TgsExpValueType type = call.GetArgument(0, value, TgsExpValueType::Any);
  switch (type) {
    case TgsExpValueType::Date:
    case TgsExpValueType::DateTime:
      if (value.AsDouble() != BlankDate) value.SetDouble(5231808.0 - value.AsDouble());
      break;
    case TgsExpValueType::Number:
    case TgsExpValueType::Integer:
      if (value.GetKind() == TgsExpValue::Kind::Integer && value.AsInteger() != std::numeric_limits<int32_t>::min())
        value.SetInteger(-value.AsInteger());
      else if (value.AsDouble() != 0)
        value.SetDouble(-value.AsDouble());
      break;
    case TgsExpValueType::Text:
      for (char& c : value.TextBuffer()) c = static_cast<char>((256 - static_cast<uint8_t>(c)) & 0xFF);
      break;
    case TgsExpValueType::Boolean: value.SetBoolean(!value.AsBoolean()); break;
    default: value.SetBoolean(false); break;
  }
  return type;
}

// --- Numeric functions -------------------------------------------------------------

TgsExpValueType TgsUDFAbsolute::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return NumberResult(value, std::fabs(NumberArgument(call, 0, value)), "ABS");
}

TgsExpValueType TgsUDFInt::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return NumberResult(value, std::trunc(NumberArgument(call, 0, value)), "INT");
}

// CEILING and FLOOR: the truncated value, moved by one toward the fraction.
// Computed on doubles, so values beyond 32 bits stay exact.
TgsExpValueType TgsUDFCeiling::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return NumberResult(value, std::ceil(NumberArgument(call, 0, value)), "CEILING");
}

TgsExpValueType TgsUDFFloor::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return NumberResult(value, std::floor(NumberArgument(call, 0, value)), "FLOOR");
}

TgsExpValueType TgsUDFMod::Execute(TgsExpFunction& call, TgsExpValue& value) {
  const int64_t a = TruncToInt32(NumberArgument(call, 0, value));
  const int64_t b = TruncToInt32(NumberArgument(call, 1, value));
  if (b == 0) Raise<EDeridarExpression>(Msg::ArgumentMustBe, "MOD", "other than 0");
  value.SetDouble(static_cast<double>(a % b));  // takes the sign of a
  return TgsExpValueType::Number;
}

TgsExpValueType TgsUDFSin::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return NumberResult(value, std::sin(NumberArgument(call, 0, value)), "SIN");
}

TgsExpValueType TgsUDFCosine::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return NumberResult(value, std::cos(NumberArgument(call, 0, value)), "COS");
}

TgsExpValueType TgsUDFTan::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return NumberResult(value, std::tan(NumberArgument(call, 0, value)), "TAN");
}

TgsExpValueType TgsUDFArcSin::Execute(TgsExpFunction& call, TgsExpValue& value) {
  const double x = NumberArgument(call, 0, value);
  if (!(std::fabs(x) <= 1)) Raise<EDeridarExpression>(Msg::ArgumentMustBe, "ASIN", "-1 to +1");
  return NumberResult(value, std::atan2(x, std::sqrt(1 - x * x)), "ASIN");
}

TgsExpValueType TgsUDFArcCos::Execute(TgsExpFunction& call, TgsExpValue& value) {
  const double x = NumberArgument(call, 0, value);
  if (!(std::fabs(x) <= 1)) Raise<EDeridarExpression>(Msg::ArgumentMustBe, "ACOS", "-1 to +1");
  return NumberResult(value, std::atan2(std::sqrt(1 - x * x), x), "ACOS");
}

TgsExpValueType TgsUDFArcTan::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return NumberResult(value, std::atan(NumberArgument(call, 0, value)), "ATAN");
}

TgsExpValueType TgsUDFArcTan2::Execute(TgsExpFunction& call, TgsExpValue& value) {
  const double y = NumberArgument(call, 0, value);
  const double x = NumberArgument(call, 1, value);
  return NumberResult(value, std::atan2(y, x), "ATN2");
}

TgsExpValueType TgsUDFDegToRad::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return NumberResult(value, NumberArgument(call, 0, value) * kPi / 180, "DTOR");
}

TgsExpValueType TgsUDFRadToDeg::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return NumberResult(value, NumberArgument(call, 0, value) * 180 / kPi, "RTOD");
}

TgsExpValueType TgsUDFPi::Execute(TgsExpFunction&, TgsExpValue& value) {
  value.SetDouble(kPi);
  return TgsExpValueType::Number;
}

TgsExpValueType TgsUDFLog::Execute(TgsExpFunction& call, TgsExpValue& value) {
  const double x = NumberArgument(call, 0, value);
  if (!(x > 0)) Raise<EDeridarExpression>(Msg::ArgumentMustBe, "LOG", "> 0");
  return NumberResult(value, std::log(x), "LOG");
}

TgsExpValueType TgsUDFLog10::Execute(TgsExpFunction& call, TgsExpValue& value) {
  const double x = NumberArgument(call, 0, value);
  if (!(x > 0)) Raise<EDeridarExpression>(Msg::ArgumentMustBe, "LOG10", "> 0");
  return NumberResult(value, std::log10(x), "LOG10");
}

namespace {

// The arguments of FV and PV and the growth and annuity factors they share.
struct Annuity {
  double payment = 0;
  double rate = 0;
  double other = 0;   // present value for FV, future value for PV
  double growth = 1;  // (1 + rate)^n
  double factor = 0;  // sum of the growth over the periods
};

Annuity ReadAnnuity(TgsExpFunction& call, TgsExpValue& value, const char* timingName, const char* function) {
  Annuity a;
  a.payment = NumberArgument(call, 0, value);
  a.rate = NumberArgument(call, 1, value);
  const int64_t periods = TruncToInt32(NumberArgument(call, 2, value));
  int64_t timing = 0;
  if (call.GetArgument(3, value, TgsExpValueType::Any) != TgsExpValueType::Empty) {
    a.other = value.AsDouble();
    if (call.GetArgument(4, value, TgsExpValueType::Any) != TgsExpValueType::Empty) {
      timing = TruncToInt32(value.AsDouble());
      if (timing < -1 || timing > 1) Raise<EDeridarExpression>(Msg::ArgumentMustBe, timingName, "0 or 1");
    }
  }
  if (!(a.rate > -1)) Raise<EDeridarExpression>(Msg::ArgumentMustBe, function, "a rate above -1");
  const auto n = static_cast<double>(periods);
  if (a.rate == 0) {
    a.growth = 1;
    a.factor = n;
  } else if (std::fabs(a.rate) < 6.1e-5) {
    a.growth = std::exp(n * std::log1p(a.rate));
    a.factor = n * (1 + a.rate * (n - 1) / 2);
  } else {
    a.growth = std::pow(1 + a.rate, n);
    a.factor = (a.growth - 1) / a.rate;
  }
  if (timing == 1) a.factor *= 1 + a.rate;
  return a;
}

}  // namespace

TgsExpValueType TgsUDFFutureValue::Execute(TgsExpFunction& call, TgsExpValue& value) {
  Annuity a = ReadAnnuity(call, value, "FV PaymentTime", "FutureValue");
  if (!(a.growth <= 1e16)) Raise<EDeridarExpression>(Msg::ArgumentMustBe, "FutureValue", "a growth of at most 1E16");
  return NumberResult(value, std::fabs(a.other * a.growth + a.payment * a.factor), "FV");
}

TgsExpValueType TgsUDFPresentValue::Execute(TgsExpFunction& call, TgsExpValue& value) {
  Annuity a = ReadAnnuity(call, value, "PV PaymentTime", "PresentValue");
  if (a.growth <= 1e16) return NumberResult(value, std::fabs((a.payment * a.factor + a.other) / a.growth), "PV");
  // A growth too large to divide by: the annuity factor over the growth
  // tends to 1/rate (times 1 + rate when paid in advance), the future value
  // over the growth to 0.
  double perGrowth = (1 - 1 / a.growth) / a.rate;
  if (a.factor != 0 && std::isfinite(a.factor)) perGrowth = a.factor / a.growth;
  return NumberResult(value, std::fabs(a.payment * perGrowth + a.other / a.growth), "PV");
}

// --- Logical and list functions ----------------------------------------------------

TgsExpValueType TgsUDFIIF::Execute(TgsExpFunction& call, TgsExpValue& value) {
  call.GetArgument(0, value, TgsExpValueType::Boolean);
  // Only the chosen branch is evaluated.
  return call.GetArgument(value.AsBoolean() ? 1 : 2, value, TgsExpValueType::Any);
}

TgsExpValueType TgsUDFBetween::Execute(TgsExpFunction& call, TgsExpValue& value) {
  TgsExpValue& subject = call.Scratch(0);
  TgsExpValue& low = call.Scratch(1);
  const TgsExpValueType type = call.GetArgument(0, subject, TgsExpValueType::Any);
  call.GetArgument(1, low, type);
  call.GetArgument(2, value, type);
  value.SetBoolean(TgsExpValue::Compare(low, subject) <= 0 && TgsExpValue::Compare(subject, value) <= 0);
  return TgsExpValueType::Boolean;
}

TgsExpValueType TgsUDFInlist::Execute(TgsExpFunction& call, TgsExpValue& value) {
  TgsExpValue& subject = call.Scratch(0);
  const TgsExpValueType type = call.GetArgument(0, subject, TgsExpValueType::Any);
  bool found = false;
  if (type != TgsExpValueType::Empty) {
    if (subject.IsText()) TrimRightInPlace(subject.TextBuffer());
    for (size_t i = 1; !found; ++i) {
      if (call.GetArgument(i, value, TgsExpValueType::Any) == TgsExpValueType::Empty) break;
      found = TgsExpValue::Compare(value, subject) == 0;
    }
  }
  value.SetBoolean(found);
  return TgsExpValueType::Boolean;
}

TgsExpValueType TgsUDFEmpty::Execute(TgsExpFunction& call, TgsExpValue& value) {
  bool empty = false;
  switch (call.GetArgument(0, value, TgsExpValueType::Any)) {
    case TgsExpValueType::Date:
    case TgsExpValueType::DateTime: empty = value.AsDouble() == BlankDate || value.AsDouble() == 0; break;
    case TgsExpValueType::Number:
    case TgsExpValueType::Integer: empty = value.AsDouble() == 0; break;
    case TgsExpValueType::Text: {
      std::string_view text = value.Text();
      empty = std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; });
      break;
    }
    case TgsExpValueType::Boolean: empty = !value.AsBoolean(); break;
    default: break;
  }
  value.SetBoolean(empty);
  return TgsExpValueType::Boolean;
}

namespace {

// MAX and MIN: the first argument that no later one beats (`sign` 1 for the
// largest, -1 for the smallest); every argument of the first one's type.
TgsExpValueType Extreme(TgsExpFunction& call, TgsExpValue& value, int sign, const char* name) {
  TgsExpValue& best = call.Scratch(0);
  const TgsExpValueType type = call.GetArgument(0, best, TgsExpValueType::Any);
  if (type == TgsExpValueType::Empty) Raise<EDeridarExpression>(Msg::ValueRequired, name);
  for (size_t i = 1;; ++i) {
    TgsExpValueType next = call.GetArgument(i, value, TgsExpValueType::Any);
    if (next == TgsExpValueType::Empty) break;
    if (next != type) Raise<EDeridarExpression>(Msg::ArgumentsSameType, name);
    if (TgsExpValue::Compare(value, best) * sign > 0) best.Swap(value);
  }
  value.Swap(best);
  return type;
}

}  // namespace

TgsExpValueType TgsUDFMax::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return Extreme(call, value, 1, "Max()");
}

TgsExpValueType TgsUDFMin::Execute(TgsExpFunction& call, TgsExpValue& value) {
  return Extreme(call, value, -1, "Min()");
}
