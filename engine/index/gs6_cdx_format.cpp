// CDX byte layouts, leaf codec and key forms; see gs6_cdx_format.h.
#include "engine/index/gs6_cdx_format.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <set>

namespace cdx {

namespace {

// Collation GENERAL: primary weight and secondary code per byte value, and
// the expansions of the weights 00, 06, 0C and 12 into two weights.
constexpr uint8_t kGeneralWeight[256] = {
    0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x11, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,  // 00
    0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,  // 10
    0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20,  // 20
    0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26,  // 30
    0x27, 0x60, 0x61, 0x62, 0x64, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6F, 0x70, 0x72,  // 40
    0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x28, 0x29, 0x2A, 0x2B, 0x2C,  // 50
    0x2D, 0x60, 0x61, 0x62, 0x64, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6F, 0x70, 0x72,  // 60
    0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x2E, 0x2F, 0x30, 0x31, 0x10,  // 70
    0x10, 0x10, 0x18, 0x32, 0x13, 0x33, 0x34, 0x35, 0x36, 0x37, 0x76, 0x18, 0x00, 0x10, 0x10, 0x10,  // 80
    0x10, 0x18, 0x18, 0x13, 0x13, 0x38, 0x1E, 0x1E, 0x39, 0x3A, 0x76, 0x18, 0x00, 0x10, 0x10, 0x7D,  // 90
    0x20, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x13, 0x45, 0x1E, 0x46, 0x47,  // A0
    0x48, 0x49, 0x58, 0x59, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x57, 0x4F, 0x13, 0x50, 0x51, 0x52, 0x53,  // B0
    0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x06, 0x62, 0x66, 0x66, 0x66, 0x66, 0x6A, 0x6A, 0x6A, 0x6A,  // C0
    0x65, 0x70, 0x72, 0x72, 0x72, 0x72, 0x72, 0x54, 0x81, 0x78, 0x78, 0x78, 0x78, 0x7D, 0x12, 0x0C,  // D0
    0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x06, 0x62, 0x66, 0x66, 0x66, 0x66, 0x6A, 0x6A, 0x6A, 0x6A,  // E0
    0x65, 0x70, 0x72, 0x72, 0x72, 0x72, 0x72, 0x55, 0x81, 0x78, 0x78, 0x78, 0x78, 0x7D, 0x12, 0x7D,  // F0
};

constexpr uint8_t kGeneralSecondary[256] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 00
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 10
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 20
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 30
    0x00, 0x20, 0x00, 0x20, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x20, 0x20,  // 40
    0x00, 0x00, 0x00, 0x20, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 50
    0x00, 0x20, 0x00, 0x20, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x20, 0x20,  // 60
    0x00, 0x00, 0x00, 0x20, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 70
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x80, 0x00, 0x00, 0x00,  // 80
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x80, 0x00, 0x00, 0x24,  // 90
    0x21, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // A0
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // B0
    0x22, 0x21, 0x23, 0x25, 0x24, 0x26, 0x80, 0x27, 0x22, 0x21, 0x23, 0x24, 0x22, 0x21, 0x23, 0x24,  // C0
    0x00, 0x25, 0x22, 0x21, 0x23, 0x25, 0x24, 0x00, 0x00, 0x22, 0x21, 0x23, 0x24, 0x21, 0x80, 0x80,  // D0
    0x22, 0x21, 0x23, 0x25, 0x24, 0x26, 0x80, 0x27, 0x22, 0x21, 0x23, 0x24, 0x22, 0x21, 0x23, 0x24,  // E0
    0x00, 0x25, 0x22, 0x21, 0x23, 0x25, 0x24, 0x00, 0x00, 0x22, 0x21, 0x23, 0x24, 0x21, 0x80, 0x24,  // F0
};

// Expansion w (0, 6, 12, 18): flag, weight 1, secondary 1, weight 2, secondary 2.
struct Expansion {
  uint8_t flag, weight1, secondary1, weight2, secondary2;
};
constexpr Expansion kGeneralExpansion[4] = {
    {0x02, 0x72, 0x20, 0x66, 0x20},  // 00
    {0x02, 0x60, 0x20, 0x66, 0x20},  // 06
    {0x02, 0x76, 0x20, 0x76, 0x20},  // 0C
    {0x02, 0x77, 0x00, 0x69, 0x00},  // 12
};

const Expansion* ExpansionFor(uint8_t weight) {
  if (weight % 6 != 0 || weight > 0x12) return nullptr;
  const Expansion* x = &kGeneralExpansion[weight / 6];
  return x->flag != 0 ? x : nullptr;
}

bool EqualsNoCase(const uint8_t* field, size_t fieldSize, const char* name) {
  size_t n = std::strlen(name);
  if (n >= fieldSize) return false;
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = field[i];
    if (c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 'a' + 'A');
    if (c != static_cast<uint8_t>(name[i])) return false;
  }
  return field[n] == 0;
}

