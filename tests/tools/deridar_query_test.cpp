// The deridar tool's query verbs end to end: eval, dump with memo texts and
// filters, and seek over CDX tags built by "deridar index build", checked
// against brute-force scans of the dump output.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "engine/support/gs6_glbl.h"
#include "platform/codepage.h"
#include "support/dbf_writer.h"
#include "support/memo_files.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "tools/mkphone/phonegen.h"

namespace {

std::string Oem(const std::string& utf8) { return platform::FromUtf8(utf8, platform::CodePage::Cp866); }

DbfLayout SampleLayout() {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 5, 1}, {"BORN", 'D', 8}, {"OK", 'L', 1}};
  layout.rows = {
      {{Oem("Жук"), "2.5", "20200131", "T"}},
      {{"Bee", "10.0", "19991231", "F"}},
      {{Oem("Удален"), "3.0", "20010101", "T"}, true},
      {{"Ant", "-1.5", "", "F"}},
  };
  return layout;
}

// The lines of a text ended by `eol`.
std::vector<std::string> Lines(const std::string& text, const std::string& eol) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(eol, start)) != std::string::npos; start = end + eol.size())
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "text does not end with a line end";
  return lines;
}

// Splits one CSV row of the dump (fields with quotes are unquoted).
std::vector<std::string> CsvFields(const std::string& row) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < row.size(); ++i) {
    char c = row[i];
    if (quoted) {
      if (c == '"' && i + 1 < row.size() && row[i + 1] == '"') {
        fields.back().push_back('"');
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back().push_back(c);
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  return fields;
}

}  // namespace

TEST(DeridarEval, PrintsRecordNumberAndValuePerLiveRecord) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), SampleLayout());
  ToolResult run = RunTool("deridar", {"eval", path, "TRIM(NAME)+\"!\""});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "1\tЖук!\n2\tBee!\n4\tAnt!\n");
  EXPECT_TRUE(run.err.empty());
}

TEST(DeridarEval, FormatsNumbersLogicalsAndDates) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), SampleLayout());
  ToolResult numbers = RunTool("deridar", {"eval", path, "QTY*2"});
  ASSERT_EQ(numbers.exitCode, 0) << numbers.err;
  EXPECT_EQ(numbers.out, "1\t5\n2\t20\n4\t-3\n");
  ToolResult logicals = RunTool("deridar", {"eval", path, "OK .AND. QTY > 2"});
  ASSERT_EQ(logicals.exitCode, 0) << logicals.err;
  EXPECT_EQ(logicals.out, "1\t.T.\n2\t.F.\n4\t.F.\n");
  // A date field is a date; an empty one is no date and prints nothing.
  ToolResult dates = RunTool("deridar", {"eval", path, "BORN"});
  ASSERT_EQ(dates.exitCode, 0) << dates.err;
  EXPECT_EQ(dates.out, "1\t20200131\n2\t19991231\n4\t\n");
  ToolResult converted = RunTool("deridar", {"eval", path, "CTOD(\"01.02.2020\")", "--where", "OK"});
  ASSERT_EQ(converted.exitCode, 0) << converted.err;
  EXPECT_EQ(converted.out, "1\t20200201\n");
  ToolResult stored = RunTool("deridar", {"eval", path, "DTOS(BORN)"});
  ASSERT_EQ(stored.exitCode, 0) << stored.err;
  EXPECT_EQ(stored.out, "1\t20200131\n2\t19991231\n4\t        \n");
}

