// Field objects: native values read and written through the dataset, and
// their conversions to and from text, numbers, booleans and date-times.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/db.h"
#include "platform/hot.h"
#include "platform/locale.h"

namespace platform {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A whole decimal number with an optional sign; false when the text is not
// one or does not fit 64 bits.
bool ParseInteger(std::string_view text, int64_t& value) {
  text = Trim(text);
  if (text.empty()) return false;
  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  uint64_t magnitude = 0;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

// A double that a 64-bit integer can hold after rounding.
bool FitsLargeInt(double value) {
  return std::isfinite(value) && value >= -9223372036854775808.0 && value < 9223372036854775808.0;
}

std::string TimeText(double dateTime) {
  double fraction = dateTime - std::floor(dateTime);
  int64_t seconds = std::llround(fraction * 86400.0);
  if (seconds >= 86400) seconds = 86399;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

// "hh:mm" or "hh:mm:ss" as a fraction of a day.
bool ParseTime(std::string_view text, double& fraction) {
  int parts[3] = {0, 0, 0};
  int count = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t colon = text.find(':', start);
    std::string_view piece =
        text.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
    int64_t value = 0;
    if (count == 3 || !ParseInteger(piece, value) || value < 0 || value > 59) return false;
    parts[count++] = static_cast<int>(value);
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (count < 2 || parts[0] > 23) return false;
  fraction = (parts[0] * 3600.0 + parts[1] * 60.0 + parts[2]) / 86400.0;
  return true;
}

// The length of `text` before its first zero byte. Eight bytes a turn, in
// line: every string field read asks, and texts seldom hold one.
size_t UpToZero(std::string_view text) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHighs = 0x8080808080808080u;
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    if (((word - kOnes) & ~word & kHighs) != 0) break;
  }
  while (i < text.size() && text[i] != '\0') ++i;
  return i;
}

}  // namespace

// --- Types ---------------------------------------------------------------------------

const char* FieldTypeName(TFieldType type) {
  switch (type) {
    case ftString: return "String";
    case ftSmallint: return "SmallInt";
    case ftInteger: return "Integer";
    case ftLargeint: return "LargeInt";
    case ftBoolean: return "Boolean";
    case ftFloat: return "Float";
    case ftCurrency: return "Currency";
    case ftDate: return "Date";
    case ftDateTime: return "DateTime";
    case ftMemo: return "Memo";
    case ftBlob: return "Blob";
    case ftUnknown: break;
  }
  return "Unknown";
}

int32_t FieldDataSize(TFieldType type, int32_t size) {
  switch (type) {
    case ftString: return std::max<int32_t>(size, 0) + 1;
    case ftSmallint: return 2;
    case ftInteger: return 4;
    case ftLargeint: return 8;
    case ftBoolean: return 2;
    case ftFloat:
    case ftCurrency: return 8;
    case ftDate: return 4;
    case ftDateTime: return 8;
    default: return 0;
  }
}

std::unique_ptr<TField> CreateFieldObject(const std::string& name, TFieldType type, int32_t size) {
  switch (type) {
    case ftString: return std::make_unique<TStringField>(name, size);
    case ftSmallint: return std::make_unique<TSmallintField>(name);
    case ftInteger: return std::make_unique<TIntegerField>(name);
    case ftLargeint: return std::make_unique<TLargeintField>(name);
    case ftBoolean: return std::make_unique<TBooleanField>(name);
    case ftFloat: return std::make_unique<TFloatField>(name);
    case ftCurrency: return std::make_unique<TCurrencyField>(name);
    case ftDate: return std::make_unique<TDateField>(name);
    case ftDateTime: return std::make_unique<TDateTimeField>(name);
    case ftMemo: return std::make_unique<TMemoField>(name);
    case ftBlob: return std::make_unique<TBlobField>(name);
    case ftUnknown: break;
  }
  return nullptr;
}

int64_t TStream::Size() {
  int64_t position = Seek(0, soCurrent);
  int64_t end = Seek(0, soEnd);
  Seek(position, soBeginning);
  return end;
}

// --- TField ----------------------------------------------------------------------------

TField::TField(std::string fieldName, TFieldType dataType, int32_t size)
    : fieldName_(std::move(fieldName)), dataType_(dataType), size_(size) {}

int32_t TField::DisplayWidth() const {
  if (displayWidth_ > 0) return displayWidth_;
  switch (dataType_) {
    case ftString: return std::max<int32_t>(size_, 1);
    case ftSmallint: return 6;
    case ftInteger: return 11;
    case ftLargeint: return 20;
    case ftBoolean: return 5;
    case ftDate: return 10;
    case ftDateTime: return 19;
    default: return 10;
  }
}

