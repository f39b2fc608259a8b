// Field access on the current record image (see gs6_dbf_field.h).
#include "engine/table/gs6_dbf_field.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/support/gs6_cnst.h"
#include "engine/support/gs6_date.h"
#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"
#include "engine/expr/gs6_sql.h"
#include "engine/table/gs6_dbf_fieldvars.h"
#include "engine/table/gs6_memo.h"
#include "platform/ansi.h"
#include "platform/hot.h"
#include "platform/locale.h"

namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int32_t kJulianDayOfYearZero = 1721425;  // date-time day origin

std::string_view TrimLeft(std::string_view text) {
  size_t start = text.find_first_not_of(' ');
  return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

// A plain decimal number: optional sign, digits with "." as the decimal
// point, nothing else.
bool ParsePlainNumber(std::string_view text, double& value) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  if (ec != std::errc() || ptr != end) return false;
  if (negative) value = -value;
  return true;
}

template <class T>
T LoadLe(const uint8_t* p) {
  std::make_unsigned_t<T> v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<std::make_unsigned_t<T>>(p[i]) << (8 * i);
  return static_cast<T>(v);
}

template <class T>
void StoreLe(uint8_t* p, T value) {
  auto v = static_cast<std::make_unsigned_t<T>>(value);
  for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool IsNumericType(char type) { return type == 'N' || type == 'F'; }

}  // namespace

// ---------------------------------------------------------------------------
// Open and read

GSO_dBaseFld::GSO_dBaseFld(const std::string& fileName, const std::string& password, bool shared,
                           bool readWrite)
    : GSO_dBaseDBF(fileName, password, shared, readWrite) {}

GSO_dBaseFld::~GSO_dBaseFld() = default;

void GSO_dBaseFld::OpenTable() {
  GSO_dBaseDBF::OpenTable();
  // Field offsets, numbers and the password check were settled by the
  // table open; here the fields are published to expressions.
  fields_.clear();
  for (int32_t n = 1; n <= FieldCount(); ++n) {
    if (FieldObject(FieldName(n))) continue;  // a duplicate name is not listed twice
    fields_.push_back(std::make_unique<TgsDBFFields>(this, n));
  }
  expressionLink_ = std::make_unique<TgsExpUserLink>();
  RegisterTableVariables(this, *expressionLink_);
  SetTranslateASCII(true);
  std::fill(ChangedFieldMap().begin(), ChangedFieldMap().end(), 0);
}

void GSO_dBaseFld::SetTranslateASCII(bool on) {
  translateASCII_ = on;
  if (expressionLink_) expressionLink_->SetTranslateOem(on);
}

TgsDBFFields* GSO_dBaseFld::FieldObject(std::string_view name) const {
  name = TrimTrailingBlanks(name);
  for (const auto& field : fields_)
    if (platform::CompareText(field->Name(), name) == 0) return field.get();
  return nullptr;
}

DERIDAR_ROW_PATH void GSO_dBaseFld::ReadRecord(int32_t target) {
  GSO_dBaseDBF::ReadRecord(target);
  ClearChangedFieldMap();
}

// ---------------------------------------------------------------------------
// Descriptors and names

int32_t GSO_dBaseFld::FieldLength(int32_t n) { return DescriptorLength(n); }

int32_t GSO_dBaseFld::FieldDecimals(int32_t n) {
  const uint8_t* d = FieldDescriptor(n);
  return (!d || d[11] == 'C') ? 0 : d[17];
}

int32_t GSO_dBaseFld::FieldOffset(int32_t n) {
  const uint8_t* d = FieldDescriptor(n);
  return d ? static_cast<int32_t>(LoadLe<uint32_t>(d + 12)) : 0;
}

std::string GSO_dBaseFld::FieldName(int32_t n) {
  const uint8_t* d = FieldDescriptor(n);
  if (!d) return std::string();
  const char* name = reinterpret_cast<const char*>(d);
  return std::string(name, strnlen(name, 11));
}

char GSO_dBaseFld::FieldType(int32_t n) {
  const uint8_t* d = FieldDescriptor(n);
  return d ? static_cast<char>(d[11]) : '\0';
}

