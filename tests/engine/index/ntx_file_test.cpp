// NTX files: the shared sample read in its listing's order; files we build
// and maintain checked against the table, and read by an independent peer
// (the XBase module of libdbd-xbase-perl) in our order; damaged files
// refused with the corrupted-file message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/index/gs6_cdx_format.h"
#include "engine/index/gs6_ntx.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbsy.h"
#include "support/cdx_table.h"
#include "support/dbf_writer.h"
#include "support/error_text.h"
#include "support/peers.h"
#include "support/temp_dir.h"

namespace {

using Walked = std::vector<std::pair<TRecNo, std::string>>;

Walked OurWalk(GSobjIndexTag& tag, bool backward = false) {
  Walked out;
  tag.ResetPages(GSobjIndexTag::kResetRootOnly);
  for (TRecNo r = tag.MoveTo(backward ? GotoLast : GotoFirst); r != 0;
       r = tag.MoveTo(backward ? GotoPrevious : GotoNext)) {
    const auto& k = tag.CurrentKey();
    out.push_back({r, std::string(reinterpret_cast<const char*>(k.Data()), k.Length())});
  }
  if (backward) std::reverse(out.begin(), out.end());
  return out;
}

std::vector<TRecNo> Records(const Walked& w) {
  std::vector<TRecNo> out;
  for (const auto& [r, k] : w) out.push_back(r);
  return out;
}

void ExpectSound(GSobjNTXFile& f, const std::string& when) {
  IndexCheckReport r;
  f.CheckTag(*f.Tag(), r);
  ASSERT_TRUE(r.problems.empty()) << when << ": " << r.problems.front();
}

// A copy Perl XBase can read: it refuses signature 7 (a FOR condition) and
// takes the child-only last slot of a branch page for an entry when that
// slot holds leftover record or key bytes, so the copy has signature 6 and
// those slots zeroed.
std::string PeerCopy(const TempDir& dir, const std::string& path) {
  std::vector<uint8_t> b = ReadBytes(path);
  b[0] = 6;
  const int keyLength = cdx::GetLE16(b.data() + 14), maxKeys = cdx::GetLE16(b.data() + 18);
  std::vector<int32_t> pending{static_cast<int32_t>(cdx::GetLE32(b.data() + 4))};
  while (!pending.empty()) {
    const int32_t at = pending.back();
    pending.pop_back();
    ntx::Page page;
    EXPECT_TRUE(ntx::DecodePage(b.data() + at, keyLength, maxKeys, static_cast<int64_t>(b.size()), page));
    if (page.leaf) continue;
    for (const auto& item : page.items) pending.push_back(static_cast<int32_t>(item.child));
    pending.push_back(static_cast<int32_t>(page.lastChild));
    const int slot = cdx::GetLE16(b.data() + at + 2 + 2 * static_cast<int>(page.items.size()));
    std::fill(b.begin() + at + slot + 4, b.begin() + at + slot + 8 + keyLength, uint8_t{0});
  }
  const std::string copy = dir.File("peer.ntx");
  std::ofstream(copy, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return copy;
}

// The peer's record order; false when perl or its XBase module is missing.
bool PeerWalk(const TempDir& dir, const std::string& ntx, std::vector<TRecNo>& out) {
  static const char* const kWalkScript = R"(use strict; use warnings;
BEGIN { if (!eval { require XBase; require XBase::Index; 1 }) { exit 2; } }
my $idx = XBase::Index->new($ARGV[0], 'type' => 'ntx') or die XBase::Index->errstr;
$idx->prepare_select or die XBase::Index->errstr;
while (my ($key, $rec) = $idx->fetch) { print "$rec\n"; }
)";
  std::vector<std::string> lines;
  if (!RunPerlWalk(dir, kWalkScript, {PeerCopy(dir, ntx)}, lines)) return false;
  out.clear();
  for (const std::string& line : lines) out.push_back(std::atoi(line.c_str()));
  return true;
}

void ExpectPeerAgrees(const TempDir& dir, GSobjNTXFile& f, const std::string& when) {
  f.ReleaseTags();
  std::vector<TRecNo> peer;
  if (!PeerWalk(dir, f.FullPath(), peer)) return;  // no peer on this machine
  EXPECT_EQ(peer, Records(OurWalk(*f.Tag()))) << when;
}

std::string Trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

TEST(NtxFormat, PageSizesAndKeyForms) {
  EXPECT_EQ(ntx::MaxKeysFor(10), 50);
  ntx::PageWriter page(10, 50);
  page.Put(0, 0, 7, "AB");
  EXPECT_EQ(cdx::GetLE16(page.Bytes() + 2), 104) << "items start after the 51-slot table";
  EXPECT_EQ(page.Key(0), "AB        ");
  EXPECT_EQ(ntx::NumericKey(12.5, 5, 1), "012.5");
  EXPECT_EQ(ntx::NumericKey(-12.5, 5, 1), ",+*.'");
  EXPECT_EQ(ntx::NumericKey(123456, 5, 0), "*****");
  EXPECT_DOUBLE_EQ(ntx::NumericKeyValue(",+*.'"), -12.5);
  // Negative numbers sort before zero, larger magnitudes first.
  EXPECT_LT(ntx::NumericKey(-20, 5, 1), ntx::NumericKey(-3, 5, 1));
  EXPECT_LT(ntx::NumericKey(-3, 5, 1), ntx::NumericKey(0, 5, 1));
}

TEST(NtxFormat, SharedSampleReadsInItsListingOrder) {
  const std::string dir = std::string(DERIDAR_SAMPLES_DIR) + "/dbd-xbase";
  Walked expected;
  std::ifstream in(dir + "/expected/ntx-char.ntx.txt");
  for (std::string line; std::getline(in, line);) {
    const size_t tab = line.find('\t');
    std::string key;
    for (size_t i = tab + 1; i + 1 < line.size(); i += 2)
      key += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    expected.push_back({std::stoi(line.substr(0, tab)), Trimmed(key)});
  }
  ASSERT_EQ(expected.size(), 68u);
  GSO_dBHandler table(dir + "/ntx-char.dbf", "", true, false);
  table.OpenTable();
  GSobjNTXFile f(&table, dir + "/ntx-char.ntx", false, false, false, true);
  ASSERT_TRUE(f.Valid());
  EXPECT_EQ(f.Tag()->TagName(), "ntx-char");
  EXPECT_EQ(OurWalk(*f.Tag()), expected);
  EXPECT_EQ(OurWalk(*f.Tag(), true), expected);
  IndexCheckReport r;
  f.CheckTag(*f.Tag(), r);
  EXPECT_TRUE(r.problems.empty()) << r.problems.front();
}

TEST(NtxBuild, TablesOfEverySizeAndKeyKindReadAsTheTableSays) {
  TempDir dir;
  std::mt19937 rng(11);
  for (int rows : {1, 2, 20000}) {
    DbfLayout l;
    l.fields = {{"NAME", 'C', 12}, {"AMT", 'N', 8, 2}, {"DAY", 'D', 8}, {"TIP", 'N', 1}};
    for (int i = 0; i < rows; ++i) {
      std::string name = "N";
      for (int j = 0; j < 3; ++j) name += static_cast<char>('A' + rng() % 6);
      char amount[16];
      std::snprintf(amount, sizeof amount, "%.2f", (static_cast<int>(rng() % 40000) - 20000) / 16.0);
      char day[16];
      std::snprintf(day, sizeof day, "%04d%02d%02d", 1990 + static_cast<int>(rng() % 30), 1 + static_cast<int>(rng() % 12),
                    1 + static_cast<int>(rng() % 28));
      l.rows.push_back({{name, amount, rng() % 9 == 0 ? "" : day, std::to_string(1 + rng() % 3)}});
    }
    const std::string table = dir.File("T" + std::to_string(rows) + ".DBF");
    WriteDbf(table, l);
    IndexTestTable t(table);
    struct Case {
      const char* key;
      const char* forExpr;
      bool unique, ascending;
      // The stored key of a row, or "" when the row is left out.
      std::function<std::string(const DbfRow&)> expect;
    };
    auto field = [](const DbfRow& r, int i) { return r.values[static_cast<size_t>(i)]; };
    const Case cases[] = {
        {"NAME", "", false, true, [&](const DbfRow& r) { return field(r, 0); }},
        {"NAME", "", false, false, [&](const DbfRow& r) { return field(r, 0); }},
        {"NAME", "", true, true, [&](const DbfRow& r) { return field(r, 0); }},
        {"AMT", "", false, true, [&](const DbfRow& r) { return ntx::NumericKey(std::stod(field(r, 1)), 8, 2); }},
        {"DAY", "", false, true, [&](const DbfRow& r) { return field(r, 2).empty() ? "00000000" : field(r, 2); }},
        {"NAME", "TIP=2", false, true, [&](const DbfRow& r) { return field(r, 3) == "2" ? field(r, 0) : "~"; }},
    };
    for (const Case& c : cases) {
      const std::string when = std::to_string(rows) + " rows, key " + c.key + (c.unique ? " unique" : "") +
                               (c.ascending ? "" : " descending") + (*c.forExpr ? " for " : "") + c.forExpr;
      GSobjNTXFile f(&t, dir.File("K.NTX"), true, true, true, false);
      ASSERT_TRUE(f.AddTag("", c.key, c.unique, c.ascending, c.forExpr)) << when;
      ExpectSound(f, when);
      // The order the table gives: stable by record number, so equal keys
      // keep record order ascending and reversed descending.
      Walked expected;
      for (int i = 0; i < rows; ++i) {
        const std::string key = c.expect(l.rows[static_cast<size_t>(i)]);
        if (key != "~") expected.push_back({i + 1, key});
      }
      std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
      if (c.unique)
        expected.erase(std::unique(expected.begin(), expected.end(),
                                   [](const auto& a, const auto& b) { return a.second == b.second; }),
                       expected.end());
      if (!c.ascending) {
        std::reverse(expected.begin(), expected.end());
        std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
      }
      EXPECT_EQ(OurWalk(*f.Tag()), expected) << when;
      ExpectPeerAgrees(dir, f, when);
    }
  }
}

TEST(NtxBuild, EmptyTableAndEvenlyFilledPages) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"KEY", 'C', 10}};
  WriteDbf(dir.File("E.DBF"), l);
  {
    IndexTestTable t(dir.File("E.DBF"));
    GSobjNTXFile f(&t, dir.File("E.NTX"), true, true, true, false);
    ASSERT_TRUE(f.AddTag("", "KEY", false, true, ""));
  }
  EXPECT_EQ(ReadBytes(dir.File("E.NTX")).size(), 2048u) << "a header and one empty root page";

  for (int i = 0; i < 120; ++i) l.rows.push_back({{"K" + std::to_string(1000 + i)}});
  WriteDbf(dir.File("F.DBF"), l);
  IndexTestTable t(dir.File("F.DBF"));
  GSobjNTXFile f(&t, dir.File("F.NTX"), true, true, true, false);
  ASSERT_TRUE(f.AddTag("", "KEY", false, true, ""));
  IndexCheckReport r;
  f.CheckTag(*f.Tag(), r);
  EXPECT_EQ(r.levels, 2);
  EXPECT_EQ(r.nodes, 4) << "120 keys of 10 bytes: three leaves of 40 under one root";
  EXPECT_EQ(r.entries.size(), 120u);
}

