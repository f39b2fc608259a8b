// The deridar tool end to end: info, dump (CSV quoting, code pages, memo
// texts, deleted records, filters), eval, and seek over CDX tags built by
// "deridar index build", checked against brute-force scans of the dump.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "engine/support/gs6_glbl.h"
#include "platform/codepage.h"
#include "engine/table/gs6_dbsy.h"
#include "support/dbf_writer.h"
#include "support/memo_files.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "tools/mkphone/phonegen.h"

namespace {

std::string Oem(const std::string& utf8) { return platform::FromUtf8(utf8, platform::CodePage::Cp866); }

// Standard output of a deridar run that must succeed silently.
// Four records of every field kind the verbs format; the third is deleted.
DbfLayout SampleLayout() {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 5, 1}, {"BORN", 'D', 8}, {"OK", 'L', 1}};
  layout.rows = {
      {{Oem("Жук"), "2.5", "20200131", "T"}}, {{"A, \"B\"", "10.0", "19991231", "F"}},
      {{Oem("Удален"), "3.0", "20010101", "T"}, true}, {{"Ant", "-1.5", "", "F"}},
  };
  return layout;
}

class DeridarTool : public ::testing::Test {
 protected:
  TempDir dir_;
  const std::string path_ = WriteDbf(dir_.File("T.DBF"), SampleLayout());
};

// The lines of a text ended by `eol`.
std::vector<std::string> Lines(const std::string& text, const std::string& eol) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(eol, start)) != std::string::npos; start = end + eol.size())
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "text does not end with a line end";
  return lines;
}

// The unquoted value of one column of a CSV row of the dump.
std::string CsvField(const std::string& row, size_t column) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < row.size(); ++i) {
    const char c = row[i];
    if (quoted && c == '"' && i + 1 < row.size() && row[i + 1] == '"') {
      fields.back().push_back('"');
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  return fields.at(column);
}

}  // namespace

TEST_F(DeridarTool, InfoPrintsHeaderAndFields) {
  DbfLayout layout = SampleLayout();
  layout.version = 0x8B;
  EXPECT_EQ(Deridar({"info", WriteDbf(dir_.File("V.DBF"), layout)}),
            "version 0x8B\nlast update 2026-01-15\nrecords 4\nheader length 161\nrecord length 25\n"
            "language 0x00 code page unknown\ntexts decoded as code page 866\nfields 4\n"
            "NAME C 10 0\nQTY N 5 1\nBORN D 8 0\nOK L 1 0\n");
}

TEST_F(DeridarTool, DumpWritesCsvInUtf8) {
  const struct {
    std::vector<std::string> options;
    const char* csv;
  } cases[] = {
      {{},
       "NAME,QTY,BORN,OK\r\nЖук,2.5,20200131,T\r\n\"A, \"\"B\"\"\",10.0,19991231,F\r\nAnt,-1.5,,F\r\n"},
      {{"--deleted"},
       "_deleted,NAME,QTY,BORN,OK\r\n0,Жук,2.5,20200131,T\r\n0,\"A, \"\"B\"\"\",10.0,19991231,F\r\n"
       "1,Удален,3.0,20010101,T\r\n0,Ant,-1.5,,F\r\n"},
      {{"--filter", "QTY > 0"}, "NAME,QTY,BORN,OK\r\nЖук,2.5,20200131,T\r\n\"A, \"\"B\"\"\",10.0,19991231,F\r\n"},
      {{"--filter", "QTY > 2.5", "--deleted"},
       "_deleted,NAME,QTY,BORN,OK\r\n0,\"A, \"\"B\"\"\",10.0,19991231,F\r\n1,Удален,3.0,20010101,T\r\n"},
      {{"--filter", "NAME = \"Жук\""}, "NAME,QTY,BORN,OK\r\nЖук,2.5,20200131,T\r\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"dump", path_};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(testing::PrintToString(c.options));
    EXPECT_EQ(Deridar(args), c.csv);
  }
  DbfLayout empty = SampleLayout();
  empty.rows.clear();
  EXPECT_EQ(Deridar({"dump", WriteDbf(dir_.File("E.DBF"), empty)}), "NAME,QTY,BORN,OK\r\n");
}

TEST_F(DeridarTool, DumpDecodesTheChosenCodePage) {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}};
  layout.rows = {{{platform::FromUtf8("Жук", platform::CodePage::Cp1251)}}};
  const std::string path = WriteDbf(dir_.File("W.DBF"), layout);
  EXPECT_EQ(Deridar({"dump", path, "--encoding", "1251"}), "NAME\r\nЖук\r\n");
  EXPECT_EQ(Deridar({"dump", path, "--encoding", "none"}), "NAME\r\n" + layout.rows[0].values[0] + "\r\n");
  EXPECT_EQ(RunTool("deridar", {"dump", path, "--encoding", "437"}).exitCode, 2);
}

