// MDX index files and tags; see gs6_mdx.h for the byte layouts.
#include "engine/index/gs6_mdx.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/expr/gs6_sql.h"
#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"
#include "engine/table/gs6_dbf.h"
#include "engine/table/gs6_disk.h"
#include "platform/ansi.h"
#include "platform/file.h"
#include "platform/system.h"

namespace mdx {

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr int kExponentBias = 52;
constexpr int kSignificant = 15;

}  // namespace

void EncodePacked(double value, uint8_t* out) {
  std::memset(out, 0, kPackedLength);
  out[0] = kExponentBias;
  out[1] = 1;
  if (std::isnan(value) || value == 0) return;
  const bool negative = value < 0;
  std::string digits;
  int exponent = 0;
  if (std::isinf(value) || std::fabs(value) >= 1e15) {
    digits.assign(kSignificant, '9');
    exponent = kSignificant;
  } else {
    // d.dddddddddddddde±x: 15 significant digits, rounded.
    char text[40];
    const auto r = std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific,
                                 kSignificant - 1);
    const std::string_view s(text, static_cast<size_t>(r.ptr - text));
    const size_t e = s.find('e');
    for (size_t i = 0; i < e; ++i)
      if (s[i] != '.') digits += s[i];
    int power = 0;
    std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), power);
    exponent = power + 1;  // 0.d1d2... × 10^exponent
    if (exponent > kSignificant) {
      digits.assign(kSignificant, '9');
      exponent = kSignificant;
    }
  }
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  if (digits.empty() || exponent + kExponentBias < 0) return;  // too small: 0
  const size_t bytes = (digits.size() + 1) / 2;
  out[0] = static_cast<uint8_t>(exponent + kExponentBias);
  out[1] = static_cast<uint8_t>(bytes * 2 * 4 + 1 + (negative ? 0x80 : 0));
  for (size_t i = 0; i < digits.size(); ++i) {
    const uint8_t d = static_cast<uint8_t>(digits[i] - '0');
    out[2 + i / 2] |= static_cast<uint8_t>(i % 2 == 0 ? d << 4 : d);
  }
}

double DecodePacked(const uint8_t* in) {
  const int bytes = std::min((in[1] >> 3) & 0x0F, 8);
  uint64_t number = 0;
  for (int i = 0; i < bytes; ++i) number = number * 100 + (in[2 + i] >> 4) * 10 + (in[2 + i] & 0x0F);
  if (number == 0) return 0;
  // number × 10^(exponent - 2 × bytes), correctly rounded: parsed as text.
  char text[48];
  auto r = std::to_chars(text, text + 24, number);
  *r.ptr++ = 'e';
  r = std::to_chars(r.ptr, text + sizeof text, int{in[0]} - kExponentBias - 2 * bytes);
  double value = 0;
  std::from_chars(text, r.ptr, value);
  return (in[1] & 0x80) ? -value : value;
}

double RoundPacked(double value) {
  uint8_t packed[kPackedLength];
  EncodePacked(value, packed);
  return DecodePacked(packed);
}

int32_t EntrySizeFor(int32_t keyLength) { return (keyLength + 4 + 3) / 4 * 4; }

int32_t MaxKeysFor(int32_t keyLength, int32_t nodeSize) { return (nodeSize - 8) / EntrySizeFor(keyLength) - 1; }

std::string ProductionPath(std::string_view tablePath) {
  std::string base(tablePath);
  const size_t slash = base.find_last_of('/');
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.erase(dot);
  if (!platform::FileExists(base + ".mdx") && platform::FileExists(base + ".MDX")) return base + ".MDX";
  return base + ".mdx";
}

}  // namespace mdx

using namespace mdx;

namespace {

// Header fields of a tag, as laid out in its header node.
constexpr int kRoot = 0, kFormat = 8, kType = 9, kKeyLength = 12, kMaxKeys = 14, kEntrySize = 18,
              kUnique = 23, kKeyExpression = 24, kHasFor = 245, kFirstLeaf = 248, kLastLeaf = 252;

// Sentinel keys of a branch's pointer-only entry: after every key in the
// tag's order.
constexpr double kHighNumber = 1.7e308;
constexpr double kBlankDate = 1e100;

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// The zero-terminated text in [p, p + room); false when no terminator.
bool TerminatedText(const uint8_t* p, size_t room, std::string& out) {
  const void* end = std::memchr(p, 0, room);
  if (!end) return false;
  out.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(static_cast<const uint8_t*>(end) - p));
  return true;
}

void PutDate(uint8_t* p) {
  const platform::LocalDateTime now = platform::Now();
  p[0] = static_cast<uint8_t>(now.year % 100);
  p[1] = static_cast<uint8_t>(now.month);
  p[2] = static_cast<uint8_t>(now.day);
}

}  // namespace