bool GSO_dBaseFld::FieldIndexByName(std::string_view name, int32_t& n) const {
  name = TrimTrailingBlanks(name);
  for (int32_t i = 1; i <= FieldCount(); ++i) {
    const char* field = reinterpret_cast<const char*>(FieldDescriptor(i));
    if (platform::CompareText(std::string_view(field, strnlen(field, 11)), name) == 0) {
      n = i;
      return true;
    }
  }
  n = 0;
  return false;
}

int32_t GSO_dBaseFld::FieldNumber(std::string_view name) const {
  int32_t n = 0;
  FieldIndexByName(name, n);
  return n;
}

int32_t GSO_dBaseFld::FieldNumberOrRaise(std::string_view name) {
  int32_t n = 0;
  if (!FieldIndexByName(name, n)) RaiseError(Msg::NoFieldName, FileName() + "->" + std::string(name));
  lastField_ = n;
  return n;
}

const uint8_t* GSO_dBaseFld::FieldDescByName(std::string_view name) {
  return FieldDescriptor(FieldNumberOrRaise(name));
}

int32_t GSO_dBaseFld::FieldNumberOfType(std::string_view name, char wanted) {
  int32_t n = FieldNumberOrRaise(name);
  char type = FieldType(n);
  bool fits = type == wanted;
  if (wanted == 'N') fits = std::strchr("NBFGIMTY", type) != nullptr;
  if (wanted == 'G') fits = std::strchr("GBM", type) != nullptr;
  if (!fits) RaiseError(Msg::FieldIncorrectType, FieldName(n));
  return n;
}

std::string GSO_dBaseFld::FieldReference(int32_t n) const {
  const char* field = reinterpret_cast<const char*>(FieldDescriptor(n));
  return TableName() + "->" + std::string(field, strnlen(field, 11));
}

bool GSO_dBaseFld::IsBinaryField(int32_t n) const {
  const uint8_t* d = FieldDescriptor(n);
  return d && Version() == 0x30 && std::strchr("BGIMTY", d[11]) != nullptr && d[11] != '\0';
}

// ---------------------------------------------------------------------------
// Raw text

std::string GSO_dBaseFld::GetFieldText(int32_t n) {
  if (!FieldDescriptor(n) || !CurrentRecord()) return std::string();
  lastField_ = n;
  return std::string(CurrentRecord() + FieldOffset(n), static_cast<size_t>(FieldLength(n)));
}

std::string GSO_dBaseFld::TrimmedText(int32_t n) { return std::string(TrimTrailingBlanks(GetFieldText(n))); }

void GSO_dBaseFld::MarkChanged(int32_t n) {
  ChangedFieldMap()[static_cast<size_t>(n)] = 1;
  SetRecordChanged(true);
}

void GSO_dBaseFld::PutFieldText(int32_t n, std::string_view text) {
  if (!FieldDescriptor(n) || !CurrentRecord()) return;
  lastField_ = n;
  size_t length = static_cast<size_t>(FieldLength(n));
  char* field = EditableRecord() + FieldOffset(n);
  std::memset(field, ' ', length);
  size_t count = std::min(text.size(), length);
  char type = FieldType(n);
  bool left = type == 'C' || type == 'D' || type == 'L';
  std::memcpy(field + (left ? 0 : length - count), text.data(), count);
  MarkChanged(n);
}

std::string GSO_dBaseFld::GetFieldTextByName(std::string_view name) {
  return GetFieldText(FieldNumberOrRaise(name));
}

void GSO_dBaseFld::PutFieldTextByName(std::string_view name, std::string_view text) {
  PutFieldText(FieldNumberOrRaise(name), text);
}

// ---------------------------------------------------------------------------
// Binary storage of version 0x30

void GSO_dBaseFld::ReadBinary(int32_t n, uint8_t* out, size_t size) {
  std::memset(out, 0, size);
  size_t count = std::min(size, static_cast<size_t>(FieldLength(n)));
  std::memcpy(out, CurrentRecord() + FieldOffset(n), count);
}

void GSO_dBaseFld::WriteBinary(int32_t n, const uint8_t* in, size_t size) {
  size_t count = std::min(size, static_cast<size_t>(FieldLength(n)));
  std::memcpy(EditableRecord() + FieldOffset(n), in, count);
}

