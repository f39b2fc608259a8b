// Disk files, the open-file list and the lock-protocol regions.
#include "engine/table/gs6_disk.h"

#include <algorithm>

#include "engine/support/gs6_glbl.h"
#include "platform/hot.h"
#include "platform/system.h"

// ---------------------------------------------------------------------------
// Lock protocols

TgsLockConstants LockConstantsOf(TgsLokProtocol protocol) {
  switch (protocol) {
    case TgsLokProtocol::DB4Lock:
      return {0x40000000u, 0xEFFFFFFFu, 0xB0000000u};
    case TgsLokProtocol::ClipLock:
      return {1000000000u, 1000000000u, 1000000000u};
    case TgsLokProtocol::Default:
    case TgsLokProtocol::FoxLock:
      break;
  }
  return {0x40000000u, 0x7FFFFFFEu, 0x3FFFFFFFu};
}

TgsLockArea TableLockArea(TgsLokProtocol protocol) {
  TgsLockConstants c = LockConstantsOf(protocol);
  return {c.base, c.tableLength};
}

TgsLockArea HeaderLockArea(TgsLokProtocol protocol) {
  return {LockConstantsOf(protocol).headerPoint, 1};
}

TgsLockArea RecordLockArea(TgsLokProtocol protocol, TRecNo recNo, int32_t headerLength,
                           int32_t recordLength, bool indexOpen) {
  TgsLockConstants c = LockConstantsOf(protocol);
  int64_t n = recNo;
  switch (protocol) {
    case TgsLokProtocol::DB4Lock:
      return {int64_t{c.headerPoint} - n - 1, 1};
    case TgsLokProtocol::ClipLock:
      return {int64_t{c.base} + n, 1};
    case TgsLokProtocol::Default:
    case TgsLokProtocol::FoxLock:
      break;
  }
  if (indexOpen) return {int64_t{c.headerPoint} - n, 1};
  return {int64_t{c.base} + headerLength + (n - 1) * int64_t{recordLength}, 1};
}

TgsLockArea WholeFileLockArea() { return {0, 0x7FFFFFFF}; }

TgsLockArea MemoLockArea(TgsLokProtocol protocol) {
  switch (protocol) {
    case TgsLokProtocol::DB4Lock:
      return {0xEFFFFFFEu, 2};
    case TgsLokProtocol::ClipLock:
      return {1000000000u, 1};
    case TgsLokProtocol::Default:
    case TgsLokProtocol::FoxLock:
      break;
  }
  return {0x7FFFFFFD, 1};
}

// ---------------------------------------------------------------------------
// GSobjFileColl

namespace {
// Set once the list has been destroyed at program end, so that files closed
// later (objects with static lifetime) do not touch it.
bool fileCollFinished = false;
}  // namespace

GSobjFileColl& GSobjFileColl::Instance() {
  static GSobjFileColl instance;
  return instance;
}

GSobjFileColl::~GSobjFileColl() {
  for (GSO_DiskFile* file : files_) file->ReleaseAtExit();
  files_.clear();
  fileCollFinished = true;
}

void GSobjFileColl::Add(GSO_DiskFile* file) {
  if (!Contains(file)) files_.push_back(file);
}

void GSobjFileColl::Remove(GSO_DiskFile* file) {
  auto it = std::find(files_.begin(), files_.end(), file);
  if (it != files_.end()) files_.erase(it);
}

bool GSobjFileColl::Contains(const GSO_DiskFile* file) const {
  return std::find(files_.begin(), files_.end(), file) != files_.end();
}

// ---------------------------------------------------------------------------
// GSO_DiskFile

std::string GSO_DiskFile::NormalizeName(const std::string& name) {
  if (name.find("\\\\") != std::string::npos) return name;
  size_t colon = name.find(':', 2);
  if (colon != std::string::npos) return name;
  return platform::FullPath(name);
}

GSO_DiskFile::GSO_DiskFile(const std::string& fileName, bool shared, bool readWrite)
    : fileName_(platform::ExistingFileName(NormalizeName(fileName))),
      shared_(shared),
      readWrite_(readWrite) {
  exists_ = platform::FileExists(fileName_);
}

GSO_DiskFile::~GSO_DiskFile() { GSO_DiskFile::Close(); }

bool GSO_DiskFile::Close() {
  if (closed_) return true;
  if (lockCount_ > 0) {
    lockCount_ = 1;
    try {
      Unlock();
    } catch (const EDeridarBase&) {
      lockCount_ = 0;  // closing the handle drops the lock anyway
    }
  }
  if (!fileCollFinished) GSobjFileColl::Instance().Remove(this);
  map_.Unmap();
  handle_.Close();
  closed_ = true;
  position_ = 0;
  return true;
}

void GSO_DiskFile::ReleaseAtExit() {
  if (lockCount_ > 0 && shared_) handle_.UnlockRange(lockedArea_.offset, lockedArea_.length);
  lockCount_ = 0;
  map_.Unmap();
  handle_.Close();
  closed_ = true;
  position_ = 0;
}