// --- GSobjMDXTag ---------------------------------------------------------------

GSobjMDXTag::GSobjMDXTag(GSobjMDXFile* file, std::string_view name, int32_t headerAddress)
    : GSobjIndexTag(file, UpperAscii(name), headerAddress) {
  indexKind_ = "MDX";
  defaultStrWidth_ = 10;
  nodeSize_ = file->NodeSize();
  if (headerAddress_ == -1) {
    headerAddress_ = file->AllocatePage();
    return;
  }
  headerAccepted_ = ReadHeader();
}

GSobjMDXTag::~GSobjMDXTag() { ReleasePagesQuietly(); }

GSobjMDXFile* GSobjMDXTag::File() const { return static_cast<GSobjMDXFile*>(ownerFile_); }

void GSobjMDXTag::SetKeyLength(int32_t length) {
  keyLength_ = static_cast<int16_t>(length);
  entrySize_ = static_cast<uint16_t>(EntrySizeFor(length));
  entriesPerNode_ = static_cast<uint16_t>(MaxKeysFor(length, nodeSize_));
}

uint8_t GSobjMDXTag::KeyFormat() const {
  return static_cast<uint8_t>(kFormatBase | (unique_ ? kFormatUnique : 0) | (ascending_ ? 0 : kFormatDescending));
}

// --- key forms ---

void GSobjMDXTag::NormalizeKey(TgsVariant& value, bool trim) {
  switch (keyType_) {
    case 'N':
      value.SetFloat(RoundPacked(value.Tag() == TgsVariant::kDate ? value.AsDate() : value.AsFloat()));
      return;
    case 'D': {
      double day = value.Tag() == TgsVariant::kDate ? value.AsDate() : value.AsFloat();
      if (day < 0.1) day = kBlankDate;  // no date: after every real one
      value.SetFloat(day);
      return;
    }
    default:
      if (value.Tag() != TgsVariant::kText) value.SetText(value.AsText());
      if (trim) value.TrimText();
      return;
  }
}

void GSobjMDXTag::StoreKey(const TgsVariant& key, uint8_t* out) const {
  switch (keyType_) {
    case 'N':
      EncodePacked(key.AsFloat(), out);
      return;
    case 'D': {
      const double day = key.AsFloat();
      std::memcpy(out, &day, 8);
      return;
    }
    default: {
      std::memset(out, ' ', static_cast<size_t>(keyLength_));
      const size_t n = std::min<size_t>(key.Length(), static_cast<size_t>(keyLength_));
      if (n) std::memcpy(out, key.Data(), n);
      return;
    }
  }
}

void GSobjMDXTag::LoadKey(const uint8_t* stored, TgsVariant& key) const {
  if (keyType_ == 'N') {
    key.SetFloat(DecodePacked(stored));
  } else if (keyType_ == 'D') {
    double day;
    std::memcpy(&day, stored, 8);
    key.SetFloat(day);
  } else {
    size_t length = stored[0] == 0 ? 0 : static_cast<size_t>(keyLength_);
    while (length > 0 && stored[length - 1] == ' ') --length;
    key.SetText(std::string_view(reinterpret_cast<const char*>(stored), length));
  }
}

// --- headers ---

bool GSobjMDXTag::ReadHeader() {
  headerChanged_ = false;
  std::vector<uint8_t> h(static_cast<size_t>(nodeSize_));
  const int64_t size = File()->FileSize();
  if (headerAddress_ < File()->HeaderSize() || headerAddress_ % kBlockSize != 0 ||
      int64_t{headerAddress_} + nodeSize_ > size)
    return false;
  if (!File()->ReadBlock(headerAddress_, h.data(), nodeSize_)) return false;
  const int64_t root = int64_t{Get32(h.data() + kRoot)} * kBlockSize;
  const char type = static_cast<char>(h[kType]);
  const int32_t keyLength = Get16(h.data() + kKeyLength);
  const int32_t entrySize = Get16(h.data() + kEntrySize);
  if (type != 'C' && type != 'N' && type != 'D') return false;
  if (keyLength < 1 || keyLength > kMaxKeyLength || (type == 'N' && keyLength != kPackedLength) ||
      (type == 'D' && keyLength != 8))
    return false;
  // Entries of other programs may be laid out wider than ours; two keys and
  // a pointer must fit a node.
  if (entrySize < keyLength + 4 || 8 + 2 * entrySize + 4 > nodeSize_) return false;
  if (root < File()->HeaderSize() || root % kBlockSize != 0 || root + nodeSize_ > size) return false;
  std::string keyExpression, forExpression;
  if (!TerminatedText(h.data() + kKeyExpression, kHasFor - kKeyExpression, keyExpression) ||
      keyExpression.empty())
    return false;
  const bool hasFor = h[kHasFor] != 0;
  if (hasFor && !TerminatedText(h.data() + kForExpressionOffset,
                                static_cast<size_t>(nodeSize_ - kForExpressionOffset), forExpression))
    return false;
  rootAddress_ = static_cast<int32_t>(root);
  keyType_ = type;
  keyLength_ = static_cast<int16_t>(keyLength);
  entrySize_ = static_cast<uint16_t>(entrySize);
  entriesPerNode_ = static_cast<uint16_t>((nodeSize_ - 8) / entrySize - 1);
  firstLeaf_ = static_cast<int32_t>(std::min<int64_t>(int64_t{Get32(h.data() + kFirstLeaf)} * kBlockSize, INT32_MAX));
  lastLeaf_ = static_cast<int32_t>(std::min<int64_t>(int64_t{Get32(h.data() + kLastLeaf)} * kBlockSize, INT32_MAX));
  unique_ = h[kUnique] != 0;
  ascending_ = (h[kFormat] & kFormatDescending) == 0;
  descendingCompare_ = !ascending_;
  keyExpression_ = keyExpression;
  hasFor_ = hasFor && !forExpression.empty();
  forExpression_ = hasFor_ ? forExpression : std::string();
  try {
    CompileKeyExpression();
    if (hasFor_) CompileForExpression();
  } catch (const EDeridarExpression&) {
    return false;  // an expression that does not compile is damage here
  }
  return true;
}

