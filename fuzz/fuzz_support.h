// Plumbing shared by the fuzz targets and their seed writer: a temporary
// folder per input that is removed with its contents afterwards, writing the
// input bytes to a file, and the small table the expression and index
// targets work over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/dbf_writer.h"

class FuzzDir {
 public:
  FuzzDir();
  ~FuzzDir();
  FuzzDir(const FuzzDir&) = delete;
  FuzzDir& operator=(const FuzzDir&) = delete;

  // Full path of a file inside the folder.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes `size` bytes to `path`, replacing the file.
void WriteFuzzFile(const std::string& path, const uint8_t* data, size_t size);

// A small telephone-directory table: texts, a number with decimals, dates,
// logicals, a deleted record, a blank record and code page 866 letters.
DbfLayout FuzzSmallTable();

// The tags of the index seed, as name, key expression and FOR expression.
struct FuzzTagDef {
  const char* name;
  const char* key;
  const char* forExpr;
  bool unique;
  bool ascending;
};
extern const FuzzTagDef kFuzzTags[];
extern const size_t kFuzzTagCount;
