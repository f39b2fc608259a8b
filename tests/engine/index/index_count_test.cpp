// Counting the entries of a whole tag: CDX sums its leaf headers, the other
// formats walk their keys. Both must give what a key-by-key walk gives,
// across builds, splits from later changes, FOR conditions and ranges, and
// a damaged leaf level must be refused naming the file. A CDX tag also
// counts its range and names the record of every step-th entry, as the
// walk through the range meets them, in either direction.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/index/gs6_cdx.h"
#include "engine/index/gs6_ntx.h"
#include "support/cdx_table.h"
#include "support/dbf_writer.h"
#include "support/error_text.h"
#include "support/temp_dir.h"

using namespace cdx;

namespace {

// Rows with random 30-byte names (long keys, few per leaf: a deep tree), a
// category 1..3 and every 13th row deleted.
DbfLayout NamedRows(int rows, std::mt19937& rng) {
  DbfLayout l;
  l.fields = {{"NAME", 'C', 30}, {"TIP", 'N', 1}};
  for (int i = 0; i < rows; ++i) {
    std::string name;
    for (int j = 0; j < 30; ++j) name += static_cast<char>('A' + rng() % 26);
    DbfRow row{{name, std::to_string(1 + rng() % 3)}};
    row.deleted = i % 13 == 0;
    l.rows.push_back(row);
  }
  return l;
}

// Entries of the tag counted one by one, moving through the whole order.
int64_t WalkedKeys(GSobjIndexTag& tag) {
  tag.ResetPages(GSobjIndexTag::kResetRootOnly);
  int64_t n = 0;
  for (TRecNo r = tag.MoveTo(GotoFirst); r != 0; r = tag.MoveTo(GotoNext)) ++n;
  return n;
}

// The walk through the tag's range that CountRangeKeys must agree with:
// the records of the entries, in walk order, whose record is not marked in
// `leftOut`. `midLeaf` is set when the range starts or ends inside a leaf
// rather than at its edge.
std::vector<TRecNo> WalkRange(GSobjIndexTag& tag, const std::vector<uint8_t>* leftOut, bool* midLeaf) {
  std::vector<TRecNo> records;
  const auto inside = [&tag] {
    const GSobjIndexKey* leaf = tag.LeafImage();
    return leaf && leaf->Position() > 0 && leaf->Position() < leaf->EntryCount() - 1;
  };
  TRecNo r = tag.MoveTo(GotoFirst);
  if (midLeaf && r > 0 && inside()) *midLeaf = true;
  for (; r > 0; r = tag.MoveTo(GotoNext)) {
    if (leftOut && static_cast<size_t>(r) < leftOut->size() && (*leftOut)[static_cast<size_t>(r)]) continue;
    records.push_back(r);
  }
  if (midLeaf && tag.MoveTo(GotoLast) > 0 && inside()) *midLeaf = true;
  return records;
}

std::string RandomName(std::mt19937& rng) {
  std::string name;
  for (int j = 0; j < 30; ++j) name += static_cast<char>('A' + rng() % 26);
  return name;
}

// The address of the first leaf: down the first entry of every branch.
int32_t FirstLeaf(const std::vector<uint8_t>& file, int32_t root, int keyLength) {
  int32_t address = root;
  while ((GetLE16(file.data() + address) & kAttrLeaf) == 0)
    address = static_cast<int32_t>(GetBE32(file.data() + address + kNodeHeaderSize + keyLength + 4));
  return address;
}

}  // namespace