// A zero-terminated text inside [begin, end); the whole run when unterminated.
std::string TextAt(const uint8_t* begin, const uint8_t* end) {
  const uint8_t* stop = std::find(begin, end, uint8_t{0});
  return std::string(reinterpret_cast<const char*>(begin), static_cast<size_t>(stop - begin));
}

uint64_t GetLEn(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void PutLEn(uint8_t* p, int n, uint64_t v) {
  for (int i = 0; i < n; ++i) {
    p[i] = static_cast<uint8_t>(v & 0xFF);
    v >>= 8;
  }
}

// The in-memory form of a character key read from a node: up to its first
// zero byte, trailing blanks dropped.
std::string_view CharacterKeyView(const uint8_t* bytes, size_t n) {
  const uint8_t* stop = std::find(bytes, bytes + n, uint8_t{0});
  size_t len = static_cast<size_t>(stop - bytes);
  while (len > 0 && bytes[len - 1] == ' ') --len;
  return std::string_view(reinterpret_cast<const char*>(bytes), len);
}

std::string_view BinaryKeyView(const uint8_t* bytes, size_t n) {
  while (n > 0 && bytes[n - 1] == 0) --n;
  return std::string_view(reinterpret_cast<const char*>(bytes), n);
}

std::string BinaryKey(const uint8_t* bytes, size_t n) { return std::string(BinaryKeyView(bytes, n)); }

// Collects decoded entries into a vector.
class VectorSink final : public NodeEntrySink {
 public:
  explicit VectorSink(std::vector<NodeEntry>& out) : out_(out) { out_.clear(); }
  void Entry(std::string_view key, uint32_t recordNumber, uint32_t child) override {
    NodeEntry e;
    e.key.assign(key);
    e.recordNumber = recordNumber;
    e.child = child;
    out_.push_back(std::move(e));
  }

 private:
  std::vector<NodeEntry>& out_;
};

// GENERAL secondaries are stored with their trailing run of 0xF0..0xFF
// bytes reduced to the low nibble, and raised again when read.
void ReduceGeneralTail(uint8_t* bytes, size_t n) {
  for (size_t i = n; i > 0 && bytes[i - 1] >= 0xF0; --i) bytes[i - 1] &= 0x0F;
}

void RaiseGeneralTail(uint8_t* bytes, size_t n) {
  for (size_t i = n; i > 1 && bytes[i - 1] <= 0x0F; --i) bytes[i - 1] |= 0xF0;
}

}  // namespace

uint16_t GetLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t GetLE32(const uint8_t* p) { return static_cast<uint32_t>(GetLEn(p, 4)); }
uint32_t GetBE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
void PutLE16(uint8_t* p, uint16_t v) { PutLEn(p, 2, v); }
void PutLE32(uint8_t* p, uint32_t v) { PutLEn(p, 4, v); }
void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

bool IsNodeAddress(int64_t address, int64_t fileSize) {
  return address > 0 && address % kBlockSize == 0 && address + kBlockSize <= fileSize;
}

// --- tag header -------------------------------------------------------------

