// "deridar index" and "deridar seek" on NDX files end to end: build an
// order, list and dump it, search it, find damage with check and repair it
// with rebuild; a damaged file is reported as corrupted.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/dbf_writer.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

TEST(NdxTool, BuildListDumpSeekCheckAndRebuild) {
  if (!std::filesystem::exists(ToolPath("deridar"))) GTEST_SKIP() << "deridar tool not built";
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 35}, {"SUM", 'N', 7, 2}};
  // Names in code page 866: "ИВАНОВ", "АНТОНОВ", "ЯКОВЛЕВ".
  const std::string ivanov = "\x88\x82\x80\x8D\x8E\x82";
  const std::string antonov = "\x80\x8D\x92\x8E\x8D\x8E\x82";
  const std::string yakovlev = "\x9F\x8A\x8E\x82\x8B\x85\x82";
  l.rows = {{{"2345678", ivanov, "-1.5"}}, {{"2000001", antonov, "0"}}, {{"3000000", yakovlev, "12.25"}},
            {{"2111111", yakovlev, "-40"}}};
  const std::string table = WriteDbf(dir.File("PHONE.DBF"), l);
  const std::string fio = dir.File("TELF.NDX"), sum = dir.File("SUMS.NDX");
  auto run = [](const std::vector<std::string>& args) { return RunTool("deridar", args); };

  ToolResult r = run({"index", "build", table, fio, "--key", "FIO"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(run({"index", "build", table, sum, "--key", "SUM", "--tag", "sums", "--unique"}).exitCode, 0);
  // One order per file, named after it, with neither FOR condition nor
  // descending order; a refused build leaves the file as it was.
  EXPECT_EQ(run({"index", "build", table, fio, "--key", "FIO", "--for", "SUM>0"}).exitCode, 1);
  EXPECT_EQ(run({"index", "build", table, fio, "--key", "FIO", "--descending"}).exitCode, 1);
  r = run({"index", "build", table, fio, "--key", "FIO", "--tag", "OTHER"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("--tag must be TELF"), std::string::npos) << r.err;

  EXPECT_EQ(run({"index", "list", table, fio}).out, "TELF\tFIO\t\t\n");
  EXPECT_EQ(run({"index", "list", table, sum}).out, "SUMS\tSUM\t\tunique\n");
  EXPECT_EQ(run({"index", "dump", table, fio}).out, "2\tАНТОНОВ\n1\tИВАНОВ\n3\tЯКОВЛЕВ\n4\tЯКОВЛЕВ\n");
  EXPECT_EQ(run({"index", "dump", table, sum, "--tag", "SUMS"}).out, "4\t-40\n1\t-1.5\n2\t0\n3\t12.25\n");

  r = run({"seek", table, fio, "--tag", "TELF", "--key", "ЯК"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("3000000"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2111111"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("2345678"), std::string::npos) << r.out;

  r = run({"index", "check", table, fio});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("TELF: 4 entries, 1 levels, 1 nodes, ok"), std::string::npos) << r.out;

  // A record changed behind the order's back is reported, then repaired.
  l.rows[1].values[1] = "ZZZ";
  WriteDbf(table, l);
  r = run({"index", "check", table, fio});
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("TELF: record 2 has no entry with its key"), std::string::npos) << r.out;
  r = run({"index", "rebuild", table, fio});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(run({"index", "check", table, fio}).exitCode, 0);
  EXPECT_EQ(run({"index", "dump", table, fio}).out, "2\tZZZ\n1\tИВАНОВ\n3\tЯКОВЛЕВ\n4\tЯКОВЛЕВ\n");
  EXPECT_FALSE(std::filesystem::exists(fio + ".rebuild"));

  // A leaf whose count runs past its block.
  std::vector<uint8_t> bytes = ReadBytes(fio);
  bytes[512 + 1] = 0x7F;
  WriteBytes(fio, bytes);
  r = run({"index", "dump", table, fio});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("TELF.NDX is corrupted"), std::string::npos) << r.err;
  r = run({"index", "check", table, fio});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("block 1 is damaged"), std::string::npos) << r.out;
  EXPECT_EQ(run({"index", "rebuild", table, fio}).exitCode, 0);
  EXPECT_EQ(run({"index", "check", table, fio}).exitCode, 0);
}
