// NTX index files: one order of one table per file. `GSobjNTXFile` owns the
// file and its single tag, `GSobjNTXTag` reads and writes the pages,
// `GSobjSortNTX` builds a tag bottom-up from the sorter. Positioning and
// maintenance are the framework's (gs6_indx.h).
//
// The file is an array of 1024-byte pages addressed by byte offset; integers
// are little-endian.
//
// Header, page 0:
//   0    2  signature: 6, or 7 when a FOR condition follows at 282
//   2    2  version counter (1..0x7FFF, moved by every key update)
//   4    4  root page offset         8   4  zero
//   12   2  item size = key length + 8
//   14   2  key length               16  2  decimals of a numeric key
//   18   2  maximum keys per page m  20  2  half page = m / 2
//   22 256  key expression, zero-terminated
//   278  1  1 unique                 279 1  1 descending
//   282     FOR expression, zero-terminated (signature 7 only)
//
// Page:
//   0    2  key count n
//   2       slot table: m + 1 two-byte offsets of the item slots
//           (written plain: slot i at (m + 2) * 2 + i * item size)
//   item:   child page (4, 0 in a leaf), record number (4), key (key
//           length bytes, blank-padded)
// A branch page with n keys has n + 1 children: slot n holds only the
// rightmost child. A page is a leaf when slot 0's child is 0.
// Sizes: m = 2 * ((1020 / (key length + 10) - 1) / 2).
//
// Key forms (all keys are text): character keys as they are (upper-cased
// when the file folds case); dates "yyyymmdd" ("00000000" for none);
// numbers right-aligned in the key length with the tag's decimals, blanks
// as '0', and for a negative number every digit d replaced by 92 - d.
//
// A branch key belongs to a record of its own, while the framework wants
// every key in a leaf and every branch entry to carry its child's highest
// key. A page image therefore gets, as its last entry, the key its parent
// holds just after it (or 0xFF for the root's rightmost child); writing
// leaves that entry out again (a branch keeps only its child). The pages on
// the tree's rightmost path have no such key in a leaf: an emptied page
// there stays in the tree so that no key has to move between pages.
//
// A damaged file is refused: a header out of range marks the file corrupt,
// a page whose count, slots or children are out of range, or that repeats
// a page of the path above it, raises "Index file %s is corrupted".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index/gs6_indx.h"
#include "engine/index/gs6_sort.h"

namespace ntx {

constexpr int32_t kPageSize = 1024;
constexpr int kKeyExpressionOffset = 22;
constexpr int kKeyExpressionSize = 256;
constexpr int kForExpressionOffset = 282;
constexpr int kMaxLevels = 32;
// The sorter takes keys of up to 251 bytes, one more than the key length.
constexpr int kMaxKeyLength = 250;

struct Header {
  uint16_t signature = 6;
  uint16_t version = 1;
  int32_t root = 0;
  uint16_t keyLength = 0;
  uint16_t decimals = 0;
  uint16_t maxKeys = 0;
  bool unique = false;
  bool descending = false;
  std::string keyExpression;
  std::string forExpression;  // empty without a FOR condition
};

// Maximum keys per page for a key length (even, at least 2 for keys of up to
// kMaxKeyLength bytes).
int MaxKeysFor(int keyLength);

// The 1024 header bytes; false when an expression does not fit.
bool EncodeHeader(const Header& h, uint8_t* out);
// Reads a header; false when it must be refused: signature not 6 or 7, a
// key length or page geometry out of range, a root that is not a page of a
// file of `fileSize` bytes, an expression without its terminator.
bool DecodeHeader(const uint8_t* in, int64_t fileSize, Header& out);

// True for a page offset inside a file of `fileSize` bytes: a positive
// multiple of 1024 whose page ends inside the file.
bool IsPageAddress(int64_t address, int64_t fileSize);

struct Item {
  uint32_t child = 0;
  uint32_t record = 0;
  std::string_view key;  // without trailing blanks; empty when it starts with 0
};

// One page as read: its n items and, in a branch, the rightmost child.
struct Page {
  bool leaf = true;
  std::vector<Item> items;
  uint32_t lastChild = 0;
};

// Decodes a page (the items point into `page`). False when the count
// exceeds the maximum, a slot lies outside the page, a record number is 0
// or a child is not a page address of the file.
bool DecodePage(const uint8_t* page, int keyLength, int maxKeys, int64_t fileSize, Page& out);

// Fills page buffers in the engine's plain slot order.
class PageWriter {
 public:
  PageWriter(int keyLength, int maxKeys);
  // A zero page with the plain slot table and no keys.
  void Clear();
  // Item `slot`: child, record and the key blank-padded (cut to the key
  // length).
  void Put(int slot, uint32_t child, uint32_t record, std::string_view key);
  // Item `slot` as a child pointer alone (record and key zero).
  void PutChild(int slot, uint32_t child);
  void SetCount(int count);
  int Count() const;
  const uint8_t* Bytes() const { return page_; }
  uint8_t* Bytes() { return page_; }
  // The record and key of item `slot` as written.
  uint32_t Record(int slot) const;
  std::string_view Key(int slot) const;
  uint32_t Child(int slot) const;

