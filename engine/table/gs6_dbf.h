// The dBase table file: header, field descriptors, record count and whole
// records at computed offsets, record and table locks per lock protocol,
// enciphered tables, and a read-ahead window for reading in record order.
//
// File layout (little-endian integers):
//
//   offset            size  content
//   0                 32    header (below)
//   32                32*k  field descriptors (below)
//   32+32k            1     terminator (value not examined)
//   33+32k            263   version 0x30 only: extra area
//   header length     R*n   records, R = record length; byte 0 of a record is
//                           the deletion flag ('*' deleted, ' ' live)
//   after last record 1     0x1A end mark (written by append, not required)
//
// Records appended while this object holds the table lock are held back
// and written in blocks of about kHeldAppendBytes, each followed by the
// header with the count of the records then on disk; the rest go out when
// the lock's last level is given up, before the header and the unlock. A
// read of the file through this object (also the index files' reads of
// the table) writes them first. A failed block write takes the held
// records back: the file is cut back to the records before them, and the
// count and header count only those.
//
// A table opened read-only views its file in memory (see GSO_DiskFile) and
// copies the current record out of the view instead of reading it: one
// system call less per record. Only single records come from the view;
// the read-ahead window and the reads of many records at a time (counts,
// index builds, scans) read the file, and the view keeps at most
// kViewResidentBytes of the file resident (records elsewhere are read from
// the file), so that reading all over a large table does not make all of
// it resident in this process. A record beyond the view is read from the
// file; when it is all there (another handle appended), the view is made
// again at the file's new size.
//
// Header:
//   0  1  version: 0x03, 0x04, 0x30, 0x83, 0x8B or 0xF5
//   1  3  date of last update: year - 1900 (FoxPro versions 0x30 and 0xF5:
//         year mod 100), month, day; read either way: below 80 is 2000 +
//         value, from 80 on 1900 + value
//   4  4  record count (written; on open the count comes from the file size)
//   8  2  header length (offset of record 1)
//   10 2  record length, deletion flag included
//   15 1  enciphered flag (non-zero: descriptors and records enciphered)
//   16 4  update stamp of the last writer
//   20 4  user id of the last writer
//   28 1  flags: bit 0 structural index, bit 1 memo file (0x30), bit 2 kept
//   other bytes are carried unchanged
//
// The descriptors end at a 0x0D byte where the next descriptor would start;
// without one, the field count is the area size / 32. Level-7 tables
// (version 0x04 with 48-byte descriptors after a 68-byte header) are
// refused.
//
// Field descriptor (32 bytes):
//   0  11 name, NUL-padded      16 1 length (type C: low byte of 16 bits)
//   11 1  type letter           17 1 decimals (type C: high byte of length)
//   12 4  in memory: offset of the field in the record (first field at 1)
//   26 2  in memory: field number, from 1
//
// Table cipher. An enciphered table keeps its descriptor area and every
// record image enciphered with the table password; the header stays plain.
// The cipher XORs each byte with a keystream derived from the password and
// the byte's position in the enciphered image: the password is hashed
// (FNV-1a, 32 bits) into the seed of a xorshift32 generator, and position i
// uses the generator's i-th output mixed with i. The transform preserves
// length, is its own inverse, and is the plain identity for an empty
// password. It keeps casual readers out; it is not strong cryptography.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/support/gs6_cnst.h"
#include "engine/table/gs6_disk.h"

class GSobjMemo;

// Length-preserving keyed transform of the table cipher (see above).
// Applying it twice with the same password restores the input.
void TableCipher(const std::string& password, const void* in, void* out, size_t length);

// Bytes of records appended under the table lock that are held back before
// they are written in one block.
constexpr int32_t kHeldAppendBytes = 1 << 20;

// Resident memory the memory view of a read-only table may take at most
// (see platform::FileMap): the records in the parts of the file read first
// are copied out of memory, the others read from the file. The directory
// viewer runs in about 41 MB without the view and must stay under 64 MB;
// a table of up to this size is read from memory whole.
constexpr int64_t kViewResidentBytes = int64_t{20} << 20;

// Descriptor size and the first descriptor offset.
constexpr int32_t kTableHeaderSize = 32;
constexpr int32_t kFieldDescSize = 32;
constexpr int32_t kVfpExtraArea = 263;
// The byte that ends the field descriptors.
constexpr uint8_t kFieldTerminator = 0x0D;

