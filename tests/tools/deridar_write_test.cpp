// The writing verbs of the deridar tool as a user types them: tables made
// by create, filled by import and changed by set, delete and recall are
// read alike by the two independent peers (memos included); index files
// open during the writes stay in step; bad input is refused with its line
// and field and leaves the files as they were; a record another program
// holds locked is not written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/table/gs6_dbsy.h"
#include "platform/codepage.h"
#include "platform/file.h"
#include "support/dbf_writer.h"
#include "support/peers.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "tools/mkphone/phonegen.h"

namespace {

std::string Utf8(const std::string& oem) { return platform::ToUtf8(oem, platform::CodePage::Cp866); }

std::string WriteText(const TempDir& dir, const std::string& name, const std::string& text) {
  std::ofstream(dir.File(name), std::ios::binary) << text;
  return dir.File(name);
}

std::string CsvQuoted(const std::string& value) {
  std::string out = "\"";
  for (char c : value) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// A peer's rows: per record the deletion flag and the fields' texts.
std::vector<std::vector<std::string>> PeerRows(Peer peer, const std::string& table, const TempDir& dir) {
  std::string out;
  EXPECT_TRUE(RunPeer(peer, {"rows", table}, dir, &out));
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> cells;
    std::istringstream parts(line);
    for (std::string cell; std::getline(parts, cell, '\t');)
      cells.push_back(cells.empty() ? cell : Utf8(Unhex(cell)));
    if (!line.empty() && line.back() == '\t') cells.emplace_back();
    rows.push_back(cells);
  }
  return rows;
}

// Texts in UTF-8 whose code page 866 form is `length` bytes of Cyrillic.
std::string LongText(size_t length, int seed) {
  std::string text;
  const char* words[] = {"дом ", "улица ", "телефон ", "справочник "};
  while (platform::FromUtf8(text, platform::CodePage::Cp866).size() < length) text += words[seed++ % 4];
  return Utf8(platform::FromUtf8(text, platform::CodePage::Cp866).substr(0, length - 1) + ".");
}

class DeridarWriteRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(DeridarWriteRoundTrip, CreateImportSetAndDeleteAreReadAlikeByBothPeers) {
  TempDir dir;
  const int version = GetParam();
  const bool memo = version != 0x03;
  const std::string table = dir.File("T.DBF");
  char versionText[8];
  std::snprintf(versionText, sizeof versionText, "%02X", version);
  std::vector<std::string> create = {"create", table, "--version", versionText, "--field", "NAME:C:20",
                                     "--field", "QTY:N:8:2", "--field", "BORN:D", "--field", "OK:L:1"};
  if (memo) create.insert(create.end(), {"--field", "NOTES:M"});
  Deridar(create);

  // Expected peer rows: deletion flag, NAME, QTY, BORN, OK[, NOTES].
  std::vector<std::vector<std::string>> expected = {
      {"0", "Жук, \"младший\"", "2.50", "20200131", "T", "две\r\nстроки"},
      {"0", "Ant", "-10.00", "19991231", "F", LongText(1500, 1)},
      {"0", "Ёлка", "0.00", "", "", ""},
      {"0", "", "12345.67", "20240229", "T", LongText(700, 2)},
  };
  std::string csv = memo ? "name,Qty,BORN,ok,NOTES\r\n" : "name,Qty,BORN,ok\r\n";
  const std::vector<std::string> typedDates = {"31.01.2020", "19991231", "", "29.02.2024"};
  const std::vector<std::string> typedNumbers = {"2.5", "-10", "", "12345.670"};
  const std::vector<std::string> typedLogicals = {"t", ".F.", "", "yes"};
  for (size_t i = 0; i < expected.size(); ++i) {
    csv += CsvQuoted(expected[i][1]) + "," + typedNumbers[i] + "," + typedDates[i] + "," + typedLogicals[i];
    csv += memo ? "," + CsvQuoted(expected[i][5]) + "\r\n" : "\r\n";
  }
  Deridar({"import", table, WriteText(dir, "in.csv", csv)});
  expected[2][2] = "";  // an empty number stays blank

