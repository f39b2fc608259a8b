// The deridar tool end to end: info and dump on tables written by the test
// writer, CSV quoting, code pages, deleted records and failures.
#include <gtest/gtest.h>

#include "engine/support/gs6_glbl.h"
#include "platform/codepage.h"
#include "support/dbf_writer.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

std::string Oem(const std::string& utf8) { return platform::FromUtf8(utf8, platform::CodePage::Cp866); }

DbfLayout SampleLayout() {
  DbfLayout layout;
  layout.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 20}, {"TIP", 'N', 3, 1}};
  layout.rows = {
      {{"2345678", Oem("ИВАНОВ И.И."), "1.0"}},
      {{"3456789", "A, \"B\"", "2.5"}},
      {{"4567890", Oem("УДАЛЕН"), "3.0"}, true},
  };
  return layout;
}

}  // namespace

TEST(DeridarTool, InfoPrintsHeaderAndFields) {
  TempDir dir;
  DbfLayout layout = SampleLayout();
  layout.version = 0x8B;
  std::string path = WriteDbf(dir.File("T.DBF"), layout);
  ToolResult run = RunTool("deridar", {"info", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "version 0x8B\n"
            "records 3\n"
            "header length 129\n"
            "record length 31\n"
            "fields 3\n"
            "NUM C 7 0\n"
            "FIO C 20 0\n"
            "TIP N 3 1\n");
}

TEST(DeridarTool, DumpWritesCsvInUtf8WithoutDeletedRecords) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), SampleLayout());
  ToolResult run = RunTool("deridar", {"dump", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "NUM,FIO,TIP\r\n"
            "2345678,ИВАНОВ И.И.,1.0\r\n"
            "3456789,\"A, \"\"B\"\"\",2.5\r\n");
}

TEST(DeridarTool, DumpWithDeletedAddsAFlagColumn) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), SampleLayout());
  ToolResult run = RunTool("deridar", {"dump", "--deleted", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "_deleted,NUM,FIO,TIP\r\n"
            "0,2345678,ИВАНОВ И.И.,1.0\r\n"
            "0,3456789,\"A, \"\"B\"\"\",2.5\r\n"
            "1,4567890,УДАЛЕН,3.0\r\n");
}

TEST(DeridarTool, DumpDecodesTheChosenCodePage) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}};
  layout.rows = {{{platform::FromUtf8("Жук", platform::CodePage::Cp1251)}}};
  std::string path = WriteDbf(dir.File("T.DBF"), layout);
  ToolResult ansi = RunTool("deridar", {"dump", path, "--encoding", "1251"});
  ASSERT_EQ(ansi.exitCode, 0) << ansi.err;
  EXPECT_EQ(ansi.out, "NAME\r\nЖук\r\n");
  ToolResult raw = RunTool("deridar", {"dump", path, "--encoding", "none"});
  EXPECT_EQ(raw.out, "NAME\r\n" + layout.rows[0].values[0] + "\r\n");
  EXPECT_EQ(RunTool("deridar", {"dump", path, "--encoding", "437"}).exitCode, 2);
}

TEST(DeridarTool, DumpShowsBinaryNumbersOfVersionThirtyTables) {
  TempDir dir;
  DbfLayout layout;
  layout.version = 0x30;
  layout.fields = {{"ID", 'I', 4}, {"PRICE", 'Y', 8}, {"NAME", 'C', 4}};
  layout.rows = {{{std::string("\x2A\0\0\0", 4), std::string("\x10\x27\0\0\0\0\0\0", 8), "ab"}}};
  ToolResult run = RunTool("deridar", {"dump", WriteDbf(dir.File("V.DBF"), layout)});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "ID,PRICE,NAME\r\n42,1.0000,ab\r\n");
}

TEST(DeridarTool, DumpOfAnEmptyTableIsJustTheHeaderRow) {
  TempDir dir;
  DbfLayout layout = SampleLayout();
  layout.rows.clear();
  ToolResult run = RunTool("deridar", {"dump", WriteDbf(dir.File("T.DBF"), layout)});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "NUM,FIO,TIP\r\n");
}

TEST(DeridarTool, FailuresPrintTheEngineMessage) {
  TempDir dir;
  std::string missing = dir.File("NONE.DBF");
  ToolResult run = RunTool("deridar", {"info", missing});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, FormatMessage(Msg::FileNotFound, {missing}) + "\n");
  EXPECT_TRUE(run.out.empty());

  std::string bad = dir.File("BAD.DBF");
  std::vector<uint8_t> bytes = BuildDbf(SampleLayout());
  bytes[0] = 0x07;
  WriteBytes(bad, bytes);
  run = RunTool("deridar", {"dump", bad});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, FormatMessage(Msg::TableHeaderInvalid, {bad}) + "\n");
}

TEST(DeridarTool, WrongUsageExitsWithTwo) {
  EXPECT_EQ(RunTool("deridar", {}).exitCode, 2);
  EXPECT_EQ(RunTool("deridar", {"frobnicate"}).exitCode, 2);
  EXPECT_EQ(RunTool("deridar", {"info"}).exitCode, 2);
  EXPECT_EQ(RunTool("deridar", {"dump"}).exitCode, 2);
  ToolResult run = RunTool("deridar", {"dump", "a.dbf", "b.dbf"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("deridar dump TABLE"), std::string::npos);
}
