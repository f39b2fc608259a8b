// Bottom-up CDX build into an in-memory file, checked by walking the tree;
// builds over a table file checked against the table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/index/gs6_cdx.h"
#include "engine/index/gs6_cdx_build.h"
#include "engine/table/gs6_dbsy.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"

using namespace cdx;

namespace {

// A file of 512-byte blocks in memory; allocation appends.
class MemoryTarget : public CdxBuildTarget {
 public:
  explicit MemoryTarget(KeyFormat fmt) : fmt_(fmt), bytes_(kNewFileSize, 0) {}
  KeyFormat BuildKeyFormat() const override { return fmt_; }
  int32_t AllocateNode() override {
    int32_t a = static_cast<int32_t>(bytes_.size());
    bytes_.resize(bytes_.size() + kBlockSize, 0);
    return a;
  }
  void WriteNode(int32_t address, const uint8_t* node) override {
    ASSERT_LE(static_cast<size_t>(address) + kBlockSize, bytes_.size());
    std::memcpy(bytes_.data() + address, node, kBlockSize);
    ++writes_[address];
  }
  void SetBuiltRoot(int32_t address) override { root_ = address; }

  TreeReport Walk() const {
    TreeReport r;
    WalkTree(
        [this](int32_t a, uint8_t* node) {
          if (a < 0 || static_cast<size_t>(a) + kBlockSize > bytes_.size()) return false;
          std::memcpy(node, bytes_.data() + a, kBlockSize);
          return true;
        },
        static_cast<int64_t>(bytes_.size()), root_, fmt_, r);
    return r;
  }
  int32_t Root() const { return root_; }
  const std::map<int32_t, int>& Writes() const { return writes_; }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  KeyFormat fmt_;
  std::vector<uint8_t> bytes_;
  int32_t root_ = 0;
  std::map<int32_t, int> writes_;
};

struct Key {
  std::string key;
  int32_t rec;
};

std::vector<Key> RandomKeys(int count, int len, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<Key> v;
  for (int i = 1; i <= count; ++i) {
    std::string k;
    int n = 1 + static_cast<int>(rng() % len);
    for (int j = 0; j < n; ++j) k += static_cast<char>('0' + rng() % 10);
    v.push_back({k, i});
  }
  return v;
}

void ExpectEntries(const TreeReport& r, std::vector<Key> expected) {
  std::sort(expected.begin(), expected.end(),
            [](const Key& a, const Key& b) { return std::tie(a.key, a.rec) < std::tie(b.key, b.rec); });
  ASSERT_EQ(r.entries.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(r.entries[i].key, expected[i].key) << i;
    ASSERT_EQ(r.entries[i].recordNumber, static_cast<uint32_t>(expected[i].rec)) << i;
  }
}

// Entry counts of the leaves from left to right, found by going down the
// first children and then along the right links.
std::vector<int> LeafCounts(MemoryTarget& t) {
  const int keyLength = t.BuildKeyFormat().keyLength;
  const uint8_t* node = t.Bytes().data() + t.Root();
  while ((GetLE16(node) & kAttrLeaf) == 0) node = t.Bytes().data() + GetBE32(node + 12 + keyLength + 4);
  std::vector<int> counts;
  for (;;) {
    counts.push_back(GetLE16(node + 2));
    const int32_t right = static_cast<int32_t>(GetLE32(node + 8));
    if (right == -1) return counts;
    node = t.Bytes().data() + right;
  }
}

// Entry counts of leaves that each take the sorted keys until the next one
// does not fit.
std::vector<int> PackedCounts(std::vector<Key> keys, const KeyFormat& fmt, int32_t records) {
  std::sort(keys.begin(), keys.end(),
            [](const Key& a, const Key& b) { return std::tie(a.key, a.rec) < std::tie(b.key, b.rec); });
  uint8_t node[kBlockSize];
  LeafWriter w(node, fmt, ComputeLeafParams(fmt.keyLength, static_cast<uint32_t>(records)));
  w.Clear();
  std::vector<int> counts;
  for (const Key& k : keys) {
    if (w.Add(k.key, static_cast<uint32_t>(k.rec))) continue;
    counts.push_back(w.Count());
    w.Clear();
    w.Add(k.key, static_cast<uint32_t>(k.rec));
  }
  counts.push_back(w.Count());
  return counts;
}

}  // namespace

