// The index framework: the format-independent half of every index format.
//
//   GSobjIndexKeyData  one entry: a key value (a TgsVariant) with the record
//                      number it belongs to and a link (the record number in
//                      a leaf, the child's address in a branch)
//   GSobjIndexKey      the in-memory image of one B-tree node: its entries
//                      in node order and the current position in it
//   GSobjIndexTag      one order: key and FOR expressions, the chain of node
//                      images from the root to the current leaf, the current
//                      key, the key range; seeking, stepping, range tests and
//                      key maintenance
//   GSobjIndexFile     one index file: its disk file, its tags, block input
//                      and output through the table cipher, index locking
//
// Branch entries carry the highest key of their child; a descent goes into
// the first child whose high key is not below the probe, or into the last.
// A tag keeps exactly one chain of node images, one per level; changed images
// are written back when released, children before parents, so that a split
// below has added its entry to the parent before the parent is written.
//
// What a format must implement (see the virtual slots below):
//   tag:  NormalizeKey (the stored key form), DefineTag (key type and length,
//         a fresh header, the build), InsertKey (a thin wrapper around the
//         base), ReadRootAddress, ReadPage and WritePage (node images;
//         WritePage splits an overflowing image: the first part goes to a new
//         node, then LinkNewSibling with the first part's last entry whose
//         Link is the new address, before the image itself is written),
//         ReadHeader, WriteHeader;
//   file: AddTag, DeleteTag, AllocatePage, ResetAllocator, Reindex, and
//         where needed UpdateKeys and ChangedByOthers.
//   A format's destructors must call ReleasePages (tag) and ReleaseTags
//   (file) themselves: a base destructor cannot reach the format's slots.
//   A format's bottom-up build writes its nodes through GSobjNodeWrites.
//
// The table: an index file belongs to a table through GSobjIndexOwner, which
// the table handler implements: the table file (current record, record
// count, record buffers), the expression context the keys compile against,
// the exact-match setting and the table cipher keys.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index/gs6_indx_cache.h"
#include "engine/index/gs6_indx_check.h"
#include "engine/support/gs6_cnst.h"
#include "engine/support/gs6_tool.h"

class GSO_DiskFile;
class GSO_dBaseDBF;
class GSobjIndexFile;
class GSobjIndexTag;
class TgsExpHandler;
class TgsExpUserLink;

// Largest signed 32-bit value: a record number after every real one.
constexpr int32_t kMaxRecNo = 2147483647;

// What an index file needs of its table.
class GSobjIndexOwner {
 public:
  virtual ~GSobjIndexOwner();
  // The table file: current record, record count, record buffers.
  virtual GSO_dBaseDBF* IndexTable() = 0;
  // The expression context key and FOR expressions compile against.
  virtual TgsExpUserLink* IndexExpressionLink() = 0;
  // The handler's exact-match setting, copied before every seek.
  virtual bool IndexExactMatch() const = 0;
  // Cipher keys of the table: the one the files are enciphered with now and
  // the one written data gets (they differ only while the password is being
  // changed). Empty: no cipher. Default: the table file's password when the
  // table is enciphered.
  virtual std::string IndexDecipherKey();
  virtual std::string IndexEncipherKey();
};

// One entry: a key value with its record number and link.
class GSobjIndexKeyData : public TgsVariant {
 public:
  GSobjIndexKeyData() = default;
  GSobjIndexKeyData(const GSobjIndexKeyData&) = default;
  GSobjIndexKeyData& operator=(const GSobjIndexKeyData&) = default;
  ~GSobjIndexKeyData() override;

  // Copies value, record number and link.
  void CopyEntry(const GSobjIndexKeyData& other) { *this = other; }
  // Copies only the value.
  void CopyValue(const TgsVariant& value) { TgsVariant::operator=(value); }

  int32_t RecordNumber() const { return recordNumber_; }
  void SetRecordNumber(int32_t n) { recordNumber_ = n; }
  uint32_t Link() const { return link_; }
  void SetLink(uint32_t link) { link_ = link; }

 private:
  int32_t recordNumber_ = 0;  // branch: record number of the child's last key
  uint32_t link_ = 0;         // leaf: the record number; branch: child address
};

// The image of one node: its entries in node order.
class GSobjIndexKey : public TgsCollection<GSobjIndexKeyData> {
 public:
  // Node kinds: 0..2 a branch (entries point to children), 3 a leaf.
  static constexpr uint8_t kLeaf = 3;

  GSobjIndexKey(GSobjIndexTag* owner, int32_t address);
  ~GSobjIndexKey() override;

  // Seeks the probe from this node down (see the .cpp): 0 on a matching
  // entry, -1 on the first entry after the probe, 1 when every entry sorts
  // before it. recNo: the record wanted, -1 any, kMaxRecNo after equal keys.
  int SeekInPage(int32_t recNo, const GSobjIndexKeyData& probe, int partial);
  // Copies the current entry of the chain's leaf into `out`; the result has
  // bit 0 set when it is the first entry at every level, bit 1 when last.
  int CurrentEntry(GSobjIndexKeyData& out);
  bool GoFirst();
  bool GoLast();
  bool GoNext();
  bool GoPrior();
  bool ReadCurrent();
  // Makes the node at `address` this node's loaded child.
  GSobjIndexKey* LoadChild(uint32_t address);