bool EncodeTagHeader(const TagHeader& h, uint8_t* out) {
  const bool hasFor = !h.forExpression.empty();
  size_t poolUse = h.keyExpression.size() + 1 + (hasFor ? h.forExpression.size() + 1 : 0);
  if (poolUse > 512) return false;
  std::memset(out, 0, kHeaderSize);
  PutLE32(out + 0, static_cast<uint32_t>(h.rootAddress));
  PutLE32(out + 8, h.version);
  PutLE16(out + 12, h.keyLength);
  out[14] = h.options;
  out[15] = 1;
  if (h.collation == Collation::General && (h.options & 0x80) == 0) {
    std::memcpy(out + 494, "GENERAL", 7);
    out[15] = 2;
  }
  PutLE16(out + 502, h.descending ? 1 : 0);
  const uint16_t keyLen = static_cast<uint16_t>(h.keyExpression.size() + 1);
  PutLE16(out + 504, h.keyExpression.empty() ? 0 : keyLen);
  PutLE16(out + 506, static_cast<uint16_t>(hasFor ? h.forExpression.size() + 1 : 1));
  PutLE16(out + 510, h.keyExpression.empty() ? 1 : keyLen);
  std::memcpy(out + 512, h.keyExpression.data(), h.keyExpression.size());
  if (hasFor)
    std::memcpy(out + 512 + h.keyExpression.size() + 1, h.forExpression.data(),
                h.forExpression.size());
  return true;
}

bool DecodeTagHeader(const uint8_t* in, int64_t fileSize, TagHeader& out) {
  const int64_t root = static_cast<int32_t>(GetLE32(in));
  if (root <= 0 || root % kBlockSize != 0) return false;
  if (fileSize >= 0 && root + kBlockSize > fileSize) return false;
  const uint16_t keyLength = GetLE16(in + 12);
  if (keyLength == 0 || keyLength > kMaxKeyLength) return false;
  out.rootAddress = static_cast<int32_t>(root);
  out.version = GetLE32(in + 8);
  out.keyLength = keyLength;
  out.options = in[14];
  if (EqualsNoCase(in + 494, 8, "GENERAL"))
    out.collation = Collation::General;
  else if (EqualsNoCase(in + 494, 8, "MACHINE"))
    out.collation = Collation::Machine;
  else
    out.collation = Collation::None;
  out.descending = GetLE16(in + 502) != 0;
  const uint8_t* pool = in + 512;
  const uint8_t* poolEnd = in + kHeaderSize;
  out.keyExpression = TextAt(pool, poolEnd);
  out.forExpression.clear();
  if (out.options & kOptionHasFor) {
    const uint8_t* forStart = pool + out.keyExpression.size() + 1;
    if (forStart < poolEnd) out.forExpression = TextAt(forStart, poolEnd);
  }
  return true;
}

// --- nodes ------------------------------------------------------------------

bool DecodeNodeHeader(const uint8_t* node, int64_t fileSize, NodeHeader& out) {
  out.attributes = GetLE16(node);
  out.count = GetLE16(node + 2);
  out.left = static_cast<int32_t>(GetLE32(node + 4));
  out.right = static_cast<int32_t>(GetLE32(node + 8));
  // Only bit 0 (root) and bit 1 (leaf) are ours; other programs set more
  // bits, which say nothing about the node's layout.
  auto siblingOk = [fileSize](int32_t a) { return a == -1 || IsNodeAddress(a, fileSize); };
  return siblingOk(out.left) && siblingOk(out.right);
}

void EncodeNodeHeader(const NodeHeader& h, uint8_t* node) {
  PutLE16(node, h.attributes);
  PutLE16(node + 2, h.count);
  PutLE32(node + 4, static_cast<uint32_t>(h.left));
  PutLE32(node + 8, static_cast<uint32_t>(h.right));
}

LeafParams ComputeLeafParams(int keyLength, uint32_t largestValue) {
  int bits = std::max(1, static_cast<int>(std::bit_width(static_cast<unsigned>(std::max(keyLength, 0)))));
  LeafParams p;
  p.duplicateBits = p.trailingBits = static_cast<uint8_t>(bits);
  p.duplicateMask = p.trailingMask = static_cast<uint8_t>((1u << bits) - 1);
  // The record number takes every bit below the two counts; the entry grows
  // a byte at a time until that holds the largest value.
  int bpe = 3;
  while (8 * bpe - 2 * bits < static_cast<int>(std::bit_width(largestValue))) ++bpe;
  const int recordBits = 8 * bpe - 2 * bits;
  p.recordBits = static_cast<uint8_t>(recordBits);
  // The mask field has 32 bits; a wider record field holds no more.
  p.recordMask = recordBits >= 32 ? 0xFFFFFFFFu : static_cast<uint32_t>((uint64_t{1} << recordBits) - 1);
  p.bytesPerEntry = static_cast<uint8_t>(bpe);
  return p;
}