bool GSobjMDXTag::WriteHeader() {
  if (!headerChanged_) return true;
  std::vector<uint8_t> h(static_cast<size_t>(nodeSize_), 0);
  Put32(h.data() + kRoot, static_cast<uint32_t>(rootAddress_ / kBlockSize));
  h[kFormat] = KeyFormat();
  h[kType] = static_cast<uint8_t>(keyType_);
  Put16(h.data() + kKeyLength, static_cast<uint32_t>(keyLength_));
  Put16(h.data() + kMaxKeys, entriesPerNode_);
  Put16(h.data() + kEntrySize, entrySize_);
  h[kUnique] = unique_ ? 0x40 : 0;
  std::memcpy(h.data() + kKeyExpression, keyExpression_.data(),
              std::min<size_t>(keyExpression_.size(), kKeyExpressionRoom));
  h[kHasFor] = hasFor_ ? 1 : 0;
  h[kHasFor + 1] = 1;
  Put32(h.data() + kFirstLeaf, static_cast<uint32_t>(firstLeaf_ / kBlockSize));
  Put32(h.data() + kLastLeaf, static_cast<uint32_t>(lastLeaf_ / kBlockSize));
  if (hasFor_)
    std::memcpy(h.data() + kForExpressionOffset, forExpression_.data(),
                std::min<size_t>(forExpression_.size(), static_cast<size_t>(nodeSize_ - kForExpressionOffset - 1)));
  File()->WriteBlock(headerAddress_, h.data(), nodeSize_);
  headerChanged_ = false;
  return true;
}

int32_t GSobjMDXTag::ReadRootAddress() {
  uint8_t h[4];
  if (!File()->ReadBlock(headerAddress_, h, 4)) Corrupted();
  return static_cast<int32_t>(std::min<int64_t>(int64_t{Get32(h)} * kBlockSize, INT32_MAX));
}

// --- defining and building ---

bool GSobjMDXTag::DefineTag(std::string_view name, std::string_view keyExpression, bool unique,
                            bool ascending, std::string_view forExpression) {
  GSobjIndexTag::DefineTag(name, keyExpression, unique, ascending, forExpression);
  tagName_ = UpperAscii(tagName_);
  descendingCompare_ = !ascending;
  // Expressions must fit the header.
  if (keyExpression_.empty() || keyExpression_.size() > static_cast<size_t>(kKeyExpressionRoom) ||
      forExpression_.size() >= static_cast<size_t>(nodeSize_ - kForExpressionOffset))
    return false;
  int32_t textLength = 0;
  if (!LearnKeyType(&textLength)) return false;
  const int32_t length = keyType_ == 'C' ? textLength : keyType_ == 'N' ? kPackedLength : 8;
  if (length < 1 || length > kMaxKeyLength) return false;
  SetKeyLength(length);
  std::vector<uint8_t> zeros(static_cast<size_t>(nodeSize_), 0);
  File()->WriteBlock(headerAddress_, zeros.data(), nodeSize_);
  BuildTag();
  return true;
}

void GSobjMDXTag::WriteEmptyRoot(int32_t bytes) {
  rootAddress_ = File()->AllocatePage();
  std::vector<uint8_t> zeros(static_cast<size_t>(bytes), 0);
  File()->WriteBlock(rootAddress_, zeros.data(), bytes);
  firstLeaf_ = lastLeaf_ = rootAddress_;
}

