// mkphone: writes a deterministic telephone directory table.
//
//   mkphone PATH N [--seed S]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/mkphone/phonegen.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: mkphone PATH N [--seed S]\n");
  return 2;
}

bool ParseNumber(const char* text, unsigned long long max, unsigned long long& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (*end != '\0' || text[0] == '-' || v > max) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) return Usage();
  unsigned long long count = 0, seed = 1;
  // At most eight million records: every number of the range once.
  if (!ParseNumber(argv[2], 8000000, count)) return Usage();
  if (argc == 5) {
    if (std::string(argv[3]) != "--seed" || !ParseNumber(argv[4], ~0ull, seed)) return Usage();
  }
  if (!phonegen::WritePhoneDbf(argv[1], static_cast<uint32_t>(count), seed)) {
    std::fprintf(stderr, "mkphone: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
