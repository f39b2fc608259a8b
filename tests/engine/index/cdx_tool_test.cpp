// The "deridar index" verbs end to end: build a tag, list the file, dump a
// tag in key order and check it against the table. Skipped when the tool
// has not been built.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/dbf_writer.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"


TEST(CdxTool, BuildListDumpAndCheck) {
  if (!std::filesystem::exists(ToolPath("deridar"))) GTEST_SKIP() << "deridar tool not built";
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 35}, {"TIP", 'N', 1}};
  // Names in code page 866: "ИВАНОВ", "АНТОНОВ", "ЯКОВЛЕВ".
  const std::string ivanov = "\x88\x82\x80\x8D\x8E\x82";
  const std::string antonov = "\x80\x8D\x92\x8E\x8D\x8E\x82";
  const std::string yakovlev = "\x9F\x8A\x8E\x82\x8B\x85\x82";
  l.rows = {{{"2345678", ivanov, "1"}}, {{"2000001", antonov, "1"}}, {{"3000000", yakovlev, "2"}},
            {{"2111111", yakovlev, "1"}}};
  const std::string table = WriteDbf(dir.File("PHONE.DBF"), l);
  const std::string cdx = dir.File("TELF.CDX");
  std::string out;

  ASSERT_EQ(RunDeridar({"index", "build", table, cdx, "--tag", "TELF", "--key", "FIO", "--for", "tip=1"}, out), 0) << out;
  ASSERT_EQ(RunDeridar({"index", "build", table, cdx, "--tag", "TELN", "--key", "NUM", "--for", "tip=1", "--descending"}, out), 0)
      << out;
  ASSERT_EQ(RunDeridar({"index", "build", table, cdx, "--tag", "TIPS", "--key", "TIP", "--unique"}, out), 0) << out;

  ASSERT_EQ(RunDeridar({"index", "list", table, cdx}, out), 0) << out;
  EXPECT_EQ(out, "TELF\tFIO\ttip=1\t\nTELN\tNUM\ttip=1\tdescending\nTIPS\tTIP\t\tunique\n");

  ASSERT_EQ(RunDeridar({"index", "dump", table, cdx, "--tag", "TELF"}, out), 0) << out;
  EXPECT_EQ(out, "2\tАНТОНОВ\n1\tИВАНОВ\n4\tЯКОВЛЕВ\n");
  ASSERT_EQ(RunDeridar({"index", "dump", table, cdx, "--tag", "TELN"}, out), 0) << out;
  EXPECT_EQ(out, "1\t2345678\n4\t2111111\n2\t2000001\n");
  ASSERT_EQ(RunDeridar({"index", "dump", table, cdx, "--tag", "TIPS"}, out), 0) << out;
  EXPECT_EQ(out, "1\t1\n3\t2\n");

  ASSERT_EQ(RunDeridar({"index", "check", table, cdx}, out), 0) << out;
  EXPECT_NE(out.find("TELF: 3 entries, 1 levels, 1 nodes, ok"), std::string::npos) << out;

  // A record changed behind the index's back is reported.
  l.rows[2].values[2] = "1";
  WriteDbf(table, l);
  EXPECT_EQ(RunDeridar({"index", "check", table, cdx}, out), 1) << out;
  EXPECT_NE(out.find("TELF: record 3 has no entry with its key"), std::string::npos) << out;

  EXPECT_EQ(RunDeridar({"index", "dump", table, cdx, "--tag", "NOSUCH"}, out), 1);
  EXPECT_NE(out.find("Cannot find index tag NOSUCH"), std::string::npos) << out;
}

// A build whose key or FOR expression fails, at once or on a record deep in
// the table, leaves an existing file byte for byte as it was: the tag of
// that name is still there and still checks.
TEST(CdxTool, AFailedBuildLeavesTheFileAsItWas) {
  if (!std::filesystem::exists(ToolPath("deridar"))) GTEST_SKIP() << "deridar tool not built";
  TempDir dir;
  DbfLayout l;
  l.fields = {{"ID", 'N', 5}, {"NAME", 'C', 10}};
  for (int i = 1; i <= 300; ++i) l.rows.push_back(DbfRow{{std::to_string(i % 250), "N" + std::to_string(i)}});
  const std::string table = WriteDbf(dir.File("T.DBF"), l);
  const std::string cdx = dir.File("T.CDX");
  // Builds a tag of the file with the options that follow its name.
  auto build = [&](std::vector<std::string> tagAndOptions, std::string& out) {
    tagAndOptions.insert(tagAndOptions.begin(), {"index", "build", table, cdx, "--tag"});
    return RunDeridar(tagAndOptions, out);
  };
  std::string out;
  ASSERT_EQ(build({"BYNAME", "--key", "NAME"}, out), 0) << out;
  ASSERT_EQ(build({"BYID", "--key", "ID", "--for", "ID > 3"}, out), 0) << out;
  const std::vector<uint8_t> before = ReadBytes(cdx);

  const std::vector<std::string> failing[] = {
      {"BYNAME", "--key", "NOSUCH(NAME)"},                 // does not compile
      {"BYNAME", "--key", "NAME", "--for", "NOSUCH > 1"},  // FOR does not compile
      {"BYNAME", "--key", "STR(1000/ID,10)"},              // faults on record 250
      {"BYID", "--key", "ID", "--for", "1000/ID > 1"},     // FOR faults on record 250
      {"NEWTAG", "--key", "STR(1000/ID,10)"},              // a new tag: nothing added
  };
  for (const std::vector<std::string>& args : failing) {
    EXPECT_NE(build(args, out), 0) << args[0] << " " << args[2];
    EXPECT_TRUE(ReadBytes(cdx) == before) << args[0] << " " << args[2] << ": " << out;
  }
  // Nor is a new file left behind.
  const std::string fresh = dir.File("NEW.CDX");
  EXPECT_NE(RunDeridar({"index", "build", table, fresh, "--tag", "X", "--key", "STR(1000/ID,10)"}, out), 0);
  EXPECT_FALSE(std::filesystem::exists(fresh)) << out;
  ASSERT_EQ(RunDeridar({"index", "check", table, cdx}, out), 0) << out;
  EXPECT_NE(out.find("BYNAME: 300 entries"), std::string::npos) << out;
  EXPECT_NE(out.find("BYID: 293 entries"), std::string::npos) << out;
}