void GSobjMDXTag::BuildTag() {
  ReleasePages();
  firstLeaf_ = lastLeaf_ = 0;
  GSO_dBaseDBF* table = Table();
  if (!table || !KeyEvaluator() || table->RecordCount() == 0) {
    WriteEmptyRoot(nodeSize_);
  } else {
    const TRecNo count = table->RecordCount();
    GSobjSortMDX sorter(*this);
    // Keys go into the sorter as values: texts and numbers.
    struct Sink : BuildKeySink {
      GSobjSortMDX& sorter;
      explicit Sink(GSobjSortMDX& s) : sorter(s) {}
      void AddFieldText(std::string_view text, TRecNo recNo) override { sorter.AddText(text, recNo); }
      void AddKey(const GSobjIndexKeyData& key, TRecNo recNo) override {
        if (key.Tag() == TgsVariant::kFloat)
          sorter.AddFloat(key.AsFloat(), recNo);
        else
          sorter.AddText(std::string_view(reinterpret_cast<const char*>(key.Data()), key.Length()), recNo);
      }
    } sink(sorter);
    ScanTableKeys(sink, true);
    BuildStatus(-1, 2, count);
    sorter.Drain([this](int32_t written) { BuildStatus(2, written, 0); });
    BuildStatus(0, 0, 0);
  }
  headerChanged_ = true;
  WriteHeader();
}

bool GSobjMDXTag::InsertKey(const GSobjIndexKeyData& entry) {
  GSobjIndexKeyData copy(entry);
  copy.SetRecordNumber(0);
  return GSobjIndexTag::InsertKey(copy);
}

// --- nodes ---

bool GSobjMDXTag::ReadPage(int32_t address, GSobjIndexKey& image) {
  GSobjMDXFile* file = File();
  // A node beyond the file's end shows as a short read below.
  if (address < file->HeaderSize() || address % kBlockSize != 0) Corrupted();
  RefuseNodeOnPath(image, address, kMaxLevels);
  std::vector<uint8_t>& node = readBuffer_;
  node.resize(static_cast<size_t>(nodeSize_));
  if (!file->ReadBlock(address, node.data(), nodeSize_)) Corrupted();
  const uint32_t n = Get32(node.data());
  if (int64_t{n} * entrySize_ + 12 > nodeSize_) Corrupted();
  const uint8_t* at = node.data() + 8;
  const bool branch = Get32(at + n * entrySize_) != 0;
  image.ClearAndFree();
  image.SetNodeKind(branch ? 2 : GSobjIndexKey::kLeaf);
  image.SetLeftSibling(static_cast<int32_t>(std::min<int64_t>(int64_t{Get32(node.data() + 4)} * kBlockSize, INT32_MAX)));
  image.SetRightSibling(-1);
  const uint32_t entries = branch ? n + 1 : n;
  for (uint32_t i = 0; i < entries; ++i, at += entrySize_) {
    auto item = std::make_unique<GSobjIndexKeyData>();
    uint32_t link = Get32(at);
    if (branch) {
      const int64_t child = int64_t{link} * kBlockSize;
      if (child < file->HeaderSize() || child > INT32_MAX - nodeSize_) Corrupted();
      link = static_cast<uint32_t>(child);
    }
    item->SetLink(link);
    item->SetRecordNumber(0);
    const uint8_t* key = at + 4;
    if (branch && i == n) {
      if (keyType_ == 'C')
        item->SetText(ascending_ ? std::string_view("\xFF", 1) : std::string_view());
      else
        item->SetFloat(ascending_ ? kHighNumber : -kHighNumber);
    } else {
      LoadKey(key, *item);
    }
    image.Add(std::move(item));
  }
  return true;
}

void GSobjMDXTag::WriteNode(const GSobjIndexKey& image, size_t from, size_t count, int32_t address,
                            int32_t preceding) {
  std::vector<uint8_t> node(static_cast<size_t>(nodeSize_), 0);
  const bool branch = !image.IsLeaf() && count > 0;
  Put32(node.data(), static_cast<uint32_t>(branch ? count - 1 : count));
  Put32(node.data() + 4, static_cast<uint32_t>(std::max(preceding, 0) / kBlockSize));
  uint8_t* at = node.data() + 8;
  for (size_t i = 0; i < count; ++i, at += entrySize_) {
    const GSobjIndexKeyData& e = *image.Entry(from + i);
    Put32(at, branch ? e.Link() / kBlockSize : e.Link());
    if (!branch || i + 1 < count) StoreKey(e, at + 4);
  }
  File()->WriteBlock(address, node.data(), nodeSize_);
}

