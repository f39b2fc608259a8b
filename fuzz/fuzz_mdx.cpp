// Fuzz target: the input is an MDX file over a small table. Opens it; for
// every tag walks the entries forward and backward, seeks keys of each type
// and checks the tag against the table. A damaged file must be refused or
// reported, never followed into a loop: a walk far longer than the file
// could hold is a finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/index/gs6_mdx.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbsy.h"
#include "fuzz_support.h"

namespace {

template <class F>
void Try(F&& step) {
  try {
    step();
  } catch (const EDeridarBase&) {
  }
}

void Walk(GSobjIndexTag& tag, int32_t first, int32_t next, int64_t fileSize) {
  const int64_t bound = fileSize + 1000;  // an entry takes at least 8 bytes
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
  // Not named like the table: the file is opened here, not with the table.
  const std::string indexPath = dir.File("F.MDX");
  WriteFuzzFile(indexPath, data, size);
  try {
    GSO_dBHandler table(tablePath, "", false, false);
    table.OpenTable();
    GSobjMDXFile file(&table, indexPath, false, false, false, false);
    if (!file.DiskFile() || !file.Valid()) return 0;
    for (int32_t i = 0; i < file.TagCount(); ++i) {
      auto* tag = static_cast<GSobjMDXTag*>(file.TagByPosition(i));
      Try([&] { Walk(*tag, GotoFirst, GotoNext, static_cast<int64_t>(size)); });
      Try([&] { Walk(*tag, GotoLast, GotoPrevious, static_cast<int64_t>(size)); });
      GSobjIndexKeyData probe;
      probe.SetText("2345678");
      Try([&] { Seek(*tag, probe); });
      probe.SetFloat(12.5);
      Try([&] { Seek(*tag, probe); });
      probe.SetDate(2451181);
      Try([&] { Seek(*tag, probe); });
      Try([&] { (void)tag->SyncToRecord(3); });
      Try([&] {
        IndexCheckReport report;
        file.CheckTag(*tag, report, true);
      });
    }
  } catch (const EDeridarBase&) {
  }
  return 0;
}
