// Bottom-up build of a CDX tag: `GSobjSortCDX` takes the keys of a table
// through the sorter and writes the tag's tree in one pass, one node buffer
// per level, each node written once, left to right. A leaf takes keys for
// as long as they fit, a branch node up to its capacity.
//
// A node is written only when the key after it is known (or when the build
// ends), so every sibling link is final when written: the last node of each
// level ends with a right link of -1 whatever the FOR condition or the
// unique flag left out.
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
  // A fresh 512-byte node address at the end of the file.
  virtual int32_t AllocateNode() = 0;
  virtual void WriteNode(int32_t address, const uint8_t* node) = 0;
  // The build is done: the tree's root node.
  virtual void SetBuiltRoot(int32_t address) = 0;
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

  // Writes the last node of every level and stores the root in the target.
  // An empty build writes an empty root leaf. Called once.
  void Flush();

  int32_t KeysWritten() const { return keysWritten_; }

 private:
  struct Level {
    uint8_t node[cdx::kBlockSize] = {};
    int32_t address = 0;
    int32_t left = -1;
    int count = 0;
    bool full = false;
    std::string lastKey;
    uint32_t lastRecord = 0;
    std::unique_ptr<cdx::LeafWriter> leaf;  // level 0 only
  };

  bool NextEntry(std::string_view& key, TRecNo& recNo);
  void Add(size_t level, std::string_view key, uint32_t recordNumber, uint32_t child);
  Level& LevelAt(size_t level);
  void WriteLevelNode(Level& lv, size_t level, int32_t right, bool root);

  CdxBuildTarget& target_;
  cdx::KeyFormat fmt_;
  cdx::LeafParams params_;
  int branchCapacity_;
  int32_t keysWritten_ = 0;
  bool flushed_ = false;
  std::vector<std::unique_ptr<Level>> levels_;
};

template <class F>
void GSobjSortCDX::Drain(F&& progress) {
  std::string_view key;
  TRecNo recNo = 0;
  while (NextEntry(key, recNo)) {
    ++keysWritten_;
    Add(0, key, static_cast<uint32_t>(recNo), static_cast<uint32_t>(recNo));
    progress(keysWritten_);
  }
  Flush();
}
