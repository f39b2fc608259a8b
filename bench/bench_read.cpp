// Reading every record of a 1,000,000-record PHONE.DBF in record order with
// ReadRecord(GotoNext), against a plain sequential read() of the same file
// in the same run. Prints both times and their ratio (target: within 4x).
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "tools/mkphone/phonegen.h"

namespace {

using bench::Clock;
using bench::Seconds;

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

}  // namespace

int main(int argc, char** argv) {
  uint32_t count = argc > 1 ? static_cast<uint32_t>(std::atol(argv[1])) : 1000000;
  const bench::PhoneFolder dir(count, "deridar-bench");
  const std::string path = dir.Table();

  uint64_t sink = 0;
  int64_t records = 0;
  double plain = 1e9, engine = 1e9;
  PlainRead(path, sink);  // warm the page cache
  for (int round = 0; round < 5; ++round) {
    plain = std::min(plain, PlainRead(path, sink));
    engine = std::min(engine, bench::EngineRead(path, sink, records));
  }
  std::printf("records read:        %lld\n", static_cast<long long>(records));
  std::printf("plain read():        %.4f s\n", plain);
  std::printf("ReadRecord(GotoNext): %.4f s\n", engine);
  std::printf("ratio:               %.2fx (target <= 4x)\n", engine / plain);
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(sink));
  return records == static_cast<int64_t>(count) ? 0 : 1;
}
