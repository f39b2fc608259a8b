// CDX files over real tables: the new file, tags built from the table,
// navigation, key forms per type, descending and GENERAL tags, the version
// counter, damaged files, the foreign sample file, Reindex and the build's
// progress reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/cdx_table.h"
#include "support/dbf_writer.h"
#include "engine/index/gs6_cdx.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbsy.h"
#include "support/temp_dir.h"

using namespace cdx;

namespace {

DbfLayout PhoneLayout() {
  DbfLayout l;
  l.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 35}, {"ADR", 'C', 35}, {"TIP", 'N', 1}};
  return l;
}

// A deterministic directory of `n` entries.
DbfLayout PhoneTable(int n) {
  DbfLayout l = PhoneLayout();
  const char* names[] = {"IVANOV", "PETROV", "SIDOROV", "KUZNETSOV", "SMIRNOV", "POPOV"};
  for (int i = 1; i <= n; ++i) {
    unsigned h = static_cast<unsigned>(i) * 2654435761u;
    std::string num = std::to_string(2000000 + h % 7000000).substr(0, 7);
    std::string fio = std::string(names[h % 6]) + " " + std::to_string(h % 997);
    std::string adr = "STREET " + std::to_string(h % 50) + " " + std::to_string(i);
    l.rows.push_back({{num, fio, adr, std::to_string(1 + (h >> 8) % 3)}});
  }
  return l;
}

std::string KeyText(const GSobjIndexKeyData& k) {
  return std::string(reinterpret_cast<const char*>(k.Data()), k.Length());
}

// Records of the tag in order, walking with MoveTo.
std::vector<TRecNo> Walk(GSobjIndexTag& tag) {
  std::vector<TRecNo> out;
  tag.ResetPages(GSobjIndexTag::kResetRootOnly);
  for (TRecNo r = tag.MoveTo(GotoFirst); r != 0; r = tag.MoveTo(GotoNext)) out.push_back(r);
  return out;
}

// Records passing `keep`, ordered by `key` then record number.
template <class Keep, class Key>
std::vector<TRecNo> Expected(const DbfLayout& l, Keep keep, Key key) {
  std::vector<std::pair<std::string, TRecNo>> v;
  for (size_t i = 0; i < l.rows.size(); ++i)
    if (keep(l.rows[i])) v.push_back({key(l.rows[i]), static_cast<TRecNo>(i + 1)});
  std::sort(v.begin(), v.end());
  std::vector<TRecNo> out;
  for (auto& p : v) out.push_back(p.second);
  return out;
}

std::string Trim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

void ExpectSound(GSobjCDXFile& f, GSobjCDXTag& tag) {
  TreeReport r;
  f.CheckTag(tag, r);
  EXPECT_TRUE(r.problems.empty()) << tag.TagName() << ": " << r.problems.front();
}

}  // namespace

TEST(CdxFile, NewFileIs1536BytesWithEmptyDirectory) {
  TempDir dir;
  WriteDbf(dir.File("PHONE.DBF"), PhoneTable(3));
  IndexTestTable t(dir.File("PHONE.DBF"));
  {
    GSobjCDXFile f(&t, dir.File("TELN.CDX"), true, true, true, false);
    EXPECT_TRUE(f.Valid());
    EXPECT_EQ(f.TagCount(), 0);
  }
  std::vector<uint8_t> b = ReadBytes(dir.File("TELN.CDX"));
  ASSERT_EQ(b.size(), 1536u);
  EXPECT_EQ(GetLE32(&b[0]), 1024u);
  EXPECT_EQ(GetLE16(&b[12]), 10);
  EXPECT_EQ(b[14], 0xE0);
  EXPECT_EQ(b[15], 1);
  EXPECT_EQ(GetLE16(&b[504]), 0);
  EXPECT_EQ(GetLE16(&b[506]), 1);
  EXPECT_EQ(GetLE16(&b[510]), 1);
  const uint8_t* root = &b[1024];
  EXPECT_EQ(GetLE16(root), 3);
  EXPECT_EQ(GetLE16(root + 2), 0);
  EXPECT_EQ(GetLE32(root + 4), 0xFFFFFFFFu);
  EXPECT_EQ(GetLE32(root + 8), 0xFFFFFFFFu);
  EXPECT_EQ(GetLE16(root + 12), 488);
  EXPECT_EQ(root[23], 3);
}