// A file that folds case keys character values upper-cased, in the build
// and on writes, so mixed-case names sort together and are found by their
// upper-case form; the flag is not stored, so the file reads the same
// without it.
TEST(NtxBuild, CaseFoldingFileKeysUpperCasedText) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NAME", 'C', 8}};
  for (const char* name : {"beta", "Alpha", "ALPHA", "gamma", "Beta"}) l.rows.push_back({{name}});
  WriteDbf(dir.File("C.DBF"), l);
  IndexTestTable t(dir.File("C.DBF"));
  Walked w;
  {
    GSobjNTXFile f(&t, dir.File("C.NTX"), true, true, true, false);
    f.SetFoldCase(true);
    ASSERT_TRUE(f.AddTag("", "NAME", false, true, ""));
    t.Blank();
    t.SetField("NAME", "alpine");
    t.Append({&f});
    w = OurWalk(*f.Tag());
    std::vector<std::string> keys;
    for (const auto& [r, k] : w) keys.push_back(k.substr(0, k.find_last_not_of(' ') + 1));
    EXPECT_EQ(keys, (std::vector<std::string>{"ALPHA", "ALPHA", "ALPINE", "BETA", "BETA", "GAMMA"}));
    EXPECT_EQ(Records(w)[2], 6);
    ExpectSound(f, "folded keys");
  }
  // Opened again without the flag, the stored keys are what they were.
  GSobjNTXFile again(&t, dir.File("C.NTX"), false, false, false, false);
  ASSERT_NE(again.Tag(), nullptr);
  EXPECT_FALSE(again.FoldCase());
  EXPECT_EQ(OurWalk(*again.Tag()), w);
}

