// Positioning in a tag: top, bottom, stepping across nodes, seeks, key
// ranges, reversed and descending tags, lookups and damaged nodes. Runs on
// the in-memory test format with nodes of three entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/support/gs6_glbl.h"
#include "support/memory_index.h"

namespace {

using Entries = std::vector<std::pair<std::string, TRecNo>>;

GSobjIndexKeyData Probe(const std::string& text, int32_t link = -1) {
  GSobjIndexKeyData e;
  e.SetText(text);
  e.SetLink(static_cast<uint32_t>(link));
  return e;
}

TgsVariant Text(const std::string& text) {
  TgsVariant v;
  v.SetText(text);
  return v;
}

std::pair<std::string, TRecNo> Current(const GSobjIndexTag& tag) {
  return {tag.CurrentKey().AsText(), tag.CurrentRecord()};
}

Entries WalkBackward(GSobjIndexTag& tag) {
  Entries out;
  for (TRecNo r = tag.MoveTo(GotoLast); r != 0; r = tag.MoveTo(GotoPrevious))
    out.push_back(Current(tag));
  return out;
}

class IndexTagTest : public ::testing::Test {
 protected:
  IndexTagTest() : owner_(nullptr), file_(&owner_, 3, true) { tag_ = file_.NewTag("T"); }

  void Insert(const std::vector<std::string>& keys) {
    for (const auto& k : keys) ASSERT_TRUE(tag_->Insert(k, ++lastRec_));
  }

  TestIndexOwner owner_;
  MemoryIndexFile file_;
  MemoryIndexTag* tag_;
  TRecNo lastRec_ = 0;
};

}  // namespace

TEST_F(IndexTagTest, EmptyTagReportsBothEndsForEveryMove) {
  for (int32_t code : {GotoFirst, GotoLast, GotoNext, GotoPrevious}) {
    if (code == GotoNext || code == GotoPrevious) tag_->MoveTo(GotoFirst);
    EXPECT_EQ(tag_->MoveTo(code), 0) << code;
    EXPECT_TRUE(tag_->AtTop()) << code;
    EXPECT_TRUE(tag_->AtEnd()) << code;
  }
  EXPECT_EQ(tag_->SeekKey(Probe("A")), 0);
  EXPECT_TRUE(tag_->AtEnd());
}

TEST_F(IndexTagTest, WalksEveryKeyInOrderAcrossLevels) {
  std::mt19937 rng(3);
  Entries expected;
  for (int i = 0; i < 80; ++i) {
    const std::string key(1, static_cast<char>('A' + rng() % 20));
    const TRecNo rec = ++lastRec_;
    ASSERT_TRUE(tag_->Insert(key, rec));
    expected.emplace_back(key, rec);
  }
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(CheckTree(file_, *tag_), "");
  EXPECT_GE(TreeDepth(file_, *tag_), 4);
  EXPECT_EQ(WalkForward(*tag_), expected);
  Entries backward = WalkBackward(*tag_);
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(backward, expected);

  // Off the end, a step back gives the last key again.
  tag_->MoveTo(GotoLast);
  EXPECT_EQ(tag_->MoveTo(GotoNext), 0);
  EXPECT_TRUE(tag_->AtEnd());
  EXPECT_EQ(tag_->MoveTo(GotoPrevious), expected.back().second);
  // Re-reading stays on the entry.
  EXPECT_EQ(tag_->MoveTo(GotoCurrent), expected.back().second);
}

TEST_F(IndexTagTest, SeekFindsFirstRecordOfKeyOrTheRecordAsked) {
  Insert({"M", "C", "M", "X", "M", "A"});  // M: records 1, 3, 5
  owner_.exact = true;
  EXPECT_EQ(tag_->SeekKey(Probe("M")), 1);
  EXPECT_EQ(tag_->SeekKey(Probe("M", 5)), 5);
  EXPECT_EQ(tag_->MoveTo(GotoNext), 4);  // X follows the last M
  EXPECT_EQ(tag_->SeekKey(Probe("M", 3)), 3);
  EXPECT_EQ(tag_->MoveTo(GotoPrevious), 1);
  // A missing key stops on the next greater one.
  EXPECT_EQ(tag_->SeekKey(Probe("D")), 0);
  EXPECT_EQ(Current(*tag_), std::make_pair(std::string("M"), TRecNo{1}));
  EXPECT_FALSE(tag_->AtTop());
  EXPECT_FALSE(tag_->AtEnd());
  // Trailing blanks of the probe do not count.
  EXPECT_EQ(tag_->SeekKey(Probe("X   ")), 4);
  // Off either end: past the last key, or stopped on the very first.
  EXPECT_EQ(tag_->SeekKey(Probe("Z")), 0);
  EXPECT_TRUE(tag_->AtEnd());
  EXPECT_EQ(tag_->MoveTo(GotoPrevious), 4);
  EXPECT_EQ(tag_->SeekKey(Probe("0")), 0);
  EXPECT_TRUE(tag_->AtTop());
  EXPECT_EQ(tag_->CurrentRecord(), 6);
}