TEST(CdxFile, DirectoryTagsOfTheViewerHoldTheirCategory) {
  TempDir dir;
  DbfLayout l = PhoneTable(3000);
  WriteDbf(dir.File("PHONE.DBF"), l);
  IndexTestTable t(dir.File("PHONE.DBF"));
  struct Step {
    const char* tag;
    const char* key;
    int field;
    int tip;
  } steps[] = {{"TELF", "FIO", 1, 1}, {"TELN", "NUM", 0, 1}, {"TELA", "ADR", 2, 1},
               {"PREDN", "NUM", 0, 2}, {"PREDF", "FIO", 1, 2}, {"TAXN", "NUM", 0, 3},
               {"TAXA", "ADR", 2, 3}};
  for (const Step& s : steps) {
    std::string forText = "tip=" + std::to_string(s.tip);
    {
      GSobjCDXFile f(&t, dir.File(std::string(s.tag) + ".CDX"), true, true, true, false);
      ASSERT_TRUE(f.AddTag(s.tag, s.key, false, true, forText));
    }
    GSobjCDXFile f(&t, dir.File(std::string(s.tag) + ".CDX"), false, false, true, false);
    ASSERT_TRUE(f.Valid());
    ASSERT_EQ(f.TagCount(), 1);
    auto* tag = static_cast<GSobjCDXTag*>(f.TagByPosition(0));
    EXPECT_EQ(tag->TagName(), s.tag);
    EXPECT_EQ(tag->KeyExpression(), s.key);
    EXPECT_EQ(tag->ForExpression(), forText);
    EXPECT_TRUE(tag->HasFor());
    EXPECT_EQ(tag->KeyLength(), s.field == 0 ? 7 : 35);
    auto expected = Expected(
        l, [&](const DbfRow& r) { return r.values[3] == std::to_string(s.tip); },
        [&](const DbfRow& r) { return Trim(r.values[static_cast<size_t>(s.field)]); });
    EXPECT_EQ(Walk(*tag), expected) << s.tag;
    ExpectSound(f, *tag);
  }
}

TEST(CdxFile, TagsSurviveReopenInNameOrderWithTheirFlags) {
  TempDir dir;
  DbfLayout l = PhoneTable(200);
  WriteDbf(dir.File("PHONE.DBF"), l);
  IndexTestTable t(dir.File("PHONE.DBF"));
  {
    GSobjCDXFile f(&t, dir.File("PHONE.CDX"), true, true, true, false);
    ASSERT_TRUE(f.AddTag("zeta", "ADR", false, true, ""));
    ASSERT_TRUE(f.AddTag("Alpha", "NUM", true, true, ""));
    ASSERT_TRUE(f.AddTag("MID", "FIO", false, false, "TIP=2"));
    EXPECT_FALSE(f.AddTag("LONG", "NUM" + std::string(600, ' '), false, true, "")) << "no room for the key";
  }
  GSobjCDXFile f(&t, dir.File("PHONE.CDX"), false, false, true, false);
  ASSERT_TRUE(f.Valid());
  ASSERT_EQ(f.TagCount(), 3);
  EXPECT_EQ(f.TagByPosition(0)->TagName(), "ALPHA");
  EXPECT_EQ(f.TagByPosition(1)->TagName(), "MID");
  EXPECT_EQ(f.TagByPosition(2)->TagName(), "ZETA");
  EXPECT_TRUE(f.TagByPosition(0)->Unique());
  for (int i = 0; i < 3; ++i) ExpectSound(f, *static_cast<GSobjCDXTag*>(f.TagByPosition(i)));
  // The production index is named like the table.
  EXPECT_EQ(t.Table().FlagBits() & 1, 1);

  // A descending tag is stored ascending (the check above walks it so),
  // flagged in its header and read backwards.
  auto* down = static_cast<GSobjCDXTag*>(f.TagByPosition(1));
  EXPECT_FALSE(down->Ascending());
  auto expected = Expected(
      l, [](const DbfRow& r) { return r.values[3] == "2"; }, [](const DbfRow& r) { return Trim(r.values[1]); });
  std::reverse(expected.begin(), expected.end());
  EXPECT_EQ(Walk(*down), expected);
  EXPECT_EQ(GetLE16(&ReadBytes(dir.File("PHONE.CDX"))[static_cast<size_t>(down->HeaderAddress()) + 502]), 1);
}