bool GSobjMDXTag::WritePage(GSobjIndexKey& image) {
  const size_t count = image.Count();
  // A branch also holds the pointer-only entry after its keys.
  const size_t capacity = static_cast<size_t>(entriesPerNode_) + (image.IsLeaf() ? 0 : 1);
  size_t start = 0;
  while (count - start > capacity) {
    const size_t remaining = count - start;
    const size_t n = std::min(capacity, remaining - remaining / 2);
    const int32_t d = File()->AllocatePage();
    GSobjIndexKeyData last(*image.Entry(start + n - 1));
    last.SetLink(static_cast<uint32_t>(d));
    const int32_t before = image.PageAddress();
    const int32_t preceding = image.LeftSibling();
    image.LinkNewSibling(last);
    if (!image.IsLeaf()) image.SetNodeKind(2);
    WriteNode(image, start, n, d, preceding);
    if (image.IsLeaf()) {
      // The first part takes the place of a first leaf; a moved root keeps
      // the place of the last.
      if (firstLeaf_ == before || firstLeaf_ == 0) firstLeaf_ = d;
      if (lastLeaf_ == before) lastLeaf_ = image.PageAddress();
    }
    headerChanged_ = true;
    image.SetLeftSibling(d);
    start += n;
  }
  WriteNode(image, start, count - start, image.PageAddress(), image.LeftSibling());
  return true;
}

// --- GSobjSortMDX ---------------------------------------------------------------

GSobjSortMDX::GSobjSortMDX(GSobjMDXTag& tag)
    : TgsSort(tag.KeyType() == 'C' ? tag.KeyLength() : 8, tag.Ascending(), tag.Unique()),
      tag_(tag),
      entrySize_(tag.EntrySize()),
      maxKeys_(tag.EntriesPerNode()),
      nodes_(*tag.OwnerFile()) {}

bool GSobjSortMDX::NextStored(std::vector<uint8_t>& key, TRecNo& recNo) {
  TgsSortType type;
  std::string_view bytes;
  if (!NextKey(type, bytes, recNo)) return false;
  if (type == TgsSortType::Float) {
    const double value = DecodeFloat(bytes);
    if (tag_.KeyType() == 'N')
      EncodePacked(value, key.data());
    else
      std::memcpy(key.data(), &value, 8);
  } else {
    std::memset(key.data(), ' ', key.size());
    std::memcpy(key.data(), bytes.data(), std::min(bytes.size(), key.size()));
  }
  return true;
}

void GSobjSortMDX::WriteLevel(size_t level, int32_t address) {
  Level& lv = levels_[level];
  // Above the leaves the last entry keeps its pointer only.
  Put32(lv.node.data(), static_cast<uint32_t>(level > 0 ? lv.count - 1 : lv.count));
  if (level == 0) {
    Put32(lv.node.data() + 4, static_cast<uint32_t>(tag_.lastLeaf_ / kBlockSize));
    if (tag_.firstLeaf_ == 0) tag_.firstLeaf_ = address;
    tag_.lastLeaf_ = address;
  }
  if (level > 0 && lv.count > 0) {
    // The pointer-only entry carries no key.
    uint8_t* last = lv.node.data() + 8 + (lv.count - 1) * entrySize_ + 4;
    std::memset(last, 0, static_cast<size_t>(entrySize_ - 4));
  }
  nodes_.Write(address, lv.node.data(), static_cast<size_t>(tag_.NodeSize()));
}

void GSobjSortMDX::Add(size_t level, uint32_t pointer, const uint8_t* key) {
  const size_t nodeSize = static_cast<size_t>(tag_.NodeSize());
  if (levels_.size() <= level) {
    levels_.emplace_back();
    levels_.back().node.assign(nodeSize, 0);
  }
  if (levels_[level].count >= maxKeys_) {
    const int32_t b = tag_.File()->AllocatePage();
    // The node's last key goes up before the node is cleared.
    std::vector<uint8_t> lastKey(levels_[level].node.begin() + 8 + (levels_[level].count - 1) * entrySize_ + 4,
                                 levels_[level].node.begin() + 8 + levels_[level].count * entrySize_);
    WriteLevel(level, b);
    Add(level + 1, static_cast<uint32_t>(b / kBlockSize), lastKey.data());
    levels_[level].node.assign(nodeSize, 0);
    levels_[level].count = 0;
  }
  Level& lv = levels_[level];
  uint8_t* at = lv.node.data() + 8 + lv.count * entrySize_;
  Put32(at, pointer);
  std::memcpy(at + 4, key, static_cast<size_t>(tag_.KeyLength()));
  ++lv.count;
}

