// Engine tools: file-name and string helpers, the value cell `TgsVariant`,
// the owning list `TgsCollection` and the paged record bit set `TgsHugeSet`.
//
// The locale string helpers (case, comparison, substring search by the
// 1251 rules) are those of platform/ansi.h, used directly by the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ansi.h"

// --- String and file-name helpers -----------------------------------------

// 1-based position of `pattern` in `text`, 0 when absent. One leading and one
// trailing "*" are stripped ("*" alone matches any non-empty text at 1); when
// the pattern does not begin with "*", each "?" stands for the text's
// character at the same position. A text shorter than the whole pattern
// gives 0.
size_t WildcardPos(std::string_view pattern, std::string_view text);

// `name` unchanged when its file part has an extension, else `name` plus
// `extension` (a leading "." is added when missing).
std::string DefaultExtension(std::string_view name, std::string_view extension);

// The file name without directory and without its extension.
std::string BaseName(std::string_view name);

// Appends `ch` to the NUL-terminated `buffer` until it is `n` long, then
// terminates it; the buffer must hold n + 1 bytes. A longer text is kept.
void PadBuffer(char* buffer, char ch, size_t n);

// `text` without its trailing blanks (a character field's stored text),
// looked at eight bytes at a time: fields are mostly padding.
std::string_view TrimTrailingBlanks(std::string_view text);

// --- TgsVariant -------------------------------------------------------------
// A value cell: owned data bytes, allocated size, used length and type tag.
//   tag 0 none   no data
//       1 text   the characters, no terminator
//       2 float  8-byte double
//       3 date   4-byte signed day number
//       4 bool   1 byte, 0 = false
//       5 binary raw bytes
// A cell is empty when its used length is 0, whatever its tag. The allocation
// is reused: it only grows when a value does not fit.
class TgsVariant {
 public:
  enum Tag : uint8_t { kNone = 0, kText = 1, kFloat = 2, kDate = 3, kBoolean = 4, kBinary = 5 };

  explicit TgsVariant(uint16_t initialSize = 0);
  TgsVariant(const TgsVariant& other);
  TgsVariant& operator=(const TgsVariant& other);
  // Moving leaves the source without a value (tag 0, nothing allocated).
  TgsVariant(TgsVariant&& other) noexcept;
  TgsVariant& operator=(TgsVariant&& other) noexcept;
  virtual ~TgsVariant();

  void Reset();
  // Private copy of `other`; false (and this cell reset) when it is null.
  bool CopyFrom(const TgsVariant* other);
  // Grows the allocation to at least n (copying the bytes, tag reset to 0),
  // and makes n the used length. Values are limited to 4 GB - 1 bytes;
  // beyond that the setters throw std::length_error.
  void SetSize(uint32_t n);

  void SetText(std::string_view text);
  void SetFloat(double value);
  void SetDate(int32_t day);
  void SetBoolean(bool flag);
  void SetBinary(const void* bytes, size_t count);
  void AppendBytes(const void* bytes, size_t count);

  void UpperCaseText();
  void PadText(uint32_t n);
  void TrimText();

  bool AsBoolean() const;
  int32_t AsDate() const;
  // Text: "." or the locale's separator as the point; throws
  // platform::ConvertError on bad text.
  double AsFloat() const;
  std::string AsText() const;
  // AsText into `buffer` (capacity bytes including the NUL), cut to fit.
  void AsTextBuffer(char* buffer, size_t capacity) const;

  // Three-way compare (-1, 0, 1); `position` gets the 1-based index of the
  // first differing byte for text and binary (0 otherwise). `table` maps
  // text bytes before comparing (null: none). When this text is a proper
  // prefix of other's, the result is `prefixResult`.
  int Compare(const TgsVariant* other, int& position, const uint8_t* table,
              int prefixResult) const;
  // As Compare, with a float value of this cell taken as binary bytes.
  int CompareRaw(const TgsVariant* other, int& position, const uint8_t* table,
                 int prefixResult) const;
  // Compare of two values that are both text or binary bytes, neither empty,
  // without a table: the byte compare at the heart of Compare, for loops
  // that meet such values by the thousand (index keys). `text`: at least
  // one of them is text, so that a proper prefix gives `prefixResult`.
  // `position` (when given) gets what Compare's does.
  static int CompareBytes(const uint8_t* a, uint32_t aLength, const uint8_t* b, uint32_t bLength,
                          bool text, int prefixResult, int* position = nullptr) {
    const uint32_t common = aLength < bLength ? aLength : bLength;
    const int d = std::memcmp(a, b, common);
    if (d != 0) {
      if (position) {
        uint32_t i = 0;
        while (a[i] == b[i]) ++i;
        *position = static_cast<int>(i) + 1;
      }
      return d < 0 ? -1 : 1;
    }
    if (position) *position = static_cast<int>(common) + 1;
    if (aLength == bLength) return 0;
    if (aLength > bLength) return 1;
    return text ? (prefixResult > 0) - (prefixResult < 0) : -1;
  }
  // True when the cell holds text or binary bytes (possibly none): the
  // values CompareBytes compares once they are not empty.
  bool IsBytes() const { return tag_ == kText || tag_ == kBinary; }