class GSO_dBaseDBF : public GSO_DiskFile {
 public:
  // Prepares the table object; the name gets ".DBF" when it has no
  // extension. `OpenTable` opens it. An empty password means the table is
  // expected not to be enciphered.
  GSO_dBaseDBF(const std::string& fileName, const std::string& password, bool shared,
               bool readWrite);
  ~GSO_dBaseDBF() override;

  // Opens the table: validates the header and descriptors, computes the
  // count and positions on no record. Raises on every failure.
  virtual void OpenTable();

  // Replaced slots of the disk file.
  void Flush() override { FlushTable(); }
  void Rename(const std::string& newName) override { RenameTable(newName); }
  int32_t ReadAt(int64_t offset, void* buffer, int32_t length) override;
  void WriteAt(int64_t offset, const void* buffer, int32_t length) override;

  // Table operations, in slot order.
  virtual void AppendRecord();
  virtual bool NotifyStatus(int32_t code, int32_t value);
  virtual void ReadRecord(int32_t target);
  virtual bool LockHeader();
  virtual bool LockTable();
  virtual bool LockAll();
  virtual bool UnlockTable();
  virtual bool LockRecord(TRecNo recNo);
  virtual void WriteRecord(TRecNo recNo);
  virtual void SetLockProtocol(TgsLokProtocol protocol);
  virtual bool HasOpenIndex() const { return false; }
  // The memo object of the table, created on first call for the versions
  // that have one; none otherwise.
  virtual GSobjMemo* OpenMemoFile();

  void FlushTable();
  // Writes the records appended under the table lock and held back, then
  // the header counting them (see above); nothing when none wait.
  void WriteHeldAppends();
  // Records appended and held back, not yet in the file.
  int32_t HeldAppendCount() const {
    return recordLength_ > 0 ? static_cast<int32_t>(heldAppends_.size() / static_cast<size_t>(recordLength_)) : 0;
  }
  // Record n as stored (deciphered) into `image` (RecordLength() bytes):
  // from the held appends, or from the file past the read-ahead window,
  // since another process may have written it since the window was filled.
  // Raises "Error on Read of file %s".
  void ReadStoredRecord(TRecNo recNo, char* image);
  virtual void RenameTable(const std::string& newName);
  void RefreshHeader();
  void WriteTableHeader();
  // The records per text stored in field n (its bytes without leading and
  // trailing blanks), every record counted, deleted ones included as index
  // builds take them. One pass over the records on disk in large blocks of
  // whole records, past the read-ahead window; enciphered records are
  // deciphered up to the field's end. Empty for a field number out of range;
  // raises "Error on Read of file %s" when the records cannot be read.
  std::map<std::string, TRecNo, std::less<>> CountFieldTexts(int32_t n);
  // Date of the last update from the header (year in full).
  void LastUpdate(int32_t& year, int32_t& month, int32_t& day) const;
  // Records on disk that a structural index file belongs to the table
  // (header byte 28, bit 0): sets the bit and writes the header, unless the
  // table is read-only or has the bit already.
  void MarkStructuralIndex();

  // Read-ahead window for reading in record order (32768 bytes rounded down
  // to whole records, at least one record). Off after open. A record is
  // served from the window while it lies wholly before the window's last
  // record; otherwise a window-sized block is read starting at the record.
  // Writes through this object update the window's copy; a header refresh
  // that sees another writer's change, and a reread of the current record,
  // empty the window so the next read fetches the file's bytes.
  void SetCache(bool on);
  bool CacheOn() const { return cacheOn_; }
  // Whether single records are read through the memory view (see above).
  bool RecordsViewed() const { return viewRecords_; }
  int32_t CacheWindowSize() const { return static_cast<int32_t>(cache_.size()); }
  // Empties the window (its buffer stays allocated).
  void DropCacheWindow();
  // Direct cache: with the window on, a record read while the current
  // record is the table's own buffer is not copied - the current record
  // points at it in the window. Enciphered tables are always copied (the
  // window holds enciphered bytes). Before the window's bytes are replaced
  // or freed, and before the record image is changed (EditableRecord), a
  // current record in the window is copied into the table's own buffer.
  void SetDirectCache(bool on);
  bool DirectCache() const { return directCache_; }
  // Whether the current record is read in place from the window.
  bool RecordInWindow() const { return InWindow(currentRecord_); }

