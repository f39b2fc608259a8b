// The index framework: node images and the tag's chain, seeking, stepping
// across nodes, key ranges and positioning.
#include "engine/index/gs6_indx.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <string>
#include <tuple>
#include <utility>

#include "engine/expr/gs6_sql.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf.h"
#include "engine/table/gs6_disk.h"
#include "platform/system.h"

namespace {

// Deepest chain a tag accepts; a deeper descent means the file's links loop.
constexpr size_t kMaxChainLevels = 64;

// Keeps a tag's updating flag set for the length of a scope.
class UpdatingScope {
 public:
  explicit UpdatingScope(GSobjIndexTag& tag) : tag_(tag), was_(tag.Updating()) {
    tag_.SetUpdating(true);
  }
  ~UpdatingScope() { tag_.SetUpdating(was_); }

 private:
  GSobjIndexTag& tag_;
  bool was_;
};

}  // namespace

GSobjIndexOwner::~GSobjIndexOwner() = default;

std::string GSobjIndexOwner::IndexDecipherKey() {
  GSO_dBaseDBF* table = IndexTable();
  return table && table->Encrypted() ? table->Password() : std::string();
}

std::string GSobjIndexOwner::IndexEncipherKey() { return IndexDecipherKey(); }

GSobjIndexKeyData::~GSobjIndexKeyData() = default;

// ---------------------------------------------------------------------------
// GSobjIndexKey: seeking and stepping

GSobjIndexKey::GSobjIndexKey(GSobjIndexTag* owner, int32_t address)
    : pageAddress_(address), owner_(owner) {}

GSobjIndexKey::~GSobjIndexKey() = default;

GSobjIndexKeyData* GSobjIndexKey::AddEntry(const GSobjIndexKeyData& entry) {
  keyOrder_ = kOrderUnknown;
  return Add(std::make_unique<GSobjIndexKeyData>(entry));
}

GSobjIndexKeyData* GSobjIndexKey::RefillEntry(size_t index) {
  keyOrder_ = kOrderUnknown;
  if (index < Count()) return Entry(index);
  return Add(std::make_unique<GSobjIndexKeyData>());
}

void GSobjIndexKey::KeepEntries(size_t count) {
  keyOrder_ = kOrderUnknown;
  while (Count() > count) DeleteAt(Count() - 1);
}

int GSobjIndexKey::Compare(const GSobjIndexKeyData& probe, const GSobjIndexKeyData& stored,
                           int partial) const {
  return owner_->CompareKeys(probe, stored, partial);
}

int32_t GSobjIndexKey::IndexOfLink(uint32_t address) const {
  for (int32_t i = 0; i < EntryCount(); ++i)
    if (Entry(i)->Link() == address) return i;
  return -1;
}

GSobjIndexKey* GSobjIndexKey::LoadChild(uint32_t address) {
  return owner_->LoadChildAt(*this, address);
}

bool GSobjIndexKey::KeysInOrder() {
  const int32_t count = EntryCount();
  if (keyOrder_ != kOrderUnknown && orderedCount_ == count) {
    if (keyOrder_ != kSoughtOnce) return keyOrder_ == kOrdered;
  } else {
    // Most images are read for one seek: checking the whole node's order
    // then costs more than the scan it would save. The check waits for the
    // image's second seek.
    keyOrder_ = kSoughtOnce;
    orderedCount_ = count;
    return false;
  }
  const bool byRecord = owner_->OwnerFile()->OrderByRecordNumber();
  bool ordered = true;
  for (int32_t i = 0; i < count && ordered; ++i) {
    const GSobjIndexKeyData& e = *Entry(i);
    ordered = e.IsBytes();
    if (!ordered || i == 0) continue;
    const GSobjIndexKeyData& before = *Entry(i - 1);
    const int c = Compare(before, e, -1);
    ordered = c < 0 || (c == 0 && (!byRecord || before.RecordNumber() <= e.RecordNumber()));
  }
  keyOrder_ = ordered ? kOrdered : kUnordered;
  orderedCount_ = count;
  return ordered;
}

// With the keys in order (and a probe whose prefix entries sort together,
// partial not above 0), "sorts before the probe" holds for a leading run of
// the entries and for none after it: halving finds where the run ends. The
// record number decides between equal keys only where the scan would let
// it decide too (an exact probe); otherwise the scan goes on from the
// first equal key.
int32_t GSobjIndexKey::FirstNotBefore(int32_t recNo, const GSobjIndexKeyData& probe, int partial,
                                      bool byRecord) const {
  int32_t low = 0, high = EntryCount() - 1;
  while (low < high) {
    const int32_t middle = low + (high - low) / 2;
    const GSobjIndexKeyData& e = *Entry(middle);
    int r = Compare(probe, e, partial);
    if (r == 0 && recNo == kMaxRecNo) r = 1;
    if (r == 0 && recNo != -1 && byRecord && partial < 0)
      r = e.RecordNumber() < recNo ? 1 : (recNo < e.RecordNumber() ? -1 : 0);
    if (r > 0)
      low = middle + 1;
    else
      high = middle;
  }
  return low;
}

// Position runs over the entries while they sort before the probe. In a
// branch the descent goes into the first child whose high key is not below
// the probe (or the last child); equal keys are passed over for kMaxRecNo,
// ordered by record number when the file does so, and otherwise scanned for
// the record wanted. In a node whose keys are in order the entries that
// sort before the probe are passed over by halving; the scan then starts at
// the first one that does not, and goes on exactly as from the start.
int GSobjIndexKey::SeekInPage(int32_t recNo, const GSobjIndexKeyData& probe, int partial) {
  position_ = 0;
  const int32_t count = EntryCount();
  if (count == 0) return 1;
  const bool byRecord = owner_->OwnerFile()->OrderByRecordNumber();
  if (count > kScannedEntries && partial <= 0 && !changed_ && probe.IsBytes() && KeysInOrder())
    position_ = FirstNotBefore(recNo, probe, partial, byRecord);
  int result = 1;
  while (result > 0 && position_ < count) {
    const GSobjIndexKeyData& e = *Entry(position_);
    result = Compare(probe, e, partial);
    if (result == 0 && recNo == kMaxRecNo) result = 1;
    if (result == 0 && recNo != -1 && byRecord)
      result = e.RecordNumber() < recNo ? 1 : (recNo < e.RecordNumber() ? -1 : 0);
    if (result <= 0 || position_ == count - 1) {
      if (!IsLeaf()) {
        const uint32_t link = e.Link();
        result = LoadChild(link)->SeekInPage(recNo, probe, partial);
      } else if (result == 0 && recNo != -1) {
        const int32_t link = static_cast<int32_t>(e.Link());
        if (byRecord)
          result = link < recNo ? 1 : (recNo < link ? -1 : 0);
        else if (link != recNo)
          result = 1;
      }
    }
    if (result > 0) ++position_;
  }
  return result;
}

int GSobjIndexKey::CurrentEntry(GSobjIndexKeyData& out) {
  const int32_t count = EntryCount();
  atFirst_ = (parent_ ? parent_->atFirst_ : true) && position_ == 0;
  atLast_ = (parent_ ? parent_->atLast_ : true) && position_ == count - 1;
  if (!IsLeaf() && child_) return child_->CurrentEntry(out);
  if (position_ >= 0 && position_ < count)
    out.CopyEntry(*Entry(position_));
  else
    out.SetLink(0);
  return (atFirst_ ? 1 : 0) + (atLast_ ? 2 : 0);
}

bool GSobjIndexKey::GoFirst() {
  position_ = 0;
  if (EntryCount() == 0) return false;
  if (!IsLeaf()) {
    // An empty child (formats may keep one) passes the step on to the next.
    if (LoadChild(Entry(0)->Link())->GoFirst()) return true;
    return GoNext();
  }
  owner_->SetCurrent(*Entry(0));
  return true;
}

bool GSobjIndexKey::GoLast() {
  position_ = EntryCount() - 1;
  if (position_ < 0) return false;
  if (!IsLeaf()) {
    // An empty last child (kept by some formats) passes the step back.
    if (LoadChild(Entry(position_)->Link())->GoLast()) return true;
    return GoPrior();
  }
  owner_->SetCurrent(*Entry(position_));
  return true;
}

bool GSobjIndexKey::OnRightmostPath() const {
  for (const GSobjIndexKey* node = this; node->parent_; node = node->parent_) {
    const GSobjIndexKey* parent = node->parent_;
    if (parent->EntryCount() == 0 ||
        parent->Entry(parent->EntryCount() - 1)->Link() != static_cast<uint32_t>(node->pageAddress_))
      return false;
  }
  return true;
}

bool GSobjIndexKey::ReadCurrent() {
  if (position_ < 0 || position_ >= EntryCount()) return false;
  if (!IsLeaf()) return LoadChild(Entry(position_)->Link())->ReadCurrent();
  owner_->SetCurrent(*Entry(position_));
  return true;
}

