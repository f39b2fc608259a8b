// Bottom-up CDX tag build; see gs6_cdx_build.h.
#include "engine/index/gs6_cdx_build.h"

#include <algorithm>
#include <cstring>

using namespace cdx;

GSobjSortCDX::GSobjSortCDX(CdxBuildTarget& target, bool unique, int32_t recordCount)
    : TgsSort(std::min(target.BuildKeyFormat().keyLength + 1, TgsSort::kMaxKeyLength), true,
              unique),
      target_(target),
      fmt_(target.BuildKeyFormat()),
      params_(ComputeLeafParams(fmt_.keyLength, static_cast<uint32_t>(std::max(recordCount, 1)))),
      branchCapacity_(BranchCapacity(fmt_.keyLength)) {}

void GSobjSortCDX::AddKey(std::string_view key, bool binary, TRecNo recNo) {
  if (key.size() > static_cast<size_t>(fmt_.keyLength)) key = key.substr(0, fmt_.keyLength);
  if (binary)
    AddBinary(key, recNo);
  else
    AddText(key, recNo);
}

bool GSobjSortCDX::NextEntry(std::string_view& key, TRecNo& recNo) {
  TgsSortType type;
  return NextKey(type, key, recNo);
}

GSobjSortCDX::Level& GSobjSortCDX::LevelAt(size_t level) {
  while (levels_.size() <= level) {
    auto lv = std::make_unique<Level>();
    lv->address = target_.AllocateNode();
    if (levels_.empty()) {
      lv->leaf = std::make_unique<LeafWriter>(lv->node, fmt_, params_);
      lv->leaf->Clear();
    } else {
      ClearBranchArea(lv->node, fmt_);
    }
    levels_.push_back(std::move(lv));
  }
  return *levels_[level];
}

void GSobjSortCDX::WriteLevelNode(Level& lv, size_t level, int32_t right, bool root) {
  NodeHeader h;
  h.attributes = static_cast<uint16_t>((level == 0 ? kAttrLeaf : 0) | (root ? kAttrRoot : 0));
  h.count = static_cast<uint16_t>(lv.count);
  h.left = lv.left;
  h.right = right;
  EncodeNodeHeader(h, lv.node);
  target_.WriteNode(lv.address, lv.node);
}

void GSobjSortCDX::Add(size_t level, std::string_view key, uint32_t recordNumber,
                       uint32_t child) {
  Level& lv = LevelAt(level);
  // A leaf takes keys for as long as they fit, whatever their length.
  if (lv.leaf && lv.count > 0 && lv.leaf->StoredSize(key) > lv.leaf->Free()) lv.full = true;
  if (lv.full) {
    // The node is done and a key follows it: link it to the next node, write
    // it and hand its last key up.
    const int32_t next = target_.AllocateNode();
    WriteLevelNode(lv, level, next, false);
    const std::string upKey = lv.lastKey;
    const uint32_t upRecord = lv.lastRecord;
    const int32_t closed = lv.address;
    lv.left = closed;
    lv.address = next;
    lv.count = 0;
    lv.full = false;
    if (lv.leaf)
      lv.leaf->Clear();
    else
      ClearBranchArea(lv.node, fmt_);
    Add(level + 1, upKey, upRecord, static_cast<uint32_t>(closed));
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

void GSobjSortCDX::Flush() {
  if (flushed_) return;
  flushed_ = true;
  if (levels_.empty()) LevelAt(0);  // no key: an empty root leaf
  for (size_t level = 0; level < levels_.size(); ++level) {
    Level& lv = *levels_[level];
    const bool root = level + 1 == levels_.size();
    WriteLevelNode(lv, level, -1, root);
    if (root) {
      target_.SetBuiltRoot(lv.address);
    } else {
      const std::string upKey = lv.lastKey;
      Add(level + 1, upKey, lv.lastRecord, static_cast<uint32_t>(lv.address));
    }
  }
}
