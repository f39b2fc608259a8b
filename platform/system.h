// Time and system places: sleeping, today's date and the time of day, and
// the folder that plays the role of the Windows directory ("/etc"), and
// whether standard error is a terminal; giving freed memory back to the
// system, and large blocks of memory for bulk work.
// Tests may replace the clock to get fixed dates and times.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>

namespace platform {

struct LocalDateTime {
  int year = 0;    // e.g. 2026
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..59
  int millisecond = 0;
};

void SleepMilliseconds(unsigned milliseconds);

// The local date and time of day, from the system clock or the test clock.
LocalDateTime Now();

// Replaces the clock (tests only); an empty function restores the system one.
void SetClockForTests(std::function<LocalDateTime()> clock);

// Whether standard error is a terminal (progress lines are shown only there).
bool StandardErrorIsTerminal();

// Where the engine looks for its optional configuration file.
std::string WindowsDirectory();

// Gives the heap's free pages back to the system. Memory freed after a
// burst of large allocations (an index build, a check of index files) can
// stay with the process otherwise, counted in its resident size; a
// long-running program calls this once the burst is over. Does nothing
// where the C library cannot.
void ReleaseFreeMemory();

// A large block of zeroed memory for bulk work (a whole input file, the
// records of an import), taken from the system directly and backed by huge
// pages where the system allows: filling it takes a small fraction of the
// page faults of ordinary memory. The block goes back to the system when
// the object goes. Raises std::bad_alloc when the memory cannot be had.
class LargeBuffer {
 public:
  LargeBuffer() = default;
  explicit LargeBuffer(size_t size);
  ~LargeBuffer();
  LargeBuffer(LargeBuffer&& other) noexcept { *this = std::move(other); }
  LargeBuffer& operator=(LargeBuffer&& other) noexcept;
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;

  char* Data() { return data_; }
  const char* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  void Release();

  char* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace platform
