// The index build sorter: takes the keys of all records of a table in any
// order and gives them back in key order with their record numbers,
// optionally without duplicates.
//
// Keys are gathered in a bounded in-memory area (32 x 40960 bytes, key bytes
// and their index entries together; sorting takes a scratch copy of the
// entries besides). When the area is full its keys are
// sorted and written out as a sorted, prefix-compressed run into a
// `TgsPageCollection`, and the runs are merged on output. Nothing goes to
// disk.
//
// Stored key (what the area and the runs hold), built by `AddEncoded`:
//
//   escaped key bytes | 0x00 | record number (4 bytes, big-endian)
//
//   escaping: 0x00 -> 0x01 0x01, 0x01 -> 0x01 0x02, every other byte as is.
//   The single 0x00 terminator sorts below every escaped byte, so a key sorts
//   before its own extensions whatever bytes follow, equal keys are ordered by
//   record number, and no stored key is a leading part of another.
//
// Key bytes by value type (type tag in brackets):
//   text    [32]  the text without trailing blanks
//   float   [48]  the IEEE double made byte-sortable: non-negative values get
//                 the sign bit set, negative values have every bit inverted;
//                 big-endian; trailing 0x00 bytes dropped (-0.0 counts as 0)
//   date    [64]  the day number with its sign bit flipped, big-endian
//   binary  [16]  the bytes as they are
//
// Sorting a full area compares the first eight stored bytes of two keys as
// one integer kept in the key's index entry (a byte-wise radix sort for
// larger groups); keys whose first eight bytes are equal are then sorted
// among themselves by their next eight bytes, and so on.
//
// Run record (pages of 16384 bytes, a zero type byte ends a page):
//   0  1  type tag
//   1  2  total length of the stored key (little-endian)
//   3  2  count n of new bytes (little-endian)
//   5  n  the last n bytes of the stored key; the first total-n bytes are
//         those of the previous record of the run
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/support/gs6_cnst.h"

class TgsVariant;

// Type tags of sort keys.
enum class TgsSortType : uint8_t { Binary = 16, Text = 32, Float = 48, Date = 64 };

// A sorted run: a list of pages of prefix-compressed records, written once
// and then read once from the start. Pages already read are freed.
class TgsPageCollection {
 public:
  static constexpr int kPageSize = 16384;

  // Appends a record; `shared` leading bytes of `key` equal those of the
  // previous record.
  void Append(uint8_t type, const uint8_t* key, int length, int shared);
  // Ends writing and moves the read position to the first record.
  void Finish();
  // Reads the next record into the current key; false when exhausted.
  bool Advance();

  bool HasCurrent() const { return hasCurrent_; }
  const uint8_t* Key() const { return key_; }
  int Length() const { return length_; }
  uint8_t Type() const { return type_; }

 private:
  std::vector<std::unique_ptr<uint8_t[]>> pages_;
  int writePos_ = kPageSize;  // forces a first page
  size_t readPage_ = 0;
  int readPos_ = 0;
  bool hasCurrent_ = false;
  uint8_t type_ = 0;
  int length_ = 0;
  uint8_t key_[512] = {};
};

class TgsSort {
 public:
  static constexpr int kMaxKeyLength = 251;
  // Memory for the keys waiting to be sorted: their bytes and index entries.
  static constexpr size_t kAreaSize = 32 * 40960;

  // maxKeyLength: 1 to 251 bytes; raises otherwise.
  TgsSort(int maxKeyLength, bool ascending, bool unique);
  virtual ~TgsSort();
  TgsSort(const TgsSort&) = delete;
  TgsSort& operator=(const TgsSort&) = delete;

  // Adds a key of type text, float, date or binary with its record number.
  // Raises for other types, for keys longer than the maximum and after the
  // first `Next`.
  void Add(const TgsVariant& key, TRecNo recNo);
  // The same for values at hand, without a variant.
  void AddText(std::string_view text, TRecNo recNo);
  void AddFloat(double value, TRecNo recNo);
  void AddDate(int32_t day, TRecNo recNo);
  void AddBinary(std::string_view bytes, TRecNo recNo);

  // The next key in order with its record number; false when none is left.
  bool Next(TgsVariant& key, TRecNo& recNo);
  // The same without a variant: the key's type and its bytes in the stored
  // form (text, binary as given; float and date in their sortable form,
  // see DecodeFloat / DecodeDate). `bytes` stays valid until the next call.
  bool NextKey(TgsSortType& type, std::string_view& bytes, TRecNo& recNo);

  // Number of keys added.
  int32_t Count() const { return count_; }
  // Number of runs written so far (a drained sorter counts its last one).
  int RunCount() const { return static_cast<int>(runs_.size()); }

  // Converters between values and their sortable bytes.
  static void EncodeFloat(double value, std::string& out);
  static double DecodeFloat(std::string_view bytes);
  static void EncodeDate(int32_t day, std::string& out);
  static int32_t DecodeDate(std::string_view bytes);

 private:
  // Index entry of a key in the area: its first eight bytes as a big-endian
  // integer (zero-padded), where its bytes start, their count and its type.
  struct Entry {
    uint64_t head;
    uint32_t offset;
    uint16_t length;
    uint8_t type;
  };

  void AddEncoded(TgsSortType type, const uint8_t* key, size_t length, TRecNo recNo);
  void CheckAccepting(size_t length) const;
  void SortEntries(Entry* first, Entry* last, int depth);
  void RadixSortByHead(Entry* first, Entry* last);
  void DumpRun();
  void BeginRetrieval();
  bool Before(const TgsPageCollection& a, const TgsPageCollection& b) const;
  void SiftDown(size_t at);
  void Advance(size_t heapSlot);

  int maxKeyLength_;
  bool unique_;
  bool ascending_;
  bool accepting_ = true;
  int32_t count_ = 0;

  // Keys waiting for the next run: their stored bytes and index entries.
  std::vector<uint8_t> area_;
  std::vector<Entry> entries_;
  std::vector<Entry> radixScratch_;  // the other half of a radix pass

  std::vector<std::unique_ptr<TgsPageCollection>> runs_;
  std::vector<uint32_t> heap_;  // runs with a current record, smallest first

  std::string convertBuffer_;   // key bytes of the value being added
  uint8_t storedBuffer_[512];   // stored form of the key being added

  std::string previousKey_;     // last returned key (handed out by NextKey)
  uint8_t previousType_ = 0;
  TRecNo previousRec_ = 0;
  bool hasPrevious_ = false;
  std::string currentKey_;      // the key being decoded
};