bool GSO_dBaseFld::PutBinaryNumber(int32_t n, double value) {
  uint8_t bytes[8] = {};
  auto tooBig = [&] {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", value);
    RaiseError(Msg::NumericTooBig, FieldName(n) + " - " + text);
  };
  if (!std::isfinite(value)) RaiseError(Msg::InvalidFieldValue, "Number", FieldName(n));
  switch (FieldType(n)) {
    case 'B': {
      uint64_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      StoreLe<uint64_t>(bytes, bits);
      WriteBinary(n, bytes, 8);
      break;
    }
    case 'T': {
      if (value != 0) {
        double days = std::trunc(value / kMsPerDay);
        if (std::fabs(days) > 1e9) tooBig();
        double ms = std::trunc(value - days * kMsPerDay);
        StoreLe<int32_t>(bytes, static_cast<int32_t>(days) + kJulianDayOfYearZero);
        StoreLe<int32_t>(bytes + 4, static_cast<int32_t>(ms));
      }
      WriteBinary(n, bytes, 8);
      break;
    }
    case 'Y': {
      double scaled = std::round(value * 10000.0);
      if (std::fabs(scaled) >= 9.2e18) tooBig();
      StoreLe<int64_t>(bytes, static_cast<int64_t>(scaled));
      WriteBinary(n, bytes, 8);
      break;
    }
    default: {  // G, I, M: 32-bit integer
      double whole = std::trunc(value);
      if (whole < std::numeric_limits<int32_t>::min() || whole > std::numeric_limits<int32_t>::max())
        tooBig();
      StoreLe<int32_t>(bytes, static_cast<int32_t>(whole));
      WriteBinary(n, bytes, 4);
      break;
    }
  }
  MarkChanged(n);
  return true;
}

// ---------------------------------------------------------------------------
// Numbers

double GSO_dBaseFld::GetNumber(int32_t n) {
  if (!FieldDescriptor(n) || !CurrentRecord()) return 0;
  lastField_ = n;
  if (IsBinaryField(n)) {
    uint8_t bytes[8];
    switch (FieldType(n)) {
      case 'B': {
        ReadBinary(n, bytes, 8);
        uint64_t bits = LoadLe<uint64_t>(bytes);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
      }
      case 'T': {
        ReadBinary(n, bytes, 8);
        int32_t day = LoadLe<int32_t>(bytes);
        int32_t ms = LoadLe<int32_t>(bytes + 4);
        if (day == 0 && ms == 0) return 0;
        return (double(day) - kJulianDayOfYearZero) * kMsPerDay + ms;
      }
      case 'Y':
        ReadBinary(n, bytes, 8);
        return static_cast<double>(LoadLe<int64_t>(bytes)) / 10000.0;
      default:  // G, I, M
        ReadBinary(n, bytes, 4);
        if (std::memcmp(bytes, "    ", 4) == 0) return 0;
        return LoadLe<int32_t>(bytes);
    }
  }
  std::string text = TrimmedText(n);
  std::string_view number = TrimLeft(text);
  if (number.empty()) return 0;
  double value = 0;
  if (!ParsePlainNumber(number, value))
    RaiseError(Msg::InvalidNumeric, FieldReference(n) + " (" + std::string(number) + ")");
  return value + 0.0;  // a stored "-0.00" is zero, not negative zero
}

std::string GSO_dBaseFld::FormatNumber(int32_t n, double value) {
  const uint8_t* d = FieldDescriptor(n);
  int width = d[16];
  int decimals = d[17];
  if (!std::isfinite(value)) RaiseError(Msg::InvalidFieldValue, "Number", FieldName(n));
  char text[400];
  std::snprintf(text, sizeof text, "%*.*f", width, decimals, value);
  if (static_cast<int>(std::strlen(text)) > width)
    RaiseError(Msg::NumericTooBig, FieldName(n) + " - " + text);
  return text;
}

bool GSO_dBaseFld::PutNumber(int32_t n, double value) {
  if (!FieldDescriptor(n) || !CurrentRecord()) return false;
  lastField_ = n;
  char type = FieldType(n);
  bool allowed = std::strchr("BFGMN", type) != nullptr ||
                 (Version() == 0x30 && std::strchr("ITY", type) != nullptr);
  if (!allowed || type == '\0') RaiseError(Msg::FieldIncorrectType, FieldName(n));
  if (IsBinaryField(n)) return PutBinaryNumber(n, value);
  PutFieldText(n, FormatNumber(n, value));
  return true;
}