bool GSobjIndexKey::GoNext() {
  const int32_t count = EntryCount();
  if (IsLeaf()) {
    ++position_;
    if (position_ >= count) {
      position_ = count;
      return false;
    }
    owner_->SetCurrent(*Entry(position_));
    return true;
  }
  if (position_ < 0) position_ = 0;
  while (position_ < count) {
    const bool fresh = !child_ || child_->pageAddress_ != static_cast<int32_t>(Entry(position_)->Link()) ||
                       child_->split_;
    GSobjIndexKey* child = LoadChild(Entry(position_)->Link());
    if (fresh) child->position_ = child->IsLeaf() ? -1 : 0;
    if (child->GoNext()) return true;
    ++position_;
  }
  position_ = count - 1;
  return false;
}

bool GSobjIndexKey::GoPrior() {
  const int32_t count = EntryCount();
  if (IsLeaf()) {
    if (position_ > count) position_ = count;
    --position_;
    if (position_ < 0) {
      position_ = -1;
      return false;
    }
    owner_->SetCurrent(*Entry(position_));
    return true;
  }
  if (count == 0) return false;
  // A seek past the last key leaves the position at the count: step back
  // from the last child then.
  if (position_ >= count) position_ = count - 1;
  while (position_ >= 0) {
    const bool fresh = !child_ || child_->pageAddress_ != static_cast<int32_t>(Entry(position_)->Link()) ||
                       child_->split_;
    GSobjIndexKey* child = LoadChild(Entry(position_)->Link());
    if (fresh) child->position_ = child->IsLeaf() ? child->EntryCount() : child->EntryCount() - 1;
    if (child->GoPrior()) return true;
    --position_;
  }
  position_ = 0;
  return false;
}

// ---------------------------------------------------------------------------
// GSobjIndexKey: maintenance

void GSobjIndexKey::InsertEntry(const GSobjIndexKeyData& entry, bool after) {
  if (!IsLeaf() && child_) {
    child_->InsertEntry(entry, after);
    return;
  }
  InsertHere(entry, after);
}

void GSobjIndexKey::InsertHere(const GSobjIndexKeyData& entry, bool after) {
  auto e = std::make_unique<GSobjIndexKeyData>(entry);
  if (after) ++position_;
  position_ = std::clamp(position_, 0, EntryCount());
  if (parent_ && position_ >= EntryCount()) {
    // A new last entry: the node's high key changes.
    GSobjIndexKeyData high(*e);
    high.SetLink(static_cast<uint32_t>(pageAddress_));
    ReplaceParentEntry(high);
  }
  Insert(static_cast<size_t>(position_), std::move(e));
  changed_ = true;
  keyOrder_ = kOrderUnknown;
}

void GSobjIndexKey::ReplaceParentEntry(const GSobjIndexKeyData& entry) {
  GSobjIndexKey* parent = parent_;
  if (!parent) return;
  const int32_t savedPosition = parent->position_;
  const int32_t index = parent->IndexOfLink(static_cast<uint32_t>(pageAddress_));
  if (index >= 0) {
    // The replacement takes the old entry's place; only when it is the
    // parent's last entry does the change travel further up.
    parent->DeleteAt(static_cast<size_t>(index));
    parent->keyOrder_ = kOrderUnknown;
    parent->position_ = index;
    parent->InsertHere(entry, false);
  } else {
    parent->position_ = parent->EntryCount() - 1;
    parent->InsertHere(entry, true);
  }
  parent->position_ = savedPosition;
}

void GSobjIndexKey::DeleteEntry() {
  changed_ = true;
  if (!IsLeaf() && child_) {
    child_->DeleteEntry();
    return;
  }
  DeleteHere();
}

void GSobjIndexKey::DeleteHere() {
  const int32_t count = EntryCount();
  if (position_ < 0 || position_ >= count) return;
  const bool wasLast = position_ == count - 1;
  DeleteAt(static_cast<size_t>(position_));
  changed_ = true;
  keyOrder_ = kOrderUnknown;
  position_ = std::max(0, std::min(position_, EntryCount() - 1));
  if (EntryCount() == 0 && !parent_) {
    // An emptied root is an empty leaf: new keys go straight into it.
    nodeKind_ = kLeaf;
    return;
  }
  if (!wasLast || !parent_) return;
  if (EntryCount() == 0) {
    if (owner_->KeepsEmptyRightmostNodes() && OnRightmostPath()) return;
    RemoveFromParent();
  } else {
    GSobjIndexKeyData high(*Entry(EntryCount() - 1));
    high.SetLink(static_cast<uint32_t>(pageAddress_));
    ReplaceParentEntry(high);
  }
}

void GSobjIndexKey::RemoveFromParent() {
  GSobjIndexKey* parent = parent_;
  if (!parent) return;
  const int32_t index = parent->IndexOfLink(static_cast<uint32_t>(pageAddress_));
  if (index < 0) return;
  parent->position_ = index;
  parent->DeleteHere();
}

void GSobjIndexKey::LinkNewSibling(const GSobjIndexKeyData& entry) {
  if (!parent_) owner_->GrowRootAbove(*this);
  GSobjIndexKey* parent = parent_;
  const int32_t index = parent->IndexOfLink(static_cast<uint32_t>(pageAddress_));
  if (index < 0) RaiseError(Msg::IndexCorrupted, owner_->OwnerFile()->FileName());
  parent->position_ = index;
  parent->InsertHere(entry, false);
  split_ = true;
}

// ---------------------------------------------------------------------------
// GSobjIndexTag: the chain

GSobjIndexTag::GSobjIndexTag(GSobjIndexFile* file, std::string_view name, int32_t headerAddress)
    : tagName_(name), ownerFile_(file), headerAddress_(headerAddress) {
  if (ownerFile_) ownerFile_->RegisterTag(this);
}

GSobjIndexTag::~GSobjIndexTag() {
  if (ownerFile_) ownerFile_->UnregisterTag(this);
}

GSO_dBaseDBF* GSobjIndexTag::Table() const {
  GSobjIndexOwner* owner = ownerFile_ ? ownerFile_->Owner() : nullptr;
  return owner ? owner->IndexTable() : nullptr;
}

void GSobjIndexTag::Corrupted() const { RaiseError(Msg::IndexCorrupted, ownerFile_->FullPath()); }

void GSobjIndexTag::RefuseNodeOnPath(const GSobjIndexKey& image, int32_t address, int maxLevels) const {
  int depth = 0;
  for (const GSobjIndexKey* up = image.Parent(); up; up = up->Parent())
    if (up->PageAddress() == address || ++depth >= maxLevels) Corrupted();
}

void GSobjIndexTag::ReleasePagesQuietly() noexcept {
  try {
    ReleasePages();
  } catch (...) {
  }
}

void GSobjIndexTag::SetCurrent(const GSobjIndexKeyData& entry) { currentKey_.CopyEntry(entry); }

GSobjIndexKey* GSobjIndexTag::LoadChildAt(GSobjIndexKey& node, uint32_t address) {
  size_t level = 0;
  while (level < chain_.size() && chain_[level].get() != &node) ++level;
  if (level == chain_.size()) RaiseError(Msg::IndexCorrupted, ownerFile_->FileName());
  if (level + 1 < chain_.size()) {
    GSobjIndexKey* loaded = chain_[level + 1].get();
    if (loaded->pageAddress_ == static_cast<int32_t>(address) && !loaded->split_) return loaded;
    ReleaseLevels(level + 1);
    // A split written just now may have moved the entries of this node.
    if (node.position_ < 0 || node.position_ >= node.EntryCount() ||
        node.Entry(node.position_)->Link() != address) {
      const int32_t index = node.IndexOfLink(address);
      if (index >= 0) node.position_ = index;
    }
  }
  if (chain_.size() >= kMaxChainLevels) RaiseError(Msg::IndexCorrupted, ownerFile_->FileName());
  std::unique_ptr<GSobjIndexKey> image = LoadImage(static_cast<int32_t>(address), &node);
  node.child_ = image.get();
  chain_.push_back(std::move(image));
  return node.child_;
}

std::unique_ptr<GSobjIndexKey> GSobjIndexTag::LoadImage(int32_t address, GSobjIndexKey* parent) {
  if (keeping_ && address > 0) {
    const auto found = kept_.find(address);
    // A node met again on its own path is left to ReadPage, which refuses
    // the cycle.
    bool onPath = false;
    for (GSobjIndexKey* up = parent; up && !onPath; up = up->parent_) onPath = up->pageAddress_ == address;
    if (found != kept_.end() && !onPath) {
      std::unique_ptr<GSobjIndexKey> image = TakeKept(found);
      image->parent_ = parent;
      image->child_ = nullptr;
      image->position_ = -1;
      image->atFirst_ = image->atLast_ = false;
      return image;
    }
  }
  std::unique_ptr<GSobjIndexKey> image;
  if (!spare_.empty()) {
    // A spare image starts afresh but keeps its entry objects for a format
    // that refills them; every ReadPage clears or refills them.
    image = std::move(spare_.back());
    spare_.pop_back();
    image->pageAddress_ = address;
    image->leftSibling_ = image->rightSibling_ = -1;
    image->child_ = nullptr;
    image->nodeKind_ = GSobjIndexKey::kLeaf;
    image->position_ = -1;
    image->changed_ = image->split_ = image->atFirst_ = image->atLast_ = image->asRead_ = false;
    image->leaf = GSobjIndexKey::LeafParameters{};
    if (address <= 0) image->ClearAndFree();
  } else {
    image = std::make_unique<GSobjIndexKey>(this, address);
  }
  image->parent_ = parent;
  image->keyOrder_ = GSobjIndexKey::kOrderUnknown;
  if (address > 0) {
    ReadPage(address, *image);
    image->asRead_ = true;
    image->keyOrder_ = GSobjIndexKey::kOrderUnknown;
  }
  return image;
}

