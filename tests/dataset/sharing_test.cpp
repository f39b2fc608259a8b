// Two processes sharing one table, its compound index file, its production
// MDX file (opened with the table), an NTX file and an NDX file beside them
// under each lock protocol: one appends and edits records with the index
// files open while the other walks a tag of each file within a key range; a
// record lock held by one is refused to the other's dataset. Two writers
// append records with memo texts side by side. Afterwards every tag of every
// file agrees with the table (also for "deridar index check") and no record
// or memo is lost, torn or shared.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dataset/Razuz6oz.h"
#include "open_on.h"
#include "engine/index/gs6_cdx.h"
#include "engine/index/gs6_ntx.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbsy.h"
#include "support/dataset_fixtures.h"
#include "support/dbf_writer.h"
#include "support/memo_files.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

constexpr int kInitialRows = 300;
constexpr int kAppends = 200;

// Zero-padded record code: the immutable key the reader ranges over.
std::string Code(int id) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%06d", id);
  return buffer;
}

// Every record carries its name twice (NAME and TWIN): a record written or
// read only in part shows up as two different texts.
std::string MakeTable(const TempDir& dir) {
  DbfLayout layout;
  layout.fields = {{"ID", 'N', 6}, {"CODE", 'C', 6}, {"NAME", 'C', 12}, {"TWIN", 'C', 12}};
  for (int i = 1; i <= kInitialRows; ++i) {
    std::string name = "R" + std::to_string(i);
    layout.rows.push_back(DbfRow{{std::to_string(i), Code(i), name, name}});
  }
  std::string path = WriteDbf(dir.File("T.DBF"), layout);
  GSO_dBHandler table(path, "", false, true);
  table.OpenTable();
  table.IndexOn("T.CDX", "BYCODE", "CODE", "", 1, 0);
  table.IndexOn("T.CDX", "BYNAME", "NAME", "", 1, 1);
  table.IndexOn("T.CDX", "LATE", "NAME+CODE", "ID > 250", 1, 0);
  table.IndexOn("T.CDX", "INITIAL", "LEFT(NAME,1)", "", 0, 7);
  table.IndexOn("T.MDX", "MCODE", "CODE", "", 1, 0);
  table.IndexOn("T.MDX", "MNAME", "NAME", "", 1, 1);
  table.IndexOn("T.MDX", "MLATE", "NAME+CODE", "ID > 250", 1, 0);
  table.IndexOn("T.MDX", "MID", "ID", "", 1, 1);
  table.IndexOn("T.NTX", "", "NAME", "", 1, 0);
  table.IndexOn("T.NDX", "", "NAME", "", 1, 0);
  return path;
}

std::unique_ptr<GSO_dBHandler> OpenShared(const std::string& path, TgsLokProtocol protocol,
                                          bool readWrite) {
  auto table = std::make_unique<GSO_dBHandler>(path, "", true, readWrite);
  table->OpenTable();
  table->SetLockProtocol(protocol);
  if (table->OpenIndexFile("T.CDX") != 0) throw std::runtime_error("T.CDX not opened");
  for (const char* single : {"T.NTX", "T.NDX"}) {
    const bool present = std::filesystem::exists(std::filesystem::path(path).parent_path() / single);
    if (present && table->OpenIndexFile(single) != 0) throw std::runtime_error(std::string(single) + " not opened");
  }
  return table;
}

std::string Field(GSO_dBHandler& table, const char* name) {
  std::string text = table.GetDisplayTextByName(name);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(text.begin());
  return text;
}

void WriteByte(int fd, char byte) { (void)!write(fd, &byte, 1); }
char ReadByte(int fd) {
  char byte = 0;
  return read(fd, &byte, 1) == 1 ? byte : char(-1);
}

