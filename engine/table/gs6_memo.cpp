// Memo files of the three layouts: finding, reading, writing and allocating
// memo texts, the memo allocation lock, and following a table rename.
#include "engine/table/gs6_memo.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf.h"
#include "platform/file.h"

namespace {

// A dBase III memo without an end mark is cut here.
constexpr int32_t kDb3LengthCut = 65519;
// Bytes of the dBase III end mark (0x1A 0x1A).
constexpr int32_t kDb3EndMarkSize = 2;
// The block header of dBase IV and FoxPro memos.
constexpr int32_t kBlockHeaderSize = 8;
// The FoxPro header takes 512 bytes whatever the block size.
constexpr int32_t kFoxHeaderSize = 512;
// Where the ".dbt" headers keep the table name, and its room.
constexpr int32_t kNameOffset = 8;
constexpr int32_t kNameRoom = 9;
constexpr size_t kNameMax = 8;
// Where the dBase IV header keeps its block size.
constexpr int32_t kDb4BlockSizeOffset = 20;
// The largest text a memo may hold: block numbers and lengths are 32-bit.
constexpr size_t kMaxTextLength = 0x7FFF0000;
// Chunk read while looking for a dBase III end mark.
constexpr int32_t kScanChunk = 32768;

uint32_t GetLE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetBE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// Position of the extension's dot in a file name, or npos.
size_t ExtensionDot(const std::string& name) {
  size_t dot = name.find_last_of('.');
  size_t slash = name.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return std::string::npos;
  }
  return dot;
}

std::string Trimmed(const std::string& s) {
  size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  size_t last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

// True when a name part has capital letters and no small ones ("DBF").
bool IsUpperCase(const std::string& s) {
  bool capital = false;
  for (char c : s) {
    if (c >= 'a' && c <= 'z') return false;
    if (c >= 'A' && c <= 'Z') capital = true;
  }
  return capital;
}

// Holds the memo allocation lock of a shared memo file for one write and
// releases it on every way out, exceptions included.
class MemoLockGuard {
 public:
  explicit MemoLockGuard(GSobjMemo& memo) : memo_(memo) {
    if (!memo_.IsShared()) return;
    TgsLockArea area = MemoLockArea(memo_.LockProtocol());
    memo_.LockRegionWaiting(area.offset, area.length);
    held_ = true;
  }
  ~MemoLockGuard() {
    if (!held_) return;
    try {
      memo_.Unlock();
    } catch (...) {
      // The write's own failure, if any, is the one worth reporting.
    }
  }
  MemoLockGuard(const MemoLockGuard&) = delete;
  MemoLockGuard& operator=(const MemoLockGuard&) = delete;

 private:
  GSobjMemo& memo_;
  bool held_ = false;
};

}  // namespace

// ---------------------------------------------------------------------------
// GSobjMemo: construction and the helpers every layout shares

GSobjMemo::GSobjMemo(GSO_dBaseDBF* owner, uint8_t version, bool shared, bool readWrite,
                     const std::string& password, const std::string& tableFileName)
    : GSO_DiskFile(MemoFileNameFor(tableFileName, version), shared, readWrite),
      owner_(owner),
      version_(version),
      passwordRead_(password),
      passwordWrite_(password) {
  if (!Exists()) RaiseError(Msg::FileNotFound, FileName());
  Open();
}

GSobjMemo::~GSobjMemo() = default;

std::unique_ptr<GSobjMemo> GSobjMemo::Make(GSO_dBaseDBF* owner, uint8_t version, bool shared,
                                           bool readWrite, const std::string& password,
                                           const std::string& tableFileName) {
  switch (version) {
    case 0x83:
      return std::make_unique<GSobjMemo>(owner, version, shared, readWrite, password,
                                         tableFileName);
    case 0x8B:
      return std::make_unique<GSobjMemo4>(owner, version, shared, readWrite, password,
                                          tableFileName);
    case 0x30:
    case 0xF5:
      return std::make_unique<GSobjFXMemo20>(owner, version, shared, readWrite, password,
                                             tableFileName);
    default:
      return nullptr;
  }
}