void GSobjIndexTag::KeepImage(std::unique_ptr<GSobjIndexKey> image) {
  image->parent_ = image->child_ = nullptr;
  if (!keeping_ || !image->asRead_ || image->changed_ || image->split_ || image->pageAddress_ <= 0) {
    SpareImage(std::move(image));
    return;
  }
  const int32_t address = image->pageAddress_;
  DropKeptImage(address);
  const bool leaf = image->IsLeaf();
  AddKept(address, std::move(image), leaf);
  // While the file's blocks are cached under this process's lock nobody
  // else changes the nodes, and a bulk of writes meets the same leaves again
  // and again: more images are kept, leaves too.
  const bool held = ownerFile_ && ownerFile_->BlockCacheActive();
  const size_t limit = held ? kKeptImagesUnderLock : kKeptImages;
  const size_t leafLimit = held ? kKeptImagesUnderLock : kKeptLeaves;
  while (keptLeafOrder_.size() > leafLimit) DropKeptImage(keptLeafOrder_.front());
  while (kept_.size() > limit)
    DropKeptImage(keptBranchOrder_.empty() ? keptLeafOrder_.front() : keptBranchOrder_.front());
}

void GSobjIndexTag::SpareImage(std::unique_ptr<GSobjIndexKey> image) {
  if (spare_.size() < kSpareImages) spare_.push_back(std::move(image));
}

void GSobjIndexTag::DropKeptImage(int32_t address) {
  const auto found = kept_.find(address);
  if (found == kept_.end()) return;
  SpareImage(TakeKept(found));
}

std::unique_ptr<GSobjIndexKey> GSobjIndexTag::TakeKept(std::map<int32_t, KeptImage>::iterator found) {
  std::list<int32_t>& order = KeptOrder(found->second.leaf);
  if (freeOrder_.size() < kFreeSlots)
    freeOrder_.splice(freeOrder_.end(), order, found->second.order);
  else
    order.erase(found->second.order);
  auto slot = kept_.extract(found);
  std::unique_ptr<GSobjIndexKey> image = std::move(slot.mapped().image);
  if (freeKept_.size() < kFreeSlots) freeKept_.push_back(std::move(slot));
  return image;
}

void GSobjIndexTag::AddKept(int32_t address, std::unique_ptr<GSobjIndexKey> image, bool leaf) {
  std::list<int32_t>& order = KeptOrder(leaf);
  if (freeOrder_.empty()) {
    order.push_back(address);
  } else {
    freeOrder_.front() = address;
    order.splice(order.end(), freeOrder_, freeOrder_.begin());
  }
  KeptImage kept{std::move(image), std::prev(order.end()), leaf};
  if (freeKept_.empty()) {
    kept_.emplace(address, std::move(kept));
    return;
  }
  auto slot = std::move(freeKept_.back());
  freeKept_.pop_back();
  slot.key() = address;
  slot.mapped() = std::move(kept);
  kept_.insert(std::move(slot));
}

void GSobjIndexTag::DropKeptImagesIn(int64_t address, int64_t length) {
  // Kept images are ordered by address: only those from one span below the
  // written bytes up to their end can overlap them.
  const int64_t from = std::clamp<int64_t>(address - keptNodeSpan_ + 1, INT32_MIN, INT32_MAX);
  for (auto it = kept_.lower_bound(static_cast<int32_t>(from));
       it != kept_.end() && it->first < address + length;) {
    KeptOrder(it->second.leaf).erase(it->second.order);
    it = kept_.erase(it);
  }
}

void GSobjIndexTag::DropKeptImages() {
  kept_.clear();
  keptLeafOrder_.clear();
  keptBranchOrder_.clear();
}

bool GSobjIndexTag::HasUnwrittenChanges() const {
  return HeldKeyCount() > 0 ||
         std::any_of(chain_.begin(), chain_.end(), [](const auto& image) { return image->changed_; });
}

void GSobjIndexTag::ApplyPendingKeys() {
  if (HeldKeyCount() == 0) return;
  InsertHeldKeys();
}

bool GSobjIndexTag::HoldAppendedRecord(TRecNo) { return false; }

bool GSobjIndexTag::LastHeldKeyIs(const GSobjIndexKeyData& key, TRecNo n) {
  return !pendingKeys_.empty() && pendingKeys_.back().Link() == static_cast<uint32_t>(n) &&
         CompareKeys(key, pendingKeys_.back(), -1) == 0;
}

void GSobjIndexTag::InsertHeldKeys() {
  if (pendingKeys_.empty()) return;
  std::vector<GSobjIndexKeyData> keys = std::move(pendingKeys_);
  pendingKeys_.clear();
  // Sorted by their stored forms (InsertKey makes its own from the key as
  // evaluated). Equal keys keep the order of their records: in a unique tag
  // the first record keeps the entry, as when the keys went in one by one.
  std::vector<GSobjIndexKeyData> stored(keys);
  for (GSobjIndexKeyData& key : stored) NormalizeKey(key, true);
  std::vector<size_t> order(keys.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return CompareKeys(stored[a], stored[b], -1) < 0; });
  stored.clear();
  UpdatingScope scope(*this);
  ResetPages(kResetRootOnly);
  for (size_t i : order) {
    InsertKey(keys[i]);
    // A leaf that many keys went into is written (and so split) before it
    // grows further: entries are kept in a plain array.
    if (LeafImage() && LeafImage()->EntryCount() > kMostLeafEntries) ResetPages(kResetRootOnly);
  }
  ReleasePages();
}

void GSobjIndexTag::WriteBack(GSobjIndexKey& image) {
  if (!image.changed_) return;
  image.asRead_ = false;
  image.keyOrder_ = GSobjIndexKey::kOrderUnknown;
  if (image.pageAddress_ <= 0) {
    image.pageAddress_ = ownerFile_->AllocatePage();
    if (!image.parent_) {
      rootAddress_ = image.pageAddress_;
      headerChanged_ = true;
    }
  }
  WritePage(image);
  image.changed_ = false;
}

void GSobjIndexTag::ReleaseLevels(size_t keepLevels) {
  while (chain_.size() > keepLevels) {
    // Writing may split the image and grow a new root in front of the
    // chain; the image written stays the deepest.
    WriteBack(*chain_.back());
    std::unique_ptr<GSobjIndexKey> gone = std::move(chain_.back());
    chain_.pop_back();
    if (gone->parent_ && gone->parent_->child_ == gone.get()) gone->parent_->child_ = nullptr;
    KeepImage(std::move(gone));
  }
}

void GSobjIndexTag::GrowRootAbove(GSobjIndexKey& node) {
  auto root = std::make_unique<GSobjIndexKey>(this, node.pageAddress_);
  root->nodeKind_ = 1;
  node.pageAddress_ = ownerFile_->AllocatePage();
  if (!node.IsLeaf()) node.nodeKind_ = 0;
  if (node.EntryCount() > 0) {
    GSobjIndexKeyData high(*node.Entry(node.EntryCount() - 1));
    high.SetLink(static_cast<uint32_t>(node.pageAddress_));
    root->AddEntry(high);
  }
  root->position_ = 0;
  root->changed_ = true;
  root->child_ = &node;
  node.parent_ = root.get();
  chain_.insert(chain_.begin(), std::move(root));
  headerChanged_ = true;
}

void GSobjIndexTag::ReleasePages() {
  ApplyPendingKeys();
  ReleaseLevels(0);
  ClearCurrent();
  if (headerChanged_) WriteHeader();
}

void GSobjIndexTag::ResetPages(int mode) {
  ReleasePages();
  // The chain is loaded afresh: kept images serve only while the file is
  // unchanged by others.
  keeping_ = ownerFile_ && ownerFile_->RefreshNodeStamp();
  if (!keeping_) DropKeptImages();
  chainGeneration_ = ownerFile_ ? ownerFile_->ImageGeneration() : 0;
  chain_.push_back(LoadImage(rootAddress_, nullptr));
  if (mode == kResetRootOnly) return;
  GSO_dBaseDBF* table = Table();
  if (mode == kResetSync && keyEvaluator_ && table && table->RecNumber() >= 1 &&
      table->RecNumber() <= table->RecordCount() && RootImage()->EntryCount() > 0) {
    GSobjIndexKeyData key;
    if (EvaluateKey(key)) {
      NormalizeKey(key, true);
      const TRecNo recNo = table->RecNumber();
      if (RootImage()->SeekInPage(recNo, key, -1) == 0) {
        RootImage()->CurrentEntry(currentKey_);
        MoveOnce(GotoCurrent);
        if (CurrentRecord() != 0) return;
      }
    }
  }
  MoveOnce(GotoFirst);
}

