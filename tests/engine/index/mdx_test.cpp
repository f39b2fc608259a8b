// MDX files: the packed-decimal key form, the file and tag layout of new
// files, tags read back by an independent peer (the XBase module of the
// Debian package libdbd-xbase-perl) after builds and after random writes
// with the file open, the production file that opens with its table, damaged
// files, and the "deridar index" verbs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/index/gs6_mdx.h"
#include "engine/table/gs6_dbsy.h"
#include "support/cdx_table.h"
#include "support/dbf_writer.h"
#include "support/error_text.h"
#include "support/peers.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

std::string Hex(const uint8_t* p, size_t n) {
  std::string out;
  char buffer[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buffer, sizeof buffer, "%02x", p[i]);
    out += buffer;
  }
  return out;
}

// One tag walked: record numbers with their stored key bytes in hex.
using Walk = std::vector<std::pair<uint32_t, std::string>>;

constexpr const char* kWalkScript = R"(use strict; use warnings;
BEGIN { if (!eval { require XBase; require XBase::Index; 1 }) { exit 2; } }
my ($mdx, @tags) = @ARGV;
for my $tag (@tags) {
  my $idx = XBase::Index->new($mdx, 'tag' => $tag, 'type' => 'mdx') or die XBase::Index->errstr;
  $idx->prepare_select or die XBase::Index->errstr;
  print "TAG $tag\n";
  while (my ($key, $rec) = $idx->fetch) { print "$rec ", unpack('H*', $key), "\n"; }
}
)";

// The peer's walks of `tags`; false when perl or the module is missing.
bool PeerWalks(const TempDir& dir, const std::string& mdx, const std::vector<std::string>& tags,
               std::vector<Walk>& out) {
  std::vector<std::string> args = {mdx};
  args.insert(args.end(), tags.begin(), tags.end());
  std::vector<std::string> lines;
  if (!RunPerlWalk(dir, kWalkScript, args, lines)) return false;
  for (const std::string& text : lines) {
    if (text.rfind("TAG ", 0) == 0) {
      out.emplace_back();
      continue;
    }
    const size_t space = text.find(' ');
    if (out.empty() || space == std::string::npos) continue;
    std::string key = text.substr(space + 1);
    while (!key.empty() && key.back() == '\r') key.pop_back();
    out.back().emplace_back(static_cast<uint32_t>(std::stoul(text.substr(0, space))), key);
  }
  return true;
}

Walk OurWalk(GSobjMDXTag& tag) {
  Walk out;
  std::vector<uint8_t> bytes(static_cast<size_t>(tag.KeyLength()));
  tag.ResetPages(GSobjIndexTag::kResetRootOnly);
  for (TRecNo r = tag.MoveTo(GotoFirst); r != 0; r = tag.MoveTo(GotoNext)) {
    tag.StoreKey(tag.CurrentKey(), bytes.data());
    out.emplace_back(static_cast<uint32_t>(r), Hex(bytes.data(), bytes.size()));
  }
  return out;
}

// Every tag's tree is sound and agrees with the table. A unique tag whose
// entry's record took another key has no entry for the others with the old
// key, as in every program that writes such tags: after edits only its
// tree is checked.
void ExpectSound(GSobjMDXFile& file, const std::string& when, bool edited = false) {
  for (int32_t i = 0; i < file.TagCount(); ++i) {
    auto& tag = *static_cast<GSobjMDXTag*>(file.TagByPosition(i));
    IndexCheckReport report;
    file.CheckTag(tag, report, !(edited && tag.Unique()));
    EXPECT_TRUE(report.problems.empty()) << when << ", tag " << tag.TagName() << ": " << report.problems.front();
  }
}

