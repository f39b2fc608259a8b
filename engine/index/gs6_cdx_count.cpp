// Counting the entries of a CDX tag from its leaf headers: every leaf
// states its entry count in its node header, so the tag's size is the sum
// along the leaf level, found without decoding a single key. Used where a
// tag is checked against the table's record count at start-up (the whole
// tag), and where a grid learns the rows of an order or a range and the
// record that ends each of its pages (from one end of the range to the
// other, reading the record numbers of only the leaves that hold a page
// end, or of every leaf in the range when records are left out).
//
// Node header, 12 bytes (see gs6_cdx_format.h):
//   0  2  attributes: bit 1 leaf      2  2  entry count
//   4  4  left sibling (-1 none)      8  4  right sibling (-1 none)
// Branch entry i at 12 + i x (key length + 8): key, record number (4,
// big-endian), child address (4, big-endian). Leaf byte 23: bytes per info
// field; the info fields of the entries fill the first count x that bytes
// of the 488-byte area.
#include <algorithm>
#include <vector>

#include "engine/index/gs6_cdx.h"
#include "engine/support/gs6_glbl.h"

using namespace cdx;

namespace {

// Tries of a count while another process changes the file under it.
constexpr int kCountAttempts = 3;

// Serves 512-byte nodes from runs of consecutive blocks read at once. A
// build writes the leaves one after the other, so a walk along the leaf
// level mostly reads forward: the run doubles (up to kMaxRunBlocks) while
// the walk goes on at or just past the end of the last run, and halves when
// the walk jumps elsewhere, down to single nodes for a tree grown by updates.
class NodeRuns {
 public:
  static constexpr int32_t kMaxRunBlocks = 128;

  NodeRuns(GSobjIndexFile& file, int64_t fileSize) : file_(file), fileSize_(fileSize) {}

  // The node at `address` (a node address of the file), or none when it
  // cannot be read.
  const uint8_t* Node(int32_t address) {
    if (address >= first_ && int64_t{address} + kBlockSize <= first_ + length_)
      return buffer_.data() + (address - first_);
    const int64_t end = first_ + length_;
    const bool forward = length_ > 0 && address >= end && address - end <= length_;
    if (length_ > 0) runBlocks_ = forward ? std::min(runBlocks_ * 2, kMaxRunBlocks) : std::max(runBlocks_ / 2, 1);
    const int64_t blocks = std::min<int64_t>(runBlocks_, (fileSize_ - address) / kBlockSize);
    const int32_t length = static_cast<int32_t>(std::max<int64_t>(blocks, 1) * kBlockSize);
    buffer_.resize(static_cast<size_t>(length));
    first_ = address;
    length_ = 0;
    if (!file_.ReadBlock(address, buffer_.data(), length)) return nullptr;
    length_ = length;
    return buffer_.data();
  }

 private:
  GSobjIndexFile& file_;
  int64_t fileSize_;
  std::vector<uint8_t> buffer_;
  int64_t first_ = 0;
  int64_t length_ = 0;
  int32_t runBlocks_ = 8;
};

// The record number in the info field of leaf entry `index` (bytes per
// entry and record mask from the leaf's header, checked by the caller).
uint32_t LeafRecord(const uint8_t* node, int index, int bytesPerEntry, uint32_t recordMask) {
  const uint8_t* info = node + kLeafInfoOffset + index * bytesPerEntry;
  uint64_t value = 0;
  for (int i = bytesPerEntry - 1; i >= 0; --i) value = (value << 8) | info[i];
  return static_cast<uint32_t>(value) & recordMask;
}

// Runs `count` (which reads the file's nodes) until no other process's
// write fell within it - the file's change stamp the same before and after
// - or kCountAttempts times: a half-written node met on the way is no
// damage, and a count taken across a change is no count of the tag.
template <class Count>
auto WithSteadyNodes(GSobjIndexFile& file, Count&& count) {
  for (int attempt = 1;; ++attempt) {
    int64_t before = 0;
    const bool stamped = file.NodeStamp(before);
    auto moved = [&] {
      int64_t after = 0;
      return stamped && attempt < kCountAttempts && file.NodeStamp(after) && after != before;
    };
    decltype(count()) result{};
    try {
      result = count();
    } catch (...) {
      if (moved()) continue;
      throw;
    }
    if (!moved()) return result;
  }
}

}  // namespace

