// NDX index files and their order; see gs6_ndx.h.
#include "engine/index/gs6_ndx.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "engine/expr/gs6_sql.h"
#include "engine/index/gs6_cdx_format.h"
#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"
#include "engine/table/gs6_dbf.h"
#include "engine/table/gs6_disk.h"
#include "platform/ansi.h"

using cdx::GetLE16;
using cdx::GetLE32;
using cdx::PutLE16;
using cdx::PutLE32;

namespace ndx {

int EntrySizeFor(int keyLength) { return (keyLength + 8 + 3) / 4 * 4; }

int MaxKeysFor(int entrySize) { return entrySize > 0 ? kEntryArea / entrySize : 0; }

void EncodeHeader(const Header& h, uint8_t* block) {
  std::memset(block, 0, kBlockSize);
  PutLE32(block, h.root);
  PutLE32(block + 4, h.nextFree);
  PutLE16(block + 12, h.keyLength);
  PutLE16(block + 14, h.maxKeys);
  PutLE16(block + 16, h.keyType);
  PutLE16(block + 18, h.entrySize);
  block[23] = h.unique ? 1 : 0;
  const size_t room = kBlockSize - 24 - 1;
  std::memcpy(block + 24, h.keyExpression.data(), std::min(h.keyExpression.size(), room));
}

bool DecodeHeader(const uint8_t* block, int64_t fileBlocks, Header& out) {
  out.root = GetLE32(block);
  out.nextFree = GetLE32(block + 4);
  out.keyLength = GetLE16(block + 12);
  out.maxKeys = GetLE16(block + 14);
  out.keyType = GetLE16(block + 16);
  out.entrySize = GetLE16(block + 18);
  out.unique = (block[23] & 1) != 0;
  const char* text = reinterpret_cast<const char*>(block + 24);
  out.keyExpression.assign(text, strnlen(text, kBlockSize - 24));
  while (!out.keyExpression.empty() && out.keyExpression.back() == ' ') out.keyExpression.pop_back();
  if (out.root == 0 || (fileBlocks >= 0 && out.root >= fileBlocks)) return false;
  if (out.keyLength == 0 || out.entrySize < out.keyLength + 8 || MaxKeysFor(out.entrySize) < 2) return false;
  if (out.keyType > 1 || (out.keyType == 1 && out.keyLength != 8)) return false;
  if (out.keyExpression.empty()) return false;
  for (unsigned char c : out.keyExpression)
    if (c < 0x20) return false;
  return true;
}

bool DecodeNode(const uint8_t* block, const Header& h, int64_t fileBlocks, bool& branch,
                std::vector<NodeEntry>& out) {
  out.clear();
  const uint32_t n = GetLE32(block);
  branch = GetLE32(block + kNodeHeaderSize) != 0;
  // Entries must lie inside the block; a branch's last one needs its child.
  const int64_t bytes = int64_t{n} * h.entrySize + (branch ? 4 : 0);
  if (bytes > kNodeArea) return false;
  const uint32_t entries = branch ? n + 1 : n;
  out.reserve(entries);
  for (uint32_t i = 0; i < entries; ++i) {
    const uint8_t* at = block + kNodeHeaderSize + size_t{i} * h.entrySize;
    NodeEntry e;
    e.child = GetLE32(at);
    if (branch) {
      if (e.child == 0 || (fileBlocks >= 0 && e.child >= fileBlocks)) return false;
      // A child named twice would be walked twice.
      for (const NodeEntry& before : out)
        if (before.child == e.child) return false;
    } else {
      e.record = GetLE32(at + 4);
    }
    if (i < n) {
      const char* key = reinterpret_cast<const char*>(at + 8);
      if (h.keyType == 1) {
        e.key.assign(key, 8);
      } else {
        size_t length = h.keyLength;
        if (key[0] == '\0') length = 0;
        while (length > 0 && (key[length - 1] == ' ' || key[length - 1] == '\0')) --length;
        e.key.assign(key, length);
      }
    }
    out.push_back(std::move(e));
  }
  return true;
}

double KeyNumber(std::string_view bytes) {
  uint8_t raw[8] = {};
  std::memcpy(raw, bytes.data(), std::min<size_t>(bytes.size(), 8));
  const uint64_t bits = uint64_t{GetLE32(raw)} | (uint64_t{GetLE32(raw + 4)} << 32);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace ndx

using namespace ndx;

namespace {

void PutNumber(uint8_t* at, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  PutLE32(at, static_cast<uint32_t>(bits));
  PutLE32(at + 4, static_cast<uint32_t>(bits >> 32));
}

std::string NumberBytes(double value) {
  uint8_t raw[8];
  PutNumber(raw, value);
  return std::string(reinterpret_cast<const char*>(raw), 8);
}

// Key order of stored keys: numbers as numbers, text bytewise.
int CompareStored(std::string_view a, std::string_view b, bool numeric) {
  if (numeric) {
    const double x = KeyNumber(a), y = KeyNumber(b);
    return x < y ? -1 : (y < x ? 1 : 0);
  }
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// `text` without trailing blanks.
std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// Largest block number whose byte address fits the block I/O.
constexpr int64_t kMostBlocks = int64_t{INT32_MAX} / kBlockSize;

}  // namespace

// --- GSobjNDXTag ----------------------------------------------------------------

GSobjNDXTag::GSobjNDXTag(GSobjNDXFile* file, std::string_view name, bool read)
    : GSobjIndexTag(file, name, 0) {
  indexKind_ = "NDX";
  defaultStrWidth_ = 1;
  if (read) headerAccepted_ = ReadHeader();
}

GSobjNDXTag::~GSobjNDXTag() { ReleasePagesQuietly(); }

GSobjNDXFile* GSobjNDXTag::File() const { return static_cast<GSobjNDXFile*>(ownerFile_); }

void GSobjNDXTag::SetSizes(int keyLength, int entrySize, int maxKeys) {
  keyLength_ = static_cast<int16_t>(keyLength);
  entrySize_ = static_cast<uint16_t>(entrySize);
  maxKeys_ = static_cast<uint16_t>(maxKeys);
  entriesPerNode_ = maxKeys_;
}

Header GSobjNDXTag::HeaderFields() const {
  Header h;
  h.root = static_cast<uint32_t>(rootAddress_);
  h.keyLength = static_cast<uint16_t>(keyLength_);
  h.maxKeys = maxKeys_;
  h.keyType = keyType_ == 'C' ? 0 : 1;
  h.entrySize = entrySize_;
  h.unique = unique_;
  h.keyExpression = keyExpression_;
  return h;
}

bool GSobjNDXTag::LearnKeySizes() {
  int length = 0;
  if (!LearnKeyType(&length)) return false;
  // Numbers and dates are stored as 8-byte doubles.
  if (keyType_ != 'C') length = 8;
  if (length < 1 || length > kMaxKeyLength) return false;
  const int entrySize = EntrySizeFor(length);
  SetSizes(length, entrySize, MaxKeysFor(entrySize));
  return true;
}

// --- key forms ---

void GSobjNDXTag::NormalizeKey(TgsVariant& value, bool trim) {
  if (keyType_ == 'C') {
    if (value.Tag() != TgsVariant::kText) value.SetText(value.AsText());
    // Keys are stored cut to the key length: so is every key compared.
    if (keyLength_ > 0 && value.Length() > static_cast<uint32_t>(keyLength_))
      value.SetText(std::string(reinterpret_cast<const char*>(value.Data()), static_cast<size_t>(keyLength_)));
    if (trim) value.TrimText();
    return;
  }
  double number;
  switch (value.Tag()) {
    case TgsVariant::kFloat:
      number = value.AsFloat();
      break;
    case TgsVariant::kDate:
      number = value.AsDate();
      break;
    case TgsVariant::kBinary:
      number = value.Length() == 8
                   ? ndx::KeyNumber(std::string_view(reinterpret_cast<const char*>(value.Data()), 8))
                   : 0;
      break;
    default:
      number = value.AsFloat();
      break;
  }
  // A blank date (no day, or the expressions' 1e100) sorts after every date.
  if (keyType_ == 'D' && number < 0.1) number = kNoDate;
  value.SetFloat(number);
}

void GSobjNDXTag::PutKey(uint8_t* at, const GSobjIndexKeyData& e) const {
  if (keyType_ != 'C') {
    double number = 0;
    if (e.Tag() == TgsVariant::kFloat) {
      number = e.AsFloat();
    } else {
      GSobjIndexKeyData copy(e);
      const_cast<GSobjNDXTag*>(this)->NormalizeKey(copy, true);
      number = copy.AsFloat();
    }
    PutNumber(at, number);
    return;
  }
  const size_t length = std::min<size_t>(e.Length(), static_cast<size_t>(keyLength_));
  if (length > 0) std::memcpy(at, e.Data(), length);
  std::memset(at + length, ' ', static_cast<size_t>(keyLength_) - length);
}

// --- header ---

bool GSobjNDXTag::ReadHeader() {
  headerChanged_ = false;
  uint8_t block[kBlockSize];
  Header h;
  if (!File()->ReadBlock(0, block, kBlockSize) || !DecodeHeader(block, File()->FileBlocks(), h))
    return false;
  rootAddress_ = static_cast<int32_t>(h.root);
  const int maxKeys = h.maxKeys >= 2 && h.maxKeys <= MaxKeysFor(h.entrySize) ? h.maxKeys : MaxKeysFor(h.entrySize);
  SetSizes(h.keyLength, h.entrySize, maxKeys);
  unique_ = h.unique;
  keyExpression_ = h.keyExpression;
  keyType_ = h.keyType == 1 ? 'N' : 'C';
  CompileKeyExpression();
  if (KeyEvaluator()) {
    // The header's key type must agree with what the key evaluates to.
    GSobjIndexKeyData probe;
    if (EvaluateKey(probe)) {
      const bool numeric = probe.Tag() == TgsVariant::kFloat || probe.Tag() == TgsVariant::kDate;
      if (numeric != (h.keyType == 1)) return false;
      if (probe.Tag() == TgsVariant::kDate) keyType_ = 'D';
    }
  }
  return true;
}

bool GSobjNDXTag::WriteHeader() {
  if (!headerChanged_) return true;
  Header h = HeaderFields();
  h.nextFree = static_cast<uint32_t>(std::max<int64_t>(File()->NextFreePage(), File()->FileBlocks()));
  uint8_t block[kBlockSize];
  EncodeHeader(h, block);
  File()->WriteBlock(0, block, kBlockSize);
  headerChanged_ = false;
  return true;
}

int32_t GSobjNDXTag::ReadRootAddress() {
  uint8_t block[kBlockSize];
  if (!File()->ReadBlock(0, block, kBlockSize)) Corrupted();
  return static_cast<int32_t>(GetLE32(block));
}

// --- defining and building ---

bool GSobjNDXTag::DefineTag(std::string_view name, std::string_view keyExpression, bool unique,
                            bool ascending, std::string_view forExpression) {
  // The format holds neither a FOR condition nor a descending order.
  if (!forExpression.empty() || !ascending) return false;
  GSobjIndexTag::DefineTag(name, keyExpression, unique, ascending, forExpression);
  if (!LearnKeySizes()) return false;
  if (keyExpression_.size() > static_cast<size_t>(kBlockSize - 24 - 1)) return false;
  // The definition is accepted: the file starts anew.
  if (File()->DiskFile()->SizeOfFile() > 0) File()->DiskFile()->Truncate(0);
  uint8_t zeros[kBlockSize] = {};
  File()->WriteBlock(headerAddress_, zeros, kBlockSize);
  GSO_dBaseDBF* table = Table();
  if (!table || table->RecordCount() == 0) {
    WriteEmptyRoot();
    headerChanged_ = true;
    WriteHeader();
  } else {
    BuildTag();
  }
  return true;
}

void GSobjNDXTag::WriteEmptyRoot() {
  uint8_t block[kBlockSize] = {};
  rootAddress_ = File()->AllocatePage();
  File()->WriteBlock(rootAddress_, block, kBlockSize);
}

void GSobjNDXTag::BuildTag() {
  ReleasePages();
  GSO_dBaseDBF* table = Table();
  if (!table || !KeyEvaluator()) {
    WriteEmptyRoot();
    headerChanged_ = true;
    WriteHeader();
    return;
  }
  GSobjSortNdx sorter(*this);
  // Text keys are stored cut to the key length, without trailing blanks.
  struct Sink : BuildKeySink {
    Sink(GSobjSortNdx& s, size_t length, bool number) : sorter(s), keyLength(length), numeric(number) {}
    void AddFieldText(std::string_view text, TRecNo recNo) override {
      sorter.AddKey(TrimBlanks(text.substr(0, keyLength)), recNo);
    }
    void AddKey(const GSobjIndexKeyData& key, TRecNo recNo) override {
      if (numeric)
        sorter.AddKey(key.AsFloat(), recNo);
      else
        AddFieldText(std::string_view(reinterpret_cast<const char*>(key.Data()), key.Length()), recNo);
    }
    GSobjSortNdx& sorter;
    size_t keyLength;
    bool numeric;
  } sink(sorter, static_cast<size_t>(keyLength_), keyType_ != 'C');
  ScanTableKeys(sink, true);
  const TRecNo count = table->RecordCount();
  BuildStatus(-1, 2, count);
  sorter.Drain([this](int32_t written) { BuildStatus(2, written, 0); });
  BuildStatus(0, 0, 0);
  headerChanged_ = true;
  WriteHeader();
}

bool GSobjNDXTag::InsertKey(const GSobjIndexKeyData& entry) {
  GSobjIndexKeyData copy(entry);
  copy.SetRecordNumber(0);
  return GSobjIndexTag::InsertKey(copy);
}

// --- nodes ---

bool GSobjNDXTag::ReadPage(int32_t address, GSobjIndexKey& image) {
  const int64_t blocks = File()->FileBlocks();
  if (address < 1 || address >= blocks || address > kMostBlocks) Corrupted();
  RefuseNodeOnPath(image, address, kMaxLevels);
  uint8_t block[kBlockSize];
  if (!File()->ReadBlock(address, block, kBlockSize)) Corrupted();
  Header h = HeaderFields();
  h.keyType = keyType_ == 'C' ? 0 : 1;
  bool branch = false;
  std::vector<NodeEntry> entries;
  if (!DecodeNode(block, h, blocks, branch, entries)) Corrupted();
  image.ClearAndFree();
  image.SetNodeKind(branch ? 2 : GSobjIndexKey::kLeaf);
  const size_t keyed = branch ? entries.size() - 1 : entries.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    const NodeEntry& e = entries[i];
    auto item = std::make_unique<GSobjIndexKeyData>();
    if (i < keyed) {
      if (keyType_ == 'C')
        item->SetText(e.key);
      else
        item->SetFloat(ndx::KeyNumber(e.key));
    } else {
      // The key-less last entry of a branch: the descent goes there for
      // every probe above the keys before it.
      if (keyType_ == 'C')
        item->SetText(std::string(1, kSentinelText));
      else
        item->SetFloat(kSentinelNumber);
    }
    item->SetRecordNumber(0);
    item->SetLink(branch ? e.child : e.record);
    image.Add(std::move(item));
  }
  return true;
}

bool GSobjNDXTag::WritePage(GSobjIndexKey& image) {
  const bool branch = !image.IsLeaf();
  const size_t count = image.Count();
  const size_t capacity = std::max<size_t>(maxKeys_, 2);
  uint8_t block[kBlockSize];
  auto fill = [&](size_t from, size_t to) {
    std::memset(block, 0, sizeof block);
    for (size_t i = from; i < to; ++i) {
      const GSobjIndexKeyData& e = *image.Entry(i);
      uint8_t* at = block + kNodeHeaderSize + (i - from) * entrySize_;
      if (branch)
        PutLE32(at, e.Link());
      else
        PutLE32(at + 4, e.Link());
      // The last entry of a branch keeps only its child.
      if (!branch || i + 1 < to) PutKey(at + 8, e);
    }
    const size_t entries = to - from;
    PutLE32(block, static_cast<uint32_t>(branch && entries > 0 ? entries - 1 : entries));
  };
  size_t start = 0;
  while (count - start > capacity) {
    const size_t remaining = count - start;
    const size_t n = std::min(capacity, remaining - remaining / 2);
    fill(start, start + n);
    const int32_t d = File()->AllocatePage();
    GSobjIndexKeyData last(*image.Entry(start + n - 1));
    last.SetLink(static_cast<uint32_t>(d));
    image.LinkNewSibling(last);
    if (image.NodeKind() == 1) image.SetNodeKind(2);
    File()->WriteBlock(d, block, kBlockSize);
    start += n;
  }
  fill(start, count);
  File()->WriteBlock(image.PageAddress(), block, kBlockSize);
  return true;
}

// --- GSobjNDXFile ---------------------------------------------------------------

GSobjNDXFile::GSobjNDXFile(GSobjIndexOwner* owner, std::string_view fileName, bool overwrite,
                           bool create, bool readWrite, bool shared)
    : GSobjIndexFile(owner) {
  // A file made anew keeps its old contents until AddTag has accepted the
  // new order's definition: a build refused leaves the old order in place.
  OpenDiskFile(fileName, false, create, readWrite, shared, ".ndx");
  if (!diskFile_) return;
  const int64_t size = diskFile_->SizeOfFile();
  if ((create && overwrite) || (size == 0 && diskFile_->IsReadWrite())) {
    nextFreePage_ = 0;  // a new file: AddTag makes its order
  } else if (size < 2 * kBlockSize) {
    corrupt_ = true;  // no room for a header and a root: refuse, never overwrite
  } else {
    auto tag = std::make_unique<GSobjNDXTag>(this, platform::UpperCase(BaseName(fileName_)), true);
    if (!tag->HeaderAccepted()) corrupt_ = true;
    tags_.Add(std::move(tag));
    ResetAllocator();
  }
  valid_ = !corrupt_;
}

GSobjNDXFile::~GSobjNDXFile() {
  try {
    ReleaseTags();
  } catch (...) {
    // Nothing more can be written; the disk file closes below.
  }
  tags_.ClearAndFree();
}

GSobjNDXTag* GSobjNDXFile::Tag() const {
  return tags_.Count() > 0 ? static_cast<GSobjNDXTag*>(tags_[0]) : nullptr;
}

int64_t GSobjNDXFile::FileBlocks() const { return diskFile_ ? diskFile_->SizeOfFile() / kBlockSize : 0; }

bool GSobjNDXFile::AddTag(std::string_view name, std::string_view keyExpression, bool unique,
                          bool ascending, std::string_view forExpression) {
  if (!diskFile_ || corrupt_) RaiseError(Msg::IndexCorrupted, FullPath());
  tags_.ClearAndFree();
  DropKeptImages();
  nextFreePage_ = 0;
  std::string tagName =
      TrimBlanks(name).empty() ? platform::UpperCase(BaseName(fileName_)) : std::string(TrimBlanks(name));
  auto created = std::make_unique<GSobjNDXTag>(this, tagName, false);
  created->headerAddress_ = AllocatePage();  // block 0
  GSobjNDXTag* tag = static_cast<GSobjNDXTag*>(tags_.Add(std::move(created)));
  if (!tag->DefineTag(tagName, keyExpression, unique, ascending, forExpression)) {
    tags_.RemoveAndFree(tag);
    return false;
  }
  tag->ReleasePages();
  return true;
}

int32_t GSobjNDXFile::AllocatePage() {
  if (nextFreePage_ == -1) ResetAllocator();
  return nextFreePage_++;
}

int32_t GSobjNDXFile::ResetAllocator() {
  const int64_t size = diskFile_ ? diskFile_->SizeOfFile() : 0;
  nextFreePage_ = static_cast<int32_t>(std::min<int64_t>((size + kBlockSize - 1) / kBlockSize, kMostBlocks));
  return nextFreePage_;
}

bool GSobjNDXFile::ReadBlock(int32_t address, void* buffer, int32_t length) {
  if (address < 0 || address > kMostBlocks) return false;
  return GSobjIndexFile::ReadBlock(address * kBlockSize, buffer, length);
}

bool GSobjNDXFile::WriteBlock(int32_t address, const void* buffer, int32_t length) {
  if (address < 0 || address > kMostBlocks) RaiseError(Msg::IndexCorrupted, FullPath());
  // Kept node images are known by block number.
  for (const auto& tag : tags_)
    if (tag->KeptImageCount() > 0)
      for (int32_t b = address; b < address + (length + kBlockSize - 1) / kBlockSize; ++b) tag->DropKeptImage(b);
  return GSobjIndexFile::WriteBlock(address * kBlockSize, buffer, length);
}

bool GSobjNDXFile::NodeStamp(int64_t& stamp) {
  if (!diskFile_) return false;
  // Nodes of a file opened for this process alone change only here.
  if (!diskFile_->IsShared()) {
    stamp = 0;
    return true;
  }
  // The format has no change counter: the file's modification time stands
  // in for one once it has settled; until then nodes are read anew.
  return diskFile_->ChangeStamp(stamp);
}

bool GSobjNDXFile::UpdateKeys(TRecNo n, bool appended) {
  const bool changed = GSobjIndexFile::UpdateKeys(n, appended);
  if (!changed || !diskFile_) return changed;
  // The new nodes reach the file, then the header's next free block follows
  // the file's end: other programs allocate from it and would otherwise
  // overwrite the nodes added here.
  for (const auto& tag : tags_)
    if (tag->HasUnwrittenChanges()) tag->ReleasePages();
  uint8_t block[kBlockSize];
  if (ReadBlock(0, block, kBlockSize)) {
    const uint32_t blocks = static_cast<uint32_t>(std::min<int64_t>(FileBlocks(), kMostBlocks));
    if (GetLE32(block + 4) < blocks) {
      PutLE32(block + 4, blocks);
      WriteBlock(0, block, kBlockSize);
    }
  }
  return changed;
}

void GSobjNDXFile::HeaderRefresh() {
  GSobjNDXTag* tag = Tag();
  if (!tag || !diskFile_) return;
  diskFile_->LockWholeFile();
  try {
    tag->ReleasePages();
    diskFile_->Truncate(2 * kBlockSize);
    DropKeptImages();
    tag->SetRootAddress(1);
    nextFreePage_ = 2;
    tag->SetHeaderChanged(true);
    tag->WriteHeader();
    uint8_t block[kBlockSize] = {};
    WriteBlock(1, block, kBlockSize);
  } catch (...) {
    diskFile_->Unlock();
    throw;
  }
  diskFile_->Unlock();
}

void GSobjNDXFile::Reindex() {
  GSobjNDXTag* tag = Tag();
  if (!tag || !diskFile_) return;
  HeaderRefresh();
  diskFile_->LockWholeFile();
  try {
    nextFreePage_ = 1;
    tag->BuildTag();
  } catch (...) {
    diskFile_->Unlock();
    throw;
  }
  diskFile_->Unlock();
}

// --- checking -------------------------------------------------------------------

double GSobjNDXTag::KeyNumber(const GSobjIndexKeyData& key) const {
  return key.Tag() == TgsVariant::kFloat ? key.AsFloat() : GSobjIndexTag::KeyNumber(key);
}

// Numbers are reported as the 8 bytes of the double, zero without its sign.
std::string GSobjNDXFile::CheckedKeyForm(GSobjIndexTag& tag, const GSobjIndexKeyData& key) {
  if (tag.KeyType() != 'C') return NumberBytes(key.AsFloat() + 0.0);
  return std::string(TrimBlanks(std::string_view(reinterpret_cast<const char*>(key.Data()), key.Length())));
}

void GSobjNDXFile::WalkTag(GSobjIndexTag& indexTag, IndexCheckReport& report) {
  auto& tag = static_cast<GSobjNDXTag&>(indexTag);
  const int64_t blocks = FileBlocks();
  const Header h = tag.HeaderFields();
  const bool numeric = h.keyType == 1;
  auto problem = [&report](std::string text) {
    if (report.problems.size() < 20) report.problems.push_back(std::move(text));
  };
  std::unordered_set<uint32_t> seen;
  int leafDepth = -1;
  std::string bound;  // the last branch key passed: later leaf keys are not below it
  bool hasBound = false;
  uint8_t block[kBlockSize];

  auto visit = [&](auto&& self, uint32_t at, int depth) -> void {
    const std::string name = "block " + std::to_string(at);
    if (depth >= kMaxLevels) {
      problem("the tree is deeper than " + std::to_string(kMaxLevels) + " levels");
      return;
    }
    if (at < 1 || at >= blocks) {
      problem(name + " lies outside the file");
      return;
    }
    if (!seen.insert(at).second) {
      problem(name + " is reached twice");
      return;
    }
    bool branch = false;
    std::vector<NodeEntry> node;
    if (!ReadBlock(static_cast<int32_t>(at), block, kBlockSize) || !DecodeNode(block, h, blocks, branch, node)) {
      problem(name + " is damaged");
      return;
    }
    ++report.nodes;
    report.levels = std::max(report.levels, depth + 1);
    if (!branch) {
      if (leafDepth < 0) leafDepth = depth;
      if (leafDepth != depth) problem(name + " is a leaf at another depth");
      for (NodeEntry& e : node) {
        if (e.record == 0) problem(name + " holds an entry without a record");
        if (numeric) e.key = NumberBytes(ndx::KeyNumber(e.key) + 0.0);
        if (!report.entries.empty() && CompareStored(e.key, report.entries.back().key, numeric) < 0)
          problem(name + " holds keys out of order");
        else if (hasBound && CompareStored(e.key, bound, numeric) < 0)
          problem(name + " holds a key below the branch key before it");
        hasBound = false;
        report.entries.push_back({std::move(e.key), e.record, 0});
      }
      return;
    }
    for (size_t i = 0; i < node.size(); ++i) {
      self(self, node[i].child, depth + 1);
      if (i + 1 == node.size()) break;
      if (!report.entries.empty() && CompareStored(node[i].key, report.entries.back().key, numeric) < 0)
        problem(name + " holds a branch key below its child's keys");
      bound = node[i].key;
      hasBound = true;
    }
  };
  visit(visit, static_cast<uint32_t>(tag.ReadRootAddress()), 0);
}

// --- GSobjSortNdx ---------------------------------------------------------------

GSobjSortNdx::GSobjSortNdx(GSobjNDXTag& tag)
    : TgsSort(std::min(tag.KeyLength() + 1, TgsSort::kMaxKeyLength), true, tag.Unique()),
      tag_(tag),
      file_(*static_cast<GSobjNDXFile*>(tag.OwnerFile())),
      keyLength_(tag.KeyLength()),
      entrySize_(tag.EntrySize()),
      maxKeys_(std::max<int>(tag.EntriesPerNode(), 2)),
      numeric_(tag.KeyType() != 'C'),
      nodes_(file_, kBlockSize) {}

GSobjSortNdx::~GSobjSortNdx() = default;

bool GSobjSortNdx::NextStored(std::string_view& stored, TRecNo& recNo) {
  TgsSortType type;
  std::string_view bytes;
  if (!NextKey(type, bytes, recNo)) return false;
  if (type == TgsSortType::Float) {
    stored_ = NumberBytes(DecodeFloat(bytes));
    stored = stored_;
  } else {
    stored = bytes;
  }
  return true;
}

// Writes a level's node at `block`; a branch stores one key fewer than its
// entries, its last entry keeping only the child.
void GSobjSortNdx::WriteLevel(Level& lv, size_t level, int32_t block) {
  const int keys = level > 0 ? lv.count - 1 : lv.count;
  PutLE32(lv.node, static_cast<uint32_t>(keys));
  if (level > 0 && lv.count > 0)
    std::memset(lv.node + kNodeHeaderSize + size_t(lv.count - 1) * entrySize_ + 8, 0,
                static_cast<size_t>(entrySize_ - 8));
  nodes_.Write(block, lv.node, kBlockSize);
}

void GSobjSortNdx::Add(size_t level, uint32_t link, std::string_view storedKey) {
  while (levels_.size() <= level) levels_.push_back(std::make_unique<Level>());
  if (levels_[level]->count >= maxKeys_) {
    Level& full = *levels_[level];
    const int32_t block = file_.AllocatePage();
    WriteLevel(full, level, block);
    std::memcpy(full.previous, full.node, sizeof full.node);
    full.previousCount = full.count;
    full.previousBlock = block;
    const std::string up = full.lastKey;
    std::memset(full.node, 0, sizeof full.node);
    full.count = 0;
    Add(level + 1, static_cast<uint32_t>(block), up);
  }
  Level& lv = *levels_[level];
  uint8_t* at = lv.node + kNodeHeaderSize + size_t(lv.count) * entrySize_;
  PutLE32(at, level == 0 ? 0 : link);
  PutLE32(at + 4, level == 0 ? link : 0);
  PutStoredKey(lv.node, lv.count, storedKey);
  ++lv.count;
  lv.lastKey.assign(storedKey);
}

std::string GSobjSortNdx::StoredKeyAt(const uint8_t* node, int index) const {
  const char* key = reinterpret_cast<const char*>(node + kNodeHeaderSize + size_t(index) * entrySize_ + 8);
  if (numeric_) return std::string(key, 8);
  return std::string(TrimBlanks(std::string_view(key, static_cast<size_t>(keyLength_))));
}

void GSobjSortNdx::PutStoredKey(uint8_t* node, int index, std::string_view storedKey) const {
  uint8_t* at = node + kNodeHeaderSize + size_t(index) * entrySize_ + 8;
  if (numeric_) {
    std::memcpy(at, storedKey.data(), std::min<size_t>(storedKey.size(), 8));
    return;
  }
  const size_t length = std::min(storedKey.size(), static_cast<size_t>(keyLength_));
  std::memcpy(at, storedKey.data(), length);
  std::memset(at + length, ' ', static_cast<size_t>(keyLength_) - length);
}

void GSobjSortNdx::Rebalance(size_t level) {
  Level& lv = *levels_[level];
  if (level == 0 || level + 1 >= levels_.size() || lv.count != 1 || lv.previousCount < 3) return;
  Level& parent = *levels_[level + 1];
  // The parent's last entry is the one for the node before: its key is the
  // highest key of that node's last child, which moves here.
  const size_t entry = static_cast<size_t>(entrySize_);
  uint8_t* parentLast = parent.node + kNodeHeaderSize + size_t(parent.count - 1) * entry;
  if (parent.count < 1 || GetLE32(parentLast) != static_cast<uint32_t>(lv.previousBlock)) return;
  nodes_.Flush();
  const int last = lv.previousCount - 1;
  const uint32_t movedChild = GetLE32(lv.previous + kNodeHeaderSize + size_t(last) * entry);
  const std::string movedKey = parent.lastKey;
  const std::string newHigh = StoredKeyAt(lv.previous, last - 1);
  // The node before loses its last child; the entry before becomes key-less.
  std::memset(lv.previous + kNodeHeaderSize + size_t(last) * entry, 0, entry);
  std::memset(lv.previous + kNodeHeaderSize + size_t(last - 1) * entry + 8, 0, entry - 8);
  PutLE32(lv.previous, static_cast<uint32_t>(last - 1));
  file_.WriteBlock(lv.previousBlock, lv.previous, kBlockSize);
  // This node gets it in front of its one entry.
  std::memmove(lv.node + kNodeHeaderSize + entry, lv.node + kNodeHeaderSize, entry);
  std::memset(lv.node + kNodeHeaderSize, 0, entry);
  PutLE32(lv.node + kNodeHeaderSize, movedChild);
  PutStoredKey(lv.node, 0, movedKey);
  lv.count = 2;
  // The parent's key for the node before is its new highest key.
  PutStoredKey(parent.node, parent.count - 1, newHigh);
  parent.lastKey = newHigh;
}

void GSobjSortNdx::Finish() {
  if (levels_.empty()) {
    // No key: an empty root leaf.
    levels_.push_back(std::make_unique<Level>());
  }
  int32_t root = 0;
  for (size_t level = 0; level < levels_.size(); ++level) {
    Rebalance(level);
    const int32_t block = file_.AllocatePage();
    WriteLevel(*levels_[level], level, block);
    if (level + 1 == levels_.size()) {
      root = block;
    } else {
      const std::string up = levels_[level]->lastKey;
      Add(level + 1, static_cast<uint32_t>(block), up);
    }
  }
  nodes_.Flush();
  tag_.SetRootAddress(root);
}
