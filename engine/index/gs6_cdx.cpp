// CDX index files and tags; see gs6_cdx.h and gs6_cdx_format.h.
#include "engine/index/gs6_cdx.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <tuple>
#include <vector>

#include "engine/expr/gs6_sql.h"
#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"
#include "engine/table/gs6_dbf.h"
#include "engine/table/gs6_dbf_fieldvars.h"
#include "engine/table/gs6_dbsy.h"
#include "engine/table/gs6_disk.h"

using namespace cdx;

namespace {

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool SameNameNoCase(std::string_view a, std::string_view b) { return UpperAscii(a) == UpperAscii(b); }

// Keeps a leaf's format fields with its image, as read or as written.
void KeepLeafParameters(GSobjIndexKey& image, const LeafParams& p, int32_t freeSpace) {
  image.leaf.freeSpace = freeSpace;
  image.leaf.recordMask = p.recordMask;
  image.leaf.duplicateMask = p.duplicateMask;
  image.leaf.trailingMask = p.trailingMask;
  image.leaf.recordBits = p.recordBits;
  image.leaf.duplicateBits = p.duplicateBits;
  image.leaf.trailingBits = p.trailingBits;
  image.leaf.bytesPerEntry = p.bytesPerEntry;
}

}  // namespace

// --- GSobjCDXTag --------------------------------------------------------------

GSobjCDXTag::GSobjCDXTag(GSobjCDXFile* file, std::string_view name, int32_t headerAddress)
    : GSobjIndexTag(file, UpperAscii(name), headerAddress), builtNodes_(*file) {
  indexKind_ = "CDX";
  defaultStrWidth_ = 10;
  keptNodeSpan_ = kBlockSize;
  if (headerAddress_ == -1) {
    headerAddress_ = file->AllocatePage();
    file->AllocatePage();  // the header's second half
    return;
  }
  headerAccepted_ = ReadHeader();
  if (!headerAccepted_) {
    file->MarkCorrupt();
    return;
  }
  options_ = kOptionOrdinary;
}

GSobjCDXTag::~GSobjCDXTag() { ReleasePagesQuietly(); }

GSobjCDXFile* GSobjCDXTag::File() const { return static_cast<GSobjCDXFile*>(ownerFile_); }

KeyFormat GSobjCDXTag::KeyFormatOf() const {
  KeyFormat f;
  f.keyLength = keyLength_;
  f.character = keyType_ == 'C';
  f.general = f.character && collation_ == Collation::General && !IsDirectory();
  return f;
}

void GSobjCDXTag::SetKeyLength(int length) {
  keyLength_ = static_cast<int16_t>(length);
  entrySize_ = static_cast<uint16_t>(length + 8);
  entriesPerNode_ = static_cast<uint16_t>(BranchCapacity(length));
}

// --- key forms ---

void GSobjCDXTag::NormalizeKey(TgsVariant& value, bool trim) {
  switch (keyType_) {
    case 'N':
    case 'D': {
      double number;
      if (value.Tag() == TgsVariant::kDate) {
        number = value.AsDate();
      } else if (value.Tag() == TgsVariant::kBinary) {
        return;  // already a stored key
      } else {
        number = value.AsFloat();
        if (keyType_ == 'D' && number >= 1.0e100) number = 0;  // no date
      }
      std::string key = NumericKey(number);
      value.SetBinary(key.data(), key.size());
      return;
    }
    default: {
      if (value.Tag() != TgsVariant::kText) value.SetText(value.AsText());
      if (trim) value.TrimText();
      if (value.Length() > 0 && collation_ == Collation::General && !IsDirectory()) {
        // The key is held as a node gives it back: cut to the key length
        // and without trailing blanks, for the weight 0x20 (of "/" and 0xA0)
        // is the blank that fills a node's key. Otherwise seeks and
        // deletions of keys ending in it would miss their entries.
        const std::string key = StoredKeyForm(
            GeneralKey(std::string_view(reinterpret_cast<const char*>(value.Data()), value.Length())),
            KeyFormat{keyLength_, true, true});
        value.SetText(key);
      }
      return;
    }
  }
}

// --- headers ---