TEST(DeridarEval, DeletedAndWhereChooseTheRecords) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), SampleLayout());
  ToolResult all = RunTool("deridar", {"eval", path, "DELETED()", "--deleted"});
  ASSERT_EQ(all.exitCode, 0) << all.err;
  EXPECT_EQ(all.out, "1\t.F.\n2\t.F.\n3\t.T.\n4\t.F.\n");
  ToolResult where = RunTool("deridar", {"eval", path, "UPPER(NAME)", "--where", "OK"});
  ASSERT_EQ(where.exitCode, 0) << where.err;
  EXPECT_EQ(where.out, "1\tЖУК       \n");
  ToolResult whereDeleted =
      RunTool("deridar", {"eval", path, "QTY", "--where", "QTY >= 2.5", "--deleted"});
  ASSERT_EQ(whereDeleted.exitCode, 0) << whereDeleted.err;
  EXPECT_EQ(whereDeleted.out, "1\t2.5\n2\t10\n3\t3\n");
}

TEST(DeridarEval, BadExpressionsPrintTheEngineMessage) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), SampleLayout());
  ToolResult syntax = RunTool("deridar", {"eval", path, "NAME +"});
  EXPECT_EQ(syntax.exitCode, 1);
  EXPECT_TRUE(syntax.out.empty());
  EXPECT_NE(syntax.err.find("NAME +"), std::string::npos) << syntax.err;

  ToolResult unknown = RunTool("deridar", {"eval", path, "NOSUCHFIELD"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_TRUE(unknown.out.empty());
  EXPECT_FALSE(unknown.err.empty());

  ToolResult notLogical = RunTool("deridar", {"eval", path, "NAME", "--where", "QTY"});
  EXPECT_EQ(notLogical.exitCode, 1);
  EXPECT_FALSE(notLogical.err.empty());

  EXPECT_EQ(RunTool("deridar", {"eval", path}).exitCode, 2);
  EXPECT_EQ(RunTool("deridar", {"eval", path, "NAME", "--where"}).exitCode, 2);
  EXPECT_EQ(RunTool("deridar", {"eval", path, "NAME", "--bogus"}).exitCode, 2);
}

TEST(DeridarDump, ShowsMemoTextsDecodedLikeOtherText) {
  TempDir dir;
  MemoFileBuilder memo(MemoLayout::Db3);
  int32_t first = memo.Add(Oem("Первая заметка"));
  int32_t second = memo.Add("two, \"quoted\"\r\nlines");
  memo.Save(dir.File("M.dbt"));
  DbfLayout layout;
  layout.version = 0x83;
  layout.fields = {{"NAME", 'C', 5}, {"NOTE", 'M', 10}};
  layout.rows = {{{"a", std::to_string(first)}}, {{"b", ""}}, {{"c", std::to_string(second)}}};
  std::string path = WriteDbf(dir.File("M.DBF"), layout);
  ToolResult run = RunTool("deridar", {"dump", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "NAME,NOTE\r\n"
            "a,Первая заметка\r\n"
            "b,\r\n"
            "c,\"two, \"\"quoted\"\"\r\nlines\"\r\n");
  ToolResult eval = RunTool("deridar", {"eval", path, "NOTE"});
  ASSERT_EQ(eval.exitCode, 0) << eval.err;
  EXPECT_EQ(eval.out.substr(0, eval.out.find('\n')), "1\tПервая заметка");
}

TEST(DeridarDump, FilterKeepsOnlyPassingRecords) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), SampleLayout());
  ToolResult run = RunTool("deridar", {"dump", path, "--filter", "QTY > 0"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "NAME,QTY,BORN,OK\r\n"
            "Жук,2.5,20200131,T\r\n"
            "Bee,10.0,19991231,F\r\n");
  ToolResult deleted = RunTool("deridar", {"dump", path, "--filter", "QTY > 2.5", "--deleted"});
  ASSERT_EQ(deleted.exitCode, 0) << deleted.err;
  EXPECT_EQ(deleted.out,
            "_deleted,NAME,QTY,BORN,OK\r\n"
            "0,Bee,10.0,19991231,F\r\n"
            "1,Удален,3.0,20010101,T\r\n");
  ToolResult bad = RunTool("deridar", {"dump", path, "--filter", "QTY >"});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_FALSE(bad.err.empty());
  EXPECT_EQ(RunTool("deridar", {"dump", path, "--filter"}).exitCode, 2);
}

