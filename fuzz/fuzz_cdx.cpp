// Fuzz target: the input is a compound index file over a small table. Opens
// it; for every tag walks the entries forward and backward, counts them
// from the leaf headers, seeks keys of each type and checks the tag against
// the table. A damaged file must be
// refused or reported, never followed into a loop: a walk far longer than
// the file could hold is a finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/index/gs6_cdx.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbsy.h"
#include "fuzz_support.h"

namespace {

constexpr int32_t kMaxTags = 64;

template <class F>
void Try(F&& step) {
  try {
    step();
  } catch (const EDeridarBase&) {
  }
}

// Steps until the tag runs out; a file of `fileSize` bytes holds far fewer
// entries than the bound, so reaching it means the walk went round in a
// circle.
void Walk(GSobjIndexTag& tag, int32_t first, int32_t next, int64_t fileSize) {
  const int64_t bound = fileSize * 8 + 1000;
  tag.ResetPages(GSobjIndexTag::kResetRootOnly);
  int64_t steps = 0;
  for (TRecNo r = tag.MoveTo(first); r != 0; r = tag.MoveTo(next))
    if (++steps > bound) __builtin_trap();
}

void Seek(GSobjIndexTag& tag, GSobjIndexKeyData& probe) {
  probe.SetLink(static_cast<uint32_t>(-1));
  Try([&] { (void)tag.SeekKey(probe); });
  Try([&] { (void)tag.LookupKey(probe); });
  Try([&] { (void)tag.MoveTo(GotoNext); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzDir dir;
  const std::string tablePath = dir.File("T.DBF");
  WriteDbf(tablePath, FuzzSmallTable());
  const std::string indexPath = dir.File("T.CDX");
  WriteFuzzFile(indexPath, data, size);
  try {
    GSO_dBHandler table(tablePath, "", false, false);
    table.OpenTable();
    GSobjCDXFile file(&table, indexPath, false, false, false, false);
    if (!file.DiskFile() || !file.Valid()) return 0;
    const int32_t tags = file.TagCount() < kMaxTags ? file.TagCount() : kMaxTags;
    for (int32_t i = 0; i < tags; ++i) {
      auto* tag = static_cast<GSobjCDXTag*>(file.TagByPosition(i));
      if (!tag) continue;
      Try([&] { Walk(*tag, GotoFirst, GotoNext, static_cast<int64_t>(size)); });
      Try([&] { Walk(*tag, GotoLast, GotoPrevious, static_cast<int64_t>(size)); });
      Try([&] { (void)tag->CountKeys(); });
      GSobjIndexKeyData probe;
      probe.SetText("2345678");
      Seek(*tag, probe);
      probe.SetText("");
      Seek(*tag, probe);
      probe.SetFloat(12.5);
      Seek(*tag, probe);
      probe.SetDate(2451181);
      Seek(*tag, probe);
      Try([&] { (void)tag->SyncToRecord(3); });
      Try([&] {
        cdx::TreeReport report;
        file.CheckTag(*tag, report, true);
      });
    }
    if (auto* directory = file.Directory()) {
      Try([&] { Walk(*directory, GotoFirst, GotoNext, static_cast<int64_t>(size)); });
    }
  } catch (const EDeridarBase&) {
  }
  return 0;
}
