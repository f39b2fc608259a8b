// Seeks within nodes large enough to be halved: the entry a seek stands on
// must be the one a scan from the node's first entry stops at, in trees
// built here (keys in order) and in nodes written by another program whose
// keys disagree with the tag's compare. Node images are kept between
// seeks, as a shared file's are, so that seeks come back to an image they
// have been in before: that is where a node is halved. Also the tag's
// byte-key compare against the value cell's general one.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/memory_index.h"

namespace {

using Entries = std::vector<std::pair<std::string, TRecNo>>;

GSobjIndexKeyData Key(const std::string& text, TRecNo link = -1) {
  GSobjIndexKeyData e;
  e.SetText(text);
  e.SetLink(static_cast<uint32_t>(link));
  e.SetRecordNumber(link);
  return e;
}

// Keys over a small alphabet that makes prefixes, duplicates, high bytes and
// bytes below the blank common.
std::string RandomKey(std::mt19937& random) {
  static const char kBytes[] = {'\x01', '\x1F', 'A', 'B', 'C', '0', '9', '\x80', '\xF0', '\xFF'};
  std::string key(1 + random() % 4, ' ');
  for (char& c : key) c = kBytes[random() % sizeof kBytes];
  return key;
}

// Where a scan of the entries, in the order given, stops for a seek: the
// first entry that does not sort before the probe, or none. A record wanted
// among equal keys passes over the others; where the file orders equal keys
// by record number, over those of lower records only.
size_t ScanStop(GSobjIndexTag& tag, const Entries& entries, const std::string& probe, int partial,
                TRecNo wanted) {
  const GSobjIndexKeyData p = Key(probe);
  const bool byRecord = tag.OwnerFile()->OrderByRecordNumber();
  for (size_t i = 0; i < entries.size(); ++i) {
    const int r = tag.CompareKeys(p, Key(entries[i].first), partial);
    if (r < 0) return i;
    if (r > 0) continue;
    const TRecNo record = entries[i].second;
    if (wanted == -1 || record == wanted || (byRecord && record > wanted)) return i;
  }
  return entries.size();
}

class IndexSeekTest : public ::testing::TestWithParam<std::tuple<bool, bool>> {
 protected:
  IndexSeekTest() : owner_(nullptr), file_(&owner_, 20, std::get<0>(GetParam())) {
    tag_ = file_.NewTag("T");
    tag_->SetDescendingCompare(std::get<1>(GetParam()));
    file_.keepImages = true;
  }

  // Seeks `probe` and checks the entry the tag then stands on against a
  // scan of the whole order.
  void ExpectSeekMatchesScan(const Entries& order, const std::string& probe, bool exact, TRecNo wanted) {
    owner_.exact = exact;
    const TRecNo found = tag_->SeekKey(Key(probe, wanted));
    const size_t stop = ScanStop(*tag_, order, probe, exact ? -1 : 0, wanted);
    const std::string what = "probe '" + probe + "' exact " + std::to_string(exact) + " record " +
                             std::to_string(wanted);
    if (stop == order.size()) {
      EXPECT_EQ(found, 0) << what;
      EXPECT_TRUE(tag_->AtEnd()) << what;
      return;
    }
    EXPECT_EQ(tag_->CurrentRecord(), order[stop].second) << what;
    const bool equal = tag_->CompareKeys(Key(probe), Key(order[stop].first), exact ? -1 : 0) == 0 &&
                       (wanted == -1 || order[stop].second == wanted);
    EXPECT_EQ(found, equal ? order[stop].second : 0) << what;
  }