bool GSobjCDXTag::ReadHeader() {
  uint8_t buffer[kHeaderSize];
  headerChanged_ = false;
  if (!File()->ReadBlock(headerAddress_, buffer, kHeaderSize)) return false;
  TagHeader h;
  const int64_t size = File()->DiskFile() ? File()->FileSize() : -1;
  if (!DecodeTagHeader(buffer, size, h)) return false;
  rootAddress_ = h.rootAddress;
  SetKeyLength(h.keyLength);
  options_ = h.options;
  version_ = h.version;
  unique_ = (h.options & kOptionUnique) != 0;
  hasFor_ = (h.options & kOptionHasFor) != 0 && !h.forExpression.empty();
  ascending_ = !h.descending;
  reversed_ = h.descending;
  collation_ = h.collation;
  keyType_ = 'C';
  if (!IsDirectory() && h.keyExpression.empty()) return false;
  keyExpression_ = h.keyExpression;
  forExpression_ = hasFor_ ? h.forExpression : std::string();
  CompileKeyExpression();
  if (hasFor_) CompileForExpression();
  // The key length is the header's; the type is learned from the key,
  // without failing the file when the key faults on the records tried.
  char type = 'C';
  int textLength = 0;
  if (KeyEvaluator() && ProbeKeyType(type, textLength, false)) keyType_ = type;
  return true;
}

bool GSobjCDXTag::WriteHeader() {
  if (!headerChanged_) return true;
  if (unique_) options_ |= kOptionUnique;
  if (hasFor_) options_ |= kOptionHasFor;
  TagHeader h;
  h.rootAddress = rootAddress_;
  h.version = version_;
  h.keyLength = static_cast<uint16_t>(keyLength_);
  h.options = options_;
  h.collation = collation_;
  h.descending = !ascending_;
  h.keyExpression = keyExpression_;
  h.forExpression = hasFor_ ? forExpression_ : std::string();
  uint8_t buffer[kHeaderSize];
  if (!EncodeTagHeader(h, buffer)) return false;
  File()->WriteBlock(headerAddress_, buffer, kHeaderSize);
  headerChanged_ = false;
  return true;
}

int32_t GSobjCDXTag::ReadRootAddress() {
  uint8_t buffer[kHeaderSize];
  if (!File()->ReadBlock(headerAddress_, buffer, kHeaderSize)) Corrupted();
  return static_cast<int32_t>(GetLE32(buffer));
}

// --- defining and building ---

bool GSobjCDXTag::DefineTag(std::string_view name, std::string_view keyExpression, bool unique,
                            bool ascending, std::string_view forExpression) {
  GSobjIndexTag::DefineTag(name, keyExpression, unique, ascending, forExpression);
  tagName_ = UpperAscii(tagName_);
  reversed_ = !ascending;
  if (!keyExpression.empty()) {
    int textLength = 0;
    if (!ProbeKeyType(keyType_, textLength, true)) return false;
    int length = keyType_ == 'C' ? textLength : 8;
    if (keyType_ == 'C' && collation_ == Collation::General) length = std::min(2 * length, kMaxKeyLength);
    if (length < 1 || length > kMaxKeyLength) return false;
    SetKeyLength(length);
  } else {
    keyType_ = 'C';
    SetKeyLength(10);
  }
  // Refuse expressions that do not fit the header before anything is written.
  TagHeader probe;
  probe.keyExpression = keyExpression_;
  probe.forExpression = hasFor_ ? forExpression_ : std::string();
  uint8_t buffer[kHeaderSize];
  if (!EncodeTagHeader(probe, buffer)) return false;
  std::memset(buffer, 0, sizeof buffer);
  File()->WriteBlock(headerAddress_, buffer, kHeaderSize);
  BuildTag();
  return true;
}

void GSobjCDXTag::WriteEmptyRootLeaf() {
  uint8_t node[kBlockSize] = {};
  LeafWriter writer(node, KeyFormatOf(), ComputeLeafParams(keyLength_, 0));
  writer.Clear();
  rootAddress_ = File()->AllocatePage();
  EncodeNodeHeader(NodeHeader{kAttrRoot | kAttrLeaf, 0, -1, -1}, node);
  File()->WriteBlock(rootAddress_, node, kBlockSize);
}