namespace {

struct PhoneFixture {
  TempDir dir;
  std::string table;
  std::string index;
  std::string header;
  std::vector<std::string> rows;  // live records of the dump, in record order
  std::vector<std::string> rowsWithDeleted;

  PhoneFixture() {
    table = dir.File("PHONE.DBF");
    index = dir.File("TELF.CDX");
    EXPECT_TRUE(phonegen::WritePhoneDbf(table, 1500, 7));
    ToolResult build = RunTool("deridar", {"index", "build", table, index, "--tag", "TELF", "--key", "FIO"});
    EXPECT_EQ(build.exitCode, 0) << build.err;
    ToolResult dump = RunTool("deridar", {"dump", table});
    EXPECT_EQ(dump.exitCode, 0) << dump.err;
    rows = Lines(dump.out, "\r\n");
    header = rows.front();
    rows.erase(rows.begin());
    ToolResult dumpAll = RunTool("deridar", {"dump", table, "--deleted"});
    rowsWithDeleted = Lines(dumpAll.out, "\r\n");
    rowsWithDeleted.erase(rowsWithDeleted.begin());
  }

  // The rows whose FIO, in code page 866 without trailing blanks, lies in
  // the plain range (empty bounds are none), ordered by key then record.
  static std::vector<std::string> BruteForce(const std::vector<std::string>& source, int fioColumn,
                                             const std::string& lowUtf8, const std::string& highUtf8,
                                             bool prefixHigh) {
    std::string low = Oem(lowUtf8), high = Oem(highUtf8);
    std::vector<std::pair<std::string, std::string>> hits;
    for (const std::string& row : source) {
      std::string key = Oem(CsvFields(row)[fioColumn]);
      if (!low.empty() && key < low) continue;
      if (!high.empty()) {
        std::string cut = prefixHigh ? key.substr(0, high.size()) : key;
        if (cut > high) continue;
      }
      hits.emplace_back(key, row);
    }
    std::stable_sort(hits.begin(), hits.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (auto& hit : hits) out.push_back(hit.second);
    return out;
  }

  std::vector<std::string> Seek(const std::vector<std::string>& args, const std::string& head) {
    std::vector<std::string> all = {"seek", table, index, "--tag", "TELF"};
    all.insert(all.end(), args.begin(), args.end());
    ToolResult run = RunTool("deridar", all);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> lines = Lines(run.out, "\r\n");
    EXPECT_FALSE(lines.empty());
    if (lines.empty()) return lines;
    EXPECT_EQ(lines.front(), head);
    lines.erase(lines.begin());
    return lines;
  }
};

}  // namespace

TEST(DeridarSeek, CyrillicRangeMatchesABruteForceScanOfTheDump) {
  PhoneFixture f;
  ASSERT_EQ(f.header, "NUM,FIO,ADR,TIP");
  ASSERT_GT(f.rows.size(), 1000u);
  const std::vector<std::pair<std::string, std::string>> ranges = {
      {"ИВАНОВ", "КОЗЛОВ"}, {"АН", "АП"}, {"", "БОРИСОВ"}, {"ЯБ", ""},
      {"ТАКСОФОН", "ТАКСОФОН Я"}, {"МАГАЗИН \"", "МАГАЗИН N 9"}, {"Ж", "Ж"}};
  for (const auto& [low, high] : ranges) {
    std::vector<std::string> expected = PhoneFixture::BruteForce(f.rows, 1, low, high, false);
    EXPECT_EQ(f.Seek({"--range", low, high}, f.header), expected) << low << ".." << high;
  }
  std::vector<std::string> some = PhoneFixture::BruteForce(f.rows, 1, "ИВАНОВ", "КОЗЛОВ", false);
  ASSERT_GT(some.size(), 20u);
  EXPECT_EQ(f.Seek({"--range", "ИВАНОВ", "КОЗЛОВ", "--limit", "5"}, f.header),
            std::vector<std::string>(some.begin(), some.begin() + 5));
}

TEST(DeridarSeek, KeyFindsEveryRecordBeginningWithTheKey) {
  PhoneFixture f;
  for (const std::string key : {"ЖУКОВ", "ТАКСОФОН", "АПТЕКА N", "ЯЯЯ"}) {
    std::vector<std::string> expected = PhoneFixture::BruteForce(f.rows, 1, key, key, true);
    EXPECT_EQ(f.Seek({"--key", key}, f.header), expected) << key;
  }
  EXPECT_FALSE(PhoneFixture::BruteForce(f.rows, 1, "ЖУКОВ", "ЖУКОВ", true).empty());
}

TEST(DeridarSeek, DeletedRecordsOnlyWithDeleted) {
  PhoneFixture f;
  std::vector<std::string> expected =
      PhoneFixture::BruteForce(f.rowsWithDeleted, 2, "", "", false);
  std::vector<std::string> got = f.Seek({"--range", "", "", "--deleted"}, "_deleted," + f.header);
  EXPECT_EQ(got, expected);
  size_t deleted = std::count_if(got.begin(), got.end(),
                                 [](const std::string& row) { return row.rfind("1,", 0) == 0; });
  EXPECT_GT(deleted, 0u);
  EXPECT_EQ(got.size() - deleted, f.rows.size());
  EXPECT_EQ(f.Seek({"--range", "", ""}, f.header), PhoneFixture::BruteForce(f.rows, 1, "", "", false));
}

TEST(DeridarSeek, MissingTagAndFileAndBadUsage) {
  PhoneFixture f;
  ToolResult tag = RunTool("deridar", {"seek", f.table, f.index, "--tag", "NOPE", "--key", "A"});
  EXPECT_EQ(tag.exitCode, 1);
  EXPECT_EQ(tag.err, FormatMessage(Msg::IndexTagNotFound, {"NOPE"}) + "\n");
  EXPECT_TRUE(tag.out.empty());
  std::string missing = f.dir.File("NONE.CDX");
  ToolResult file = RunTool("deridar", {"seek", f.table, missing, "--tag", "TELF", "--key", "A"});
  EXPECT_EQ(file.exitCode, 1);
  EXPECT_EQ(file.err, FormatMessage(Msg::FileNotFound, {missing}) + "\n");
  EXPECT_EQ(RunTool("deridar", {"seek", f.table, f.index, "--key", "A"}).exitCode, 2);
  EXPECT_EQ(RunTool("deridar", {"seek", f.table, f.index, "--tag", "TELF"}).exitCode, 2);
  EXPECT_EQ(RunTool("deridar", {"seek", f.table, f.index, "--tag", "TELF", "--key", "A",
                                "--range", "A", "B"}).exitCode, 2);
  EXPECT_EQ(RunTool("deridar", {"seek", f.table, f.index, "--tag", "TELF", "--key", "A",
                                "--limit", "x"}).exitCode, 2);
}

TEST(DeridarEval, CyrillicLiteralsCompareWithTheTablesTexts) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), SampleLayout());
  ToolResult run = RunTool("deridar", {"eval", path, "AT(\"ук\", NAME)", "--where", "NAME = \"Жук\""});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "1\t2\n");
  ToolResult upper = RunTool("deridar", {"eval", path, "UPPER(NAME) = \"ЖУК\""});
  ASSERT_EQ(upper.exitCode, 0) << upper.err;
  EXPECT_EQ(upper.out, "1\t.T.\n2\t.F.\n4\t.F.\n");
  ToolResult filter = RunTool("deridar", {"dump", path, "--filter", "NAME = \"Жук\""});
  ASSERT_EQ(filter.exitCode, 0) << filter.err;
  EXPECT_EQ(filter.out, "NAME,QTY,BORN,OK\r\nЖук,2.5,20200131,T\r\n");
  // A message quoting the expression quotes it as it was typed.
  ToolResult bad = RunTool("deridar", {"eval", path, "\"Жук\" +"});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("\"Жук\" +"), std::string::npos) << bad.err;
}

