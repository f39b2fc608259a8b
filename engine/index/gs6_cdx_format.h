// CDX compound index files: the byte layouts of tag headers and nodes, the
// leaf compression codec, the stored key forms (numeric, date, collation
// GENERAL) and the checks that refuse damaged headers and nodes. Nothing here
// touches a file; the classes in gs6_cdx.h do the reading and writing.
//
// The file is an array of 512-byte blocks; every address is a byte offset
// and a multiple of 512. Header and node integers are little-endian, except
// the record number and child address of a branch entry (big-endian).
//
// Tag header, 1024 bytes (the directory tag's at 0):
//   0    4  root node address
//   4    4  free list (written 0, never read)
//   8    4  version counter
//   12   2  key length (1..240)
//   14   1  options: 01 unique, 08 FOR, 20 compact, 40 compound, 80 directory
//   15   1  signature: 1, or 2 with the collation name GENERAL
//   494  8  collation name, zero-terminated ("GENERAL" / "MACHINE" / zeros)
//   502  2  1 descending, 0 ascending
//   504  2  key expression length + 1 (0 without key expression)
//   506  2  FOR expression length + 1, or 1 without
//   510  2  key expression length + 1, or 1 without
//   512 512 expression pool: key expression, 0, FOR expression, 0
//
// Node header, 12 bytes:
//   0  2  attributes: bit 0 root, bit 1 leaf (other bits, set by other
//         programs, are ignored)
//   2  2  entry count
//   4  4  left sibling (-1 none)     8  4  right sibling (-1 none)
//
// Branch body from 12: entries of key length + 8 bytes: key (blank- or
// zero-padded), record number (4, big-endian), child address (4, big-endian).
//
// Leaf body:
//   12  2  free bytes of the 488-byte area
//   14  4  record number mask      18  1  duplicate mask   19  1  trailing mask
//   20  1  record number bits      21  1  duplicate bits   22  1  trailing bits
//   23  1  bytes per info field (bpe)
//   24 488 info fields from the front, key bytes from the back (the first
//          entry's bytes end at 512, later ones directly below)
// An info field is a bpe-byte little-endian number: the record number in the
// low bits, the duplicate count right above it, the trailing count in the
// top bits. Written so that record bits = 8 x bpe - duplicate bits -
// trailing bits (the mask at 14 capped at 32 bits); read from the top, so
// that leaves with unused bits below the counts read too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index/gs6_indx_check.h"

namespace cdx {

constexpr int32_t kBlockSize = 512;
constexpr int32_t kHeaderSize = 1024;
constexpr int32_t kNewFileSize = 1536;
constexpr int kNodeHeaderSize = 12;
constexpr int kLeafInfoOffset = 24;
constexpr int kLeafAreaSize = 488;
constexpr int kBranchAreaSize = 500;
constexpr int kMaxKeyLength = 240;
constexpr int kMaxLevels = 32;

constexpr uint8_t kOptionUnique = 0x01;
constexpr uint8_t kOptionHasFor = 0x08;
constexpr uint8_t kOptionOrdinary = 0x60;   // compact + compound
constexpr uint8_t kOptionDirectory = 0xE0;  // compact + compound + structure

constexpr uint16_t kAttrRoot = 0x01;
constexpr uint16_t kAttrLeaf = 0x02;

enum class Collation : uint8_t { None = 0, Machine = 1, General = 2 };

// --- little helpers on byte buffers ---------------------------------------
uint16_t GetLE16(const uint8_t* p);
uint32_t GetLE32(const uint8_t* p);
uint32_t GetBE32(const uint8_t* p);
void PutLE16(uint8_t* p, uint16_t v);
void PutLE32(uint8_t* p, uint32_t v);
void PutBE32(uint8_t* p, uint32_t v);

// True for a node address that can be read from a file of `fileSize` bytes:
// positive, a multiple of 512 and wholly inside the file.
bool IsNodeAddress(int64_t address, int64_t fileSize);

// --- tag header -------------------------------------------------------------
struct TagHeader {
  int32_t rootAddress = 0;
  uint32_t version = 0;
  uint16_t keyLength = 0;
  uint8_t options = 0;
  Collation collation = Collation::None;
  bool descending = false;
  std::string keyExpression;
  std::string forExpression;  // empty when the tag has no FOR condition
};

// The 1024 header bytes of `h`. The options byte is written as given; the
// name GENERAL (and signature 2) only for an ordinary tag under GENERAL.
// False when the expressions do not fit the 512-byte pool.
bool EncodeTagHeader(const TagHeader& h, uint8_t* out);

// Reads a header. False when it must be refused: root 0, a root that is not
// a node address of a file of `fileSize` bytes (a negative size skips that
// test), a key length of 0 or above 240.
bool DecodeTagHeader(const uint8_t* in, int64_t fileSize, TagHeader& out);

// --- nodes ----------------------------------------------------------------
struct NodeHeader {
  uint16_t attributes = 0;
  uint16_t count = 0;
  int32_t left = -1;
  int32_t right = -1;
  bool IsLeaf() const { return (attributes & kAttrLeaf) != 0; }
};

// Reads the 12-byte header; false when a sibling is neither -1 nor a node
// address inside the file. Attribute bits other than root and leaf are
// kept but mean nothing here.
bool DecodeNodeHeader(const uint8_t* node, int64_t fileSize, NodeHeader& out);
void EncodeNodeHeader(const NodeHeader& h, uint8_t* node);

// How keys of one tag are stored.
struct KeyFormat {
  int keyLength = 10;
  bool character = true;  // filler: blanks (character) or zero bytes
  bool general = false;   // character keys under the collation GENERAL
};

struct LeafParams {
  uint32_t recordMask = 0;
  uint8_t duplicateMask = 0;
  uint8_t trailingMask = 0;
  uint8_t recordBits = 0;
  uint8_t duplicateBits = 0;
  uint8_t trailingBits = 0;
  uint8_t bytesPerEntry = 3;
};

// Leaf parameters for keys of `keyLength` bytes and record numbers (or, in
// the directory, header addresses) up to `largestValue`: duplicate and
// trailing counts of as many bits as the key length has, and the fewest
// bytes per entry whose remaining bits (all of them, 32 and more alike)
// hold the largest value as record number.
LeafParams ComputeLeafParams(int keyLength, uint32_t largestValue);
void EncodeLeafParams(const LeafParams& p, uint8_t* node);

// One decoded entry: the key in its in-memory form (character keys without
// trailing blanks, binary keys without trailing zero bytes) and the record
// number; a branch entry also has the child address.
using NodeEntry = IndexEntryImage;

// Receives the decoded entries of a node one by one, in node order, without
// a copy of each key: `key` is valid only during the call. A leaf entry's
// child is its record number.
class NodeEntrySink {
 public:
  virtual void Entry(std::string_view key, uint32_t recordNumber, uint32_t child) = 0;