void GSobjIndexTag::RestartAtRoot() {
  const bool reusable =
      !chain_.empty() && keeping_ && !updating_ && !headerChanged_ &&
      chain_.front()->pageAddress_ == rootAddress_ &&
      std::none_of(chain_.begin(), chain_.end(), [](const auto& image) { return image->changed_ || image->split_; });
  if (reusable) {
    if (ownerFile_->RefreshNodeStamp() && ownerFile_->ImageGeneration() == chainGeneration_) {
      ClearCurrent();
      return;
    }
    // The file has changed since: the loaded images may no longer match
    // their nodes and must not be kept (the kept ones are gone already).
    while (!chain_.empty()) {
      SpareImage(std::move(chain_.back()));
      chain_.pop_back();
    }
  }
  ResetPages(kResetRootOnly);
}

// ---------------------------------------------------------------------------
// GSobjIndexTag: comparison, ranges, positioning

int GSobjIndexTag::CompareKeys(const TgsVariant& probe, const TgsVariant& stored, int partial,
                               int* matched) const {
  int position = 0;
  // Keys are bytes nearly always (text, or the binary forms of numbers and
  // dates): compared straight away, without the value cell's general
  // compare.
  const int result =
      probe.IsBytes() && stored.IsBytes() && !probe.IsEmpty() && !stored.IsEmpty()
          ? TgsVariant::CompareBytes(probe.Data(), probe.Length(), stored.Data(), stored.Length(),
                                     probe.Tag() == TgsVariant::kText || stored.Tag() == TgsVariant::kText,
                                     partial, matched ? &position : nullptr)
          : probe.Compare(&stored, position, nullptr, partial);
  if (matched) *matched = position > 0 ? position - 1 : 0;
  return descendingCompare_ ? -result : result;
}

int GSobjIndexTag::RangeTest() {
  if (!HasRange() || updating_) return 0;
  if (atTop_ || atEnd_) return atEnd_ ? 1 : -1;
  int r = 0;
  if (rangeHigh_.Length() > 0) r = CompareKeys(rangeHigh_, currentKey_, rangePartial_);
  if (highContinue_ && r == 0) r = 1;
  if (r <= 0) return r;
  int c = rangeLow_.Length() > 0 ? CompareKeys(rangeLow_, currentKey_, 0) : -1;
  if (lowInclusive_ && c == 0) c = -1;
  return c + 1;
}

// Sets at end past the high bound and at top below the low bound (or on an
// exclusive low bound); never moves.
void GSobjIndexTag::EdgeCheck() {
  if (!HasRange() || updating_ || atTop_ || atEnd_) return;
  int r = 0;
  if (rangeHigh_.Length() > 0) {
    r = CompareKeys(rangeHigh_, currentKey_, rangePartial_);
    atEnd_ = r == -1;
  }
  if (r >= 0 && rangeLow_.Length() > 0) {
    const int c = CompareKeys(rangeLow_, currentKey_, 0);
    atTop_ = c == 1 || (c == 0 && !lowInclusive_);
  }
}

bool GSobjIndexTag::SetRange(const TgsVariant* low, bool lowInclusive, const TgsVariant* high,
                             bool highContinue, bool partial) {
  auto bound = [this](const TgsVariant* given, GSobjIndexKeyData& out) {
    if (!given || given->IsEmpty()) return;
    std::string text = given->AsText();
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (text.empty()) return;
    out.SetText(text);
    NormalizeKey(out, true);
  };
  GSobjIndexKeyData newLow, newHigh;
  bound(low, newLow);
  bound(high, newHigh);
  auto differs = [this](const GSobjIndexKeyData& a, const GSobjIndexKeyData& b) {
    if (a.Length() == 0 || b.Length() == 0) return a.Length() != b.Length();
    return CompareKeys(a, b, -1) != 0;
  };
  const bool changed = differs(newLow, rangeLow_) || differs(newHigh, rangeHigh_);
  if (!changed) return false;
  rangeLow_.Reset();
  rangeHigh_.Reset();
  rangePartial_ = partial ? 0 : -1;
  lowInclusive_ = lowInclusive;
  highContinue_ = highContinue;
  if (newLow.Length() > 0) rangeLow_.CopyValue(newLow);
  if (newHigh.Length() > 0) rangeHigh_.CopyValue(newHigh);
  MoveTo(GotoFirst);
  return true;
}

// ---------------------------------------------------------------------------
// GSobjIndexTag: reading beside a writer
//
// Under the lock protocols that do not lock the index for reading, another
// process may rewrite a node while this one reads it, or link a node it has
// not written yet: the chain then meets a node that looks damaged. A reader
// that may meet a writer (a shared file this process does not lock, no
// changes of its own in the chain) drops the chain and its kept images and
// reads again, from the root, a bounded number of times; a fault that stays
// is the file's and is raised.

namespace {

constexpr int kRereads = 20;

}  // namespace

bool GSobjIndexTag::MayMeetWriter() const {
  GSO_DiskFile* disk = ownerFile_ ? ownerFile_->DiskFile() : nullptr;
  return disk && disk->IsShared() && disk->LockCount() == 0 && !updating_ && !HasUnwrittenChanges();
}

void GSobjIndexTag::DiscardChain() {
  chain_.clear();
  ClearCurrent();
  DropKeptImages();
  keeping_ = false;
}

template <class F>
TRecNo GSobjIndexTag::Reread(F&& step) {
  for (int attempt = 0;; ++attempt) {
    try {
      return step(attempt);
    } catch (const EDeridarError&) {
      if (attempt + 1 >= kRereads || !MayMeetWriter()) throw;
    }
    DiscardChain();
    // Give the writer time to finish its nodes.
    if (attempt > 0) platform::SleepMilliseconds(static_cast<unsigned>(std::min(attempt, 10)));
  }
}

TRecNo GSobjIndexTag::MoveTo(int32_t code) {
  if (HeldKeyCount() > 0) {
    // The new keys go in; the chain stands on the current entry again.
    const GSobjIndexKeyData saved = currentKey_;
    ApplyPendingKeys();
    if (saved.Link() != 0) {
      ResetPages(kResetRootOnly);
      RootImage()->SeekInPage(static_cast<int32_t>(saved.Link()), saved, -1);
      currentKey_ = saved;
    }
  }
  const uint32_t link = currentKey_.Link();
  const bool step = code == GotoNext || code == GotoPrevious || code == GotoCurrent;
  GSobjIndexKeyData origin;
  return Reread([&](int attempt) {
    int32_t move = code;
    if (attempt > 0 && step && link != 0) {
      // A failed step drops only the current key's record, never its value
      // (a new entry is copied in only when the step succeeds).
      if (attempt == 1) {
        origin.CopyEntry(currentKey_);
        origin.SetLink(link);
      }
      // Stand where the current entry was in the chain read afresh and step
      // from there. When it is gone the chain stands on the entry after it,
      // which is itself the next one going forward.
      ResetPages(kResetRootOnly);
      const int r = RootImage()->SeekInPage(static_cast<int32_t>(link), origin, -1);
      if (r == -1 && code != GotoCurrent && (code == GotoNext) != reversed_) move = GotoCurrent;
    }
    return MoveOnce(move);
  });
}

TRecNo GSobjIndexTag::MoveOnce(int32_t code) {
  ClearCurrent();
  if (chain_.empty()) {
    // The chain is loaded on demand; without a root there is nothing.
    if (rootAddress_ <= 0) return 0;
    ResetPages(kResetRootOnly);
  }
  if (reversed_) {
    switch (code) {
      case GotoFirst: code = GotoLast; break;
      case GotoLast: code = GotoFirst; break;
      case GotoNext: code = GotoPrevious; break;
      case GotoPrevious: code = GotoNext; break;
      default: break;
    }
  }
  atTop_ = atEnd_ = false;
  switch (code) {
    case GotoFirst: {
      RestartAtRoot();
      GSobjIndexKey* root = RootImage();
      if (rangeLow_.Length() > 0 && !updating_) {
        // An exclusive low bound also passes over the keys equal to it.
        const int r = root->SeekInPage(lowInclusive_ ? -1 : kMaxRecNo, rangeLow_, 0);
        atEnd_ = r == 1;
        if (!atEnd_) root->CurrentEntry(currentKey_);
      } else {
        atTop_ = !root->GoFirst();
      }
      EdgeCheck();
      if (atEnd_) atTop_ = true;
      atEnd_ = atTop_;
      break;
    }
    case GotoLast: {
      RestartAtRoot();
      GSobjIndexKey* root = RootImage();
      if (rangeHigh_.Length() > 0 && !updating_) {
        const int r = root->SeekInPage(kMaxRecNo, rangeHigh_, rangePartial_);
        if (r == -1)
          atTop_ = !root->GoPrior();
        else if (r == 0)
          root->CurrentEntry(currentKey_);
        else
          atEnd_ = !root->GoLast();
      } else {
        atEnd_ = !root->GoLast();
      }
      EdgeCheck();
      if (atTop_) atEnd_ = true;
      atTop_ = atEnd_;
      break;
    }
    case GotoNext:
      if (!StepInLeaf(1)) atEnd_ = !RootImage()->GoNext();
      EdgeCheck();
      break;
    case GotoPrevious:
      if (!StepInLeaf(-1)) atTop_ = !RootImage()->GoPrior();
      EdgeCheck();
      break;
    case GotoCurrent:
      atTop_ = atEnd_ = !RootImage()->ReadCurrent();
      EdgeCheck();
      break;
    default:
      break;
  }
  // Nothing to stand on: every move of an empty tag reports both ends.
  if (RootImage()->EntryCount() == 0) atTop_ = atEnd_ = true;
  if (atTop_ || atEnd_) {
    ClearCurrent();
    if (reversed_) std::swap(atTop_, atEnd_);
  }
  return CurrentRecord();
}