TEST_F(IndexTagTest, SeekOfLeadingPartFollowsExactSetting) {
  Insert({"AA", "ABC", "ABD", "B"});
  owner_.exact = false;
  EXPECT_EQ(tag_->SeekKey(Probe("AB")), 2);
  owner_.exact = true;
  EXPECT_EQ(tag_->SeekKey(Probe("AB")), 0);
  EXPECT_EQ(tag_->CurrentKey().AsText(), "ABC");
}

TEST_F(IndexTagTest, RangeOfOneKeyKeepsLongerKeysOut) {
  Insert({"AB", "ABC", "ABC   ", "ABCD", "ABD", "AA", "ABC"});
  TgsVariant bound = Text("ABC");
  EXPECT_TRUE(tag_->SetRange(&bound, true, &bound, true, false));
  EXPECT_EQ(tag_->CurrentRecord(), 2);
  EXPECT_EQ(WalkForward(*tag_), (Entries{{"ABC", 2}, {"ABC", 3}, {"ABC", 7}}));
  EXPECT_EQ(WalkBackward(*tag_).size(), 3u);
  // Positioned freely while maintaining, keys are then classified against
  // the range: 2 below it, 0 inside, -1 above.
  owner_.exact = true;
  const std::pair<const char*, int> classes[] = {{"AB", 2}, {"ABC", 0}, {"ABCD", -1}};
  for (const auto& [key, expected] : classes) {
    tag_->SetUpdating(true);
    tag_->SeekKey(Probe(key));
    EXPECT_EQ(tag_->RangeTest(), 0) << "no range while maintaining";
    tag_->SetUpdating(false);
    EXPECT_EQ(tag_->RangeTest(), expected) << key;
  }
  tag_->MoveTo(GotoCurrent);
  EXPECT_EQ(tag_->CurrentRecord(), 0) << "beyond the high bound";
}

TEST_F(IndexTagTest, RangeOverNumberTexts) {
  Insert({"200", "29", "295", "3", "1"});
  TgsVariant low = Text("20"), high = Text("29");
  ASSERT_TRUE(tag_->SetRange(&low, true, &high, true, false));
  EXPECT_EQ(tag_->MoveTo(GotoFirst), 1);
  EXPECT_EQ(tag_->CurrentKey().AsText(), "200");
  EXPECT_EQ(tag_->MoveTo(GotoLast), 2);
  EXPECT_EQ(tag_->CurrentKey().AsText(), "29");
  EXPECT_EQ(WalkForward(*tag_), (Entries{{"200", 1}, {"29", 2}}));
  // A partial high bound takes the keys that begin with it.
  TgsVariant low2 = Text("21");
  ASSERT_TRUE(tag_->SetRange(&low2, true, &high, true, true));
  EXPECT_EQ(WalkForward(*tag_), (Entries{{"29", 2}, {"295", 3}}));
}

TEST_F(IndexTagTest, SetRangeReportsOnlyRealChanges) {
  Insert({"A", "B", "C", "D", "E"});
  TgsVariant low = Text("B"), high = Text("D");
  ASSERT_TRUE(tag_->SetRange(&low, true, &high, true, false));
  EXPECT_EQ(tag_->MoveTo(GotoNext), 3);
  EXPECT_FALSE(tag_->SetRange(&low, true, &high, true, false));
  EXPECT_EQ(tag_->CurrentRecord(), 3);
  // Removing the high bound is a change and goes to the new top.
  EXPECT_TRUE(tag_->SetRange(&low, true, nullptr, true, false));
  EXPECT_EQ(tag_->CurrentRecord(), 2);
  EXPECT_EQ(WalkForward(*tag_).size(), 4u);
  EXPECT_TRUE(tag_->SetRange(nullptr, true, nullptr, true, false));
  EXPECT_FALSE(tag_->HasRange());
  EXPECT_EQ(WalkForward(*tag_).size(), 5u);
}

TEST_F(IndexTagTest, ExclusiveLowBoundAndEmptyRange) {
  Insert({"A", "B", "B", "C", "D", "F"});
  TgsVariant low = Text("B"), high = Text("E");
  tag_->SetRange(&low, false, &high, true, false);
  EXPECT_EQ(WalkForward(*tag_), (Entries{{"C", 4}, {"D", 5}}));
  EXPECT_EQ(WalkBackward(*tag_), (Entries{{"D", 5}, {"C", 4}}));
  low = Text("D");
  tag_->SetRange(&low, false, &high, true, false);
  for (int32_t code : {GotoFirst, GotoLast}) {
    EXPECT_EQ(tag_->MoveTo(code), 0);
    EXPECT_TRUE(tag_->AtTop());
    EXPECT_TRUE(tag_->AtEnd());
  }
}

