// CDX compound index files: `GSobjCDXFile` holds any number of tags of one
// table in one file, listed by a directory tag at the file's start;
// `GSobjCDXTag` is one tag with its 1024-byte header and its B-tree of
// 512-byte nodes. Positioning and maintenance are the framework's
// (gs6_indx.h); this unit reads and writes the file (byte layouts in
// gs6_cdx_format.h), splits overflowing nodes, allocates pages, keeps the
// directory and builds tags bottom-up (gs6_cdx_build.h).
//
// A damaged file is refused, never trusted: a header that cannot be accepted
// marks the file corrupt (not valid), and a node whose counts, lengths or
// addresses are out of range, or that repeats an address of the path above
// it, raises "Index file %s is corrupted".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index/gs6_cdx_build.h"
#include "engine/index/gs6_cdx_format.h"
#include "engine/index/gs6_indx.h"

class GSobjCDXFile;
class TgsUserDefFieldVar;

class GSobjCDXTag : public GSobjIndexTag, public CdxBuildTarget {
 public:
  // A tag of `file` with its header at `headerAddress`, read at once; -1
  // allocates two blocks at the end of the file for a new tag's header.
  GSobjCDXTag(GSobjCDXFile* file, std::string_view name, int32_t headerAddress);
  ~GSobjCDXTag() override;

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
  // Numeric and date keys are stored as ordered doubles; GENERAL keys are
  // collation weights.
  double KeyNumber(const GSobjIndexKeyData& key) const override;
  bool KeyIsWeights() const override { return collation_ == cdx::Collation::General; }
  // Sums the entry counts of the leaf headers along the leaf level, no key
  // decoded (gs6_cdx_count.cpp).
  int64_t CountKeys() override;

  // Fills the tag from the table (all records, deleted ones included, that
  // pass the FOR condition).
  void BuildTag();

  // --- keys of appended records (gs6_cdx_merge.cpp) ---
  // They wait in the sorter in their stored form and go into the tree in
  // one merge pass over its leaves: leaves no new key falls into stay as
  // they are, the others are rewritten with their new keys, and the branch
  // levels are written anew above them (bottom-up, as a build writes).
  bool HoldAppendedRecord(TRecNo n) override;
  size_t HeldKeyCount() const override;
  bool HeldKeysFull() const override;
  bool LastHeldKeyIs(const GSobjIndexKeyData& key, TRecNo n) override;
  void InsertHeldKeys() override;
  // Bytes of stored keys that may wait per tag before they go in.
  static constexpr size_t kMostHeldKeyBytes = size_t{32} << 20;
  // Keys merge when there are at least one per this many nodes of the
  // file; fewer go in one by one.
  static constexpr uint64_t kMergeNodesPerKey = 16;

  // --- build target ---
  cdx::KeyFormat BuildKeyFormat() const override { return KeyFormatOf(); }
  int32_t AllocateNode() override;
  void WriteNode(int32_t address, const uint8_t* node) override;
  void SetBuiltRoot(int32_t address) override { rootAddress_ = address; }
  void RelinkKeptLeaf(int32_t address, int32_t left, int32_t right, bool root) override;

  // --- fields ---
  uint8_t Options() const { return options_; }
  void SetOptions(uint8_t options) { options_ = options; }
  cdx::Collation Collation() const { return collation_; }
  void SetCollation(cdx::Collation collation) { collation_ = collation; }
  uint32_t Version() const { return version_; }
  void SetVersion(uint32_t version) { version_ = version; }
  bool IsDirectory() const { return (options_ & 0x80) != 0; }
  cdx::KeyFormat KeyFormatOf() const;

 private:
  friend class GSobjCDXFile;
  GSobjCDXFile* File() const;
  void SetKeyLength(int length);
  // Leaf and branch writers; both split an image that does not fit.
  void WriteLeaf(GSobjIndexKey& image);
  void WriteBranch(GSobjIndexKey& image);
  // The sibling link at `offset` (4 left, 8 right) of the node at `address`
  // becomes `link`.
  void RelinkSibling(int32_t address, int offset, int32_t link);
  void WriteEmptyRootLeaf();
  // One walk of CountKeys: down the first entries to the first leaf, then
  // along the right-sibling links.
  int64_t CountLeafEntries();