TEST_F(DeridarTool, TheLanguageByteChoosesTheCodePageUnlessOneIsGiven) {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}};
  layout.rows = {{{platform::FromUtf8("Жук", platform::CodePage::Cp1251)}}};
  const std::string path = dir_.File("L.DBF");
  for (const auto& [language, codePage, decodedAs, text] :
       {std::tuple{0xC9, "1251", "1251", "Жук"}, std::tuple{0x57, "1251", "1251", "Жук"},
        std::tuple{0x65, "866", "866", "Жук"}, std::tuple{0x03, "1252", "866", ""}}) {
    std::vector<uint8_t> bytes = BuildDbf(layout);
    bytes[29] = static_cast<uint8_t>(language);
    WriteBytes(path, bytes);
    SCOPED_TRACE(language);
    EXPECT_NE(Deridar({"info", path}).find(std::string("code page ") + codePage + "\ntexts decoded as code page " +
                                          decodedAs + "\n"),
              std::string::npos);
    const std::string expected =
        std::string(decodedAs) == "1251"
            ? "NAME\r\nЖук\r\n"
            : "NAME\r\n" + platform::ToUtf8(layout.rows[0].values[0], platform::CodePage::Cp866) + "\r\n";
    EXPECT_EQ(Deridar({"dump", path}), expected);
    // A code page given on the command line wins over the table's.
    EXPECT_EQ(Deridar({"dump", path, "--encoding", "1251"}), "NAME\r\nЖук\r\n");
  }
}

TEST_F(DeridarTool, HelpVersionAndPasswordsWorkForEveryVerb) {
  for (const char* verb : {"info", "dump", "eval", "seek", "index"}) {
    const ToolResult help = RunTool("deridar", {verb, "--help"});
    EXPECT_EQ(help.exitCode, 0) << verb;
    EXPECT_NE(help.out.find(std::string("deridar ") + verb), std::string::npos) << help.out;
    EXPECT_TRUE(help.err.empty());
  }
  const ToolResult all = RunTool("deridar", {"--help"});
  EXPECT_EQ(all.exitCode, 0);
  EXPECT_NE(all.out.find("deridar index"), std::string::npos);
  EXPECT_EQ(Deridar({"--version"}).rfind("deridar ", 0), 0u);
  EXPECT_EQ(RunTool("deridar", {"dump", path_, "--password"}).exitCode, 2);

  // An enciphered table is read with its password and refused without it.
  const std::string secret = WriteDbf(dir_.File("S.DBF"), SampleLayout());
  {
    GSO_dBHandler table(secret, "", false, true);
    table.OpenTable();
    table.SetPassword("pw");
  }
  const std::string plain = Deridar({"dump", path_});
  EXPECT_EQ(Deridar({"dump", secret, "--password", "pw"}), plain);
  const ToolResult refused = RunTool("deridar", {"dump", secret});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(refused.out.empty());
  EXPECT_EQ(Deridar({"eval", secret, "NAME", "--password", "pw"}).substr(0, 2), "1\t");
}

TEST_F(DeridarTool, DumpShowsBinaryNumbersOfVersionThirtyTables) {
  DbfLayout layout;
  layout.version = 0x30;
  layout.fields = {{"ID", 'I', 4}, {"PRICE", 'Y', 8}, {"NAME", 'C', 4}};
  layout.rows = {{{std::string("\x2A\0\0\0", 4), std::string("\x10\x27\0\0\0\0\0\0", 8), "ab"}}};
  EXPECT_EQ(Deridar({"dump", WriteDbf(dir_.File("V.DBF"), layout)}), "ID,PRICE,NAME\r\n42,1.0000,ab\r\n");
}

TEST_F(DeridarTool, MemoTextsAreDecodedLikeOtherText) {
  MemoFileBuilder memo(MemoLayout::Db3);
  const int32_t first = memo.Add(Oem("Первая заметка"));
  const int32_t second = memo.Add("two, \"quoted\"\r\nlines");
  memo.Save(dir_.File("M.dbt"));
  DbfLayout layout;
  layout.version = 0x83;
  layout.fields = {{"NAME", 'C', 5}, {"NOTE", 'M', 10}};
  layout.rows = {{{"a", std::to_string(first)}}, {{"b", ""}}, {{"c", std::to_string(second)}}};
  const std::string path = WriteDbf(dir_.File("M.DBF"), layout);
  EXPECT_EQ(Deridar({"dump", path}), "NAME,NOTE\r\na,Первая заметка\r\nb,\r\nc,\"two, \"\"quoted\"\"\r\nlines\"\r\n");
  const std::string eval = Deridar({"eval", path, "NOTE"});
  EXPECT_EQ(eval.substr(0, eval.find('\n')), "1\tПервая заметка");
}