void EncodeLeafParams(const LeafParams& p, uint8_t* node) {
  PutLE32(node + 14, p.recordMask);
  node[18] = p.duplicateMask;
  node[19] = p.trailingMask;
  node[20] = p.recordBits;
  node[21] = p.duplicateBits;
  node[22] = p.trailingBits;
  node[23] = p.bytesPerEntry;
}

namespace {

// `value` shifted right by `bits`; a count field of no bits in an
// eight-byte entry sits at bit 64, where a plain shift is undefined.
uint64_t ShiftedDown(uint64_t value, int bits) { return bits >= 64 ? 0 : value >> bits; }

}  // namespace

bool DecodeLeaf(const uint8_t* node, const KeyFormat& fmt, NodeEntrySink& out, LeafParams* paramsOut) {
  const int keyLength = fmt.keyLength;
  if (keyLength < 1 || keyLength > kMaxKeyLength) return false;
  const int count = GetLE16(node + 2);
  LeafParams p;
  p.recordMask = GetLE32(node + 14);
  p.duplicateMask = node[18];
  p.trailingMask = node[19];
  p.recordBits = node[20];
  p.duplicateBits = node[21];
  p.trailingBits = node[22];
  p.bytesPerEntry = node[23];
  if (paramsOut) *paramsOut = p;
  if (count == 0) return true;
  const int bpe = p.bytesPerEntry;
  if (bpe < 3 || bpe > 8) return false;
  // Counts are found from the top of the entry, so leaves whose record
  // field leaves bits unused below them read as well as those that do not.
  if (p.duplicateBits + p.trailingBits > 16 ||
      p.recordBits + p.duplicateBits + p.trailingBits > 8 * bpe)
    return false;
  if (count * bpe > kLeafAreaSize) return false;

  const uint8_t* area = node + kLeafInfoOffset;
  const int infoEnd = count * bpe;
  const int trailShift = 8 * bpe - p.trailingBits;
  const int dupShift = trailShift - p.duplicateBits;
  const uint8_t filler = fmt.character ? ' ' : 0;
  uint8_t buffer[256];
  std::memset(buffer, filler, sizeof buffer);
  int pool = kLeafAreaSize;
  for (int i = 0; i < count; ++i) {
    const uint64_t info = GetLEn(area + i * bpe, bpe);
    const uint32_t record = static_cast<uint32_t>(info & p.recordMask);
    const int dup = static_cast<int>(ShiftedDown(info, dupShift) & p.duplicateMask);
    const int trail = static_cast<int>(ShiftedDown(info, trailShift) & p.trailingMask);
    if (dup + trail > keyLength) return false;
    const int stored = keyLength - dup - trail;
    pool -= stored;
    if (pool < infoEnd) return false;  // key bytes would overlap the info fields
    std::memcpy(buffer + dup, area + pool, static_cast<size_t>(stored));
    const int len = keyLength - trail;
    std::memset(buffer + len, filler, static_cast<size_t>(trail));
    if (fmt.character) {
      if (fmt.general) RaiseGeneralTail(buffer, static_cast<size_t>(len));
      out.Entry(CharacterKeyView(buffer, static_cast<size_t>(len)), record, record);
    } else {
      out.Entry(BinaryKeyView(buffer, static_cast<size_t>(len)), record, record);
    }
  }
  return true;
}

bool DecodeLeaf(const uint8_t* node, const KeyFormat& fmt, std::vector<NodeEntry>& out,
                LeafParams* paramsOut) {
  VectorSink sink(out);
  return DecodeLeaf(node, fmt, sink, paramsOut);
}

std::string_view StoredKeyView(std::string_view key, const KeyFormat& fmt) {
  const size_t n = std::min(key.size(), static_cast<size_t>(std::max(fmt.keyLength, 0)));
  const auto* bytes = reinterpret_cast<const uint8_t*>(key.data());
  return fmt.character ? CharacterKeyView(bytes, n) : BinaryKeyView(bytes, n);
}

std::string StoredKeyForm(std::string_view key, const KeyFormat& fmt) {
  return std::string(StoredKeyView(key, fmt));
}