void GSobjCDXTag::BuildTag() {
  ReleasePages();
  GSO_dBaseDBF* table = Table();
  if (IsDirectory() || !table || !KeyEvaluator()) {
    WriteEmptyRootLeaf();
  } else {
    const TRecNo count = table->RecordCount();
    GSobjSortCDX sorter(*this, unique_, count);
    // The scanned keys go into the sorter in their stored form.
    struct Sink : BuildKeySink {
      GSobjSortCDX& sorter;
      bool binary;
      Sink(GSobjSortCDX& s, bool b) : sorter(s), binary(b) {}
      void AddFieldText(std::string_view text, TRecNo recNo) override { sorter.AddKey(text, false, recNo); }
      void AddKey(const GSobjIndexKeyData& key, TRecNo recNo) override {
        sorter.AddKey(std::string_view(reinterpret_cast<const char*>(key.Data()), key.Length()), binary, recNo);
      }
    } sink(sorter, keyType_ != 'C');
    ScanTableKeys(sink, collation_ != Collation::General);
    BuildStatus(-1, 2, count);
    try {
      sorter.Drain([this](int32_t written) { BuildStatus(2, written, 0); });
      builtNodes_.Flush();
    } catch (...) {
      builtNodes_.Release();
      throw;
    }
    builtNodes_.Release();
    BuildStatus(0, 0, 0);
  }
  headerChanged_ = true;
  WriteHeader();
}

int32_t GSobjCDXTag::AllocateNode() {
  // A merge first reuses the nodes it has freed.
  if (!freedNodes_.empty()) {
    const int32_t address = freedNodes_.back();
    freedNodes_.pop_back();
    return address;
  }
  return File()->AllocatePage();
}

void GSobjCDXTag::WriteNode(int32_t address, const uint8_t* node) { builtNodes_.Write(address, node, kBlockSize); }

bool GSobjCDXTag::InsertKey(const GSobjIndexKeyData& entry) {
  GSobjIndexKeyData copy(entry);
  copy.SetRecordNumber(static_cast<int32_t>(entry.Link()));
  return GSobjIndexTag::InsertKey(copy);
}

// --- reading nodes ---

namespace {

// Decoded entries go straight into the image's entry objects. Each entry's
// value gets room for the tag's longest key the first time, so that an
// image reused for other nodes decodes them without allocating.
class ImageRefill final : public NodeEntrySink {
 public:
  ImageRefill(GSobjIndexKey& image, const KeyFormat& fmt)
      : image_(image), character_(fmt.character), room_(static_cast<uint32_t>(std::max(fmt.keyLength, 0))) {}
  void Entry(std::string_view key, uint32_t recordNumber, uint32_t child) override {
    GSobjIndexKeyData* e = image_.RefillEntry(count_++);
    if (e->Size() < room_) e->SetSize(room_);
    if (character_)
      e->SetText(key);
    else
      e->SetBinary(key.data(), key.size());
    e->SetRecordNumber(static_cast<int32_t>(recordNumber));
    e->SetLink(child);
  }
  size_t Count() const { return count_; }

 private:
  GSobjIndexKey& image_;
  bool character_;
  uint32_t room_;
  size_t count_ = 0;
};

}  // namespace

bool GSobjCDXTag::ReadPage(int32_t address, GSobjIndexKey& image) {
  // The size known from the last look serves while the node fits in it; a
  // node or link beyond it (the file may have grown since) asks again.
  int64_t size = File()->KnownFileSize();
  if (!IsNodeAddress(address, size)) {
    size = File()->FreshFileSize();
    if (!IsNodeAddress(address, size)) Corrupted();
  }
  RefuseNodeOnPath(image, address, kMaxLevels);
  uint8_t node[kBlockSize];
  if (!File()->ReadBlock(address, node, kBlockSize)) Corrupted();
  const KeyFormat fmt = KeyFormatOf();
  for (bool fresh = false;; fresh = true) {
    NodeHeader h;
    ImageRefill refill(image, fmt);
    bool sound = DecodeNodeHeader(node, size, h);
    if (sound) {
      image.SetNodeKind(h.IsLeaf() ? GSobjIndexKey::kLeaf : 2);
      image.SetLeftSibling(h.left);
      image.SetRightSibling(h.right);
      if (h.IsLeaf()) {
        LeafParams p;
        sound = DecodeLeaf(node, fmt, refill, &p);
        KeepLeafParameters(image, p, GetLE16(node + 12));
      } else {
        sound = DecodeBranch(node, fmt, size, refill);
      }
    }
    image.KeepEntries(refill.Count());
    if (sound) return true;
    // Refused against the size known before: again against the size now.
    const int64_t now = File()->FreshFileSize();
    if (fresh || now == size) Corrupted();
    size = now;
  }
}