  // Maintenance (the leaf of the chain below this node is changed).
  void InsertEntry(const GSobjIndexKeyData& entry, bool after);
  void DeleteEntry();
  void ReplaceParentEntry(const GSobjIndexKeyData& entry);
  void RemoveFromParent();
  // Called by a format's WritePage when it splits this image, before the
  // image itself is written: `entry` is the last entry of the split-off
  // first part, its Link the first part's new address. The parent gets the
  // entry (before this node's); a root image first moves to a fresh address
  // under a new root image that keeps the old one, so read PageAddress
  // after the call. The image is marked split.
  void LinkNewSibling(const GSobjIndexKeyData& entry);

  // An entry at `index`, added at the end, or appended as a copy.
  GSobjIndexKeyData* Entry(size_t index) const { return (*this)[index]; }
  GSobjIndexKeyData* AddEntry(const GSobjIndexKeyData& entry);
  // Refilling an image with a node just read: the entry at `index` to
  // overwrite (an old one, whose key buffer is reused, or a new one at the
  // end), and dropping the old entries from `count` on. A format whose
  // ReadPage refills instead of clearing reads nodes without allocating.
  GSobjIndexKeyData* RefillEntry(size_t index);
  void KeepEntries(size_t count);
  int32_t EntryCount() const { return static_cast<int32_t>(Count()); }
  bool IsLeaf() const { return nodeKind_ == kLeaf; }
  // True when this node is the last child of its parent, the parent the
  // last child of its own, and so on up to the root (true for the root).
  bool OnRightmostPath() const;

  // --- fields ---
  int32_t PageAddress() const { return pageAddress_; }
  void SetPageAddress(int32_t address) { pageAddress_ = address; }
  int32_t LeftSibling() const { return leftSibling_; }
  void SetLeftSibling(int32_t address) { leftSibling_ = address; }
  int32_t RightSibling() const { return rightSibling_; }
  void SetRightSibling(int32_t address) { rightSibling_ = address; }
  GSobjIndexKey* Parent() const { return parent_; }
  GSobjIndexKey* Child() const { return child_; }
  GSobjIndexTag* Owner() const { return owner_; }
  uint8_t NodeKind() const { return nodeKind_; }
  void SetNodeKind(uint8_t kind) { nodeKind_ = kind; }
  int32_t Position() const { return position_; }
  void SetPosition(int32_t position) { position_ = position; }
  bool Changed() const { return changed_; }
  void SetChanged(bool changed) {
    changed_ = changed;
    keyOrder_ = kOrderUnknown;
  }
  bool Split() const { return split_; }
  void SetSplit(bool split) { split_ = split; }
  bool AtFirst() const { return atFirst_; }
  bool AtLast() const { return atLast_; }
  // A format's WritePage tells that the entries are now exactly what
  // reading the node back would give, so the image may be kept for reuse.
  void SetMatchesNode(bool matches) {
    asRead_ = matches;
    keyOrder_ = kOrderUnknown;
  }

  // Leaf parameters a format with compressed leaves keeps with the image.
  struct LeafParameters {
    int32_t freeSpace = 0;
    uint32_t recordMask = 0;
    uint8_t duplicateMask = 0;
    uint8_t trailingMask = 0;
    uint8_t recordBits = 0;
    uint8_t duplicateBits = 0;
    uint8_t trailingBits = 0;
    uint8_t bytesPerEntry = 0;
  };
  LeafParameters leaf;

 private:
  friend class GSobjIndexTag;
  // Insert / delete in this node itself, propagating a changed high key.
  void InsertHere(const GSobjIndexKeyData& entry, bool after);
  void DeleteHere();
  void GrowRoot();
  int32_t IndexOfLink(uint32_t address) const;
  int Compare(const GSobjIndexKeyData& probe, const GSobjIndexKeyData& stored, int partial) const;
  // Whether the entries follow each other in the tag's order (keys by the
  // tag's compare, equal keys by record number where the file orders them
  // so), all of them byte keys: learned on the second seek into an
  // unchanged image (false on the first), then a seek may halve its way
  // through the node. A node written by another program whose keys disagree
  // with the compare is scanned entry by entry.
  bool KeysInOrder();
  // The first entry a seek's scan would stop at in an ordered node: the
  // first that does not sort before the probe (at most the last entry).
  int32_t FirstNotBefore(int32_t recNo, const GSobjIndexKeyData& probe, int partial, bool byRecord) const;
  // Entries below which a node is scanned rather than halved.
  static constexpr int32_t kScannedEntries = 8;
  static constexpr int8_t kOrderUnknown = 0, kOrdered = 1, kUnordered = -1, kSoughtOnce = 2;