TEST(CdxCountKeys, SumsTheLeavesOfADeepTagAsAWalkThroughItsKeysCountsThem) {
  TempDir dir;
  std::mt19937 rng(5);
  const DbfLayout l = NamedRows(6000, rng);
  WriteDbf(dir.File("T.DBF"), l);
  std::vector<std::string> tips;
  for (const DbfRow& row : l.rows) tips.push_back(row.values[1]);
  auto twos = [&tips] { return static_cast<int64_t>(std::count(tips.begin(), tips.end(), "2")); };

  IndexTestTable t(dir.File("T.DBF"));
  GSobjCDXFile f(&t, dir.File("T.CDX"), true, true, true, false);
  ASSERT_TRUE(f.AddTag("ALL", "NAME", false, true, ""));
  ASSERT_TRUE(f.AddTag("TWO", "NAME", false, true, "TIP=2"));
  ASSERT_TRUE(f.AddTag("NONE", "NAME", false, true, "TIP=9"));
  GSobjIndexTag* all = f.FindTag("ALL");
  GSobjIndexTag* two = f.FindTag("TWO");
  IndexCheckReport report;
  f.CheckTag(*all, report, false);
  ASSERT_GE(report.levels, 3) << "a tag of several branch levels";

  // Every record has its key, deleted ones too; the FOR condition picks.
  EXPECT_EQ(all->CountKeys(), 6000);
  EXPECT_EQ(two->CountKeys(), twos());
  EXPECT_EQ(f.FindTag("NONE")->CountKeys(), 0) << "an empty tag is one empty leaf";
  EXPECT_EQ(all->CountKeys(), WalkedKeys(*all));
  EXPECT_EQ(two->CountKeys(), WalkedKeys(*two));

  // Later changes split leaves into nodes at the end of the file, out of
  // the built order, and move records in and out of the FOR condition.
  for (int i = 0; i < 800; ++i) {
    t.Blank();
    std::string name;
    for (int j = 0; j < 30; ++j) name += static_cast<char>('A' + rng() % 26);
    t.SetField("NAME", name);
    tips.push_back(i % 2 == 0 ? "2" : "1");
    t.SetField("TIP", tips.back());
    t.Append({&f});
  }
  for (TRecNo n = 1; n <= 3000; n += 7) {
    t.Read(n);
    tips[static_cast<size_t>(n - 1)] = t.Field("TIP") == "2" ? "3" : "2";
    t.SetField("TIP", tips[static_cast<size_t>(n - 1)]);
    t.Write(n, {&f});
  }
  f.ReleaseTags();
  EXPECT_EQ(all->CountKeys(), 6800);
  EXPECT_EQ(two->CountKeys(), twos());
  EXPECT_EQ(two->CountKeys(), WalkedKeys(*two));

  // A range narrows the walk, not the count, and stays in force.
  TgsVariant low, high;
  low.SetText("B");
  high.SetText("C");
  ASSERT_TRUE(all->SetRange(&low, true, &high, true, true));
  const int64_t inRange = WalkedKeys(*all);
  EXPECT_LT(inRange, 6800);
  EXPECT_EQ(all->CountKeys(), 6800);
  EXPECT_TRUE(all->HasRange());
  EXPECT_EQ(WalkedKeys(*all), inRange);
}

TEST(CdxCountKeys, ADamagedLeafLevelIsRefusedNamingTheFile) {
  TempDir dir;
  std::mt19937 rng(6);
  WriteDbf(dir.File("T.DBF"), NamedRows(3000, rng));
  const std::string path = dir.File("T.CDX");
  int32_t root = 0;
  {
    IndexTestTable t(dir.File("T.DBF"));
    GSobjCDXFile f(&t, path, true, true, true, false);
    ASSERT_TRUE(f.AddTag("ALL", "NAME", false, true, ""));
    root = f.FindTag("ALL")->RootAddress();
  }
  const std::vector<uint8_t> sound = ReadBytes(path);
  const int32_t first = FirstLeaf(sound, root, 30);
  const int32_t second = static_cast<int32_t>(GetLE32(sound.data() + first + 8));
  ASSERT_GT(second, 0);

  struct Damage {
    const char* what;
    std::function<void(uint8_t* file)> apply;
  };
  const Damage damages[] = {
      {"a leaf linked back to itself", [&](uint8_t* b) { PutLE32(b + first + 8, static_cast<uint32_t>(first)); }},
      {"a link out of the file",
       [&](uint8_t* b) { PutLE32(b + first + 8, static_cast<uint32_t>(sound.size() + 4096)); }},
      {"a leaf naming another left sibling", [&](uint8_t* b) { PutLE32(b + second + 4, static_cast<uint32_t>(second)); }},
      {"more entries than the leaf holds", [&](uint8_t* b) { PutLE16(b + second + 2, 0xFFFF); }},
      {"a branch's first child out of the file",
       [&](uint8_t* b) { PutBE32(b + root + kNodeHeaderSize + 30 + 4, 0x7FFFFE00); }},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::vector<uint8_t> bytes = sound;
    d.apply(bytes.data());
    WriteBytes(path, bytes);
    IndexTestTable t(dir.File("T.DBF"));
    GSobjCDXFile f(&t, path, false, false, false, true);
    ASSERT_TRUE(f.Valid());
    EXPECT_EQ(ErrorOf([&] { f.FindTag("ALL")->CountKeys(); }), "Index file " + f.FullPath() + " is corrupted");
    int64_t count = 0;
    std::vector<TRecNo> ends;
    EXPECT_EQ(ErrorOf([&] { f.FindTag("ALL")->CountRangeKeys(64, nullptr, count, ends); }),
              "Index file " + f.FullPath() + " is corrupted");
  }
}

