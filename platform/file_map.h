// A read-only memory view of the first bytes of an open file, for reading
// small pieces of it without a system call each.
//
// The view is shared (MAP_SHARED): bytes another handle or process writes
// into the file are seen at once, as a positioned read would see them. The
// view keeps the length it was made with; a file that grew is viewed
// further only once it is mapped again, and a piece beyond the view is not
// copied (the caller reads it from the file).
//
// Another program may cut the file short while it is viewed (copying a new
// edition over it truncates it in place). A copy that touches a page wholly
// past the new end raises SIGBUS; CopyOut catches that fault and returns
// false instead, so the caller can read the piece from the file and learn
// the truth there. Bytes past the new end inside the file's last page read
// as zeros without a fault: callers that must tell those from stored bytes
// check what they copied. A bus error anywhere else is handed on to the
// handler that was installed before this one, or ends the process as it
// would have without it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file.h"

namespace platform {

class FileMap {
 public:
  FileMap() = default;
  ~FileMap();
  FileMap(const FileMap&) = delete;
  FileMap& operator=(const FileMap&) = delete;

  // Views the first `size` bytes of `file`, replacing an earlier view
  // (mapping again at a larger size is how a view grows). False, and no
  // view, when the file is not open, `size` is not positive or beyond the
  // address space, or the system cannot map the file; the caller then reads
  // through the file.
  bool Map(const File& file, int64_t size);
  void Unmap();
  bool IsMapped() const { return base_ != nullptr; }
  // Bytes viewed; 0 without a view.
  int64_t Size() const { return size_; }

  // Copies the `length` bytes at `offset` into `out`. False when they do not
  // lie wholly inside the view, or when the copy faulted because the file
  // is now shorter; `out` may then hold part of the bytes.
  bool CopyOut(int64_t offset, void* out, size_t length) const;

 private:
  const char* base_ = nullptr;
  int64_t size_ = 0;
};

}  // namespace platform