int64_t GSobjCDXTag::CountKeys() {
  // The walk reads the file; changes still held in node images go there
  // first.
  if (HasUnwrittenChanges()) ReleasePages();
  return WithSteadyNodes(*File(), [this] { return CountLeafEntries(); });
}

bool GSobjCDXTag::CountRangeKeys(int32_t step, const std::vector<uint8_t>* leftOut, int64_t& count,
                                 std::vector<TRecNo>& ends) {
  count = 0;
  ends.clear();
  if (step <= 0) return false;
  // The leaves are read from the file: keys waiting in memory and changes
  // held in node images go there first.
  if (PendingKeyCount() > 0) ApplyPendingKeys();
  if (HasUnwrittenChanges()) ReleasePages();
  return WithSteadyNodes(*File(), [&] { return CountRangeOnce(step, leftOut, count, ends); });
}

bool GSobjCDXTag::CountRangeOnce(int32_t step, const std::vector<uint8_t>* leftOut, int64_t& count,
                                 std::vector<TRecNo>& ends) {
  count = 0;
  ends.clear();
  // The two ends of the range as the walk meets them: where MoveTo(GotoFirst)
  // stands, and where MoveTo(GotoLast) stands when MoveTo(GotoNext) goes no
  // further from there. Keys are in order, so every entry between lies
  // inside the range as well.
  struct Place {
    int32_t leaf = 0;
    int32_t index = 0;
  };
  auto here = [this](Place& at) {
    const GSobjIndexKey* leaf = LeafImage();
    if (!leaf || !leaf->IsLeaf() || leaf->Position() < 0 || leaf->Position() >= leaf->EntryCount()) return false;
    at = {leaf->PageAddress(), leaf->Position()};
    return true;
  };
  Place first, last;
  if (MoveTo(GotoFirst) <= 0) return true;
  if (!here(first)) return false;
  if (MoveTo(GotoLast) <= 0 || !here(last)) return false;
  if (MoveTo(GotoNext) > 0) return false;
  // In leaf order: a descending tag is walked from its last leaf back.
  const bool reversed = Reversed();
  const Place low = reversed ? last : first;
  const Place high = reversed ? first : last;

  GSobjCDXFile* file = File();
  const int64_t fileSize = file->FileSize();
  NodeRuns runs(*file, fileSize);
  NodeHeader header;
  auto read = [&](int32_t address) {
    const uint8_t* node = IsNodeAddress(address, fileSize) ? runs.Node(address) : nullptr;
    if (!node || !DecodeNodeHeader(node, fileSize, header) || !header.IsLeaf()) Corrupted();
    const int bytesPerEntry = node[23];
    if (header.count > 0 && (bytesPerEntry < 3 || bytesPerEntry > 8 || header.count * bytesPerEntry > kLeafAreaSize))
      Corrupted();
    return node;
  };
  auto marked = [leftOut](uint32_t record) {
    return leftOut && record < leftOut->size() && (*leftOut)[record] != 0;
  };

  // Along the leaf level from the low end to the high end: the entries of
  // each leaf inside the range, and how many of them are counted. Each leaf
  // after the first must name the one before it as its left sibling, which
  // also ends a cycle; and there are no more leaves than blocks in the file.
  struct Span {
    int32_t address;
    int32_t from;
    int32_t to;
    int32_t counted;
  };
  std::vector<Span> spans;
  int64_t total = 0;
  int32_t previous = -1;
  for (int32_t address = low.leaf;;) {
    const uint8_t* node = read(address);
    if ((!spans.empty() && header.left != previous) || static_cast<int64_t>(spans.size()) >= fileSize / kBlockSize)
      Corrupted();
    const bool lowLeaf = spans.empty(), highLeaf = address == high.leaf;
    const int32_t from = lowLeaf ? low.index : 0;
    const int32_t to = highLeaf ? high.index : header.count - 1;
    if ((lowLeaf && from >= header.count) || (highLeaf && to >= header.count)) Corrupted();
    if (lowLeaf && highLeaf && from > to) return false;
    int32_t counted = std::max(to - from + 1, 0);
    if (leftOut) {
      const uint32_t mask = GetLE32(node + 14);
      for (int32_t i = from; i <= to; ++i) counted -= marked(LeafRecord(node, i, node[23], mask));
    }
    spans.push_back({address, from, to, counted});
    total += counted;
    if (highLeaf) break;
    // The high end lies not after the low end: not a range the walk knows.
    if (header.right == -1) return false;
    previous = address;
    address = header.right;
  }

  // The walk's k-th counted entry is the k-th in leaf order, or the k-th
  // from the high end in a descending tag; only the leaves holding a k that
  // is a multiple of `step` are read again, for their record numbers.
  const auto ordinal = [&](int64_t inLeafOrder) { return reversed ? total + 1 - inLeafOrder : inLeafOrder; };
  ends.reserve(static_cast<size_t>(total / step));
  int64_t before = 0;
  for (const Span& span : spans) {
    const int64_t a = ordinal(before + 1), b = ordinal(before + span.counted);
    const int64_t lo = std::min(a, b), hi = std::max(a, b);
    if (span.counted > 0 && hi / step > (lo - 1) / step) {
      const uint8_t* node = read(span.address);
      if (span.to >= header.count) Corrupted();
      const uint32_t mask = GetLE32(node + 14);
      int64_t at = before;
      for (int32_t i = span.from; i <= span.to; ++i) {
        const uint32_t record = LeafRecord(node, i, node[23], mask);
        if (marked(record)) continue;
        if (ordinal(++at) % step == 0) ends.push_back(static_cast<TRecNo>(record));
      }
    }
    before += span.counted;
  }
  if (reversed) std::reverse(ends.begin(), ends.end());
  count = total;
  return true;
}

