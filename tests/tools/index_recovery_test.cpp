// Index files left behind by a writer that stopped half-way: "deridar index
// check" reports them (exit 1) and "deridar index rebuild" makes every tag
// anew from its stored definition, after which check passes. A writer killed
// in the middle of its updates leaves no lock behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbsy.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "tools/mkphone/phonegen.h"

namespace {

constexpr int kRecords = 2000;

// PHONE.DBF and PHONE.CDX with tags of every kind of definition: unique,
// descending with a FOR condition, GENERAL collation, plain.
struct Directory {
  explicit Directory(const TempDir& dir) : table(dir.File("PHONE.DBF")), index(dir.File("PHONE.CDX")) {
    EXPECT_TRUE(phonegen::WritePhoneDbf(table, kRecords, 7));
    GSO_dBHandler handler(table, "", false, true);
    handler.OpenTable();
    handler.IndexOn(index, "TELN", "NUM", "", 0, 0);
    handler.IndexOn(index, "TELF", "FIO", "TIP=1", 1, 1);
    handler.IndexOn(index, "GENF", "FIO+NUM", "", 1, 7);
    handler.IndexOn(index, "TIPS", "TIP", "", 1, 0);
  }
  ToolResult Index(const std::string& action) { return RunTool("deridar", {"index", action, table, index}); }

  std::string table, index;
};

// Where a rebuild makes its scratch file: beside the index, with the
// index's extension, which names its format.
std::string Scratch(const std::string& index) {
  std::filesystem::path p(index);
  return (p.parent_path() / (p.stem().string() + ".rebuild" + p.extension().string())).string();
}

// Rebuilds and expects the same tags, all passing the check.
void ExpectRebuildRepairs(Directory& d, const std::string& listBefore) {
  ToolResult rebuild = d.Index("rebuild");
  ASSERT_EQ(rebuild.exitCode, 0) << rebuild.err;
  EXPECT_NE(rebuild.out.find("4 tags rebuilt from"), std::string::npos) << rebuild.out;
  EXPECT_EQ(d.Index("list").out, listBefore);
  ToolResult check = d.Index("check");
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  EXPECT_FALSE(std::filesystem::exists(Scratch(d.index)));
}

}  // namespace

TEST(IndexRecovery, RecordsWrittenPastTheIndexAreReportedAndRebuilt) {
  TempDir dir;
  Directory d(dir);
  const std::string list = d.Index("list").out;
  ASSERT_EQ(d.Index("check").exitCode, 0);

  // A writer that died after its table writes and before its index writes:
  // one record appended and one edited, neither in the tags.
  {
    GSO_dBHandler table(d.table, "", false, true);
    table.OpenTable();
    table.ReadRecord(5);
    table.PutFieldTextByName("FIO", "AAAA");
    table.PutFieldTextByName("TIP", "1");
    table.WriteRecord(5);
    table.BlankRecord();
    table.PutFieldTextByName("NUM", "1000000");
    table.PutFieldTextByName("FIO", "ZZZZ");
    table.PutFieldTextByName("TIP", "1");
    table.AppendRecord();
  }
  ToolResult check = d.Index("check");
  EXPECT_EQ(check.exitCode, 1);
  const std::string appended = std::to_string(kRecords + 1);
  EXPECT_NE(check.out.find("TELN: record " + appended + " has no entry with its key"), std::string::npos)
      << check.out;
  EXPECT_NE(check.out.find("GENF: record 5 has no entry with its key"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("GENF: record 5 has an entry it should not have"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("\"deridar index rebuild " + d.table + " " + d.index + "\""), std::string::npos)
      << check.out;
  ExpectRebuildRepairs(d, list);
  ToolResult dump = RunTool("deridar", {"index", "dump", d.table, d.index, "--tag", "TELF"});
  EXPECT_NE(dump.out.find("\n5\tAAAA\n"), std::string::npos);
}

TEST(IndexRecovery, AHalfWrittenNodeIsReportedAndRebuilt) {
  TempDir dir;
  Directory d(dir);
  const std::string list = d.Index("list").out;
  // The last node written lost its second half.
  const auto size = std::filesystem::file_size(d.index);
  {
    std::fstream file(d.index, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(size - 256));
    const std::string zeros(256, '\0');
    file.write(zeros.data(), 256);
  }
  ToolResult check = d.Index("check");
  EXPECT_EQ(check.exitCode, 1) << check.out;
  EXPECT_NE((check.out + check.err).find("TIPS"), std::string::npos) << check.out << check.err;
  // A rebuild that died earlier left its half-made scratch file behind.
  std::ofstream(Scratch(d.index)) << "half a file";
  ExpectRebuildRepairs(d, list);
}

TEST(IndexRecovery, AWriterKilledMidUpdateLeavesNoLocksAndARebuildableIndex) {
  TempDir dir;
  Directory d(dir);
  const std::string list = d.Index("list").out;
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    // Appends and edits with the index open until it is killed.
    try {
      GSO_dBHandler table(d.table, "", true, true);
      table.OpenTable();
      table.OpenIndexFile(d.index);
      for (int k = 1;; ++k) {
        table.BlankRecord();
        table.PutFieldTextByName("NUM", std::to_string(1000000 + k));
        table.PutFieldTextByName("FIO", "W" + std::to_string(k));
        table.PutFieldTextByName("TIP", std::to_string(1 + k % 3));
        table.AppendRecord();
        const TRecNo n = (k * 37) % kRecords + 1;
        if (table.LockRecord(n)) {
          table.ReadRecord(n);
          table.PutFieldTextByName("FIO", "E" + std::to_string(k));
          table.WriteRecord(n);
          table.UnlockTable();
        }
      }
    } catch (...) {
    }
    _exit(1);
  }
  // Kill it once it has appended a hundred records.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  const auto grown = std::filesystem::file_size(d.table) + 100 * 79;
  while (std::filesystem::file_size(d.table) < grown && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  kill(writer, SIGKILL);
  int status = 0;
  waitpid(writer, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;

  // Its locks died with it: every lock of the table and the index is free.
  {
    GSO_dBHandler table(d.table, "", true, true);
    table.OpenTable();
    ASSERT_EQ(table.OpenIndexFile(d.index), 0);
    EXPECT_TRUE(table.LockIndexes());
    table.UnlockIndexes();
    EXPECT_TRUE(table.LockRecord(1));
    table.UnlockTable();
    EXPECT_TRUE(table.LockHeader());
    table.UnlockTable();
    EXPECT_TRUE(table.LockAll());
    table.UnlockTable();
    // Every record it counts can be read.
    EXPECT_GT(table.RecordCount(), kRecords);
    for (TRecNo n = 1; n <= table.RecordCount(); ++n) table.ReadRecord(n);
  }
  ToolResult check = d.Index("check");
  EXPECT_TRUE(check.exitCode == 0 || check.exitCode == 1) << check.out << check.err;
  ExpectRebuildRepairs(d, list);
}