// The writer's life: hold record 1 locked until the other side has tried
// to edit it, then append records and edit older ones. Exit code 0 when
// every step succeeded.
int RunWriter(const std::string& path, TgsLokProtocol protocol, int toParent, int fromParent) {
  try {
    auto table = OpenShared(path, protocol, true);
    if (!table->LockRecord(1)) return 10;
    WriteByte(toParent, 'L');
    if (ReadByte(fromParent) != 'T') return 11;
    table->UnlockTable();
    for (int k = 1; k <= kAppends; ++k) {
      const int id = kInitialRows + k;
      table->BlankRecord();
      table->PutFieldTextByName("ID", std::to_string(id));
      table->PutFieldTextByName("CODE", Code(id));
      table->PutFieldTextByName("NAME", "R" + std::to_string(id));
      table->PutFieldTextByName("TWIN", "R" + std::to_string(id));
      table->AppendRecord();

      // Edit an older record: a new name moves it in two tags.
      const TRecNo n = (k * 37) % id + 1;
      if (!table->LockRecord(n)) return 12;
      table->ReadRecord(n);
      std::string name = "E" + std::to_string(k) + "-" + std::to_string(n);
      table->PutFieldTextByName("NAME", name);
      table->PutFieldTextByName("TWIN", name);
      table->WriteRecord(n);
      table->UnlockTable();
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "writer: %s\n", e.what());
    return 20;
  }
}

// One walk through the BYCODE tag within the range 000200..009999: codes
// strictly rising and inside the range, every record whole. Returns the
// number of records seen, or a description of what was wrong.
std::string WalkRange(GSO_dBHandler& table, int* seen) {
  *seen = 0;
  std::string last;
  for (table.ReadRecord(GotoFirst); !table.Eof(); table.ReadRecord(GotoNext)) {
    const std::string code = Field(table, "CODE");
    const int id = std::stoi(Field(table, "ID"));
    if (code < "000200" || code > "009999") return "code " + code + " outside the range";
    if (code <= last) return "code " + code + " after " + last;
    if (code != Code(id)) return "code " + code + " on record of id " + std::to_string(id);
    if (Field(table, "NAME") != Field(table, "TWIN"))
      return "torn record " + code + ": " + Field(table, "NAME") + " / " + Field(table, "TWIN");
    last = code;
    ++*seen;
  }
  return "";
}

// Every tag of the open index files agrees with the table.
void ExpectTagsMatchTable(GSO_dBHandler& table) {
  ASSERT_GT(table.OpenIndexCount(), 0);
  for (int32_t slot = 1; slot <= table.OpenIndexCount(); ++slot) {
    GSobjIndexFile* file = table.IndexFile(slot);
    for (int32_t i = 0; i < file->TagCount(); ++i) {
      IndexCheckReport report;
      file->CheckTag(*file->TagByPosition(i), report);
      EXPECT_TRUE(report.problems.empty()) << file->TagByPosition(i)->TagName() << ": " << report.problems.front();
    }
  }
  // The NTX and NDX files hold every record's key.
  for (const char* single : {"T.NTX", "T.NDX"}) {
    const int handle = table.IndexFileByName(single);
    if (handle <= 0) continue;
    GSobjIndexFile* file = table.IndexFile(handle);
    IndexCheckReport report;
    file->CheckTag(*file->TagByPosition(0), report);
    EXPECT_EQ(report.entries.size(), static_cast<size_t>(table.RecordCount())) << single;
  }
}

// The command-line check passes on every index file beside the table.
void ExpectToolCheckPasses(const std::string& path) {
  if (!std::filesystem::exists(ToolPath("deridar"))) return;  // tool not built
  const std::string folder = std::filesystem::path(path).parent_path().string();
  for (const char* index : {"T.CDX", "T.NTX", "T.NDX"}) {
    const ToolResult r = RunTool("deridar", {"index", "check", path, folder + "/" + index});
    EXPECT_EQ(r.exitCode, 0) << index << ": " << r.out << r.err;
  }
}

class SharingTest : public ::testing::TestWithParam<TgsLokProtocol> {};