DERIDAR_ROW_PATH bool TField::GetData(void* buffer) const {
  if (!dataSet_ || !dataSet_->Active()) DatabaseError(DbMsg::DataSetClosed);
  return dataSet_->ReadFieldValue(const_cast<TField*>(this), buffer);
}

void TField::SetData(const void* buffer) {
  if (!dataSet_ || !dataSet_->Active()) DatabaseError(DbMsg::DataSetClosed);
  dataSet_->WriteFieldValue(this, buffer);
}

bool TField::IsNull() const { return !GetData(nullptr); }

DERIDAR_ROW_PATH bool TField::TextView(std::string_view& text) const {
  if (!dataSet_ || !dataSet_->Active()) DatabaseError(DbMsg::DataSetClosed);
  if (!dataSet_->FieldTextView(const_cast<TField*>(this), text)) return false;
  text = text.substr(0, static_cast<size_t>(std::max<int32_t>(size_, 0)));
  text = text.substr(0, UpToZero(text));
  return true;
}

void TField::Validate(const void* buffer) {
  if (OnValidate) OnValidate(*this, buffer);
}

int64_t TField::AsLargeInt() const {
  DatabaseError(DbMsg::FieldAccess, {fieldName_, "Integer"});
}
void TField::SetAsLargeInt(int64_t) { DatabaseError(DbMsg::FieldAccess, {fieldName_, "Integer"}); }
double TField::AsFloat() const { DatabaseError(DbMsg::FieldAccess, {fieldName_, "Float"}); }
void TField::SetAsFloat(double) { DatabaseError(DbMsg::FieldAccess, {fieldName_, "Float"}); }
bool TField::AsBoolean() const { DatabaseError(DbMsg::FieldAccess, {fieldName_, "Boolean"}); }
void TField::SetAsBoolean(bool) { DatabaseError(DbMsg::FieldAccess, {fieldName_, "Boolean"}); }
double TField::AsDateTime() const { DatabaseError(DbMsg::FieldAccess, {fieldName_, "DateTime"}); }
void TField::SetAsDateTime(double) { DatabaseError(DbMsg::FieldAccess, {fieldName_, "DateTime"}); }

// --- TStringField ------------------------------------------------------------------------

TStringField::TStringField(std::string fieldName, int32_t size)
    : TField(std::move(fieldName), ftString, size) {}

DERIDAR_ROW_PATH std::string TStringField::AsString() const {
  std::string_view view;
  if (TextView(view)) {
    std::string text(view);
    if (Transliterate() && !text.empty()) DataSet()->TranslateTextInPlace(text, false);
    return text;
  }
  std::string buffer(DataSize(), '\0');
  if (!GetData(buffer.data())) return {};
  buffer.resize(strnlen(buffer.data(), static_cast<size_t>(Size())));
  if (Transliterate()) DataSet()->TranslateTextInPlace(buffer, false);
  return buffer;
}

DERIDAR_ROW_PATH void TStringField::ReadDisplayText(std::string& out) const {
  std::string_view view;
  if (TextView(view)) {
    out.assign(view);
    if (Transliterate() && !out.empty()) DataSet()->TranslateTextInPlace(out, false);
    return;
  }
  out.assign(static_cast<size_t>(DataSize()), '\0');
  if (!GetData(out.data())) {
    out.clear();
    return;
  }
  out.resize(strnlen(out.data(), static_cast<size_t>(Size())));
  if (Transliterate()) DataSet()->TranslateTextInPlace(out, false);
}

void TStringField::SetAsString(std::string_view value) {
  std::string text = Transliterate() ? DataSet()->TranslateText(value, true) : std::string(value);
  std::string buffer(DataSize(), '\0');
  std::memcpy(buffer.data(), text.data(), std::min<size_t>(text.size(), static_cast<size_t>(Size())));
  SetData(buffer.data());
}

int64_t TStringField::AsLargeInt() const {
  std::string text = AsString();
  if (Trim(text).empty()) return 0;
  int64_t value = 0;
  if (!ParseInteger(text, value)) DatabaseError(DbMsg::NotInteger, {text});
  return value;
}

void TStringField::SetAsLargeInt(int64_t value) { SetAsString(std::to_string(value)); }

double TStringField::AsFloat() const {
  std::string text = AsString();
  if (Trim(text).empty()) return 0.0;
  double value = 0.0;
  if (!TryTextToFloat(text, value)) DatabaseError(DbMsg::NotFloat, {text});
  return value;
}

void TStringField::SetAsFloat(double value) { SetAsString(FloatToText(value)); }

bool TStringField::AsBoolean() const {
  std::string text = AsString();
  return !text.empty() && std::strchr("TtYy", text[0]) != nullptr;
}

