// Fuzz target: the input is a compound index file over a small table, run
// through the index targets' common walk (fuzz_support.h); its directory of
// tags is walked too.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/index/gs6_cdx.h"
#include "fuzz_support.h"

namespace {

std::unique_ptr<GSobjIndexFile> Open(GSobjIndexOwner* table, const std::string& path, bool readWrite) {
  return std::make_unique<GSobjCDXFile>(table, path, false, false, readWrite, false);
}

void WalkDirectory(GSobjIndexFile& file, int64_t bound) {
  if (auto* directory = static_cast<GSobjCDXFile&>(file).Directory())
    FuzzTry([&] { FuzzWalk(*directory, GotoFirst, GotoNext, bound); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzIndexInput(data, size, {"T.CDX", Open, false, WalkDirectory});
}
