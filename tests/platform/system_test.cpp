// Giving freed heap memory back to the system: a long-running program's
// resident size falls once the memory of a burst of allocations is freed
// and released.
#include "platform/system.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

namespace {

// The process's resident size in kB, from /proc/self/status; -1 when unknown.
long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kb = -1;
      status >> kb;
      return kb;
    }
    status.ignore(1 << 12, '\n');
  }
  return -1;
}

}  // namespace

TEST(PlatformSystem, FreedHeapPagesGoBackToTheSystemWhenReleased) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's allocator keeps freed memory in quarantine";
#endif
  if (ResidentKb() < 0) GTEST_SKIP() << "no resident size to read";
  // 32 MB in blocks that the heap serves (not separate mappings), written
  // so that they are resident, and a small block above them that keeps the
  // heap from shrinking by itself when they are freed.
  constexpr size_t kBlock = 64 * 1024;
  constexpr int kBlocks = 512;
  std::vector<std::unique_ptr<char[]>> blocks;
  for (int i = 0; i < kBlocks; ++i) {
    blocks.emplace_back(new char[kBlock]);
    std::memset(blocks.back().get(), i & 0x7F, kBlock);
    asm volatile("" : : "r"(blocks.back().get()) : "memory");
  }
  auto top = std::make_unique<char[]>(64);
  asm volatile("" : : "r"(top.get()) : "memory");
  blocks.clear();
  const long freed = ResidentKb();
  platform::ReleaseFreeMemory();
  const long released = ResidentKb();
  EXPECT_GT(freed - released, 16 * 1024) << "resident " << freed << " kB before, " << released << " kB after";
}
