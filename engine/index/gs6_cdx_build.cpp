// Bottom-up CDX tree writing and the tag build; see gs6_cdx_build.h.
#include "engine/index/gs6_cdx_build.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

using namespace cdx;

void CdxBuildTarget::RelinkKeptLeaf(int32_t, int32_t, int32_t, bool) {
  throw std::logic_error("CDX build target keeps no leaves");
}

// --- CdxTreeWriter ---------------------------------------------------------

CdxTreeWriter::CdxTreeWriter(CdxBuildTarget& target, uint32_t largestRecord)
    : target_(target),
      fmt_(target.BuildKeyFormat()),
      params_(ComputeLeafParams(fmt_.keyLength, std::max<uint32_t>(largestRecord, 1))),
      branchCapacity_(BranchCapacity(fmt_.keyLength)) {}

CdxTreeWriter::Level& CdxTreeWriter::LevelAt(size_t level) {
  while (levels_.size() <= level) {
    auto lv = std::make_unique<Level>();
    if (levels_.empty()) {
      // The leaf level gets its first node with its first entry (a merge
      // may begin with a kept leaf).
      lv->leaf = std::make_unique<LeafWriter>(lv->node, fmt_, params_);
    } else {
      lv->address = FirstAddress();
      lv->started = true;
      ClearBranchArea(lv->node, fmt_);
    }
    levels_.push_back(std::move(lv));
  }
  return *levels_[level];
}

int32_t CdxTreeWriter::FirstAddress() { return rootAddress_ >= 0 ? -1 : target_.AllocateNode(); }

void CdxTreeWriter::StartLeaf(Level& lv) {
  lv.address = lv.left < 0 ? FirstAddress() : target_.AllocateNode();
  lv.leaf->Clear();
  lv.count = 0;
  lv.full = false;
  lv.kept = false;
  lv.started = true;
}

void CdxTreeWriter::WriteLevelNode(Level& lv, size_t level, int32_t right, bool root) {
  if (lv.kept) {
    target_.RelinkKeptLeaf(lv.address, lv.left, right, root);
    return;
  }
  NodeHeader h;
  h.attributes = static_cast<uint16_t>((level == 0 ? kAttrLeaf : 0) | (root ? kAttrRoot : 0));
  h.count = static_cast<uint16_t>(lv.count);
  h.left = lv.left;
  h.right = right;
  EncodeNodeHeader(h, lv.node);
  target_.WriteNode(lv.address, lv.node);
}

void CdxTreeWriter::CloseNode(size_t level, int32_t right) {
  Level& lv = *levels_[level];
  if (lv.address < 0) lv.address = target_.AllocateNode();
  WriteLevelNode(lv, level, right, false);
  const std::string upKey = lv.lastKey;
  const uint32_t upRecord = lv.lastRecord;
  const int32_t closed = lv.address;
  lv.left = closed;
  lv.count = 0;
  lv.full = false;
  lv.ended = false;
  lv.started = false;
  Add(level + 1, upKey, upRecord, static_cast<uint32_t>(closed));
}

void CdxTreeWriter::Add(size_t level, std::string_view key, uint32_t recordNumber, uint32_t child) {
  Level& lv = LevelAt(level);
  if (lv.leaf) {
    // A leaf takes keys for as long as they fit, whatever their length; a
    // kept leaf takes none.
    if (lv.started && (lv.kept || (lv.count > 0 && (lv.ended || lv.leaf->StoredSize(key) > lv.leaf->Free())))) {
      // The node is done and a key follows it: link it to the next node,
      // write it and hand its last key up.
      const int32_t next = target_.AllocateNode();
      CloseNode(level, next);
      Level& cur = *levels_[level];
      cur.leaf->Clear();
      cur.address = next;
      cur.kept = false;
      cur.started = true;
    } else if (!lv.started) {
      StartLeaf(lv);
    }
  } else if (lv.full) {
    const int32_t next = target_.AllocateNode();
    CloseNode(level, next);
    Level& cur = *levels_[level];
    ClearBranchArea(cur.node, fmt_);
    cur.address = next;
    cur.started = true;
  }
  Level& cur = *levels_[level];  // levels_ may have grown
  if (cur.leaf) {
    cur.leaf->Add(key, recordNumber);  // fits: checked above, and an empty leaf takes any key
    cur.count = cur.leaf->Count();
  } else {
    PutBranchEntry(cur.node, fmt_, cur.count, key, recordNumber, child);
    ++cur.count;
    cur.full = cur.count >= branchCapacity_;
  }
  cur.lastKey.assign(key.substr(0, std::min(key.size(), static_cast<size_t>(fmt_.keyLength))));
  cur.lastRecord = recordNumber;
}

void CdxTreeWriter::EndLeaf() {
  if (!levels_.empty()) levels_[0]->ended = true;
}

void CdxTreeWriter::AddKeptLeaf(int32_t address, std::string_view lastKey, uint32_t lastRecord) {
  Level& lv = LevelAt(0);
  if (lv.started) CloseNode(0, address);
  Level& cur = *levels_[0];
  cur.address = address;
  cur.kept = true;
  cur.started = true;
  cur.count = 0;
  cur.lastKey.assign(lastKey);
  cur.lastRecord = lastRecord;
}

void CdxTreeWriter::Flush() {
  if (flushed_) return;
  flushed_ = true;
  Level& first = LevelAt(0);
  if (!first.started) StartLeaf(first);  // no key: an empty root leaf
  for (size_t level = 0; level < levels_.size(); ++level) {
    Level& lv = *levels_[level];
    const bool root = level + 1 == levels_.size();
    // The root has no siblings: it may go anywhere (a kept root leaf stays
    // where it is).
    if (root && rootAddress_ >= 0 && !lv.kept) lv.address = rootAddress_;
    if (lv.address < 0) lv.address = target_.AllocateNode();
    WriteLevelNode(lv, level, -1, root);
    if (root) {
      target_.SetBuiltRoot(lv.address);
    } else {
      const std::string upKey = lv.lastKey;
      Add(level + 1, upKey, lv.lastRecord, static_cast<uint32_t>(lv.address));
    }
  }
}

// --- GSobjSortCDX ----------------------------------------------------------

GSobjSortCDX::GSobjSortCDX(CdxBuildTarget& target, bool unique, int32_t recordCount)
    : TgsSort(std::min(target.BuildKeyFormat().keyLength + 1, TgsSort::kMaxKeyLength), true, unique),
      writer_(target, static_cast<uint32_t>(std::max(recordCount, 1))),
      keyLength_(target.BuildKeyFormat().keyLength) {}

void GSobjSortCDX::AddKey(std::string_view key, bool binary, TRecNo recNo) {
  if (key.size() > static_cast<size_t>(keyLength_)) key = key.substr(0, keyLength_);
  if (binary)
    AddBinary(key, recNo);
  else
    AddText(key, recNo);
}