int BranchCapacity(int keyLength) { return kBranchAreaSize / (keyLength + 8); }

bool DecodeBranch(const uint8_t* node, const KeyFormat& fmt, int64_t fileSize, NodeEntrySink& out) {
  const int keyLength = fmt.keyLength;
  if (keyLength < 1 || keyLength > kMaxKeyLength) return false;
  const int count = GetLE16(node + 2);
  if (count > BranchCapacity(keyLength)) return false;
  uint8_t buffer[256];
  for (int i = 0; i < count; ++i) {
    const uint8_t* e = node + kNodeHeaderSize + i * (keyLength + 8);
    const uint32_t recordNumber = GetBE32(e + keyLength);
    const uint32_t child = GetBE32(e + keyLength + 4);
    if (!IsNodeAddress(child, fileSize)) return false;
    if (fmt.character) {
      std::memcpy(buffer, e, static_cast<size_t>(keyLength));
      size_t len = static_cast<size_t>(keyLength);
      if (fmt.general) {
        while (len > 0 && buffer[len - 1] == ' ') --len;
        RaiseGeneralTail(buffer, len);
      }
      out.Entry(CharacterKeyView(buffer, len), recordNumber, child);
    } else {
      out.Entry(BinaryKeyView(e, static_cast<size_t>(keyLength)), recordNumber, child);
    }
  }
  return true;
}

bool DecodeBranch(const uint8_t* node, const KeyFormat& fmt, int64_t fileSize,
                  std::vector<NodeEntry>& out) {
  VectorSink sink(out);
  return DecodeBranch(node, fmt, fileSize, sink);
}

void ClearBranchArea(uint8_t* node, const KeyFormat& fmt) {
  std::memset(node + kNodeHeaderSize, fmt.character ? ' ' : 0, kBranchAreaSize);
}

void PutBranchEntry(uint8_t* node, const KeyFormat& fmt, int index, std::string_view key,
                    uint32_t recordNumber, uint32_t child) {
  uint8_t* e = node + kNodeHeaderSize + index * (fmt.keyLength + 8);
  const size_t len = std::min(key.size(), static_cast<size_t>(fmt.keyLength));
  std::memset(e, fmt.character ? ' ' : 0, static_cast<size_t>(fmt.keyLength));
  if (len > 0) std::memcpy(e, key.data(), len);
  if (fmt.character && fmt.general) ReduceGeneralTail(e, len);
  PutBE32(e + fmt.keyLength, recordNumber);
  PutBE32(e + fmt.keyLength + 4, child);
}

LeafWriter::LeafWriter(uint8_t* node, const KeyFormat& fmt, const LeafParams& params)
    : node_(node), fmt_(fmt), params_(params) {}

void LeafWriter::Clear() {
  std::memset(node_ + kNodeHeaderSize, 0, kBlockSize - kNodeHeaderSize);
  EncodeLeafParams(params_, node_);
  free_ = kLeafAreaSize;
  pool_ = kLeafAreaSize;
  count_ = 0;
  previous_.clear();
  PutLE16(node_ + 2, 0);
  PutLE16(node_ + 12, static_cast<uint16_t>(free_));
}

namespace {
// The key as stored: cut to the key length, trailing filler bytes dropped.
std::string_view StoredKey(std::string_view key, const KeyFormat& fmt) {
  if (key.size() > static_cast<size_t>(fmt.keyLength)) key = key.substr(0, fmt.keyLength);
  const char filler = fmt.character ? ' ' : '\0';
  while (!key.empty() && key.back() == filler) key.remove_suffix(1);
  return key;
}

size_t SharedPrefix(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}
}  // namespace

int LeafWriter::StoredSize(std::string_view key) const {
  key = StoredKey(key, fmt_);
  const size_t dup = count_ == 0 ? 0 : SharedPrefix(previous_, key);
  return params_.bytesPerEntry + static_cast<int>(key.size() - dup);
}