  int32_t pageAddress_;
  int32_t leftSibling_ = -1;
  int32_t rightSibling_ = -1;
  GSobjIndexKey* parent_ = nullptr;
  GSobjIndexKey* child_ = nullptr;
  GSobjIndexTag* owner_;
  uint8_t nodeKind_ = kLeaf;
  int32_t position_ = -1;
  bool changed_ = false;
  bool split_ = false;
  bool atFirst_ = false;
  bool atLast_ = false;
  // The entries are the node as read from the file (or as just written),
  // never changed since: such an image may be kept for reuse when it is
  // released.
  bool asRead_ = false;
  // What KeysInOrder learned, and for how many entries (any change to the
  // entries forgets it).
  int8_t keyOrder_ = kOrderUnknown;
  int32_t orderedCount_ = 0;
};

// The key range of a tag and how its bounds compare.
class GSobjIndexTag {
 public:
  // A tag of `file` whose header lies at `headerAddress` (-1: new).
  GSobjIndexTag(GSobjIndexFile* file, std::string_view name, int32_t headerAddress);
  virtual ~GSobjIndexTag();
  GSobjIndexTag(const GSobjIndexTag&) = delete;
  GSobjIndexTag& operator=(const GSobjIndexTag&) = delete;

  // --- virtual slots, in order ---
  // The stored key form of `value`; `trim` drops trailing blanks of text.
  virtual void NormalizeKey(TgsVariant& value, bool trim);
  virtual bool DefineTag(std::string_view name, std::string_view keyExpression, bool unique,
                         bool ascending, std::string_view forExpression);
  virtual bool InsertKey(const GSobjIndexKeyData& entry);
  virtual int32_t ReadRootAddress();
  // Reads the node at `address` into the image (entries, kind, siblings);
  // raises "Index file %s is corrupted" for a damaged node.
  virtual bool ReadPage(int32_t address, GSobjIndexKey& image);
  // Writes the image at its address, splitting it when it overflows.
  virtual bool WritePage(GSobjIndexKey& image);
  virtual bool ReadHeader();
  virtual bool WriteHeader();
  virtual void CompileKeyExpression();
  virtual void CompileForExpression();
  // The key of the table's current record buffer into `entry`; false when
  // there is no key expression.
  virtual bool EvaluateKey(GSobjIndexKeyData& entry);
  // True when there is a FOR expression and the current record passes it.
  virtual bool EvaluateFor();

  // --- counting ---
  // The number of entries of the whole tag, whatever its range. Changes
  // held in loaded node images are written first, so the tag may lose its
  // current position (the range stays). Here every entry is walked through
  // the format's tree check; a format whose leaves carry their entry count
  // sums those instead. Raises "Index file %s is corrupted" for a damaged
  // tree.
  virtual int64_t CountKeys();
  // The entries of the current range (the whole tag without one) as the
  // walk from MoveTo(GotoFirst) along MoveTo(GotoNext) meets them: their
  // number in `count`, and in `ends` the record number of every `step`-th
  // one (entries step, 2 x step, ...), in walk order. An entry whose record
  // is marked in `leftOut` (index = record number, nonzero = marked;
  // numbers past its end are unmarked) is passed over and not counted.
  // The position is lost; the range stays. False, with nothing counted,
  // when the format has no quicker way than that walk (the default), which
  // is then the caller's to make. Raises "Index file %s is corrupted" for a
  // damaged tree.
  virtual bool CountRangeKeys(int32_t step, const std::vector<uint8_t>* leftOut, int64_t& count,
                              std::vector<TRecNo>& ends);

  // --- positioning ---
  // The record number of the first entry not less than the probe (Link:
  // the record wanted, or -1 for any), or 0 with the nearest entry current.
  TRecNo SeekKey(const GSobjIndexKeyData& probe);
  // SeekKey that leaves the position and the loaded nodes as they were.
  TRecNo LookupKey(const GSobjIndexKeyData& probe);
  // code: GotoFirst (top), GotoLast (bottom), GotoNext, GotoPrevious,
  // GotoCurrent (reread). The record number of the new current entry, or 0
  // when the move ran off the order or the range.
  TRecNo MoveTo(int32_t code);
  // Makes record n's entry current when it is not; the current record.
  TRecNo SyncToRecord(TRecNo n);
  // Sets the key range; true when it changed (the tag then stands at the
  // top of the new range). A null or empty bound is no bound.
  bool SetRange(const TgsVariant* low, bool lowInclusive, const TgsVariant* high,
                bool highContinue, bool partial);
  // 0 inside the range (or no range); negative beyond the high bound (or at
  // an end); 1 equal to an exclusive low bound; 2 below the low bound.
  int RangeTest();
  bool HasRange() const { return rangeLow_.Length() > 0 || rangeHigh_.Length() > 0; }

  // --- chain ---
  enum ResetMode { kResetPlain = 0, kResetSync = 1, kResetRootOnly = 2 };
  // Writes back changed nodes and the header, drops the chain; no current
  // record.
  void ReleasePages();
  void ResetPages(int mode);
  GSobjIndexKey* RootImage() const { return chain_.empty() ? nullptr : chain_.front().get(); }
  GSobjIndexKey* LeafImage() const { return chain_.empty() ? nullptr : chain_.back().get(); }
  int32_t LoadedLevels() const { return static_cast<int32_t>(chain_.size()); }
  // True when a loaded node image holds changes not yet written.
  bool HasUnwrittenChanges() const;

