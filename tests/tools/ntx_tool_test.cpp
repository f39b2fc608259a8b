// "deridar index" and "deridar seek" on NTX files end to end: a file built
// by the tool lists, dumps and checks like a CDX tag; a table changed behind
// the file's back fails the check and rebuild repairs it; seek finds keys
// through the file's one order without naming it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/table/gs6_dbsy.h"
#include "support/dbf_writer.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

TEST(NtxTool, BuildListDumpCheckRebuildAndSeek) {
  if (!std::filesystem::exists(ToolPath("deridar"))) GTEST_SKIP() << "deridar tool not built";
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 12}, {"TIP", 'N', 1}, {"AMT", 'N', 6, 1}, {"DAY", 'D', 8}};
  // Names in code page 866: "ИВАНОВ", "АНТОНОВ", "ЯКОВЛЕВ".
  const std::string ivanov = "\x88\x82\x80\x8D\x8E\x82";
  const std::string antonov = "\x80\x8D\x92\x8E\x8D\x8E\x82";
  const std::string yakovlev = "\x9F\x8A\x8E\x82\x8B\x85\x82";
  l.rows = {{{"2345678", ivanov, "1", "-12.5", "20240131"}},
            {{"2000001", antonov, "1", "3", ""}},
            {{"3000000", yakovlev, "2", "0", "19991231"}},
            {{"2111111", yakovlev, "1", "-0.5", "20000101"}}};
  const std::string table = WriteDbf(dir.File("PHONE.DBF"), l);
  const std::string telf = dir.File("TELF.NTX"), amt = dir.File("AMT.NTX"), day = dir.File("DAY.NTX");
  auto run = [](std::vector<std::string> args) { return RunTool("deridar", args); };

  ToolResult r = run({"index", "build", table, telf, "--tag", "telf", "--key", "FIO", "--for", "tip=1", "--descending"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(run({"index", "build", table, amt, "--key", "AMT"}).exitCode, 0);
  ASSERT_EQ(run({"index", "build", table, day, "--key", "DAY", "--unique"}).exitCode, 0);
  EXPECT_EQ(run({"index", "build", table, amt, "--tag", "OTHER", "--key", "AMT"}).exitCode, 2)
      << "an NTX order is named after its file";

  EXPECT_EQ(run({"index", "list", table, telf}).out, "TELF\tFIO\ttip=1\tdescending\n");
  EXPECT_EQ(run({"index", "dump", table, telf}).out, "4\tЯКОВЛЕВ\n1\tИВАНОВ\n2\tАНТОНОВ\n");
  EXPECT_EQ(run({"index", "dump", table, amt}).out, "1\t-12.5\n4\t-0.5\n3\t0\n2\t3\n");
  EXPECT_EQ(run({"index", "dump", table, day}).out, "2\t0\n3\t2451544\n4\t2451545\n1\t2460341\n");

  r = run({"index", "check", table, telf});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, "TELF: 3 entries, 1 levels, 1 nodes, ok\n");

  // The order through the table handler: a key search without --tag.
  r = run({"seek", table, telf, "--key", "ЯКОВ"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "NUM,FIO,TIP,AMT,DAY\r\n2111111,ЯКОВЛЕВ,1,-0.5,20000101\r\n");

  // A record changed behind the file's back: check fails, rebuild repairs.
  l.rows[2].values[2] = "1";
  WriteDbf(table, l);
  r = run({"index", "check", table, telf});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("TELF: record 3 has no entry with its key"), std::string::npos) << r.out;
  r = run({"index", "rebuild", table, telf});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(run({"index", "check", table, telf}).exitCode, 0);
  EXPECT_EQ(run({"index", "list", table, telf}).out, "TELF\tFIO\ttip=1\tdescending\n");
  EXPECT_EQ(run({"index", "dump", table, telf}).out, "4\tЯКОВЛЕВ\n3\tЯКОВЛЕВ\n1\tИВАНОВ\n2\tАНТОНОВ\n");

  // A damaged file is named as such.
  std::filesystem::resize_file(day, 1000);
  r = run({"index", "dump", table, day});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Index file " + day + " is corrupted"), std::string::npos) << r.err;
}
