// Fuzz target: the input is the bytes of a table file. Opens it (with a
// password when the header says it is enciphered) and reads every record and
// every field through the field layer, once record by record and once
// through the read-ahead window. Refusals by the engine are the sound outcome
// for damaged files; anything else is a finding.
#include <cstddef>
#include <cstdint>

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf_field.h"
#include "fuzz_support.h"

namespace {

// Records read per pass: enough to cross the read-ahead window.
constexpr int32_t kMaxRecords = 400;

void ReadAll(GSO_dBaseFld& table) {
  const int32_t count = table.RecordCount() < kMaxRecords ? table.RecordCount() : kMaxRecords;
  for (int32_t r = 1; r <= count; ++r) {
    FuzzTry([&] { table.ReadRecord(r); });
    (void)table.IsDeleted();
    for (int32_t f = 0; f <= table.FieldCount() + 1; ++f) {
      FuzzTry([&] { (void)table.FieldName(f); });
      FuzzTry([&] { (void)table.FieldType(f); });
      FuzzTry([&] { (void)table.FieldLength(f); });
      FuzzTry([&] { (void)table.FieldDecimals(f); });
      FuzzTry([&] { (void)table.GetFieldText(f); });
      FuzzTry([&] { (void)table.GetDisplayText(f); });
      FuzzTry([&] { (void)table.GetNumber(f); });
      FuzzTry([&] { (void)table.GetDate(f); });
      FuzzTry([&] { (void)table.GetLogical(f); });
      FuzzTry([&] { (void)table.IsBinaryField(f); });
    }
  }
  FuzzTry([&] { table.ReadRecord(GotoFirst); });
  FuzzTry([&] { table.ReadRecord(GotoLast); });
  FuzzTry([&] { table.ReadRecord(GotoNext); });
  FuzzTry([&] { table.ReadRecord(GotoPrevious); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzDir dir;
  const std::string path = dir.File("T.DBF");
  WriteFuzzFile(path, data, size);
  const std::string password = size > 15 && data[15] != 0 ? "fuzz" : "";
  try {
    GSO_dBaseFld table(path, password, false, false);
    table.OpenTable();
    ReadAll(table);
    table.SetCache(true);
    ReadAll(table);
  } catch (const EDeridarBase&) {
  }
  return 0;
}
