// Disk files, sharing and lock protocols.
//
// `GSO_DiskFile` is the engine's only way to the file system: every table,
// memo and index file object derives from it. It opens a file in one of four
// modes (read-only or read/write, exclusive or shared), reads and writes at
// absolute offsets and holds at most one byte-range lock region at a time,
// with a nesting count. Exclusive handles take no byte-range locks at all and
// keep only the counts, so code written for shared mode runs unchanged.
//
// A derived file may also view the file in memory (read-only, shared) and
// copy pieces out of the view instead of reading them; the view goes when
// the handle closes.
//
// A derived file may hold bytes back from its writes (a table collects the
// records appended under its lock and writes them in large blocks): it
// writes them in `WriteHeldBytes`, which every read, size query, flush,
// truncation and rename of the file calls first, so no one reading through
// this object misses them.
//
// `GSobjFileColl` lists every open disk file (without owning them) so that
// their locks and handles are released when the program ends.
//
// The lock protocols fix where table, header, record and memo locks lie so
// that programs using the same protocol exclude each other:
//
//   lock            Default / FoxLock          DB4Lock              ClipLock
//   table           0x40000000, 0x3FFFFFFF     0x40000000, 0xB0000000  1000000000, 1000000000
//   header          0x7FFFFFFE, 1              0xEFFFFFFF, 1        1000000000, 1
//   record n        0x40000000+H+(n-1)*R, 1    0xEFFFFFFE-n, 1      1000000000+n, 1
//   record n, index 0x7FFFFFFE-n, 1            (as above)           (as above)
//   whole file      0, 0x7FFFFFFF              0, 0x7FFFFFFF        0, 0x7FFFFFFF
//   memo allocation 0x7FFFFFFD, 1              0xEFFFFFFE, 2        1000000000, 1
//
// (H = header length, R = record length of the table.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/support/gs6_cnst.h"
#include "platform/file.h"
#include "platform/file_map.h"

// One byte range of a lock.
struct TgsLockArea {
  int64_t offset = 0;
  int64_t length = 0;
  bool operator==(const TgsLockArea&) const = default;
};

// The three constants a protocol fixes for a table or memo file.
struct TgsLockConstants {
  uint32_t base = 0;         // start of the table lock
  uint32_t headerPoint = 0;  // the header lock byte
  uint32_t tableLength = 0;  // length of the table lock
};

TgsLockConstants LockConstantsOf(TgsLokProtocol protocol);
TgsLockArea TableLockArea(TgsLokProtocol protocol);
TgsLockArea HeaderLockArea(TgsLokProtocol protocol);
TgsLockArea RecordLockArea(TgsLokProtocol protocol, TRecNo recNo, int32_t headerLength,
                           int32_t recordLength, bool indexOpen);
TgsLockArea WholeFileLockArea();
TgsLockArea MemoLockArea(TgsLokProtocol protocol);

class GSO_DiskFile {
 public:
  // Normalises the name, records the modes and whether the file exists now.
  // When no file has the exact name but one file in its folder has it in
  // another letter case, that file is the one meant. No file is opened yet.
  GSO_DiskFile(const std::string& fileName, bool shared, bool readWrite);
  virtual ~GSO_DiskFile();
  GSO_DiskFile(const GSO_DiskFile&) = delete;
  GSO_DiskFile& operator=(const GSO_DiskFile&) = delete;

  // Releases a held region once (whatever its nesting), forgets the file
  // from the open-file list and closes the handle. Always true.
  virtual bool Close();
  virtual int64_t SizeOfFile();
  // See platform::File::ChangeStamp; false when closed.
  bool ChangeStamp(int64_t& stamp, int64_t* size = nullptr) const {
    if (size) *size = -1;
    return !closed_ && handle_.ChangeStamp(stamp, size);
  }
  virtual void Flush();
  virtual bool LockWholeFile();
  virtual bool LockRegion(int64_t offset, int64_t length);
  // Reads up to `length` bytes at `offset`; fewer at end of file.
  virtual int32_t ReadAt(int64_t offset, void* buffer, int32_t length);
  virtual void Rename(const std::string& newName);
  virtual void Open();
  virtual void CreateNew();
  virtual void Truncate(int64_t newSize);
  virtual bool Unlock();
  virtual void WriteAt(int64_t offset, const void* buffer, int32_t length);