  std::vector<std::string> set = {"set", table, "2", "QTY=7.25", "name=Муравей"};
  if (memo) set.push_back("NOTES=" + LongText(2100, 3));
  Deridar(set);
  expected[1][1] = "Муравей";
  expected[1][2] = "7.25";
  expected[1][5] = LongText(2100, 3);
  Deridar({"delete", table, "3", "1"});
  Deridar({"recall", table, "1"});
  expected[2][0] = "1";
  if (!memo)
    for (auto& row : expected) row.pop_back();

  std::vector<Peer> peers = {Peer::Perl};
  if (version != 0x8B) peers.push_back(Peer::Python);  // no dBase IV tables there
  for (Peer peer : peers) {
    auto rows = PeerRows(peer, table, dir);
    ASSERT_EQ(rows.size(), expected.size()) << PeerName(peer);
    for (size_t r = 0; r < rows.size(); ++r)
      for (size_t f = 0; f < expected[r].size(); ++f) {
        // Perl reads an empty number as 0, Python as none.
        if (f == 2 && expected[r][f].empty() && rows[r][f] == "0.00") continue;
        EXPECT_EQ(rows[r].at(f), expected[r][f]) << PeerName(peer) << " record " << r + 1 << " field " << f;
      }
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, DeridarWriteRoundTrip, ::testing::Values(0x03, 0x83, 0x8B, 0xF5, 0x30),
                         [](const auto& info) {
                           char name[8];
                           std::snprintf(name, sizeof name, "V%02X", info.param);
                           return std::string(name);
                         });

// A directory CSV of `count` generated rows.
std::string DirectoryCsv(phonegen::PhoneGenerator& gen, int count) {
  std::string csv = "NUM,FIO,ADR,TIP\n";
  for (int i = 0; i < count; ++i) {
    phonegen::PhoneRecord r = gen.Next();
    csv += r.num + "," + CsvQuoted(Utf8(r.fio)) + "," + CsvQuoted(Utf8(r.adr)) + "," + std::to_string(r.tip) + "\n";
  }
  return csv;
}

TEST(DeridarWrite, IndexFilesOpenDuringTheWritesStayInStep) {
  TempDir dir;
  const std::string table = dir.File("PHONE.DBF");
  Deridar({"create", table, "--field", "NUM:C:7", "--field", "FIO:C:35", "--field", "ADR:C:35", "--field", "TIP:N:1"});
  phonegen::PhoneGenerator gen(7);
  Deridar({"import", table, WriteText(dir, "a.csv", DirectoryCsv(gen, 400))});
  const std::string teln = dir.File("TELN.CDX"), telf = dir.File("TELF.CDX");
  Deridar({"index", "build", table, teln, "--key", "NUM", "--for", "TIP=1"});
  Deridar({"index", "build", table, telf, "--key", "UPPER(FIO)", "--for", "TIP=1"});

  // Enough rows to split the nodes of both tags several times.
  Deridar({"import", table, WriteText(dir, "b.csv", DirectoryCsv(gen, 900)), "--index", teln, "--index", telf});
  for (const char* recNo : {"1", "450", "1300"}) {
    // Into the category, out of it, and a new key inside it.
    Deridar({"set", table, recNo, "TIP=1", "FIO=Яковлев А.А.", "--index", teln, "--index", telf});
    Deridar({"set", table, recNo, "NUM=1000" + std::string(recNo).substr(0, 3), "--index", teln, "--index", telf});
  }
  Deridar({"set", table, "2", "TIP=3", "--index", teln, "--index", telf});
  Deridar({"delete", table, "5", "6", "--index", teln, "--index", telf});
  Deridar({"recall", table, "6", "--index", teln, "--index", telf});

  for (const std::string& file : {teln, telf}) {
    ToolResult check = RunTool("deridar", {"index", "check", table, file});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("ok"), std::string::npos) << check.out;
  }
  EXPECT_NE(Deridar({"seek", table, telf, "--key", "ЯКОВЛЕВ А.А."}).find("Яковлев А.А."), std::string::npos);
}

// The number before " levels" in a line of index check.
int CheckedLevels(const std::string& out) {
  const size_t at = out.find(" levels");
  if (at == std::string::npos) return 0;
  size_t from = at;
  while (from > 0 && std::isdigit(static_cast<unsigned char>(out[from - 1]))) --from;
  return std::stoi(out.substr(from, at - from));
}

// A large import holds every index file locked and its nodes in memory till
// the end: what it leaves must be whole trees of several levels, the same
// keys as files built afresh, and a header that counts every record.
TEST(DeridarWrite, ALargeImportLeavesSoundMultiLevelIndexes) {
  TempDir dir;
  const std::string table = dir.File("PHONE.DBF");
  Deridar({"create", table, "--field", "NUM:C:7", "--field", "FIO:C:35", "--field", "ADR:C:35", "--field", "TIP:N:1"});
  phonegen::PhoneGenerator gen(11);
  Deridar({"import", table, WriteText(dir, "a.csv", DirectoryCsv(gen, 50))});
  struct Order {
    std::string file;
    std::vector<std::string> build;
  };
  const std::vector<Order> orders = {
      {dir.File("TELA.CDX"), {"--key", "ADR", "--for", "TIP=1"}},
      {dir.File("TELF.CDX"), {"--key", "UPPER(FIO)"}},
      {dir.File("NUMD.CDX"), {"--key", "VAL(NUM)", "--descending"}},
      {dir.File("TIPN.CDX"), {"--key", "STR(TIP)+NUM", "--unique"}},
  };
  std::vector<std::string> indexArgs;
  for (const Order& o : orders) {
    std::vector<std::string> build = {"index", "build", table, o.file};
    build.insert(build.end(), o.build.begin(), o.build.end());
    Deridar(build);
    indexArgs.push_back("--index");
    indexArgs.push_back(o.file);
  }
  // Every seventh row comes marked deleted (its mark is a second write of
  // the record just appended).
  std::istringstream rows(DirectoryCsv(gen, 6000));
  std::string csv, line;
  for (int i = 0; std::getline(rows, line); ++i) csv += (i == 0 ? "_deleted" : i % 7 == 0 ? "1" : "0") + ("," + line) + "\n";
  std::vector<std::string> import = {"import", table, WriteText(dir, "b.csv", csv)};
  import.insert(import.end(), indexArgs.begin(), indexArgs.end());
  Deridar(import);

  EXPECT_NE(Deridar({"info", table}).find("6050"), std::string::npos);
  const auto peerRows = PeerRows(Peer::Python, table, dir);
  ASSERT_EQ(peerRows.size(), 6050u);
  for (size_t i = 50; i < peerRows.size(); ++i) EXPECT_EQ(peerRows[i][0], (i - 49) % 7 == 0 ? "1" : "0") << i;
  for (const Order& o : orders) {
    ToolResult check = RunTool("deridar", {"index", "check", table, o.file});
    EXPECT_EQ(check.exitCode, 0) << o.file << check.out << check.err;
    EXPECT_NE(check.out.find("ok"), std::string::npos) << check.out;
    if (o.file != dir.File("TIPN.CDX")) {
      EXPECT_GE(CheckedLevels(check.out), 3) << check.out;
    }
    // The same order as a file built from the finished table.
    std::vector<std::string> build = {"index", "build", table, dir.File("FRESH.CDX")};
    build.insert(build.end(), o.build.begin(), o.build.end());
    Deridar(build);
    EXPECT_EQ(Deridar({"index", "dump", table, o.file}), Deridar({"index", "dump", table, dir.File("FRESH.CDX")}))
        << o.file;
    platform::RemoveFile(dir.File("FRESH.CDX"));
  }
}

// The table writes the records of an import in blocks of about a megabyte:
// a directory more than a block long, its deletion marks among them, comes
// back as the table it was dumped from, with an index file in step.
TEST(DeridarWrite, AnImportOfMoreThanAWriteBlockGivesBackTheTableItCameFrom) {
  TempDir dir;
  const std::string source = dir.File("SOURCE.DBF"), table = dir.File("PHONE.DBF");
  ASSERT_TRUE(phonegen::WritePhoneDbf(source, 16000, 5));
  const std::string csv = Deridar({"dump", source, "--deleted"});
  Deridar({"create", table, "--field", "NUM:C:7", "--field", "FIO:C:35", "--field", "ADR:C:35", "--field", "TIP:N:1"});
  const std::string teln = dir.File("TELN.CDX");
  Deridar({"index", "build", table, teln, "--key", "NUM", "--for", "TIP=1"});
  Deridar({"import", table, WriteText(dir, "all.csv", csv), "--index", teln});

  EXPECT_TRUE(Deridar({"dump", table, "--deleted"}) == csv);
  const std::vector<uint8_t> from = ReadBytes(source), to = ReadBytes(table);
  ASSERT_EQ(to.size(), from.size());
  EXPECT_TRUE(std::equal(from.begin() + 32, from.end(), to.begin() + 32));  // past the header's date and stamp
  EXPECT_TRUE(std::equal(from.begin() + 4, from.begin() + 12, to.begin() + 4));  // count and lengths
  ToolResult check = RunTool("deridar", {"index", "check", table, teln});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
}

TEST(DeridarWrite, NoProgressLineWhenStandardErrorIsNoTerminal) {
  TempDir dir;
  const std::string table = dir.File("PHONE.DBF");
  ASSERT_TRUE(phonegen::WritePhoneDbf(table, 100001, 3));
  // Deridar() checks that standard error stays empty.
  Deridar({"index", "build", table, dir.File("TELN.CDX"), "--key", "NUM", "--for", "TIP=1"});
  Deridar({"import", table, WriteText(dir, "a.csv", "NUM,TIP\n1234567,1\n"), "--index", dir.File("TELN.CDX")});
  Deridar({"index", "rebuild", table, dir.File("TELN.CDX")});
}

// Imports into index files that already hold a multi-level tree: new keys
// before, among (equal ones too) and after the old ones, in every format and
// kind of order, first as one large batch and then as a handful. Every order
// must pass index check and list exactly what a build from the finished
// table lists.
// Two listings line by line: their lengths and the first line that differs.
void ExpectSameLines(const std::string& got, const std::string& wanted, const std::string& what) {
  std::istringstream a(got), b(wanted);
  std::string x, y;
  for (int line = 1;; ++line) {
    const bool moreA = static_cast<bool>(std::getline(a, x)), moreB = static_cast<bool>(std::getline(b, y));
    if (!moreA && !moreB) return;
    if (moreA != moreB || x != y) {
      ADD_FAILURE() << what << ", line " << line << ": \"" << (moreA ? x : "(end)") << "\" instead of \""
                    << (moreB ? y : "(end)") << "\"";
      return;
    }
  }
}

// A listing ("record<TAB>key" lines) with the lines of equal keys in
// ascending record order.
std::string TiesByRecord(const std::string& listing) {
  std::vector<std::pair<std::string, long>> lines;
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);) {
    const size_t tab = line.find('\t');
    lines.emplace_back(line.substr(tab + 1), std::stol(line.substr(0, tab)));
  }
  for (size_t from = 0; from < lines.size();) {
    size_t to = from;
    while (to < lines.size() && lines[to].first == lines[from].first) ++to;
    std::sort(lines.begin() + static_cast<long>(from), lines.begin() + static_cast<long>(to));
    from = to;
  }
  std::string out;
  for (const auto& [key, rec] : lines) out += std::to_string(rec) + "\t" + key + "\n";
  return out;
}

