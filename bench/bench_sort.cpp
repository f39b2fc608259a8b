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

// The sorter, through its variant interface as the index builders use it.
double TimeSorter(const std::vector<std::string>& keys, uint64_t& checksum, int& runs) {
  const auto start = Clock::now();
  TgsSort sort(8, true, false);
  TgsVariant key;
  for (size_t i = 0; i < keys.size(); ++i) {
    key.SetText(keys[i]);
    sort.Add(key, static_cast<TRecNo>(i + 1));
  }
  TRecNo rec;
  checksum = 0;
  while (sort.Next(key, rec)) checksum = checksum * 1000003 + static_cast<uint64_t>(rec) + key.Data()[6];
  runs = sort.RunCount();
  return Seconds(start);
}

// std::sort of (text, record number) pairs.
double TimeStringPairs(const std::vector<std::string>& keys, uint64_t& checksum) {
  const auto start = Clock::now();
  std::vector<std::pair<std::string, TRecNo>> pairs;
  pairs.reserve(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) pairs.emplace_back(keys[i], static_cast<TRecNo>(i + 1));
  std::sort(pairs.begin(), pairs.end());
  checksum = 0;
  for (const auto& p : pairs)
    checksum = checksum * 1000003 + static_cast<uint64_t>(p.second) + static_cast<uint8_t>(p.first[6]);
  return Seconds(start);
}

// std::sort of fixed-size byte arrays with the record number: the cheapest
// form a hand-written build could use.
double TimeArrayPairs(const std::vector<std::string>& keys) {
  const auto start = Clock::now();
  std::vector<std::pair<std::array<char, 7>, TRecNo>> pairs(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    std::copy_n(keys[i].data(), 7, pairs[i].first.begin());
    pairs[i].second = static_cast<TRecNo>(i + 1);
  }
  std::sort(pairs.begin(), pairs.end());
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int> digit('0', '9');
  std::vector<std::string> keys(count, std::string(7, '0'));
  for (auto& k : keys)
    for (char& c : k) c = static_cast<char>(digit(rng));

  // Each contender runs three times and its best time counts, which keeps
  // the ratio steady on a busy machine.
  double sorter = 1e9, stdSort = 1e9, stdArray = 1e9;
  uint64_t checksum = 0, checksumStd = 0;
  int runs = 0;
  for (int round = 0; round < 3; ++round) {
    sorter = std::min(sorter, TimeSorter(keys, checksum, runs));
    stdSort = std::min(stdSort, TimeStringPairs(keys, checksumStd));
    stdArray = std::min(stdArray, TimeArrayPairs(keys));
  }

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