TEST(CdxFile, NumericAndDateKeysSortByValue) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"AMOUNT", 'N', 10, 2}, {"DAY", 'D', 8}};
  std::vector<std::string> amounts = {"-5.25", "0", "12.5", "-1000", "3", "0.01", "-0.01", "999999.99", "3"};
  std::vector<std::string> days = {"20240101", "19991231", "", "20000229", "18991230", "20240102", "", "21000101", "19700101"};
  for (size_t i = 0; i < amounts.size(); ++i) l.rows.push_back({{amounts[i], days[i]}});
  WriteDbf(dir.File("T.DBF"), l);
  IndexTestTable t(dir.File("T.DBF"));
  GSobjCDXFile f(&t, dir.File("T.CDX"), true, true, true, false);
  ASSERT_TRUE(f.AddTag("AMOUNT", "AMOUNT", false, true, ""));
  ASSERT_TRUE(f.AddTag("DAY", "DAY", false, true, ""));
  auto* amount = f.FindTag("AMOUNT");
  EXPECT_EQ(amount->KeyType(), 'N');
  EXPECT_EQ(amount->KeyLength(), 8);
  EXPECT_EQ(Walk(*amount), (std::vector<TRecNo>{4, 1, 7, 2, 6, 5, 9, 3, 8}));
  auto* day = f.FindTag("DAY");
  EXPECT_EQ(day->KeyType(), 'D');
  EXPECT_EQ(Walk(*day), (std::vector<TRecNo>{3, 7, 5, 9, 2, 4, 1, 6, 8}));
  ExpectSound(f, *static_cast<GSobjCDXTag*>(amount));
  ExpectSound(f, *static_cast<GSobjCDXTag*>(day));

  // Seeking a number finds its entry.
  GSobjIndexKeyData probe;
  probe.SetFloat(3);
  probe.SetLink(static_cast<uint32_t>(-1));
  EXPECT_EQ(amount->SeekKey(probe), 5);
}

TEST(CdxFile, GeneralTagDoublesKeyLengthAndFoldsCase) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NAME", 'C', 7}};
  for (const char* n : {"beta", "ALPHA", "alpha", "\xC4pfel", "Apfel", "Zulu", "strasse", "STRA\xDF" "E"})
    l.rows.push_back({{n}});
  WriteDbf(dir.File("G.DBF"), l);
  IndexTestTable t(dir.File("G.DBF"));
  {
    GSobjCDXFile f(&t, dir.File("G.CDX"), true, true, true, false);
    f.SetDefaultCollation(Collation::General);
    ASSERT_TRUE(f.AddTag("NAME", "NAME", false, true, ""));
    EXPECT_EQ(f.FindTag("NAME")->KeyLength(), 14);
  }
  std::vector<uint8_t> b = ReadBytes(dir.File("G.CDX"));
  GSobjCDXFile f(&t, dir.File("G.CDX"), false, false, true, false);
  auto* tag = static_cast<GSobjCDXTag*>(f.FindTag("NAME"));
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(tag->Collation(), Collation::General);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[static_cast<size_t>(tag->HeaderAddress()) + 494])), "GENERAL");
  EXPECT_EQ(b[static_cast<size_t>(tag->HeaderAddress()) + 15], 2);
  // ALPHA and alpha share a key (record order); Apfel before Äpfel; the
  // two spellings of Strasse are one key.
  EXPECT_EQ(Walk(*tag), (std::vector<TRecNo>{2, 3, 5, 4, 1, 7, 8, 6}));
  ExpectSound(f, *tag);
  GSobjIndexKeyData probe;
  probe.SetText("ALPHA");
  probe.SetLink(static_cast<uint32_t>(-1));
  EXPECT_EQ(tag->SeekKey(probe), 2);
}

TEST(CdxFile, VersionCounterMovesWhenAnotherProcessUpdates) {
  TempDir dir;
  WriteDbf(dir.File("PHONE.DBF"), PhoneTable(50));
  IndexTestTable writer(dir.File("PHONE.DBF"), true);
  {
    GSobjCDXFile f(&writer, dir.File("P.CDX"), true, true, true, false);
    ASSERT_TRUE(f.AddTag("NUM", "NUM", false, true, ""));
  }
  IndexTestTable reader(dir.File("PHONE.DBF"), true);
  GSobjCDXFile seen(&reader, dir.File("P.CDX"), false, false, true, true);
  GSobjCDXFile f(&writer, dir.File("P.CDX"), false, false, true, true);
  EXPECT_FALSE(seen.ChangedByOthers());
  const uint32_t before = f.Directory()->Version();
  writer.Read(7);
  writer.SetField("NUM", "0000001");
  writer.Write(7, {&f});
  EXPECT_EQ(f.Directory()->Version(), before + 1);
  EXPECT_FALSE(f.ChangedByOthers());
  EXPECT_TRUE(seen.ChangedByOthers());
  EXPECT_EQ(GetLE32(ReadBytes(dir.File("P.CDX")).data() + 8), before + 1);
}