// --- writing nodes ---

namespace {

std::string_view KeyOf(const GSobjIndexKeyData& e) {
  return std::string_view(reinterpret_cast<const char*>(e.Data()), e.Length());
}

// Whether a leaf gives `key` back unchanged: not longer than the key, and
// without what reading drops (text: trailing blanks and anything from a zero
// byte on; binary: trailing zero bytes).
bool IsStoredForm(std::string_view key, const KeyFormat& fmt) {
  if (key.size() > static_cast<size_t>(std::max(fmt.keyLength, 0))) return false;
  if (key.empty()) return true;
  if (fmt.character) return key.back() != ' ' && key.find('\0') == std::string_view::npos;
  return key.back() != '\0';
}

}  // namespace

void GSobjCDXTag::RelinkSibling(int32_t address, int offset, int32_t link) {
  if (!IsNodeAddress(address, File()->FileSize())) return;
  uint8_t node[kBlockSize];
  if (!File()->ReadBlock(address, node, kBlockSize)) Corrupted();
  PutLE32(node + offset, static_cast<uint32_t>(link));
  File()->WriteBlock(address, node, kBlockSize);
}

bool GSobjCDXTag::WritePage(GSobjIndexKey& image) {
  if (image.EntryCount() == 0 && image.Parent()) {
    // An emptied node has left its parent: its neighbours now link to each
    // other, so that every level's chain holds only the nodes in the tree.
    RelinkSibling(image.LeftSibling(), 8, image.RightSibling());
    RelinkSibling(image.RightSibling(), 4, image.LeftSibling());
    image.SetLeftSibling(-1);
    image.SetRightSibling(-1);
  }
  if (image.IsLeaf())
    WriteLeaf(image);
  else
    WriteBranch(image);
  return true;
}