TEST_P(SharingTest, WriterAndRangeReaderKeepTableAndTagsInStep) {
  const TgsLokProtocol protocol = GetParam();
  TempDir dir;
  const std::string path = MakeTable(dir);

  int toParent[2], fromParent[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(fromParent), 0);
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) _exit(RunWriter(path, protocol, toParent[1], fromParent[0]));

  // The writer holds record 1: this process's dataset cannot edit it.
  ASSERT_EQ(ReadByte(toParent[0]), 'L');
  TDeridarDataSet dataset;
  dataset.SetLockProtocol(protocol);
  OpenOn(dataset, dir);
  dataset.OpenIndexes("T.CDX, T.NTX", "BYCODE");
  dataset.First();
  EXPECT_EQ(DatabaseErrorOf([&] { dataset.Edit(); }), "Record is locked by another user");
  EXPECT_EQ(dataset.State(), platform::dsBrowse);
  dataset.Next();
  dataset.Edit();  // record 2 is free
  dataset.Cancel();
  WriteByte(fromParent[1], 'T');

  // Walk the range again and again while the writer works.
  auto reader = OpenShared(path, protocol, false);
  reader->SelectTag("BYCODE", false);
  reader->SetKeyRange("000200", "009999", true, false, false);
  int walks = 0, seen = 0, status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::string fault;
  while (waitpid(writer, &status, WNOHANG) == 0) {
    // Only the Clipper protocol locks the index for reads by itself; under
    // the others a reader that must not meet a node half rewritten by the
    // writer holds the index lock for its walk.
    const bool lockHere = protocol != TgsLokProtocol::ClipLock;
    if (lockHere) reader->LockIndexes();
    fault = WalkRange(*reader, &seen);
    if (lockHere) reader->UnlockIndexes();
    // The writer polls for the lock: leave it room between walks.
    usleep(5000);
    ++walks;
    if (!fault.empty() || std::chrono::steady_clock::now() > deadline) {
      kill(writer, SIGKILL);
      waitpid(writer, &status, 0);
      break;
    }
  }
  for (int fd : {toParent[0], toParent[1], fromParent[0], fromParent[1]}) close(fd);
  EXPECT_EQ(fault, "") << "after " << walks << " walks";
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;

  // All appended records are in the range walk once the writer is done.
  reader->SetKeyRange("000200", "009999", true, false, false);
  EXPECT_EQ(WalkRange(*reader, &seen), "");
  EXPECT_EQ(seen, kInitialRows + kAppends - 199);
  // The production file's tag saw every write too.
  reader->SelectTag("MCODE", false);
  reader->SetKeyRange("000200", "009999", true, false, false);
  EXPECT_EQ(WalkRange(*reader, &seen), "");
  EXPECT_EQ(seen, kInitialRows + kAppends - 199);

  // Every tag agrees with the table; every record is whole.
  auto table = OpenShared(path, protocol, false);
  ASSERT_EQ(table->OpenIndexCount(), 4);  // T.MDX with the table, T.CDX, T.NTX, T.NDX
  ASSERT_EQ(table->IndexFile(table->IndexFileByName("T.CDX"))->TagCount(), 4);
  ASSERT_EQ(table->IndexFile(table->IndexFileByName("T.MDX"))->TagCount(), 4);
  ExpectTagsMatchTable(*table);
  ASSERT_EQ(table->RecordCount(), kInitialRows + kAppends);
  for (TRecNo n = 1; n <= table->RecordCount(); ++n) {
    table->ReadRecord(n);
    ASSERT_EQ(Field(*table, "ID"), std::to_string(n));
    ASSERT_EQ(Field(*table, "CODE"), Code(n));
    ASSERT_EQ(Field(*table, "NAME"), Field(*table, "TWIN")) << "record " << n;
  }

  // The writer's locks went with it.
  dataset.First();
  dataset.Edit();
  dataset.Cancel();

  // The tool opens the files for itself alone once nobody else has them.
  dataset.Close();
  reader.reset();
  table.reset();
  ExpectToolCheckPasses(path);
}