  // --- kept node images ---
  // Images released unchanged are kept by address (at most kKeptImages,
  // of them at most kKeptLeaves leaves; the least recently released go
  // first) and reused instead of reading the node again, for as long as the
  // file's change stamp stays the same (see GSobjIndexFile::NodeStamp). A
  // write to a node drops its image. Branches are few (a few hundred for a
  // million keys) and every seek passes through them, while seeks for
  // scattered keys meet a new leaf each time: the leaves' own limit keeps
  // them from pushing the branches out.
  static constexpr size_t kKeptImages = 512;
  static constexpr size_t kKeptLeaves = 64;
  // While the file's blocks are cached under its lock, nothing but this
  // process changes the nodes: more images are kept (a bulk of appends
  // meets the same leaves again and again).
  static constexpr size_t kKeptImagesUnderLock = 8192;
  // Bytes a kept image is taken to stand for from its address: the largest
  // node of the formats.
  static constexpr int64_t kKeptNodeSpan = 1024;
  void DropKeptImage(int32_t address);
  // Drops the kept images of nodes that overlap the bytes written.
  void DropKeptImagesIn(int64_t address, int64_t length);
  void DropKeptImages();
  size_t KeptImageCount() const { return kept_.size(); }
  // Images dropped from the kept ones (or released without being kept)
  // wait here, up to kSpareImages, to take the next node read: their entry
  // objects are reused instead of allocated again.
  static constexpr size_t kSpareImages = 8;

  // --- maintenance ---
  // Brings the tag in step with record n after it was appended or edited;
  // true when the tag's entries changed. In a unique tag, when record n held
  // the entry of its old key, the first other record with that key takes
  // the entry over.
  bool UpdateRecordKey(TRecNo n, bool appended);
  // While the file's blocks are cached under its lock, the keys of appended
  // records wait in memory and go into the tree together, in key order (a
  // leaf met once for all its new keys): before anything reads or changes
  // the tree, and at the end of the lock.
  void ApplyPendingKeys();
  size_t PendingKeyCount() const { return HeldKeyCount(); }
  // Entries a leaf image may reach while the waiting keys go in before it
  // is written out.
  static constexpr int32_t kMostLeafEntries = 128;
  // Keys that may wait before they go in (memory stays bounded).
  static constexpr size_t kMostPendingKeys = 262144;

  // --- keys waiting, per format ---
  // A format with a batch writer of its own keeps the waiting keys itself
  // (in its stored key form) and puts them into the tree in one pass; the
  // framework's default keeps them as entries and puts them in one by one,
  // in key order.
  // Takes the key of appended record n, the table's current record: true
  // when the format keeps it (or the record has none: FOR condition);
  // false leaves it to the framework.
  virtual bool HoldAppendedRecord(TRecNo n);
  // Keys waiting.
  virtual size_t HeldKeyCount() const { return pendingKeys_.size(); }
  // True when so many keys wait that they should go in now.
  virtual bool HeldKeysFull() const { return pendingKeys_.size() >= kMostPendingKeys; }
  // True when the last key waiting is record n's and equals `key` (as
  // evaluated).
  virtual bool LastHeldKeyIs(const GSobjIndexKeyData& key, TRecNo n);
  // Puts the waiting keys into the tree (none wait afterwards).
  virtual void InsertHeldKeys();

  // --- reading the table ---
  // Calls `visit` with each record number from `first` to `last` (clamped
  // to the table) while that record's stored image, deciphered, stands as
  // the table's current record; stops when `visit` returns false. The
  // records are read from the file in chunks, past the read-ahead window.
  void VisitStoredRecords(TRecNo first, TRecNo last, const std::function<bool(TRecNo)>& visit);
  // The same reading a run of records at a time: `visit` gets the number of
  // the run's first record, their images one after another in one buffer
  // (the same for every run, with a spare byte after the last record) and
  // their count. The table's current record is restored afterwards.
  void VisitStoredChunks(TRecNo first, TRecNo last, const std::function<bool(TRecNo, char*, int32_t)>& visit);
  // Learns what the key expression gives: its type ('C' text and logical,
  // 'N' number, 'D' date) and, for text, the longest value. It is evaluated
  // on the table's first record, on a blank record and on a record whose
  // text fields are full, so that a key that faults on blanks (a division
  // by a trimmed length) or shrinks on them (TRIM) is still learned. A fault
  // on some of them is passed over; when every one faults the result is
  // false, or the first fault is raised when `raiseFault` is set.
  bool ProbeKeyType(char& type, int& textLength, bool raiseFault);