bool LeafWriter::Add(std::string_view key, uint32_t recordNumber) {
  key = StoredKey(key, fmt_);
  const int bpe = params_.bytesPerEntry;
  const int dup = count_ == 0 ? 0 : static_cast<int>(SharedPrefix(previous_, key));
  const int stored = static_cast<int>(key.size()) - dup;
  const int trail = fmt_.keyLength - static_cast<int>(key.size());
  if (bpe + stored > free_) return false;
  const int trailShift = 8 * bpe - params_.trailingBits;
  const int dupShift = trailShift - params_.duplicateBits;
  const uint64_t info = (uint64_t{recordNumber} & params_.recordMask) |
                        (static_cast<uint64_t>(dup) << dupShift) |
                        (static_cast<uint64_t>(trail) << trailShift);
  uint8_t* area = node_ + kLeafInfoOffset;
  PutLEn(area + count_ * bpe, bpe, info);
  pool_ -= stored;
  // An empty key (a blank one) may come without any bytes to copy from.
  if (stored > 0) std::memcpy(area + pool_, key.data() + dup, static_cast<size_t>(stored));
  if (fmt_.character && fmt_.general) ReduceGeneralTail(area + pool_, static_cast<size_t>(stored));
  free_ -= bpe + stored;
  ++count_;
  previous_.assign(key);
  PutLE16(node_ + 2, static_cast<uint16_t>(count_));
  PutLE16(node_ + 12, static_cast<uint16_t>(free_));
  return true;
}

// --- key forms ------------------------------------------------------------

std::string NumericKey(double value) {
  if (value == 0) value = 0;  // -0 sorts as 0
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  uint8_t key[8];
  for (int i = 0; i < 8; ++i) {
    uint8_t b = static_cast<uint8_t>(bits >> (8 * (7 - i)));
    key[i] = negative ? static_cast<uint8_t>(~b) : b;
  }
  if (!negative) key[0] |= 0x80;
  return BinaryKey(key, 8);
}

double NumericKeyValue(std::string_view key) {
  uint8_t k[8] = {};
  std::memcpy(k, key.data(), std::min<size_t>(key.size(), 8));
  const bool positive = (k[0] & 0x80) != 0;
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) {
    uint8_t b = positive ? k[i] : static_cast<uint8_t>(~k[i]);
    if (positive && i == 0) b &= 0x7F;
    bits = (bits << 8) | b;
  }
  return std::bit_cast<double>(bits);
}

std::string GeneralKey(std::string_view text) {
  std::string weights;
  std::string secondaries;
  weights.reserve(text.size() * 2);
  for (unsigned char c : text) {
    const uint8_t w = kGeneralWeight[c];
    const uint8_t d = kGeneralSecondary[c];
    const Expansion* x = ExpansionFor(w);
    if (x) {
      weights.push_back(static_cast<char>(x->weight1));
      weights.push_back(static_cast<char>(x->weight2));
    } else {
      weights.push_back(static_cast<char>(w));
    }
    if (d == 0) continue;
    if (d == 0x80) {
      if (x && x->secondary1 != 0) secondaries.push_back(static_cast<char>(x->secondary1 | 0xF0));
      if (x && x->secondary2 != 0) secondaries.push_back(static_cast<char>(x->secondary2 | 0xF0));
    } else {
      secondaries.push_back(static_cast<char>(d | 0xF0));
    }
  }
  while (!secondaries.empty() && static_cast<uint8_t>(secondaries.back()) == 0xF0)
    secondaries.pop_back();
  return weights + secondaries;
}

// --- whole trees -----------------------------------------------------------

namespace {

constexpr size_t kMaxProblems = 20;

struct PlacedNode {
  int32_t address;
  NodeHeader header;
};

class TreeWalker {
 public:
  TreeWalker(const NodeReader& read, int64_t fileSize, const KeyFormat& fmt, TreeReport& report)
      : read_(read), fileSize_(fileSize), fmt_(fmt), report_(report) {}

  void Run(int32_t root) {
    if (!IsNodeAddress(root, fileSize_)) {
      Problem("root " + std::to_string(root) + " is not a node address");
      return;
    }
    NodeEntry last;
    Visit(root, 0, last);
    report_.levels = static_cast<int>(levels_.size());
    CheckSiblings();
    CheckOrder();
  }

 private:
  void Problem(std::string text) {
    if (report_.problems.size() < kMaxProblems) report_.problems.push_back(std::move(text));
  }

  static std::string At(int32_t address) { return "node " + std::to_string(address); }