// Another program rewriting index nodes while the reader works: each node
// that differs between two versions of the file is written over and over,
// from one version to the other, its header first and the rest a moment
// later. The file's change counter moves as the rewrite begins, as it does
// when one update follows another, so readers come to read the node while
// it is half rewritten. It goes on until a byte arrives on `stopFd` (checked
// after each round that ends on the second version, which it leaves), so
// the reader's share of the work does not depend on the machine's speed.
int RunNodeRewriter(const std::string& cdx, const std::vector<uint8_t>& from,
                    const std::vector<uint8_t>& to, const std::vector<size_t>& nodes, int stopFd) {
  const int fd = open(cdx.c_str(), O_WRONLY);
  if (fd < 0) return 30;
  constexpr size_t kNode = 512, kHead = 24;
  uint32_t counter = 0;
  std::memcpy(&counter, to.data() + 8, 4);
  for (int k = 0;; ++k) {
    const std::vector<uint8_t>& image = k % 2 == 1 ? to : from;
    for (size_t at : nodes) {
      if (pwrite(fd, image.data() + at, kHead, static_cast<off_t>(at)) != static_cast<ssize_t>(kHead))
        return 31;
      ++counter;
      if (pwrite(fd, &counter, 4, 8) != 4) return 32;
      usleep(200);
      if (pwrite(fd, image.data() + at + kHead, kNode - kHead, static_cast<off_t>(at + kHead)) !=
          static_cast<ssize_t>(kNode - kHead))
        return 33;
    }
    pollfd stop{stopFd, POLLIN, 0};
    if (k % 2 == 1 && poll(&stop, 1, 0) > 0) break;
  }
  close(fd);
  return 0;
}

// A reader that does not lock the index meets nodes another process is
// rewriting; it reads them again instead of calling the file damaged.
TEST_P(SharingTest, UnlockedReaderNeverTakesANodeBeingRewrittenForDamage) {
  const TgsLokProtocol protocol = GetParam();
  if (protocol == TgsLokProtocol::ClipLock) GTEST_SKIP() << "readers lock the index under this protocol";
  TempDir dir;
  const std::string path = MakeTable(dir);
  const std::string cdx = dir.File("T.CDX");
  // Two versions of the file: names appended in the middle of BYNAME split
  // its leaves, and the branch above them gains entries.
  const std::vector<uint8_t> before = ReadBytes(cdx);
  {
    auto table = OpenShared(path, protocol, true);
    for (int k = 10; k < 70; ++k) {
      table->BlankRecord();
      table->PutFieldTextByName("NAME", "R150_" + std::to_string(k));
      table->AppendRecord();
    }
  }
  const std::vector<uint8_t> after = ReadBytes(cdx);
  std::vector<size_t> nodes;  // the directory header at 0 is left alone
  for (size_t at = 1024; at + 512 <= before.size(); at += 512)
    if (!std::equal(after.begin() + at, after.begin() + at + 512, before.begin() + at)) nodes.push_back(at);
  ASSERT_FALSE(nodes.empty());

  int stopPipe[2];
  ASSERT_EQ(pipe(stopPipe), 0);
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) _exit(RunNodeRewriter(cdx, before, after, nodes, stopPipe[0]));

  auto reader = OpenShared(path, protocol, false);
  reader->SelectTag("BYNAME", false);
  constexpr int kSteps = 5000;
  int steps = 0, status = 0;
  std::string fault;
  uint32_t seed = 777;
  bool reaped = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (fault.empty() && steps < kSteps && std::chrono::steady_clock::now() < deadline &&
         !(reaped = waitpid(writer, &status, WNOHANG) == writer)) {
    try {
      seed = seed * 1103515245u + 12345u;
      reader->KeySearch("R" + std::to_string((seed >> 4) % 300 + 1));
      for (int i = 0; i < 20 && !reader->Eof(); ++i, ++steps) reader->ReadRecord(GotoNext);
      for (int i = 0; i < 20 && !reader->Bof(); ++i, ++steps) reader->ReadRecord(GotoPrevious);
    } catch (const EDeridarError& e) {
      fault = e.what();
    }
  }
  // The writer ends on the second version once told to stop.
  if (!reaped && write(stopPipe[1], "x", 1) == 1) reaped = waitpid(writer, &status, 0) == writer;
  if (!reaped) {
    kill(writer, SIGKILL);
    waitpid(writer, &status, 0);
  }
  close(stopPipe[0]);
  close(stopPipe[1]);
  EXPECT_EQ(fault, "") << "after " << steps << " steps";
  EXPECT_GE(steps, kSteps) << "the rewriter stopped early or the reader was too slow";
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;
  // The rewriter left the second version: the file is sound and in step.
  ExpectTagsMatchTable(*OpenShared(path, protocol, false));
}

