// Records appended under the table lock: they reach the file in blocks,
// each followed by a header counting exactly the records then on disk;
// reads and edits under the lock see the held ones; a process that dies
// under the lock, or a block write that fails, leaves a header that agrees
// with the records in the file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf_field.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"
#include "table_fixtures.h"

namespace {

constexpr int kInitial = 3;
constexpr int kNameWidth = 250;  // long records: a block is a few thousand

// Records one held block takes before it is written.
int32_t PerBlock(int32_t recordLength) { return (kHeldAppendBytes + recordLength - 1) / recordLength; }

std::unique_ptr<GSO_dBaseFld> OpenFields(const std::string& path) {
  auto table = std::make_unique<GSO_dBaseFld>(path, "", true, true);
  table->OpenTable();
  return table;
}

void AppendNumbered(GSO_dBaseFld& table, int id) {
  table.BlankRecord();
  table.PutFieldTextByName("ID", std::to_string(id));
  table.PutFieldTextByName("NAME", "ROW" + std::to_string(id));
  table.AppendRecord();
}

struct OnDisk {
  int64_t headerCount = 0;
  int64_t wholeRecords = 0;
  int64_t leftOver = 0;  // bytes after the last whole record
};

OnDisk Inspect(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  const int headerLength = bytes[8] | bytes[9] << 8, recordLength = bytes[10] | bytes[11] << 8;
  OnDisk d;
  d.headerCount = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<int64_t>(bytes[7]) << 24;
  d.wholeRecords = (static_cast<int64_t>(bytes.size()) - headerLength) / recordLength;
  d.leftOver = (static_cast<int64_t>(bytes.size()) - headerLength) % recordLength;
  return d;
}

// The ID field of record n as another reader finds it.
std::string IdOf(const std::string& path, TRecNo n) {
  auto reader = OpenFields(path);
  reader->ReadRecord(n);
  std::string id = reader->GetFieldTextByName("ID");
  return id.substr(id.find_first_not_of(' '));
}

class HeldAppends : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteDbf(path_, NumberedLayout(kInitial, 0x03, kNameWidth));
    perBlock_ = PerBlock(RecordLengthOf(NumberedLayout(0, 0x03, kNameWidth)));
  }

  // Runs `child` in a process of its own; its exit code.
  template <typename Child>
  int InChild(Child&& child) {
    const pid_t pid = fork();
    if (pid == 0) {
      int code = 99;
      try {
        code = child();
      } catch (...) {
        code = 98;
      }
      _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  TempDir dir_;
  const std::string path_ = dir_.File("T.DBF");
  int perBlock_ = 0;
};

TEST_F(HeldAppends, BlocksReachTheFileWithTheirCountAndReadsAndEditsUnderTheLockSeeHeldRecords) {
  auto writer = OpenFields(path_);
  ASSERT_TRUE(writer->LockTable());
  const int total = 2 * perBlock_ + 100;
  for (int id = kInitial + 1; id <= kInitial + total; ++id) {
    AppendNumbered(*writer, id);
    if (id == kInitial + 5) {
      // A deletion mark on a record still held changes it where it waits.
      ASSERT_GT(writer->HeldAppendCount(), 0);
      writer->MarkDeleted();
    }
    if (id == kInitial + perBlock_ + 10) {
      // One block is on disk, its header counting it; another reader finds
      // its last record whole.
      const OnDisk d = Inspect(path_);
      EXPECT_EQ(d.headerCount, kInitial + perBlock_);
      EXPECT_EQ(d.wholeRecords, kInitial + perBlock_);
      EXPECT_EQ(IdOf(path_, kInitial + perBlock_), std::to_string(kInitial + perBlock_));
      // The writer reads a held record: the held ones are written first.
      writer->ReadRecord(id - 3);
      const std::string name = "ROW" + std::to_string(id - 3);
      EXPECT_EQ(writer->GetFieldTextByName("NAME").substr(0, name.size() + 1), name + " ");
      EXPECT_EQ(writer->HeldAppendCount(), 0);
      EXPECT_EQ(Inspect(path_).headerCount, id);
    }
  }
  EXPECT_GT(writer->HeldAppendCount(), 0);
  writer->UnlockTable();
  EXPECT_EQ(writer->HeldAppendCount(), 0);

  const OnDisk d = Inspect(path_);
  EXPECT_EQ(d.headerCount, kInitial + total);
  EXPECT_EQ(d.wholeRecords, kInitial + total);
  EXPECT_EQ(d.leftOver, 1);  // the end mark
  writer.reset();
  auto reader = OpenFields(path_);
  ASSERT_EQ(reader->RecordCount(), kInitial + total);
  for (TRecNo n : {TRecNo{1}, TRecNo{kInitial + 1}, TRecNo{kInitial + perBlock_ + 1}, TRecNo{kInitial + total}}) {
    reader->ReadRecord(n);
    EXPECT_EQ(reader->GetNumberByName("ID"), n);
    EXPECT_FALSE(reader->IsDeleted()) << n;
  }
  reader->ReadRecord(kInitial + 5);
  EXPECT_TRUE(reader->IsDeleted());
  EXPECT_EQ(reader->GetNumberByName("ID"), kInitial + 5);
}

TEST_F(HeldAppends, AProcessDyingUnderTheLockLeavesAHeaderCountingTheRecordsOnDisk) {
  const int code = InChild([&] {
    auto writer = OpenFields(path_);
    if (!writer->LockTable()) return 1;
    for (int id = kInitial + 1; id <= kInitial + 2 * perBlock_ + 50; ++id) AppendNumbered(*writer, id);
    _exit(0);  // no unlock, no close: as a killed process
    return 2;
  });
  ASSERT_EQ(code, 0);
  const OnDisk d = Inspect(path_);
  EXPECT_EQ(d.headerCount, kInitial + 2 * perBlock_);
  EXPECT_EQ(d.wholeRecords, d.headerCount);
  EXPECT_EQ(IdOf(path_, kInitial + 2 * perBlock_), std::to_string(kInitial + 2 * perBlock_));
}

TEST_F(HeldAppends, AFailedBlockWriteTakesTheBlockBackAndTheHeaderCountsWhatIsThere) {
  const int64_t headerLength = HeaderLengthOf(NumberedLayout(0, 0x03, kNameWidth));
  const int64_t recordLength = RecordLengthOf(NumberedLayout(0, 0x03, kNameWidth));
  // The file may not grow past half of the second block.
  const int64_t limit = headerLength + (kInitial + perBlock_ + perBlock_ / 2) * recordLength;
  const int code = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit size{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
    if (setrlimit(RLIMIT_FSIZE, &size) != 0) return 1;
    auto writer = OpenFields(path_);
    if (!writer->LockTable()) return 2;
    int id = kInitial + 1;
    try {
      for (; id <= kInitial + 3 * perBlock_; ++id) AppendNumbered(*writer, id);
      return 3;  // the limit was never met
    } catch (const EDeridarError& e) {
      if (std::string(e.what()).find("T.DBF") == std::string::npos) return 4;
    }
    if (id != kInitial + 2 * perBlock_) return 5;  // the append that wrote the second block
    if (writer->RecordCount() != kInitial + perBlock_) return 6;
    writer->UnlockTable();
    writer.reset();
    return 0;
  });
  ASSERT_EQ(code, 0);
  const OnDisk d = Inspect(path_);
  EXPECT_EQ(d.headerCount, kInitial + perBlock_);
  EXPECT_EQ(d.wholeRecords, kInitial + perBlock_);
  EXPECT_EQ(d.leftOver, 1);  // cut back to the first block and its end mark
  auto reader = OpenFields(path_);
  EXPECT_EQ(reader->RecordCount(), kInitial + perBlock_);
  EXPECT_EQ(IdOf(path_, kInitial + perBlock_), std::to_string(kInitial + perBlock_));

  // The table takes appends again where the good records end.
  reader.reset();
  auto writer = OpenFields(path_);
  ASSERT_TRUE(writer->LockTable());
  AppendNumbered(*writer, 7777);
  writer->UnlockTable();
  EXPECT_EQ(Inspect(path_).headerCount, kInitial + perBlock_ + 1);
  EXPECT_EQ(IdOf(path_, kInitial + perBlock_ + 1), "7777");
}

}  // namespace
