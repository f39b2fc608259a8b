// CDX maintenance: keys kept in step with appended and edited records,
// leaf and branch splits, FOR conditions that flip, and a full check of
// every tag against the table after every batch of changes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/index/gs6_cdx.h"
#include "support/cdx_table.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"

using namespace cdx;

namespace {

void ExpectAllSound(GSobjCDXFile& f, const std::string& when) {
  for (int i = 0; i < f.TagCount(); ++i) {
    auto* tag = static_cast<GSobjCDXTag*>(f.TagByPosition(i));
    TreeReport r;
    f.CheckTag(*tag, r);
    ASSERT_TRUE(r.problems.empty()) << when << ", tag " << tag->TagName() << ": " << r.problems.front();
  }
}

const uint8_t* NodeAt(const std::vector<uint8_t>& file, int32_t address) {
  return file.data() + address;
}

}  // namespace

TEST(CdxMaintenance, LeafSplitsWhenItsEntriesReach488Bytes) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"KEY", 'C', 7}};
  // Every key starts with a different byte, so nothing is shared: each entry
  // takes 3 bytes of info and 5 key bytes.
  auto key = [](int i) { return std::string(1, static_cast<char>(0x21 + i)) + "AAAA"; };
  l.rows.push_back({{key(0)}});
  WriteDbf(dir.File("S.DBF"), l);
  IndexTestTable t(dir.File("S.DBF"));
  GSobjCDXFile f(&t, dir.File("S.CDX"), true, true, true, false);
  ASSERT_TRUE(f.AddTag("KEY", "KEY", false, true, ""));
  GSobjIndexTag* tag = f.FindTag("KEY");
  const int32_t root = tag->RootAddress();
  for (int i = 1; i < 60; ++i) {
    t.Blank();
    t.SetField("KEY", key(i));
    t.Append({&f});
  }
  f.ReleaseTags();
  std::vector<uint8_t> b = ReadBytes(dir.File("S.CDX"));
  ASSERT_EQ(GetLE16(NodeAt(b, root)), 3) << "60 entries of 8 bytes fit one leaf";
  EXPECT_EQ(GetLE16(NodeAt(b, root) + 2), 60);
  EXPECT_EQ(GetLE16(NodeAt(b, root) + 12), 8);

  t.Blank();
  t.SetField("KEY", key(60));
  t.Append({&f});
  f.ReleaseTags();
  b = ReadBytes(dir.File("S.CDX"));
  EXPECT_EQ(tag->RootAddress(), root) << "the root keeps its address";
  const uint8_t* top = NodeAt(b, root);
  ASSERT_EQ(GetLE16(top), 1) << "the root became a branch";
  ASSERT_EQ(GetLE16(top + 2), 2);
  const uint32_t left = GetBE32(top + 12 + 7 + 4);
  const uint32_t right = GetBE32(top + 12 + 15 + 7 + 4);
  ASSERT_LE(left + 512, b.size());
  ASSERT_LE(right + 512, b.size());
  // The first 31 entries (248 bytes) went to the new left node.
  EXPECT_EQ(GetLE16(NodeAt(b, static_cast<int32_t>(left)) + 2), 31);
  EXPECT_EQ(GetLE16(NodeAt(b, static_cast<int32_t>(right)) + 2), 30);
  EXPECT_EQ(GetLE32(NodeAt(b, static_cast<int32_t>(left)) + 8), right);
  EXPECT_EQ(GetLE32(NodeAt(b, static_cast<int32_t>(right)) + 4), left);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(top + 12), 7), key(30) + "  ");
  ExpectAllSound(f, "after the split");
}

TEST(CdxMaintenance, RandomAppendsAndEditsKeepDeepTreesInStep) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 35}, {"ADR", 'C', 35}, {"TIP", 'N', 1}, {"AMT", 'N', 8, 2}};
  std::mt19937 rng(20240101);
  auto word = [&](size_t len) {
    std::string s;
    for (size_t i = 0; i < len; ++i) s += static_cast<char>('A' + rng() % 4);
    return s;
  };
  auto row = [&]() {
    return DbfRow{{std::to_string(1000000 + rng() % 9000000), "NAME " + word(20), "STREET " + word(25),
                   std::to_string(1 + rng() % 3), std::to_string(static_cast<int>(rng() % 20000) - 10000)}};
  };
  for (int i = 0; i < 2500; ++i) l.rows.push_back(row());
  WriteDbf(dir.File("M.DBF"), l);
  IndexTestTable t(dir.File("M.DBF"));
  GSobjCDXFile f(&t, dir.File("M.CDX"), true, true, true, false);
  ASSERT_TRUE(f.AddTag("ADR1", "ADR", false, true, "TIP=1"));
  ASSERT_TRUE(f.AddTag("NUM", "NUM", false, true, ""));
  ASSERT_TRUE(f.AddTag("FIODOWN", "FIO", false, false, "TIP#3"));
  ASSERT_TRUE(f.AddTag("AMT", "AMT", false, true, ""));
  f.ReleaseTags();
  std::vector<int32_t> roots;
  for (int i = 0; i < f.TagCount(); ++i) roots.push_back(f.TagByPosition(i)->RootAddress());
  ExpectAllSound(f, "after the build");
  {
    TreeReport r;
    f.CheckTag(*static_cast<GSobjCDXTag*>(f.FindTag("ADR1")), r);
    EXPECT_GE(r.levels, 3) << "deep enough to split branches";
  }

  std::vector<GSobjIndexFile*> files = {&f};
  for (int batch = 0; batch < 8; ++batch) {
    for (int op = 0; op < 60; ++op) {
      const int kind = static_cast<int>(rng() % 4);
      if (kind == 0) {
        const DbfRow r = row();
        t.Blank();
        for (size_t i = 0; i < r.values.size(); ++i) t.SetField(l.fields[i].name, r.values[i]);
        t.Append(files);
      } else {
        const TRecNo n = 1 + static_cast<TRecNo>(rng() % static_cast<unsigned>(t.Table().RecordCount()));
        t.Read(n);
        if (kind == 1) t.SetField("TIP", std::to_string(1 + rng() % 3));  // FOR flips
        if (kind == 2) t.SetField("ADR", "STREET " + word(25));
        if (kind == 3) {
          t.SetField("FIO", "NAME " + word(20));
          t.SetField("NUM", std::to_string(1000000 + rng() % 9000000));
          t.SetField("AMT", std::to_string(static_cast<int>(rng() % 20000) - 10000));
        }
        t.Write(n, files);
      }
    }
    f.ReleaseTags();
    ExpectAllSound(f, "after batch " + std::to_string(batch));
    for (int i = 0; i < f.TagCount(); ++i)
      EXPECT_EQ(f.TagByPosition(i)->RootAddress(), roots[static_cast<size_t>(i)]);
  }
}