void GSobjCDXTag::WriteLeaf(GSobjIndexKey& image) {
  const KeyFormat fmt = KeyFormatOf();
  const size_t count = image.Count();
  // Entries are as wide as the largest value they store needs: a tag's
  // leaves hold any record of the table, the directory's its header
  // addresses (not the file's size, which would widen them for nothing).
  uint32_t largest = 0;
  if (!IsDirectory()) {
    if (GSO_dBaseDBF* table = Table()) largest = static_cast<uint32_t>(std::max(table->RecordCount(), 0));
  }
  for (size_t i = 0; i < count; ++i) largest = std::max(largest, image.Entry(i)->Link());
  const LeafParams params = ComputeLeafParams(keyLength_, largest);
  uint8_t node[kBlockSize];
  LeafWriter writer(node, fmt, params);

  // Entries that do not fit one node go to new nodes on the left, each
  // taking the leading entries that stay below 250 bytes.
  size_t start = 0;
  for (;;) {
    // Stored size of each remaining entry (the first one unshared), until
    // the node would overflow.
    std::vector<int> sizes;
    int total = 0;
    writer.Clear();
    for (size_t i = start; i < count && total < kLeafAreaSize; ++i) {
      const int size = writer.StoredSize(KeyOf(*image.Entry(i)));
      sizes.push_back(size);
      total += size;
      if (!writer.Add(KeyOf(*image.Entry(i)), image.Entry(i)->Link())) total = kLeafAreaSize;
    }
    if (total < kLeafAreaSize) break;
    size_t n = 0;
    int running = 0;
    while (n < sizes.size() && running + sizes[n] < 250) running += sizes[n++];
    n = std::max<size_t>(n, 1);

    writer.Clear();
    for (size_t i = start; i < start + n; ++i) writer.Add(KeyOf(*image.Entry(i)), image.Entry(i)->Link());
    const int32_t a = File()->AllocatePage();
    GSobjIndexKeyData last(*image.Entry(start + n - 1));
    last.SetLink(static_cast<uint32_t>(a));
    const int32_t formerLeft = image.LeftSibling();
    image.LinkNewSibling(last);
    EncodeNodeHeader(NodeHeader{kAttrLeaf, static_cast<uint16_t>(n), formerLeft, image.PageAddress()}, node);
    File()->WriteBlock(a, node, kBlockSize);
    if (formerLeft > 0) RelinkSibling(formerLeft, 8, a);
    image.SetLeftSibling(a);
    start += n;
  }
  writer.Clear();
  for (size_t i = start; i < count; ++i) writer.Add(KeyOf(*image.Entry(i)), image.Entry(i)->Link());
  const uint16_t attributes = static_cast<uint16_t>(kAttrLeaf | (image.Parent() ? 0 : kAttrRoot));
  EncodeNodeHeader(NodeHeader{attributes, static_cast<uint16_t>(writer.Count()), image.LeftSibling(),
                              image.RightSibling()},
                   node);
  File()->WriteBlock(image.PageAddress(), node, kBlockSize);
  KeepLeafParameters(image, params, writer.Free());
  // The image may stand for the node when reading it back would give the
  // same entries: every key already in its stored form.
  bool asStored = !image.Split() && !(fmt.character && fmt.general);
  for (size_t i = start; i < count && asStored; ++i) asStored = IsStoredForm(KeyOf(*image.Entry(i)), fmt);
  image.SetMatchesNode(asStored);
}

void GSobjCDXTag::WriteBranch(GSobjIndexKey& image) {
  const KeyFormat fmt = KeyFormatOf();
  const size_t count = image.Count();
  const size_t capacity = static_cast<size_t>(BranchCapacity(keyLength_));
  uint8_t node[kBlockSize];
  auto fill = [&](size_t from, size_t to) {
    std::memset(node, 0, sizeof node);
    ClearBranchArea(node, fmt);
    for (size_t i = from; i < to; ++i) {
      const GSobjIndexKeyData& e = *image.Entry(i);
      PutBranchEntry(node, fmt, static_cast<int>(i - from), KeyOf(e),
                     static_cast<uint32_t>(e.RecordNumber()), e.Link());
    }
  };
  size_t start = 0;
  while (count - start > capacity) {
    const size_t remaining = count - start;
    const size_t n = std::min(capacity, remaining - remaining / 2);
    fill(start, start + n);
    const int32_t b = File()->AllocatePage();
    GSobjIndexKeyData last(*image.Entry(start + n - 1));
    last.SetLink(static_cast<uint32_t>(b));
    const int32_t formerLeft = image.LeftSibling();
    image.LinkNewSibling(last);
    image.SetNodeKind(2);
    EncodeNodeHeader(NodeHeader{0, static_cast<uint16_t>(n), formerLeft, image.PageAddress()}, node);
    File()->WriteBlock(b, node, kBlockSize);
    if (formerLeft > 0) RelinkSibling(formerLeft, 8, b);
    image.SetLeftSibling(b);
    start += n;
  }
  fill(start, count);
  const uint16_t attributes = image.Parent() ? 0 : kAttrRoot;
  EncodeNodeHeader(NodeHeader{attributes, static_cast<uint16_t>(count - start), image.LeftSibling(),
                              image.RightSibling()},
                   node);
  File()->WriteBlock(image.PageAddress(), node, kBlockSize);
}

// --- GSobjCDXFile -------------------------------------------------------------

