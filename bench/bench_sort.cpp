// Index build sorter against std::sort: adds and drains 1,000,000 seven-byte
// character keys (telephone numbers) with record numbers, and sorts the same
// (key, record number) pairs with std::sort in the same run.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/index/gs6_sort.h"
#include "engine/support/gs6_tool.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int> digit('0', '9');
  std::vector<std::string> keys(count, std::string(7, '0'));
  for (auto& k : keys)
    for (char& c : k) c = static_cast<char>(digit(rng));

  // The sorter, through its variant interface as the index builders use it.
  auto start = Clock::now();
  uint64_t checksum = 0;
  int runs = 0;
  {
    TgsSort sort(8, true, false);
    TgsVariant key;
    for (int i = 0; i < count; ++i) {
      key.SetText(keys[i]);
      sort.Add(key, i + 1);
    }
    TRecNo rec;
    while (sort.Next(key, rec)) checksum = checksum * 1000003 + static_cast<uint64_t>(rec) + key.Data()[6];
    runs = sort.RunCount();
  }
  const double sorter = Seconds(start);

  // std::sort of (text, record number) pairs.
  start = Clock::now();
  uint64_t checksumStd = 0;
  {
    std::vector<std::pair<std::string, TRecNo>> pairs;
    pairs.reserve(count);
    for (int i = 0; i < count; ++i) pairs.emplace_back(keys[i], i + 1);
    std::sort(pairs.begin(), pairs.end());
    for (const auto& p : pairs) checksumStd = checksumStd * 1000003 + static_cast<uint64_t>(p.second) + static_cast<uint8_t>(p.first[6]);
  }
  const double stdSort = Seconds(start);

  // std::sort of fixed-size byte arrays with the record number: the
  // cheapest form a hand-written build could use.
  start = Clock::now();
  {
    std::vector<std::pair<std::array<char, 7>, TRecNo>> pairs(count);
    for (int i = 0; i < count; ++i) {
      std::copy_n(keys[i].data(), 7, pairs[i].first.begin());
      pairs[i].second = i + 1;
    }
    std::sort(pairs.begin(), pairs.end());
  }
  const double stdArray = Seconds(start);

  std::printf("keys                      %d\n", count);
  std::printf("runs                      %d\n", runs);
  std::printf("TgsSort add+drain         %.3f s\n", sorter);
  std::printf("std::sort string pairs    %.3f s\n", stdSort);
  std::printf("std::sort array pairs     %.3f s\n", stdArray);
  std::printf("ratio to string pairs     %.2f\n", sorter / stdSort);
  std::printf("ratio to array pairs      %.2f\n", sorter / stdArray);
  if (checksum != checksumStd) {
    std::printf("MISMATCH: the two orders differ\n");
    return 1;
  }
  return 0;
}