TEST(CdxMaintenance, DescendingInsertsMoveParentHighKeys) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"KEY", 'C', 20}};
  l.rows.push_back({{"ZZZZ"}});
  WriteDbf(dir.File("H.DBF"), l);
  IndexTestTable t(dir.File("H.DBF"));
  GSobjCDXFile f(&t, dir.File("H.CDX"), true, true, true, false);
  ASSERT_TRUE(f.AddTag("KEY", "KEY", false, true, ""));
  // Keys arriving from high to low always land in front of the first leaf.
  for (int i = 3000; i > 0; --i) {
    t.Blank();
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "K%06d LONGER TAIL", i);
    t.SetField("KEY", buffer);
    t.Append({&f});
    if (i % 500 == 0) {
      f.ReleaseTags();
      ExpectAllSound(f, "at " + std::to_string(i));
    }
  }
  f.ReleaseTags();
  ExpectAllSound(f, "at the end");
}

TEST(CdxMaintenance, EmptiedLeafLeavesTheSiblingChain) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"KEY", 'C', 20}, {"TIP", 'N', 1}};
  for (int i = 0; i < 1500; ++i) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "K%06d TAIL %d", i, i % 7);
    l.rows.push_back({{buffer, "1"}});
  }
  WriteDbf(dir.File("E.DBF"), l);
  IndexTestTable t(dir.File("E.DBF"));
  GSobjCDXFile f(&t, dir.File("E.CDX"), true, true, true, false);
  ASSERT_TRUE(f.AddTag("KEY", "KEY", false, true, "TIP=1"));
  // Records leave the tag from the middle of the order: whole leaves empty.
  for (TRecNo n = 400; n <= 900; ++n) {
    t.Read(n);
    t.SetField("TIP", "2");
    t.Write(n, {&f});
  }
  f.ReleaseTags();
  ExpectAllSound(f, "after emptying leaves");
  // And come back.
  for (TRecNo n = 400; n <= 900; n += 2) {
    t.Read(n);
    t.SetField("TIP", "1");
    t.Write(n, {&f});
  }
  f.ReleaseTags();
  ExpectAllSound(f, "after refilling");
}

// Under GENERAL a text ending in "/" ends its key in the weight 0x20, which a
// node cannot tell from blank filler. Seeks, edits and deletions must use
// the key the nodes hold, or they miss the entry and leave it behind.
TEST(CdxMaintenance, GeneralKeysEndingInTheBlankWeightStayInStep) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NAME", 'C', 7}};
  for (const char* n : {"AB/", "CD/", "/", "X/Y", "AB", "\xC4/", "E//"}) l.rows.push_back({{n}});
  // And every other last byte.
  for (int c = 0x21; c <= 0xFF; ++c) l.rows.push_back({{std::string("K") + static_cast<char>(c)}});
  WriteDbf(dir.File("W.DBF"), l);
  IndexTestTable t(dir.File("W.DBF"));
  t.SetExact(true);
  GSobjCDXFile f(&t, dir.File("W.CDX"), true, true, true, false);
  f.SetDefaultCollation(Collation::General);
  ASSERT_TRUE(f.AddTag("NAME", "NAME", false, true, ""));
  GSobjIndexTag* tag = f.FindTag("NAME");
  auto seek = [&](const char* text) {
    GSobjIndexKeyData probe;
    probe.SetText(text);
    probe.SetLink(static_cast<uint32_t>(-1));
    return tag->SeekKey(probe);
  };
  EXPECT_EQ(seek("CD/"), 2);
  EXPECT_EQ(seek("E//"), 7);
  EXPECT_EQ(seek("\xC4/"), 6);
  for (size_t i = 7; i < l.rows.size(); ++i) EXPECT_NE(seek(l.rows[i].values[0].c_str()), 0) << i;
  // Edits move the entries of such keys, through built and rewritten nodes.
  const std::vector<std::pair<TRecNo, const char*>> edits = {
      {1, "ZZ"}, {2, "CD//"}, {4, "X/"}, {3, "Q"}, {2, "CD"}, {7, "F/"}};
  for (const auto& [n, text] : edits) {
    t.Read(n);
    t.SetField("NAME", text);
    t.Write(n, {&f});
    f.ReleaseTags();
    ExpectAllSound(f, std::string("after ") + text);
  }
  t.Blank();
  t.SetField("NAME", "G/");
  t.Append({&f});
  f.ReleaseTags();
  ExpectAllSound(f, "after the append");
  EXPECT_EQ(seek("F/"), 7);
  EXPECT_EQ(seek("G/"), static_cast<TRecNo>(l.rows.size()) + 1);
}
