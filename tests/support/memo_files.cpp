// Memo files written byte by byte for tests (see memo_files.h).
#include "support/memo_files.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

#include "engine/table/gs6_dbf.h"
#include "support/dbf_writer.h"

namespace {

void PutLe(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutBe(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

}  // namespace

MemoFileBuilder::MemoFileBuilder(MemoLayout layout, int32_t blockSize)
    : layout_(layout), blockSize_(layout == MemoLayout::Db3 ? 512 : blockSize) {
  // dBase III and IV headers take one block; the FoxPro header 512 bytes.
  size_t header = layout == MemoLayout::Fox ? 512 : static_cast<size_t>(blockSize_);
  header = (header + blockSize_ - 1) / blockSize_ * blockSize_;
  bytes_.assign(header, 0);
  if (layout_ == MemoLayout::Db4) PutLe(&bytes_[20], static_cast<uint32_t>(blockSize_));
  if (layout_ == MemoLayout::Fox) {
    bytes_[6] = static_cast<uint8_t>(blockSize_ >> 8);
    bytes_[7] = static_cast<uint8_t>(blockSize_);
  }
}

int32_t MemoFileBuilder::NextFree() const {
  return static_cast<int32_t>(bytes_.size() / static_cast<size_t>(blockSize_));
}

int32_t MemoFileBuilder::Add(std::string_view text, uint32_t foxType, bool endMark) {
  int32_t block = NextFree();
  std::vector<uint8_t> memo;
  uint8_t head[8] = {};
  switch (layout_) {
    case MemoLayout::Db3:
      memo.assign(text.begin(), text.end());
      if (endMark) memo.insert(memo.end(), {0x1A, 0x1A});
      break;
    case MemoLayout::Db4:
      head[0] = head[1] = 0xFF;
      head[2] = 8;
      PutLe(head + 4, static_cast<uint32_t>(text.size() + 8));
      memo.assign(head, head + 8);
      memo.insert(memo.end(), text.begin(), text.end());
      break;
    case MemoLayout::Fox:
      PutBe(head, foxType);
      PutBe(head + 4, static_cast<uint32_t>(text.size()));
      memo.assign(head, head + 8);
      memo.insert(memo.end(), text.begin(), text.end());
      break;
  }
  size_t padded = (memo.size() + blockSize_ - 1) / blockSize_ * blockSize_;
  if (padded == 0) padded = static_cast<size_t>(blockSize_);
  memo.resize(padded, 0);
  bytes_.insert(bytes_.end(), memo.begin(), memo.end());
  return block;
}

std::vector<uint8_t> MemoFileBuilder::Bytes() const {
  std::vector<uint8_t> out = bytes_;
  uint32_t next = static_cast<uint32_t>(NextFree());
  if (layout_ == MemoLayout::Fox)
    PutBe(&out[0], next);
  else
    PutLe(&out[0], next);
  return out;
}

std::string MemoFileBuilder::Save(const std::string& path) const {
  WriteBytes(path, Bytes());
  return path;
}

void PatchFile(const std::string& path, int64_t offset, const std::vector<uint8_t>& bytes) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!f) throw std::runtime_error("cannot patch " + path);
  f.seekp(offset);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> LE32(uint32_t value) {
  std::vector<uint8_t> out(4);
  PutLe(out.data(), value);
  return out;
}

std::vector<uint8_t> BE32(uint32_t value) {
  std::vector<uint8_t> out(4);
  PutBe(out.data(), value);
  return out;
}

namespace {

// Where field `field` lies in the record image, and its length.
void FieldPlace(const GSO_dBaseDBF& table, int32_t field, uint32_t& offset, int32_t& length) {
  const uint8_t* d = table.FieldDescriptor(field);
  if (d == nullptr) throw std::runtime_error("no such field");
  offset = uint32_t{d[12]} | uint32_t{d[13]} << 8 | uint32_t{d[14]} << 16 | uint32_t{d[15]} << 24;
  length = table.DescriptorLength(field);
}

}  // namespace

int32_t MemoBlockOfField(const GSO_dBaseDBF& table, int32_t field) {
  uint32_t offset = 0;
  int32_t length = 0;
  FieldPlace(table, field, offset, length);
  const char* cell = table.CurrentRecord() + offset;
  if (table.Version() == 0x30 && length == 4) {
    if (std::memcmp(cell, "    ", 4) == 0) return 0;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t{static_cast<uint8_t>(cell[i])} << (8 * i);
    return static_cast<int32_t>(v);
  }
  int64_t block = 0;
  for (int32_t i = 0; i < length; ++i) {
    if (cell[i] >= '0' && cell[i] <= '9') block = block * 10 + (cell[i] - '0');
  }
  return static_cast<int32_t>(block);
}

void SetMemoBlockOfField(GSO_dBaseDBF& table, int32_t field, int32_t block) {
  uint32_t offset = 0;
  int32_t length = 0;
  FieldPlace(table, field, offset, length);
  char* cell = table.CurrentRecord() + offset;
  if (table.Version() == 0x30 && length == 4) {
    for (int i = 0; i < 4; ++i) cell[i] = static_cast<char>(static_cast<uint32_t>(block) >> (8 * i));
    return;
  }
  std::string digits = block == 0 ? std::string() : std::to_string(block);
  std::string text(static_cast<size_t>(length) - digits.size(), ' ');
  text += digits;
  std::memcpy(cell, text.data(), static_cast<size_t>(length));
  table.SetRecordChanged(true);
}

std::string CyrillicText(size_t length, int seed) {
  // "Привет, мир " in code page 866, then the seed as digits.
  const std::string word = "\x8F\xE0\xA8\xA2\xA5\xE2, \xAC\xA8\xE0 " + std::to_string(seed) + " ";
  std::string text;
  while (text.size() < length) text += word;
  text.resize(length);
  return text;
}