class ImportIntoTrees : public ::testing::TestWithParam<std::string> {};

// A key of 20 characters whose tail is stored in full, so that leaves hold
// few entries and the trees grow several levels.
std::string TreeKey(char letter, int n) {
  char key[32];
  std::snprintf(key, sizeof key, "%c%05d-QWERTYUIOPAS", letter, n);
  return key;
}

std::string TreeRows(const std::vector<std::string>& keys, int seed) {
  std::string csv = "KEY,N,TIP\n";
  for (size_t i = 0; i < keys.size(); ++i)
    csv += keys[i] + "," + std::to_string((i * 7919 + static_cast<size_t>(seed)) % 100000) + "," +
           std::to_string(1 + (i + static_cast<size_t>(seed)) % 3) + "\n";
  return csv;
}

TEST_P(ImportIntoTrees, KeysGoInAtFrontMiddleAndEndAsABuildWouldPutThem) {
  const std::string ext = GetParam();
  const bool tagged = ext == "CDX" || ext == "MDX";
  TempDir dir;
  const std::string table = dir.File("T.DBF");
  Deridar({"create", table, "--field", "KEY:C:20", "--field", "N:N:6", "--field", "TIP:N:1"});
  std::vector<std::string> keys;
  for (int i = 0; i < 3000; ++i) keys.push_back(TreeKey('M', 2 * i));
  Deridar({"import", table, WriteText(dir, "a.csv", TreeRows(keys, 0))});

  struct Order {
    std::string name;
    std::vector<std::string> build;
  };
  std::vector<Order> orders = {{"K", {"--key", "KEY"}},
                               {"KU", {"--key", "SUBSTR(KEY,1,4)", "--unique"}},
                               {"KN", {"--key", "N"}}};
  // NDX files have neither FOR conditions nor a descending order.
  if (ext != "NDX") {
    orders.push_back({"KF", {"--key", "KEY", "--for", "TIP=1"}});
    orders.push_back({"KD", {"--key", "KEY", "--descending"}});
  }
  auto fileOf = [&](const Order& o, const std::string& stem) {
    return dir.File((tagged ? stem : stem + o.name) + "." + ext);
  };
  auto build = [&](const Order& o, const std::string& stem) {
    std::vector<std::string> args = {"index", "build", table, fileOf(o, stem)};
    if (tagged) args.insert(args.end(), {"--tag", o.name});
    args.insert(args.end(), o.build.begin(), o.build.end());
    Deridar(args);
  };
  std::vector<std::string> indexArgs;
  for (const Order& o : orders) {
    build(o, "IX");
    if (!tagged || indexArgs.empty()) indexArgs.insert(indexArgs.end(), {"--index", fileOf(o, "IX")});
  }
  auto import = [&](const std::string& name, const std::string& csv) {
    std::vector<std::string> args = {"import", table, WriteText(dir, name, csv)};
    args.insert(args.end(), indexArgs.begin(), indexArgs.end());
    Deridar(args);
  };

  // One batch: keys before every old one, between them, equal to them, and
  // after them, shuffled.
  keys.clear();
  for (int i = 0; i < 700; ++i) {
    keys.push_back(TreeKey('A', i));
    keys.push_back(TreeKey('M', 2 * i * 3 + 1));
    keys.push_back(TreeKey('M', 2 * i * 4));
    keys.push_back(TreeKey('Z', i));
  }
  std::shuffle(keys.begin(), keys.end(), std::mt19937(5));
  import("b.csv", TreeRows(keys, 1));
  // A handful more, each at another place of the now larger tree.
  import("c.csv", TreeRows({TreeKey('A', 5), TreeKey('M', 2999), TreeKey('M', 4000), TreeKey('Z', 9999)}, 2));

  EXPECT_NE(Deridar({"info", table}).find("5804"), std::string::npos);
  for (const Order& o : orders) {
    const std::string file = fileOf(o, "IX");
    ToolResult check = RunTool("deridar", {"index", "check", table, file});
    EXPECT_EQ(check.exitCode, 0) << o.name << check.out << check.err;
    if (o.name == "K") {
      EXPECT_GE(CheckedLevels(check.out), 3) << check.out;
    }
    build(o, "FRESH");
    std::vector<std::string> dump = {"index", "dump", table};
    if (tagged) dump.insert(dump.end(), {"--tag", o.name});
    std::vector<std::string> imported = dump, fresh = dump;
    imported.insert(imported.begin() + 3, file);
    fresh.insert(fresh.begin() + 3, fileOf(o, "FRESH"));
    if (o.name == "KD" && ext != "CDX") {
      // In these descending orders a build puts equal keys in descending
      // record order, while keys added later go after their equals.
      ExpectSameLines(TiesByRecord(Deridar(imported)), TiesByRecord(Deridar(fresh)), ext + " " + o.name);
    } else {
      ExpectSameLines(Deridar(imported), Deridar(fresh), ext + " " + o.name);
    }
  }

  if (ext == "CDX") {
    // The peer walks the merged tags in the same order.
    for (const char* tag : {"K", "KF"}) {
      std::vector<std::string> lines;
      ASSERT_TRUE(RunPerlWalk(dir, kPerlCdxTagWalk, {fileOf(orders[0], "IX"), tag, "C"}, lines)) << "perl XBase missing";
      std::string ours;
      std::istringstream dumped(Deridar({"index", "dump", table, fileOf(orders[0], "IX"), "--tag", tag}));
      std::vector<std::string> records;
      for (std::string line; std::getline(dumped, line);) records.push_back(line.substr(0, line.find('\t')));
      EXPECT_EQ(lines, records) << tag;
    }
  }
}

