// The index build sorter: order by key then record number, unique output,
// descending sorters, numbers and dates, keys that fill several runs, and
// the errors it raises.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/index/gs6_sort.h"
#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"
#include "support/error_text.h"

namespace {

struct Out {
  std::string text;
  double number = 0;
  TRecNo rec = 0;
};

// Drains a sorter through the variant interface, keeping text and floats.
std::vector<Out> Drain(TgsSort& sort) {
  std::vector<Out> out;
  TgsVariant key;
  TRecNo rec = 0;
  while (sort.Next(key, rec)) {
    Out o;
    o.rec = rec;
    if (key.Tag() == TgsVariant::kFloat)
      o.number = key.AsFloat();
    else
      o.text.assign(reinterpret_cast<const char*>(key.Data()), key.IsEmpty() ? 0 : key.Length());
    out.push_back(o);
  }
  return out;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Random text keys over a small alphabet with shared prefixes, blanks and
// bytes 0x00 and 0x01, so that prefixes, trailing blanks and escaped bytes
// all occur.
std::string RandomText(std::mt19937& rng, int maxLength) {
  static const char kAlphabet[] = {'A', 'B', 'C', ' ', '\0', '\1', '\xFF', 'z'};
  std::uniform_int_distribution<int> len(0, maxLength);
  std::uniform_int_distribution<int> pick(0, 7);
  std::string s(len(rng), 'A');
  for (char& c : s) c = kAlphabet[pick(rng)];
  return s;
}

double RandomNumber(std::mt19937& rng) {
  std::uniform_int_distribution<int> kind(0, 5);
  std::uniform_int_distribution<int> small(-50, 50);
  std::uniform_real_distribution<double> wide(-1e6, 1e6);
  switch (kind(rng)) {
    case 0: return small(rng);
    case 1: return small(rng) / 4.0;
    case 2: return wide(rng);
    case 3: return std::nextafter(static_cast<double>(small(rng)), 1e9);
    case 4: return std::nextafter(static_cast<double>(small(rng)), -1e9);
    default: return -0.0 * small(rng);
  }
}

}  // namespace

TEST(TgsSort, NegativeNumberWithZeroLowBytesSortsAfterSmallerNeighbour) {
  // -1.0 ends in zero bytes; its neighbour just below does not. With large
  // record numbers a shortened form would let the record number decide.
  // The extremes of the range sort at the ends.
  const std::vector<double> sorted = {-1e300, std::nextafter(-1.0, -2.0), -1.0, 1.0, std::nextafter(1.0, 2.0), 1e300};
  TgsSort sort(8, true, false);
  for (double v : {1e300, -1.0, 1.0, -1e300}) sort.AddFloat(v, 0x00FFFFFF);
  sort.AddFloat(std::nextafter(-1.0, -2.0), 1);
  sort.AddFloat(std::nextafter(1.0, 2.0), 1);
  std::vector<double> got;
  for (const Out& o : Drain(sort)) got.push_back(o.number);
  EXPECT_EQ(got, sorted);
}

TEST(TgsSort, NegativeZeroIsZero) {
  TgsSort sort(8, true, true);
  sort.AddFloat(-0.0, 1);
  sort.AddFloat(0.0, 2);
  auto out = Drain(sort);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].rec, 1);
  EXPECT_FALSE(std::signbit(out[0].number));
}

TEST(TgsSort, DatesSortByDayNumber) {
  TgsSort sort(4, true, false);
  const std::vector<int32_t> days = {2460000, 0, 2415019, -5, 2444240};
  for (size_t i = 0; i < days.size(); ++i) {
    TgsVariant v;
    v.SetDate(days[i]);
    sort.Add(v, static_cast<TRecNo>(i + 1));
  }
  TgsVariant key;
  TRecNo rec;
  std::vector<int32_t> got;
  while (sort.Next(key, rec)) {
    EXPECT_EQ(key.Tag(), TgsVariant::kDate);
    got.push_back(key.AsDate());
  }
  std::vector<int32_t> expected = days;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(got, expected);
}

