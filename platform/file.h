// POSIX file layer: opening with access and sharing modes, positioned reads
// and writes at 64-bit offsets, size, flush, truncate, rename, byte-range
// locks, existence test, full-path expansion and the letter-case fallback
// for file names.
//
// Sharing modes are whole-file flock() locks taken without waiting: an
// exclusive open holds LOCK_EX, a shared open LOCK_SH, so an exclusive open
// is refused while any other handle has the file open, and vice versa.
//
// Byte-range locks are open-file-description locks (F_OFD_SETLK): they
// belong to the handle, not to the process, so two handles of one process
// exclude each other, and closing one handle never drops the locks of
// another. A handle opened for writing takes write locks; a read-only handle
// can only take read locks (the system refuses write locks on it), which
// exclude writers' locks but not other readers'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Opens an existing file. Returns false when the system refuses it or the
  // sharing mode conflicts with another open handle.
  bool Open(const std::string& path, bool readWrite, bool shared);
  // Creates the file, or empties an existing one, and closes it again.
  static bool Create(const std::string& path);
  // Creates a file that must not exist yet, and closes it again; false when
  // a file of that name exists (checked and created in one step, so two
  // creators never both succeed) or the system refuses.
  static bool CreateNew(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  bool IsWritable() const { return writable_; }

  // Reads up to `length` bytes at `offset`; fewer at end of file. -1 on error.
  int64_t ReadAt(int64_t offset, void* buffer, size_t length) const;
  // Writes all `length` bytes at `offset`; false on error.
  bool WriteAt(int64_t offset, const void* buffer, size_t length);
  // Size in bytes, -1 on error.
  int64_t Size() const;
  // A value that changes with every write to the file by any handle or
  // process: its modification time and size. False when it cannot be
  // trusted: the file was modified within the last seconds, when a further
  // write could still fall in the same tick of the file system's clock and
  // leave the time as it is. `size`, when given, gets the file's size
  // whenever it could be learned (-1 otherwise), trusted stamp or not.
  bool ChangeStamp(int64_t& stamp, int64_t* size = nullptr) const;
  bool Flush();
  bool Truncate(int64_t size);

  // Takes a byte-range lock without waiting; false when another handle
  // holds an overlapping range (or the range is not valid).
  bool LockRange(int64_t offset, int64_t length);
  bool UnlockRange(int64_t offset, int64_t length);

 private:
  friend class FileMap;  // maps the open file's descriptor

  int fd_ = -1;
  bool writable_ = false;
};

// The name under which `path` exists: `path` itself when there is such a
// file; otherwise the one file in the same folder whose name equals the
// last part of `path` ignoring ASCII letter case (files copied from other
// systems come in any case). When there is no such file, or more than one,
// `path` unchanged.
std::string ExistingFileName(const std::string& path);
// Whether a file exists under `path` or, as ExistingFileName finds it,
// under a name differing only in ASCII letter case.
bool FileExists(const std::string& path);
// The absolute, lexically normalised form of `path` against the current
// directory.
std::string FullPath(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);

}  // namespace platform
