// NDX index files: one order of one table in 512-byte blocks addressed by
// block number (block b lies at byte b x 512). Positioning and maintenance
// are the framework's (gs6_indx.h); this unit reads and writes the header and
// the nodes, splits overflowing nodes, allocates blocks at the file's end,
// builds the order bottom-up through the sorter and checks a file against
// its table. Integers are little-endian.
//
// Header, block 0:
//   0   4  root block
//   4   4  next free block (the block count of the file when written)
//   8   4  zero
//   12  2  key length as stored (8 for numeric and date keys)
//   14  2  maximum keys per node
//   16  2  key type: 1 numeric or date, 0 character
//   18  2  entry size: key length + 8 rounded up to a multiple of 4
//   20  3  zero
//   23  1  1 when unique
//   24     key expression, zero-terminated
//
// Node, one block:
//   0   4  key count n
//   4      entries of entry size: child block (4; 0 in a leaf), record
//          number (4; 0 in a branch), key (blank-padded text, or the 8 bytes
//          of an IEEE double for numeric and date keys)
// A leaf holds n entries. A branch holds n + 1: each of the first n carries
// the highest key of its child, the last only a child block (4 bytes). A
// node is a branch when its first entry's child block is not 0.
//
// Numeric keys and day numbers of dates are doubles compared as numbers; a
// blank date is 1e100 and sorts after every date. Equal keys are not ordered
// by record number: a new entry goes after its equal keys.
//
// A damaged file is refused, never trusted: a header that cannot be accepted
// marks the file corrupt (not valid), and a node whose count, entries or
// blocks are out of range, or that repeats a block of the path above it,
// raises "Index file %s is corrupted".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index/gs6_indx.h"
#include "engine/index/gs6_sort.h"

namespace ndx {

constexpr int32_t kBlockSize = 512;
constexpr int kNodeHeaderSize = 4;
constexpr int kNodeArea = kBlockSize - kNodeHeaderSize;  // 508
// Entries a node holds: 504 / entry size (room left for the last child
// block of a branch).
constexpr int kEntryArea = 504;
// Longest character key this engine builds; longer keys are read.
constexpr int kMaxKeyLength = 100;
// Deepest tree accepted; a deeper descent means the file's links loop.
constexpr int kMaxLevels = 32;
// Key of the key-less last entry of a branch, as read.
constexpr double kSentinelNumber = 1.7e308;
constexpr char kSentinelText = '\xFF';
// A blank date.
constexpr double kNoDate = 1.0e100;

struct Header {
  uint32_t root = 0;
  uint32_t nextFree = 0;
  uint16_t keyLength = 0;
  uint16_t maxKeys = 0;
  uint16_t keyType = 0;  // 1 numeric or date, 0 character
  uint16_t entrySize = 0;
  bool unique = false;
  std::string keyExpression;
};

// Entry size and maximum keys for a stored key length.
int EntrySizeFor(int keyLength);
int MaxKeysFor(int entrySize);

void EncodeHeader(const Header& h, uint8_t* block);
// Reads a header. False when it must be refused: a root outside a file of
// `fileBlocks` blocks (a negative count skips that test), a key length of 0
// or one that does not fit its entry size, an entry size that leaves no
// room for two entries, a numeric key not 8 bytes long, an empty key
// expression or one with control bytes.
bool DecodeHeader(const uint8_t* block, int64_t fileBlocks, Header& out);

// One entry of a node as stored: child, record number and the key bytes.
struct NodeEntry {
  uint32_t child = 0;
  uint32_t record = 0;
  std::string key;  // text without trailing blanks, or the 8 bytes
};

// Decodes a node. False when the count does not fit the block, or a branch
// names a child block outside 1 .. fileBlocks - 1 or one child twice. A
// branch gets n + 1 entries, the last with an empty key.
bool DecodeNode(const uint8_t* block, const Header& h, int64_t fileBlocks, bool& branch,
                std::vector<NodeEntry>& out);

// The double stored in 8 key bytes.
double KeyNumber(std::string_view bytes);

}  // namespace ndx

class GSobjNDXFile;

class GSobjNDXTag : public GSobjIndexTag {
 public:
  // The tag of `file`, its header at block 0; `read` reads the header at
  // once (an opened file), otherwise the tag is defined later.
  GSobjNDXTag(GSobjNDXFile* file, std::string_view name, bool read);
  ~GSobjNDXTag() override;

  // --- slots of the framework ---
  void NormalizeKey(TgsVariant& value, bool trim) override;
  bool DefineTag(std::string_view name, std::string_view keyExpression, bool unique,
                 bool ascending, std::string_view forExpression) override;
  bool InsertKey(const GSobjIndexKeyData& entry) override;
  int32_t ReadRootAddress() override;
  bool ReadPage(int32_t address, GSobjIndexKey& image) override;
  bool WritePage(GSobjIndexKey& image) override;
  bool ReadHeader() override;
  bool WriteHeader() override;