 private:
  int SlotOffset(int slot) const;
  int keyLength_;
  int maxKeys_;
  uint8_t page_[kPageSize];
};

// --- key forms ---
// A number as key text: right-aligned in `length` with `decimals`, blanks
// as '0', digits mapped for negatives; all '*' when it does not fit.
std::string NumericKey(double value, int length, int decimals);
// The number a numeric key text stands for.
double NumericKeyValue(std::string_view key);

// --- whole trees ---
using PageReader = std::function<bool(int32_t address, uint8_t* page)>;

// Walks the tree below `root` in key order and checks it: every page read
// once, at most 32 levels, all leaves on one level, keys in order (equal
// keys in any record order; descending for a descending tag). Entries go
// to `report.entries` in tree order (keys without trailing blanks).
void WalkTree(const PageReader& read, int64_t fileSize, int32_t root, int keyLength, int maxKeys,
              bool descending, IndexCheckReport& report);

}  // namespace ntx

class GSobjNTXFile;

class GSobjNTXTag : public GSobjIndexTag {
 public:
  // The tag of `file` whose header is at `headerAddress` (0), read at once
  // when `read` (check HeaderAccepted), or a tag still to be defined.
  GSobjNTXTag(GSobjNTXFile* file, std::string_view name, int32_t headerAddress, bool read);
  ~GSobjNTXTag() override;

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
  // Numeric keys are text with mapped digits; date keys "yyyymmdd" (their
  // number is the day number).
  double KeyNumber(const GSobjIndexKeyData& key) const override;

  // Fills the tag from the table through the sorter.
  void BuildTag();
  // Writes a page a build has filled at `address` (gathered into runs of
  // consecutive pages).
  void WriteBuiltPage(int32_t address, const uint8_t* page);

  int16_t Decimals() const { return decimals_; }
  int MaxKeys() const { return entriesPerNode_; }
  // Clears the tree: an empty root page at `root`.
  void WriteEmptyRoot(int32_t root);

 private:
  friend class GSobjNTXFile;
  GSobjNTXFile* File() const;
  void SetKeyLength(int length);
  // Width and decimals of the numeric field the key expression names.
  bool NumericFieldSize(int& width, int& decimals);
  void CompileWithoutAliases(std::string& text, const std::function<void()>& compile);

  int16_t decimals_ = 0;
  // The pages a build writes (see WriteBuiltPage).
  GSobjNodeWrites builtPages_;
};

class GSobjNTXFile : public GSobjIndexFile {
 public:
  // Opens or creates `fileName` (default extension ".ntx") for the table of
  // `owner` (may be null). An existing file gets its tag, named after the
  // file; a new (empty) one gets a tag from AddTag. Check `Valid()`.
  GSobjNTXFile(GSobjIndexOwner* owner, std::string_view fileName, bool overwrite, bool create,
               bool readWrite, bool shared);
  ~GSobjNTXFile() override;

  // --- slots of the framework ---
  // Makes the file's one tag anew (the file is emptied first).
  bool AddTag(std::string_view name, std::string_view keyExpression, bool unique,
              bool ascending, std::string_view forExpression) override;
  int32_t AllocatePage() override;
  int32_t ResetAllocator() override;
  void Reindex() override;
  bool UpdateKeys(TRecNo n, bool appended) override;
  bool ChangedByOthers() override;
  bool NodeStamp(int64_t& stamp) override;

  // Empties the tag under a whole-file lock: the header and one empty root
  // page at 1024, version 1.
  void RefreshHeader();

  GSobjNTXTag* Tag() const;
  uint16_t Version() const { return version_; }
  void SetVersion(uint16_t version) { version_ = version; }
  // Character keys are upper-cased (not stored in the file).
  bool FoldCase() const { return foldCase_; }
  void SetFoldCase(bool on) { foldCase_ = on; }
  void MarkCorrupt() { corrupt_ = true; }

 protected:
  // The tree walk of ntx::WalkTree; keys as a trip through a page leaves
  // them (cut to the key length, without trailing blanks).
  void WalkTag(GSobjIndexTag& tag, IndexCheckReport& report) override;
  std::string CheckedKeyForm(GSobjIndexTag& tag, const GSobjIndexKeyData& key) override;

 private:
  uint16_t version_ = 1;
  bool foldCase_ = false;
};

// The bottom-up build: keys come out of the sorter in order and fill pages
// level by level, each page written once.
class GSobjSortNTX : public TgsSort {
 public:
  GSobjSortNTX(GSobjNTXTag& tag, int keyLength, int maxKeys, bool ascending, bool unique);

  // Takes every key from the sorter into pages and writes the last ones;
  // returns the root's address. `progress` gets the count of keys written.
  int32_t Drain(const std::function<void(int32_t)>& progress);

 private:
  struct Level {
    explicit Level(int keyLength, int maxKeys) : page(keyLength, maxKeys) { page.Clear(); }
    ntx::PageWriter page;
    int items = 0;
  };
  void Add(size_t level, uint32_t child, uint32_t record, std::string_view key);
  Level& LevelAt(size_t level);
  int32_t WriteLevelPage(Level& lv);

  GSobjNTXTag& tag_;
  int keyLength_;
  int maxKeys_;
  int fill_ = 1;
  std::vector<std::unique_ptr<Level>> levels_;
};
