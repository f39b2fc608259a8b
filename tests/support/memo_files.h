// Memo files for tests, built byte by byte independently of the engine's
// memo classes, so tests compare the engine against a second rendering of
// each layout; and the memo reference of a record, read and written as the
// field layer stores it (decimal text, or 4 binary bytes in version 0x30).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class GSO_dBaseDBF;

enum class MemoLayout { Db3, Db4, Fox };

class MemoFileBuilder {
 public:
  // Block size: always 512 for dBase III; from the header for the others.
  explicit MemoFileBuilder(MemoLayout layout, int32_t blockSize = 512);

  // Appends a memo at the next free block and returns that block. `foxType`
  // is the FoxPro record type written in the block header. dBase III texts
  // get their two end marks unless `endMark` is false.
  int32_t Add(std::string_view text, uint32_t foxType = 1, bool endMark = true);
  // Next free block: where the next memo appended at the end starts.
  int32_t NextFree() const;
  // The file's bytes: header, then the memos padded to whole blocks.
  std::vector<uint8_t> Bytes() const;
  // Writes the file; returns the path.
  std::string Save(const std::string& path) const;

 private:
  MemoLayout layout_;
  int32_t blockSize_;
  std::vector<uint8_t> bytes_;
};

// Overwrites bytes of an existing file at `offset`.
void PatchFile(const std::string& path, int64_t offset, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> LE32(uint32_t value);
std::vector<uint8_t> BE32(uint32_t value);

// The start block stored in memo field `field` (counted from 1) of the
// table's current record; 0 for blanks.
int32_t MemoBlockOfField(const GSO_dBaseDBF& table, int32_t field);
// Stores `block` in memo field `field` of the table's current record image.
void SetMemoBlockOfField(GSO_dBaseDBF& table, int32_t field, int32_t block);

// Texts of `length` bytes in code page 866 (Cyrillic letters, digits and
// blanks, no 0x1A), different for different seeds.
std::string CyrillicText(size_t length, int seed);