TEST(CdxBuild, NoKeysGivesEmptyRootLeaf) {
  MemoryTarget t({7, true, false});
  GSobjSortCDX b(t, false, 10);
  b.Drain();
  EXPECT_EQ(t.Root(), kNewFileSize);
  const uint8_t* node = t.Bytes().data() + t.Root();
  EXPECT_EQ(GetLE16(node), 3);
  EXPECT_EQ(GetLE16(node + 2), 0);
  EXPECT_EQ(static_cast<int32_t>(GetLE32(node + 4)), -1);
  EXPECT_EQ(static_cast<int32_t>(GetLE32(node + 8)), -1);
  EXPECT_EQ(GetLE16(node + 12), 488);
  EXPECT_TRUE(t.Walk().problems.empty());
}

TEST(CdxBuild, ManyKeysMakeSoundMultiLevelTree) {
  KeyFormat fmt{7, true, false};
  MemoryTarget t(fmt);
  auto keys = RandomKeys(60000, 7, 1);
  GSobjSortCDX b(t, false, 60000);
  for (auto& k : keys) b.AddKey(k.key, false, k.rec);
  int32_t lastProgress = 0;
  b.Drain([&](int32_t n) { lastProgress = n; });
  EXPECT_EQ(lastProgress, 60000);
  TreeReport r = t.Walk();
  EXPECT_TRUE(r.problems.empty()) << r.problems.front();
  EXPECT_GE(r.levels, 3);
  ExpectEntries(r, keys);
  for (auto& [address, n] : t.Writes()) EXPECT_EQ(n, 1) << "node " << address << " written once";
}

// A built leaf takes keys for as long as they fit: with keys of 210 bytes a
// leaf once closed after its first entry, doubling the file.
TEST(CdxBuild, LeavesAreFilledToCapacityWhateverTheKeyLength) {
  for (int keyLength : {7, 35, 210}) {
    SCOPED_TRACE(keyLength);
    KeyFormat fmt{keyLength, true, false};
    MemoryTarget t(fmt);
    const int count = keyLength > 100 ? 600 : 3000;
    auto keys = RandomKeys(count, keyLength, 3);
    GSobjSortCDX b(t, false, count);
    for (auto& k : keys) b.AddKey(k.key, false, k.rec);
    b.Drain();
    TreeReport r = t.Walk();
    ASSERT_TRUE(r.problems.empty()) << r.problems.front();
    ExpectEntries(r, keys);
    EXPECT_EQ(LeafCounts(t), PackedCounts(keys, fmt, count));
  }
}

TEST(CdxBuild, LastLeafEndsTheChainWhenKeysAreFewerThanRecords) {
  // A FOR condition or a unique tag leaves fewer keys than table records.
  KeyFormat fmt{7, true, false};
  for (bool unique : {false, true}) {
    MemoryTarget t(fmt);
    std::vector<Key> keys;
    for (int i = 1; i <= 3000; ++i) keys.push_back({std::to_string(1000000 + i % 1500), i});
    GSobjSortCDX b(t, unique, 9000);
    for (auto& k : keys) b.AddKey(k.key, false, k.rec);
    b.Drain();
    TreeReport r = t.Walk();
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    if (unique) {
      keys.erase(std::remove_if(keys.begin(), keys.end(), [](const Key& k) { return k.rec > 1500; }),
                 keys.end());
    }
    ExpectEntries(r, keys);
    // Nothing allocated beyond what was written.
    EXPECT_EQ(t.Writes().size(), (t.Bytes().size() - kNewFileSize) / kBlockSize);
  }
}

TEST(CdxBuild, NumericKeysInNumericOrder) {
  KeyFormat fmt{8, false, false};
  MemoryTarget t(fmt);
  std::vector<double> values;
  std::mt19937 rng(5);
  for (int i = 0; i < 20000; ++i) values.push_back((static_cast<int>(rng() % 200001) - 100000) / 8.0);
  GSobjSortCDX b(t, false, 20000);
  for (size_t i = 0; i < values.size(); ++i)
    b.AddKey(NumericKey(values[i]), true, static_cast<TRecNo>(i + 1));
  b.Drain();
  TreeReport r = t.Walk();
  ASSERT_TRUE(r.problems.empty()) << r.problems.front();
  ASSERT_EQ(r.entries.size(), values.size());
  std::vector<double> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  for (size_t i = 0; i < sorted.size(); ++i) ASSERT_EQ(NumericKeyValue(r.entries[i].key), sorted[i]);
}

