// Keys of appended records into a CDX tag in one pass.
//
// While the file's blocks are cached under the index lock, the key of each
// appended record goes into a sorter in its stored form (a character
// field's text straight from the record; any other key evaluated and
// normalized once into a reused cell), not into the tree. When the keys go
// in, the old tree's branch levels are read whole, which lists its leaves
// with their last entries. The sorted keys are then walked beside that
// list: a leaf that no new key falls into is kept as it is (not even read),
// a leaf that gets new keys is read, merged with them and written again:
// in place when they fit, else spread evenly over the leaves they fill (a
// split), or, for very many keys, filling leaves as a build does. The branch
// levels are written anew above the leaves. Into an empty tag this is a
// bottom-up build.
//
// Where a new key goes is where one-by-one insertion puts it: after every
// entry with an equal key (so a key equal to a leaf's last entry belongs to
// the next leaf), equal new keys by record number; in a unique tag a key
// equal to one already in the tree, or to an earlier new key, is dropped.
// Nodes freed by the merge (the old branches, the rewritten leaves) are
// taken again before the file grows.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/expr/gs6_sql.h"
#include "engine/index/gs6_cdx.h"
#include "engine/table/gs6_dbf.h"

using namespace cdx;

namespace {

// The entries of one leaf, their keys in one buffer.
class LeafEntries final : public NodeEntrySink {
 public:
  void Clear() {
    bytes_.clear();
    items_.clear();
  }
  void Entry(std::string_view key, uint32_t recordNumber, uint32_t) override {
    items_.push_back({static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(key.size()), recordNumber});
    bytes_.append(key);
  }
  size_t Count() const { return items_.size(); }
  std::string_view Key(size_t i) const { return std::string_view(bytes_).substr(items_[i].offset, items_[i].length); }
  uint32_t Record(size_t i) const { return items_[i].record; }

 private:
  struct Item {
    uint32_t offset;
    uint32_t length;
    uint32_t record;
  };
  std::string bytes_;
  std::vector<Item> items_;
};

// The entries of a level's branch nodes, one node after another.
class BranchEntries final : public NodeEntrySink {
 public:
  explicit BranchEntries(std::vector<NodeEntry>& out) : out_(out) {}
  void Entry(std::string_view key, uint32_t recordNumber, uint32_t child) override {
    out_.push_back(NodeEntry{std::string(key), recordNumber, child});
  }

 private:
  std::vector<NodeEntry>& out_;
};

// A leaf of the old tree as its parent lists it.
struct LeafRef {
  std::string lastKey;
  uint32_t lastRecord;
  int32_t address;
};

}  // namespace

// --- holding the keys -------------------------------------------------------

std::string_view GSobjCDXTag::StoredFormOf(GSobjIndexKeyData& key) {
  NormalizeKey(key, true);
  return StoredKeyView(std::string_view(reinterpret_cast<const char*>(key.Data()), key.Length()), KeyFormatOf());
}

bool GSobjCDXTag::HoldAppendedRecord(TRecNo n) {
  TgsExpHandler* keyEvaluator = KeyEvaluator();
  // GENERAL keys are weights: a stored key is not a key to normalize again,
  // as keys handed to InsertKey are. They wait as entries.
  if (IsDirectory() || !keyEvaluator || KeyFormatOf().general) return false;
  TgsExpHandler* forEvaluator = hasFor_ ? ForEvaluator() : nullptr;
  if (heldEvaluators_[0] != keyEvaluator || heldEvaluators_[1] != forEvaluator) {
    heldEvaluators_[0] = keyEvaluator;
    heldEvaluators_[1] = forEvaluator;
    heldKeyField_ = keyType_ == 'C' ? keyEvaluator->StoredTextVariable() : nullptr;
    heldForField_ = forEvaluator ? forEvaluator->StoredComparisonVariable() : nullptr;
  }
  if (hasFor_) {
    int pass = heldForField_ && forEvaluator ? forEvaluator->DecideStoredComparison(heldForField_->StoredText()) : -1;
    if (pass < 0) pass = EvaluateFor() ? 1 : 0;
    if (pass == 0) return true;
  }
  std::string_view key;
  if (heldKeyField_) {
    key = StoredKeyView(heldKeyField_->StoredText(), KeyFormatOf());
  } else {
    if (!EvaluateKey(heldScratch_)) return true;  // no key, as one-by-one
    key = StoredFormOf(heldScratch_);
  }
  if (!held_) held_ = std::make_unique<TgsSort>(std::min(keyLength_ + 1, TgsSort::kMaxKeyLength), true, false);
  if (keyType_ == 'C')
    held_->AddText(key, n);
  else
    held_->AddBinary(key, n);
  ++heldCount_;
  heldBytes_ += key.size() + 8;
  heldLargestRecord_ = std::max(heldLargestRecord_, static_cast<uint32_t>(n));
  lastHeldRecord_ = n;
  lastHeldKey_.assign(key);
  return true;
}