int64_t GSobjCDXTag::CountLeafEntries() {
  GSobjCDXFile* file = File();
  const int64_t fileSize = file->FileSize();
  const int keyLength = keyLength_;
  if (keyLength < 1 || keyLength > kMaxKeyLength) Corrupted();
  NodeRuns runs(*file, fileSize);
  NodeHeader header;
  auto read = [&](int32_t address) {
    const uint8_t* node = IsNodeAddress(address, fileSize) ? runs.Node(address) : nullptr;
    if (!node || !DecodeNodeHeader(node, fileSize, header)) Corrupted();
    return node;
  };

  // Down the first entry of every branch to the first leaf.
  int32_t address = ReadRootAddress();
  const uint8_t* node = read(address);
  for (int level = 1; !header.IsLeaf(); ++level) {
    if (level >= kMaxLevels || header.count == 0 || header.count > BranchCapacity(keyLength)) Corrupted();
    address = static_cast<int32_t>(GetBE32(node + kNodeHeaderSize + keyLength + 4));
    node = read(address);
  }

  // Along the leaf level. Each leaf must name the one before it as its left
  // sibling, which also ends a cycle; and there are no more leaves than
  // blocks in the file.
  int64_t keys = 0;
  int32_t previous = -1;
  for (int64_t leaves = 1;; ++leaves) {
    const int bytesPerEntry = node[23];
    const bool entriesFit = header.count == 0 || (bytesPerEntry >= 3 && bytesPerEntry <= 8 &&
                                                   header.count * bytesPerEntry <= kLeafAreaSize);
    if (!header.IsLeaf() || header.left != previous || !entriesFit || leaves > fileSize / kBlockSize) Corrupted();
    keys += header.count;
    if (header.right == -1) return keys;
    previous = address;
    address = header.right;
    node = read(address);
  }
}
