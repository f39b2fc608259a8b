// Temporary folders, input files and the small table of the fuzz targets.
#include "fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>

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

}  // namespace

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