// A step from the root passes down through every level to the leaf, which
// moves within itself unless it is at its end. When the chain stands as a
// descent or a step left it (each image the loaded child of the one above,
// at an entry inside it, nothing changed or split), the step that stays in
// the leaf goes to the leaf directly.
bool GSobjIndexTag::StepInLeaf(int direction) {
  if (chain_.empty()) return false;
  GSobjIndexKey& leaf = *chain_.back();
  if (!leaf.IsLeaf() || leaf.changed_ || leaf.split_) return false;
  const int32_t to = leaf.position_ + direction;
  if (leaf.position_ < 0 || to < 0 || to >= leaf.EntryCount()) return false;
  for (size_t level = 0; level + 1 < chain_.size(); ++level) {
    const GSobjIndexKey& node = *chain_[level];
    if (node.child_ != chain_[level + 1].get() || node.changed_ || node.split_ || node.position_ < 0 ||
        node.position_ >= node.EntryCount())
      return false;
  }
  leaf.position_ = to;
  SetCurrent(*leaf.Entry(static_cast<size_t>(to)));
  // Entries lie apart on the heap: the next steps' ones are fetched into
  // the cache while the caller reads the record (the entry after this one
  // had its object fetched by the step before, so its key can follow now).
  const int32_t count = leaf.EntryCount();
  if (const int32_t next = to + direction; next >= 0 && next < count)
    __builtin_prefetch(leaf.Entry(static_cast<size_t>(next))->Data());
  if (const int32_t after = to + 2 * direction; after >= 0 && after < count)
    __builtin_prefetch(leaf.Entry(static_cast<size_t>(after)));
  return true;
}

TRecNo GSobjIndexTag::SeekKey(const GSobjIndexKeyData& probe) {
  GSobjIndexOwner* owner = ownerFile_->Owner();
  ownerFile_->SetExactMatch(owner ? owner->IndexExactMatch() : true);
  return Reread([&](int) {
    ClearCurrent();
    ResetPages(kResetPlain);
    return SeekKeyWith(probe);
  });
}

TRecNo GSobjIndexTag::SeekKeyWith(const GSobjIndexKeyData& probe) {
  ClearCurrent();
  if (chain_.empty()) return 0;
  GSobjIndexKeyData key(probe);
  NormalizeKey(key, true);
  atTop_ = atEnd_ = false;
  const int partial = ownerFile_->ExactMatch() || updating_ ? -1 : 0;
  const int r = RootImage()->SeekInPage(static_cast<int32_t>(key.Link()), key, partial);
  if (r == 0) {
    RootImage()->CurrentEntry(currentKey_);
    if (RangeTest() == 0) return CurrentRecord();
    atEnd_ = true;
    return 0;
  }
  if (r == 1) {
    atEnd_ = true;
    return 0;
  }
  const int bits = RootImage()->CurrentEntry(currentKey_);
  if (bits == 1)
    atTop_ = true;
  else if (bits >= 2)
    atEnd_ = true;
  else
    atEnd_ = RangeTest() == -1;
  return 0;
}

TRecNo GSobjIndexTag::LookupKey(const GSobjIndexKeyData& probe) {
  const GSobjIndexKeyData savedKey = currentKey_;
  const bool savedTop = atTop_, savedEnd = atEnd_;
  auto restoreKey = [&] {
    currentKey_ = savedKey;
    atTop_ = savedTop;
    atEnd_ = savedEnd;
  };
  if (HasUnwrittenChanges()) {
    // Changes not yet written would be missed by a chain read afresh: write
    // them, seek, then stand on the old entry again.
    ReleasePages();
    const TRecNo found = SeekKey(probe);
    ResetPages(kResetRootOnly);
    if (savedKey.Link() != 0)
      RootImage()->SeekInPage(static_cast<int32_t>(savedKey.Link()), savedKey, -1);
    restoreKey();
    return found;
  }
  // Put the chain aside; the seek works on a chain of its own, which is
  // released before the old one comes back.
  std::vector<std::unique_ptr<GSobjIndexKey>> savedChain = std::move(chain_);
  chain_.clear();
  TRecNo found = 0;
  try {
    found = SeekKey(probe);
    ReleasePages();
  } catch (...) {
    chain_ = std::move(savedChain);
    restoreKey();
    throw;
  }
  chain_ = std::move(savedChain);
  restoreKey();
  return found;
}

TRecNo GSobjIndexTag::SyncToRecord(TRecNo n) {
  if (currentKey_.Link() == 0 || static_cast<TRecNo>(currentKey_.Link()) != n)
    Reread([&](int) {
      ResetPages(kResetSync);
      return CurrentRecord();
    });
  return CurrentRecord();
}

// ---------------------------------------------------------------------------
// GSobjIndexTag: virtual slots of the base

void GSobjIndexTag::NormalizeKey(TgsVariant&, bool) {}

bool GSobjIndexTag::DefineTag(std::string_view name, std::string_view keyExpression, bool unique,
                              bool ascending, std::string_view forExpression) {
  tagName_ = name;
  keyExpression_ = keyExpression;
  unique_ = unique;
  ascending_ = ascending;
  forExpression_ = forExpression;
  hasFor_ = !forExpression_.empty();
  CompileKeyExpression();
  CompileForExpression();
  return false;
}

bool GSobjIndexTag::InsertKey(const GSobjIndexKeyData& entry) {
  if (!updating_) ResetPages(kResetPlain);
  if (chain_.empty()) return false;
  GSobjIndexKeyData key(entry);
  NormalizeKey(key, true);
  atTop_ = atEnd_ = false;
  const bool byRecord = ownerFile_->OrderByRecordNumber();
  int32_t target = byRecord ? static_cast<int32_t>(key.Link()) : (descendingCompare_ ? 0 : kMaxRecNo);
  if (unique_) {
    if (RootImage()->SeekInPage(-1, key, -1) == 0) return false;
    target = static_cast<int32_t>(key.Link());
  }
  const int r = RootImage()->SeekInPage(target, key, -1);
  // Under record-number order a match is this very record's entry.
  if (r == 0 && byRecord) return false;
  if (r == -1 || r == 0) {
    RootImage()->InsertEntry(key, false);
    if (!updating_) ResetPages(kResetPlain);
    RootImage()->SeekInPage(target, key, -1);
    if (target == kMaxRecNo) RootImage()->GoPrior();
    const int bits = RootImage()->CurrentEntry(currentKey_);
    atTop_ = (bits & 1) != 0;
    atEnd_ = (bits & 2) != 0;
  } else if (r == 1) {
    // After every entry: the physical bottom, whatever the range.
    RootImage()->GoLast();
    RootImage()->InsertEntry(key, true);
    if (!updating_) ResetPages(kResetPlain);
    RootImage()->GoLast();
    RootImage()->CurrentEntry(currentKey_);
    atEnd_ = true;
  } else {
    return false;
  }
  if (reversed_) std::swap(atTop_, atEnd_);
  return true;
}

int32_t GSobjIndexTag::ReadRootAddress() { return rootAddress_; }

bool GSobjIndexTag::ReadPage(int32_t, GSobjIndexKey&) { return false; }

bool GSobjIndexTag::WritePage(GSobjIndexKey&) { return false; }

bool GSobjIndexTag::ReadHeader() {
  headerChanged_ = false;
  return false;
}

bool GSobjIndexTag::WriteHeader() {
  headerChanged_ = false;
  return false;
}

void GSobjIndexTag::CompileKeyExpression() {
  keyEvaluator_.reset();
  GSobjIndexOwner* owner = ownerFile_ ? ownerFile_->Owner() : nullptr;
  TgsExpUserLink* link = owner ? owner->IndexExpressionLink() : nullptr;
  if (keyExpression_.empty() || !link) return;
  link->SetDefaultStrWidth(defaultStrWidth_);
  keyEvaluator_ = std::make_unique<TgsExpHandler>(link, false, keyExpression_);
}

void GSobjIndexTag::CompileForExpression() {
  forEvaluator_.reset();
  GSobjIndexOwner* owner = ownerFile_ ? ownerFile_->Owner() : nullptr;
  TgsExpUserLink* link = owner ? owner->IndexExpressionLink() : nullptr;
  if (forExpression_.empty() || !link) return;
  link->SetDefaultStrWidth(defaultStrWidth_);
  forEvaluator_ = std::make_unique<TgsExpHandler>(link, false, forExpression_);
}

bool GSobjIndexTag::EvaluateKey(GSobjIndexKeyData& entry) {
  if (!keyEvaluator_) return false;
  const TgsExpValueType type = keyEvaluator_->EvaluateToVariant(entry);
  return type != TgsExpValueType::Unknown;
}

bool GSobjIndexTag::EvaluateFor() {
  if (!forEvaluator_) return false;
  TgsExpValue value;
  return forEvaluator_->Evaluate(value) == TgsExpValueType::Boolean && value.AsBoolean();
}

