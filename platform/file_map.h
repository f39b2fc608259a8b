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
//
// Every page of the view that a copy touches stays in this process's
// resident memory until the view goes, and a page fault maps neighbouring
// pages of the file's cache along with the one touched (whole large pages
// of the cache, and more around them: as much as the system likes, but
// never past the aligned block of kViewBlock bytes that one page table
// covers). A view may be given a limit of resident bytes: it counts the
// blocks its copies have touched, and once the limit is reached a copy
// that would touch a further block is refused (false), so that the caller
// reads those bytes from the file instead. Reads spread over a large file
// then keep the view to the blocks met first rather than making the whole
// file resident.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/file.h"

namespace platform {

class FileMap {
 public:
  // The unit of the resident-memory count: the address range of one page
  // table, beyond which no fault maps anything.
  static constexpr int64_t kViewBlock = 2 * 1024 * 1024;
  static constexpr int64_t kNoLimit = INT64_MAX;

  FileMap() = default;
  ~FileMap();
  FileMap(const FileMap&) = delete;
  FileMap& operator=(const FileMap&) = delete;

  // Views the first `size` bytes of `file`, replacing an earlier view
  // (mapping again at a larger size is how a view grows), with copies
  // touching at most `residentLimit` bytes of it (in whole blocks). False,
  // and no view, when the file is not open, `size` is not positive or
  // beyond the address space, or the system cannot map the file; the
  // caller then reads through the file.
  bool Map(const File& file, int64_t size, int64_t residentLimit = kNoLimit);
  void Unmap();
  bool IsMapped() const { return base_ != nullptr; }
  // Bytes viewed; 0 without a view.
  int64_t Size() const { return size_; }
  // Bytes of the blocks copies have touched so far: what the view may keep
  // resident at most.
  int64_t TouchedBytes() const { return touchedBlocks_ * kViewBlock; }

  // Copies the `length` bytes at `offset` into `out`. False when they do not
  // lie wholly inside the view, when they would touch a block beyond the
  // resident limit, or when the copy faulted because the file is now
  // shorter; `out` may then hold part of the bytes.
  bool CopyOut(int64_t offset, void* out, size_t length);

 private:
  // Whether the blocks of [offset, offset + length) are touched already or
  // may be within the limit, counting them as touched.
  bool MayTouch(int64_t offset, size_t length);

  const char* base_ = nullptr;
  int64_t size_ = 0;
  int64_t blockLimit_ = 0;
  int64_t touchedBlocks_ = 0;
  // One flag per block of the address range, from the block holding base_.
  std::vector<bool> touched_;
};

}  // namespace platform