// A branch whose first child is the branch itself: the keys of a large
// import go in together and meet the circle; the import names the damaged
// file and ends instead of going round.
TEST(ImportIntoTreesDamaged, ABranchLeadingRoundInACircleIsNamed) {
  TempDir dir;
  const std::string table = dir.File("T.DBF"), index = dir.File("IX.CDX");
  Deridar({"create", table, "--field", "KEY:C:20", "--field", "N:N:6", "--field", "TIP:N:1"});
  std::vector<std::string> keys;
  for (int i = 0; i < 3000; ++i) keys.push_back(TreeKey('M', i));
  Deridar({"import", table, WriteText(dir, "a.csv", TreeRows(keys, 0))});
  Deridar({"index", "build", table, index, "--tag", "K", "--key", "KEY"});
  std::vector<uint8_t> bytes = ReadBytes(index);
  bool patched = false;
  for (size_t at = 1536; at + 512 <= bytes.size() && !patched; at += 512) {
    const int attributes = bytes[at] | bytes[at + 1] << 8, count = bytes[at + 2] | bytes[at + 3] << 8;
    if ((attributes & 2) != 0 || attributes > 1 || count == 0) continue;
    uint8_t* child = &bytes[at + 12 + 20 + 4];  // first entry: key, record, child (big-endian)
    for (int i = 0; i < 4; ++i) child[i] = static_cast<uint8_t>(at >> (24 - 8 * i));
    patched = true;
  }
  ASSERT_TRUE(patched);
  WriteBytes(index, bytes);
  keys.clear();
  for (int i = 0; i < 500; ++i) keys.push_back(TreeKey('N', i));
  ToolResult run = RunTool("deridar", {"import", table, WriteText(dir, "b.csv", TreeRows(keys, 1)), "--index", index});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("Index file " + index + " is corrupted"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Formats, ImportIntoTrees, ::testing::Values("CDX", "MDX", "NTX", "NDX"));

class DeridarRefusal : public ::testing::Test {
 protected:
  void SetUp() override {
    Deridar({"create", table_, "--field", "NAME:C:10", "--field", "QTY:N:5:1", "--field", "BORN:D",
             "--field", "OK:L", "--field", "NOTES:M"});
    Deridar({"import", table_, WriteText(dir_, "ok.csv", "NAME,QTY,BORN,OK,NOTES\nЁж,1.5,20200101,T,memo\n")});
    tableBytes_ = ReadBytes(table_);
    memoBytes_ = ReadBytes(dir_.File("T.DBT"));
  }

  // Runs deridar, which must fail with `code` and a message holding every
  // one of `parts`, and leave both files as they were.
  void ExpectRefused(const std::vector<std::string>& args, const std::vector<std::string>& parts, int code = 1) {
    ToolResult run = RunTool("deridar", args);
    EXPECT_EQ(run.exitCode, code) << run.err;
    for (const std::string& part : parts) EXPECT_NE(run.err.find(part), std::string::npos) << run.err;
    EXPECT_TRUE(ReadBytes(table_) == tableBytes_) << run.err;
    EXPECT_TRUE(ReadBytes(dir_.File("T.DBT")) == memoBytes_) << run.err;
  }

  TempDir dir_;
  const std::string table_ = dir_.File("T.DBF");
  std::vector<uint8_t> tableBytes_, memoBytes_;
};

TEST_F(DeridarRefusal, BadRowsStopTheImportWithLineAndFieldBeforeAnythingIsWritten) {
  const std::string header = "NAME,QTY,BORN,OK,NOTES\n";
  // Good rows first (one spanning lines 3 to 4), so a bad row refused only
  // as it came would leave them written.
  const std::string good = "A,1,,,x\n\"B\",2,,,\"two\nlines\"\n";
  const struct {
    std::string row;
    std::vector<std::string> parts;
  } cases[] = {
      {"Одиннадцать,1,,,\n", {"line 5", "field NAME", "11 characters"}},
      {"C,1x,,,\n", {"line 5", "field QTY", "not a number"}},
      {"C,1.25,,,\n", {"line 5", "field QTY", "decimals"}},
      {"C,12345,,,\n", {"line 5", "field QTY", "does not fit"}},
      {"C,1,20230229,,\n", {"line 5", "field BORN", "not a date"}},
      {"C,1,32.01.2020,,\n", {"line 5", "field BORN"}},
      {"C,1,,maybe,\n", {"line 5", "field OK", "logical"}},
      {"C,1,,,€\n", {"line 5", "field NOTES", "866"}},
      {"C,1,,\n", {"line 5", "4 values", "5"}},
      {"C,\"1\"x,,,\n", {"line 5", "closing quote"}},
      {"C,1,,,\"open\n", {"line 5", "not closed"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row);
    ExpectRefused({"import", table_, WriteText(dir_, "bad.csv", header + good + c.row + "D,3,,,\n")}, c.parts);
  }
  ExpectRefused({"import", table_, WriteText(dir_, "bad.csv", "NAME,PHONE\nA,1\n")}, {"line 1", "PHONE"});
  ExpectRefused({"import", table_, WriteText(dir_, "bad.csv", "NAME,name\nA,B\n")}, {"line 1", "twice"});
  ExpectRefused({"import", table_, dir_.File("missing.csv")}, {"missing.csv"});
}

TEST_F(DeridarRefusal, WrongValuesAndRecordsOfSetDeleteAndRecall) {
  ExpectRefused({"set", table_, "1", "NAME=Одиннадцать"}, {"field NAME", "11 characters"});
  // The second value is wrong: the first is not written either.
  ExpectRefused({"set", table_, "1", "NOTES=new", "QTY=abc"}, {"field QTY"});
  ExpectRefused({"set", table_, "1", "PHONE=1"}, {"PHONE"});
  ExpectRefused({"set", table_, "2", "NAME=x"}, {"Record number 2"});
  ExpectRefused({"delete", table_, "1", "9"}, {"Record number 9"}, 1);
  ExpectRefused({"set", table_, "1"}, {"usage"}, 2);
  ExpectRefused({"set", table_, "x", "NAME=y"}, {"usage"}, 2);
  ExpectRefused({"delete", table_, "0"}, {"usage"}, 2);
  ExpectRefused({"recall", table_}, {"usage"}, 2);
}

TEST_F(DeridarRefusal, ARecordLockedElsewhereIsNotWritten) {
  GSO_dBHandler other(table_, "", true, true);
  other.OpenTable();
  ASSERT_TRUE(other.LockRecord(1));
  ExpectRefused({"set", table_, "1", "NAME=x"}, {"locked"});
  ExpectRefused({"delete", table_, "1"}, {"locked"});
  other.UnlockTable();
  Deridar({"set", table_, "1", "NAME=x"});
  EXPECT_NE(Deridar({"dump", table_}).find("x,1.5"), std::string::npos);
}

TEST_F(DeridarRefusal, CreateNeverOverwritesAndChecksItsFields) {
  ExpectRefused({"create", table_, "--field", "A:C:5"}, {"T.DBF"});
  const std::string other = dir_.File("U.DBF");
  // A memo file left behind would be taken for the new table's.
  WriteText(dir_, "U.DBT", "old memos");
  ExpectRefused({"create", other, "--field", "A:M"}, {"U.DBT"});
  EXPECT_FALSE(platform::FileExists(other));
  const struct {
    std::vector<std::string> fields;
    std::string part;
  } cases[] = {
      {{"A:M", "--version", "03"}, "type M"},  {{"A:C:0"}, "length"},    {{"A:N:5:4"}, "decimals"},
      {{"A:C:5", "--field", "a:N:2"}, "twice"}, {{"1A:C:5"}, "name"},     {{"A:D:10"}, "length 8"},
      {{"A:X:5"}, "type X"},                    {{"ABCDEFGHIJK:C:1"}, "name"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"create", other, "--field"};
    args.insert(args.end(), c.fields.begin(), c.fields.end());
    ToolResult run = RunTool("deridar", args);
    EXPECT_EQ(run.exitCode, 1) << c.part;
    EXPECT_NE(run.err.find(c.part), std::string::npos) << run.err;
    EXPECT_FALSE(platform::FileExists(other)) << c.part;
  }
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"create", other}, {"create", other, "--field", "A"}, {"create", other, "--field", "A:C:5", "--version", "04"}}) {
    ToolResult run = RunTool("deridar", args);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find("usage"), std::string::npos);
  }
}

}  // namespace
