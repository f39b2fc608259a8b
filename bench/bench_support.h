// Pieces the benchmarks share: wall and processor clocks, the median and
// 99th percentile of timed steps, a scratch folder removed on exit (with a
// generated PHONE.DBF in it), and the engine's front-to-back read of a
// table that several benchmarks measure against.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "engine/table/gs6_dbf.h"
#include "tools/mkphone/phonegen.h"

namespace bench {

using Clock = std::chrono::steady_clock;

// Wall time since `from`, in seconds.
inline double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// Processor time of the process, in seconds.
inline double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Processor time of this thread (system time included), in microseconds:
// on a shared machine wall time would count the neighbours' turns too.
inline double ThreadMicros() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

struct Stats {
  double median = 0, p99 = 0;
};

// Median and 99th percentile of the steps' times (at least one).
inline Stats Summarise(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  Stats s;
  s.median = times[times.size() / 2];
  s.p99 = times[std::min(times.size() - 1, times.size() * 99 / 100)];
  return s;
}

// A fresh folder under the system's temporary folder, named from `prefix`,
// removed with its contents on exit. Exits the program when it cannot be
// made.
class ScratchFolder {
 public:
  explicit ScratchFolder(const char* prefix = "deridar-bench") {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A scratch folder holding PHONE.DBF with `count` records generated from
// `seed`. Exits the program when the table cannot be written.
class PhoneFolder : public ScratchFolder {
 public:
  PhoneFolder(uint32_t count, const char* prefix, uint64_t seed = 1) : ScratchFolder(prefix) {
    if (!phonegen::WritePhoneDbf(Table(), count, seed)) {
      std::fprintf(stderr, "cannot write %s\n", Table().c_str());
      std::exit(1);
    }
  }
  std::string Table() const { return (Path() / "PHONE.DBF").string(); }
};

// The table read front to back with ReadRecord(GotoNext) through the read
// cache; adds a byte of each record to `checksum`, counts the records and
// returns the wall time taken.
inline double EngineRead(const std::string& path, uint64_t& checksum, int64_t& records) {
  auto start = Clock::now();
  GSO_dBaseDBF table(path, "", true, false);
  table.OpenTable();
  table.SetCache(true);
  records = 0;
  for (table.ReadRecord(GotoNext); !table.Eof(); table.ReadRecord(GotoNext)) {
    checksum += static_cast<unsigned char>(table.CurrentRecord()[1]);
    ++records;
  }
  return Seconds(start);
}

}  // namespace bench