  // True when no other handle can interfere: exclusive, or the whole file
  // locked.
  bool HasFullAccess() const;
  // One more level of the region already held, without a platform call.
  void AddLockLevel() { ++lockCount_; }
  // Locks a region, retrying every `pause` ms for up to `waitTotal` ms;
  // raises "Can not Lock file %s" when the region cannot be had.
  void LockRegionWaiting(int64_t offset, int64_t length, unsigned waitTotal = LockWaitTotal,
                         unsigned pause = LockRetryPause);

  const std::string& FileName() const { return fileName_; }
  bool IsShared() const { return shared_; }
  bool IsReadWrite() const { return readWrite_; }
  bool IsClosed() const { return closed_; }
  bool Exists() const { return exists_; }
  int64_t Position() const { return position_; }
  int32_t LastCount() const { return lastCount_; }
  int32_t LockCount() const { return lockCount_; }
  TgsLockArea LockedArea() const { return lockedArea_; }
  bool WrittenSinceFlush() const { return written_; }
  // Bytes the memory view covers from offset 0 (see MapFile); 0 without one.
  int64_t MappedSize() const { return map_.Size(); }
  // Bytes of the view that reads out of it may have made resident.
  int64_t MappedBytesTouched() const { return map_.TouchedBytes(); }

  // The name a file is known by: a network name ("\\server...") or one with
  // a colon beyond its second character is kept; any other is expanded to a
  // full path against the current directory.
  static std::string NormalizeName(const std::string& name);

 protected:
  // Writes what the derived file holds back; nothing here.
  virtual void WriteHeldBytes() {}
  // Views the file in memory at its current size, replacing an earlier
  // view, with copies out of it keeping at most `residentLimit` bytes of it
  // resident (see platform::FileMap); false, and no view, when the file is
  // closed or cannot be mapped. Held bytes are not in the view: only a file
  // that holds none back should read through it.
  bool MapFile(int64_t residentLimit);
  void UnmapFile() { map_.Unmap(); }
  // Copies the `length` bytes at `offset` out of the view; false when they
  // do not lie inside it or the copy faulted (the file was cut short since).
  bool ReadMapped(int64_t offset, void* buffer, int32_t length) {
    return length >= 0 && map_.CopyOut(offset, buffer, static_cast<size_t>(length));
  }
  // Cuts the file back to `size` without the full access Truncate asks for:
  // only for taking back bytes this object appended under its own lock and
  // could not complete. False when the platform refused.
  bool CutBackOwnAppends(int64_t size);

 private:
  friend class GSobjFileColl;
  // End of program: drop the platform lock and the handle, errors ignored.
  void ReleaseAtExit();

  platform::File handle_;
  platform::FileMap map_;
  bool exists_ = false;
  std::string fileName_;
  int64_t position_ = 0;
  bool shared_ = false;
  bool readWrite_ = false;
  int32_t lastCount_ = 0;
  int32_t lockCount_ = 0;
  TgsLockArea lockedArea_;
  bool written_ = false;
  bool closed_ = true;
};

// The process-wide list of open disk files. It does not own them; at program
// end it releases every lock still held and closes every handle.
class GSobjFileColl {
 public:
  static GSobjFileColl& Instance();
  ~GSobjFileColl();

  void Add(GSO_DiskFile* file);
  void Remove(GSO_DiskFile* file);
  size_t Count() const { return files_.size(); }
  bool Contains(const GSO_DiskFile* file) const;

 private:
  GSobjFileColl() = default;
  std::vector<GSO_DiskFile*> files_;
};
