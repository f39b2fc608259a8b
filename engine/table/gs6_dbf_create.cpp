// Creating a new, empty table and its memo file (layouts in the header).
#include "engine/table/gs6_dbf_create.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf.h"
#include "engine/table/gs6_memo.h"
#include "platform/ansi.h"
#include "platform/file.h"
#include "platform/system.h"

namespace {

constexpr int32_t kMaxNameLength = 10;
constexpr int32_t kMaxTextLength = 254;
constexpr int32_t kMaxNumberLength = 20;
constexpr int32_t kMemoHeaderSize = 512;
constexpr int32_t kFoxBlockSize = 64;
constexpr int32_t kDb4BlockSize = 512;
// The record length is a 16-bit header field.
constexpr int32_t kMaxRecordLength = 65535;

bool HasMemoFile(uint8_t version) { return version == 0x83 || version == 0x8B || version == 0xF5 || version == 0x30; }

[[noreturn]] void RaiseDefinition(const TableFieldDefinition& field, const std::string& what) {
  throw EDeridarError("Field " + field.name + ": " + what);
}

void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, v);
  PutLe16(p + 2, v >> 16);
}

void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// The length a fixed-size type must have in `version`; 0 for the types
// whose length is chosen.
int32_t FixedLength(uint8_t version, char type) {
  switch (type) {
    case 'D':
      return 8;
    case 'L':
      return 1;
    case 'M':
      return version == 0x30 ? 4 : 10;
    case 'I':
      return 4;
    default:
      return 0;
  }
}

bool TypeAllowed(uint8_t version, char type) {
  switch (type) {
    case 'C':
    case 'N':
    case 'D':
    case 'L':
      return true;
    case 'F':
      return version != 0x03 && version != 0x83;
    case 'M':
      return HasMemoFile(version);
    case 'I':
      return version == 0x30;
    default:
      return false;
  }
}

std::vector<uint8_t> MemoHeader(uint8_t version, const std::string& tableName) {
  std::vector<uint8_t> h(kMemoHeaderSize, 0);
  if (version == 0xF5 || version == 0x30) {
    PutBe32(h.data(), kMemoHeaderSize / kFoxBlockSize);
    h[6] = static_cast<uint8_t>(kFoxBlockSize >> 8);
    h[7] = static_cast<uint8_t>(kFoxBlockSize);
    return h;
  }
  PutLe32(h.data(), 1);
  std::memcpy(h.data() + 8, tableName.data(), std::min<size_t>(tableName.size(), 8));
  if (version == 0x83)
    h[16] = 0x03;
  else
    PutLe16(h.data() + 20, kDb4BlockSize);
  return h;
}

// Writes `bytes` into the new, empty file `path`; false when it exists or
// cannot be written.
bool WriteNewFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (!platform::File::CreateNew(path)) return false;
  platform::File file;
  bool written = file.Open(path, true, false) && file.WriteAt(0, bytes.data(), bytes.size()) && file.Flush();
  file.Close();
  if (!written) platform::RemoveFile(path);
  return written;
}

}  // namespace

bool TableVersionCreatable(uint8_t version) {
  return version == 0x03 || HasMemoFile(version);
}

