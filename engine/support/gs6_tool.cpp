// File-name and string helpers, the value cell, and the paged record bit set.
#include "engine/support/gs6_tool.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <utility>

#include "engine/support/gs6_cnst.h"
#include "engine/support/gs6_date.h"
#include "engine/support/gs6_glbl.h"
#include "platform/hot.h"
#include "platform/locale.h"

// --- String and file-name helpers -----------------------------------------

size_t WildcardPos(std::string_view pattern, std::string_view text) {
  if (pattern.empty() || text.size() < pattern.size()) return 0;
  bool leadingStar = pattern.front() == '*';
  if (leadingStar) {
    if (pattern.size() == 1) return 1;
    pattern.remove_prefix(1);
  }
  if (pattern.back() == '*') {
    if (pattern.size() == 1) return 1;
    pattern.remove_suffix(1);
  }
  std::string copy(text);
  if (!leadingStar) {
    for (size_t i = 0; i < pattern.size() && i < copy.size(); ++i)
      if (pattern[i] == '?') copy[i] = '?';
  }
  return platform::TextPos(pattern, copy);
}

namespace {
// Start of the file part of a path.
size_t FilePartStart(std::string_view name) {
  size_t slash = name.find_last_of('/');
  return slash == std::string_view::npos ? 0 : slash + 1;
}
// Position of the extension's dot in the file part, npos when none.
size_t ExtensionDot(std::string_view name) {
  size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos || dot < FilePartStart(name)) return std::string_view::npos;
  return dot;
}
}  // namespace

std::string DefaultExtension(std::string_view name, std::string_view extension) {
  std::string out(name);
  if (ExtensionDot(name) != std::string_view::npos || extension.empty()) return out;
  if (extension.front() != '.') out += '.';
  out += extension;
  return out;
}

std::string BaseName(std::string_view name) {
  size_t start = FilePartStart(name);
  size_t dot = ExtensionDot(name);
  size_t end = dot == std::string_view::npos ? name.size() : dot;
  return std::string(name.substr(start, end - start));
}

void PadBuffer(char* buffer, char ch, size_t n) {
  size_t len = std::strlen(buffer);
  while (len < n) buffer[len++] = ch;
  buffer[len] = '\0';
}

// --- TgsVariant -------------------------------------------------------------

TgsVariant::TgsVariant(uint16_t initialSize) {
  if (initialSize > 0) {
    data_ = std::make_unique<uint8_t[]>(initialSize);
    size_ = initialSize;
  }
}

TgsVariant::TgsVariant(const TgsVariant& other) { CopyFrom(&other); }

TgsVariant& TgsVariant::operator=(const TgsVariant& other) {
  if (this != &other) CopyFrom(&other);
  return *this;
}

TgsVariant::TgsVariant(TgsVariant&& other) noexcept { *this = std::move(other); }

TgsVariant& TgsVariant::operator=(TgsVariant&& other) noexcept {
  if (this != &other) {
    data_ = std::move(other.data_);
    size_ = std::exchange(other.size_, 0);
    length_ = std::exchange(other.length_, 0);
    tag_ = std::exchange(other.tag_, kNone);
  }
  return *this;
}

TgsVariant::~TgsVariant() = default;

namespace {
// A byte count as a value length; values are limited to 32-bit lengths.
uint32_t ValueLength(size_t count) {
  if (count > std::numeric_limits<uint32_t>::max()) throw std::length_error("value too long");
  return static_cast<uint32_t>(count);
}
}  // namespace

void TgsVariant::Reset() {
  data_.reset();
  size_ = 0;
  length_ = 0;
  tag_ = kNone;
}

bool TgsVariant::CopyFrom(const TgsVariant* other) {
  if (!other) {
    Reset();
    return false;
  }
  // An allocation that holds the other's is reused (values are copied for
  // every step through an index: no allocation per step).
  if (other->size_ > 0 && (!data_ || size_ < other->size_)) {
    data_ = std::make_unique<uint8_t[]>(other->size_);
    size_ = other->size_;
  }
  if (other->size_ > 0) {
    if (other->data_)
      std::memcpy(data_.get(), other->data_.get(), other->size_);
    else
      std::memset(data_.get(), 0, other->size_);
  }
  length_ = other->length_;
  tag_ = other->tag_;
  return true;
}

void TgsVariant::SetSize(uint32_t n) {
  if (size_ < n) {
    auto grown = std::make_unique<uint8_t[]>(n);
    if (data_ && length_ > 0) std::memcpy(grown.get(), data_.get(), length_);
    data_ = std::move(grown);
    size_ = n;
    tag_ = kNone;
  }
  length_ = n;
}

void TgsVariant::SetText(std::string_view text) {
  SetSize(ValueLength(text.size()));
  if (!text.empty()) std::memmove(data_.get(), text.data(), text.size());
  tag_ = kText;
}