void GSobjSortMDX::Flush() {
  bool rooted = false;
  for (size_t level = 0; level < levels_.size(); ++level) {
    if (levels_[level].count == 0) continue;
    const int32_t a = tag_.File()->AllocatePage();
    const bool top = level + 1 == levels_.size();
    std::vector<uint8_t> lastKey(levels_[level].node.begin() + 8 + (levels_[level].count - 1) * entrySize_ + 4,
                                 levels_[level].node.begin() + 8 + levels_[level].count * entrySize_);
    WriteLevel(level, a);
    if (top) {
      tag_.rootAddress_ = a;
      rooted = true;
    } else {
      Add(level + 1, static_cast<uint32_t>(a / kBlockSize), lastKey.data());
    }
  }
  nodes_.Flush();
  if (!rooted) tag_.WriteEmptyRoot(tag_.NodeSize());
}

// --- GSobjMDXFile ---------------------------------------------------------------

GSobjMDXFile::GSobjMDXFile(GSobjIndexOwner* owner, std::string_view fileName, bool overwrite, bool create,
                           bool readWrite, bool shared)
    : GSobjIndexFile(owner) {
  opening_ = true;
  OpenDiskFile(fileName, overwrite, create, readWrite, shared, ".mdx");
  if (!diskFile_) {
    opening_ = false;
    return;
  }
  const int64_t size = FileSize();
  if (size > kBlockSize) {
    ReadFileHeader();
  } else if (size == 0 && diskFile_->IsReadWrite()) {
    CreateFileHeader();
  } else {
    corrupt_ = true;  // a stub, or empty and read-only: refuse, never overwrite
  }
  if (!corrupt_) MarkProductionIndex();
  opening_ = false;
  valid_ = !corrupt_;
}

GSobjMDXFile::~GSobjMDXFile() {
  try {
    ReleaseTags();
    if (headerChanged_ && valid_ && diskFile_ && diskFile_->IsReadWrite()) WriteHeaderFields();
  } catch (...) {
    // Nothing more can be written; the disk file closes below.
  }
  tags_.ClearAndFree();
}

void GSobjMDXFile::ReadFileHeader() {
  uint8_t block[kBlockSize];
  if (!ReadBlock(0, block, kBlockSize)) {
    corrupt_ = true;
    return;
  }
  blocksPerNode_ = Get16(block + 20);
  nodeSize_ = Get16(block + 22);
  slots_ = block[25];
  const int32_t entryLength = block[26];
  const int32_t count = Get16(block + 28);
  // Nodes of whole blocks, slots of 32 bytes that the header holds. The
  // header's size is taken only from figures already found sound.
  const bool nodesSound =
      blocksPerNode_ >= 1 && blocksPerNode_ <= 32 && nodeSize_ == blocksPerNode_ * kBlockSize;
  headerSize_ = nodesSound ? blocksPerNode_ * nodeSize_ : 0;
  if (!nodesSound || entryLength != kSlotSize || slots_ < count ||
      kTagTable + (count + 1) * kSlotSize > headerSize_ || headerSize_ > FileSize()) {
    corrupt_ = true;
    return;
  }
  std::vector<uint8_t> header(static_cast<size_t>(headerSize_));
  if (!ReadBlock(0, header.data(), headerSize_)) {
    corrupt_ = true;
    return;
  }
  storedNextFree_ = Get32(header.data() + 32);
  ResetAllocator();
  for (int32_t k = 1; k <= count; ++k) {
    const uint8_t* slot = header.data() + kTagTable + k * kSlotSize;
    const int64_t address = int64_t{Get32(slot)} * kBlockSize;
    std::string name;
    if (address > INT32_MAX || !TerminatedText(slot + 4, 11, name) || name.empty()) {
      corrupt_ = true;
      return;
    }
    auto tag = std::make_unique<GSobjMDXTag>(this, name, static_cast<int32_t>(address));
    if (!tag->HeaderAccepted()) {
      corrupt_ = true;
      return;
    }
    tags_.Add(std::move(tag));
  }
}

void GSobjMDXFile::CreateFileHeader() {
  std::vector<uint8_t> header(static_cast<size_t>(kHeaderSize), 0);
  header[0] = 2;
  PutDate(header.data() + 1);
  PutDate(header.data() + 44);
  GSO_dBaseDBF* table = owner_ ? owner_->IndexTable() : nullptr;
  const std::string name = table ? UpperAscii(BaseName(table->FileName())).substr(0, 8) : std::string();
  std::memcpy(header.data() + 4, name.data(), name.size());
  Put16(header.data() + 20, kBlocksPerNode);
  Put16(header.data() + 22, kNodeSize);
  header[24] = 1;
  header[25] = kSlots;
  header[26] = kSlotSize;
  Put32(header.data() + 32, kHeaderSize / kBlockSize);
  WriteBlock(0, header.data(), kHeaderSize);
  storedNextFree_ = kHeaderSize / kBlockSize;
  nextFreePage_ = kHeaderSize;
}