// Random rows: a name from a small alphabet (many equal keys), an amount
// with negatives, fractions, zero and large values, a date (some blank) and
// a category.
struct Rows {
  std::mt19937 rng{23};
  DbfRow Make() {
    std::string name;
    for (int j = 0, n = 3 + static_cast<int>(rng() % 6); j < n; ++j) name += static_cast<char>('A' + rng() % 4);
    double amount = 0;
    switch (rng() % 5) {
      case 0: amount = 0; break;
      case 1: amount = (static_cast<int>(rng() % 2001) - 1000) / 10000.0; break;  // below 0.1
      case 2: amount = (static_cast<int>(rng() % 200001) - 100000) / 100.0; break;
      case 3: amount = (static_cast<double>(rng() % 1999999999) - 999999999) + (rng() % 10000) / 10000.0; break;
      default: amount = -static_cast<double>(rng() % 100); break;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", amount);
    char date[16] = "";
    if (rng() % 8 != 0)
      std::snprintf(date, sizeof date, "%04d%02d%02d", 1900 + static_cast<int>(rng() % 150), 1 + static_cast<int>(rng() % 12),
                    1 + static_cast<int>(rng() % 28));
    return DbfRow{{name, text, date, std::to_string(1 + rng() % 3)}};
  }
};

DbfLayout TableLayout() {
  DbfLayout l;
  l.fields = {{"NAME", 'C', 8}, {"AMT", 'N', 15, 4}, {"BORN", 'D', 8}, {"TIP", 'N', 1}};
  return l;
}

struct TagSpec {
  const char* name;
  const char* key;
  const char* forExpr;
  int uniqueness;  // 0 unique
  int order;       // 0 ascending
};
const TagSpec kTags[] = {{"NAME", "NAME", "", 1, 0},   {"AMT", "AMT", "", 1, 0},
                         {"BORN", "BORN", "", 1, 0},   {"NAMEDESC", "NAME", "", 1, 1},
                         {"AMTDESC", "AMT", "", 1, 1}, {"UNAME", "NAME", "", 0, 0},
                         {"TELN", "NAME", "TIP = 1", 1, 0}};

}  // namespace

TEST(MdxFormat, PackedDecimalBytesAndOrder) {
  uint8_t p[mdx::kPackedLength];
  mdx::EncodePacked(123.45, p);
  EXPECT_EQ(Hex(p, 12), "371912345000000000000000");
  mdx::EncodePacked(-123.45, p);
  EXPECT_EQ(Hex(p, 12), "379912345000000000000000");
  EXPECT_EQ(mdx::DecodePacked(p), -123.45);
  mdx::EncodePacked(0, p);
  EXPECT_EQ(mdx::DecodePacked(p), 0.0);
  EXPECT_EQ(mdx::RoundPacked(0.0001), 0.0001);
  EXPECT_EQ(mdx::RoundPacked(3e20), 999999999999999.0) << "clamped to fifteen nines";
  EXPECT_EQ(mdx::RoundPacked(-3e20), -999999999999999.0);
  EXPECT_EQ(mdx::RoundPacked(0.1234567890123456789), 0.123456789012346);

  // Values of every magnitude and sign: the packed form orders them as
  // numbers, and values of up to 15 digits come back unchanged.
  std::mt19937 rng(5);
  std::vector<double> values = {0, -0.0, 0.1, -0.1, 0.09999, -0.09999, 1e-30, -1e-30, 99999999999999};
  for (int i = 0; i < 6000; ++i) {
    const long mantissa = static_cast<long>(rng() % 2000000) - 1000000;
    values.push_back(std::stod(std::to_string(mantissa) + "e" + std::to_string(static_cast<int>(rng() % 24) - 16)));
  }
  std::sort(values.begin(), values.end());
  double previous = -1e308;
  for (double v : values) {
    const double packed = mdx::RoundPacked(v);
    ASSERT_EQ(packed, v) << v;
    ASSERT_GE(packed, previous) << v;
    if (v != 0) {
      ASSERT_EQ(packed < 0, v < 0) << v;
    }
    previous = packed;
  }
}