double GSO_dBaseFld::GetNumberByName(std::string_view name) {
  return GetNumber(FieldNumberOfType(name, 'N'));
}

bool GSO_dBaseFld::PutNumberByName(std::string_view name, double value) {
  return PutNumber(FieldNumberOfType(name, 'N'), value);
}

// ---------------------------------------------------------------------------
// Dates

int32_t GSO_dBaseFld::GetDate(int32_t n) {
  if (!FieldDescriptor(n) || !CurrentRecord()) return 0;
  std::string text = GetFieldText(n);
  try {
    return DBFDate().TextToDay(text);
  } catch (const platform::ConvertError&) {
    RaiseError(Msg::InvalidDate, FieldReference(n) + " (" + std::string(TrimTrailingBlanks(text)) + ")");
  }
}

bool GSO_dBaseFld::PutDate(int32_t n, int32_t day) {
  if (!FieldDescriptor(n) || !CurrentRecord() || FieldType(n) != 'D') return false;
  if (day == -1) RaiseError(Msg::InvalidFieldValue, "Date", FieldName(n));
  PutFieldText(n, DBFDate().DayToStorageText(day));
  return true;
}

int32_t GSO_dBaseFld::GetDateByName(std::string_view name) {
  return GetDate(FieldNumberOfType(name, 'D'));
}

bool GSO_dBaseFld::PutDateByName(std::string_view name, int32_t day) {
  return PutDate(FieldNumberOfType(name, 'D'), day);
}

// ---------------------------------------------------------------------------
// Logicals

bool GSO_dBaseFld::GetLogical(int32_t n) {
  std::string text = GetFieldText(n);
  return !text.empty() && std::string_view(kTrueLetters).find(text) != std::string_view::npos;
}

bool GSO_dBaseFld::PutLogical(int32_t n, bool value) {
  if (!FieldDescriptor(n) || !CurrentRecord()) return false;
  if (FieldType(n) != 'L') RaiseError(Msg::InvalidFieldValue, "Logical", FieldName(n));
  PutFieldText(n, value ? "T" : "F");
  return true;
}

bool GSO_dBaseFld::GetLogicalByName(std::string_view name) {
  return GetLogical(FieldNumberOfType(name, 'L'));
}

bool GSO_dBaseFld::PutLogicalByName(std::string_view name, bool value) {
  return PutLogical(FieldNumberOfType(name, 'L'), value);
}

// ---------------------------------------------------------------------------
// Display and entry texts

std::string GSO_dBaseFld::GetDisplayText(int32_t n) {
  if (!FieldDescriptor(n) || !CurrentRecord()) return std::string();
  char type = FieldType(n);
  if (IsBinaryField(n) && type != 'M') {
    double value = GetNumber(n);
    char text[64];
    switch (type) {
      case 'B':
        std::snprintf(text, sizeof text, "%.15g", value);
        return text;
      case 'G':
        return value > 0 ? "-GENERAL--" : "-general--";
      case 'I':
        std::snprintf(text, sizeof text, "%.0f", value);
        return text;
      case 'Y':
        std::snprintf(text, sizeof text, "%.4f", value);
        return text;
      default: {  // T: date and time of day
        if (value == 0) return std::string();
        uint8_t bytes[8];
        ReadBinary(n, bytes, 8);
        int32_t day = LoadLe<int32_t>(bytes);
        int32_t ms = LoadLe<int32_t>(bytes + 4);
        int32_t seconds = ms < 0 ? 0 : ms / 1000;
        std::snprintf(text, sizeof text, " %02d:%02d:%02d", (seconds / 3600) % 24, (seconds / 60) % 60,
                      seconds % 60);
        return std::string(TrimTrailingBlanks(DBFDate().DayToDisplayText(day))) + text;
      }
    }
  }
  std::string text = TrimmedText(n);
  switch (type) {
    case 'B':
    case 'G': {
      std::string_view v = TrimLeft(text);
      bool attached = v.compare("0") > 0;
      if (type == 'B') return attached ? "--BINARY--" : "--binary--";
      return attached ? "-GENERAL--" : "-general--";
    }
    case 'D': {
      // Through GetDate, so that a stored text that is no date raises the
      // engine's "invalid date" error naming the field.
      int32_t day = GetDate(n);
      if (day == 0) return std::string();
      return std::string(TrimTrailingBlanks(DBFDate().DayToDisplayText(day)));
    }
    case 'F':
    case 'N': {
      std::string_view v = TrimLeft(text);
      if (!v.empty()) return std::string(v);
      const uint8_t* d = FieldDescriptor(n);
      char zero[400];
      std::snprintf(zero, sizeof zero, "%*.*f", d[16], d[17], 0.0);
      return std::string(TrimLeft(zero));
    }
    case 'L':
      return GetLogical(n) ? "T" : "F";
    case 'M':
      return ReadMemo(n);
    default:
      return text;
  }
}