 protected:
  ~NodeEntrySink() = default;
};

// Decodes a leaf node. False when its parameters or counts are out of range,
// or key bytes would overlap the info fields (the entries before the fault
// have been handed on then).
bool DecodeLeaf(const uint8_t* node, const KeyFormat& fmt, NodeEntrySink& out,
                LeafParams* params = nullptr);
bool DecodeLeaf(const uint8_t* node, const KeyFormat& fmt, std::vector<NodeEntry>& out,
                LeafParams* params = nullptr);

// Decodes a branch node. False when the count exceeds the node's capacity
// or a child is not a node address of a file of `fileSize` bytes.
bool DecodeBranch(const uint8_t* node, const KeyFormat& fmt, int64_t fileSize, NodeEntrySink& out);
bool DecodeBranch(const uint8_t* node, const KeyFormat& fmt, int64_t fileSize,
                  std::vector<NodeEntry>& out);

// The in-memory form a key has after a trip through a node: cut to the key
// length; character keys up to a zero byte and without trailing blanks,
// binary keys without trailing zero bytes.
std::string StoredKeyForm(std::string_view key, const KeyFormat& fmt);
// The same form as a view into `key`.
std::string_view StoredKeyView(std::string_view key, const KeyFormat& fmt);

// Entries a branch node of this key length holds.
int BranchCapacity(int keyLength);

// Compresses keys into a leaf node one at a time, as the page writer and the
// bottom-up builder both do. Keys longer than the key length are cut.
class LeafWriter {
 public:
  LeafWriter(uint8_t* node, const KeyFormat& fmt, const LeafParams& params);
  // Empties the area: parameters written, free 488, count 0, no previous key.
  void Clear();
  // Bytes an entry for `key` takes after the current last key.
  int StoredSize(std::string_view key) const;
  // Appends an entry; false (and nothing written) when it does not fit.
  bool Add(std::string_view key, uint32_t recordNumber);
  int Free() const { return free_; }
  int Count() const { return count_; }

 private:
  uint8_t* node_;
  KeyFormat fmt_;
  LeafParams params_;
  int free_ = kLeafAreaSize;
  int count_ = 0;
  int pool_ = kLeafAreaSize;  // offset in the area of the lowest key byte
  std::string previous_;
};

// Writes `entry` as branch entry `index` of `node` (key, record number and
// child address; the key area padded with the filler).
void PutBranchEntry(uint8_t* node, const KeyFormat& fmt, int index, std::string_view key,
                    uint32_t recordNumber, uint32_t child);
// Clears the 500-byte branch area to the filler of the format.
void ClearBranchArea(uint8_t* node, const KeyFormat& fmt);

// --- key forms ------------------------------------------------------------
// The byte-sortable form of a double: the sign bit set on non-negative
// values, every bit inverted on negative ones, big-endian, trailing zero
// bytes dropped (so that zero-padding restores the value); -0 counts as 0.
std::string NumericKey(double value);
// The double a numeric key stands for (missing bytes taken as zero).
double NumericKeyValue(std::string_view key);

// The collation GENERAL of a character key: the weight string followed by
// the secondaries without trailing 0xF0. Not cut to any length.
std::string GeneralKey(std::string_view text);

// --- whole trees -----------------------------------------------------------
// Reads one node of 512 bytes at an address; false when it cannot be read.
using NodeReader = std::function<bool(int32_t address, uint8_t* node)>;

// What a walk over a tag's tree found.
using TreeReport = IndexCheckReport;

// Walks the tree below `root` in key order and checks it: every node read
// once (no cycles or shared nodes), at most 32 levels, all leaves on one
// level, every branch key equal to its child's last entry, sibling links
// consistent on every level, keys in ascending order (equal keys by record
// number). Stops descending where a node cannot be trusted. Ends with
// `report.problems` empty when the tree is sound.
void WalkTree(const NodeReader& read, int64_t fileSize, int32_t root, const KeyFormat& fmt,
              TreeReport& report);

}  // namespace cdx