GSobjCDXFile::GSobjCDXFile(GSobjIndexOwner* owner, std::string_view fileName, bool overwrite,
                           bool create, bool readWrite, bool shared)
    : GSobjIndexFile(owner) {
  orderByRecordNumber_ = true;
  opening_ = true;
  OpenDiskFile(fileName, overwrite, create, readWrite, shared, ".cdx");
  if (!diskFile_) {
    opening_ = false;
    return;
  }
  const int64_t size = FileSize();
  if (size > kBlockSize) {
    ReadDirectory();
  } else if (size == 0 && diskFile_->IsReadWrite()) {
    CreateDirectory();
  } else {
    corrupt_ = true;  // a stub, or empty and read-only: refuse, never overwrite
  }
  if (!corrupt_) SetProductionFlag(size == 0);
  opening_ = false;
  valid_ = !corrupt_;
}

GSobjCDXFile::~GSobjCDXFile() {
  try {
    WriteOutHeld();
    ReleaseTags();
    if (directory_) directory_->ReleasePages();
  } catch (...) {
    // Nothing more can be written; the disk file closes below.
  }
  tags_.ClearAndFree();
  directory_.reset();
}

void GSobjCDXFile::ReadDirectory() {
  directory_ = std::make_unique<GSobjCDXTag>(this, BaseName(FullPath()), 0);
  if (!directory_->HeaderAccepted()) {
    corrupt_ = true;
    return;
  }
  directory_->SetOptions(kOptionDirectory);
  ResetAllocator();
  // A sound directory cannot hold more entries than its file has room for.
  const int64_t limit = FileSize() / kBlockSize * (kLeafAreaSize / 3) + 1;
  int64_t seen = 0;
  directory_->ResetPages(GSobjIndexTag::kResetRootOnly);
  for (TRecNo r = directory_->MoveTo(GotoFirst); r != 0 && !corrupt_; r = directory_->MoveTo(GotoNext)) {
    if (++seen > limit) {
      corrupt_ = true;
      break;
    }
    const GSobjIndexKeyData& e = directory_->CurrentKey();
    const std::string name(reinterpret_cast<const char*>(e.Data()), e.Length());
    const int32_t header = static_cast<int32_t>(e.Link());
    if (header <= 0 || header % kBlockSize != 0 || int64_t{header} + kHeaderSize > FileSize()) {
      corrupt_ = true;
      break;
    }
    auto tag = std::make_unique<GSobjCDXTag>(this, name, header);
    if (!tag->HeaderAccepted()) {
      corrupt_ = true;
      break;
    }
    tags_.Add(std::move(tag));
  }
  directory_->ReleasePages();
}

void GSobjCDXFile::CreateDirectory() {
  nextFreePage_ = 0;
  directory_ = std::make_unique<GSobjCDXTag>(this, BaseName(FullPath()), -1);
  directory_->SetOptions(kOptionDirectory);
  directory_->DefineTag(directory_->TagName(), "", false, true, "");
  directory_->ResetPages(GSobjIndexTag::kResetPlain);
}

void GSobjCDXFile::SetProductionFlag(bool created) {
  if (!owner_) return;
  GSO_dBaseDBF* table = owner_->IndexTable();
  if (!table || !table->IsReadWrite() || (table->FlagBits() & 0x01) != 0) return;
  // The production index is the one named like the table (file names in
  // any letter case: the two may have been copied from another system).
  const std::string tablePath = table->FileName();
  const std::string indexPath = FullPath();
  const size_t tableDot = tablePath.find_last_of('.');
  const size_t indexDot = indexPath.find_last_of('.');
  if (tableDot == std::string::npos || indexDot == std::string::npos) return;
  if (!SameNameNoCase(indexPath.substr(0, indexDot), tablePath.substr(0, tableDot))) return;
  if (created) {
    table->MarkStructuralIndex();  // other programs find the new index by the flag on disk
  } else {
    table->SetFlagBits(static_cast<uint8_t>(table->FlagBits() | 0x01));
  }
}

int32_t GSobjCDXFile::AllocatePage() {
  if (nextFreePage_ == -1) ResetAllocator();
  const int32_t address = nextFreePage_;
  nextFreePage_ += kBlockSize;
  return address;
}

int32_t GSobjCDXFile::ResetAllocator() {
  // Round a file that does not end on a block boundary up to the next one.
  const int64_t size = FileSize();
  nextFreePage_ = static_cast<int32_t>((size + kBlockSize - 1) / kBlockSize * kBlockSize);
  return nextFreePage_;
}