  // Reads the subtree at `address`; `last` gets its last entry. False when
  // the subtree could not be read (a problem has been reported).
  bool Visit(int32_t address, int depth, NodeEntry& last) {
    if (depth >= kMaxLevels) {
      Problem(At(address) + ": tree deeper than 32 levels");
      return false;
    }
    if (!seen_.insert(address).second) {
      Problem(At(address) + ": reached twice (cycle or shared node)");
      return false;
    }
    uint8_t node[kBlockSize];
    if (!read_(address, node)) {
      Problem(At(address) + ": cannot be read");
      return false;
    }
    ++report_.nodes;
    NodeHeader h;
    if (!DecodeNodeHeader(node, fileSize_, h)) {
      Problem(At(address) + ": damaged node header");
      return false;
    }
    if (((h.attributes & kAttrRoot) != 0) != (depth == 0))
      Problem(At(address) + ": root attribute " + (depth == 0 ? "missing" : "on an inner node"));
    if (levels_.size() <= static_cast<size_t>(depth)) levels_.resize(static_cast<size_t>(depth) + 1);
    levels_[static_cast<size_t>(depth)].push_back({address, h});
    std::vector<NodeEntry> entries;
    if (h.IsLeaf()) {
      if (leafDepth_ < 0) leafDepth_ = depth;
      if (leafDepth_ != depth) Problem(At(address) + ": leaf on another level than the others");
      if (!DecodeLeaf(node, fmt_, entries)) {
        Problem(At(address) + ": damaged leaf");
        return false;
      }
      if (entries.empty() && depth > 0) Problem(At(address) + ": empty leaf below the root");
      if (!entries.empty()) last = entries.back();
      for (auto& e : entries) report_.entries.push_back(std::move(e));
      return true;
    }
    if (!DecodeBranch(node, fmt_, fileSize_, entries)) {
      Problem(At(address) + ": damaged branch");
      return false;
    }
    if (entries.empty()) Problem(At(address) + ": empty branch");
    bool ok = true;
    for (const NodeEntry& e : entries) {
      NodeEntry childLast;
      if (!Visit(static_cast<int32_t>(e.child), depth + 1, childLast)) {
        ok = false;
        continue;
      }
      if (childLast.key != e.key || childLast.recordNumber != e.recordNumber)
        Problem(At(address) + ": branch entry for " + At(static_cast<int32_t>(e.child)) +
                " is not that node's last key");
    }
    if (!entries.empty()) last = entries.back();
    return ok;
  }

  void CheckSiblings() {
    for (size_t level = 0; level < levels_.size(); ++level) {
      const auto& nodes = levels_[level];
      for (size_t i = 0; i < nodes.size(); ++i) {
        int32_t expectLeft = i == 0 ? -1 : nodes[i - 1].address;
        int32_t expectRight = i + 1 == nodes.size() ? -1 : nodes[i + 1].address;
        if (nodes[i].header.left != expectLeft)
          Problem(At(nodes[i].address) + ": left sibling " + std::to_string(nodes[i].header.left) +
                  ", expected " + std::to_string(expectLeft));
        if (nodes[i].header.right != expectRight)
          Problem(At(nodes[i].address) + ": right sibling " + std::to_string(nodes[i].header.right) +
                  ", expected " + std::to_string(expectRight));
      }
    }
  }

  void CheckOrder() {
    const auto& e = report_.entries;
    for (size_t i = 1; i < e.size(); ++i) {
      int c = e[i - 1].key.compare(e[i].key);
      if (c > 0 || (c == 0 && e[i - 1].recordNumber >= e[i].recordNumber))
        Problem("entry " + std::to_string(i) + " (record " + std::to_string(e[i].recordNumber) +
                ") is out of order");
    }
  }

  const NodeReader& read_;
  int64_t fileSize_;
  const KeyFormat& fmt_;
  TreeReport& report_;
  std::set<int32_t> seen_;
  std::vector<std::vector<PlacedNode>> levels_;
  int leafDepth_ = -1;
};

}  // namespace

void WalkTree(const NodeReader& read, int64_t fileSize, int32_t root, const KeyFormat& fmt,
              TreeReport& report) {
  report = TreeReport{};
  TreeWalker(read, fileSize, fmt, report).Run(root);
}

}  // namespace cdx