DERIDAR_ROW_PATH bool GSO_dBaseFld::DisplayTextView(int32_t n, std::string_view& text) const {
  return DisplayTextViewIn(CurrentRecord(), n, text);
}

DERIDAR_ROW_PATH bool GSO_dBaseFld::DisplayTextViewIn(const char* record, int32_t n,
                                                      std::string_view& text) const {
  const uint8_t* d = FieldDescriptor(n);
  if (!d || d[11] != 'C' || !record) return false;
  // The offsets were laid out anew at open and end within the record.
  text = TrimTrailingBlanks(std::string_view(record + LoadLe<uint32_t>(d + 12), LoadLe<uint16_t>(d + 16)));
  return true;
}

bool GSO_dBaseFld::PutValueFromText(int32_t n, std::string_view text) {
  if (!FieldDescriptor(n) || !CurrentRecord()) return false;
  lastField_ = n;
  char type = FieldType(n);
  if (type == 'M') {
    WriteMemo(n, text);
    return true;
  }
  if (IsNumericType(type) || (IsBinaryField(n) && type != 'T')) {
    std::string_view v = TrimTrailingBlanks(text);
    double value = 0;
    if (!v.empty() && !platform::TryTextToNumber(v, value))
      RaiseError(Msg::InvalidFieldValue, "Number", FieldName(n));
    return PutNumber(n, value);
  }
  switch (type) {
    case 'D': {
      int32_t day = 0;
      try {
        day = DBFDate().TextToDay(text);
      } catch (const platform::ConvertError&) {
        RaiseError(Msg::InvalidFieldValue, "Date", FieldName(n));
      }
      return PutDate(n, day);
    }
    case 'L': {
      char first = text.empty() ? 'F' : text[0];
      bool value;
      if (std::strchr(kTrueLetters, first) && first != '\0') {
        value = true;
      } else if (std::strchr(kFalseLetters, first) && first != '\0') {
        value = false;
      } else {
        double number = 0;
        if (!platform::TryTextToNumber(text, number) || !std::isfinite(number))
          RaiseError(Msg::InvalidFieldValue, "Logical", FieldName(n));
        value = std::trunc(number) != 0;
      }
      return PutLogical(n, value);
    }
    default:
      PutFieldText(n, text);
      return true;
  }
}

std::string GSO_dBaseFld::GetDisplayTextByName(std::string_view name) {
  return GetDisplayText(FieldNumberOrRaise(name));
}

bool GSO_dBaseFld::PutValueByName(std::string_view name, std::string_view text) {
  return PutValueFromText(FieldNumberOrRaise(name), text);
}

void GSO_dBaseFld::FillRecordFromValues(char* buffer, std::string_view nameList,
                                        const std::vector<platform::TVariant>& values) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= nameList.size()) {
    size_t end = nameList.find(';', start);
    if (end == std::string_view::npos) end = nameList.size();
    std::string_view name = nameList.substr(start, end - start);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (!name.empty()) names.emplace_back(name);
    start = end + 1;
  }
  SetCurrentRecord(buffer);
  try {
    BlankRecord();
    for (size_t i = 0; i < names.size() && i < values.size(); ++i) {
      std::string text = platform::VariantIsNull(values[i]) ? std::string()
                                                            : platform::VariantToText(values[i]);
      if (translateASCII_) text = TranslateToOem(text);
      PutValueByName(names[i], text);
    }
  } catch (...) {
    RestoreCurrentRecord();
    throw;
  }
  RestoreCurrentRecord();
}

// ---------------------------------------------------------------------------
// Whole record

