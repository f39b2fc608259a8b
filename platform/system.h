// Time and system places: sleeping, today's date and the time of day, and
// the folder that plays the role of the Windows directory ("/etc"), and
// whether standard error is a terminal; giving freed memory back to the
// system.
// Tests may replace the clock to get fixed dates and times.
#pragma once

#include <functional>
#include <string>

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

}  // namespace platform