void TgsVariant::SetFloat(double value) {
  SetSize(sizeof value);
  std::memcpy(data_.get(), &value, sizeof value);
  tag_ = kFloat;
}

void TgsVariant::SetDate(int32_t day) {
  SetSize(sizeof day);
  std::memcpy(data_.get(), &day, sizeof day);
  tag_ = kDate;
}

void TgsVariant::SetBoolean(bool flag) {
  SetSize(1);
  data_[0] = flag ? 1 : 0;
  tag_ = kBoolean;
}

void TgsVariant::SetBinary(const void* bytes, size_t count) {
  SetSize(ValueLength(count));
  if (count > 0 && bytes) std::memmove(data_.get(), bytes, count);
  tag_ = kBinary;
}

void TgsVariant::AppendBytes(const void* bytes, size_t count) {
  if (count == 0 || !bytes) return;
  const uint32_t old = length_;
  if (ValueLength(count) > std::numeric_limits<uint32_t>::max() - old) ValueLength(SIZE_MAX);
  // The bytes may lie inside this cell's own area, which SetSize can replace.
  const auto* from = static_cast<const uint8_t*>(bytes);
  std::less<const uint8_t*> before;
  std::vector<uint8_t> copy;
  if (data_ && !before(from, data_.get()) && before(from, data_.get() + size_)) {
    copy.assign(from, from + count);
    from = copy.data();
  }
  SetSize(old + static_cast<uint32_t>(count));
  std::memcpy(data_.get() + old, from, count);
  tag_ = kBinary;
}

void TgsVariant::UpperCaseText() { SetText(platform::UpperCase(AsText())); }

void TgsVariant::PadText(uint32_t n) {
  if (tag_ != kText || n <= length_) return;
  uint32_t old = length_;
  SetSize(n);
  std::memset(data_.get() + old, ' ', n - old);
  tag_ = kText;
}

void TgsVariant::TrimText() {
  if (tag_ != kText) return;
  while (length_ > 0 && data_[length_ - 1] == ' ') --length_;
}

void TgsVariant::ReadPadded(void* out, size_t count) const {
  std::memset(out, 0, count);
  if (data_) std::memcpy(out, data_.get(), length_ < count ? length_ : count);
}

bool TgsVariant::AsBoolean() const {
  if (IsEmpty()) return false;
  switch (tag_) {
    case kText:
      return std::strchr(kTrueLetters, static_cast<char>(data_[0])) != nullptr && data_[0] != 0;
    case kFloat: {
      double v = 0;
      ReadPadded(&v, sizeof v);
      return std::fabs(v) >= 1.0;  // trunc(v) != 0
    }
    case kDate:
      return false;
    default:  // boolean and binary: the first byte
      return data_[0] != 0;
  }
}

int32_t TgsVariant::AsDate() const {
  if (IsEmpty()) return 0;
  switch (tag_) {
    case kText:
      return DBFDate().TextToDay(std::string_view(reinterpret_cast<const char*>(data_.get()), length_));
    case kFloat: {
      double v = 0;
      ReadPadded(&v, sizeof v);
      if (!(v >= 1.0 && v < static_cast<double>(std::numeric_limits<int32_t>::max()))) return 0;
      // A day with no calendar date writes as blanks and reads back as 0.
      const TgsDBFDate& date = DBFDate();
      return date.TextToDay(date.DayToStorageText(static_cast<int32_t>(v)));
    }
    case kDate:
    case kBinary: {
      int32_t day = 0;
      ReadPadded(&day, sizeof day);
      return day;
    }
    default:
      return 0;
  }
}

double TgsVariant::AsFloat() const {
  if (IsEmpty()) return 0.0;
  switch (tag_) {
    case kText: {
      // Number texts of xBase data write "." whatever the locale.
      const std::string_view text(reinterpret_cast<const char*>(data_.get()), length_);
      double value = 0.0;
      return platform::TryTextToNumber(text, value) ? value : platform::TextToFloat(text);
    }
    case kDate: {
      int32_t day = 0;
      ReadPadded(&day, sizeof day);
      return day;
    }
    case kBoolean:
      return data_[0] != 0 ? 1.0 : 0.0;
    default: {  // float and binary: the first 8 bytes
      double v = 0;
      ReadPadded(&v, sizeof v);
      return v;
    }
  }
}

std::string TgsVariant::AsText() const {
  if (IsEmpty()) return {};
  switch (tag_) {
    case kFloat:
      return platform::FloatToText(AsFloat());
    case kDate:
      return DBFDate().DayToDisplayText(AsDate());
    case kBoolean:
      return std::string(1, data_[0] != 0 ? kTrueLetters[0] : kFalseLetters[0]);
    default:  // text, binary and a tag-0 cell with bytes: the bytes
      return std::string(reinterpret_cast<const char*>(data_.get()), length_);
  }
}