TEST(MdxFormat, NewFileHeaderTagTableAndNodeSizes) {
  TempDir dir;
  DbfLayout l = TableLayout();
  WriteDbf(dir.File("S.DBF"), l);
  IndexTestTable t(dir.File("S.DBF"));
  {
    GSobjMDXFile f(&t, dir.File("S.MDX"), true, true, true, false);
    ASSERT_TRUE(f.Valid());
    EXPECT_EQ(ReadBytes(dir.File("S.MDX")).size(), 2048u);
    ASSERT_TRUE(f.AddTag("b", "NAME", false, true, ""));
    ASSERT_TRUE(f.AddTag("A", "AMT", true, true, ""));
    ASSERT_TRUE(f.AddTag("C", "BORN", false, false, "TIP = 1"));
    EXPECT_EQ(f.FindTag("B")->EntrySize(), 12) << "8 key bytes";
    EXPECT_EQ(f.FindTag("B")->EntriesPerNode(), 83);
    EXPECT_EQ(f.FindTag("A")->EntrySize(), 16);
    EXPECT_EQ(f.FindTag("A")->EntriesPerNode(), 62);
    EXPECT_EQ(f.FindTag("C")->EntriesPerNode(), 83);
  }
  const std::vector<uint8_t> b = ReadBytes(dir.File("S.MDX"));
  EXPECT_EQ(b[0], 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[4])), "S");
  EXPECT_EQ(Le16(b, 20), 2);
  EXPECT_EQ(Le16(b, 22), 1024);
  EXPECT_EQ(b[24], 1);
  EXPECT_EQ(b[25], 48);
  EXPECT_EQ(b[26], 32);
  EXPECT_EQ(Le16(b, 28), 3);
  EXPECT_EQ(Le32(b, 32) * 512, b.size());
  EXPECT_EQ(b[512 + 17], 1);
  const char* names[] = {"A", "B", "C"};
  const uint8_t chain[] = {2, 3, 0};
  const char types[] = {'N', 'C', 'D'};
  for (int k = 1; k <= 3; ++k) {
    const size_t slot = 512 + 32 * k;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[slot + 4])), names[k - 1]);
    EXPECT_EQ(b[slot + 17], chain[k - 1]);
    EXPECT_EQ(b[slot + 19], 2);
    EXPECT_EQ(b[slot + 20], types[k - 1]);
  }
  // B came first: its header at block 4, its empty root at block 6.
  EXPECT_EQ(Le32(b, 512 + 64), 4u);
  EXPECT_EQ(Le32(b, 4 * 512), 6u);
  EXPECT_EQ(b[4 * 512 + 8], 0x10);
  const size_t a = Le32(b, 512 + 32) * 512, c = Le32(b, 512 + 96) * 512;
  EXPECT_EQ(b[a + 8], 0x50) << "unique";
  EXPECT_EQ(b[a + 23], 64);
  EXPECT_EQ(b[c + 8], 0x18) << "descending";
  EXPECT_EQ(b[c + 245], 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[c + 762])), "TIP = 1");
  // Named like its table: the table's header says so on disk.
  EXPECT_EQ(ReadBytes(dir.File("S.DBF"))[28] & 1, 1);
}

class MdxPeer : public ::testing::TestWithParam<int> {};

