// System clock, sleeping, system places and returning freed memory (see
// system.h).
#include "platform/system.h"

#include <time.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cerrno>
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

}  // namespace platform