int64_t GSobjIndexTag::CountKeys() {
  IndexCheckReport report;
  ownerFile_->CheckTag(*this, report, false);
  if (!report.problems.empty()) RaiseError(Msg::IndexCorrupted, ownerFile_->FullPath());
  return static_cast<int64_t>(report.entries.size());
}

bool GSobjIndexTag::CountRangeKeys(int32_t, const std::vector<uint8_t>*, int64_t& count,
                                   std::vector<TRecNo>& ends) {
  count = 0;
  ends.clear();
  return false;
}

// ---------------------------------------------------------------------------
// GSobjIndexTag: key maintenance

bool GSobjIndexTag::UpdateRecordKey(TRecNo n, bool appended) {
  keysChanged_ = false;
  GSO_dBaseDBF* table = Table();
  if (!table || !table->SnapshotBuffer() || table->RecordLength() <= 0) return false;
  // While the blocks are cached under the lock, a format that keeps the
  // waiting keys itself takes the appended record's key.
  if (appended && ownerFile_->BlockCacheActive()) {
    const size_t before = HeldKeyCount();
    if (HoldAppendedRecord(n)) {
      keysChanged_ = HeldKeyCount() != before;
      if (HeldKeysFull()) ApplyPendingKeys();
      return keysChanged_;
    }
  }
  // Every write re-keys the record, whatever the record-changed flag says:
  // any read since the record was changed clears that flag.
  UpdatingScope scope(*this);
  const bool hadRoot = !chain_.empty();

  GSobjIndexKeyData newKey;
  const bool haveKey = EvaluateKey(newKey);
  newKey.SetRecordNumber(n);
  newKey.SetLink(static_cast<uint32_t>(n));
  const bool newPass = hasFor_ ? EvaluateFor() : true;

  if (appended) {
    if (newPass && haveKey && ownerFile_->BlockCacheActive()) {
      pendingKeys_.push_back(std::move(newKey));
      keysChanged_ = true;
      if (HeldKeysFull()) ApplyPendingKeys();
    } else if (newPass && haveKey) {
      ResetPages(kResetRootOnly);
      if (InsertKey(newKey)) keysChanged_ = true;
    }
  } else {
    // The key the record had when it was read: evaluated on a copy of the
    // snapshot standing in for the record buffer.
    const size_t length = static_cast<size_t>(table->RecordLength());
    snapshotScratch_.assign(table->SnapshotBuffer(), table->SnapshotBuffer() + length);
    snapshotScratch_.push_back('\0');
    char* const current = table->CurrentRecord();
    GSobjIndexKeyData oldKey;
    bool found = false;
    bool unchanged = false;
    table->SetCurrentRecord(snapshotScratch_.data());
    try {
      EvaluateKey(oldKey);
      oldKey.SetRecordNumber(n);
      oldKey.SetLink(static_cast<uint32_t>(n));
      // With keys of appends waiting, a write that leaves the record's key
      // and FOR verdict as they were (a deletion mark after an append) need
      // not put them in the tree to find the entry: it is either the last
      // key waiting, or none at all.
      if (HeldKeyCount() > 0 && CompareKeys(newKey, oldKey, -1) == 0 && (hasFor_ ? EvaluateFor() : true) == newPass)
        unchanged = !newPass || !haveKey || LastHeldKeyIs(newKey, n);
      if (!unchanged) found = SeekKey(oldKey) > 0;
    } catch (...) {
      table->SetCurrentRecord(current);
      throw;
    }
    table->SetCurrentRecord(current);
    if (unchanged) return false;
    if (CompareKeys(newKey, oldKey, -1) != 0 || (hasFor_ && !newPass)) {
      if (found) {
        RootImage()->DeleteEntry();
        keysChanged_ = true;
      }
      if (newPass && haveKey && InsertKey(newKey)) keysChanged_ = true;
      // The entry stood for every record with the old key.
      if (found && unique_) HandOverUniqueKey(oldKey, n);
    } else if (!found && haveKey && InsertKey(newKey)) {
      keysChanged_ = true;
    }
  }
  // (Keys waiting for the tree wait on; the chain was not touched then.)
  if (!hadRoot && HeldKeyCount() == 0) ReleasePages();
  return keysChanged_;
}

void GSobjIndexTag::HandOverUniqueKey(const GSobjIndexKeyData& key, TRecNo former) {
  GSO_dBaseDBF* table = Table();
  if (!table) return;
  GSobjIndexKeyData wanted(key);
  NormalizeKey(wanted, true);
  GSobjIndexKeyData candidate, heir;
  TRecNo heirNumber = 0;
  VisitStoredRecords(1, table->RecordCount(), [&](TRecNo m) {
    if (m == former || (hasFor_ && !EvaluateFor()) || !EvaluateKey(candidate)) return true;
    GSobjIndexKeyData stored(candidate);
    NormalizeKey(stored, true);
    if (CompareKeys(stored, wanted, -1) != 0) return true;
    heir = candidate;
    heirNumber = m;
    return false;
  });
  if (heirNumber == 0) return;
  heir.SetRecordNumber(heirNumber);
  heir.SetLink(static_cast<uint32_t>(heirNumber));
  if (InsertKey(heir)) keysChanged_ = true;
}

// ---------------------------------------------------------------------------
// GSobjIndexTag: reading the table

namespace {

// Bytes of whole records read from the table at a time.
constexpr int64_t kVisitChunkBytes = 1 << 18;

// Points the table's current record somewhere for a scope.
class CurrentRecordScope {
 public:
  explicit CurrentRecordScope(GSO_dBaseDBF& table) : table_(table), saved_(table.CurrentRecord()) {}
  ~CurrentRecordScope() { table_.SetCurrentRecord(saved_); }

 private:
  GSO_dBaseDBF& table_;
  char* saved_;
};

}  // namespace

void GSobjIndexTag::VisitStoredChunks(TRecNo first, TRecNo last,
                                      const std::function<bool(TRecNo, char*, int32_t)>& visit) {
  GSO_dBaseDBF* table = Table();
  if (!table || table->RecordLength() <= 0) return;
  const int32_t length = table->RecordLength();
  first = std::max<TRecNo>(first, 1);
  last = std::min(last, table->RecordCount());
  if (first > last) return;
  const int64_t perChunk =
      std::clamp<int64_t>(kVisitChunkBytes / length, 1, int64_t{last} - first + 1);
  std::vector<char> chunk(static_cast<size_t>(perChunk * length) + 1, ' ');
  CurrentRecordScope scope(*table);
  for (int64_t n = first; n <= last;) {
    const int64_t count = std::min<int64_t>(perChunk, int64_t{last} - n + 1);
    const int32_t bytes = static_cast<int32_t>(count * length);
    const int64_t offset = int64_t{table->HeaderLength()} + (n - 1) * length;
    if (table->GSO_DiskFile::ReadAt(offset, chunk.data(), bytes) < bytes)
      RaiseError(Msg::ReadError, table->FileName());
    if (table->Encrypted())
      for (int64_t i = 0; i < count; ++i) {
        char* record = chunk.data() + i * length;
        TableCipher(table->Password(), record, record, static_cast<size_t>(length));
      }
    if (!visit(static_cast<TRecNo>(n), chunk.data(), static_cast<int32_t>(count))) return;
    n += count;
  }
}

void GSobjIndexTag::VisitStoredRecords(TRecNo first, TRecNo last,
                                       const std::function<bool(TRecNo)>& visit) {
  GSO_dBaseDBF* table = Table();
  if (!table) return;
  const size_t length = static_cast<size_t>(table->RecordLength());
  VisitStoredChunks(first, last, [&](TRecNo at, char* records, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
      table->SetCurrentRecord(records + i * length);
      if (!visit(at + i)) return false;
    }
    return true;
  });
}

namespace {

// The key type a value of the key expression gives ('C' for text and
// logical values, 'N' for numbers, 'D' for dates) and its width (the
// text's length, 1 for a logical); false for any other kind of value.
bool KindOfKey(const TgsVariant& value, char& type, int& width) {
  switch (value.Tag()) {
    case TgsVariant::kFloat: type = 'N'; break;
    case TgsVariant::kDate: type = 'D'; break;
    case TgsVariant::kText:
    case TgsVariant::kBoolean: type = 'C'; break;
    default: return false;
  }
  width = value.Tag() == TgsVariant::kBoolean ? 1 : static_cast<int>(value.Length());
  return true;
}

}  // namespace

bool GSobjIndexTag::LearnKeyType(int* textLength) {
  GSobjIndexKeyData probe;
  if (!EvaluateKey(probe)) return false;
  char type;
  int width;
  if (!KindOfKey(probe, type, width)) return false;
  keyType_ = type;
  if (textLength) *textLength = width;
  return true;
}

