// Temporary folders, input files, the small table of the fuzz targets and
// the run over an index file that every index format's target makes.
#include "fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "engine/index/gs6_indx.h"
#include "engine/table/gs6_dbsy.h"

namespace {

// Folders are made and removed for every input, so they go to memory when
// the machine has a RAM file system: on a disk that costs more than the
// input itself.
std::filesystem::path TempBase() {
  std::error_code ec;
  if (access("/dev/shm", W_OK) == 0 && std::filesystem::is_directory("/dev/shm", ec))
    return "/dev/shm";
  return std::filesystem::temp_directory_path();
}

// At most this many tags are walked: a damaged directory may claim more.
constexpr int32_t kMaxTags = 64;

void Seek(GSobjIndexTag& tag, GSobjIndexKeyData& probe) {
  probe.SetLink(static_cast<uint32_t>(-1));
  FuzzTry([&] { (void)tag.SeekKey(probe); });
  FuzzTry([&] { (void)tag.LookupKey(probe); });
  FuzzTry([&] { (void)tag.MoveTo(GotoNext); });
  FuzzTry([&] { (void)tag.MoveTo(GotoPrevious); });
}

void ExerciseTag(GSobjIndexFile& file, GSobjIndexTag& tag, int64_t bound) {
  FuzzTry([&] { FuzzWalk(tag, GotoFirst, GotoNext, bound); });
  FuzzTry([&] { FuzzWalk(tag, GotoLast, GotoPrevious, bound); });
  FuzzTry([&] { (void)tag.CountKeys(); });
  // A range's count from the index structure, over the whole tag and over
  // a range of a few keys, with some records left out.
  const auto countRange = [&tag] {
    int64_t count = 0;
    std::vector<TRecNo> ends;
    const std::vector<uint8_t> leftOut{0, 0, 1, 0, 1};
    FuzzTry([&] { (void)tag.CountRangeKeys(3, nullptr, count, ends); });
    FuzzTry([&] { (void)tag.CountRangeKeys(1, &leftOut, count, ends); });
  };
  countRange();
  TgsVariant low, high;
  low.SetText("2");
  high.SetText("5");
  FuzzTry([&] { (void)tag.SetRange(&low, true, &high, true, true); });
  countRange();
  FuzzTry([&] { (void)tag.SetRange(nullptr, true, nullptr, true, false); });
  GSobjIndexKeyData probe;
  probe.SetText("2345678");
  Seek(tag, probe);
  probe.SetText("");
  Seek(tag, probe);
  probe.SetFloat(12.5);
  Seek(tag, probe);
  probe.SetDate(2451181);
  Seek(tag, probe);
  FuzzTry([&] { (void)tag.SyncToRecord(3); });
  FuzzTry([&] {
    IndexCheckReport report;
    file.CheckTag(tag, report, true);
  });
}

}  // namespace

void FuzzWalk(GSobjIndexTag& tag, int32_t first, int32_t next, int64_t bound) {
  tag.ResetPages(GSobjIndexTag::kResetRootOnly);
  int64_t steps = 0;
  for (TRecNo r = tag.MoveTo(first); r != 0; r = tag.MoveTo(next))
    if (++steps > bound) __builtin_trap();
}

int FuzzIndexInput(const uint8_t* data, size_t size, const FuzzIndexFormat& format) {
  FuzzDir dir;
  const std::string tablePath = dir.File("T.DBF");
  WriteDbf(tablePath, FuzzSmallTable());
  const std::string indexPath = dir.File(format.fileName);
  WriteFuzzFile(indexPath, data, size);
  // A file of `size` bytes holds far fewer entries than this, so a walk
  // that reaches it went round in a circle.
  const int64_t bound = static_cast<int64_t>(size) * 8 + 1000;
  try {
    GSO_dBHandler table(tablePath, "", false, format.maintain);
    table.OpenTable();
    std::unique_ptr<GSobjIndexFile> file = format.open(&table, indexPath, format.maintain);
    if (!file || !file->DiskFile() || !file->Valid()) return 0;
    const int32_t tags = file->TagCount() < kMaxTags ? file->TagCount() : kMaxTags;
    for (int32_t i = 0; i < tags; ++i)
      if (GSobjIndexTag* tag = file->TagByPosition(i)) ExerciseTag(*file, *tag, bound);
    if (format.more) format.more(*file, bound);
    if (!format.maintain || file->TagCount() == 0) return 0;
    // Maintenance on whatever tree the file holds; the file grows with
    // every write, so the walk's bound follows it.
    FuzzTry([&] {
      for (TRecNo n = 1; n <= 3 && n <= table.RecordCount(); ++n) {
        table.ReadRecord(n);
        table.PutFieldTextByName("NUM", std::to_string(1000000 + n * 7919));
        table.SetRecordChanged(true);
        file->UpdateKeys(n, false);
      }
    });
    FuzzTry([&] { FuzzWalk(*file->TagByPosition(0), GotoFirst, GotoNext, bound + 64 * 1024); });
  } catch (const EDeridarBase&) {
  }
  return 0;
}

FuzzDir::FuzzDir() {
  static const std::filesystem::path base = TempBase();
  std::string pattern = (base / "deridar-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  path_ = pattern;
}

FuzzDir::~FuzzDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFuzzFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

DbfLayout FuzzSmallTable() {
  DbfLayout l;
  l.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 20}, {"SUM", 'N', 8, 2}, {"DAY", 'D', 8},
              {"OK", 'L', 1}, {"TIP", 'N', 2}};
  l.rows = {
      {{"2345678", "IVANOV I.I.", "12.50", "19990102", "T", "1"}},
      {{"3456789", "PETROV P.", "-3.25", "20010315", "F", "2"}},
      {{"1234567", "\x8a\xae\xab\xef", "1000.00", "19850704", "T", "3"}, true},
      {{"", "", "", "", "", ""}},
      {{"9876543", "SIDOROV", "7", "20240229", "?", "1"}},
      {{"2345678", "IVANOV A.", "0.01", "19700101", "Y", "2"}},
  };
  return l;
}

const FuzzTagDef kFuzzTags[] = {
    {"NUM", "NUM", "", false, true},
    {"FIO", "UPPER(FIO)", "", false, true},
    {"SUM", "SUM", "", false, false},
    {"DAY", "DAY", "OK", false, true},
    {"TIPNUM", "STR(TIP,2)+NUM", "", true, true},
};
const size_t kFuzzTagCount = sizeof kFuzzTags / sizeof kFuzzTags[0];