size_t GSobjCDXTag::HeldKeyCount() const { return heldCount_ + GSobjIndexTag::HeldKeyCount(); }

bool GSobjCDXTag::HeldKeysFull() const {
  return heldBytes_ >= kMostHeldKeyBytes || heldCount_ >= static_cast<size_t>(INT32_MAX / 2) ||
         GSobjIndexTag::HeldKeysFull();
}

bool GSobjCDXTag::LastHeldKeyIs(const GSobjIndexKeyData& key, TRecNo n) {
  if (heldCount_ == 0) return GSobjIndexTag::LastHeldKeyIs(key, n);
  if (lastHeldRecord_ != n) return false;
  GSobjIndexKeyData copy(key);
  return StoredFormOf(copy) == lastHeldKey_;
}

void GSobjCDXTag::InsertHeldKeys() {
  if (heldCount_ > 0) {
    std::unique_ptr<TgsSort> keys = std::move(held_);
    const uint32_t largest = heldLargestRecord_;
    const size_t count = heldCount_;
    heldCount_ = heldBytes_ = 0;
    heldLargestRecord_ = 0;
    lastHeldRecord_ = 0;
    lastHeldKey_.clear();
    // Changes held in loaded images belong to the tree the keys go into.
    ReleasePages();
    // A merge reads and writes every branch node of the tag: a few keys
    // into a large file go in one by one instead, down the tree (their
    // stored forms are keys as InsertKey takes them).
    if (count * kMergeNodesPerKey >= static_cast<uint64_t>(File()->FileSize() / kBlockSize)) {
      MergeKeys(*keys, largest);
    } else {
      TgsSortType type;
      std::string_view key;
      TRecNo recNo = 0;
      while (keys->NextKey(type, key, recNo)) {
        GSobjIndexKeyData& entry = pendingKeys_.emplace_back();
        if (keyType_ == 'C')
          entry.SetText(key);
        else
          entry.SetBinary(key.data(), key.size());
        entry.SetRecordNumber(recNo);
        entry.SetLink(static_cast<uint32_t>(recNo));
      }
    }
  }
  GSobjIndexTag::InsertHeldKeys();
}

// --- the merge --------------------------------------------------------------

void GSobjCDXTag::RelinkKeptLeaf(int32_t address, int32_t left, int32_t right, bool root) {
  uint8_t node[kBlockSize];
  if (!File()->ReadBlock(address, node, kBlockSize)) Corrupted();
  const uint16_t attributes = GetLE16(node);
  const uint16_t wanted = static_cast<uint16_t>(root ? attributes | kAttrRoot : attributes & ~kAttrRoot);
  if (attributes == wanted && static_cast<int32_t>(GetLE32(node + 4)) == left &&
      static_cast<int32_t>(GetLE32(node + 8)) == right)
    return;
  PutLE16(node, wanted);
  PutLE32(node + 4, static_cast<uint32_t>(left));
  PutLE32(node + 8, static_cast<uint32_t>(right));
  File()->WriteBlock(address, node, kBlockSize);
}