bool GSobjCDXFile::RemoveDirectoryEntry(GSobjCDXTag* tag) {
  GSobjIndexKeyData probe;
  probe.SetText(tag->TagName());
  probe.SetLink(static_cast<uint32_t>(tag->HeaderAddress()));
  directory_->SetUpdating(true);
  const TRecNo found = directory_->SeekKey(probe);
  directory_->SetUpdating(false);
  if (found != tag->HeaderAddress() || !directory_->RootImage()) return false;
  directory_->RootImage()->DeleteEntry();
  return true;
}

void GSobjCDXFile::AddDirectoryEntry(GSobjCDXTag* tag) {
  GSobjIndexKeyData entry;
  entry.SetText(tag->TagName());
  entry.SetRecordNumber(tag->HeaderAddress());
  entry.SetLink(static_cast<uint32_t>(tag->HeaderAddress()));
  directory_->InsertKey(entry);
  if (directory_->RootImage()) directory_->RootImage()->SetChanged(true);
}

bool GSobjCDXFile::AddTag(std::string_view name, std::string_view keyExpression, bool unique,
                          bool ascending, std::string_view forExpression) {
  if (!directory_ || corrupt_) RaiseError(Msg::IndexCorrupted, FullPath());
  // Directory keys are 10 bytes long: so are tag names.
  std::string upper = UpperAscii(name);
  while (!upper.empty() && upper.back() == ' ') upper.pop_back();
  if (upper.size() > 10) upper.resize(10);
  if (upper.empty()) RaiseError(Msg::IndexTagNotFound, std::string(name));
  // The new tag is built at the end of the file while the file's tags and
  // directory stay as they are; only a finished build replaces a tag of the
  // same name. A key or FOR expression that fails leaves the file as it was.
  const int64_t sizeBefore = FileSize();
  if (nextFreePage_ < sizeBefore) ResetAllocator();
  const int32_t freeBefore = nextFreePage_;
  auto created = std::make_unique<GSobjCDXTag>(this, upper, -1);
  created->SetCollation(defaultCollation_);
  auto discard = [&] {
    created.reset();
    TruncateFile(sizeBefore);
    DropKeptImages();
    nextFreePage_ = freeBefore;
  };
  bool defined = false;
  try {
    defined = created->DefineTag(upper, keyExpression, unique, ascending, forExpression);
    if (defined) created->ReleasePages();
  } catch (...) {
    discard();
    throw;
  }
  if (!defined) {
    discard();
    return false;
  }
  directory_->ResetPages(GSobjIndexTag::kResetPlain);
  if (auto* old = static_cast<GSobjCDXTag*>(FindTag(upper))) {
    RemoveDirectoryEntry(old);
    tags_.RemoveAndFree(old);
  }
  auto* tag = static_cast<GSobjCDXTag*>(tags_.Add(std::move(created)));
  AddDirectoryEntry(tag);
  directory_->ReleasePages();
  return true;
}

bool GSobjCDXFile::DeleteTag(std::string_view name) {
  if (tags_.Count() == 0 || !directory_) return false;
  GSobjCDXTag* tag = nullptr;
  for (const auto& t : tags_)
    if (SameNameNoCase(t->TagName(), name)) tag = static_cast<GSobjCDXTag*>(t.get());
  if (!tag) return false;
  directory_->ResetPages(GSobjIndexTag::kResetPlain);
  RemoveDirectoryEntry(tag);
  tags_.RemoveAndFree(tag);
  directory_->ReleasePages();
  if (tags_.Count() == 0) Reindex();
  return true;
}