void GSO_DiskFile::Open() {
  if (!closed_) return;
  if (!exists_) {
    // The file may have appeared since, perhaps under another letter case.
    fileName_ = platform::ExistingFileName(fileName_);
    exists_ = platform::FileExists(fileName_);
  }
  if (!exists_) RaiseError(Msg::FileNotFound, fileName_);
  if (!handle_.Open(fileName_, readWrite_, shared_)) RaiseError(Msg::AccessDenied, fileName_);
  position_ = 0;
  lockCount_ = 0;
  written_ = false;
  GSobjFileColl::Instance().Add(this);
  closed_ = false;
}

void GSO_DiskFile::CreateNew() {
  Close();
  if (!platform::File::Create(fileName_)) RaiseError(Msg::CreateError, fileName_);
  exists_ = true;
  Open();
}

DERIDAR_ROW_PATH int32_t GSO_DiskFile::ReadAt(int64_t offset, void* buffer, int32_t length) {
  WriteHeldBytes();
  if (length < 0) RaiseError(Msg::ReadError, fileName_);
  int64_t got = handle_.ReadAt(offset, buffer, static_cast<size_t>(length));
  if (got < 0) RaiseError(Msg::ReadError, fileName_);
  position_ = offset + length;
  lastCount_ = static_cast<int32_t>(got);
  return lastCount_;
}

void GSO_DiskFile::WriteAt(int64_t offset, const void* buffer, int32_t length) {
  if (length < 0 || !handle_.WriteAt(offset, buffer, static_cast<size_t>(length)))
    RaiseError(Msg::WriteError, fileName_);
  position_ = offset + length;
  lastCount_ = length;
  written_ = true;
}

bool GSO_DiskFile::MapFile(int64_t residentLimit) {
  map_.Unmap();
  const int64_t size = closed_ ? -1 : handle_.Size();
  return size > 0 && map_.Map(handle_, size, residentLimit);
}

int64_t GSO_DiskFile::SizeOfFile() {
  WriteHeldBytes();
  int64_t size = handle_.Size();
  if (size < 0) RaiseError(Msg::FileSizeError, fileName_);
  return size;
}

void GSO_DiskFile::Flush() {
  if (closed_) return;
  WriteHeldBytes();
  if (!handle_.Flush()) RaiseError(Msg::FlushError, fileName_);
  written_ = false;
}

bool GSO_DiskFile::LockRegion(int64_t offset, int64_t length) {
  if (!shared_) {
    ++lockCount_;
    lockedArea_ = {offset, length};
    return true;
  }
  if (lockCount_ <= 0) {
    if (!handle_.LockRange(offset, length)) return false;
    lockedArea_ = {offset, length};
  } else if (lockedArea_.offset != offset || lockedArea_.length != length) {
    return false;  // one region per file object
  }
  ++lockCount_;
  return true;
}

bool GSO_DiskFile::LockWholeFile() {
  if (!shared_) return true;
  TgsLockArea all = WholeFileLockArea();
  return LockRegion(all.offset, all.length);
}

void GSO_DiskFile::LockRegionWaiting(int64_t offset, int64_t length, unsigned waitTotal,
                                     unsigned pause) {
  unsigned attempts = pause == 0 ? 1 : std::max(1u, waitTotal / pause);
  for (unsigned i = 0; i < attempts; ++i) {
    if (LockRegion(offset, length)) return;
    platform::SleepMilliseconds(pause);
  }
  RaiseError(Msg::CannotLockFile, fileName_);
}

bool GSO_DiskFile::Unlock() {
  if (lockCount_ <= 0) return true;
  if (shared_ && lockCount_ == 1) {
    if (!handle_.UnlockRange(lockedArea_.offset, lockedArea_.length))
      RaiseError(Msg::UnlockError, fileName_);
  }
  --lockCount_;
  return true;
}

bool GSO_DiskFile::HasFullAccess() const {
  if (!shared_) return true;
  TgsLockArea all = WholeFileLockArea();
  return lockCount_ > 0 && lockedArea_ == all;
}

void GSO_DiskFile::Truncate(int64_t newSize) {
  if (!readWrite_ || !HasFullAccess()) RaiseError(Msg::RequiresFullAccess, "Truncate", fileName_);
  WriteHeldBytes();
  if (!handle_.Truncate(newSize)) RaiseError(Msg::TruncateError, fileName_);
  position_ = newSize;
  written_ = true;
}

bool GSO_DiskFile::CutBackOwnAppends(int64_t size) {
  if (closed_ || !readWrite_ || !handle_.Truncate(size)) return false;
  position_ = size;
  written_ = true;
  return true;
}

void GSO_DiskFile::Rename(const std::string& newName) {
  WriteHeldBytes();
  Close();
  std::string target = NormalizeName(newName);
  if (!platform::RenameFile(fileName_, target)) RaiseError(Msg::RenameError, fileName_);
  fileName_ = target;
  exists_ = true;
  Open();
}