  TestIndexOwner owner_;
  MemoryIndexFile file_;
  MemoryIndexTag* tag_;
};

TEST_P(IndexSeekTest, SeeksInLargeNodesStopWhereAScanStops) {
  std::mt19937 random(7);
  for (TRecNo r = 1; r <= 600; ++r) ASSERT_TRUE(tag_->Insert(RandomKey(random), r));
  ASSERT_EQ(CheckTree(file_, *tag_), "");
  ASSERT_GE(TreeDepth(file_, *tag_), 3);
  const Entries order = WalkForward(*tag_);
  ASSERT_EQ(order.size(), 600u);
  for (int i = 0; i < 150; ++i) {
    const std::string probe = RandomKey(random);
    ExpectSeekMatchesScan(order, probe, true, -1);
    ExpectSeekMatchesScan(order, probe, false, -1);
  }
  // A record wanted among equal keys: every entry is found as itself, and a
  // record that has another key is not found.
  for (int i = 0; i < 150; ++i) {
    const auto& [key, record] = order[random() % order.size()];
    ExpectSeekMatchesScan(order, key, true, record);
    EXPECT_EQ(tag_->SeekKey(Key(key, record)), record) << key;
    const TRecNo other = record % 600 + 1;
    ExpectSeekMatchesScan(order, key, true, other);
  }
}

TEST_P(IndexSeekTest, KeysOutOfOrderInANodeAreScanned) {
  // A leaf as another program sorts keys padded with blanks: a byte below
  // the blank sorts before the end of a shorter key, so "A\x01" comes before
  // "A", and "AB\x1F" before "AB", which the tag's compare of trimmed keys
  // puts the other way round. Descending, the node is read backwards.
  std::vector<std::string> padded = {"A\x01", "A\x05" "B", "A", "AB\x1F", "AB", "AC", "B\x01\x01", "B",
                                     "BA",   "BB",         "C", "CA\x02", "CA", "CB", "D\x10", "D",
                                     "DA",   "E"};
  if (std::get<1>(GetParam())) std::reverse(padded.begin(), padded.end());
  MemoryNode leaf;
  Entries order;
  for (size_t i = 0; i < padded.size(); ++i) {
    const TRecNo record = static_cast<TRecNo>(i + 1);
    leaf.entries.push_back(Key(padded[i], record));
    order.emplace_back(padded[i], record);
  }
  file_.nodes[tag_->RootAddress()] = leaf;
  ++file_.outsideChanges;
  tag_->ResetPages(GSobjIndexTag::kResetPlain);
  // Twice each: the node is checked for order from the second seek on.
  for (int pass = 0; pass < 2; ++pass)
    for (const char* probe : {"A", "AB", "AB\x1F", "B", "B\x01", "BA", "C", "CA", "D", "DA", "E", "F",
                                     "\x01", "A\x02", "CB"}) {
      ExpectSeekMatchesScan(order, probe, true, -1);
      ExpectSeekMatchesScan(order, probe, false, -1);
    }
  for (const auto& [key, record] : order) ExpectSeekMatchesScan(order, key, true, record);
  // Stepping still reads the node as it stands.
  EXPECT_EQ(WalkForward(*tag_), order);
}

INSTANTIATE_TEST_SUITE_P(OrderAndDirection, IndexSeekTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

TEST(IndexKeyCompare, ByteKeysCompareAsValueCellsDo) {
  TestIndexOwner owner(nullptr);
  MemoryIndexFile file(&owner, 4, false);
  MemoryIndexTag* tag = file.NewTag("T");
  std::mt19937 random(11);
  for (int i = 0; i < 3000; ++i) {
    TgsVariant a, b;
    const std::string x = RandomKey(random), y = random() % 4 == 0 ? x.substr(0, random() % 5) : RandomKey(random);
    if (random() % 3 == 0)
      a.SetBinary(x.data(), x.size());
    else
      a.SetText(x);
    if (random() % 3 == 0)
      b.SetBinary(y.data(), y.size());
    else
      b.SetText(y);
    for (int partial : {-1, 0, 1}) {
      int position = 0;
      const int expected = a.Compare(&b, position, nullptr, partial);
      int matched = -1;
      EXPECT_EQ(tag->CompareKeys(a, b, partial, &matched), expected) << x << " / " << y;
      EXPECT_EQ(matched, position > 0 ? position - 1 : 0) << x << " / " << y;
    }
  }
  tag->SetDescendingCompare(true);
  EXPECT_EQ(tag->CompareKeys(Key("AB"), Key("AC"), -1), 1);
  EXPECT_EQ(tag->CompareKeys(Key("\x80"), Key("\x7F"), -1), -1);
}

}  // namespace