void GSobjCDXFile::Reindex() {
  if (!directory_ || !diskFile_) return;
  diskFile_->LockWholeFile();
  try {
    ReleaseTags();
    directory_->ReleasePages();
    TruncateFile(kNewFileSize);
    DropKeptImages();
    // The directory starts again with an empty root leaf at 1024.
    nextFreePage_ = kHeaderSize;
    directory_->WriteEmptyRootLeaf();
    directory_->SetVersion(0);
    directory_->SetHeaderChanged(true);
    directory_->WriteHeader();
    for (const auto& t : tags_) {
      auto* tag = static_cast<GSobjCDXTag*>(t.get());
      tag->headerAddress_ = AllocatePage();
      AllocatePage();
      tag->SetVersion(0);
      tag->SetHeaderChanged(true);
      tag->WriteHeader();
      tag->BuildTag();
      tag->ReleasePages();
      directory_->ResetPages(GSobjIndexTag::kResetPlain);
      AddDirectoryEntry(tag);
      directory_->ReleasePages();
    }
  } catch (...) {
    diskFile_->Unlock();
    throw;
  }
  diskFile_->Unlock();
}

bool GSobjCDXFile::UpdateKeys(TRecNo n, bool appended) {
  const bool changed = GSobjIndexFile::UpdateKeys(n, appended);
  if (changed && BlockCacheActive()) {
    // Under the lock the nodes stay cached: the counter moves once, when
    // they are written out (FinishHeldWrites).
    versionPending_ = true;
  } else if (changed && directory_) {
    // The changed nodes reach the file before the counter moves, so that
    // a process that sees the new counter reads the new nodes.
    for (const auto& tag : tags_)
      if (tag->HasUnwrittenChanges()) tag->ReleasePages();
    directory_->SetVersion(directory_->Version() + 1);
    directory_->SetHeaderChanged(true);
    directory_->WriteHeader();
  }
  return changed;
}

void GSobjCDXFile::FinishHeldWrites() {
  GSobjIndexFile::FinishHeldWrites();
  if (!versionPending_ || !directory_) return;
  versionPending_ = false;
  directory_->SetVersion(directory_->Version() + 1);
  directory_->SetHeaderChanged(true);
  directory_->WriteHeader();
}

bool GSobjCDXFile::NodeStamp(int64_t& stamp) {
  if (!diskFile_ || !directory_) return false;
  // Nobody else can change a file opened for this process alone.
  if (!diskFile_->IsShared()) {
    stamp = 0;
    return true;
  }
  // A file whose modification time has settled is unchanged while that
  // time and its size stay (one look at the file's status, which gives the
  // size for the node checks as well). Shortly after a write, the version
  // counter at offset 8, which every update by any process moves, stands
  // in. The top bit keeps the two kinds of stamp apart.
  int64_t settled = 0;
  int64_t size = -1;
  const bool trusted = diskFile_->ChangeStamp(settled, &size);
  // Blocks cached under this process's lock may reach past the file's end
  // on disk: the size is then the cache's, learned when asked.
  if (size >= 0 && !BlockCacheActive()) NoteFileSize(size);
  if (trusted) {
    stamp = settled & INT64_MAX;
    return true;
  }
  uint8_t head[kBlockSize];
  if (!ReadBlock(0, head, kBlockSize)) return false;
  stamp = INT64_MIN | int64_t{GetLE32(head + 8)};
  return true;
}

bool GSobjCDXFile::ChangedByOthers() {
  if (!diskFile_ || !diskFile_->IsShared() || !directory_) return false;
  uint8_t head[kBlockSize];
  if (!ReadBlock(0, head, kBlockSize)) return false;
  return GetLE32(head + 8) != directory_->Version();
}

double GSobjCDXTag::KeyNumber(const GSobjIndexKeyData& key) const {
  return NumericKeyValue(std::string_view(reinterpret_cast<const char*>(key.Data()), key.Length()));
}

void GSobjCDXFile::WalkTag(GSobjIndexTag& tag, IndexCheckReport& report) {
  auto& cdxTag = static_cast<GSobjCDXTag&>(tag);
  const int32_t root = cdxTag.ReadRootAddress();
  WalkTree([this](int32_t address, uint8_t* node) { return ReadBlock(address, node, kBlockSize); },
           FileSize(), root, cdxTag.KeyFormatOf(), report);
}

std::string GSobjCDXFile::CheckedKeyForm(GSobjIndexTag& tag, const GSobjIndexKeyData& key) {
  return StoredKeyForm(std::string_view(reinterpret_cast<const char*>(key.Data()), key.Length()),
                       static_cast<GSobjCDXTag&>(tag).KeyFormatOf());
}