// Thousands of appends, edits and FOR-flips on a short key, with the file
// open: pages split, empty and leave the tree. After every batch the tag
// matches the table and the peer reads it in our order.
TEST(NtxMaintenance, RandomChangesKeepTheTagSoundAndReadable) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"KEY", 'C', 6}, {"LIVE", 'C', 1}};
  for (int i = 0; i < 200; ++i) l.rows.push_back({{std::to_string(100000 + i * 7), "Y"}});
  WriteDbf(dir.File("M.DBF"), l);
  IndexTestTable t(dir.File("M.DBF"));
  std::mt19937 rng(5);
  for (bool ascending : {true, false}) {
    GSobjNTXFile f(&t, dir.File("M.NTX"), true, true, true, false);
    ASSERT_TRUE(f.AddTag("", "KEY", false, ascending, "LIVE='Y'"));
    const int32_t root = f.Tag()->RootAddress();
    for (int batch = 0; batch < 6; ++batch) {
      for (int op = 0; op < 500; ++op) {
        const int kind = static_cast<int>(rng() % 10);
        const TRecNo count = t.Table().RecordCount();
        if (kind < 3) {
          t.Blank();
          t.SetField("KEY", std::to_string(100000 + rng() % 900000));
          t.SetField("LIVE", "Y");
          t.Append({&f});
        } else {
          const TRecNo n = 1 + static_cast<TRecNo>(rng() % static_cast<uint32_t>(count));
          t.Read(n);
          if (kind < 7) {
            t.SetField("KEY", std::to_string(100000 + rng() % 900000));
          } else {
            t.SetField("LIVE", t.Field("LIVE") == "Y" ? "N" : "Y");
          }
          t.Write(n, {&f});
        }
      }
      // Every key at the far end goes, then new ones come beyond it: the
      // rightmost pages empty and fill again.
      if (batch == 3) {
        for (TRecNo n = 1; n <= t.Table().RecordCount(); ++n) {
          t.Read(n);
          if (t.Field("KEY") >= "700000") {
            t.SetField("LIVE", "N");
            t.Write(n, {&f});
          }
        }
        ExpectSound(f, "after emptying the far end");
      }
      const std::string when = std::string(ascending ? "ascending" : "descending") + ", batch " + std::to_string(batch);
      ExpectSound(f, when);
      EXPECT_EQ(OurWalk(*f.Tag()), OurWalk(*f.Tag(), true)) << when;
      EXPECT_EQ(f.Tag()->ReadRootAddress(), root) << "the root never moves";
      ExpectPeerAgrees(dir, f, when);
    }
  }
}

