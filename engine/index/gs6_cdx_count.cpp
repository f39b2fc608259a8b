// Counting the entries of a whole CDX tag from its leaf headers: every leaf
// states its entry count in its node header, so the tag's size is the sum
// along the leaf level, found without decoding a single key. Used where a
// tag is checked against the table's record count at start-up.
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

}  // namespace

int64_t GSobjCDXTag::CountKeys() {
  // The walk reads the file; changes still held in node images go there
  // first.
  if (HasUnwrittenChanges()) ReleasePages();
  GSobjCDXFile* file = File();
  // A walk that met another process's write (the file's change stamp moved
  // meanwhile) is done again: a half-written node is no damage, and a count
  // taken across a change is no count of the tag.
  for (int attempt = 1;; ++attempt) {
    int64_t before = 0;
    const bool stamped = file->NodeStamp(before);
    auto moved = [&] {
      int64_t after = 0;
      return stamped && attempt < kCountAttempts && file->NodeStamp(after) && after != before;
    };
    int64_t keys = 0;
    try {
      keys = CountLeafEntries();
    } catch (...) {
      if (moved()) continue;
      throw;
    }
    if (!moved()) return keys;
  }
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