TEST(CdxBuild, GeneralKeysRoundTrip) {
  KeyFormat fmt{14, true, true};
  MemoryTarget t(fmt);
  std::vector<Key> keys;
  const char* words[] = {"M\xC4USE", "Maus", "MASSE", "ma\xDF" "e", "\xC6RA", "AERO", "abc", "ABC"};
  int rec = 0;
  for (int rep = 0; rep < 400; ++rep)
    for (const char* w : words) {
      std::string k = GeneralKey(w);
      k.resize(std::min<size_t>(k.size(), 14));
      keys.push_back({k, ++rec});
    }
  GSobjSortCDX b(t, false, rec);
  for (auto& k : keys) b.AddKey(k.key, false, k.rec);
  b.Drain();
  TreeReport r = t.Walk();
  ASSERT_TRUE(r.problems.empty()) << r.problems.front();
  ExpectEntries(r, keys);
}

TEST(CdxWalk, ReportsCyclesAndBrokenLinks) {
  KeyFormat fmt{7, true, false};
  MemoryTarget t(fmt);
  auto keys = RandomKeys(5000, 7, 2);
  GSobjSortCDX b(t, false, 5000);
  for (auto& k : keys) b.AddKey(k.key, false, k.rec);
  b.Drain();
  ASSERT_TRUE(t.Walk().problems.empty());
  uint8_t* root = t.Bytes().data() + t.Root();
  ASSERT_EQ(GetLE16(root) & kAttrLeaf, 0);

  // A branch entry pointing back at the root.
  std::vector<uint8_t> saved = t.Bytes();
  PutBE32(root + 12 + 7 + 4, static_cast<uint32_t>(t.Root()));
  TreeReport r = t.Walk();
  EXPECT_FALSE(r.problems.empty());

  // A broken right link between two leaves.
  t.Bytes() = saved;
  uint32_t firstChild = GetBE32(t.Bytes().data() + t.Root() + 12 + 7 + 4);
  PutLE32(t.Bytes().data() + firstChild + 8, 0xFFFFFFFF);
  r = t.Walk();
  ASSERT_FALSE(r.problems.empty());
}

// The table handler's field variables read the record in place, so a build
// decides a FOR condition comparing a number field with a number on the
// field's bytes and takes a character field key straight from the record.
// Whatever the texts hold (blanks, signs, points, text that is no plain
// number), each tag must hold exactly the entries the general evaluation
// gives, which is what the check compares against.
TEST(CdxTableBuild, RecordShortcutsAgreeWithGeneralEvaluation) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NAME", 'C', 12}, {"CODE", 'N', 5, 1}};
  const char* codes[] = {"1",     "1.0",   "1    ", "  -1 ", "     ", "1.5  ",
                         "+1   ", "0001.", "-0.0 ", "2",     "10"};
  const char* names[] = {"", "A", "A  B", "ZZZ", "a", "ZZZ  Z", "A B", "  lead"};
  std::mt19937 rng(17);
  for (int i = 0; i < 700; ++i)
    l.rows.push_back({{names[rng() % std::size(names)], codes[rng() % std::size(codes)]}});
  WriteDbf(dir.File("T.DBF"), l);
  GSO_dBHandler table(dir.File("T.DBF"), "", false, true);
  table.OpenTable();
  const char* conditions[] = {"CODE=1", "CODE>0", "CODE#1", "CODE<=1.5", "code >= -1", "CODE<1"};
  for (const char* key : {"NAME", "CODE"}) {
    for (const char* condition : conditions) {
      GSobjCDXFile f(&table, dir.File("T.CDX"), true, true, true, false);
      ASSERT_TRUE(f.AddTag("T", key, false, true, condition)) << key << " FOR " << condition;
      TreeReport r;
      f.CheckTag(*static_cast<GSobjCDXTag*>(f.FindTag("T")), r, true);
      EXPECT_TRUE(r.problems.empty()) << key << " FOR " << condition << ": " << r.problems.front();
      EXPECT_FALSE(r.entries.empty()) << key << " FOR " << condition;
    }
  }
}