std::string GSobjMemo::MemoFileNameFor(const std::string& tableFileName, uint8_t version) {
  std::string name = Trimmed(tableFileName);
  std::string tableExt;
  size_t dot = ExtensionDot(name);
  if (dot != std::string::npos) {
    tableExt = name.substr(dot + 1);
    name.erase(dot);
  }
  bool fox = version == 0x30 || version == 0xF5;
  std::string lower = fox ? ".fpt" : ".dbt";
  std::string upper = fox ? ".FPT" : ".DBT";
  // The letter case of the table's extension is tried first; failing that,
  // the one file named so in any letter case.
  return platform::ExistingFileName(name + (IsUpperCase(tableExt) ? upper : lower));
}

void GSobjMemo::RaiseBadMemo() const { RaiseError(Msg::MemoRecordBad, FileName()); }

void GSobjMemo::ReadExactly(int64_t offset, void* buffer, int32_t length) {
  if (length <= 0) return;
  if (ReadAt(offset, buffer, length) != length) RaiseBadMemo();
}

int32_t GSobjMemo::ReadImage(int64_t offset) {
  image_.fill(0);
  return ReadAt(offset, image_.data(), kImageSize);
}

void GSobjMemo::CheckNextFree(int64_t nextFree) {
  if (nextFree < firstDataBlock_ || nextFree > FileBlocks()) RaiseBadMemo();
}

// ---------------------------------------------------------------------------
// GSobjMemo: the virtual operations of the dBase III layout

void GSobjMemo::AllocateBlocks(int32_t length) {
  int64_t need = BlocksFor(int64_t{WritePrefixSize()} + length + kDb3EndMarkSize);
  if (currentBlock_ == 0 || currentCount_ < need) {
    uint8_t header[4];
    ReadExactly(0, header, sizeof header);
    int64_t nextFree = GetLE32(header);
    CheckNextFree(nextFree);
    if (nextFree + need > std::numeric_limits<int32_t>::max()) RaiseBadMemo();
    currentBlock_ = static_cast<int32_t>(nextFree);
    PutLE32(header, static_cast<uint32_t>(nextFree + need));
    WriteAt(0, header, sizeof header);
  }
  currentCount_ = static_cast<int32_t>(need);
  image_.fill(0);
}

void GSobjMemo::FreeBlocks(int32_t /*block*/) {}

void GSobjMemo::WriteEndMark(uint8_t* image, int32_t position) {
  image[position] = kEofMark;
  image[position + 1] = kEofMark;
}

int64_t GSobjMemo::BlockLength() { return 0; }

void GSobjMemo::SetLockProtocol(TgsLokProtocol protocol) { lockProtocol_ = protocol; }

void GSobjMemo::SetPasswords(const std::string& readPassword, const std::string& writePassword) {
  passwordRead_ = readPassword;
  passwordWrite_ = writePassword;
}

void GSobjMemo::RenameMemo(const std::string& newTableName) {
  std::string base = RenameMemoFile(newTableName);
  if (!IsReadWrite()) return;
  // The ".dbt" headers carry the table's base name.
  base.resize(std::min(base.size(), kNameMax));
  uint8_t header[kImageSize] = {};
  int32_t count = ReadAt(0, header, kImageSize);
  std::memset(header + kNameOffset, 0, kNameRoom);
  std::memcpy(header + kNameOffset, base.data(), base.size());
  WriteAt(0, header, std::max(count, kNameOffset + kNameRoom));
}