  // The stored form of a key as evaluated (normalized, cut to the key
  // length, without what a node drops).
  std::string_view StoredFormOf(GSobjIndexKeyData& key);
  // Puts the keys of `keys` into the tree (see InsertHeldKeys).
  void MergeKeys(TgsSort& keys, uint32_t largestRecord);

  uint8_t options_ = cdx::kOptionOrdinary;
  cdx::Collation collation_ = cdx::Collation::None;
  uint32_t version_ = 0;
  // The nodes a build writes (see WriteNode).
  GSobjNodeWrites builtNodes_;
  // Keys of appended records waiting: sorted on the way in, with their
  // count, their bytes, the largest record number and the last key added.
  std::unique_ptr<TgsSort> held_;
  size_t heldCount_ = 0;
  size_t heldBytes_ = 0;
  uint32_t heldLargestRecord_ = 0;
  TRecNo lastHeldRecord_ = 0;
  std::string lastHeldKey_;
  // Reused for each appended record's key and FOR condition: the evaluated
  // key, and the fields read straight from the record when the key is one
  // character field and the condition compares a number field (found again
  // when the expressions change).
  GSobjIndexKeyData heldScratch_;
  const void* heldEvaluators_[2] = {nullptr, nullptr};
  TgsUserDefFieldVar* heldKeyField_ = nullptr;
  TgsUserDefFieldVar* heldForField_ = nullptr;
  // Node addresses a merge frees (the old branches and rewritten leaves),
  // taken by AllocateNode before the file grows.
  std::vector<int32_t> freedNodes_;
};

class GSobjCDXFile : public GSobjIndexFile {
 public:
  // Opens or creates `fileName` (default extension ".cdx") for the table of
  // `owner` (may be null), reads the directory and one tag per entry, or
  // writes the 1536-byte start of a new file. Check `Valid()`.
  GSobjCDXFile(GSobjIndexOwner* owner, std::string_view fileName, bool overwrite, bool create,
               bool readWrite, bool shared);
  ~GSobjCDXFile() override;

  // --- slots of the framework ---
  bool AddTag(std::string_view name, std::string_view keyExpression, bool unique,
              bool ascending, std::string_view forExpression) override;
  bool DeleteTag(std::string_view name) override;
  int32_t AllocatePage() override;
  int32_t ResetAllocator() override;
  void Reindex() override;
  bool UpdateKeys(TRecNo n, bool appended) override;
  bool ChangedByOthers() override;
  bool NodeStamp(int64_t& stamp) override;
  bool CachesBlocksUnderLock() const override { return true; }
  // The tags' chains, then the version counter once for all the updates
  // made under the lock.
  void FinishHeldWrites() override;

  GSobjCDXTag* Directory() const { return directory_.get(); }
  cdx::Collation DefaultCollation() const { return defaultCollation_; }
  void SetDefaultCollation(cdx::Collation collation) { defaultCollation_ = collation; }
  bool Opening() const { return opening_; }
  // The file is refused: not valid.
  void MarkCorrupt() { corrupt_ = true; }

 protected:
  // The tree walk of cdx::WalkTree; keys in their stored (node) form.
  void WalkTag(GSobjIndexTag& tag, IndexCheckReport& report) override;
  std::string CheckedKeyForm(GSobjIndexTag& tag, const GSobjIndexKeyData& key) override;

 private:
  void ReadDirectory();
  void CreateDirectory();
  // Marks the table as owning this file when it is its structural index
  // (named like the table): on disk at once when the file was just created.
  void SetProductionFlag(bool created);
  // Removes the directory entry of `tag`; true when one was found.
  bool RemoveDirectoryEntry(GSobjCDXTag* tag);
  void AddDirectoryEntry(GSobjCDXTag* tag);

  std::unique_ptr<GSobjCDXTag> directory_;
  cdx::Collation defaultCollation_ = cdx::Collation::Machine;
  bool opening_ = false;
  // Keys changed under the lock; the version counter has yet to move.
  bool versionPending_ = false;
};