TEST(CdxFile, DeleteTagAndReindex) {
  TempDir dir;
  DbfLayout l = PhoneTable(800);
  WriteDbf(dir.File("PHONE.DBF"), l);
  IndexTestTable t(dir.File("PHONE.DBF"));
  {
    GSobjCDXFile f(&t, dir.File("R.CDX"), true, true, true, false);
    ASSERT_TRUE(f.AddTag("A", "NUM", false, true, ""));
    ASSERT_TRUE(f.AddTag("B", "FIO", false, true, ""));
    ASSERT_TRUE(f.AddTag("C", "ADR", false, true, "TIP=1"));
    ASSERT_TRUE(f.AddTag("B", "ADR", false, true, ""));  // replaces B
    EXPECT_EQ(f.TagCount(), 3);
    EXPECT_TRUE(f.DeleteTag("a"));
    EXPECT_FALSE(f.DeleteTag("nosuch"));
    const auto sizeBefore = std::filesystem::file_size(dir.File("R.CDX"));
    f.Reindex();
    EXPECT_LT(std::filesystem::file_size(dir.File("R.CDX")), sizeBefore);
    for (int i = 0; i < f.TagCount(); ++i) ExpectSound(f, *static_cast<GSobjCDXTag*>(f.TagByPosition(i)));
  }
  GSobjCDXFile again(&t, dir.File("R.CDX"), false, false, true, false);
  ASSERT_TRUE(again.Valid());
  ASSERT_EQ(again.TagCount(), 2);
  EXPECT_EQ(again.TagByPosition(0)->TagName(), "B");
  EXPECT_EQ(again.TagByPosition(0)->KeyExpression(), "ADR");
  EXPECT_EQ(again.TagByPosition(1)->TagName(), "C");
  for (int i = 0; i < again.TagCount(); ++i)
    ExpectSound(again, *static_cast<GSobjCDXTag*>(again.TagByPosition(i)));
  EXPECT_TRUE(again.DeleteTag("B"));
  EXPECT_TRUE(again.DeleteTag("C"));
  EXPECT_EQ(std::filesystem::file_size(dir.File("R.CDX")), 1536u) << "no tag left: cut back";
}

// --- the foreign sample file ---

namespace {

std::string SampleDir() { return std::string(DERIDAR_SAMPLES_DIR) + "/dbd-xbase"; }

std::vector<std::pair<TRecNo, std::string>> ExpectedListing(const std::string& tag) {
  std::ifstream in(SampleDir() + "/expected/rooms.cdx." + tag + ".txt");
  std::vector<std::pair<TRecNo, std::string>> out;
  std::string line;
  while (std::getline(in, line)) {
    size_t tab = line.find('\t');
    std::string hex = line.substr(tab + 1), key;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) key += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    out.push_back({std::stoi(line.substr(0, tab)), Trim(key)});
  }
  return out;
}

}  // namespace

TEST(CdxInterop, ForeignFileReadsAsItsListingsShow) {
  TempDir dir;
  std::filesystem::copy_file(SampleDir() + "/rooms.dbf", dir.File("rooms.dbf"));
  std::filesystem::copy_file(SampleDir() + "/rooms.cdx", dir.File("rooms.cdx"));
  IndexTestTable t(dir.File("rooms.dbf"));
  GSobjCDXFile f(&t, dir.File("rooms.cdx"), false, false, false, false);
  ASSERT_TRUE(f.Valid());
  std::vector<std::string> names;
  for (int i = 0; i < f.TagCount(); ++i) names.push_back(f.TagByPosition(i)->TagName());
  EXPECT_EQ(names, (std::vector<std::string>{"AUDIO", "FACILITY", "FILM", "MAIN", "ROOMNAME"}));
  for (const std::string& name : names) {
    GSobjIndexTag* tag = f.FindTag(name);
    std::vector<std::pair<TRecNo, std::string>> got;
    tag->ResetPages(GSobjIndexTag::kResetRootOnly);
    for (TRecNo r = tag->MoveTo(GotoFirst); r != 0; r = tag->MoveTo(GotoNext))
      got.push_back({r, KeyText(tag->CurrentKey())});
    EXPECT_EQ(got, ExpectedListing(name)) << name;
    // Every tag, those whose FOR conditions use "==" too, holds exactly
    // the entries the table gives it.
    TreeReport report;
    f.CheckTag(*static_cast<GSobjCDXTag*>(tag), report, true);
    EXPECT_TRUE(report.problems.empty()) << name << ": " << report.problems.front();
  }
}

