// Plumbing shared by the fuzz targets and their seed writer: a temporary
// folder per input that is removed with its contents afterwards, writing the
// input bytes to a file, the small table the expression and index targets
// work over, and the one run every index format's target makes over its file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/support/gs6_glbl.h"
#include "support/dbf_writer.h"

class GSobjIndexFile;
class GSobjIndexOwner;
class GSobjIndexTag;

// Runs `step`; a refusal by the engine is a sound outcome for damaged input.
template <class F>
void FuzzTry(F&& step) {
  try {
    step();
  } catch (const EDeridarBase&) {
  }
}

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

// What an index format's target differs in.
struct FuzzIndexFormat {
  // Name of the input file beside the table ("T.CDX").
  const char* fileName;
  // Opens the file at `path` over `table` (for writing with `readWrite`).
  std::unique_ptr<GSobjIndexFile> (*open)(GSobjIndexOwner* table, const std::string& path,
                                          bool readWrite);
  // Also edits records with the file open, so that a damaged tree meets
  // splits and emptied pages.
  bool maintain = false;
  // The format's own walks over the opened file (a directory tag), with the
  // bound of steps past which a walk is a loop.
  void (*more)(GSobjIndexFile& file, int64_t bound) = nullptr;
};

// Writes the input as the format's file beside the small table and opens it;
// for every tag walks the entries forward and backward, counts them, seeks
// keys of each type, syncs to a record and checks the tag against the table. A damaged
// file must be refused or reported, never followed into a loop: a walk far
// longer than the file could hold traps.
int FuzzIndexInput(const uint8_t* data, size_t size, const FuzzIndexFormat& format);

// Steps through `tag` from `first` with `next` until it runs out, trapping
// after `bound` steps.
void FuzzWalk(GSobjIndexTag& tag, int32_t first, int32_t next, int64_t bound);