  // --- builds (gs6_indx_table.cpp) ---
  // Where a build's table scan hands the keys of the passing records.
  class BuildKeySink {
   public:
    virtual ~BuildKeySink();
    // A key that is the stored text of one character field, without its
    // trailing blanks (only when the scan was asked for field texts).
    virtual void AddFieldText(std::string_view text, TRecNo recNo) = 0;
    // An evaluated key after NormalizeKey with trimming.
    virtual void AddKey(const GSobjIndexKeyData& key, TRecNo recNo) = 0;
  };
  // Reads every record of the table (deleted ones included) and hands the
  // key of each one that passes the FOR condition to `sink`, reporting
  // build phase 1. `fieldText`: a key that is one character field may be
  // handed as the field's stored text.
  void ScanTableKeys(BuildKeySink& sink, bool fieldText);
  // A status report to the table handler, when the table is one.
  void BuildStatus(int32_t stat1, int32_t stat2, int32_t stat3);

  // --- showing keys ---
  // The number a numeric or date key stands for (a day number for a date).
  virtual double KeyNumber(const GSobjIndexKeyData& key) const;
  // True when the keys are collation weights rather than text.
  virtual bool KeyIsWeights() const { return false; }

  // The key comparison of the tag: -1, 0, 1 (negated for a descending
  // compare); `matched` gets the count of leading bytes that matched.
  int CompareKeys(const TgsVariant& probe, const TgsVariant& stored, int partial,
                  int* matched = nullptr) const;

  // --- fields ---
  const std::string& IndexKind() const { return indexKind_; }
  const std::string& TagName() const { return tagName_; }
  const std::string& KeyExpression() const { return keyExpression_; }
  const std::string& ForExpression() const { return forExpression_; }
  int16_t KeyLength() const { return keyLength_; }
  int16_t DefaultStrWidth() const { return defaultStrWidth_; }
  uint16_t EntrySize() const { return entrySize_; }
  uint16_t EntriesPerNode() const { return entriesPerNode_; }
  const GSobjIndexKeyData& RangeLow() const { return rangeLow_; }
  const GSobjIndexKeyData& RangeHigh() const { return rangeHigh_; }
  int32_t RangePartial() const { return rangePartial_; }
  bool LowInclusive() const { return lowInclusive_; }
  bool HighContinue() const { return highContinue_; }
  GSobjIndexFile* OwnerFile() const { return ownerFile_; }
  int32_t HeaderAddress() const { return headerAddress_; }
  int32_t RootAddress() const { return rootAddress_; }
  void SetRootAddress(int32_t address) { rootAddress_ = address; }
  bool HeaderChanged() const { return headerChanged_; }
  void SetHeaderChanged(bool changed) { headerChanged_ = changed; }
  // The header read when the tag was opened was accepted.
  bool HeaderAccepted() const { return headerAccepted_; }
  bool Ascending() const { return ascending_; }
  bool Unique() const { return unique_; }
  bool HasFor() const { return hasFor_; }
  char KeyType() const { return keyType_; }
  const GSobjIndexKeyData& CurrentKey() const { return currentKey_; }
  TRecNo CurrentRecord() const { return static_cast<TRecNo>(currentKey_.Link()); }
  bool AtTop() const { return atTop_; }
  bool AtEnd() const { return atEnd_; }
  bool KeysChanged() const { return keysChanged_; }
  bool DescendingCompare() const { return descendingCompare_; }
  bool Reversed() const { return reversed_; }
  bool Updating() const { return updating_; }
  // An emptied node on the rightmost path stays in the tree (empty) instead
  // of leaving its parent: formats whose pages store the rightmost path
  // differently from the others set this.
  bool KeepsEmptyRightmostNodes() const { return keepsEmptyRightmostNodes_; }
  void SetUpdating(bool on) { updating_ = on; }
  TgsExpHandler* KeyEvaluator() const { return keyEvaluator_.get(); }
  TgsExpHandler* ForEvaluator() const { return forEvaluator_.get(); }

 protected:
  friend class GSobjIndexKey;

  // The node image chain, root first. Loading a child at `level` releases
  // the deeper levels first.
  GSobjIndexKey* LoadChildAt(GSobjIndexKey& node, uint32_t address);
  // Releases (writing when changed) every level from the deepest up to
  // `keepLevels`.
  void ReleaseLevels(size_t keepLevels);
  // The image of the node at `address` below `parent` (none for the root):
  // a kept one when there is one, else read through ReadPage.
  std::unique_ptr<GSobjIndexKey> LoadImage(int32_t address, GSobjIndexKey* parent);
  // Keeps a released image that still matches its node, or spares it.
  void KeepImage(std::unique_ptr<GSobjIndexKey> image);
  void SpareImage(std::unique_ptr<GSobjIndexKey> image);
  void WriteBack(GSobjIndexKey& image);
  void GrowRootAbove(GSobjIndexKey& node);
  void EdgeCheck();
  // Copies an entry into the current key (value and link).
  void SetCurrent(const GSobjIndexKeyData& entry);
  void ClearCurrent() { currentKey_.SetLink(0); }
  // The table file, or none.
  GSO_dBaseDBF* Table() const;