  // --- state ---
  uint8_t Version() const { return header_[0]; }
  const std::string& TableName() const { return tableName_; }
  TRecNo RecordCount() const { return recordCount_; }
  int32_t HeaderLength() const { return headerLength_; }
  int32_t RecordLength() const { return recordLength_; }
  int32_t FieldCount() const { return fieldCount_; }
  TRecNo RecNumber() const { return recNumber_; }
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool HasMemo() const { return hasMemo_; }
  bool Encrypted() const { return encrypted_; }
  bool ExternalChange() const { return externalChange_; }
  bool HeaderDirty() const { return headerDirty_; }
  bool TableLocked() const { return tableLocked_; }
  uint8_t FlagBits() const { return flagBits_; }
  void SetFlagBits(uint8_t bits) { flagBits_ = bits & 0x07; }
  uint32_t UpdateStamp() const { return updateStamp_; }
  TgsLokProtocol LockProtocol() const { return lockProtocol_; }
  const TgsLockConstants& LockConstants() const { return lockConstants_; }
  const uint8_t* HeaderImage() const { return header_; }

  uint8_t TableState() const { return tableState_; }
  void SetTableState(uint8_t state) { tableState_ = state; }
  bool RecordChanged() const { return recordChanged_; }
  void SetRecordChanged(bool changed) { recordChanged_ = changed; }
  bool AutoFlush() const { return autoFlush_; }
  void SetAutoFlush(bool on) { autoFlush_ = on; }
  uint32_t UserID() const { return userId_; }
  void SetUserID(uint32_t id) { userId_ = id; }
  void MarkHeaderDirty() { headerDirty_ = true; }

  // The 32-byte descriptor of field n (1..FieldCount), none otherwise.
  const uint8_t* FieldDescriptor(int32_t n) const {
    if (n < 1 || n > fieldCount_) return nullptr;
    return descriptors_.data() + int64_t{n - 1} * kFieldDescSize;
  }
  // Length of field n: 16 bits for type C, byte 16 otherwise.
  int32_t DescriptorLength(int32_t n) const;

  // The record image all record operations work on. Normally the table's
  // own buffer; callers may point it at a buffer of their own of at least
  // record length + 1 bytes for one operation, then restore it.
  char* CurrentRecord() const { return currentRecord_; }
  // A record read in place from the window is copied into the table's own
  // buffer first, so that restoring later finds it there.
  void SetCurrentRecord(char* buffer) {
    if (InWindow(currentRecord_) && !InWindow(buffer)) DetachFromWindow();
    currentRecord_ = buffer;
  }
  // Back to the table's own buffer; a record read in place from the window
  // is copied into it first, so it stays the current record.
  void RestoreCurrentRecord() {
    if (InWindow(currentRecord_)) DetachFromWindow();
    currentRecord_ = recordBuffer_.data();
  }
  // The current record image for changing it: never the window's bytes.
  char* EditableRecord() {
    if (InWindow(currentRecord_)) DetachFromWindow();
    return currentRecord_;
  }
  char* RecordBuffer() { return recordBuffer_.data(); }
  const char* SnapshotBuffer() const { return snapshotBuffer_.data(); }
  // The snapshot for a caller that sets the old image itself.
  char* EditableSnapshot() { return snapshotBuffer_.data(); }
  // Which fields changed since the record was read (entry 0: the deletion
  // flag). Handing the map out for writing marks it to be cleared when the
  // next record is read; a read that follows only reads clears nothing.
  std::vector<uint8_t>& ChangedFieldMap() {
    changedFieldMapMarked_ = true;
    return changedFieldMap_;
  }
  void ClearChangedFieldMap() {
    if (!changedFieldMapMarked_) return;
    std::fill(changedFieldMap_.begin(), changedFieldMap_.end(), 0);
    changedFieldMapMarked_ = false;
  }

  const std::string& Password() const { return passwordDecipher_; }
  // Takes `key` as the table's password for reading and writing; the table
  // counts as enciphered when it is not empty. The caller re-keys the data.
  void SetTablePassword(const std::string& key);

  // Header write time stamp: ((hour*64 + minute)*64 + second)*1024 + ms.
  static uint32_t MakeUpdateStamp();

 protected:
  // Memo plumbing, filled in by the memo layer: flushing, renaming and the
  // protocol hand-over for the memo object, if one was created.
  void FlushMemo();
  void RenameMemo(const std::string& newTableName);
  void PassLockProtocolToMemo();
  void DropMemo();
  // The memo object when the table has memos and its file exists; none
  // otherwise, without raising.
  GSobjMemo* OpenExistingMemoFile();
  // The memo file's name, for messages about it before it is opened.
  std::string MemoFileName() const;