// Tags built by the table handler into the table's production file, then,
// for the larger table, random appends, edits and deletions through a
// handler that opened the file by itself: the peer walks every tag as we
// do, every tag agrees with the table, and the keys come in the order of
// their values.
TEST_P(MdxPeer, PerlXBaseReadsOurTagsAsWeDo) {
  const int records = GetParam();
  TempDir dir;
  Rows rows;
  DbfLayout l = TableLayout();
  for (int i = 0; i < records; ++i) l.rows.push_back(rows.Make());
  const std::string path = WriteDbf(dir.File("P.DBF"), l);
  {
    GSO_dBHandler table(path, "", false, true);
    table.OpenTable();
    for (const TagSpec& s : kTags) table.IndexOn("P.MDX", s.name, s.key, s.forExpr, s.uniqueness, s.order);
  }
  if (records > 100) {
    GSO_dBHandler table(path, "", false, true);
    table.OpenTable();
    ASSERT_EQ(table.OpenIndexCount(), 1) << "the production file opens with its table";
    std::mt19937 rng(11);
    for (int op = 0; op < 2000; ++op) {
      const DbfRow row = rows.Make();
      const int what = static_cast<int>(rng() % 3);
      if (what == 0) {
        table.BlankRecord();
      } else {
        table.ReadRecord(static_cast<TRecNo>(1 + rng() % static_cast<uint32_t>(table.RecordCount())));
      }
      if (what == 2) {
        table.MarkDeleted();
      } else {
        for (size_t f = 0; f < l.fields.size(); ++f)
          if (rng() % 2 == 0 || what == 0) table.PutFieldTextByName(l.fields[f].name, row.values[f]);
      }
      if (what == 0)
        table.AppendRecord();
      else
        table.WriteRecord(table.RecNumber());
    }
  }

  IndexTestTable t(path);
  GSobjMDXFile f(&t, dir.File("P.MDX"), false, false, false, false);
  ASSERT_TRUE(f.Valid());
  ExpectSound(f, std::to_string(records) + " records", records > 100);
  std::vector<std::string> names;
  for (const TagSpec& s : kTags) names.push_back(s.name);
  std::vector<Walk> peer;
  const bool peerThere = PeerWalks(dir, dir.File("P.MDX"), names, peer);
  for (size_t i = 0; i < names.size(); ++i) {
    auto& tag = *static_cast<GSobjMDXTag*>(f.FindTag(names[i]));
    const Walk ours = OurWalk(tag);
    if (peerThere) {
      ASSERT_EQ(peer.size(), names.size());
      EXPECT_TRUE(peer[i] == ours) << names[i] << ": the peer walks " << peer[i].size() << " entries, we "
                                   << ours.size();
    }
    // Keys in the order of their values (descending tags the other way).
    std::vector<double> values;
    GSobjIndexKeyData key;
    tag.ResetPages(GSobjIndexTag::kResetRootOnly);
    for (TRecNo r = tag.MoveTo(GotoFirst); r != 0; r = tag.MoveTo(GotoNext))
      if (tag.KeyType() != 'C') values.push_back(tag.CurrentKey().AsFloat());
    std::vector<double> sorted = values;
    if (tag.Ascending())
      std::sort(sorted.begin(), sorted.end());
    else
      std::sort(sorted.rbegin(), sorted.rend());
    EXPECT_EQ(values, sorted) << names[i];
  }
  if (!peerThere) GTEST_SKIP() << "perl XBase module not available";
}

INSTANTIATE_TEST_SUITE_P(Sizes, MdxPeer, ::testing::Values(1, 2, 20000));

TEST(MdxProduction, OpensWithItsTableAndStaysInStep) {
  TempDir dir;
  DbfLayout l = TableLayout();
  Rows rows;
  for (int i = 0; i < 50; ++i) l.rows.push_back(rows.Make());
  const std::string path = WriteDbf(dir.File("T.DBF"), l);
  {
    GSO_dBHandler table(path, "", false, true);
    table.OpenTable();
    EXPECT_EQ(table.OpenIndexCount(), 0);
    table.IndexOn("T.MDX", "NAME", "NAME", "", 1, 0);
    table.IndexOn("T.MDX", "AMT", "AMT", "TIP = 2", 1, 0);
    EXPECT_EQ(table.OpenIndexCount(), 1) << "the new production file is open after the build";
  }
  EXPECT_EQ(ReadBytes(path)[28] & 1, 1) << "the table's production flag is on disk";

  GSO_dBHandler table(path, "", false, true);
  table.OpenTable();
  ASSERT_EQ(table.OpenIndexCount(), 1);
  EXPECT_EQ(table.TagCount(), 2);
  EXPECT_EQ(table.OpenIndexFile("T.MDX"), 0) << "already open: nothing to do";
  table.CloseIndexFiles();
  EXPECT_EQ(table.OpenIndexCount(), 1) << "the production file stays open";
  table.BlankRecord();
  table.PutFieldTextByName("NAME", "ZZZZ");
  table.PutFieldTextByName("AMT", "-0.05");
  table.PutFieldTextByName("TIP", "2");
  table.AppendRecord();
  table.SelectTag("AMT", false);
  table.SetKeyRange("-0,05", "-0,05", true, true, false);  // the locale's decimal comma
  table.ReadRecord(GotoFirst);
  EXPECT_EQ(table.RecNumber(), 51);
  table.SelectTag("NAME", false);
  table.ReadRecord(GotoLast);
  EXPECT_EQ(table.RecNumber(), 51);
  auto* file = dynamic_cast<GSobjMDXFile*>(table.IndexFile(1));
  ASSERT_NE(file, nullptr);
  ExpectSound(*file, "after the append");
}

