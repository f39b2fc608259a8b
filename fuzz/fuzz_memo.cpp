// Fuzz target: a memo file of any layout. The first input byte chooses the
// layout (dBase III, dBase IV, FoxPro for both of its table versions),
// whether texts are enciphered, and whether texts are written back after
// reading; the rest is the memo file. Reads every memo a block can start,
// then optionally rewrites one in place and appends one.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_memo.h"
#include "fuzz_support.h"

namespace {

constexpr int32_t kMaxBlocks = 300;
constexpr uint8_t kVersions[] = {0x83, 0x8B, 0xF5, 0x30};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  const uint8_t version = kVersions[choice & 3];
  const std::string password = (choice & 4) ? "fuzz" : "";
  const bool write = (choice & 8) != 0;

  FuzzDir dir;
  const std::string table = dir.File("T.DBF");
  WriteFuzzFile(GSobjMemo::MemoFileNameFor(table, version), data + 1, size - 1);
  try {
    auto memo = GSobjMemo::Make(nullptr, version, false, write, password, table);
    if (!memo) return 0;
    const int64_t blockSize = memo->BlockSize() > 0 ? memo->BlockSize() : 512;
    int64_t blocks = static_cast<int64_t>(size - 1) / blockSize + 2;
    if (blocks > kMaxBlocks) blocks = kMaxBlocks;
    int32_t lastGood = 0;
    for (int32_t block = -1; block < blocks; ++block) {
      FuzzTry([&] { (void)memo->MemoLength(block); });
      FuzzTry([&] {
        std::string text = memo->ReadMemo(block);
        if (!text.empty()) lastGood = block;
      });
      FuzzTry([&] {
        char buffer[40];
        int32_t length = sizeof buffer;
        memo->ReadMemo(block, buffer, length);
      });
    }
    FuzzTry([&] { (void)memo->MemoLength(0x7FFFFFFF); });
    if (write) {
      const std::string longer(static_cast<size_t>(choice) * 7 + 1, 'x');
      FuzzTry([&] { (void)memo->WriteMemo("short", lastGood); });
      FuzzTry([&] { (void)memo->WriteMemo(longer, lastGood); });
      FuzzTry([&] { (void)memo->WriteMemo(longer, 0); });
      FuzzTry([&] { (void)memo->WriteMemo("", lastGood); });
      FuzzTry([&] { (void)memo->ReadMemo(lastGood); });
    }
  } catch (const EDeridarBase&) {
  }
  return 0;
}