  uint8_t Tag() const { return tag_; }
  uint32_t Size() const { return size_; }
  uint32_t Length() const { return length_; }
  const uint8_t* Data() const { return data_.get(); }
  uint8_t* Data() { return data_.get(); }
  bool IsEmpty() const { return !data_ || length_ == 0; }

 protected:
  int CompareAs(uint8_t thisTag, const TgsVariant* other, int& position,
                const uint8_t* table, int prefixResult) const;
  // Reads up to `count` bytes of the value, zero-filled past its length.
  void ReadPadded(void* out, size_t count) const;

  std::unique_ptr<uint8_t[]> data_;
  uint32_t size_ = 0;
  uint32_t length_ = 0;
  uint8_t tag_ = kNone;
};

// --- TgsCollection ----------------------------------------------------------
// A list that owns its items. Every removal hands the item to `ReleaseItem`,
// which destroys it by default. A list that keeps items it does not own
// overrides the hook to release the pointer without deleting it, and must
// call ClearAndFree() in its own destructor (the base destructor cannot reach
// the override).
template <class T>
class TgsCollection {
 public:
  TgsCollection() = default;
  TgsCollection(const TgsCollection&) = delete;
  TgsCollection& operator=(const TgsCollection&) = delete;
  virtual ~TgsCollection() { ClearAndFree(); }

  size_t Count() const { return items_.size(); }
  T* Items(size_t index) const { return items_.at(index).get(); }
  T* operator[](size_t index) const { return items_[index].get(); }

  T* Add(std::unique_ptr<T> item) {
    items_.push_back(std::move(item));
    return items_.back().get();
  }
  T* Insert(size_t index, std::unique_ptr<T> item) {
    if (index > items_.size()) index = items_.size();
    return items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), std::move(item))->get();
  }
  // Index of `item`, -1 when it is not in the list.
  std::ptrdiff_t IndexOf(const T* item) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i].get() == item) return static_cast<std::ptrdiff_t>(i);
    return -1;
  }
  // Takes the item out of the list and hands it back without releasing it.
  std::unique_ptr<T> Extract(const T* item) {
    std::ptrdiff_t i = IndexOf(item);
    if (i < 0) return nullptr;
    std::unique_ptr<T> out = std::move(items_[static_cast<size_t>(i)]);
    items_.erase(items_.begin() + i);
    return out;
  }
  void RemoveAndFree(const T* item) {
    std::unique_ptr<T> out = Extract(item);
    if (out) ReleaseItem(std::move(out));
  }
  void DeleteAt(size_t index) {
    if (index >= items_.size()) return;
    std::unique_ptr<T> out = std::move(items_[index]);
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    ReleaseItem(std::move(out));
  }
  void ClearAndFree() {
    std::vector<std::unique_ptr<T>> old = std::move(items_);
    items_.clear();
    for (auto& item : old) ReleaseItem(std::move(item));
  }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 protected:
  virtual void ReleaseItem(std::unique_ptr<T> item) { item.reset(); }

  std::vector<std::unique_ptr<T>> items_;
};

// --- TgsHugeSet -------------------------------------------------------------
// A bit set over record numbers, in pages of 16,384 bytes (131,072 bits).
// Bit n lives in page n / 131072, byte (n / 8) % 16384, bit n % 8 from the
// least significant. Pages are allocated zero-filled, in order, up to the
// page a SetBit touches; reads never allocate.
class TgsHugeSet {
 public:
  static constexpr int32_t kPageBytes = 16384;
  static constexpr int32_t kPageBits = kPageBytes * 8;
  enum Operation { kClear = 0, kSet = 1, kToggle = 2 };

  TgsHugeSet() = default;
  TgsHugeSet(const TgsHugeSet&) = delete;
  TgsHugeSet& operator=(const TgsHugeSet&) = delete;

  // Negative n is ignored.
  void SetBit(int32_t n, int operation);
  bool TestBit(int32_t n) const;
  void ClearAll();
  int32_t HighestIndex() const { return highest_; }
  size_t PageCount() const { return pages_.size(); }

 private:
  std::vector<std::unique_ptr<uint8_t[]>> pages_;
  int32_t highest_ = -1;
};
