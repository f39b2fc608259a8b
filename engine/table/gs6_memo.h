// Memo files: the long texts of memo fields, kept beside the table in a file
// of fixed-size blocks. Block 0 is the file header; a memo occupies
// consecutive blocks from its start block, at offset start block x block
// size. Three layouts, one class each:
//
// dBase III (".dbt", table version 0x83), `GSobjMemo`, blocks of 512 bytes:
//   header  0  4  next free block: where the next appended memo starts (LE)
//           8  9  table name, up to 8 characters, NUL-padded
//   memo       text, then 0x1A 0x1A; no block header, no stored length.
//              Enciphered table: 4-byte LE text length, then the enciphered
//              text, then 0x1A 0x1A.
//
// dBase IV (".dbt", version 0x8B), `GSobjMemo4`, block size from the header:
//   header  0  4  head of the free list: first block of the first free run
//           4  4  0 after a free
//           8  9  table name, up to 8 characters, NUL-padded
//           20 4  block size (LE)
//   memo    0  2  0xFF 0xFF
//           2  2  8, the block-header length (LE)
//           4  4  total length including these 8 bytes (LE); the text follows
//   free    0  4  first block of the next free run (LE)
//   run     4  4  number of blocks in this run (LE)
//   The chain ends at a block number at or beyond the end of the file.
//
// FoxPro (".fpt", versions 0xF5 and 0x30), `GSobjFXMemo20`, big-endian:
//   header  0  4  next free block (BE)
//           6  2  block size (BE); the header takes the first 512 bytes
//   memo    0  4  record type: 1 text (written), 0 picture (read like text)
//           4  4  text length without the 8 header bytes (BE); text follows
//
// Allocation (finding blocks, moving the next-free mark or the free list) is
// serialised between processes by the memo lock of the table's lock
// protocol; the text blocks are protected by the caller's record lock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/support/gs6_cnst.h"
#include "engine/table/gs6_disk.h"

class GSO_dBaseDBF;

// dBase III layout, and the base of the other two.
class GSobjMemo : public GSO_DiskFile {
 public:
  // Opens the memo file of a table: the table's file name with its
  // extension replaced by ".dbt" or ".fpt" as the version asks. Raises
  // "File %s could not be found" when there is no such file.
  GSobjMemo(GSO_dBaseDBF* owner, uint8_t version, bool shared, bool readWrite,
            const std::string& password, const std::string& tableFileName);
  ~GSobjMemo() override;

  // Creates the memo object of the class that the table version uses;
  // none for versions without memo files.
  static std::unique_ptr<GSobjMemo> Make(GSO_dBaseDBF* owner, uint8_t version, bool shared,
                                         bool readWrite, const std::string& password,
                                         const std::string& tableFileName);
  // The memo file name for a table file name and version (".dbt" for 0x83
  // and 0x8B, ".fpt" for 0x30 and 0xF5); empty for versions without memos.
  // The extension takes the letter case of the table's; when no file has
  // that name, the one file named so in another letter case is meant, so
  // "A.DBF" finds "a.dbt" and "a.dbf" finds "A.FPT".
  static std::string MemoFileNameFor(const std::string& tableFileName, uint8_t version);

  // Virtual operations, in slot order.
  //
  // Chooses where a text of `length` bytes goes: sets the current block and
  // count and fills the block-header image.
  virtual void AllocateBlocks(int32_t length);
  // Returns the blocks of the memo at `block` for reuse (dBase IV only).
  virtual void FreeBlocks(int32_t block);
  // Writes the end mark into a memo image at `position` (dBase III only).
  virtual void WriteEndMark(uint8_t* image, int32_t position);
  // Total stored length from the block-header image, block header included
  // (0 for dBase III, which has none). Raises "Memo record is bad in %s"
  // when the image is not a memo block header.
  virtual int64_t BlockLength();
  virtual void SetLockProtocol(TgsLokProtocol protocol);
  // Follows a table rename: the file takes the new table name with its own
  // extension, and the ".dbt" layouts record the name in their header.
  virtual void RenameMemo(const std::string& newTableName);

  // Total stored length of the memo at `block`, block header included (for
  // an enciphered dBase III memo, the text length). Block 0: the block-header
  // length, i.e. an empty text. A dBase III text runs to its first 0x1A,
  // whatever its length; one whose end mark is missing altogether is cut at
  // 65,519 bytes or at the end of the file. Raises "Memo record is bad in %s"
  // for a block inside the header or beyond the end of the file, a block
  // header of the wrong kind, or a length that runs past the end of the file.
  int32_t MemoLength(int32_t block);
  // Text length of the memo at `block`.
  int32_t MemoSize(int32_t block) { return MemoLength(block) - blockHeaderLength_; }
  // Reads at most `length` bytes of the text at `block` into `buffer`;
  // `length` becomes the number read. A requested length of 0 does nothing;
  // block 0 gives length 0 and an empty (NUL) buffer.
  void ReadMemo(int32_t block, char* buffer, int32_t& length);
  // The whole text of the memo at `block` (empty for block 0).
  std::string ReadMemo(int32_t block);
  // Stores `text` as the new content of the memo that was at `block` (0 for
  // none), in place when it fits, and returns its start block. An empty text
  // releases the old blocks and returns 0.
  int32_t WriteMemo(std::string_view text, int32_t block);

