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
// Run record (pages of 16384 bytes; a record never spans two pages):
//   control  1     bits 0-6: count s of leading bytes shared with the
//                  previous record of the run (127: s follows in 2 bytes,
//                  little-endian); bit 7: a type tag byte follows
//   [type]   1     the type tag, when it differs from the previous record's
//   [s]      2     see control
//   fresh    1     count n of new bytes (255: n follows in 2 bytes)
//   [n]      2
//   bytes    n     the last n bytes of the stored key, whose first s bytes
//                  are those of the previous record
//
// The merge on output is a tournament (loser) tree over the runs; each run's
// current key keeps its first sixteen bytes as two integers, so that most
// comparisons are integer comparisons.
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

  // Appends a record of type `type`; `shared` leading bytes of `key` equal
  // those of the previous record.
  void Append(uint8_t type, const uint8_t* key, int length, int shared);
  // Ends writing and moves the read position to the first record.
  void Finish();
  // Reads the next record into the current key; false when exhausted.
  bool Advance();

  bool HasCurrent() const { return hasCurrent_; }
  const uint8_t* Key() const { return key_; }
  int Length() const { return length_; }
  uint8_t Type() const { return type_; }
  // The first eight bytes of the current key as a big-endian integer,
  // zero-padded.
  uint64_t Head() const { return head_; }
  // The next eight bytes (8 to 15) the same way.
  uint64_t NextHead() const { return nextHead_; }

 private:
  struct Page {
    std::unique_ptr<uint8_t[]> bytes;
    int used = 0;
  };
  std::vector<Page> pages_;
  uint8_t writeType_ = 0;  // type of the last record written
  size_t readPage_ = 0;
  int readPos_ = 0;
  bool hasCurrent_ = false;
  uint8_t type_ = 0;
  int length_ = 0;
  uint64_t head_ = 0;
  uint64_t nextHead_ = 0;
  // The longest stored key (507 bytes), with room to read and copy past it.
  uint8_t key_[544];
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
  // A run in the merge with the first sixteen bytes of its current key as
  // two integers, inverted for a descending sorter so that the smaller
  // always goes out first; all ones for an exhausted run.
  struct MergeCursor {
    uint64_t head;
    uint64_t nextHead;
    TgsPageCollection* run;
  };
  void LoadCursor(MergeCursor& cursor) const;
  // True when the current key of run `a` goes out before that of run `b`;
  // an exhausted run goes out last.
  bool Before(uint32_t a, uint32_t b) const;
  bool BeforeByBytes(const MergeCursor& x, const MergeCursor& y) const;
  // Run `winner` has a new current key: plays it up the tree.
  void Replay(uint32_t winner);

  int maxKeyLength_;
  bool unique_;
  bool ascending_;
  bool accepting_ = true;
  bool escapes_ = false;  // some key added had bytes 0x00 or 0x01
  int32_t count_ = 0;

  // Keys waiting for the next run: their stored bytes (areaUsed_ of them)
  // and index entries (entryCount_), together within kAreaSize bytes.
  std::unique_ptr<uint8_t[]> area_;
  size_t areaUsed_ = 0;
  std::unique_ptr<Entry[]> entries_;
  size_t entryCount_ = 0;
  std::unique_ptr<Entry[]> radixScratch_;  // the other half of a radix pass
  size_t radixCapacity_ = 0;

  std::vector<std::unique_ptr<TgsPageCollection>> runs_;
  // The tournament tree: tree_[0] the run whose key goes out next, tree_[i]
  // (1 <= i < runs) the loser of the match at node i.
  std::vector<uint32_t> tree_;
  std::vector<MergeCursor> cursors_;  // one per run

  std::string convertBuffer_;   // key bytes of the value being added

  // The last key handed out by NextKey and the one being decoded, in turns.
  char keyBuffers_[2][kMaxKeyLength + 1 + 16];  // room to copy in pieces of 16
  int previousSlot_ = 0;
  size_t previousLength_ = 0;
  uint8_t previousType_ = 0;
  TRecNo previousRec_ = 0;
  bool hasPrevious_ = false;
};