void TgsVariant::AsTextBuffer(char* buffer, size_t capacity) const {
  if (!buffer || capacity == 0) return;
  std::string text = AsText();
  size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

int TgsVariant::Compare(const TgsVariant* other, int& position, const uint8_t* table,
                        int prefixResult) const {
  return CompareAs(tag_, other, position, table, prefixResult);
}

int TgsVariant::CompareRaw(const TgsVariant* other, int& position, const uint8_t* table,
                           int prefixResult) const {
  return CompareAs(tag_ == kFloat ? static_cast<uint8_t>(kBinary) : tag_, other, position, table, prefixResult);
}

namespace {
int Sign(double d) { return (d > 0) - (d < 0); }
}  // namespace

int TgsVariant::CompareAs(uint8_t thisTag, const TgsVariant* other, int& position,
                          const uint8_t* table, int prefixResult) const {
  position = 0;
  if (thisTag == kNone) return other && other->length_ > 0 ? -1 : 0;
  if (!other) return 1;
  uint8_t type;
  if (thisTag == other->tag_)
    type = thisTag;
  else if (thisTag == kBinary)
    type = other->tag_;
  else if (other->tag_ == kBinary)
    type = thisTag;
  else
    RaiseError(Msg::VariantCompareMismatch);

  bool thisEmpty = IsEmpty(), otherEmpty = other->IsEmpty();
  if (thisEmpty || otherEmpty) return thisEmpty && otherEmpty ? 0 : thisEmpty ? -1 : 1;

  switch (type) {
    case kText:
    case kBinary: {
      const bool useTable = type == kText && table;
      if (!useTable)
        return CompareBytes(data_.get(), length_, other->data_.get(), other->length_, type == kText,
                            prefixResult, &position);
      const uint32_t common = length_ < other->length_ ? length_ : other->length_;
      for (uint32_t i = 0; i < common; ++i) {
        uint8_t a = data_[i], b = other->data_[i];
        if (useTable) {
          a = table[a];
          b = table[b];
        }
        if (a != b) {
          position = static_cast<int>(i) + 1;
          return a < b ? -1 : 1;
        }
      }
      position = static_cast<int>(common) + 1;
      int result = Sign(static_cast<double>(length_) - static_cast<double>(other->length_));
      if (type == kText && result < 0 && static_cast<int64_t>(length_) < position)
        result = Sign(prefixResult);
      return result;
    }
    case kFloat: {
      double a = 0, b = 0;
      ReadPadded(&a, sizeof a);
      other->ReadPadded(&b, sizeof b);
      return (a > b) - (a < b);
    }
    case kDate: {
      int32_t a = 0, b = 0;
      ReadPadded(&a, sizeof a);
      other->ReadPadded(&b, sizeof b);
      return (a > b) - (a < b);
    }
    case kBoolean: {
      bool a = data_[0] != 0, b = other->data_[0] != 0;
      return (a > b) - (a < b);
    }
    default:
      RaiseError(Msg::VariantCompareMismatch);
  }
}

// --- TgsHugeSet -------------------------------------------------------------

void TgsHugeSet::SetBit(int32_t n, int operation) {
  if (n < 0) return;
  const size_t page = static_cast<size_t>(n / kPageBits);
  while (pages_.size() <= page) pages_.push_back(std::make_unique<uint8_t[]>(kPageBytes));
  uint8_t& byte = pages_[page][(n / 8) % kPageBytes];
  const uint8_t mask = static_cast<uint8_t>(1u << (n % 8));
  switch (operation) {
    case kClear:
      byte &= static_cast<uint8_t>(~mask);
      break;
    case kSet:
      byte |= mask;
      break;
    case kToggle:
      byte ^= mask;
      break;
    default:
      break;
  }
  if (n > highest_) highest_ = n;
}

bool TgsHugeSet::TestBit(int32_t n) const {
  if (n < 0 || n > highest_) return false;
  const size_t page = static_cast<size_t>(n / kPageBits);
  if (page >= pages_.size()) return false;
  return (pages_[page][(n / 8) % kPageBytes] >> (n % 8)) & 1;
}

void TgsHugeSet::ClearAll() {
  for (auto& page : pages_) std::memset(page.get(), 0, kPageBytes);
  highest_ = -1;
}

DERIDAR_ROW_PATH std::string_view TrimTrailingBlanks(std::string_view text) {
  size_t n = text.size();
  constexpr uint64_t kBlanks = 0x2020202020202020ull;
  while (n >= 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + n - 8, 8);
    const uint64_t other = word ^ kBlanks;  // non-zero bytes: not blanks
    if (other != 0) {
      // The blanks after the last other byte of the word.
      const int blanks = std::endian::native == std::endian::little ? std::countl_zero(other) / 8
                                                                     : std::countr_zero(other) / 8;
      return text.substr(0, n - static_cast<size_t>(blanks));
    }
    n -= 8;
  }
  while (n > 0 && text[n - 1] == ' ') --n;
  return text.substr(0, n);
}