TEST(TgsSort, KeysWithLowBytesSortBeforeTheirExtensions) {
  // Stored keys are followed by their record number; bytes 0x00 and 0x01
  // inside keys must not be confused with it, whatever the record number.
  const std::vector<std::string> keys = {std::string("AB"), std::string("AB\0", 3),
                                         std::string("AB\0\1", 4), std::string("AB\1", 3),
                                         std::string("AB\1\0", 4), std::string("AB\2", 3)};
  for (TRecNo big : {TRecNo{70000}, TRecNo{0x01000000}, std::numeric_limits<TRecNo>::max()}) {
    TgsSort sort(10, true, false);
    for (size_t i = keys.size(); i-- > 0;) sort.AddBinary(keys[i], big - static_cast<TRecNo>(i));
    auto out = Drain(sort);
    ASSERT_EQ(out.size(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
      EXPECT_EQ(out[i].text, keys[i]) << "record base " << big << " at " << i;
      EXPECT_EQ(out[i].rec, big - static_cast<TRecNo>(i));
    }
  }
}

TEST(TgsSort, PairAddedTwiceComesOutOnce) {
  TgsSort sort(10, true, false);
  sort.AddText("X", 5);
  sort.AddText("X", 5);
  sort.AddText("X", 6);
  auto out = Drain(sort);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].rec, 5);
  EXPECT_EQ(out[1].rec, 6);
}

TEST(TgsSort, EmptySorterAndItsMessages) {
  EXPECT_EQ(ErrorOf([] { TgsSort s(252, true, false); }),
            "Sort key length must be 1-251 bytes, is 252");
  EXPECT_EQ(ErrorOf([] { TgsSort s(0, true, false); }),
            "Sort key length must be 1-251 bytes, is 0");
  TgsSort sort(4, true, false);
  TgsVariant key;
  TRecNo rec = 7;
  EXPECT_EQ(ErrorOf([&] { sort.AddFloat(1.0, 1); }), "Sort key length must be 1-4 bytes, is 8");
  key.SetBoolean(true);
  EXPECT_EQ(ErrorOf([&] { sort.Add(key, 1); }), "Variant type cannot be sorted");
  sort.AddText("AB", 1);
  ASSERT_TRUE(sort.Next(key, rec));
  EXPECT_EQ(ErrorOf([&] { sort.AddText("C", 2); }),
            "Cannot add sort keys after beginning retrieval");
  TgsSort empty(4, true, false);
  EXPECT_FALSE(empty.Next(key, rec));
}

TEST(TgsSort, LongestKeysOfLowBytesSurviveRunDumps) {
  // 251 bytes of 0x00 and 0x01 escape to 502 stored bytes: the largest
  // records a run holds, and a few thousand of them fill the key area
  // several times over.
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> bit(0, 1);
  TgsSort sort(251, true, false);
  std::vector<std::pair<std::string, TRecNo>> ref;
  for (int i = 1; i <= 8000; ++i) {
    std::string key(251, '\0');
    for (char& c : key) c = static_cast<char>(bit(rng));
    sort.AddBinary(key, i);
    ref.emplace_back(key, i);
  }
  std::sort(ref.begin(), ref.end());
  auto out = Drain(sort);
  EXPECT_GT(sort.RunCount(), 2);
  ASSERT_EQ(out.size(), ref.size());
  for (size_t i = 0; i < ref.size(); ++i) {
    ASSERT_EQ(out[i].text, ref[i].first) << i;
    ASSERT_EQ(out[i].rec, ref[i].second) << i;
  }
}

