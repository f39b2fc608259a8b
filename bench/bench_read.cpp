// Reading every record of a 1,000,000-record PHONE.DBF in record order with
// ReadRecord(GotoNext), against a plain sequential read() of the same file
// in the same run. Prints both times and their ratio (target: within 4x).
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/table/gs6_dbf.h"
#include "tools/mkphone/phonegen.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Baseline: the file read front to back in 64 KiB blocks.
double PlainRead(const std::string& path, uint64_t& checksum) {
  auto start = Clock::now();
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return -1;
  std::vector<char> block(65536);
  ssize_t n;
  while ((n = ::read(fd, block.data(), block.size())) > 0)
    for (ssize_t i = 0; i < n; i += phonegen::kRecordLength) checksum += static_cast<unsigned char>(block[i]);
  ::close(fd);
  return Seconds(start);
}

double EngineRead(const std::string& path, uint64_t& checksum, int32_t& records) {
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

}  // namespace

int main(int argc, char** argv) {
  uint32_t count = argc > 1 ? static_cast<uint32_t>(std::atol(argv[1])) : 1000000;
  std::string pattern = (std::filesystem::temp_directory_path() / "deridar-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  std::filesystem::path dir(pattern);
  std::string path = (dir / "PHONE.DBF").string();
  if (!phonegen::WritePhoneDbf(path, count, 1)) return 1;

  uint64_t sink = 0;
  int32_t records = 0;
  double plain = 1e9, engine = 1e9;
  PlainRead(path, sink);  // warm the page cache
  for (int round = 0; round < 5; ++round) {
    plain = std::min(plain, PlainRead(path, sink));
    engine = std::min(engine, EngineRead(path, sink, records));
  }
  std::printf("records read:        %d\n", records);
  std::printf("plain read():        %.4f s\n", plain);
  std::printf("ReadRecord(GotoNext): %.4f s\n", engine);
  std::printf("ratio:               %.2fx (target <= 4x)\n", engine / plain);
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(sink));
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return records == static_cast<int32_t>(count) ? 0 : 1;
}