  // --- for the formats ---
  // Raises "Index file %s is corrupted" naming the tag's file.
  [[noreturn]] void Corrupted() const;
  // Raises Corrupted when reading the node at `address` below `image`
  // would repeat a node of the path above it, or go `maxLevels` deep: a
  // damaged tree that leads round in a circle.
  void RefuseNodeOnPath(const GSobjIndexKey& image, int32_t address, int maxLevels) const;
  // ReleasePages for a format's destructor, which cannot report a failed
  // write-back: the file keeps what was written before.
  void ReleasePagesQuietly() noexcept;
  // Sets the key type from the key of the table's current record: 'C' for
  // text and logical values, 'N' for numbers, 'D' for dates; `textLength`
  // (when given) gets the text's length, 1 for a logical. False, leaving
  // the type, when the key cannot be evaluated or gives another kind of
  // value.
  bool LearnKeyType(int* textLength);

  std::string indexKind_ = "UNK";
  std::string tagName_;
  std::string keyExpression_;
  int16_t keyLength_ = 0;
  int16_t defaultStrWidth_ = 10;
  uint16_t entrySize_ = 0;
  uint16_t entriesPerNode_ = 0;
  std::string forExpression_;
  GSobjIndexKeyData rangeLow_;
  GSobjIndexKeyData rangeHigh_;
  int32_t rangePartial_ = -1;
  bool lowInclusive_ = true;
  bool highContinue_ = true;
  GSobjIndexFile* ownerFile_;
  int32_t headerAddress_;
  int32_t rootAddress_ = 0;
  std::vector<std::unique_ptr<GSobjIndexKey>> chain_;
  bool headerChanged_ = false;
  bool headerAccepted_ = false;
  bool ascending_ = true;
  bool unique_ = false;
  bool hasFor_ = false;
  char keyType_ = 'C';
  GSobjIndexKeyData currentKey_;
  bool atTop_ = false;
  bool atEnd_ = false;
  bool keysChanged_ = false;
  bool descendingCompare_ = false;
  bool reversed_ = false;
  bool updating_ = false;
  bool keepsEmptyRightmostNodes_ = false;
  // Bytes a kept image stands for from its address (a format whose nodes
  // are smaller than kKeptNodeSpan says so, so that writing a node does not
  // drop the image of the node before it).
  int64_t keptNodeSpan_ = kKeptNodeSpan;
  std::unique_ptr<TgsExpHandler> keyEvaluator_;
  std::unique_ptr<TgsExpHandler> forEvaluator_;
  // Keys of appended records waiting as entries (the key as evaluated,
  // record number as link), in the order of the appends.
  std::vector<GSobjIndexKeyData> pendingKeys_;

 private:
  TRecNo SeekKeyWith(const GSobjIndexKeyData& probe);
  // MoveTo without rereading.
  TRecNo MoveOnce(int32_t code);
  // A step of one entry forward (1) or back (-1) made in the chain's leaf
  // alone; false, moving nothing, when it must go through the root.
  bool StepInLeaf(int direction);
  // Runs `step` (given the attempt, from 0) again when it failed on a node
  // that may be half written by another process (see the .cpp).
  template <class F>
  TRecNo Reread(F&& step);
  bool MayMeetWriter() const;
  // Drops the chain and the kept images without writing anything.
  void DiscardChain();
  // Stands at the root to move to an end of the order: the loaded chain
  // serves again as it is when nothing in the file has changed since it
  // was loaded (the descent then passes through its images instead of
  // releasing and taking them back one by one); else as ResetPages.
  void RestartAtRoot();
  // The unique entry of `key` left with record `former`: another record with
  // that key that passes the FOR condition gets it.
  void HandOverUniqueKey(const GSobjIndexKeyData& key, TRecNo former);
  std::vector<char> snapshotScratch_;

  // Kept images by address, with their place in the release order (oldest
  // first); images are kept only while `keeping_`, which each chain reset
  // renews from the file's change stamp.
  struct KeptImage {
    std::unique_ptr<GSobjIndexKey> image;
    std::list<int32_t>::iterator order;
    bool leaf;
  };
  std::list<int32_t>& KeptOrder(bool leaf) { return leaf ? keptLeafOrder_ : keptBranchOrder_; }
  std::map<int32_t, KeptImage> kept_;
  std::list<int32_t> keptLeafOrder_;
  std::list<int32_t> keptBranchOrder_;
  // An image taken from the kept ones leaves its map slot and its place in
  // the order behind for the next image kept: a seek that trades kept
  // images allocates nothing for it.
  static constexpr size_t kFreeSlots = 64;
  std::vector<std::map<int32_t, KeptImage>::node_type> freeKept_;
  std::list<int32_t> freeOrder_;
  std::unique_ptr<GSobjIndexKey> TakeKept(std::map<int32_t, KeptImage>::iterator found);
  void AddKept(int32_t address, std::unique_ptr<GSobjIndexKey> image, bool leaf);
  bool keeping_ = false;
  // The file's image generation when the chain was loaded from the root.
  uint64_t chainGeneration_ = 0;
  std::vector<std::unique_ptr<GSobjIndexKey>> spare_;
};