bool GSobjIndexTag::ProbeKeyType(char& type, int& textLength, bool raiseFault) {
  GSO_dBaseDBF* table = Table();
  if (!keyEvaluator_ || !table) return false;
  const int32_t length = table->RecordLength();
  std::vector<std::string> records;
  if (length > 0) {
    // A blank record, and one whose text fields are full.
    std::string blank(static_cast<size_t>(length) + 1, ' ');
    std::string full = blank;
    int32_t offset = 1;
    for (int32_t f = 1; f <= table->FieldCount(); ++f) {
      const int32_t width = table->DescriptorLength(f);
      const uint8_t* descriptor = table->FieldDescriptor(f);
      if (descriptor && descriptor[11] == 'C' && offset + width <= length)
        std::fill_n(full.begin() + offset, width, 'W');
      offset += width;
    }
    records.push_back(std::move(blank));
    records.push_back(std::move(full));
  }
  bool known = false;
  std::exception_ptr fault;
  auto learn = [&] {
    GSobjIndexKeyData value;
    try {
      if (!EvaluateKey(value)) return;
    } catch (const EDeridarBase&) {
      if (!fault) fault = std::current_exception();
      return;
    }
    char kind;
    int width;
    if (!KindOfKey(value, kind, width)) return;
    if (!known) {
      type = kind;
      textLength = width;
      known = true;
    } else if (kind == type) {
      textLength = std::max(textLength, width);
    }
  };
  // The first record decides the type when it can be evaluated.
  VisitStoredRecords(1, 1, [&](TRecNo) {
    learn();
    return false;
  });
  {
    CurrentRecordScope scope(*table);
    for (std::string& record : records) {
      table->SetCurrentRecord(record.data());
      learn();
    }
  }
  if (!known && fault && raiseFault) std::rethrow_exception(fault);
  return known;
}

// ---------------------------------------------------------------------------
// GSobjIndexFile

GSobjIndexFile::GSobjIndexFile(GSobjIndexOwner* owner) : owner_(owner) {}

GSobjIndexFile::~GSobjIndexFile() {
  // The tags go first, while the disk file they were read from is open.
  tags_.ClearAndFree();
  diskFile_.reset();
}

bool GSobjIndexFile::AddTag(std::string_view, std::string_view, bool, bool, std::string_view) {
  return false;
}

bool GSobjIndexFile::DeleteTag(std::string_view) { return false; }

int32_t GSobjIndexFile::AllocatePage() { return -1; }

int32_t GSobjIndexFile::ResetAllocator() { return -1; }

void GSobjIndexFile::Reindex() {}

bool GSobjIndexFile::ChangedByOthers() { return false; }

bool GSobjIndexFile::NodeStamp(int64_t&) { return false; }

bool GSobjIndexFile::RefreshNodeStamp() {
  int64_t stamp = 0;
  if (!NodeStamp(stamp)) {
    if (nodeStampKnown_) DropKeptImages();
    nodeStampKnown_ = false;
    return false;
  }
  if (!nodeStampKnown_ || stamp != nodeStamp_) {
    DropKeptImages();
    nodeStamp_ = stamp;
    nodeStampKnown_ = true;
  }
  return true;
}

void GSobjIndexFile::DropKeptImages() {
  knownSize_ = -1;
  ++imageGeneration_;
  for (GSobjIndexTag* tag : registeredTags_) tag->DropKeptImages();
}

int64_t GSobjIndexFile::KnownFileSize() { return knownSize_ >= 0 ? knownSize_ : FreshFileSize(); }

int64_t GSobjIndexFile::FreshFileSize() {
  knownSize_ = FileSize();
  return knownSize_;
}

void GSobjIndexFile::NoteFileSize(int64_t size) { knownSize_ = size; }

void GSobjIndexFile::DropImagesOverlapping(int64_t address, int64_t length) {
  for (GSobjIndexTag* tag : registeredTags_) tag->DropKeptImagesIn(address, length);
}

void GSobjIndexFile::RegisterTag(GSobjIndexTag* tag) { registeredTags_.push_back(tag); }

void GSobjIndexFile::UnregisterTag(GSobjIndexTag* tag) {
  registeredTags_.erase(std::remove(registeredTags_.begin(), registeredTags_.end(), tag), registeredTags_.end());
}

int32_t GSobjIndexFile::ReadDisk(int64_t address, uint8_t* buffer, int32_t length) {
  const int32_t got = std::max(0, diskFile_->ReadAt(address, buffer, length));
  if (got < length) std::fill(buffer + got, buffer + length, uint8_t{0});
  const std::string key = owner_ ? owner_->IndexDecipherKey() : std::string();
  if (!key.empty())
    for (int32_t at = 0; at < got; at += kCipherPiece)
      TableCipher(key, buffer + at, buffer + at, static_cast<size_t>(std::min(kCipherPiece, got - at)));
  return got;
}

void GSobjIndexFile::WriteDisk(int64_t address, const void* buffer, int32_t length) {
  const std::string key = owner_ ? owner_->IndexEncipherKey() : std::string();
  if (key.empty()) {
    diskFile_->WriteAt(address, buffer, length);
    return;
  }
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  cipherScratch_.assign(bytes, bytes + length);
  for (int32_t at = 0; at < length; at += kCipherPiece)
    TableCipher(key, cipherScratch_.data() + at, cipherScratch_.data() + at,
                static_cast<size_t>(std::min(kCipherPiece, length - at)));
  diskFile_->WriteAt(address, cipherScratch_.data(), length);
}

bool GSobjIndexFile::ReadBlock(int32_t address, void* buffer, int32_t length) {
  if (!diskFile_ || length < 0) return false;
  if (blockCache_.Active())
    return blockCache_.Read(address, buffer, length, [this](int64_t at, uint8_t* bytes, int32_t count) {
      return ReadDisk(at, bytes, count);
    });
  return ReadDisk(address, static_cast<uint8_t*>(buffer), length) == length;
}

bool GSobjIndexFile::WriteBlock(int32_t address, const void* buffer, int32_t length) {
  if (!diskFile_ || length < 0) return false;
  DropImagesOverlapping(address, length);
  knownSize_ = -1;
  ++imageGeneration_;
  if (!blockCache_.Active()) {
    WriteDisk(address, buffer, length);
    return true;
  }
  blockCache_.Write(address, buffer, length, [this](int64_t at, uint8_t* bytes, int32_t count) {
    return ReadDisk(at, bytes, count);
  });
  if (blockCache_.Full()) {
    blockCache_.WriteOut([this](int64_t at, const uint8_t* bytes, int32_t count) { WriteDisk(at, bytes, count); });
    blockCache_.Trim();
  }
  return true;
}

void GSobjIndexFile::Recrypt() {
  if (!diskFile_) return;
  // The blocks are re-enciphered on disk: cached ones go there first.
  if (blockCache_.Active())
    blockCache_.WriteOut([this](int64_t at, const uint8_t* bytes, int32_t count) { WriteDisk(at, bytes, count); });
  const std::string oldKey = owner_ ? owner_->IndexDecipherKey() : std::string();
  const std::string newKey = owner_ ? owner_->IndexEncipherKey() : std::string();
  const int64_t blocks = diskFile_->SizeOfFile() / kCipherPiece;
  uint8_t block[kCipherPiece];
  for (int64_t i = 0; i < blocks; ++i) {
    const int64_t at = i * kCipherPiece;
    if (diskFile_->ReadAt(at, block, kCipherPiece) != kCipherPiece) break;
    TableCipher(oldKey, block, block, kCipherPiece);
    TableCipher(newKey, block, block, kCipherPiece);
    diskFile_->WriteAt(at, block, kCipherPiece);
  }
}

bool GSobjIndexFile::UpdateKeys(TRecNo n, bool appended) {
  nextFreePage_ = -1;
  bool any = false;
  for (const auto& tag : tags_)
    if (tag->UpdateRecordKey(n, appended)) any = true;
  return any;
}

namespace {

size_t FolderEnd(std::string_view name) {
  const size_t slash = name.find_last_of("/\\");
  return slash == std::string_view::npos ? 0 : slash + 1;
}

std::string_view WithoutFolder(std::string_view name) { return name.substr(FolderEnd(name)); }

std::string_view Extension(std::string_view name) {
  std::string_view file = WithoutFolder(name);
  const size_t dot = file.find_last_of('.');
  return dot == std::string_view::npos ? std::string_view() : file.substr(dot);
}

std::string Trimmed(std::string_view text) {
  size_t first = 0, last = text.size();
  while (first < last && text[first] == ' ') ++first;
  while (last > first && text[last - 1] == ' ') --last;
  return std::string(text.substr(first, last - first));
}

}  // namespace

GSO_DiskFile* GSobjIndexFile::OpenDiskFile(std::string_view fileName, bool overwrite, bool create,
                                           bool readWrite, bool shared,
                                           std::string_view defaultExtension) {
  std::string name = DefaultExtension(Trimmed(fileName), defaultExtension);
  GSO_dBaseDBF* table = owner_ ? owner_->IndexTable() : nullptr;
  if (FolderEnd(name) == 0 && table)
    name = std::string(table->FileName().substr(0, FolderEnd(table->FileName()))) + name;
  fileName_ = std::string(WithoutFolder(name));
  diskFile_ = std::make_unique<GSO_DiskFile>(name, shared, readWrite);
  if (create && (overwrite || !diskFile_->Exists())) {
    createdNew_ = !diskFile_->Exists();
    diskFile_->CreateNew();
    return diskFile_.get();
  }
  try {
    diskFile_->Open();
  } catch (const EDeridarError&) {
    diskFile_.reset();
    return nullptr;
  }
  return diskFile_.get();
}

