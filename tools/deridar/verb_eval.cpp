// deridar eval TABLE EXPR [--deleted] [--where EXPR]: evaluates an xBase
// expression on every record in record order and prints one line per
// record: the record number, a tab and the value. Texts are decoded from
// code page 866 to UTF-8, numbers are written as the expression engine
// converts them to text, logicals as .T./.F., dates as yyyymmdd (empty for
// no date). A difference of two dates (D - {01.01.2020}) is reported with
// the date type but counts days: it is written as that number. Deleted records are left out unless --deleted is given; --where
// keeps the records the table handler's filter passes for that expression.
// Expressions are typed in UTF-8 and converted to code page 866, so their
// literals compare with the table's texts. Compile and evaluation failures
// carry the engine's message, decoded to UTF-8 (exit 1).
#include <cmath>
#include <string>

#include "engine/expr/gs6_sql.h"
#include "engine/support/gs6_date.h"
#include "engine/table/gs6_dbsy.h"
#include "platform/codepage.h"
#include "tools/deridar/record_csv.h"
#include "tools/deridar/verbs.h"

namespace {

// Whether the expression's result is a subtraction (inside any groups): with
// the date type its value is a count of days, not a day.
bool IsSubtraction(const TgsExpBaseObject* node) {
  while (node && node->Kind() == TgsExpNodeKind::Group) node = node->Right();
  const auto* op = dynamic_cast<const TgsExpOperator*>(node);
  return op && op->Code() == TgsExpOperatorCode::Minus;
}

std::string ValueText(const TgsExpValue& value, TgsExpValueType type, bool dayCount) {
  switch (type) {
    case TgsExpValueType::Boolean:
      return value.AsBoolean() ? ".T." : ".F.";
    case TgsExpValueType::Date:
    case TgsExpValueType::DateTime: {
      double day = value.AsDouble();
      if (day >= BlankDate || !std::isfinite(day)) return "";
      if (dayCount) return value.AsText();
      if (day <= 0) return "";
      return DBFDate().DayToStorageText(static_cast<int32_t>(std::floor(day)));
    }
    case TgsExpValueType::Text:
    case TgsExpValueType::Memo:
      return platform::ToUtf8(value.AsText(), platform::CodePage::Cp866);
    case TgsExpValueType::Empty:
    case TgsExpValueType::Unknown:
      return "";
    default:
      return value.AsText();
  }
}

}  // namespace

int VerbEval(const VerbArgs& args) {
  std::vector<std::string> positional;
  std::string where;
  bool withDeleted = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--deleted") {
      withDeleted = true;
    } else if (args[i] == "--where") {
      if (i + 1 >= args.size() || args[i + 1].empty()) throw UsageError("--where needs an expression");
      where = args[++i];
    } else if (args[i].rfind("--", 0) == 0) {
      throw UsageError("unknown option \"" + args[i] + "\"");
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2) throw UsageError("expects a table and an expression");
  if (positional[1].empty()) throw UsageError("expects a non-empty expression");

  GSO_dBHandler table(positional[0], TablePassword(), true, false);
  table.OpenTable();
  table.SetCacheSwitch(true);
  table.SetUseDeleted(withDeleted);

  TgsExpHandler expression(table.ExpressionLink(), false, "");
  WithDecodedEngineMessages([&] {
    expression.Compile(ExpressionBytes(positional[1]));
    if (!where.empty()) {
      table.SetFilterExpression(ExpressionBytes(where), false, false);
      table.SetFilterActive(true);
    }
  });

  const bool dayCount = IsSubtraction(expression.Root());
  std::string out;
  TgsExpValue value;
  // The lines of the records before a failing one are still printed.
  try {
    for (table.ReadRecord(GotoFirst); !table.Eof(); table.ReadRecord(GotoNext)) {
      if (table.IsDeleted() && !withDeleted) continue;
      TgsExpValueType type = expression.Evaluate(value);
      out += std::to_string(table.RecNumber());
      out += '\t';
      out += ValueText(value, type, dayCount);
      out += '\n';
      if (out.size() > (1 << 16)) {
        WriteOut(out);
        out.clear();
      }
    }
  } catch (const std::exception& e) {
    WriteOut(out);
    std::fflush(stdout);
    RaiseDecoded(e);
  }
  WriteOut(out);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