class GSobjIndexFile {
 public:
  // `owner` may be null (no table: exact matching on, no cipher).
  explicit GSobjIndexFile(GSobjIndexOwner* owner);
  virtual ~GSobjIndexFile();
  GSobjIndexFile(const GSobjIndexFile&) = delete;
  GSobjIndexFile& operator=(const GSobjIndexFile&) = delete;

  // --- virtual slots, in order ---
  virtual bool AddTag(std::string_view name, std::string_view keyExpression, bool unique,
                      bool ascending, std::string_view forExpression);
  virtual bool DeleteTag(std::string_view name);
  virtual int32_t AllocatePage();
  virtual int32_t ResetAllocator();
  // Reads `length` bytes at `address`, deciphered for an enciphered table;
  // true when all of them came.
  virtual bool ReadBlock(int32_t address, void* buffer, int32_t length);
  // Writes `length` bytes at `address`, enciphered for an enciphered table
  // (the caller's buffer is left alone).
  virtual bool WriteBlock(int32_t address, const void* buffer, int32_t length);
  virtual void Reindex();
  // Renames the file (the current extension is kept); true on success.
  virtual bool RenameFile(std::string_view newName);
  // UpdateRecordKey on every tag after record n was written; true when any
  // tag changed.
  virtual bool UpdateKeys(TRecNo n, bool appended);
  virtual bool ChangedByOthers();
  virtual void SetLockProtocol(TgsLokProtocol protocol);
  // Re-enciphers every whole 512-byte block from the old to the new key.
  virtual void Recrypt();
  // Whether the format's blocks may be held in the block cache while this
  // process holds the index lock: its reads and writes all go through
  // ReadBlock, WriteBlock, FileSize and TruncateFile. Default: no.
  virtual bool CachesBlocksUnderLock() const { return false; }
  // What is left to write before the cached blocks go out at the end of a
  // lock (or a flush under it): every tag's chain (default), and whatever
  // the format defers to then.
  virtual void FinishHeldWrites();

  // --- file operations ---
  // Opens or creates the disk file. The name is trimmed and gets
  // `defaultExtension` when it has none; a name without a folder takes the
  // table's folder. With `create` the file is made anew, unless `overwrite`
  // is off and it exists (then it is opened). Returns the disk file, or null
  // when it could not be opened.
  GSO_DiskFile* OpenDiskFile(std::string_view fileName, bool overwrite, bool create,
                             bool readWrite, bool shared, std::string_view defaultExtension);
  // True when OpenDiskFile made the file, which was not there before.
  bool CreatedNew() const { return createdNew_; }
  // Locks the index per the lock protocol, waiting; raises "Can not Lock
  // file %s" when every try failed. While this process holds the lock, a
  // format that keeps blocks under its lock (CachesBlocksUnderLock) reads
  // and writes through the block cache; giving the last level of the lock
  // up finishes the held writes (FinishHeldWrites) and writes the cached
  // blocks out before the lock goes.
  bool LockIndex();
  bool UnlockIndex();
  // Levels of LockIndex this object holds.
  int32_t HeldLocks() const { return heldLocks_; }
  bool BlockCacheActive() const { return blockCache_.Active(); }
  // Releases every tag's chain and puts everything written so far in the
  // file (the block cache written out), then flushes the disk file.
  void FlushWrites();
  // True when the file is called `name` (folders ignored, case-insensitive).
  bool IsFileName(std::string_view name) const;
  int32_t TagCount() const { return static_cast<int32_t>(tags_.Count()); }
  // The first tag of that name (case-insensitive), or none.
  GSobjIndexTag* FindTag(std::string_view name) const;
  // The tag at `index` (from 0), or none.
  GSobjIndexTag* TagByPosition(int32_t index) const;
  // Releases every tag's node chain and writes changed headers.
  void ReleaseTags();
  // When the file is named like its table (folder and name, any
  // extension), sets the table header's production-index flag (bit 0 of
  // byte 28) and writes the header (gs6_indx_table.cpp).
  void MarkProductionIndex();

  // --- checking ---
  // Checks a tag against the file and the table: the tree is sound (the
  // format's WalkTag), and every record that passes the FOR condition has
  // exactly one entry with its key (in a unique tag: one entry per key
  // value, for one of the records with that key), with no other entries.
  // Problems are described in `report.problems`; `report.entries` holds the
  // tag's entries in tree order. Without `withTable` only the tree is
  // checked. Raises what evaluating the key or FOR expression raises.
  void CheckTag(GSobjIndexTag& tag, IndexCheckReport& report, bool withTable = true);

  // --- kept node images (see GSobjIndexTag) ---
  // A value that changes whenever another process changes the file's
  // nodes; false when the format has none, and then no images are kept.
  virtual bool NodeStamp(int64_t& stamp);
  // Reads the stamp and, when it moved since the last look, drops every
  // tag's kept images; true when images may be kept.
  bool RefreshNodeStamp();
  // Drops the kept images of every tag of the file, or of the nodes that a
  // write of `length` bytes at `address` touches.
  void DropKeptImages();
  void DropImagesOverlapping(int64_t address, int64_t length);
  // Tags register themselves so that writes can drop their kept images.
  void RegisterTag(GSobjIndexTag* tag);
  void UnregisterTag(GSobjIndexTag* tag);
  // Moves whenever kept images are dropped or anything is written: loaded
  // images of an older generation may no longer match their nodes.
  uint64_t ImageGeneration() const { return imageGeneration_; }