void TStringField::SetAsBoolean(bool value) { SetAsString(value ? "T" : "F"); }

double TStringField::AsDateTime() const {
  std::string text = AsString();
  if (Trim(text).empty()) return 0.0;
  try {
    return TextToDate(text);
  } catch (const ConvertError&) {
    DatabaseError(DbMsg::NotDate, {text});
  }
}

void TStringField::SetAsDateTime(double value) {
  SetAsString(FormatDate(Locale().shortDateFormat, static_cast<int32_t>(std::floor(value))));
}

// --- TIntegerField -------------------------------------------------------------------------

TIntegerField::TIntegerField(std::string fieldName, TFieldType type)
    : TField(std::move(fieldName), type) {}

int64_t TIntegerField::MinValue() const {
  switch (DataType()) {
    case ftSmallint: return INT16_MIN;
    case ftInteger: return INT32_MIN;
    default: return INT64_MIN;
  }
}

int64_t TIntegerField::MaxValue() const {
  switch (DataType()) {
    case ftSmallint: return INT16_MAX;
    case ftInteger: return INT32_MAX;
    default: return INT64_MAX;
  }
}

int64_t TIntegerField::AsLargeInt() const {
  switch (DataType()) {
    case ftSmallint: {
      int16_t v = 0;
      return GetData(&v) ? v : 0;
    }
    case ftInteger: {
      int32_t v = 0;
      return GetData(&v) ? v : 0;
    }
    default: {
      int64_t v = 0;
      return GetData(&v) ? v : 0;
    }
  }
}

void TIntegerField::SetAsLargeInt(int64_t value) {
  if (value < MinValue() || value > MaxValue())
    DatabaseError(DbMsg::OutOfRange, {std::to_string(value), FieldName(),
                                      std::to_string(MinValue()), std::to_string(MaxValue())});
  switch (DataType()) {
    case ftSmallint: {
      int16_t v = static_cast<int16_t>(value);
      SetData(&v);
      break;
    }
    case ftInteger: {
      int32_t v = static_cast<int32_t>(value);
      SetData(&v);
      break;
    }
    default:
      SetData(&value);
      break;
  }
}

std::string TIntegerField::AsString() const {
  if (IsNull()) return {};
  return std::to_string(AsLargeInt());
}

void TIntegerField::ReadDisplayText(std::string& out) const {
  // One read for both the null test and the value.
  int64_t value = 0;
  bool present;
  switch (DataType()) {
    case ftSmallint: {
      int16_t v = 0;
      present = GetData(&v);
      value = v;
      break;
    }
    case ftInteger: {
      int32_t v = 0;
      present = GetData(&v);
      value = v;
      break;
    }
    default:
      present = GetData(&value);
      break;
  }
  out.clear();
  if (!present) return;
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  (void)ec;
  out.append(digits, end);
}

void TIntegerField::SetAsString(std::string_view value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  int64_t number = 0;
  if (!ParseInteger(value, number)) DatabaseError(DbMsg::NotInteger, {std::string(value)});
  SetAsLargeInt(number);
}

void TIntegerField::SetAsFloat(double value) {
  double rounded = std::round(value);
  if (!FitsLargeInt(rounded))
    DatabaseError(DbMsg::OutOfRange, {FloatToText(value), FieldName(),
                                      std::to_string(MinValue()), std::to_string(MaxValue())});
  SetAsLargeInt(static_cast<int64_t>(rounded));
}

// --- TFloatField ---------------------------------------------------------------------------

TFloatField::TFloatField(std::string fieldName, TFieldType type)
    : TField(std::move(fieldName), type) {}

double TFloatField::AsFloat() const {
  double v = 0.0;
  return GetData(&v) ? v : 0.0;
}

void TFloatField::SetAsFloat(double value) {
  if (!std::isfinite(value)) DatabaseError(DbMsg::NotFloat, {FloatToText(value)});
  SetData(&value);
}

int64_t TFloatField::AsLargeInt() const {
  double rounded = std::round(AsFloat());
  if (!FitsLargeInt(rounded))
    DatabaseError(DbMsg::FieldAccess, {FieldName(), "Integer"});
  return static_cast<int64_t>(rounded);
}

std::string TFloatField::AsString() const {
  if (IsNull()) return {};
  return FloatToText(AsFloat());
}

void TFloatField::SetAsString(std::string_view value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  double number = 0.0;
  if (!TryTextToFloat(value, number)) DatabaseError(DbMsg::NotFloat, {std::string(value)});
  SetAsFloat(number);
}

std::string TCurrencyField::DisplayText() const {
  if (IsNull()) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", AsFloat());
  std::string out = text;
  for (char& c : out)
    if (c == '.') c = Locale().decimalSeparator;
  return out;
}

