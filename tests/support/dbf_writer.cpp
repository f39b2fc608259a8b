// Test tables written byte by byte (see dbf_writer.h).
#include "support/dbf_writer.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

void PutLe(std::vector<uint8_t>& out, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

uint16_t RecordLengthOf(const DbfLayout& layout) {
  if (layout.recordLength) return *layout.recordLength;
  int total = 1;
  for (const DbfField& f : layout.fields) total += f.length;
  return static_cast<uint16_t>(total);
}

uint16_t HeaderLengthOf(const DbfLayout& layout) {
  if (layout.headerLength) return *layout.headerLength;
  int length = 32 + 32 * static_cast<int>(layout.fields.size()) + 1;
  if (layout.version == 0x30) length += 263;
  return static_cast<uint16_t>(length);
}

std::string RecordImage(const DbfLayout& layout, const DbfRow& row) {
  std::string image(RecordLengthOf(layout), ' ');
  image[0] = row.deleted ? '*' : ' ';
  size_t at = 1;
  for (size_t i = 0; i < layout.fields.size(); ++i) {
    const DbfField& f = layout.fields[i];
    std::string value = i < row.values.size() ? row.values[i] : std::string();
    size_t len = static_cast<size_t>(f.length);
    if (value.size() > len) value.resize(len);
    std::string cell(len, ' ');
    bool right = f.type == 'N' || f.type == 'F';
    if (right)
      cell.replace(len - value.size(), value.size(), value);
    else
      cell.replace(0, value.size(), value);
    if (at + len <= image.size()) image.replace(at, len, cell);
    at += len;
  }
  return image;
}

std::vector<uint8_t> BuildDbf(const DbfLayout& layout) {
  uint16_t headerLength = HeaderLengthOf(layout);
  uint16_t recordLength = RecordLengthOf(layout);
  size_t areaEnd = 32 + 32 * layout.fields.size();
  std::vector<uint8_t> out(std::max<size_t>(headerLength, areaEnd + 1), 0);
  out[0] = layout.version;
  out[1] = 26;
  out[2] = 1;
  out[3] = 15;
  PutLe(out, 4, layout.headerCount.value_or(static_cast<uint32_t>(layout.rows.size())), 4);
  PutLe(out, 8, headerLength, 2);
  PutLe(out, 10, recordLength, 2);
  out[15] = layout.enciphered;
  PutLe(out, 16, layout.updateStamp, 4);
  out[28] = layout.flags;
  for (size_t i = 0; i < layout.fields.size(); ++i) {
    const DbfField& f = layout.fields[i];
    size_t d = 32 + 32 * i;
    for (size_t k = 0; k < f.name.size() && k < 10; ++k) out[d + k] = static_cast<uint8_t>(f.name[k]);
    out[d + 11] = static_cast<uint8_t>(f.type);
    if (f.type == 'C') {
      PutLe(out, d + 16, static_cast<uint32_t>(f.length), 2);
    } else {
      out[d + 16] = static_cast<uint8_t>(f.length);
      out[d + 17] = static_cast<uint8_t>(f.decimals);
    }
  }
  out[areaEnd] = 0x0D;
  out.resize(headerLength);  // a deliberately short header length cuts here
  for (const DbfRow& row : layout.rows) {
    std::string image = RecordImage(layout, row);
    out.insert(out.end(), image.begin(), image.end());
  }
  if (layout.endMark) out.push_back(0x1A);
  out.insert(out.end(), layout.trailing.begin(), layout.trailing.end());
  return out;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw std::runtime_error("cannot write " + path);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string WriteDbf(const std::string& path, const DbfLayout& layout) {
  WriteBytes(path, BuildDbf(layout));
  return path;
}