  void SetEndFlags(bool bof, bool eof) {
    bof_ = bof;
    eof_ = eof;
  }

  // Writes the held appends before the file is read, measured or cut.
  void WriteHeldBytes() override { WriteHeldAppends(); }

  // File offset of record n.
  int64_t RecordOffset(TRecNo recNo) const {
    return int64_t{headerLength_} + int64_t{recNo - 1} * recordLength_;
  }

 private:
  struct MemoDeleter {
    void operator()(GSobjMemo* memo) const noexcept;
  };

  // Reads and checks the header, computes offsets, validates descriptors.
  void ReadHeaderAndDescriptors();
  void ComputeRecordCount();
  bool LockArea(const TgsLockArea& area);
  // Takes the header lock for an append, waiting for another appender;
  // raises "Can not Lock file %s" when it cannot be had.
  void LockHeaderForAppend();
  void ReadRecordImage(TRecNo recNo);
  // Copies the stored record at `offset` out of the memory view into
  // `image`; false when there is no view or it cannot give the record whole
  // (beyond the view, or the file was cut short): the caller reads the file.
  bool ReadRecordFromView(int64_t offset, char* image);
  // After the record at `offset` was read whole from the file beyond the
  // view: the table grew, and is viewed again at its new size.
  void GrowViewPast(int64_t offset);
  // Loads the window so that it holds the `length` bytes at `offset` (by
  // the window rule above); the bytes available there, 0 when none.
  int32_t FillWindowFor(int64_t offset, int32_t length);
  bool InWindow(const char* p) const {
    return !cache_.empty() && p >= cache_.data() && p < cache_.data() + cache_.size();
  }
  // Copies a current record that lies in the window into the own buffer
  // and makes that buffer current.
  void DetachFromWindow();
  void WriteRecordImage(TRecNo recNo, int32_t length);
  // Adds the current record, enciphered, to the held appends as record
  // recordCount_, writing them when they reach kHeldAppendBytes.
  void HoldAppendedRecord();
  // The header image with the current count, date, stamp and flags, written
  // whatever the lock state (WriteTableHeader decides when).
  void StoreHeader();

  uint8_t header_[kTableHeaderSize] = {};
  std::string tableName_;
  bool headerDirty_ = false;
  uint8_t tableState_ = 1;
  TRecNo recordCount_ = 0;
  int32_t headerLength_ = 0;
  int32_t recordLength_ = 0;
  int32_t fieldCount_ = 0;
  std::vector<uint8_t> descriptors_;
  TRecNo recNumber_ = 0;
  std::vector<char> recordBuffer_;
  std::vector<char> snapshotBuffer_;
  std::vector<char> cipherBuffer_;
  char* currentRecord_ = nullptr;
  std::vector<uint8_t> changedFieldMap_;
  bool changedFieldMapMarked_ = false;
  bool eof_ = false;
  bool bof_ = true;
  bool tableLocked_ = false;
  // The header was read after the table lock was taken (see RefreshHeader).
  bool headerReadUnderLock_ = false;
  uint8_t flagBits_ = 0;
  uint32_t updateStamp_ = 0;
  bool externalChange_ = false;
  bool recordChanged_ = false;
  bool autoFlush_ = false;
  bool encrypted_ = false;
  std::string passwordDecipher_;
  std::string passwordEncipher_;
  uint32_t userId_ = 0;
  bool hasMemo_ = false;
  TgsLokProtocol lockProtocol_ = TgsLokProtocol::Default;
  TgsLockConstants lockConstants_;
  std::unique_ptr<GSobjMemo, MemoDeleter> memo_;

  // Enciphered images of records appended under the table lock, not yet
  // written: records heldFirst_ .. recordCount_.
  std::vector<char> heldAppends_;
  TRecNo heldFirst_ = 0;

  // Single records are read through the memory view (read-only tables
  // whose file could be mapped).
  bool viewRecords_ = false;

  // Read-ahead window: file bytes [cacheFirst_, cacheEnd_) when filled.
  bool cacheOn_ = false;
  bool directCache_ = false;
  std::vector<char> cache_;
  int64_t cacheFirst_ = -1;
  int64_t cacheEnd_ = -1;
};