TEST(NtxFile, DamagedHeadersAndPagesAreReportedAsCorrupted) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"KEY", 'C', 8}};
  for (int i = 0; i < 600; ++i) l.rows.push_back({{"K" + std::to_string(100000 + i)}});
  const std::string table = WriteDbf(dir.File("H.DBF"), l);
  {
    GSO_dBHandler h(table, "", false, true);
    h.OpenTable();
    h.IndexOn("H.NTX", "", "KEY", "", 1, 0);
  }
  const std::vector<uint8_t> good = ReadBytes(dir.File("H.NTX"));
  const uint32_t root = cdx::GetLE32(good.data() + 4);
  const uint32_t firstChild = cdx::GetLE32(good.data() + root + cdx::GetLE16(good.data() + root + 2));
  struct Damage {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
  };
  auto le32 = [](uint32_t v) {
    return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  };
  const Damage damages[] = {
      {"signature", 0, {9, 0}},
      {"root beyond the file", 4, le32(0x100000)},
      {"root off a page boundary", 4, le32(root + 12)},
      {"key length 0", 14, {0, 0}},
      {"item size", 12, {3, 0}},
      {"maximum keys", 18, {0xFF, 0x7F}},
      {"unterminated expression", 22, std::vector<uint8_t>(256, 'A')},
      {"key count", root, {0xFF, 0}},
      {"slot outside the page", root + 2, {0xF0, 0x03}},
      {"child pointing at the root", root + cdx::GetLE16(good.data() + root + 2), le32(root)},
      {"leaf made a branch pointing at the root", firstChild + cdx::GetLE16(good.data() + firstChild + 2), le32(root)},
  };
  for (const Damage& d : damages) {
    std::vector<uint8_t> bad = good;
    std::copy(d.bytes.begin(), d.bytes.end(), bad.begin() + static_cast<std::ptrdiff_t>(d.at));
    std::ofstream(dir.File("H.NTX"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bad.data()), static_cast<std::streamsize>(bad.size()));
    GSO_dBHandler h(table, "", false, false);
    h.OpenTable();
    const std::string error = ErrorOf([&] {
      h.OpenIndexFile("H.NTX");
      h.SelectTag("H", false);
      for (h.ReadRecord(GotoFirst); !h.Eof(); h.ReadRecord(GotoNext)) {
      }
    });
    EXPECT_EQ(error, "Index file " + dir.File("H.NTX") + " is corrupted") << d.what;
  }
}

