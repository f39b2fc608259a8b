// Memory of large tables: generates a 1,000,000-record and a 10,000,000-
// record telephone table in a scratch folder under /tmp, and for each one,
// in a fresh process, opens it, scans every record in record order, builds
// one index tag on the number and walks the first million entries of that
// tag, printing the peak resident memory (VmHWM) and the current one (VmRSS)
// after each stage. The ratio of the two runs per stage shows whether memory
// grows with the record count beyond what the index build needs (the build
// sorter keeps its sorted runs in memory). The scratch folder is removed at
// the end.
//
//   bench_large [SMALL LARGE]   record counts, 1000000 and 10000000 by default
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/index/gs6_indx.h"
#include "engine/table/gs6_dbsy.h"
#include "tools/mkphone/phonegen.h"

namespace {

using Clock = std::chrono::steady_clock;

// A line of /proc/self/status in kilobytes ("VmHWM:" the peak resident
// set, "VmRSS:" the current one).
long StatusKilobytes(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(key);
  while (std::getline(status, line))
    if (line.compare(0, length, key) == 0) return std::strtol(line.c_str() + length, nullptr, 10);
  return -1;
}

struct Memory {
  long peakKb = 0, currentKb = 0;
};

// The current figure is taken after handing freed heap memory back to the
// system, so that it shows what is still in use rather than what the
// allocator keeps for later.
Memory Now() {
  Memory m;
  m.peakKb = StatusKilobytes("VmHWM:");
#ifdef __GLIBC__
  malloc_trim(0);
#endif
  m.currentKb = StatusKilobytes("VmRSS:");
  return m;
}

constexpr int64_t kWalkLimit = 1000000;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// The stages of one measured run; written by the child into a pipe.
struct Stages {
  Memory start, open, scan, build, walk;
  double scanSeconds = 0, buildSeconds = 0, walkSeconds = 0;
  int64_t scanned = 0, walked = 0;
  bool ok = false;
};

Stages Measure(const std::string& path) {
  Stages s;
  s.start = Now();
  GSO_dBHandler table(path, "", false, true);
  table.OpenTable();
  s.open = Now();

  auto start = Clock::now();
  table.SetCacheSwitch(true);
  for (table.ReadRecord(GotoFirst); !table.Eof(); table.ReadRecord(GotoNext)) ++s.scanned;
  s.scanSeconds = Seconds(start);
  s.scan = Now();

  start = Clock::now();
  table.IndexOn("PHONE.CDX", "NUM", "NUM", "", 1, 0);
  s.buildSeconds = Seconds(start);
  s.build = Now();

  start = Clock::now();
  table.OpenIndexList("PHONE.CDX", "NUM");
  for (table.ReadRecord(GotoFirst); !table.Eof() && s.walked < kWalkLimit; table.ReadRecord(GotoNext))
    ++s.walked;
  s.walkSeconds = Seconds(start);
  s.walk = Now();
  s.ok = true;
  return s;
}

// Runs `body` in a child process so that its peak memory is its own.
template <class Body>
bool InChild(Body body, Stages* result) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    close(fds[0]);
    Stages s;
    try {
      s = body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "bench_large: %s\n", e.what());
    }
    (void)!write(fds[1], &s, sizeof s);
    _exit(s.ok ? 0 : 1);
  }
  close(fds[1]);
  Stages s;
  const bool got = read(fds[0], &s, sizeof s) == static_cast<ssize_t>(sizeof s);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (result) *result = s;
  return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<uint32_t> counts = {1000000, 10000000};
  if (argc == 3) counts = {static_cast<uint32_t>(std::atol(argv[1])), static_cast<uint32_t>(std::atol(argv[2]))};

  char pattern[] = "/tmp/deridar-bench-large-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::filesystem::path root = pattern;
  std::vector<Stages> results;
  int status = 0;
  for (uint32_t count : counts) {
    const std::filesystem::path folder = root / std::to_string(count);
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "PHONE.DBF").string();
    Stages generated;
    auto start = Clock::now();
    const bool written = InChild(
        [&] {
          Stages s;
          s.ok = phonegen::WritePhoneDbf(path, count, 1);
          return s;
        },
        &generated);
    if (!written) {
      std::fprintf(stderr, "bench_large: could not write %s\n", path.c_str());
      status = 1;
      break;
    }
    std::printf("%u records: table of %.0f MB written in %.1f s\n", count,
                std::filesystem::file_size(path) / 1048576.0, Seconds(start));
    Stages s;
    if (!InChild([&] { return Measure(path); }, &s)) {
      std::fprintf(stderr, "bench_large: the run over %u records failed\n", count);
      status = 1;
      break;
    }
    auto kb = [](const Memory& m) { return std::to_string(m.peakKb) + "/" + std::to_string(m.currentKb); };
    std::printf(
        "%u records: peak/current RSS KB: start %s, open %s, scan %s (%lld records, %.2f s), "
        "build %s (%.2f s, index %.0f MB), tag walk %s (%lld entries, %.2f s)\n",
        count, kb(s.start).c_str(), kb(s.open).c_str(), kb(s.scan).c_str(), static_cast<long long>(s.scanned),
        s.scanSeconds, kb(s.build).c_str(), s.buildSeconds,
        std::filesystem::file_size(folder / "PHONE.CDX") / 1048576.0, kb(s.walk).c_str(),
        static_cast<long long>(s.walked), s.walkSeconds);
    std::fflush(stdout);
    results.push_back(s);
    std::filesystem::remove_all(folder);  // keep at most one large table on disk
  }
  std::filesystem::remove_all(root);
  if (results.size() == 2) {
    const Stages& a = results[0];
    const Stages& b = results[1];
    const double records = static_cast<double>(counts[1]) / counts[0];
    std::printf(
        "ratio at %.0fx records: peak RSS open %.2f, scan %.2f, build %.2f; current RSS after build %.2f, "
        "after tag walk %.2f\n",
        records, double(b.open.peakKb) / a.open.peakKb, double(b.scan.peakKb) / a.scan.peakKb,
        double(b.build.peakKb) / a.build.peakKb, double(b.build.currentKb) / a.build.currentKb,
        double(b.walk.currentKb) / a.walk.currentKb);
  }
  return status;
}
