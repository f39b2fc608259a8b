// Fuzz target: an expression over a small table. The first input byte
// chooses the compile options (wildcard style, case-insensitive and partial
// text comparison); the rest is the expression text. Compiles it against the
// table's fields and evaluates it on every record; refusals by the engine
// are the sound outcome.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/expr/gs6_sql.h"
#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"
#include "engine/table/gs6_dbf_field.h"
#include "fuzz_support.h"

namespace {

// The table stays open for the whole run; its folder goes at exit.
struct Fixture {
  FuzzDir dir;
  std::unique_ptr<GSO_dBaseFld> table;
  Fixture() {
    const std::string path = dir.File("T.DBF");
    WriteDbf(path, FuzzSmallTable());
    table = std::make_unique<GSO_dBaseFld>(path, "", false, false);
    table->OpenTable();
  }
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  GSO_dBaseFld& table = *TheFixture().table;
  const uint8_t choice = data[0];
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    TgsExpHandler handler(table.ExpressionLink(), (choice & 1) != 0, "");
    handler.SetCaseInsensitive((choice & 2) != 0);
    handler.SetPartialCompare((choice & 4) != 0);
    handler.Compile(text);
    (void)handler.ExpressionText();
    (void)handler.FieldNames(17);
    for (TRecNo r = 1; r <= table.RecordCount(); ++r) {
      table.ReadRecord(r);
      try {
        TgsExpValue value;
        handler.Evaluate(value);
        (void)value.AsDouble();
        (void)value.AsText();
        TgsVariant variant;
        handler.EvaluateToVariant(variant);
      } catch (const EDeridarBase&) {
      }
    }
  } catch (const EDeridarBase&) {
  }
  return 0;
}