TEST(MdxDamage, DamagedFilesAreReportedAsCorrupted) {
  TempDir dir;
  DbfLayout l = TableLayout();
  Rows rows;
  for (int i = 0; i < 400; ++i) l.rows.push_back(rows.Make());
  const std::string path = WriteDbf(dir.File("D.DBF"), l);
  {
    GSO_dBHandler table(path, "", false, true);
    table.OpenTable();
    table.IndexOn("X.MDX", "NAME", "NAME", "", 1, 0);
  }
  const std::vector<uint8_t> good = ReadBytes(dir.File("X.MDX"));
  const size_t header = Le32(good, 512 + 32) * 512;
  const size_t root = Le32(good, header) * 512;
  const size_t entry = Le16(good, header + 18);
  ASSERT_NE(Le32(good, root + 8 + entry * Le32(good, root)), 0u) << "the root is a branch";
  auto damaged = [&](auto change) {
    std::vector<uint8_t> b = good;
    change(b);
    WriteBytes(dir.File("X.MDX"), b);
    GSO_dBHandler table(path, "", false, false);
    table.OpenTable();
    return ErrorOf([&] {
      table.OpenIndexFile("X.MDX");
      table.SelectTag("NAME", false);
      for (table.ReadRecord(GotoFirst); !table.Eof(); table.ReadRecord(GotoNext)) {
      }
    });
  };
  const std::string corrupted = "Index file " + dir.File("X.MDX") + " is corrupted";
  EXPECT_EQ(damaged([](auto& b) { b.resize(1000); }), corrupted);
  EXPECT_EQ(damaged([](auto& b) { b[22] = 7; }), corrupted) << "node size";
  EXPECT_EQ(damaged([](auto& b) { b[28] = 60; }), corrupted) << "tag count";
  EXPECT_EQ(damaged([&](auto& b) { b[header + 3] = 0x7F; }), corrupted) << "root block";
  EXPECT_EQ(damaged([&](auto& b) { b[header + 12] = 0; }), corrupted) << "key length";
  EXPECT_EQ(damaged([&](auto& b) { b[header + 24] = '('; }), corrupted) << "key expression";
  EXPECT_EQ(damaged([&](auto& b) { b[root + 2] = 1; }), corrupted) << "key count";
  EXPECT_EQ(damaged([&](auto& b) { b[root + 8] = static_cast<uint8_t>(root / 512); b[root + 9] = 0; }),
            corrupted)
      << "a branch pointing at itself";
  EXPECT_EQ(damaged([&](auto& b) { b[root + 8 + entry + 3] = 0x40; }), corrupted) << "a child outside the file";
  EXPECT_EQ(damaged([](auto&) {}), "(no error)");
}