 protected:
  // --- checking, per format ---
  // Walks the tag's tree into `report`: its leaf entries in tree order, the
  // levels and nodes, and what is wrong with the tree (damaged nodes, keys
  // out of order, links that disagree). The base reports that it cannot.
  virtual void WalkTag(GSobjIndexTag& tag, IndexCheckReport& report);
  // The form in which WalkTag reports a key, for a key evaluated from a
  // record and normalized with trimming; the base gives its bytes.
  virtual std::string CheckedKeyForm(GSobjIndexTag& tag, const GSobjIndexKeyData& key);

 public:

  // Full path of the disk file (the name asked for while none is open),
  // for messages; the disk file's size (with blocks cached past its end on
  // disk), 0 while none is open.
  std::string FullPath() const;
  int64_t FileSize() const;
  // The size last learned (asking the file when none is known), for checks
  // of node addresses on the read path; and the size asked anew. The known
  // size is forgotten on every write and whenever the kept images go. A
  // format whose NodeStamp learns the size on the way notes it.
  int64_t KnownFileSize();
  int64_t FreshFileSize();
  void NoteFileSize(int64_t size);
  // Cuts the file to `size` bytes, cached blocks included.
  void TruncateFile(int64_t size);

  // --- fields ---
  const std::string& FileName() const { return fileName_; }
  TgsCollection<GSobjIndexTag>& Tags() { return tags_; }
  GSobjIndexOwner* Owner() const { return owner_; }
  GSO_DiskFile* DiskFile() const { return diskFile_.get(); }
  bool OrderByRecordNumber() const { return orderByRecordNumber_; }
  int32_t NextFreePage() const { return nextFreePage_; }
  void SetNextFreePage(int32_t address) { nextFreePage_ = address; }
  bool ExactMatch() const { return exactMatch_; }
  void SetExactMatch(bool on) { exactMatch_ = on; }
  bool Valid() const { return valid_; }
  bool Corrupt() const { return corrupt_; }
  TgsLokProtocol LockProtocol() const { return lockProtocol_; }
  int64_t LockPositionA() const { return lockPositionA_; }
  int64_t LockPositionB() const { return lockPositionB_; }
  // The region LockIndex locks under the current protocol.
  int64_t LockOffset() const;
  int64_t LockLength() const;

  static constexpr int32_t kCipherPiece = 512;

 protected:
  // Under the block cache: finishes the held writes and writes the cached
  // blocks out (a format's destructor calls it before its tags go).
  void WriteOutHeld();

  std::string fileName_;
  TgsCollection<GSobjIndexTag> tags_;
  GSobjIndexOwner* owner_;
  std::unique_ptr<GSO_DiskFile> diskFile_;
  bool orderByRecordNumber_ = false;
  int32_t nextFreePage_ = -1;
  bool exactMatch_ = true;
  bool valid_ = false;
  bool corrupt_ = false;
  TgsLokProtocol lockProtocol_ = TgsLokProtocol::Default;
  int64_t lockPositionA_ = 0x7FFFFFFE;
  int64_t lockPositionB_ = 0x40000000;
  bool createdNew_ = false;

 private:
  // The disk half of ReadBlock and WriteBlock: whole bytes deciphered on
  // the way in, enciphered on the way out.
  int32_t ReadDisk(int64_t address, uint8_t* buffer, int32_t length);
  void WriteDisk(int64_t address, const void* buffer, int32_t length);
  std::vector<uint8_t> cipherScratch_;
  std::vector<GSobjIndexTag*> registeredTags_;
  GSobjIndexBlockCache blockCache_;
  int32_t heldLocks_ = 0;
  int64_t nodeStamp_ = 0;
  bool nodeStampKnown_ = false;
  int64_t knownSize_ = -1;
  uint64_t imageGeneration_ = 0;
};

// The node writes of a bottom-up build, which writes each node once and
// mostly right after the one before: a run of nodes at consecutive
// addresses is gathered and goes to the file in one write.
class GSobjNodeWrites {
 public:
  // Writes go to `file` through WriteBlock. An address counts
  // `addressUnit` bytes: 1 where addresses are byte offsets, the block
  // size where they are block numbers.
  explicit GSobjNodeWrites(GSobjIndexFile& file, int32_t addressUnit = 1)
      : file_(file), addressUnit_(addressUnit) {}

  // Writes `bytes` bytes of `node` at `address`, or keeps them to go with
  // the nodes that follow.
  void Write(int32_t address, const uint8_t* node, size_t bytes);
  // Writes the nodes kept.
  void Flush();
  // Drops the nodes kept, giving back their memory.
  void Release() { pending_ = {}; }

 private:
  GSobjIndexFile& file_;
  int32_t addressUnit_;
  std::vector<uint8_t> pending_;
  int32_t pendingAddress_ = 0;
};
