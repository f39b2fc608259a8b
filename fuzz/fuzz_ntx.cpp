// Fuzz target: the input is an NTX index file over a small table, run
// through the index targets' common walk (fuzz_support.h), then records are
// edited with the file open (splits and emptied pages on a damaged tree).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/index/gs6_ntx.h"
#include "fuzz_support.h"

namespace {

std::unique_ptr<GSobjIndexFile> Open(GSobjIndexOwner* table, const std::string& path, bool readWrite) {
  return std::make_unique<GSobjNTXFile>(table, path, false, false, readWrite, false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzIndexInput(data, size, {"T.NTX", Open, true});
}