TEST(MdxTool, BuildListDumpCheckSeekAndRebuild) {
  if (!std::filesystem::exists(ToolPath("deridar"))) GTEST_SKIP() << "deridar tool not built";
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NUM", 'C', 7}, {"AMT", 'N', 8, 2}, {"TIP", 'N', 1}};
  l.rows = {{{"2345678", "-1.50", "1"}}, {{"2000001", "0.05", "1"}}, {{"3000000", "12.00", "2"}},
            {{"2111111", "-0.05", "1"}}};
  const std::string table = WriteDbf(dir.File("PHONE.DBF"), l);
  const std::string mdx = dir.File("PHONE.MDX");
  std::string out;
  ASSERT_EQ(RunDeridar({"index", "build", table, mdx, "--tag", "TELN", "--key", "NUM", "--for", "tip=1", "--descending"}, out), 0)
      << out;
  ASSERT_EQ(RunDeridar({"index", "build", table, mdx, "--tag", "AMT", "--key", "AMT", "--unique"}, out), 0) << out;
  ASSERT_EQ(RunDeridar({"index", "list", table, mdx}, out), 0) << out;
  EXPECT_EQ(out, "AMT\tAMT\t\tunique\nTELN\tNUM\ttip=1\tdescending\n");
  ASSERT_EQ(RunDeridar({"index", "dump", table, mdx, "--tag", "TELN"}, out), 0) << out;
  EXPECT_EQ(out, "1\t2345678\n4\t2111111\n2\t2000001\n");
  ASSERT_EQ(RunDeridar({"index", "dump", table, mdx, "--tag", "AMT"}, out), 0) << out;
  EXPECT_EQ(out, "1\t-1.5\n4\t-0.05\n2\t0.05\n3\t12\n");
  ASSERT_EQ(RunDeridar({"seek", table, mdx, "--tag", "AMT", "--range", "-1", "1"}, out), 0) << out;
  EXPECT_EQ(out.find("2345678"), std::string::npos) << out;
  EXPECT_NE(out.find("2111111"), std::string::npos) << out;
  ASSERT_EQ(RunDeridar({"index", "check", table, mdx}, out), 0) << out;
  EXPECT_NE(out.find("TELN: 3 entries, 1 levels, 1 nodes, ok"), std::string::npos) << out;

  // A record changed behind the index's back is reported, and a rebuild
  // mends the file.
  l.rows[2].values[2] = "1";
  l.flags = 1;
  WriteDbf(table, l);
  EXPECT_EQ(RunDeridar({"index", "check", table, mdx}, out), 1) << out;
  EXPECT_NE(out.find("TELN: record 3 has no entry with its key"), std::string::npos) << out;
  ASSERT_EQ(RunDeridar({"index", "rebuild", table, mdx}, out), 0) << out;
  EXPECT_EQ(RunDeridar({"index", "check", table, mdx}, out), 0) << out;
}

// Tags deleted and the file rebuilt in place keep the tag table in name
// order; renaming the table renames its production file and the table name
// in its header.
TEST(MdxProduction, DeleteTagReindexAndRenameWithTheTable) {
  TempDir dir;
  DbfLayout l = TableLayout();
  Rows rows;
  for (int i = 0; i < 300; ++i) l.rows.push_back(rows.Make());
  const std::string path = WriteDbf(dir.File("R.DBF"), l);
  GSO_dBHandler table(path, "", false, true);
  table.OpenTable();
  for (const char* name : {"C", "A", "B"}) table.IndexOn("R.MDX", name, "NAME", "", 1, 0);
  auto* file = dynamic_cast<GSobjMDXFile*>(table.IndexFile(1));
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->DeleteTag("a"));
  EXPECT_FALSE(file->DeleteTag("A"));
  file->Reindex();
  ASSERT_EQ(file->TagCount(), 2);
  EXPECT_EQ(file->TagByPosition(0)->TagName(), "B");
  ExpectSound(*file, "after the rebuild");
  std::vector<uint8_t> b = ReadBytes(dir.File("R.MDX"));
  EXPECT_EQ(Le16(b, 28), 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[512 + 36])), "B");
  EXPECT_EQ(b[512 + 32 + 17], 2);
  EXPECT_EQ(b[512 + 64 + 17], 0);

  table.RenameTable(dir.File("renamed.dbf"));
  ASSERT_TRUE(std::filesystem::exists(dir.File("renamed.MDX"))) << "the extension is kept";
  b = ReadBytes(dir.File("renamed.MDX"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[4])), "RENAMED");
  table.SelectTag("C", false);
  table.ReadRecord(GotoFirst);
  EXPECT_FALSE(table.Eof());
}