void CheckFieldDefinitions(uint8_t version, std::vector<TableFieldDefinition>& fields) {
  if (!TableVersionCreatable(version)) {
    char text[64];
    std::snprintf(text, sizeof text, "A table cannot be created in version 0x%02X", version);
    throw EDeridarError(text);
  }
  if (fields.empty()) throw EDeridarError("A table needs at least one field");
  std::set<std::string> names;
  int32_t recordLength = 1;
  for (TableFieldDefinition& f : fields) {
    f.name = platform::UpperCase(f.name);
    f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(f.type)));
    bool nameOk = !f.name.empty() && static_cast<int32_t>(f.name.size()) <= kMaxNameLength &&
                  f.name[0] >= 'A' && f.name[0] <= 'Z';
    for (char c : f.name)
      if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) nameOk = false;
    if (!nameOk) RaiseDefinition(f, "the name must be 1 to 10 Latin letters, digits or _, starting with a letter");
    if (!names.insert(f.name).second) RaiseDefinition(f, "the name is used twice");
    if (!TypeAllowed(version, f.type))
      RaiseDefinition(f, std::string("type ") + f.type + " is not available in this table version");
    const int32_t fixed = FixedLength(version, f.type);
    if (fixed != 0) {
      if (f.length == 0) f.length = fixed;
      if (f.length != fixed || f.decimals != 0)
        RaiseDefinition(f, std::string("type ") + f.type + " has length " + std::to_string(fixed) + " and no decimals");
    } else if (f.type == 'C') {
      if (f.length < 1 || f.length > kMaxTextLength || f.decimals != 0)
        RaiseDefinition(f, "type C has a length of 1 to 254 and no decimals");
    } else {
      if (f.length < 1 || f.length > kMaxNumberLength)
        RaiseDefinition(f, std::string("type ") + f.type + " has a length of 1 to 20");
      if (f.decimals < 0 || (f.decimals > 0 && f.decimals > f.length - 2))
        RaiseDefinition(f, "the decimals need room for a digit and the point within the length");
    }
    recordLength += f.length;
  }
  if (recordLength > kMaxRecordLength) throw EDeridarError("The record of the table is longer than 65535 bytes");
}

void CreateTable(const std::string& fileName, uint8_t version, std::vector<TableFieldDefinition> fields,
                 uint8_t languageByte) {
  CheckFieldDefinitions(version, fields);
  // The table object, not opened, gives the file and table names the engine
  // will open the table by.
  GSO_dBaseDBF names(fileName, "", false, true);
  const std::string tablePath = names.FileName();

  bool memo = false;
  int32_t recordLength = 1;
  for (const TableFieldDefinition& f : fields) {
    memo = memo || f.type == 'M';
    recordLength += f.length;
  }
  const int32_t areaEnd = kTableHeaderSize + kFieldDescSize * static_cast<int32_t>(fields.size());
  const int32_t headerLength = areaEnd + 1 + (version == 0x30 ? kVfpExtraArea : 0);

  std::vector<uint8_t> bytes(static_cast<size_t>(headerLength) + 1, 0);
  const platform::LocalDateTime today = platform::Now();
  bytes[0] = version;
  bytes[1] = static_cast<uint8_t>(today.year % 100);
  bytes[2] = static_cast<uint8_t>(today.month);
  bytes[3] = static_cast<uint8_t>(today.day);
  PutLe16(&bytes[8], static_cast<uint32_t>(headerLength));
  PutLe16(&bytes[10], static_cast<uint32_t>(recordLength));
  if (version == 0x30 && memo) bytes[28] = 0x02;
  bytes[29] = languageByte;
  int32_t offset = 1;
  for (size_t i = 0; i < fields.size(); ++i) {
    const TableFieldDefinition& f = fields[i];
    uint8_t* d = &bytes[kTableHeaderSize + kFieldDescSize * i];
    std::memcpy(d, f.name.data(), f.name.size());
    d[11] = static_cast<uint8_t>(f.type);
    if (version == 0x30) PutLe32(d + 12, static_cast<uint32_t>(offset));
    d[16] = static_cast<uint8_t>(f.length);
    d[17] = static_cast<uint8_t>(f.type == 'C' ? f.length >> 8 : f.decimals);
    offset += f.length;
  }
  bytes[areaEnd] = 0x0D;
  bytes[headerLength] = 0x1A;

  const std::string memoPath = memo ? GSobjMemo::MemoFileNameFor(tablePath, version) : std::string();
  // A memo file left from an earlier table would be taken for this one's.
  if (memo && platform::FileExists(memoPath)) RaiseError(Msg::CreateError, memoPath);
  if (!WriteNewFile(tablePath, bytes)) RaiseError(Msg::CreateError, tablePath);
  if (memo && !WriteNewFile(memoPath, MemoHeader(version, names.TableName()))) {
    platform::RemoveFile(tablePath);
    RaiseError(Msg::CreateError, memoPath);
  }
}
