// MDX multiple index files: `GSobjMDXFile` holds up to 47 tags of one table,
// listed in a tag table in the file header and kept in name order;
// `GSobjMDXTag` is one tag with its header node and its B-tree of 1024-byte
// nodes; `GSobjSortMDX` builds a tag bottom-up from the sorter. Positioning
// and maintenance are the framework's (gs6_indx.h); this unit reads and
// writes the file, splits overflowing nodes and keeps the tag table.
//
// The file is an array of 512-byte blocks; the file stores block numbers,
// the node images and tags of this unit hold byte offsets (block × 512).
// Integers are little-endian.
//
// File header, blocks 0..3 (2048 bytes in files made here):
//   0    1  version: 2
//   1    3  date of the last update: year % 100, month, day
//   4   16  table name without folder and extension, zero-terminated
//   20   2  blocks per node (2)          22  2  node size in bytes (1024)
//   24   1  production index flag: 1
//   25   1  tag table slots (48)         26  1  tag table entry length (32)
//   28   2  number of tags               32  4  next free block
//   44   3  creation date, as at 1
//   512 32k tag table: slot 0 is not a tag, tag k (from 1) uses slot k
//
// Tag table slot, 32 bytes at 512 + 32 k:
//   0  4  header block        4 11  tag name, upper case, zero-terminated
//   15 1  key format (as in the tag header)
//   17 1  k + 1, the next tag's slot; 0 in the last tag's (1 in slot 0)
//   19 1  2                   20 1  key type 'C', 'N' or 'D'
//
// Tag header, one node at its header block:
//   0    4  root block
//   8    1  key format: 0x10, + 0x40 unique, + 0x08 descending
//   9    1  key type 'C', 'N' or 'D'
//   12   2  key length       14  2  maximum keys per node   18 2 entry size
//   23   1  64 when unique (read: not 0)
//   24 221  key expression, zero-terminated
//   245  1  1 when there is a FOR expression               246 1 1
//   248  4  first leaf block 252  4  last leaf block
//   762 262 FOR expression, zero-terminated
//
// Node, one node size at a block:
//   0  4  number of keys n    4  4  block of the preceding node
//   8  .  entries of entry size: pointer (4; record number in a leaf, child
//         block in a branch), then the key. A branch holds n + 1 entries,
//         the last with a pointer only: a node is a branch when the pointer
//         of entry n is not 0.
//
// Keys: character keys blank-padded; date keys the Julian day number as an
// 8-byte double (a blank date 1e100, after every real date); numeric keys a
// 12-byte packed decimal (see EncodePacked). In memory date and numeric keys
// are numeric values, so they compare as numbers.
//
// A damaged file is refused, never trusted: a header that cannot be
// accepted marks the file corrupt (not valid), and a node whose count or
// child blocks are out of range, or that repeats a block of the path above
// it, raises "Index file %s is corrupted".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index/gs6_indx.h"
#include "engine/index/gs6_sort.h"

namespace mdx {

constexpr int32_t kBlockSize = 512;
constexpr int32_t kNodeSize = 1024;         // of files made here
constexpr int32_t kBlocksPerNode = 2;
constexpr int32_t kHeaderSize = 2048;
constexpr int32_t kTagTable = 512;
constexpr int32_t kSlotSize = 32;
constexpr int32_t kSlots = 48;
// Slot 48 would end past the 2048-byte header: 47 tags at most.
constexpr int32_t kMaxTags = (kHeaderSize - kTagTable) / kSlotSize - 1;
constexpr int32_t kMaxTagName = 10;
constexpr int32_t kMaxKeyLength = 240;
constexpr int32_t kPackedLength = 12;
constexpr int32_t kKeyExpressionRoom = 220;  // bytes before the terminator
constexpr int32_t kForExpressionOffset = 762;
constexpr int32_t kMaxLevels = 32;

constexpr uint8_t kFormatBase = 0x10;
constexpr uint8_t kFormatDescending = 0x08;
constexpr uint8_t kFormatUnique = 0x40;

// The 12-byte packed decimal of `value`: byte 0 the decimal exponent + 52
// of 0.d1d2d3... × 10^exponent; byte 1 the digit places (two per digit byte
// kept) × 4 + 1, + 0x80 when negative; bytes 2..9 the digits of the value
// rounded to 15 significant digits, two per byte, high nibble first,
// trailing zero bytes not kept; bytes 10 and 11 zero. An exponent above 15
// is clamped to fifteen nines; values too small for the exponent byte are
// stored as 0.
void EncodePacked(double value, uint8_t* out);
// The value of a packed decimal (digit bytes beyond 8 are not read).
double DecodePacked(const uint8_t* in);
// `value` after a trip through the packed form.
double RoundPacked(double value);

// Entry size and maximum keys per node for a key length.
int32_t EntrySizeFor(int32_t keyLength);
int32_t MaxKeysFor(int32_t keyLength, int32_t nodeSize = kNodeSize);

// The table's production MDX file: the table path with the extension
// ".mdx" (or ".MDX" when only that one exists).
std::string ProductionPath(std::string_view tablePath);

}  // namespace mdx

class GSobjMDXFile;

class GSobjMDXTag : public GSobjIndexTag {
 public:
  // A tag of `file` with its header at byte `headerAddress`, read at once;
  // -1 allocates a node at the end of the file for a new tag's header.
  GSobjMDXTag(GSobjMDXFile* file, std::string_view name, int32_t headerAddress);
  ~GSobjMDXTag() override;

