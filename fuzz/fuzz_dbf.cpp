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

template <class F>
void Try(F&& step) {
  try {
    step();
  } catch (const EDeridarBase&) {
  }
}

void ReadAll(GSO_dBaseFld& table) {
  const int32_t count = table.RecordCount() < kMaxRecords ? table.RecordCount() : kMaxRecords;
  for (int32_t r = 1; r <= count; ++r) {
    Try([&] { table.ReadRecord(r); });
    (void)table.IsDeleted();
    for (int32_t f = 0; f <= table.FieldCount() + 1; ++f) {
      Try([&] { (void)table.FieldName(f); });
      Try([&] { (void)table.FieldType(f); });
      Try([&] { (void)table.FieldLength(f); });
      Try([&] { (void)table.FieldDecimals(f); });
      Try([&] { (void)table.GetFieldText(f); });
      Try([&] { (void)table.GetDisplayText(f); });
      Try([&] { (void)table.GetNumber(f); });
      Try([&] { (void)table.GetDate(f); });
      Try([&] { (void)table.GetLogical(f); });
      Try([&] { (void)table.IsBinaryField(f); });
    }
  }
  Try([&] { table.ReadRecord(GotoFirst); });
  Try([&] { table.ReadRecord(GotoLast); });
  Try([&] { table.ReadRecord(GotoNext); });
  Try([&] { table.ReadRecord(GotoPrevious); });
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