void GSobjMDXFile::WriteHeaderFields() {
  uint8_t head[48];
  if (!ReadBlock(0, head, sizeof head)) return;
  PutDate(head + 1);
  Put16(head + 28, static_cast<uint32_t>(tags_.Count()));
  // Everything up to the end of the file is in use.
  storedNextFree_ = static_cast<uint32_t>((FileSize() + kBlockSize - 1) / kBlockSize);
  Put32(head + 32, storedNextFree_);
  WriteBlock(0, head, sizeof head);
  headerChanged_ = false;
}

void GSobjMDXFile::WriteTagTable() {
  std::vector<uint8_t> table(static_cast<size_t>(headerSize_ - kTagTable), 0);
  const int32_t count = static_cast<int32_t>(tags_.Count());
  if (count > 0) table[17] = 1;
  for (int32_t k = 1; k <= count; ++k) {
    auto* tag = static_cast<GSobjMDXTag*>(TagByPosition(k - 1));
    uint8_t* slot = table.data() + k * kSlotSize;
    Put32(slot, static_cast<uint32_t>(tag->HeaderAddress() / kBlockSize));
    std::memcpy(slot + 4, tag->TagName().data(), std::min<size_t>(tag->TagName().size(), kMaxTagName));
    slot[15] = tag->KeyFormat();
    slot[17] = static_cast<uint8_t>(k < count ? k + 1 : 0);
    slot[19] = 2;
    slot[20] = static_cast<uint8_t>(tag->KeyType());
  }
  WriteBlock(kTagTable, table.data(), static_cast<int32_t>(table.size()));
  headerChanged_ = true;
  WriteHeaderFields();
}

int32_t GSobjMDXFile::AllocatePage() {
  if (nextFreePage_ == -1) ResetAllocator();
  const int32_t address = nextFreePage_;
  nextFreePage_ += blocksPerNode_ * kBlockSize;
  return address;
}

int32_t GSobjMDXFile::ResetAllocator() {
  // Round a file that does not end on a block boundary up to the next one.
  const int64_t size = FileSize();
  nextFreePage_ = static_cast<int32_t>(std::max<int64_t>((size + kBlockSize - 1) / kBlockSize * kBlockSize, headerSize_));
  return nextFreePage_;
}

bool GSobjMDXFile::AddTag(std::string_view name, std::string_view keyExpression, bool unique, bool ascending,
                          std::string_view forExpression) {
  if (corrupt_ || !diskFile_) RaiseError(Msg::IndexCorrupted, FullPath());
  std::string upper = UpperAscii(name);
  while (!upper.empty() && upper.back() == ' ') upper.pop_back();
  if (upper.size() > static_cast<size_t>(kMaxTagName)) upper.resize(kMaxTagName);
  if (upper.empty()) RaiseError(Msg::IndexTagNotFound, std::string(name));
  GSobjIndexTag* old = FindTag(upper);
  if (!old && TagCount() >= kMaxTags) return false;  // the tag table is full
  if (old) tags_.RemoveAndFree(old);
  auto created = std::make_unique<GSobjMDXTag>(this, upper, -1);
  GSobjMDXTag* tag = created.get();
  // In name order: before the first tag whose name sorts after this one.
  size_t at = 0;
  while (at < tags_.Count() && TagByPosition(static_cast<int32_t>(at))->TagName() <= upper) ++at;
  tags_.Insert(at, std::move(created));
  bool result = false;
  try {
    result = tag->DefineTag(upper, keyExpression, unique, ascending, forExpression);
  } catch (...) {
    tags_.RemoveAndFree(tag);
    WriteTagTable();
    throw;
  }
  if (!result) tags_.RemoveAndFree(tag);  // a tag without a tree is not listed
  else tag->ReleasePages();
  WriteTagTable();
  return result;
}

bool GSobjMDXFile::DeleteTag(std::string_view name) {
  GSobjIndexTag* found = nullptr;
  const std::string upper = UpperAscii(name);
  for (const auto& t : tags_)
    if (UpperAscii(t->TagName()) == upper) found = t.get();
  if (!found) return false;
  tags_.RemoveAndFree(found);
  WriteTagTable();
  if (tags_.Count() == 0) Reindex();
  return true;
}

void GSobjMDXFile::Reindex() {
  if (!diskFile_ || corrupt_) return;
  diskFile_->LockWholeFile();
  try {
    ReleaseTags();
    diskFile_->Truncate(headerSize_);
    DropKeptImages();
    nextFreePage_ = headerSize_;
    for (const auto& t : tags_) {
      auto* tag = static_cast<GSobjMDXTag*>(t.get());
      tag->headerAddress_ = AllocatePage();
      tag->SetHeaderChanged(true);
      tag->WriteHeader();
      tag->BuildTag();
      tag->ReleasePages();
    }
    WriteTagTable();
  } catch (...) {
    diskFile_->Unlock();
    throw;
  }
  diskFile_->Unlock();
}