TEST_F(DeridarTool, TableWithAllMemosBlankNeedsNoMemoFile) {
  DbfLayout layout;
  layout.version = 0x83;
  layout.fields = {{"NAME", 'C', 5}, {"NOTE", 'M', 10}};
  layout.rows = {{{"a", ""}}, {{"b", "0"}}};
  const std::string path = WriteDbf(dir_.File("M.DBF"), layout);  // no M.DBT beside it
  EXPECT_EQ(Deridar({"dump", path}), "NAME,NOTE\r\na,\r\nb,\r\n");
  layout.rows.push_back({{"c", "1"}});
  WriteDbf(path, layout);
  const ToolResult run = RunTool("deridar", {"dump", path});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, FormatMessage(Msg::FileNotFound, {dir_.File("M.DBT")}) + "\n");
}

TEST_F(DeridarTool, StructuralIndexIsRecordedInTheTableHeaderOnDisk) {
  const std::string other = WriteDbf(dir_.File("O.DBF"), SampleLayout());
  ASSERT_EQ(ReadBytes(path_)[28] & 0x01, 0);
  Deridar({"index", "build", path_, dir_.File("t.cdx"), "--tag", "NAME", "--key", "NAME"});
  Deridar({"index", "build", other, dir_.File("NOTO.CDX"), "--tag", "NAME", "--key", "NAME"});
  const std::vector<uint8_t> header = ReadBytes(path_);
  EXPECT_EQ(header[28], 0x01);
  EXPECT_EQ(header[4], 4);  // the rest of the header is still the table's
  EXPECT_EQ(ReadBytes(other)[28], 0x00);
}

// Files copied from other systems come with names in any letter case.
TEST_F(DeridarTool, FilesAreFoundInAnotherLetterCase) {
  MemoFileBuilder memo(MemoLayout::Fox, 64);
  const int32_t block = memo.Add("note");
  memo.Save(dir_.File("Phone.Fpt"));
  DbfLayout layout;
  layout.version = 0xF5;
  layout.fields = {{"NUM", 'C', 7}, {"NOTE", 'M', 10}};
  layout.rows = {{{"2345678", std::to_string(block)}}, {{"1234567", ""}}};
  WriteDbf(dir_.File("phone.dbf"), layout);
  EXPECT_EQ(Deridar({"dump", dir_.File("PHONE.DBF")}), "NUM,NOTE\r\n2345678,note\r\n1234567,\r\n");
  Deridar({"index", "build", dir_.File("phone.dbf"), dir_.File("pf.cdx"), "--tag", "NUM", "--key", "NUM"});
  EXPECT_EQ(Lines(Deridar({"seek", dir_.File("PHONE.DBF"), dir_.File("PF.CDX"), "--tag", "NUM", "--key", "1"}),
                  "\r\n"),
            (std::vector<std::string>{"NUM,NOTE", "1234567,"}));
  // Two names that differ only in case: neither is taken.
  WriteDbf(dir_.File("PHONE.dbf"), layout);
  const ToolResult run = RunTool("deridar", {"info", dir_.File("Phone.DBF")});
  EXPECT_EQ(run.err, FormatMessage(Msg::FileNotFound, {dir_.File("Phone.DBF")}) + "\n");
}