void GSobjCDXTag::MergeKeys(TgsSort& keys, uint32_t largestRecord) {
  GSobjCDXFile* file = File();
  const KeyFormat fmt = KeyFormatOf();
  const int64_t size = file->FileSize();
  uint8_t node[kBlockSize];
  std::vector<bool> seen(static_cast<size_t>(size / kBlockSize) + 1, false);
  auto read = [&](int32_t address, NodeHeader& h) {
    // Every node of the old tree is read once: one met again is a damaged
    // tree that leads round in a circle.
    if (!IsNodeAddress(address, size) || seen[static_cast<size_t>(address / kBlockSize)]) Corrupted();
    seen[static_cast<size_t>(address / kBlockSize)] = true;
    if (!file->ReadBlock(address, node, kBlockSize) || !DecodeNodeHeader(node, size, h)) Corrupted();
  };

  // The old tree's leaves, from its branch levels (read whole, then free).
  freedNodes_.clear();
  std::vector<LeafRef> leaves;
  NodeHeader h;
  read(rootAddress_, h);
  // The root stays where it is: readers of the file know it there.
  const int32_t root = rootAddress_;
  auto freeNode = [&](int32_t address) {
    if (address != root) freedNodes_.push_back(address);
  };
  if (h.IsLeaf()) {
    seen[static_cast<size_t>(rootAddress_ / kBlockSize)] = false;  // read again below
    leaves.push_back({std::string(), 0, rootAddress_});
  } else {
    std::vector<NodeEntry> below;
    BranchEntries sink(below);
    std::vector<int32_t> addresses{rootAddress_};
    for (int depth = 1;; ++depth) {
      if (depth >= kMaxLevels) Corrupted();
      below.clear();
      for (size_t i = 0; i < addresses.size(); ++i) {
        if (i > 0) read(addresses[i], h);
        if (h.IsLeaf() || !DecodeBranch(node, fmt, size, sink)) Corrupted();
        freeNode(addresses[i]);
      }
      if (below.empty()) Corrupted();
      NodeHeader first;
      if (!file->ReadBlock(static_cast<int32_t>(below.front().child), node, kBlockSize) ||
          !DecodeNodeHeader(node, size, first))
        Corrupted();
      if (first.IsLeaf()) {
        leaves.reserve(below.size());
        for (NodeEntry& e : below)
          leaves.push_back({std::move(e.key), e.recordNumber, static_cast<int32_t>(e.child)});
        break;
      }
      addresses.clear();
      for (const NodeEntry& e : below) addresses.push_back(static_cast<int32_t>(e.child));
      read(addresses.front(), h);
    }
  }

  GSO_dBaseDBF* table = Table();
  const uint32_t records = table ? static_cast<uint32_t>(std::max(table->RecordCount(), 0)) : 0;
  CdxTreeWriter writer(*this, std::max(records, largestRecord));
  writer.SetRootAddress(root);
  LeafEntries old;
  TgsSortType type;
  std::string_view key;
  TRecNo recNo = 0;
  bool have = keys.NextKey(type, key, recNo);
  // The last entry written, for a unique tag.
  std::string last;
  bool haveLast = false;
  // The entries of a rewritten leaf wait here while they are few, and then
  // go out spread evenly over as many leaves as they fill (a leaf that
  // overflows splits into equal parts, with room for later keys); many go
  // out as they come, each leaf filled as a build fills it.
  constexpr size_t kMostSpreadEntries = 1024;
  LeafEntries merged;
  bool streaming = false;
  uint8_t scratch[kBlockSize];
  LeafWriter fit(scratch, fmt, ComputeLeafParams(fmt.keyLength, std::max({records, largestRecord, 1u})));
  auto put = [&](std::string_view k, uint32_t record) {
    if (unique_) {
      last.assign(k);
      haveLast = true;
    }
    if (streaming) {
      writer.AddEntry(k, record);
      return;
    }
    merged.Entry(k, record, 0);
    if (merged.Count() < kMostSpreadEntries) return;
    for (size_t e = 0; e < merged.Count(); ++e) writer.AddEntry(merged.Key(e), merged.Record(e));
    merged.Clear();
    streaming = true;
  };
  auto endLeaf = [&] {
    const size_t n = merged.Count();
    if (n > 0) {
      size_t leavesNeeded = 1;
      fit.Clear();
      for (size_t e = 0; e < n; ++e) {
        if (fit.Add(merged.Key(e), merged.Record(e))) continue;
        ++leavesNeeded;
        fit.Clear();
        fit.Add(merged.Key(e), merged.Record(e));
      }
      const size_t per = (n + leavesNeeded - 1) / leavesNeeded;
      for (size_t e = 0; e < n; ++e) {
        if (e > 0 && e % per == 0) writer.EndLeaf();
        writer.AddEntry(merged.Key(e), merged.Record(e));
      }
    }
    merged.Clear();
    streaming = false;
    writer.EndLeaf();
  };
  try {
    for (size_t i = 0; i < leaves.size(); ++i) {
      const LeafRef& leaf = leaves[i];
      const bool lastLeaf = i + 1 == leaves.size();
      // The leaf takes the new keys below its last entry; the last leaf
      // takes all the rest.
      auto takes = [&] { return have && (lastLeaf || key < std::string_view(leaf.lastKey)); };
      if (!takes()) {
        writer.AddKeptLeaf(leaf.address, leaf.lastKey, leaf.lastRecord);
        if (unique_) {
          last = leaf.lastKey;
          haveLast = true;
        }
        continue;
      }
      writer.EndLeaf();  // each rewritten leaf starts a leaf of its own
      read(leaf.address, h);
      old.Clear();
      if (!h.IsLeaf() || !DecodeLeaf(node, fmt, old)) Corrupted();
      freeNode(leaf.address);
      size_t j = 0;
      const size_t count = old.Count();
      for (;;) {
        const bool newKey = takes();
        if (j < count && (!newKey || !(key < old.Key(j)))) {
          // Entries already there go before new ones with an equal key.
          put(old.Key(j), old.Record(j));
          ++j;
        } else if (newKey) {
          if (!unique_ || !haveLast || key != std::string_view(last)) put(key, static_cast<uint32_t>(recNo));
          have = keys.NextKey(type, key, recNo);
        } else {
          break;
        }
      }
      endLeaf();
    }
    writer.Flush();
    builtNodes_.Flush();
  } catch (...) {
    builtNodes_.Release();
    freedNodes_.clear();
    throw;
  }
  builtNodes_.Release();
  // Freed nodes left over stay unused (the file keeps no free list).
  freedNodes_.clear();
  DropKeptImages();
  headerChanged_ = true;
  WriteHeader();
}