// --- damaged files ---

namespace {

// Builds a file with one tag several levels deep; returns the tag's root.
int32_t BuildDeepFile(TempDir& dir, IndexTestTable& t) {
  GSobjCDXFile f(&t, dir.File("D.CDX"), true, true, true, false);
  EXPECT_TRUE(f.AddTag("ADR", "ADR", false, true, ""));
  return f.FindTag("ADR")->RootAddress();
}

void Patch(const std::string& path, size_t offset, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> b = ReadBytes(path);
  std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(offset));
  WriteBytes(path, b);
}

std::vector<uint8_t> LE32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

std::string ErrorOfWalk(IndexTestTable& t, const std::string& path) {
  try {
    GSobjCDXFile f(&t, path, false, false, true, false);
    if (!f.Valid()) return "not valid";
    Walk(*f.FindTag("ADR"));
  } catch (const EDeridarError& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(CdxDamaged, HeaderOutOfRangeMarksFileCorrupt) {
  TempDir dir;
  WriteDbf(dir.File("PHONE.DBF"), PhoneTable(100));
  IndexTestTable t(dir.File("PHONE.DBF"));
  BuildDeepFile(dir, t);
  const std::string path = dir.File("D.CDX");
  const std::vector<uint8_t> good = ReadBytes(path);
  Patch(path, 12, {0xF1, 0});  // directory key length 241
  EXPECT_EQ(ErrorOfWalk(t, path), "not valid");
  WriteBytes(path, good);
  Patch(path, 0, LE32(1u << 30));  // root beyond the file
  EXPECT_EQ(ErrorOfWalk(t, path), "not valid");
  WriteBytes(path, std::vector<uint8_t>(good.begin(), good.begin() + 300));  // a stub of a file
  EXPECT_EQ(ErrorOfWalk(t, path), "not valid");
}

TEST(CdxDamaged, NodesOutOfRangeRaiseCorrupted) {
  TempDir dir;
  WriteDbf(dir.File("PHONE.DBF"), PhoneTable(3000));
  IndexTestTable t(dir.File("PHONE.DBF"));
  const int32_t root = BuildDeepFile(dir, t);
  const std::string path = dir.File("D.CDX");
  const std::vector<uint8_t> good = ReadBytes(path);
  ASSERT_EQ(GetLE16(&good[static_cast<size_t>(root)]), 1) << "root is a branch";
  const std::string corrupted = FormatMessage(Msg::IndexCorrupted, {std::filesystem::path(path).string()});
  const size_t firstChild = static_cast<size_t>(root) + 12 + 35 + 4;

  Patch(path, firstChild, {0x7F, 0, 0, 0});  // child far beyond the file
  EXPECT_EQ(ErrorOfWalk(t, path), corrupted);
  WriteBytes(path, good);
  Patch(path, firstChild, {uint8_t(root >> 24), uint8_t(root >> 16), uint8_t(root >> 8), uint8_t(root)});
  EXPECT_EQ(ErrorOfWalk(t, path), corrupted) << "a cycle back to the root";

  // A leaf whose entry count overruns its info area.
  WriteBytes(path, good);
  const uint32_t leaf = GetBE32(&good[firstChild]);
  Patch(path, leaf + 2, {0xFF, 0x00});
  EXPECT_EQ(ErrorOfWalk(t, path), corrupted);
}

// Other programs set more bits in a node's attribute word (7 on a root
// leaf has been seen); only bit 1 says leaf or branch, bit 0 root.
TEST(CdxInterop, NodeAttributesWithOtherBitsReadByTheLeafBit) {
  TempDir dir;
  DbfLayout l = PhoneTable(3000);
  WriteDbf(dir.File("PHONE.DBF"), l);
  IndexTestTable t(dir.File("PHONE.DBF"));
  int32_t header = 0;
  {
    GSobjCDXFile f(&t, dir.File("D.CDX"), true, true, true, false);
    ASSERT_TRUE(f.AddTag("ADR", "ADR", false, true, ""));
    header = f.FindTag("ADR")->HeaderAddress();
  }
  const std::string path = dir.File("D.CDX");
  std::vector<uint8_t> b = ReadBytes(path);
  for (size_t a = kHeaderSize; a < b.size(); a += kBlockSize)
    if (a != static_cast<size_t>(header) && a != static_cast<size_t>(header) + kBlockSize) b[a] |= 0x04;
  WriteBytes(path, b);
  ASSERT_EQ(b[kHeaderSize], 7) << "the directory's root leaf";

  GSobjCDXFile f(&t, path, false, false, true, false);
  ASSERT_TRUE(f.Valid());
  auto* tag = static_cast<GSobjCDXTag*>(f.FindTag("ADR"));
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(Walk(*tag), Expected(l, [](const DbfRow&) { return true; },
                                 [](const DbfRow& r) { return Trim(r.values[2]); }));
  ExpectSound(f, *tag);
}

TEST(CdxDamaged, RandomDamageIsRefusedOrReadSafely) {
  TempDir dir;
  WriteDbf(dir.File("PHONE.DBF"), PhoneTable(1500));
  IndexTestTable t(dir.File("PHONE.DBF"));
  {
    GSobjCDXFile f(&t, dir.File("D.CDX"), true, true, true, false);
    ASSERT_TRUE(f.AddTag("ADR", "ADR", false, true, ""));
    ASSERT_TRUE(f.AddTag("NUM", "NUM", false, false, "TIP=2"));
  }
  const std::string path = dir.File("D.CDX");
  const std::vector<uint8_t> good = ReadBytes(path);
  std::mt19937 rng(99);
  int refused = 0;
  for (int round = 0; round < 150; ++round) {
    std::vector<uint8_t> bad = good;
    const int flips = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < flips; ++i) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
    WriteBytes(path, bad);
    try {
      GSobjCDXFile f(&t, path, false, false, false, false);
      if (!f.Valid()) {
        ++refused;
        continue;
      }
      for (int i = 0; i < f.TagCount(); ++i) {
        GSobjIndexTag* tag = f.TagByPosition(i);
        tag->ResetPages(GSobjIndexTag::kResetRootOnly);
        int steps = 0;
        for (TRecNo r = tag->MoveTo(GotoFirst); r != 0 && steps < 100000; r = tag->MoveTo(GotoNext)) ++steps;
        ASSERT_LT(steps, 100000) << "round " << round;
        TreeReport report;
        f.CheckTag(*static_cast<GSobjCDXTag*>(tag), report, false);
      }
    } catch (const EDeridarBase&) {
      ++refused;
    }
  }
  EXPECT_GT(refused, 0);
}

namespace {

// A table handler that records its status reports.
class StatusRecorder : public GSO_dBHandler {
 public:
  using GSO_dBHandler::GSO_dBHandler;
  void StatusReport(int32_t a, int32_t b, int32_t c) override { reports.push_back({a, b, c}); }
  std::vector<std::tuple<int32_t, int32_t, int32_t>> reports;
};

}  // namespace

TEST(CdxFile, BuildReportsItsPhasesToTheTableHandler) {
  TempDir dir;
  DbfLayout l = PhoneTable(10);
  WriteDbf(dir.File("PHONE.DBF"), l);
  StatusRecorder table(dir.File("PHONE.DBF"), "", false, true);
  table.OpenTable();
  GSobjCDXFile f(&table, dir.File("S.CDX"), true, true, true, false);
  ASSERT_TRUE(f.AddTag("NUM", "NUM", false, true, "TIP=1"));
  int passing = 0;
  for (const DbfRow& r : l.rows) passing += r.values[3] == "1";
  using R = std::tuple<int32_t, int32_t, int32_t>;
  std::vector<R> expected = {R{-1, 1, 10}};
  for (int n = 1; n <= 10; ++n) expected.push_back(R{1, n, 0});
  expected.push_back(R{0, 0, 0});
  expected.push_back(R{-1, 2, 10});
  for (int k = 1; k <= passing; ++k) expected.push_back(R{2, k, 0});
  expected.push_back(R{0, 0, 0});
  EXPECT_EQ(table.reports, expected);
  ExpectSound(f, *static_cast<GSobjCDXTag*>(f.FindTag("NUM")));
}