constexpr int kMemoAppends = 80;

// The memo text writer `who` gives its k-th record: long enough for a
// varying number of blocks.
std::string MemoText(char who, int k) {
  std::string text;
  while (text.size() < static_cast<size_t>(100 + (k * 131) % 1400))
    text += std::string(1, who) + std::to_string(k) + ";";
  return text;
}

int RunMemoWriter(const std::string& path, TgsLokProtocol protocol, char who) {
  try {
    auto table = OpenShared(path, protocol, true);
    for (int k = 1; k <= kMemoAppends; ++k) {
      table->BlankRecord();
      table->PutFieldTextByName("WHO", std::string(1, who));
      table->PutFieldTextByName("ID", std::to_string(k));
      table->WriteMemo(3, MemoText(who, k));
      table->AppendRecord();
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "writer %c: %s\n", who, e.what());
    return 20;
  }
}

TEST_P(SharingTest, TwoWritersAppendRecordsWithMemosSideBySide) {
  const TgsLokProtocol protocol = GetParam();
  TempDir dir;
  MemoFileBuilder(MemoLayout::Db4).Save(dir.File("T.DBT"));
  DbfLayout layout;
  layout.version = 0x8B;
  layout.fields = {{"WHO", 'C', 1}, {"ID", 'N', 6}, {"NOTES", 'M', 10}};
  const std::string path = WriteDbf(dir.File("T.DBF"), layout);
  {
    GSO_dBHandler table(path, "", false, true);
    table.OpenTable();
    table.IndexOn("T.CDX", "BYWHO", "WHO+STR(ID,6)", "", 1, 0);
    table.IndexOn("T.CDX", "BYID", "ID", "", 1, 1);
    table.IndexOn("T.NTX", "", "WHO+STR(ID,6)", "", 1, 0);
    table.IndexOn("T.NDX", "", "WHO+STR(ID,6)", "", 1, 0);
  }

  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = fork();
    ASSERT_GE(writers[w], 0);
    if (writers[w] == 0) _exit(RunMemoWriter(path, protocol, "AB"[w]));
  }
  for (pid_t writer : writers) {
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;
  }

  auto table = OpenShared(path, protocol, false);
  ExpectTagsMatchTable(*table);
  ASSERT_EQ(table->RecordCount(), 2 * kMemoAppends);
  // In WHO+ID order, through the compound tag and the single-order
  // files' order (named T in both): A1..A80,
  // then B1..B80, each with its own memo text.
  for (const char* order : {"BYWHO", "T"}) {
    table->SelectTag(order, false);
    int seen = 0;
    for (table->ReadRecord(GotoFirst); !table->Eof(); table->ReadRecord(GotoNext), ++seen) {
      const char who = seen < kMemoAppends ? 'A' : 'B';
      const int k = seen % kMemoAppends + 1;
      ASSERT_EQ(Field(*table, "WHO"), std::string(1, who)) << order;
      ASSERT_EQ(Field(*table, "ID"), std::to_string(k)) << order;
      ASSERT_EQ(table->ReadMemo(3), MemoText(who, k)) << who << k;
    }
    EXPECT_EQ(seen, 2 * kMemoAppends) << order;
  }
  table.reset();
  ExpectToolCheckPasses(path);
}

std::string ProtocolName(const ::testing::TestParamInfo<TgsLokProtocol>& info) {
  static const char* const kNames[] = {"Default", "DB4Lock", "ClipLock", "FoxLock"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Protocols, SharingTest,
                         ::testing::Values(TgsLokProtocol::Default, TgsLokProtocol::DB4Lock,
                                           TgsLokProtocol::ClipLock, TgsLokProtocol::FoxLock),
                         ProtocolName);

}  // namespace