  // Fills the tag from every record of the table, deleted ones included.
  void BuildTag();

  double KeyNumber(const GSobjIndexKeyData& key) const override;

  // The header's figures for this tag.
  ndx::Header HeaderFields() const;

 private:
  friend class GSobjNDXFile;
  GSobjNDXFile* File() const;
  // Key type and sizes from the key of the current record; false when it
  // cannot be evaluated or is too long.
  bool LearnKeySizes();
  void SetSizes(int keyLength, int entrySize, int maxKeys);
  // An empty root leaf at a new block.
  void WriteEmptyRoot();
  // The stored bytes of an entry's key, padded to the key length.
  void PutKey(uint8_t* at, const GSobjIndexKeyData& e) const;

  uint16_t maxKeys_ = 0;
};

class GSobjNDXFile : public GSobjIndexFile {
 public:
  // Opens or creates `fileName` (default extension ".ndx") for the table of
  // `owner` (may be null). An opened file gets its one tag, named after the
  // file; a file made anew (create with overwrite, or a missing one) gets it
  // from AddTag, and keeps its old bytes until AddTag accepts the order.
  // Check `Valid()`.
  GSobjNDXFile(GSobjIndexOwner* owner, std::string_view fileName, bool overwrite, bool create,
               bool readWrite, bool shared);
  ~GSobjNDXFile() override;

  // --- slots of the framework ---
  bool AddTag(std::string_view name, std::string_view keyExpression, bool unique,
              bool ascending, std::string_view forExpression) override;
  int32_t AllocatePage() override;
  int32_t ResetAllocator() override;
  // Addresses are block numbers.
  bool ReadBlock(int32_t address, void* buffer, int32_t length) override;
  bool WriteBlock(int32_t address, const void* buffer, int32_t length) override;
  void Reindex() override;
  bool UpdateKeys(TRecNo n, bool appended) override;
  bool NodeStamp(int64_t& stamp) override;

  // Cuts the file back to its header and an empty root leaf at block 1.
  void HeaderRefresh();

  GSobjNDXTag* Tag() const;
  // Whole blocks in the file.
  int64_t FileBlocks() const;

 protected:
  // The tree in key order: keys not below the branch keys before them,
  // branch keys not below their children's, leaves at one depth, no block
  // met twice.
  void WalkTag(GSobjIndexTag& tag, IndexCheckReport& report) override;
  std::string CheckedKeyForm(GSobjIndexTag& tag, const GSobjIndexKeyData& key) override;
};

// Bottom-up build of an NDX order: the keys of the table go through the
// sorter; draining it fills one node per level, writing each node once, in
// block order, so that runs of nodes go to the file in one write.
class GSobjSortNdx : public TgsSort {
 public:
  explicit GSobjSortNdx(GSobjNDXTag& tag);
  ~GSobjSortNdx() override;

  // Adds a key: text without trailing blanks, or a number.
  void AddKey(std::string_view text, TRecNo recNo) { AddText(text, recNo); }
  void AddKey(double number, TRecNo recNo) { AddFloat(number, recNo); }
  // Writes the whole tree and gives its root block to the tag. `progress`
  // is called with the count of keys written.
  template <class F>
  void Drain(F&& progress);

 private:
  struct Level {
    uint8_t node[ndx::kBlockSize] = {};
    int count = 0;        // entries in the node
    std::string lastKey;  // stored bytes of the last entry
    // The node written before at this level, kept until the build ends.
    uint8_t previous[ndx::kBlockSize] = {};
    int previousCount = 0;
    int32_t previousBlock = 0;
  };
  // The next key in its stored form (text, or the 8 bytes of the double).
  bool NextStored(std::string_view& stored, TRecNo& recNo);
  // Adds an entry at a level: a record number at level 0, a child above.
  void Add(size_t level, uint32_t link, std::string_view storedKey);
  void WriteLevel(Level& lv, size_t level, int32_t block);
  // A last branch of one entry would hold no key, which other programs read
  // as empty: it takes the last entry of the branch before it.
  void Rebalance(size_t level);
  // The stored key of entry `index` of a node.
  std::string StoredKeyAt(const uint8_t* node, int index) const;
  void PutStoredKey(uint8_t* node, int index, std::string_view storedKey) const;
  // Writes the last node of every level; the top one is the root.
  void Finish();

  GSobjNDXTag& tag_;
  GSobjNDXFile& file_;
  int keyLength_;
  int entrySize_;
  int maxKeys_;
  bool numeric_;
  std::vector<std::unique_ptr<Level>> levels_;
  std::string stored_;
  // Addresses are block numbers.
  GSobjNodeWrites nodes_;
};

template <class F>
void GSobjSortNdx::Drain(F&& progress) {
  std::string_view stored;
  TRecNo recNo = 0;
  int32_t written = 0;
  while (NextStored(stored, recNo)) {
    Add(0, static_cast<uint32_t>(recNo), stored);
    progress(++written);
  }
  Finish();
}