TEST(NtxFile, VersionCounterReindexAndHeaderRefresh) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"KEY", 'C', 8}};
  for (int i = 0; i < 300; ++i) l.rows.push_back({{"K" + std::to_string(100000 + (i * 37) % 300)}});
  WriteDbf(dir.File("V.DBF"), l);
  IndexTestTable t(dir.File("V.DBF"), true);
  GSobjNTXFile f(&t, dir.File("V.NTX"), true, true, true, true);
  ASSERT_TRUE(f.AddTag("", "KEY", false, true, ""));
  auto stored = [&] { return cdx::GetLE16(ReadBytes(dir.File("V.NTX")).data() + 2); };
  EXPECT_EQ(stored(), 1);
  t.Read(5);
  t.SetField("KEY", "A");
  t.Write(5, {&f});
  EXPECT_EQ(stored(), 2) << "every key update moves the counter";
  EXPECT_FALSE(f.ChangedByOthers());
  {
    // Another writer of the shared file moves it on from the file's value.
    GSobjNTXFile other(&t, dir.File("V.NTX"), false, false, true, true);
    ASSERT_TRUE(other.Valid());
    f.SetVersion(0x7FFF);  // our counter is behind the file's, and about to wrap
    t.Read(6);
    t.SetField("KEY", "B");
    t.Write(6, {&other});
    EXPECT_EQ(stored(), 3);
    EXPECT_TRUE(f.ChangedByOthers());
    t.Read(7);
    t.SetField("KEY", "C");
    t.Write(7, {&f});
    EXPECT_EQ(stored(), 4) << "the counter follows the file's, not our own";
  }
  ExpectSound(f, "after two writers");

  // A change behind the file's back: the check finds it, Reindex repairs.
  l.rows[0].values[0] = "ZZZ";
  WriteDbf(dir.File("V.DBF"), l);
  IndexTestTable changed(dir.File("V.DBF"), true);
  GSobjNTXFile g(&changed, dir.File("V.NTX"), false, false, true, true);
  IndexCheckReport r;
  g.CheckTag(*g.Tag(), r);
  EXPECT_FALSE(r.problems.empty());
  g.Reindex();
  ExpectSound(g, "after Reindex");
  EXPECT_EQ(OurWalk(*g.Tag()).back(), (std::pair<TRecNo, std::string>{1, "ZZZ"}));

  g.RefreshHeader();
  EXPECT_EQ(ReadBytes(dir.File("V.NTX")).size(), 2048u);
  EXPECT_TRUE(OurWalk(*g.Tag()).empty());
  changed.Read(2);
  changed.Write(2, {&g});
  EXPECT_EQ(OurWalk(*g.Tag()).size(), 1u) << "an emptied order takes new keys";
}
