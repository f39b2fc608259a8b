// The expression value cell and the value-type helpers: type names, the
// number group, saturating truncation and rounding, conversions and the
// value comparison.
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/expr/gs6_sql.h"

std::string_view ValueTypeName(TgsExpValueType type) {
  switch (type) {
    case TgsExpValueType::Unknown: return "Unknown";
    case TgsExpValueType::Empty: return "Empty";
    case TgsExpValueType::Any: return "Any";
    case TgsExpValueType::Text: return "Text";
    case TgsExpValueType::Number: return "Number";
    case TgsExpValueType::Integer: return "Integer";
    case TgsExpValueType::Date: return "Date";
    case TgsExpValueType::DateTime: return "DateTime";
    case TgsExpValueType::Boolean: return "Boolean";
    case TgsExpValueType::Memo: return "Memo";
    case TgsExpValueType::Pointer: return "Pointer";
  }
  return "Invalid Value";
}

bool IsNumberGroup(TgsExpValueType type) {
  return type >= TgsExpValueType::Number && type <= TgsExpValueType::DateTime;
}

bool TypesMatch(TgsExpValueType a, TgsExpValueType b) {
  return a == b || (IsNumberGroup(a) && IsNumberGroup(b));
}

int32_t TruncToInt32(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (x <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(x);
}

int32_t RoundToInt32(double x) {
  if (std::isnan(x)) return 0;
  // nearbyint rounds ties to even in the default rounding mode.
  return TruncToInt32(std::nearbyint(x));
}

namespace {

// Reads an optional sign and a decimal number with "." as the point; the
// whole of `text` but surrounding blanks must be used. 0 when it is not one.
double ParseDecimal(std::string_view text) {
  while (!text.empty() && static_cast<uint8_t>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<uint8_t>(text.back()) <= 32) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.front() == '+' || text.front() == '-') return 0.0;
  double value = 0.0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return 0.0;
  return negative ? -value : value;
}

int KindRank(TgsExpValue::Kind kind) {
  switch (kind) {
    case TgsExpValue::Kind::Null: return 0;
    case TgsExpValue::Kind::Boolean: return 1;
    case TgsExpValue::Kind::Double:
    case TgsExpValue::Kind::Integer: return 2;
    case TgsExpValue::Kind::Text: return 3;
  }
  return 0;
}

}  // namespace

void TgsExpValue::SetText(std::string_view text) {
  text_.assign(text.data(), text.size());
  kind_ = Kind::Text;
}

void TgsExpValue::SetDouble(double value) {
  double_ = value;
  kind_ = Kind::Double;
}

void TgsExpValue::SetInteger(int32_t value) {
  integer_ = value;
  kind_ = Kind::Integer;
}

void TgsExpValue::SetBoolean(bool value) {
  boolean_ = value;
  kind_ = Kind::Boolean;
}

std::string& TgsExpValue::TextBuffer() {
  if (kind_ != Kind::Text) text_.clear();
  kind_ = Kind::Text;
  return text_;
}

std::string_view TgsExpValue::Text() const {
  return kind_ == Kind::Text ? std::string_view(text_) : std::string_view();
}

std::string TgsExpValue::AsText() const {
  switch (kind_) {
    case Kind::Null: return {};
    case Kind::Text: return text_;
    case Kind::Boolean: return boolean_ ? "T" : "F";
    case Kind::Integer: return std::to_string(integer_);
    case Kind::Double: {
      char buffer[64];
      auto result = std::to_chars(buffer, buffer + sizeof buffer, double_ + 0.0);  // no "-0"
      return std::string(buffer, result.ptr);
    }
  }
  return {};
}

double TgsExpValue::AsDouble() const {
  switch (kind_) {
    case Kind::Null: return 0.0;
    case Kind::Text: return ParseDecimal(text_);
    case Kind::Boolean: return boolean_ ? 1.0 : 0.0;
    case Kind::Integer: return integer_;
    case Kind::Double: return double_;
  }
  return 0.0;
}

int32_t TgsExpValue::AsInteger() const {
  return kind_ == Kind::Integer ? integer_ : TruncToInt32(AsDouble());
}

bool TgsExpValue::AsBoolean() const {
  switch (kind_) {
    case Kind::Null: return false;
    case Kind::Text: return !text_.empty() && std::strchr("TtYyJj", text_.front()) != nullptr;
    case Kind::Boolean: return boolean_;
    case Kind::Integer: return integer_ != 0;
    case Kind::Double: return TruncToInt32(double_) != 0;
  }
  return false;
}

int TgsExpValue::Compare(const TgsExpValue& a, const TgsExpValue& b) {
  int rankA = KindRank(a.kind_), rankB = KindRank(b.kind_);
  if (rankA != rankB) return rankA < rankB ? -1 : 1;
  switch (a.kind_) {
    case Kind::Null: return 0;
    case Kind::Boolean: return a.boolean_ == b.boolean_ ? 0 : (a.boolean_ ? 1 : -1);
    case Kind::Text: {
      size_t common = std::min(a.text_.size(), b.text_.size());
      int r = common == 0 ? 0 : std::memcmp(a.text_.data(), b.text_.data(), common);
      if (r != 0) return r < 0 ? -1 : 1;
      if (a.text_.size() == b.text_.size()) return 0;
      return a.text_.size() < b.text_.size() ? -1 : 1;
    }
    case Kind::Integer:
    case Kind::Double: {
      if (a.kind_ == Kind::Integer && b.kind_ == Kind::Integer)
        return a.integer_ == b.integer_ ? 0 : (a.integer_ < b.integer_ ? -1 : 1);
      double x = a.AsDouble(), y = b.AsDouble();
      if (x < y) return -1;
      if (x > y) return 1;
      return 0;
    }
  }
  return 0;
}

void TgsExpValue::Swap(TgsExpValue& other) noexcept {
  std::swap(kind_, other.kind_);
  std::swap(boolean_, other.boolean_);
  std::swap(integer_, other.integer_);
  std::swap(double_, other.double_);
  text_.swap(other.text_);
}