bool GSobjIndexFile::RenameFile(std::string_view newName) {
  if (!diskFile_) return false;
  std::string target = Trimmed(newName);
  const std::string_view newExtension = Extension(target);
  target.resize(target.size() - newExtension.size());
  target += Extension(diskFile_->FileName());
  if (FolderEnd(target) == 0)
    target = diskFile_->FileName().substr(0, FolderEnd(diskFile_->FileName())) + target;
  try {
    diskFile_->Rename(target);
  } catch (const EDeridarError&) {
    return false;
  }
  fileName_ = std::string(WithoutFolder(diskFile_->FileName()));
  return true;
}

void GSobjIndexFile::SetLockProtocol(TgsLokProtocol protocol) {
  switch (protocol) {
    case TgsLokProtocol::Default:
    case TgsLokProtocol::FoxLock:
      lockPositionA_ = 0x7FFFFFFE;
      lockPositionB_ = 0x40000000;
      break;
    case TgsLokProtocol::DB4Lock:
      lockPositionA_ = 0xEFFFFFFF;
      lockPositionB_ = 0x40000000;
      break;
    case TgsLokProtocol::ClipLock:
      lockPositionA_ = 1000000000;
      lockPositionB_ = 1000000000;
      break;
    default:
      return;
  }
  lockProtocol_ = protocol;
}

int64_t GSobjIndexFile::LockOffset() const {
  return lockProtocol_ == TgsLokProtocol::ClipLock ? lockPositionB_ : lockPositionA_ - 1;
}

int64_t GSobjIndexFile::LockLength() const {
  return lockProtocol_ == TgsLokProtocol::DB4Lock ? 2 : 1;
}

bool GSobjIndexFile::LockIndex() {
  if (!diskFile_) return false;
  diskFile_->LockRegionWaiting(LockOffset(), LockLength(), LockWaitTotal, LockRetryPause);
  // Nobody else changes the file until the lock goes: its blocks may stay
  // in memory till then.
  if (heldLocks_++ == 0 && CachesBlocksUnderLock() && diskFile_->IsReadWrite())
    blockCache_.Start(diskFile_->SizeOfFile());
  return true;
}

bool GSobjIndexFile::UnlockIndex() {
  if (!diskFile_) return true;
  if (heldLocks_ > 0 && --heldLocks_ == 0 && blockCache_.Active()) {
    try {
      WriteOutHeld();
    } catch (...) {
      blockCache_.Stop();
      diskFile_->Unlock();
      throw;
    }
    blockCache_.Stop();
  }
  return diskFile_->Unlock();
}

void GSobjIndexFile::FinishHeldWrites() { ReleaseTags(); }

void GSobjIndexFile::WriteOutHeld() {
  if (!blockCache_.Active()) return;
  FinishHeldWrites();
  blockCache_.WriteOut([this](int64_t at, const uint8_t* bytes, int32_t count) { WriteDisk(at, bytes, count); });
}

void GSobjIndexFile::FlushWrites() {
  if (blockCache_.Active())
    WriteOutHeld();
  else
    ReleaseTags();
  if (diskFile_) diskFile_->Flush();
}

void GSobjIndexFile::TruncateFile(int64_t size) {
  if (!diskFile_) return;
  knownSize_ = -1;
  ++imageGeneration_;
  if (blockCache_.Active()) blockCache_.Truncated(size);
  diskFile_->Truncate(size);
}

bool GSobjIndexFile::IsFileName(std::string_view name) const {
  return platform::UpperCase(WithoutFolder(Trimmed(name))) ==
         platform::UpperCase(WithoutFolder(fileName_));
}

GSobjIndexTag* GSobjIndexFile::FindTag(std::string_view name) const {
  const std::string wanted = platform::UpperCase(Trimmed(name));
  for (const auto& tag : tags_)
    if (platform::UpperCase(tag->TagName()) == wanted) return tag.get();
  return nullptr;
}

GSobjIndexTag* GSobjIndexFile::TagByPosition(int32_t index) const {
  if (index < 0 || index >= TagCount()) return nullptr;
  return tags_[static_cast<size_t>(index)];
}

void GSobjIndexFile::ReleaseTags() {
  for (const auto& tag : tags_) tag->ReleasePages();
}

// ---------------------------------------------------------------------------
// Checking a tag against its tree and its table

std::string GSobjIndexFile::FullPath() const { return diskFile_ ? diskFile_->FileName() : fileName_; }

int64_t GSobjIndexFile::FileSize() const {
  if (!diskFile_) return 0;
  return blockCache_.Active() ? blockCache_.FileSize() : diskFile_->SizeOfFile();
}

void GSobjIndexFile::WalkTag(GSobjIndexTag& /*tag*/, IndexCheckReport& report) {
  report.problems.push_back("the tree of this index format cannot be walked");
}

std::string GSobjIndexFile::CheckedKeyForm(GSobjIndexTag& /*tag*/, const GSobjIndexKeyData& key) {
  return std::string(reinterpret_cast<const char*>(key.Data()), key.Length());
}

double GSobjIndexTag::KeyNumber(const GSobjIndexKeyData& key) const {
  // Keys that hold numbers as text (right-aligned digits) read as text.
  std::string text(reinterpret_cast<const char*>(key.Data()), key.Length());
  return std::strtod(text.c_str(), nullptr);
}

void GSobjIndexFile::CheckTag(GSobjIndexTag& tag, IndexCheckReport& report, bool withTable) {
  tag.ReleasePages();
  WalkTag(tag, report);
  GSO_dBaseDBF* table = owner_ ? owner_->IndexTable() : nullptr;
  if (!withTable || !table || !tag.KeyEvaluator()) return;

  // What the tag should hold: the key of every record that passes the FOR
  // condition, read straight from the file (deleted records included).
  std::vector<IndexEntryImage> expected;
  GSobjIndexKeyData key;
  tag.VisitStoredRecords(1, table->RecordCount(), [&](TRecNo n) {
    if (tag.HasFor() && !tag.EvaluateFor()) return true;
    if (!tag.EvaluateKey(key)) return true;
    tag.NormalizeKey(key, true);
    expected.push_back({CheckedKeyForm(tag, key), static_cast<uint32_t>(n), 0});
    return true;
  });

  // Both sides are compared as sets ordered by key bytes and record number;
  // the order of the tree itself is the walk's to check.
  auto byKey = [](const IndexEntryImage& a, const IndexEntryImage& b) {
    return std::tie(a.key, a.recordNumber) < std::tie(b.key, b.recordNumber);
  };
  std::sort(expected.begin(), expected.end(), byKey);
  std::vector<IndexEntryImage> sortedHave;
  const std::vector<IndexEntryImage>* haveList = &report.entries;
  if (!std::is_sorted(report.entries.begin(), report.entries.end(), byKey)) {
    sortedHave = report.entries;
    std::sort(sortedHave.begin(), sortedHave.end(), byKey);
    haveList = &sortedHave;
  }
  const auto& have = *haveList;
  auto problem = [&report](std::string text) {
    if (report.problems.size() < 20) report.problems.push_back(std::move(text));
  };
  auto extra = [&](const IndexEntryImage& e) {
    problem("record " + std::to_string(e.recordNumber) + " has an entry it should not have");
  };
  auto missing = [&](const IndexEntryImage& e) {
    problem("record " + std::to_string(e.recordNumber) + " has no entry with its key");
  };
  size_t i = 0, j = 0;
  if (tag.Unique()) {
    // One entry per key value, for any one of the records with that key:
    // which one depends on the order records were written in.
    while (i < have.size() || j < expected.size()) {
      size_t groupEnd = j;
      while (groupEnd < expected.size() && expected[groupEnd].key == expected[j].key) ++groupEnd;
      if (j == expected.size() || (i < have.size() && have[i].key < expected[j].key)) {
        extra(have[i++]);
      } else if (i == have.size() || expected[j].key < have[i].key) {
        missing(expected[j]);
        j = groupEnd;
      } else {
        bool member = false;
        for (size_t k = j; k < groupEnd; ++k) member = member || expected[k].recordNumber == have[i].recordNumber;
        if (!member) extra(have[i]);
        ++i;
        j = groupEnd;
      }
    }
    return;
  }
  while (i < have.size() || j < expected.size()) {
    if (j == expected.size() || (i < have.size() && byKey(have[i], expected[j]))) {
      extra(have[i++]);
    } else if (i == have.size() || byKey(expected[j], have[i])) {
      missing(expected[j++]);
    } else {
      ++i;
      ++j;
    }
  }
}

// ---------------------------------------------------------------------------
// GSobjNodeWrites

void GSobjNodeWrites::Write(int32_t address, const uint8_t* node, size_t bytes) {
  constexpr size_t kMostPending = 256 * 1024;
  if (!pending_.empty() &&
      (int64_t{address} != pendingAddress_ + static_cast<int64_t>(pending_.size() / addressUnit_) ||
       pending_.size() >= kMostPending))
    Flush();
  if (pending_.empty()) pendingAddress_ = address;
  pending_.insert(pending_.end(), node, node + bytes);
}

void GSobjNodeWrites::Flush() {
  if (pending_.empty()) return;
  file_.WriteBlock(pendingAddress_, pending_.data(), static_cast<int32_t>(pending_.size()));
  pending_.clear();
}