TEST_F(DeridarTool, EvalPrintsRecordNumberAndValueOfEachChosenRecord) {
  const struct {
    std::vector<std::string> options;
    const char* out;
  } cases[] = {
      {{"TRIM(NAME)+\"!\""}, "1\tЖук!\n2\tA, \"B\"!\n4\tAnt!\n"}, {{"QTY*2"}, "1\t5\n2\t20\n4\t-3\n"},
      {{"OK .AND. QTY > 2"}, "1\t.T.\n2\t.F.\n4\t.F.\n"},
      // A date field is a date; an empty one is no date and prints nothing.
      {{"BORN"}, "1\t20200131\n2\t19991231\n4\t\n"},
      {{"DTOS(BORN)"}, "1\t20200131\n2\t19991231\n4\t        \n"},
      {{"CTOD(\"01.02.2020\")", "--where", "OK"}, "1\t20200201\n"},
      {{"DELETED()", "--deleted"}, "1\t.F.\n2\t.F.\n3\t.T.\n4\t.F.\n"},
      {{"UPPER(NAME)", "--where", "OK"}, "1\tЖУК       \n"},
      {{"QTY", "--where", "QTY >= 2.5", "--deleted"}, "1\t2.5\n2\t10\n3\t3\n"},
      // Cyrillic literals compare with the table's texts.
      {{"AT(\"ук\", NAME)", "--where", "NAME = \"Жук\""}, "1\t2\n"},
      {{"UPPER(NAME) = \"ЖУК\""}, "1\t.T.\n2\t.F.\n4\t.F.\n"},
      // Functions of the table and of the engine's registry alike.
      {{"STR(RECNO(), 2) + DTOC(BORN) + SOUNDEX(\"ROBERT\")", "--where", "RECNO() = 2"},
       "2\t 231.12.1999R163\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"eval", path_};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(testing::PrintToString(c.options));
    EXPECT_EQ(Deridar(args), c.out);
  }
  DbfLayout empty = SampleLayout();
  empty.rows.clear();
  EXPECT_EQ(Deridar({"eval", WriteDbf(dir_.File("E.DBF"), empty), "QTY"}), "");
}

TEST_F(DeridarTool, FailuresPrintTheEngineMessageAndWrongUsageExitsWithTwo) {
  const std::string missing = dir_.File("NONE.DBF"), bad = dir_.File("BAD.DBF"), unknown = dir_.File("T.IDX");
  std::vector<uint8_t> bytes = BuildDbf(SampleLayout());
  bytes[0] = 0x07;
  WriteBytes(bad, bytes);
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string err;  // the whole message, or a part of it after '~'
  } cases[] = {
      {{"info", missing}, 1, FormatMessage(Msg::FileNotFound, {missing}) + "\n"},
      {{"dump", bad}, 1, FormatMessage(Msg::TableHeaderInvalid, {bad}) + "\n"},
      // A message quoting the expression quotes it as it was typed.
      {{"eval", path_, "NAME +"}, 1, "~NAME +"}, {{"eval", path_, "\"Жук\" +"}, 1, "~\"Жук\" +"},
      {{"eval", path_, "NOSUCHFIELD"}, 1, "~"}, {{"eval", path_, "NAME", "--where", "QTY"}, 1, "~"},
      {{"dump", path_, "--filter", "QTY >"}, 1, "~"},
      // An extension of no format the engine knows is refused.
      {{"index", "build", path_, unknown, "--tag", "N", "--key", "NAME"}, 1,
       FormatMessage(Msg::IndexCorrupted, {unknown}) + "\n"},
      // Wrong usage; with no verb at all the usage of every verb is shown.
      {{}, 2, "~deridar eval TABLE EXPR"}, {{}, 2, "~deridar seek TABLE INDEXFILE [--tag NAME]"},
      {{"frobnicate"}, 2, "~"}, {{"info"}, 2, "~"}, {{"dump", "a.dbf", "b.dbf"}, 2, "~deridar dump TABLE"},
      {{"eval", path_, "NAME", "--where"}, 2, "~"}, {{"eval", path_, "NAME", "--bogus"}, 2, "~"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const ToolResult run = RunTool("deridar", c.args);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_FALSE(run.err.empty());
    if (c.err.front() == '~') {
      EXPECT_NE(run.err.find(c.err.substr(1)), std::string::npos) << run.err;
    } else {
      EXPECT_EQ(run.err, c.err);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(unknown));
}

namespace {

// A generated directory with a TELF tag on FIO, and its dump with and
// without the deleted records.
class DeridarSeek : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(phonegen::WritePhoneDbf(table_, 1500, 7));
    ToolResult build = RunTool("deridar", {"index", "build", table_, index_, "--tag", "TELF", "--key", "FIO"});
    ASSERT_EQ(build.exitCode, 0) << build.err;
    rows_ = Lines(Deridar({"dump", table_}), "\r\n");
    header_ = rows_.front();
    rows_.erase(rows_.begin());
    rowsWithDeleted_ = Lines(Deridar({"dump", table_, "--deleted"}), "\r\n");
    rowsWithDeleted_.erase(rowsWithDeleted_.begin());
  }

  // The rows whose FIO, in code page 866 without trailing blanks, lies in
  // the range (empty bounds are none; with `prefixHigh` the key's prefix is
  // compared with the upper bound), ordered by key then record.
  static std::vector<std::string> BruteForce(const std::vector<std::string>& source, int fioColumn,
                                             const std::string& lowUtf8, const std::string& highUtf8,
                                             bool prefixHigh = false) {
    const std::string low = Oem(lowUtf8), high = Oem(highUtf8);
    std::vector<std::pair<std::string, std::string>> hits;
    for (const std::string& row : source) {
      const std::string key = Oem(CsvField(row, fioColumn));
      if (!low.empty() && key < low) continue;
      if (!high.empty() && (prefixHigh ? key.substr(0, high.size()) : key) > high) continue;
      hits.emplace_back(key, row);
    }
    std::stable_sort(hits.begin(), hits.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (auto& hit : hits) out.push_back(hit.second);
    return out;
  }

  // The rows "deridar seek" prints, after checking its header row.
  std::vector<std::string> Seek(const std::vector<std::string>& options, const std::string& head) {
    std::vector<std::string> args = {"seek", table_, index_, "--tag", "TELF"};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<std::string> lines = Lines(Deridar(args), "\r\n");
    if (lines.empty()) {
      ADD_FAILURE() << "no header row";
      return lines;
    }
    EXPECT_EQ(lines.front(), head);
    lines.erase(lines.begin());
    return lines;
  }

  TempDir dir_;
  const std::string table_ = dir_.File("PHONE.DBF"), index_ = dir_.File("TELF.CDX");
  std::string header_;
  std::vector<std::string> rows_, rowsWithDeleted_;  // in record order
};

}  // namespace

TEST_F(DeridarSeek, RangesAndKeysMatchABruteForceScanOfTheDump) {
  ASSERT_EQ(header_, "NUM,FIO,ADR,TIP");
  ASSERT_GT(rows_.size(), 1000u);
  const std::vector<std::pair<std::string, std::string>> ranges = {
      {"ИВАНОВ", "КОЗЛОВ"}, {"АН", "АП"}, {"", "БОРИСОВ"}, {"ЯБ", ""}, {"", ""},
      {"ТАКСОФОН", "ТАКСОФОН Я"}, {"МАГАЗИН \"", "МАГАЗИН N 9"}, {"Ж", "Ж"}};
  for (const auto& [low, high] : ranges) {
    EXPECT_EQ(Seek({"--range", low, high}, header_), BruteForce(rows_, 1, low, high)) << low << ".." << high;
  }
  const std::vector<std::string> some = BruteForce(rows_, 1, "ИВАНОВ", "КОЗЛОВ");
  ASSERT_GT(some.size(), 20u);
  EXPECT_EQ(Seek({"--range", "ИВАНОВ", "КОЗЛОВ", "--limit", "5"}, header_),
            std::vector<std::string>(some.begin(), some.begin() + 5));

  // A key finds every record beginning with it.
  EXPECT_FALSE(BruteForce(rows_, 1, "ЖУКОВ", "ЖУКОВ", true).empty());
  for (const std::string key : {"ЖУКОВ", "ТАКСОФОН", "АПТЕКА N", "ЯЯЯ"}) {
    EXPECT_EQ(Seek({"--key", key}, header_), BruteForce(rows_, 1, key, key, true)) << key;
  }

  // Deleted records only with --deleted, flagged in a first column.
  const std::vector<std::string> all = Seek({"--range", "", "", "--deleted"}, "_deleted," + header_);
  EXPECT_EQ(all, BruteForce(rowsWithDeleted_, 2, "", ""));
  const size_t deleted =
      std::count_if(all.begin(), all.end(), [](const std::string& row) { return row.rfind("1,", 0) == 0; });
  EXPECT_GT(deleted, 0u);
  EXPECT_EQ(all.size() - deleted, rows_.size());
}

TEST_F(DeridarSeek, MissingTagAndFileAndBadUsage) {
  ToolResult tag = RunTool("deridar", {"seek", table_, index_, "--tag", "NOPE", "--key", "A"});
  EXPECT_EQ(tag.exitCode, 1);
  EXPECT_EQ(tag.err, FormatMessage(Msg::IndexTagNotFound, {"NOPE"}) + "\n");
  EXPECT_TRUE(tag.out.empty());
  const std::string missing = dir_.File("NONE.CDX");
  ToolResult file = RunTool("deridar", {"seek", table_, missing, "--tag", "TELF", "--key", "A"});
  EXPECT_EQ(file.exitCode, 1);
  EXPECT_EQ(file.err, FormatMessage(Msg::FileNotFound, {missing}) + "\n");
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"--key"}, {"--tag", "TELF", "--key", "A", "--range", "A", "B"}}) {
    std::vector<std::string> args = {"seek", table_, index_};
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_EQ(RunTool("deridar", args).exitCode, 2) << testing::PrintToString(options);
  }
}