  // The table's two password copies: texts are read (deciphered) with the
  // first and written (enciphered) with the second. They differ only while
  // the table changes its password: read with the old, write with the new.
  // An empty password stores texts plainly (and dBase III texts without
  // their length prefix).
  void SetPasswords(const std::string& readPassword, const std::string& writePassword);

  uint8_t Version() const { return version_; }
  int32_t BlockSize() const { return blockSize_; }
  int32_t BlockHeaderLength() const { return blockHeaderLength_; }
  // Start block and block count of the memo last read or written.
  int32_t CurrentBlock() const { return currentBlock_; }
  int32_t CurrentCount() const { return currentCount_; }
  TgsLokProtocol LockProtocol() const { return lockProtocol_; }
  GSO_dBaseDBF* Owner() const { return owner_; }

 protected:
  // Size of the image of the last header or block header read.
  static constexpr int32_t kImageSize = 32;

  int64_t BlockOffset(int32_t block) const { return int64_t{block} * blockSize_; }
  // Blocks needed for `bytes` bytes.
  int64_t BlocksFor(int64_t bytes) const { return (bytes + blockSize_ - 1) / blockSize_; }
  // Whole blocks in the file, a partial last block counted.
  int64_t FileBlocks() { return BlocksFor(SizeOfFile()); }
  // Reads exactly `length` bytes at `offset`; a short read means the memo
  // file is damaged ("Memo record is bad in %s").
  void ReadExactly(int64_t offset, void* buffer, int32_t length);
  // Reads up to 32 bytes at `offset` into the image; returns the count.
  int32_t ReadImage(int64_t offset);
  // Raises "Memo record is bad in %s" for this file.
  [[noreturn]] void RaiseBadMemo() const;
  // Checks a next-free block from a header: it must lie after the header
  // area and not beyond the end of the file.
  void CheckNextFree(int64_t nextFree);
  // The length prefix of enciphered dBase III memos: 4 bytes when the
  // password that reads (or writes) the text is not empty, else none.
  int32_t ReadPrefixSize() const {
    return blockHeaderLength_ == 0 && !passwordRead_.empty() ? 4 : 0;
  }
  int32_t WritePrefixSize() const {
    return blockHeaderLength_ == 0 && !passwordWrite_.empty() ? 4 : 0;
  }

  GSO_dBaseDBF* owner_ = nullptr;
  uint8_t version_ = 0;
  int32_t currentBlock_ = 0;
  int32_t currentCount_ = 0;
  int32_t blockSize_ = 512;
  std::array<uint8_t, kImageSize> image_{};
  TgsLokProtocol lockProtocol_ = TgsLokProtocol::Default;
  int32_t blockHeaderLength_ = 0;
  // The first block a memo may start at: the blocks after the header.
  int32_t firstDataBlock_ = 1;
  std::string passwordRead_;
  std::string passwordWrite_;

 protected:
  // Renames the file to the new table name with the memo's own extension;
  // returns the new base name (no folder, no extension).
  std::string RenameMemoFile(const std::string& newTableName);

 private:
  // dBase III: the text runs to the first 0x1A; see the .cpp.
  int32_t TextLengthToEndMark(int64_t offset);
  // Reads `length` bytes of the text at `block` and deciphers them.
  void ReadText(int32_t block, char* buffer, int32_t length);
};

// dBase IV layout: block size from the header, freed runs kept in a list and
// reused first-fit.
class GSobjMemo4 : public GSobjMemo {
 public:
  GSobjMemo4(GSO_dBaseDBF* owner, uint8_t version, bool shared, bool readWrite,
             const std::string& password, const std::string& tableFileName);

  void AllocateBlocks(int32_t length) override;
  void FreeBlocks(int32_t block) override;
  void WriteEndMark(uint8_t* image, int32_t position) override;
  int64_t BlockLength() override;
};

// FoxPro layout: big-endian headers, block size from header bytes 6-7.
class GSobjFXMemo20 : public GSobjMemo {
 public:
  GSobjFXMemo20(GSO_dBaseDBF* owner, uint8_t version, bool shared, bool readWrite,
                const std::string& password, const std::string& tableFileName);

  void AllocateBlocks(int32_t length) override;
  void WriteEndMark(uint8_t* image, int32_t position) override;
  int64_t BlockLength() override;
  void RenameMemo(const std::string& newTableName) override;
};