TEST(TgsSort, LongSharedPrefixesAndTypeChangesSurviveRunDumps) {
  // Neighbouring keys share 200 bytes and text and binary keys alternate:
  // run records with long shared counts and a type change at nearly every
  // record, over several runs.
  std::mt19937 rng(9);
  TgsSort sort(251, true, false);
  std::vector<std::tuple<std::string, TRecNo, TgsSortType>> ref;
  for (int i = 1; i <= 12000; ++i) {
    std::string key = std::string(200, 'K') + RandomText(rng, 51);
    if (i % 2) {
      sort.AddText(key, i);
      ref.emplace_back(TrimRight(key), i, TgsSortType::Text);
    } else {
      sort.AddBinary(key, i);
      ref.emplace_back(key, i, TgsSortType::Binary);
    }
  }
  std::sort(ref.begin(), ref.end());
  TgsSortType type;
  std::string_view key;
  TRecNo rec;
  size_t i = 0;
  while (sort.NextKey(type, key, rec)) {
    ASSERT_LT(i, ref.size());
    ASSERT_EQ(std::string(key), std::get<0>(ref[i])) << i;
    ASSERT_EQ(rec, std::get<1>(ref[i])) << i;
    ASSERT_EQ(type, std::get<2>(ref[i])) << i;
    ++i;
  }
  EXPECT_EQ(i, ref.size());
  EXPECT_GT(sort.RunCount(), 2);
}

// Randomised comparison with std::sort over many keys and several runs.
struct RandomCase {
  bool ascending;
  bool unique;
};

class TgsSortRandom : public ::testing::TestWithParam<RandomCase> {};

TEST_P(TgsSortRandom, TextMatchesStdSort) {
  const RandomCase c = GetParam();
  std::mt19937 rng(c.ascending * 2 + c.unique + 11);
  TgsSort sort(12, c.ascending, c.unique);
  std::vector<std::pair<std::string, TRecNo>> ref;
  std::uniform_int_distribution<int> recs(1, 0x7FFFFFFF);
  const int n = 150000;
  for (int i = 0; i < n; ++i) {
    std::string key = RandomText(rng, 12);
    TRecNo rec = i % 3 == 0 ? recs(rng) : i + 1;
    sort.AddText(key, rec);
    ref.emplace_back(TrimRight(key), rec);
  }
  std::sort(ref.begin(), ref.end());
  ref.erase(std::unique(ref.begin(), ref.end()), ref.end());
  if (!c.ascending) std::reverse(ref.begin(), ref.end());
  if (c.unique)
    ref.erase(std::unique(ref.begin(), ref.end(),
                          [](const auto& a, const auto& b) { return a.first == b.first; }),
              ref.end());
  auto out = Drain(sort);
  EXPECT_GT(sort.RunCount(), 2);
  ASSERT_EQ(out.size(), ref.size());
  for (size_t i = 0; i < ref.size(); ++i) {
    ASSERT_EQ(out[i].text, ref[i].first) << i;
    ASSERT_EQ(out[i].rec, ref[i].second) << i;
  }
}

TEST_P(TgsSortRandom, NumbersMatchStdSort) {
  const RandomCase c = GetParam();
  std::mt19937 rng(c.ascending * 2 + c.unique + 101);
  TgsSort sort(8, c.ascending, c.unique);
  std::vector<std::pair<double, TRecNo>> ref;
  const int n = 150000;
  for (int i = 0; i < n; ++i) {
    const double v = RandomNumber(rng);
    const TRecNo rec = (i * 7919) % n + 1 + (i % 5 == 0 ? 0x01000000 : 0);
    sort.AddFloat(v, rec);
    ref.emplace_back(v == 0 ? 0.0 : v, rec);
  }
  std::sort(ref.begin(), ref.end());
  if (!c.ascending) std::reverse(ref.begin(), ref.end());
  if (c.unique)
    ref.erase(std::unique(ref.begin(), ref.end(),
                          [](const auto& a, const auto& b) { return a.first == b.first; }),
              ref.end());
  auto out = Drain(sort);
  EXPECT_GT(sort.RunCount(), 1);
  ASSERT_EQ(out.size(), ref.size());
  for (size_t i = 0; i < ref.size(); ++i) {
    ASSERT_EQ(out[i].number, ref[i].first) << i;
    ASSERT_EQ(out[i].rec, ref[i].second) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(AllModes, TgsSortRandom,
                         ::testing::Values(RandomCase{true, false}, RandomCase{true, true},
                                           RandomCase{false, false}, RandomCase{false, true}),
                         [](const auto& info) {
                           return std::string(info.param.ascending ? "Ascending" : "Descending") +
                                  (info.param.unique ? "Unique" : "All");
                         });
