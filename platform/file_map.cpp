// POSIX implementation of the read-only file view (see file_map.h) and the
// SIGBUS handler that turns a fault in a guarded copy into a false return.
#include "platform/file_map.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>

#include "platform/hot.h"

namespace platform {

namespace {

// The copy out of a view that is running on this thread, if any: where a
// bus error inside it resumes. Set and cleared around each copy, so the
// copy itself costs no system call.
thread_local sigjmp_buf* guardedCopy = nullptr;

// What SIGBUS did before this handler was installed.
struct sigaction previousBusAction {};

// A bus error inside a guarded copy (the viewed file was cut short) jumps
// back into CopyOut. Any other belongs to other code: it goes to the
// handler that was there before, or, when that was the default (or
// ignoring, which a fault cannot honour), the default action is restored
// and the fault happens again on return, ending the process as it would
// have without this handler. A SIGBUS sent by another process does not
// recur on return, so it is raised again.
void OnBusError(int signal, siginfo_t* info, void* context) {
  if (sigjmp_buf* resume = guardedCopy) {
    guardedCopy = nullptr;
    siglongjmp(*resume, 1);
  }
  // Both handler forms share their storage: SIG_DFL and SIG_IGN read the
  // same through either.
  if (previousBusAction.sa_handler != SIG_DFL && previousBusAction.sa_handler != SIG_IGN) {
    if ((previousBusAction.sa_flags & SA_SIGINFO) != 0)
      previousBusAction.sa_sigaction(signal, info, context);
    else
      previousBusAction.sa_handler(signal);
    return;
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(SIGBUS, &fallback, nullptr);
  if (info == nullptr || info->si_code <= 0) raise(signal);
}

// Installs the handler once per process; false when the system refused it
// (no view is made then: a cut file would end the process).
bool BusErrorHandlerInstalled() {
  static std::once_flag once;
  static bool installed = false;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    // SA_NODEFER: the handler leaves by siglongjmp, which does not restore
    // the signal mask (sigsetjmp saves none, to stay free of system calls),
    // so the signal must not be blocked while it runs.
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    installed = sigaction(SIGBUS, &action, &previousBusAction) == 0;
  });
  return installed;
}

}  // namespace

FileMap::~FileMap() { Unmap(); }

bool FileMap::Map(const File& file, int64_t size, int64_t residentLimit) {
  Unmap();
  if (!file.IsOpen() || size <= 0 || static_cast<uint64_t>(size) > std::numeric_limits<size_t>::max())
    return false;
  if (!BusErrorHandlerInstalled()) return false;
  void* base = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, file.fd_, 0);
  if (base == MAP_FAILED) return false;
  base_ = static_cast<const char*>(base);
  size_ = size;
  blockLimit_ = std::max<int64_t>(0, residentLimit / kViewBlock);
  touchedBlocks_ = 0;
  // Blocks are counted where the system aligns them: in the address space.
  const uintptr_t first = reinterpret_cast<uintptr_t>(base_) / kViewBlock;
  const uintptr_t last = (reinterpret_cast<uintptr_t>(base_) + static_cast<uintptr_t>(size) - 1) / kViewBlock;
  touched_.assign(last - first + 1, false);
  return true;
}

void FileMap::Unmap() {
  if (base_ == nullptr) return;
  ::munmap(const_cast<char*>(base_), static_cast<size_t>(size_));
  base_ = nullptr;
  size_ = 0;
  touchedBlocks_ = 0;
  touched_.clear();
}

DERIDAR_ROW_PATH bool FileMap::MayTouch(int64_t offset, size_t length) {
  const uintptr_t origin = reinterpret_cast<uintptr_t>(base_) / kViewBlock;
  const uintptr_t from = reinterpret_cast<uintptr_t>(base_ + offset);
  const size_t first = from / kViewBlock - origin;
  const size_t last = (from + length - 1) / kViewBlock - origin;
  int64_t fresh = 0;
  for (size_t block = first; block <= last; ++block) fresh += touched_[block] ? 0 : 1;
  if (fresh == 0) return true;
  if (touchedBlocks_ + fresh > blockLimit_) return false;
  for (size_t block = first; block <= last; ++block) touched_[block] = true;
  touchedBlocks_ += fresh;
  return true;
}

DERIDAR_ROW_PATH bool FileMap::CopyOut(int64_t offset, void* out, size_t length) {
  if (base_ == nullptr || offset < 0 || offset > size_ || length > static_cast<uint64_t>(size_ - offset))
    return false;
  if (length == 0) return true;
  if (!MayTouch(offset, length)) return false;
  sigjmp_buf resume;
  if (sigsetjmp(resume, 0) != 0) return false;  // faulted: the handler cleared the guard
  guardedCopy = &resume;
  // Signal fences keep the compiler from moving the copy out of the
  // guarded stretch.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(out, base_ + offset, length);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  guardedCopy = nullptr;
  return true;
}

}  // namespace platform