std::string GSobjMemo::RenameMemoFile(const std::string& newTableName) {
  std::string name = Trimmed(newTableName);
  size_t dot = ExtensionDot(name);
  if (dot != std::string::npos) name.erase(dot);
  size_t ownDot = ExtensionDot(FileName());
  std::string ownExt = ownDot == std::string::npos ? std::string() : FileName().substr(ownDot);
  Rename(name + ownExt);
  size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// ---------------------------------------------------------------------------
// GSobjMemo: lengths, reading and writing

int32_t GSobjMemo::TextLengthToEndMark(int64_t offset) {
  // The text runs to the first 0x1A. Memos of any length that end with their
  // mark are read whole; only a text whose mark is missing altogether (the
  // file ends first) is cut at 65,519 bytes, the most an end-mark-less memo
  // is taken to hold.
  std::vector<char> chunk(kScanChunk);
  int64_t counted = 0;
  for (;;) {
    int32_t got = ReadAt(offset + counted, chunk.data(), kScanChunk);
    const void* mark = std::memchr(chunk.data(), kEofMark, static_cast<size_t>(std::max(got, 0)));
    if (mark != nullptr) {
      counted += static_cast<const char*>(mark) - chunk.data();
      if (counted > std::numeric_limits<int32_t>::max()) RaiseBadMemo();
      return static_cast<int32_t>(counted);
    }
    if (got <= 0) break;
    counted += got;
    if (got < kScanChunk) break;
  }
  return static_cast<int32_t>(std::min<int64_t>(counted, kDb3LengthCut));
}

int32_t GSobjMemo::MemoLength(int32_t block) {
  if (block == 0) return blockHeaderLength_;
  if (block < firstDataBlock_) RaiseBadMemo();  // negative, or inside the header
  int64_t offset = BlockOffset(block);
  int64_t fileSize = SizeOfFile();
  if (offset >= fileSize) RaiseBadMemo();  // a block beyond the end

  if (blockHeaderLength_ == 0) {
    if (ReadPrefixSize() == 0) return TextLengthToEndMark(offset);
    if (ReadImage(offset) < 4) RaiseBadMemo();
    int64_t length = GetLE32(image_.data());
    if (length > fileSize - offset - 4) RaiseBadMemo();
    return static_cast<int32_t>(length);
  }

  if (ReadImage(offset) < blockHeaderLength_) RaiseBadMemo();
  int64_t length = BlockLength();
  if (length < blockHeaderLength_ || length > fileSize - offset) RaiseBadMemo();
  return static_cast<int32_t>(length);
}

void GSobjMemo::ReadMemo(int32_t block, char* buffer, int32_t& length) {
  if (length <= 0) return;
  currentBlock_ = block;
  currentCount_ = 0;
  if (block == 0) {
    buffer[0] = '\0';
    length = 0;
    return;
  }
  length = std::min(length, MemoSize(block));
  ReadText(block, buffer, length);
}

std::string GSobjMemo::ReadMemo(int32_t block) {
  currentBlock_ = block;
  currentCount_ = 0;
  if (block == 0) return {};
  std::string text(static_cast<size_t>(MemoSize(block)), '\0');
  ReadText(block, text.data(), static_cast<int32_t>(text.size()));
  return text;
}

void GSobjMemo::ReadText(int32_t block, char* buffer, int32_t length) {
  int32_t start = blockHeaderLength_ + ReadPrefixSize();
  currentCount_ = static_cast<int32_t>(std::max<int64_t>(1, BlocksFor(int64_t{start} + length)));
  ReadExactly(BlockOffset(block) + start, buffer, length);
  TableCipher(passwordRead_, buffer, buffer, static_cast<size_t>(length));
}

int32_t GSobjMemo::WriteMemo(std::string_view text, int32_t block) {
  if (text.size() > kMaxTextLength) RaiseError(Msg::WriteError, FileName());
  int32_t length = static_cast<int32_t>(text.size());
  if (length == 0 && block == 0) return 0;

  MemoLockGuard lock(*this);
  if (length == 0) {
    // No text: the old blocks go back (where the layout reuses them) and the
    // record keeps no memo, so nothing new is written.
    if (block != 0) FreeBlocks(block);
    currentBlock_ = 0;
    currentCount_ = 0;
    return 0;
  }

  // The old text is measured as it was stored (read password), the new one
  // laid out as it will be stored (write password); the two differ while
  // the table changes its password.
  currentCount_ = 0;
  if (block != 0) {
    int64_t oldSize = int64_t{MemoLength(block)} + ReadPrefixSize();
    currentCount_ = static_cast<int32_t>(BlocksFor(oldSize));
  }
  currentBlock_ = block;
  AllocateBlocks(length);

  int32_t prefix = WritePrefixSize();
  int32_t endMark = blockHeaderLength_ == 0 ? kDb3EndMarkSize : 0;
  int64_t used = int64_t{blockHeaderLength_} + prefix + length + endMark;
  std::vector<uint8_t> image(static_cast<size_t>(BlocksFor(used) * blockSize_), 0);
  if (blockHeaderLength_ > 0) {
    std::memcpy(image.data(), image_.data(), static_cast<size_t>(blockHeaderLength_));
  } else if (prefix > 0) {
    PutLE32(image.data(), static_cast<uint32_t>(length));
  }
  int32_t start = blockHeaderLength_ + prefix;
  TableCipher(passwordWrite_, text.data(), image.data() + start, text.size());
  WriteEndMark(image.data(), start + length);
  WriteAt(BlockOffset(currentBlock_), image.data(), static_cast<int32_t>(image.size()));
  return currentBlock_;
}

// ---------------------------------------------------------------------------
// GSobjMemo4: dBase IV

GSobjMemo4::GSobjMemo4(GSO_dBaseDBF* owner, uint8_t version, bool shared, bool readWrite,
                       const std::string& password, const std::string& tableFileName)
    : GSobjMemo(owner, version, shared, readWrite, password, tableFileName) {
  blockHeaderLength_ = kBlockHeaderSize;
  ReadImage(0);
  uint32_t blockSize = GetLE32(image_.data() + kDb4BlockSizeOffset);
  // The block must hold the 32-byte header and stay within 16 bits of
  // 512-byte units, as the layout allows.
  if (blockSize < kImageSize || blockSize > 0x10000) RaiseBadMemo();
  blockSize_ = static_cast<int32_t>(blockSize);
  firstDataBlock_ = 1;
  int64_t size = SizeOfFile();
  if (size < blockSize_ && IsReadWrite()) {
    std::vector<uint8_t> zeros(static_cast<size_t>(blockSize_ - size), 0);
    WriteAt(size, zeros.data(), static_cast<int32_t>(zeros.size()));
  }
}

int64_t GSobjMemo4::BlockLength() {
  if (image_[0] != 0xFF || image_[1] != 0xFF) RaiseBadMemo();
  return GetLE32(image_.data() + 4);
}

void GSobjMemo4::WriteEndMark(uint8_t* /*image*/, int32_t /*position*/) {}

void GSobjMemo4::FreeBlocks(int32_t block) {
  if (block < firstDataBlock_) RaiseBadMemo();
  int64_t offset = BlockOffset(block);
  uint8_t memoHeader[kBlockHeaderSize];
  ReadExactly(offset, memoHeader, kBlockHeaderSize);
  int64_t total = GetLE32(memoHeader + 4);
  if (memoHeader[0] != 0xFF || memoHeader[1] != 0xFF || total < kBlockHeaderSize) RaiseBadMemo();
  int64_t run = BlocksFor(total);
  if (block + run > FileBlocks()) RaiseBadMemo();

  uint8_t header[kBlockHeaderSize];
  ReadExactly(0, header, kBlockHeaderSize);
  uint8_t freeRun[kBlockHeaderSize];
  std::memcpy(freeRun, header, 4);  // the old head follows this run
  PutLE32(freeRun + 4, static_cast<uint32_t>(run));
  WriteAt(offset, freeRun, kBlockHeaderSize);
  PutLE32(header, static_cast<uint32_t>(block));
  PutLE32(header + 4, 0);
  WriteAt(0, header, kBlockHeaderSize);
}

void GSobjMemo4::AllocateBlocks(int32_t length) {
  int64_t need = BlocksFor(int64_t{length} + kBlockHeaderSize);
  if (currentBlock_ != 0) FreeBlocks(currentBlock_);

  ReadImage(0);
  int64_t fileBlocks = FileBlocks();
  if (fileBlocks == 0) {
    fileBlocks = 1;
    WriteAt(0, image_.data(), kImageSize);
  }

  // First fit along the free list. Block 0 is the header, never a run: a
  // head of 0 (a fresh header) ends the list like a block past the end.
  // Every run holds at least one block of its own, so a walk of more steps
  // than the file has blocks has met a loop.
  int64_t previous = 0;
  int64_t candidate = GetLE32(image_.data());
  int64_t link = -1;
  int64_t steps = 0;
  while (candidate >= firstDataBlock_ && candidate < fileBlocks) {
    if (++steps > fileBlocks) RaiseBadMemo();
    uint8_t freeRun[kBlockHeaderSize];
    ReadExactly(BlockOffset(static_cast<int32_t>(candidate)), freeRun, kBlockHeaderSize);
    int64_t next = GetLE32(freeRun);
    int64_t run = GetLE32(freeRun + 4);
    if (run < 1 || candidate + run > fileBlocks) RaiseBadMemo();
    if (need > run) {
      previous = candidate;
      candidate = next;
      continue;
    }
    link = next;
    if (need < run) {
      link = candidate + need;
      PutLE32(freeRun + 4, static_cast<uint32_t>(run - need));
      WriteAt(BlockOffset(static_cast<int32_t>(link)), freeRun, kBlockHeaderSize);
    }
    break;
  }
  if (link < 0) {
    candidate = fileBlocks;
    link = candidate + need;
    if (link > std::numeric_limits<int32_t>::max()) RaiseBadMemo();
  }

  uint8_t linkBytes[4];
  PutLE32(linkBytes, static_cast<uint32_t>(link));
  WriteAt(BlockOffset(static_cast<int32_t>(previous)), linkBytes, sizeof linkBytes);

  currentBlock_ = static_cast<int32_t>(candidate);
  currentCount_ = static_cast<int32_t>(need);
  image_.fill(0);
  image_[0] = 0xFF;
  image_[1] = 0xFF;
  image_[2] = kBlockHeaderSize;
  image_[3] = 0;
  PutLE32(image_.data() + 4, static_cast<uint32_t>(length + kBlockHeaderSize));
}

// ---------------------------------------------------------------------------
// GSobjFXMemo20: FoxPro

GSobjFXMemo20::GSobjFXMemo20(GSO_dBaseDBF* owner, uint8_t version, bool shared, bool readWrite,
                             const std::string& password, const std::string& tableFileName)
    : GSobjMemo(owner, version, shared, readWrite, password, tableFileName) {
  blockHeaderLength_ = kBlockHeaderSize;
  if (ReadImage(0) < kBlockHeaderSize) RaiseBadMemo();
  int32_t blockSize = image_[6] << 8 | image_[7];
  if (blockSize == 0) RaiseBadMemo();
  blockSize_ = blockSize;
  firstDataBlock_ = static_cast<int32_t>(BlocksFor(kFoxHeaderSize));
}

int64_t GSobjFXMemo20::BlockLength() {
  uint32_t type = GetBE32(image_.data());
  if (type != 0 && type != 1) RaiseBadMemo();
  return int64_t{GetBE32(image_.data() + 4)} + kBlockHeaderSize;
}

void GSobjFXMemo20::WriteEndMark(uint8_t* /*image*/, int32_t /*position*/) {}

void GSobjFXMemo20::AllocateBlocks(int32_t length) {
  int64_t need = BlocksFor(int64_t{length} + kBlockHeaderSize);
  if (currentBlock_ == 0 || currentCount_ < need) {
    uint8_t header[kBlockHeaderSize];
    ReadExactly(0, header, kBlockHeaderSize);
    int64_t nextFree = GetBE32(header);
    CheckNextFree(nextFree);
    if (nextFree + need > std::numeric_limits<int32_t>::max()) RaiseBadMemo();
    currentBlock_ = static_cast<int32_t>(nextFree);
    PutBE32(header, static_cast<uint32_t>(nextFree + need));
    WriteAt(0, header, kBlockHeaderSize);
  }
  currentCount_ = static_cast<int32_t>(need);
  image_.fill(0);
  PutBE32(image_.data(), 1);
  PutBE32(image_.data() + 4, static_cast<uint32_t>(length));
}

void GSobjFXMemo20::RenameMemo(const std::string& newTableName) {
  // The ".fpt" header has no name field: only the file follows the table.
  RenameMemoFile(newTableName);
}
