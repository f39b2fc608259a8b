// System clock, sleeping, system places and returning freed memory (see
// system.h).
#include "platform/system.h"

#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cerrno>
#include <new>
#include <utility>

namespace platform {

namespace {

std::function<LocalDateTime()>& TestClock() {
  static std::function<LocalDateTime()> clock;
  return clock;
}

}  // namespace

void SleepMilliseconds(unsigned milliseconds) {
  struct timespec ts {};
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

LocalDateTime Now() {
  if (TestClock()) return TestClock()();
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm parts {};
  ::localtime_r(&ts.tv_sec, &parts);
  LocalDateTime now;
  now.year = parts.tm_year + 1900;
  now.month = parts.tm_mon + 1;
  now.day = parts.tm_mday;
  now.hour = parts.tm_hour;
  now.minute = parts.tm_min;
  now.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;
  now.millisecond = static_cast<int>(ts.tv_nsec / 1000000L);
  return now;
}

void SetClockForTests(std::function<LocalDateTime()> clock) { TestClock() = std::move(clock); }

std::string WindowsDirectory() { return "/etc"; }

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void ReleaseFreeMemory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

LargeBuffer::LargeBuffer(size_t size) {
  if (size == 0) return;
  void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
  ::madvise(block, size, MADV_HUGEPAGE);  // advice only: a refusal leaves ordinary pages
#endif
  data_ = static_cast<char*>(block);
  size_ = size;
}

LargeBuffer::~LargeBuffer() { Release(); }

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void LargeBuffer::Release() {
  if (data_) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace platform
