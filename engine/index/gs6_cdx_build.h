// Bottom-up writing of CDX trees.
//
// `CdxTreeWriter` writes a tag's tree in one pass, left to right, one node
// buffer per level, each node written once: leaf entries come in key order,
// a leaf takes them for as long as they fit, a branch node up to its
// capacity. A merge into an existing tree also hands it whole leaves of the
// old tree that stay as they are (kept leaves): they go into the branch
// level above like written ones, and only their sibling links are set.
//
// `GSobjSortCDX` takes the keys of a table through the sorter and drains
// them into a CdxTreeWriter: the bottom-up build of a tag.
//
// A node is written only when the node after it is known (or when the
// writing ends), so every sibling link is final when written: the last node
// of each level ends with a right link of -1 whatever the FOR condition or
// the unique flag left out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/index/gs6_cdx_format.h"
#include "engine/index/gs6_sort.h"

// Where a build writes its nodes: implemented by the CDX tag.
class CdxBuildTarget {
 public:
  virtual ~CdxBuildTarget() = default;
  virtual cdx::KeyFormat BuildKeyFormat() const = 0;
  // A 512-byte node address for a new node.
  virtual int32_t AllocateNode() = 0;
  virtual void WriteNode(int32_t address, const uint8_t* node) = 0;
  // The build is done: the tree's root node.
  virtual void SetBuiltRoot(int32_t address) = 0;
  // A kept leaf at `address` gets these sibling links and root flag (a
  // target that is only built into never keeps leaves).
  virtual void RelinkKeptLeaf(int32_t address, int32_t left, int32_t right, bool root);
};

class CdxTreeWriter {
 public:
  // `largestRecord` sizes the record number fields of new leaves.
  CdxTreeWriter(CdxBuildTarget& target, uint32_t largestRecord);

  // The next leaf entry in key order.
  void AddEntry(std::string_view key, uint32_t recordNumber) { Add(0, key, recordNumber, recordNumber); }
  // The leaf being filled takes no more entries: the next one starts a
  // new leaf.
  void EndLeaf();
  // The next leaf is a leaf of the old tree, unchanged: its address and its
  // last entry (the key in its stored form).
  void AddKeptLeaf(int32_t address, std::string_view lastKey, uint32_t lastRecord);
  // The root node goes to `address` (a merge keeps the tag's root where
  // readers know it), not to an address of its own. Set before the first
  // entry.
  void SetRootAddress(int32_t address) { rootAddress_ = address; }
  // Writes the last node of every level and stores the root in the target.
  // Nothing written: an empty root leaf. Called once.
  void Flush();

 private:
  struct Level {
    uint8_t node[cdx::kBlockSize] = {};
    int32_t address = 0;
    int32_t left = -1;
    int count = 0;
    bool full = false;
    // Leaf level: whether the current node is a kept leaf (at `address`),
    // and whether there is a current node at all.
    bool kept = false;
    bool started = false;
    bool ended = false;  // EndLeaf was called
    std::string lastKey;
    uint32_t lastRecord = 0;
    std::unique_ptr<cdx::LeafWriter> leaf;  // level 0 only
  };

  void Add(size_t level, std::string_view key, uint32_t recordNumber, uint32_t child);
  Level& LevelAt(size_t level);
  // Makes a new node the current one of the leaf level.
  void StartLeaf(Level& lv);
  // The address of a level's first node: none yet (-1) while the root has
  // an address of its own, for the first node may turn out to be the root;
  // it gets one when a node follows it.
  int32_t FirstAddress();
  // Ends the current node of a level: written (or, kept, relinked) with
  // `right` as its right sibling, its last entry handed up. The level's
  // next node gets it as its left sibling.
  void CloseNode(size_t level, int32_t right);
  void WriteLevelNode(Level& lv, size_t level, int32_t right, bool root);

  CdxBuildTarget& target_;
  cdx::KeyFormat fmt_;
  cdx::LeafParams params_;
  int branchCapacity_;
  bool flushed_ = false;
  int32_t rootAddress_ = -1;
  std::vector<std::unique_ptr<Level>> levels_;
};

class GSobjSortCDX : public TgsSort {
 public:
  // `recordCount` sizes the record number fields of the leaves.
  GSobjSortCDX(CdxBuildTarget& target, bool unique, int32_t recordCount);
  ~GSobjSortCDX() override = default;

  // Adds a key in its stored form (text or raw bytes) for a record.
  void AddKey(std::string_view key, bool binary, TRecNo recNo);
  // Takes every key from the sorter into the tree and writes the last nodes.
  // `progress` (may be null) is called with the count of keys written.
  template <class F>
  void Drain(F&& progress);
  void Drain() {
    Drain([](int32_t) {});
  }

  int32_t KeysWritten() const { return keysWritten_; }

 private:
  CdxTreeWriter writer_;
  int keyLength_;
  int32_t keysWritten_ = 0;
};

template <class F>
void GSobjSortCDX::Drain(F&& progress) {
  std::string_view key;
  TRecNo recNo = 0;
  TgsSortType type;
  while (NextKey(type, key, recNo)) {
    ++keysWritten_;
    writer_.AddEntry(key, static_cast<uint32_t>(recNo));
    progress(keysWritten_);
  }
  writer_.Flush();
}