// --- TBooleanField -------------------------------------------------------------------------

bool TBooleanField::AsBoolean() const {
  int16_t v = 0;
  return GetData(&v) && v != 0;
}

void TBooleanField::SetAsBoolean(bool value) {
  int16_t v = value ? 1 : 0;
  SetData(&v);
}

std::string TBooleanField::AsString() const {
  if (IsNull()) return {};
  return AsBoolean() ? "True" : "False";
}

void TBooleanField::SetAsString(std::string_view value) {
  std::string_view text = Trim(value);
  if (text.empty()) {
    Clear();
    return;
  }
  std::string upper;
  for (char c : text) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (upper == "TRUE" || upper == "T" || upper == "Y" || upper == "YES" || upper == "1")
    SetAsBoolean(true);
  else if (upper == "FALSE" || upper == "F" || upper == "N" || upper == "NO" || upper == "0")
    SetAsBoolean(false);
  else
    DatabaseError(DbMsg::NotBoolean, {std::string(value), FieldName()});
}

// --- TDateTimeField --------------------------------------------------------------------------

TDateTimeField::TDateTimeField(std::string fieldName, TFieldType type)
    : TField(std::move(fieldName), type) {}

double TDateTimeField::AsDateTime() const {
  if (DataType() == ftDate) {
    int32_t v = 0;
    return GetData(&v) ? v : 0.0;
  }
  double v = 0.0;
  return GetData(&v) ? v : 0.0;
}

void TDateTimeField::SetAsDateTime(double value) {
  if (DataType() == ftDate) {
    double day = std::floor(value);
    if (!(day >= kMinDateSerial && day <= kMaxDateSerial))
      DatabaseError(DbMsg::NotDate, {FloatToText(value)});
    int32_t v = static_cast<int32_t>(day);
    SetData(&v);
    return;
  }
  if (!(value >= kMinDateSerial && value < kMaxDateSerial + 1.0))
    DatabaseError(DbMsg::NotDateTime, {FloatToText(value)});
  SetData(&value);
}

std::string TDateTimeField::AsString() const {
  if (IsNull()) return {};
  double value = AsDateTime();
  std::string text = FormatDate(Locale().shortDateFormat, static_cast<int32_t>(std::floor(value)));
  if (DataType() == ftDateTime && value != std::floor(value)) text += " " + TimeText(value);
  return text;
}

void TDateTimeField::SetAsString(std::string_view value) {
  std::string_view text = Trim(value);
  if (text.empty()) {
    Clear();
    return;
  }
  std::string_view datePart = text;
  std::string_view timePart;
  size_t blank = text.find(' ');
  if (DataType() == ftDateTime && blank != std::string_view::npos) {
    datePart = text.substr(0, blank);
    timePart = Trim(text.substr(blank + 1));
  }
  double serial = 0.0;
  try {
    serial = TextToDate(datePart);
  } catch (const ConvertError&) {
    DatabaseError(DataType() == ftDate ? DbMsg::NotDate : DbMsg::NotDateTime, {std::string(value)});
  }
  if (!timePart.empty()) {
    double fraction = 0.0;
    if (!ParseTime(timePart, fraction)) DatabaseError(DbMsg::NotDateTime, {std::string(value)});
    serial += serial < 0 ? -fraction : fraction;
  }
  SetAsDateTime(serial);
}

// --- TBlobField ----------------------------------------------------------------------------

TBlobField::TBlobField(std::string fieldName, TFieldType type) : TField(std::move(fieldName), type) {
  // Binary contents are never translated; memo text is, by default.
  SetTransliterate(type == ftMemo);
}

std::string TBlobField::AsString() const {
  std::unique_ptr<TStream> stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  std::string out;
  char chunk[4096];
  for (;;) {
    int32_t n = stream->Read(chunk, sizeof chunk);
    if (n <= 0) break;
    out.append(chunk, std::min<size_t>(static_cast<size_t>(n), sizeof chunk));
  }
  return out;
}

void TBlobField::SetAsString(std::string_view value) {
  std::unique_ptr<TStream> stream = DataSet()->CreateBlobStream(this, bmWrite);
  size_t done = 0;
  while (done < value.size()) {
    int32_t step = static_cast<int32_t>(std::min<size_t>(value.size() - done, 1 << 20));
    int32_t n = stream->Write(value.data() + done, step);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  stream->Flush();
}

std::string TBlobField::DisplayText() const { return IsNull() ? "(blob)" : "(BLOB)"; }

std::string TMemoField::DisplayText() const { return IsNull() ? "(memo)" : "(MEMO)"; }

}  // namespace platform