  // --- slots of the framework ---
  void NormalizeKey(TgsVariant& value, bool trim) override;
  bool DefineTag(std::string_view name, std::string_view keyExpression, bool unique,
                 bool ascending, std::string_view forExpression) override;
  bool InsertKey(const GSobjIndexKeyData& entry) override;
  double KeyNumber(const GSobjIndexKeyData& key) const override { return key.AsFloat(); }
  int32_t ReadRootAddress() override;
  bool ReadPage(int32_t address, GSobjIndexKey& image) override;
  bool WritePage(GSobjIndexKey& image) override;
  bool ReadHeader() override;
  bool WriteHeader() override;

  // Fills the tag from the table: every record (deleted ones included)
  // that passes the FOR condition.
  void BuildTag();

  // The key bytes of an entry as stored in a node (key length bytes), and
  // the in-memory key of stored bytes.
  void StoreKey(const TgsVariant& key, uint8_t* out) const;
  void LoadKey(const uint8_t* stored, TgsVariant& key) const;
  uint8_t KeyFormat() const;
  int32_t NodeSize() const { return nodeSize_; }
  int32_t FirstLeaf() const { return firstLeaf_; }
  int32_t LastLeaf() const { return lastLeaf_; }

 private:
  friend class GSobjMDXFile;
  friend class GSobjSortMDX;
  GSobjMDXFile* File() const;
  void SetKeyLength(int32_t length);
  // Writes an empty root node (`bytes` of zeros) at a fresh address.
  void WriteEmptyRoot(int32_t bytes);
  // Writes `count` entries of `image` from `from` as one node at `address`.
  void WriteNode(const GSobjIndexKey& image, size_t from, size_t count, int32_t address,
                 int32_t preceding);

  int32_t nodeSize_ = mdx::kNodeSize;
  std::vector<uint8_t> readBuffer_;  // the node ReadPage reads
  int32_t firstLeaf_ = 0;  // byte offsets
  int32_t lastLeaf_ = 0;
};

class GSobjMDXFile : public GSobjIndexFile {
 public:
  // Opens or creates `fileName` (default extension ".mdx") for the table of
  // `owner` (may be null), reads the header and one tag per slot, or
  // writes the 2048-byte header of a new file. Check `Valid()`.
  GSobjMDXFile(GSobjIndexOwner* owner, std::string_view fileName, bool overwrite, bool create,
               bool readWrite, bool shared);
  ~GSobjMDXFile() override;

  // --- slots of the framework ---
  bool AddTag(std::string_view name, std::string_view keyExpression, bool unique,
              bool ascending, std::string_view forExpression) override;
  bool DeleteTag(std::string_view name) override;
  int32_t AllocatePage() override;
  int32_t ResetAllocator() override;
  void Reindex() override;
  bool RenameFile(std::string_view newName) override;
  bool UpdateKeys(TRecNo n, bool appended) override;
  bool NodeStamp(int64_t& stamp) override;

  int32_t NodeSize() const { return nodeSize_; }
  int32_t BlocksPerNode() const { return blocksPerNode_; }
  int32_t HeaderSize() const { return headerSize_; }
  bool Opening() const { return opening_; }

 protected:
  // The tree walk of a check: every node read once, at most 32 levels, all
  // leaves on one level, every branch key equal to its child's last key,
  // keys in the tag's order. Keys are reported in their stored bytes.
  void WalkTag(GSobjIndexTag& tag, IndexCheckReport& report) override;
  std::string CheckedKeyForm(GSobjIndexTag& tag, const GSobjIndexKeyData& key) override;

 private:
  void ReadFileHeader();
  void CreateFileHeader();
  // The tag table from the tag list, and the header fields that change.
  void WriteTagTable();
  void WriteHeaderFields();

  int32_t nodeSize_ = mdx::kNodeSize;
  int32_t blocksPerNode_ = mdx::kBlocksPerNode;
  int32_t headerSize_ = mdx::kHeaderSize;
  int32_t slots_ = mdx::kSlots;
  bool headerChanged_ = false;
  bool opening_ = false;
  uint32_t storedNextFree_ = 0;  // the next free block the header holds
};

// Bottom-up build of an MDX tag: one node buffer per level, each node
// written once, left to right; the last key of a full node goes up a level.
class GSobjSortMDX : public TgsSort {
 public:
  explicit GSobjSortMDX(GSobjMDXTag& tag);
  ~GSobjSortMDX() override = default;

  // Takes every key from the sorter into the tree, writes the last nodes
  // and sets the tag's root. `progress` is called with the count written.
  template <class F>
  void Drain(F&& progress);

 private:
  struct Level {
    std::vector<uint8_t> node;
    int32_t count = 0;
  };
  // Adds (pointer, key bytes) at a level.
  void Add(size_t level, uint32_t pointer, const uint8_t* key);
  void WriteLevel(size_t level, int32_t address);
  void Flush();
  bool NextStored(std::vector<uint8_t>& key, TRecNo& recNo);

  GSobjMDXTag& tag_;
  int32_t entrySize_;
  int32_t maxKeys_;
  int32_t keysWritten_ = 0;
  std::vector<Level> levels_;
  GSobjNodeWrites nodes_;
};

template <class F>
void GSobjSortMDX::Drain(F&& progress) {
  std::vector<uint8_t> key(static_cast<size_t>(tag_.KeyLength()));
  TRecNo recNo = 0;
  while (NextStored(key, recNo)) {
    Add(0, static_cast<uint32_t>(recNo), key.data());
    progress(++keysWritten_);
  }
  Flush();
}