TEST_F(IndexTagTest, ReversedTagRunsFromThePhysicalEnd) {
  Insert({"A", "B", "C", "D", "E", "F", "G"});
  Entries stored = WalkForward(*tag_);
  std::reverse(stored.begin(), stored.end());
  tag_->SetReversed(true);
  EXPECT_EQ(WalkForward(*tag_), stored);
  EXPECT_EQ(tag_->MoveTo(GotoLast), 1);
  EXPECT_EQ(tag_->MoveTo(GotoNext), 0);
  EXPECT_TRUE(tag_->AtEnd());
  EXPECT_FALSE(tag_->AtTop());
  tag_->MoveTo(GotoFirst);
  EXPECT_EQ(tag_->MoveTo(GotoPrevious), 0);
  EXPECT_TRUE(tag_->AtTop());
  EXPECT_FALSE(tag_->AtEnd());
}

TEST_F(IndexTagTest, DescendingCompareStoresHighKeysFirst) {
  tag_->SetDescendingCompare(true);
  Insert({"B", "D", "A", "C", "E", "B"});
  ASSERT_EQ(CheckTree(file_, *tag_), "");
  EXPECT_EQ(WalkForward(*tag_), (Entries{{"E", 5}, {"D", 2}, {"C", 4}, {"B", 1}, {"B", 6}, {"A", 3}}));
  owner_.exact = true;
  EXPECT_EQ(tag_->SeekKey(Probe("C")), 4);
  EXPECT_EQ(tag_->MoveTo(GotoNext), 1);  // B, its first record
}

TEST_F(IndexTagTest, LookupKeyLeavesThePositionAlone) {
  Insert({"A", "B", "C", "D", "E", "F", "G", "H"});
  tag_->MoveTo(GotoFirst);
  tag_->MoveTo(GotoNext);
  tag_->MoveTo(GotoNext);
  ASSERT_EQ(tag_->CurrentRecord(), 3);
  EXPECT_EQ(tag_->LookupKey(Probe("G")), 7);
  EXPECT_EQ(tag_->CurrentRecord(), 3);
  EXPECT_EQ(tag_->MoveTo(GotoNext), 4);
  EXPECT_EQ(tag_->LookupKey(Probe("Q")), 0);
  EXPECT_EQ(tag_->MoveTo(GotoNext), 5);
}

TEST_F(IndexTagTest, NumericKeysAndTextBounds) {
  tag_->SetKeyType('N');
  for (double v : {0.5, -1.0, 10.0, 0.0, -20.0, 3.0}) ASSERT_TRUE(tag_->Insert(v, ++lastRec_));
  std::vector<double> order;
  for (TRecNo r = tag_->MoveTo(GotoFirst); r != 0; r = tag_->MoveTo(GotoNext))
    order.push_back(tag_->CurrentKey().AsFloat());
  EXPECT_EQ(order, (std::vector<double>{-20, -1, 0, 0.5, 3, 10}));
  TgsVariant low = Text("-1"), high = Text("3");
  ASSERT_TRUE(tag_->SetRange(&low, true, &high, true, false));
  EXPECT_EQ(tag_->CurrentKey().AsFloat(), -1.0);
  EXPECT_EQ(tag_->MoveTo(GotoLast), 6);
}

TEST_F(IndexTagTest, ComparingIncompatibleKeysRaises) {
  TgsVariant date, text = Text("A");
  date.SetDate(2450000);
  try {
    tag_->CompareKeys(text, date, -1);
    FAIL() << "no error";
  } catch (const EDeridarError& e) {
    EXPECT_STREQ(e.what(), "Variant types mismatch for compare");
  }
}

TEST_F(IndexTagTest, DamagedNodeLinksRaiseNamingTheFile) {
  Insert({"A", "B", "C", "D", "E", "F", "G", "H", "I", "J"});
  ASSERT_GE(TreeDepth(file_, *tag_), 2);
  MemoryNode& root = file_.nodes.at(tag_->RootAddress());
  // A link to a node that does not exist.
  const uint32_t saved = root.entries.front().Link();
  root.entries.front().SetLink(9999);
  try {
    tag_->MoveTo(GotoFirst);
    FAIL() << "no error";
  } catch (const EDeridarError& e) {
    EXPECT_STREQ(e.what(), "Index file MEMORY.IDX is corrupted");
  }
  // A branch that links to itself ends with the same error, not a hang.
  root.entries.front().SetLink(static_cast<uint32_t>(tag_->RootAddress()));
  EXPECT_THROW(tag_->MoveTo(GotoFirst), EDeridarError);
  root.entries.front().SetLink(saved);
  tag_->ReleasePages();
  EXPECT_EQ(tag_->MoveTo(GotoFirst), 1);
}