TEST(CdxCountRangeKeys, CountsAndPageEndsOfEveryRangeAreTheWalksInBothDirections) {
  TempDir dir;
  std::mt19937 rng(8);
  const DbfLayout l = NamedRows(5000, rng);
  WriteDbf(dir.File("T.DBF"), l);
  IndexTestTable t(dir.File("T.DBF"));
  GSobjCDXFile f(&t, dir.File("T.CDX"), true, true, true, false);
  // Whole names (a deep tree, mostly one entry per key) and their first
  // two letters (runs of equal keys across leaves), each way up and down.
  ASSERT_TRUE(f.AddTag("UP", "NAME", false, true, ""));
  ASSERT_TRUE(f.AddTag("DOWN", "NAME", false, false, ""));
  ASSERT_TRUE(f.AddTag("HEADUP", "LEFT(NAME,2)", false, true, ""));
  ASSERT_TRUE(f.AddTag("HEADDOWN", "LEFT(NAME,2)", false, false, "TIP<>3"));
  IndexCheckReport report;
  f.CheckTag(*f.FindTag("UP"), report, false);
  ASSERT_GE(report.levels, 3);

  std::vector<uint8_t> deleted(l.rows.size() + 1, 0);
  for (size_t i = 0; i < l.rows.size(); ++i) deleted[i + 1] = l.rows[i].deleted;
  // Records appended later split leaves into nodes at the end of the file.
  const auto append = [&](int rows, bool release) {
    for (int i = 0; i < rows; ++i) {
      t.Blank();
      t.SetField("NAME", RandomName(rng));
      t.SetField("TIP", std::to_string(1 + i % 3));
      t.Append({&f});
      deleted.push_back(0);
    }
    if (release) f.ReleaseTags();
  };

  struct Range {
    const char* low;
    bool lowInclusive;
    const char* high;
    bool partial;
  };
  const Range ranges[] = {
      {nullptr, true, nullptr, true},  // the whole tag
      {"B", true, "C", true},          {"BK", true, "BKZ", false}, {"MM", false, "MM", true},
      {"MM", true, "MM", true},        {"X", true, nullptr, true}, {nullptr, true, "CD", true},
      {"QQQ", true, "QQQ", true},      {"M", true, "C", true},     {"ZZZZZ", true, nullptr, true},
  };
  bool midLeaf = false;
  const auto compare = [&](const char* tagName) {
    GSobjIndexTag* tag = f.FindTag(tagName);
    for (const Range& range : ranges) {
      TgsVariant low, high;
      if (range.low) low.SetText(range.low);
      if (range.high) high.SetText(range.high);
      tag->SetRange(&low, range.lowInclusive, &high, true, range.partial);
      const std::vector<uint8_t>* const marks[] = {nullptr, &deleted};
      for (const std::vector<uint8_t>* leftOut : marks) {
        const std::vector<TRecNo> walked = WalkRange(*tag, leftOut, &midLeaf);
        for (int32_t step : {1, 7, 64, 1000000}) {
          SCOPED_TRACE(std::string(tagName) + " " + (range.low ? range.low : "-") + ".." +
                       (range.high ? range.high : "-") + " step " + std::to_string(step) +
                       (leftOut ? " without deleted" : ""));
          std::vector<TRecNo> expected;
          for (size_t k = static_cast<size_t>(step); k <= walked.size(); k += static_cast<size_t>(step))
            expected.push_back(walked[k - 1]);
          int64_t count = -1;
          std::vector<TRecNo> ends{99};
          ASSERT_TRUE(tag->CountRangeKeys(step, leftOut, count, ends));
          EXPECT_EQ(count, static_cast<int64_t>(walked.size()));
          EXPECT_EQ(ends, expected);
        }
        // The range stays in force.
        EXPECT_EQ(WalkRange(*tag, leftOut, nullptr), walked);
      }
    }
  };
  for (const char* tagName : {"UP", "DOWN", "HEADUP", "HEADDOWN"}) compare(tagName);
  EXPECT_TRUE(midLeaf) << "some range starts or ends inside a leaf";
  // Keys that wait in memory under the index lock are counted too.
  ASSERT_TRUE(f.LockIndex());
  append(300, false);
  ASSERT_GT(f.FindTag("UP")->PendingKeyCount() + f.FindTag("DOWN")->PendingKeyCount(), 0u);
  compare("UP");
  compare("DOWN");
  f.UnlockIndex();
  append(500, true);
  for (const char* tagName : {"UP", "DOWN", "HEADUP", "HEADDOWN"}) compare(tagName);
}

TEST(IndexCountKeys, AFormatWithoutLeafCountsWalksItsKeys) {
  TempDir dir;
  std::mt19937 rng(7);
  const DbfLayout l = NamedRows(5000, rng);
  WriteDbf(dir.File("T.DBF"), l);
  int64_t third = 0;
  for (const DbfRow& row : l.rows) third += row.values[1] == "3";
  IndexTestTable t(dir.File("T.DBF"));
  GSobjNTXFile f(&t, dir.File("T.NTX"), true, true, true, false);
  ASSERT_TRUE(f.AddTag("", "NAME", false, true, "TIP=3"));
  EXPECT_EQ(f.Tag()->CountKeys(), third);
  EXPECT_EQ(f.Tag()->CountKeys(), WalkedKeys(*f.Tag()));
  // A range's count is left to the caller's walk.
  int64_t count = -1;
  std::vector<TRecNo> ends{1};
  EXPECT_FALSE(f.Tag()->CountRangeKeys(10, nullptr, count, ends));
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(ends.empty());
}