void GSO_dBaseFld::BlankRecord() {
  if (!CurrentRecord()) return;
  std::memset(EditableRecord(), ' ', static_cast<size_t>(RecordLength()));
  for (int32_t n = 1; n <= FieldCount(); ++n) {
    if (!IsNumericType(FieldType(n)) && !IsBinaryField(n)) continue;
    try {
      PutNumber(n, 0);
    } catch (const EDeridarError&) {
      // A numeric field too narrow for its own zero stays blank (reads 0).
    }
  }
  std::fill(ChangedFieldMap().begin(), ChangedFieldMap().end(), 1);
  SetRecordChanged(true);
  NotifyStatus(0, 0);
}

DERIDAR_ROW_PATH bool GSO_dBaseFld::IsDeleted() const {
  return CurrentRecord() && CurrentRecord()[0] == '*';
}

void GSO_dBaseFld::MarkDeleted() {
  if (IsDeleted()) return;
  if (RecNumber() < 1) RaiseError(Msg::CannotDelete);
  EditableRecord()[0] = '*';
  ChangedFieldMap()[0] = 1;
  SetRecordChanged(true);
  WriteRecord(RecNumber());
}

void GSO_dBaseFld::MarkUndeleted() {
  if (!CurrentRecord() || CurrentRecord()[0] == ' ') return;
  if (RecNumber() < 1) RaiseError(Msg::CannotRecall);
  EditableRecord()[0] = ' ';
  ChangedFieldMap()[0] = 1;
  SetRecordChanged(true);
  WriteRecord(RecNumber());
}

// ---------------------------------------------------------------------------
// Memo fields

bool GSO_dBaseFld::IsMemoField(int32_t n) const {
  const uint8_t* d = FieldDescriptor(n);
  if (!d) return false;
  const char type = static_cast<char>(d[11]);
  return type == 'M' || type == 'G' || (type == 'B' && Version() != 0x30);
}

GSobjMemo* GSO_dBaseFld::MemoOf(int32_t n) { return IsMemoField(n) ? OpenMemoFile() : nullptr; }

int32_t GSO_dBaseFld::MemoBlock(int32_t n) {
  if (!IsMemoField(n) || !CurrentRecord()) return 0;
  const uint8_t* d = FieldDescriptor(n);
  const char* field = CurrentRecord() + LoadLe<uint32_t>(d + 12);
  const size_t length = static_cast<size_t>(DescriptorLength(n));
  int64_t block = 0;
  if (IsBinaryField(n)) {
    uint8_t bytes[4];
    ReadBinary(n, bytes, 4);
    if (std::memcmp(bytes, "    ", 4) != 0) block = LoadLe<int32_t>(bytes);
  } else {
    // Right-aligned decimal digits; blanks (or 0) for none.
    std::string_view text = TrimLeft(TrimTrailingBlanks(std::string_view(field, length)));
    for (char c : text) {
      if (c < '0' || c > '9') RaiseError(Msg::MemoRecordBad, MemoFileName());
      block = block * 10 + (c - '0');
      if (block > std::numeric_limits<int32_t>::max()) break;
    }
  }
  if (block < 0 || block > std::numeric_limits<int32_t>::max())
    RaiseError(Msg::MemoRecordBad, MemoFileName());
  return static_cast<int32_t>(block);
}

int32_t GSO_dBaseFld::MemoSize(int32_t n) {
  const int32_t block = MemoBlock(n);
  GSobjMemo* memo = block > 0 ? MemoOf(n) : nullptr;
  return memo ? memo->MemoSize(block) : 0;
}

std::string GSO_dBaseFld::ReadMemo(int32_t n) {
  const int32_t block = MemoBlock(n);
  GSobjMemo* memo = block > 0 ? MemoOf(n) : nullptr;
  return memo ? memo->ReadMemo(block) : std::string();
}

void GSO_dBaseFld::WriteMemo(int32_t n, std::string_view text) {
  if (!IsMemoField(n)) return;
  const int32_t oldBlock = MemoBlock(n);
  int32_t block = 0;
  if (!text.empty() || oldBlock != 0) {
    GSobjMemo* memo = MemoOf(n);
    if (!memo) return;
    block = memo->WriteMemo(text, oldBlock);
  }
  if (block == 0 && !IsBinaryField(n)) {
    // No memo: blanks, as other programs expect ("0" would be read as the
    // memo file's header block by some).
    PutFieldText(n, "");
    return;
  }
  PutNumber(n, block);
}