TEST(DeridarEval, EveryBuiltInFunctionIsUsable) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), SampleLayout());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ALLTRIM(\"  a \")", "a"},     {"LTRIM(\" a\")", "a"},
      {"TRIM(\"a  \")", "a"},         {"UPPER(\"ab\")", "AB"},
      {"LOWER(\"AB\")", "ab"},        {"PROPER(\"ab cd\")", "Ab Cd"},
      {"LEFT(\"abc\",2)", "ab"},      {"RIGHT(\"abc\",2)", "bc"},
      {"SUBSTR(\"abcd\",2,2)", "bc"}, {"SPACE(2)+\"x\"", "  x"},
      {"LEN(\"abc\")", "3"},          {"AT(\"c\",\"abc\")", "3"},
      {"ATC(\"C\",\"abc\")", "3"},    {"STRTRAN(\"aba\",\"a\",\"x\")", "xbx"},
      {"SOUNDEX(\"ROBERT\")", "R163"}, {"ASC(\"A\")", "65"},
      {"CHR(65)", "A"},               {"STR(1.5,5,2)", " 1.50"},
      {"VAL(\"12\")", "12"},      {"CTOD(\"02.03.2004\")", "20040302"},
      {"DTOC(CTOD(\"02.03.2004\"))", "02.03.2004"},
      {"DTOS(CTOD(\"02.03.2004\"))", "20040302"},
      {"DOW(CTOD(\"02.03.2004\"))", "3"},
      {"LEN(DTOS(DATE()))", "8"},     {"LEN(DESCEND(\"ab\"))", "2"},
      {"ABS(0-2)", "2"},              {"INT(7.9)", "7"},
      {"CEILING(7.1)", "8"},          {"FLOOR(7.9)", "7"},
      {"MOD(7,3)", "1"},              {"SIN(0)", "0"},
      {"COS(0)", "1"},                {"TAN(0)", "0"},
      {"ASIN(0)", "0"},               {"ACOS(1)", "0"},
      {"ATAN(0)", "0"},               {"ATN2(0,1)", "0"},
      {"RTOD(DTOR(180))", "180"},     {"INT(PI()*100)", "314"},
      {"LOG(1)", "0"},                {"LOG10(100)", "2"},
      {"INT(FV(100,0.1,2))", "210"},  {"INT(PV(100,0.1,2))", "173"},
      {"IIF(.T.,\"y\",\"n\")", "y"},  {"BETWEEN(2,1,3)", ".T."},
      {"INLIST(2,1,3)", ".F."},       {"EMPTY(\"\")", ".T."},
      {"MAX(1,2)", "2"},              {"MIN(1,2)", "1"},
      {"RECNO()", "1"},               {"DELETED()", ".F."},
  };
  for (const auto& [expression, value] : cases) {
    ToolResult run = RunTool("deridar", {"eval", path, expression, "--where", "RECNO() = 1"});
    EXPECT_EQ(run.exitCode, 0) << expression << ": " << run.err;
    EXPECT_EQ(run.out, "1\t" + value + "\n") << expression;
  }
}

TEST(DeridarEval, EmptyTablePrintsNothingAndUsageListsTheNewVerbs) {
  TempDir dir;
  DbfLayout layout = SampleLayout();
  layout.rows.clear();
  ToolResult run = RunTool("deridar", {"eval", WriteDbf(dir.File("E.DBF"), layout), "QTY"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(run.out.empty());
  ToolResult usage = RunTool("deridar", {});
  EXPECT_EQ(usage.exitCode, 2);
  EXPECT_NE(usage.err.find("deridar eval TABLE EXPR"), std::string::npos) << usage.err;
  EXPECT_NE(usage.err.find("deridar seek TABLE FILE.CDX --tag NAME"), std::string::npos) << usage.err;
  EXPECT_NE(usage.err.find("[--filter EXPR]"), std::string::npos) << usage.err;
}