bool GSobjMDXFile::RenameFile(std::string_view newName) {
  if (!GSobjIndexFile::RenameFile(newName)) return false;
  uint8_t name[9] = {};
  const std::string base = UpperAscii(BaseName(fileName_)).substr(0, 8);
  std::memcpy(name, base.data(), base.size());
  if (diskFile_->IsReadWrite()) WriteBlock(4, name, sizeof name);
  return true;
}

bool GSobjMDXFile::UpdateKeys(TRecNo n, bool appended) {
  const bool changed = GSobjIndexFile::UpdateKeys(n, appended);
  if (changed) {
    // The nodes reach the file first; then the header's next free block
    // follows the file's end for other programs that allocate from it.
    for (const auto& tag : tags_)
      if (tag->HasUnwrittenChanges()) tag->ReleasePages();
    if ((FileSize() + kBlockSize - 1) / kBlockSize != storedNextFree_) WriteHeaderFields();
  }
  return changed;
}

bool GSobjMDXFile::NodeStamp(int64_t& stamp) {
  // Nodes are kept only where nobody else can change them: the file has no
  // change counter that other programs move.
  if (!diskFile_ || diskFile_->IsShared() || nodeSize_ > GSobjIndexTag::kKeptNodeSpan) return false;
  stamp = 0;
  return true;
}

// --- checking ---

void GSobjMDXFile::WalkTag(GSobjIndexTag& indexTag, IndexCheckReport& report) {
  auto& tag = static_cast<GSobjMDXTag&>(indexTag);
  auto problem = [&report](std::string text) {
    if (report.problems.size() < 20) report.problems.push_back(std::move(text));
  };
  const int64_t size = FileSize();
  const int32_t entrySize = tag.EntrySize();
  const size_t keyLength = static_cast<size_t>(tag.KeyLength());
  std::vector<int32_t> seen;
  int leafLevel = -1;
  GSobjIndexKeyData previous, current;
  bool hasPrevious = false;
  // Walks the subtree at `address`; its last key's bytes go to `last`.
  auto walk = [&](auto& self, int64_t address, int level, std::string& last) -> void {
    if (level >= kMaxLevels) return problem("more than 32 levels");
    if (address < headerSize_ || address % kBlockSize != 0 || address + nodeSize_ > size)
      return problem("node at " + std::to_string(address) + " lies outside the file");
    if (std::find(seen.begin(), seen.end(), address) != seen.end())
      return problem("node at " + std::to_string(address) + " is reached twice");
    seen.push_back(static_cast<int32_t>(address));
    ++report.nodes;
    report.levels = std::max(report.levels, level + 1);
    std::vector<uint8_t> node(static_cast<size_t>(nodeSize_));
    if (!ReadBlock(static_cast<int32_t>(address), node.data(), nodeSize_))
      return problem("node at " + std::to_string(address) + " cannot be read");
    const uint32_t n = Get32(node.data());
    if (int64_t{n} * entrySize + 12 > nodeSize_)
      return problem("node at " + std::to_string(address) + " has a count out of range");
    const uint8_t* at = node.data() + 8;
    if (Get32(at + n * entrySize) == 0) {
      if (leafLevel < 0) leafLevel = level;
      if (leafLevel != level) problem("leaves on more than one level");
      for (uint32_t i = 0; i < n; ++i, at += entrySize) {
        tag.LoadKey(at + 4, current);
        if (hasPrevious && tag.CompareKeys(previous, current, -1) > 0)
          problem("keys out of order in node at " + std::to_string(address));
        previous = current;
        hasPrevious = true;
        report.entries.push_back({std::string(reinterpret_cast<const char*>(at + 4), keyLength), Get32(at), 0});
      }
      if (n > 0) last.assign(reinterpret_cast<const char*>(at - entrySize + 4), keyLength);
      return;
    }
    for (uint32_t i = 0; i <= n; ++i, at += entrySize) {
      std::string childLast;
      self(self, int64_t{Get32(at)} * kBlockSize, level + 1, childLast);
      if (i < n && childLast != std::string(reinterpret_cast<const char*>(at + 4), keyLength))
        problem("branch key differs from its child's last key in node at " + std::to_string(address));
      if (i == n) last = childLast;
    }
  };
  std::string last;
  walk(walk, tag.ReadRootAddress(), 0, last);
}

std::string GSobjMDXFile::CheckedKeyForm(GSobjIndexTag& tag, const GSobjIndexKeyData& key) {
  std::string bytes(static_cast<size_t>(tag.KeyLength()), ' ');
  static_cast<GSobjMDXTag&>(tag).StoreKey(key, reinterpret_cast<uint8_t*>(bytes.data()));
  return bytes;
}
