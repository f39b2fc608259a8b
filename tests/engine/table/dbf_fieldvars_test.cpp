// Fields and table functions as expressions see them.
#include "engine/table/gs6_dbf_fieldvars.h"

#include <gtest/gtest.h>

#include "engine/expr/gs6_sql.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf_field.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"

namespace {

struct PhoneTable {
  TempDir dir;
  std::string path;
  std::unique_ptr<GSO_dBaseFld> table;
  PhoneTable() {
    DbfLayout layout;
    layout.fields = {{"NUM", 'C', 7}, {"TIP", 'N', 1}, {"SEEN", 'D', 8}, {"OK", 'L', 1}, {"LONG", 'C', 300}};
    layout.rows.push_back({{"2345678", "2", "20260102", "T", "x"}});
    layout.rows.push_back({{"3000000", "3", "", "F", "y"}, true});
    path = WriteDbf(dir.File("PHONE.DBF"), layout);
    table = std::make_unique<GSO_dBaseFld>(path, "", true, false);
    table->OpenTable();
    table->ReadRecord(1);
  }
  TgsExpValueType Eval(const std::string& text, TgsExpValue& value) {
    TgsExpHandler handler(table->ExpressionLink(), false, text);
    return handler.Evaluate(value);
  }
};

}  // namespace

TEST(DbfFieldVars, FieldsEvaluateByType) {
  PhoneTable t;
  TgsExpValue v;
  EXPECT_EQ(t.Eval("NUM", v), TgsExpValueType::Text);
  EXPECT_EQ(v.AsText(), "2345678");
  EXPECT_EQ(t.Eval("PHONE.NUM", v), TgsExpValueType::Text);
  EXPECT_EQ(v.AsText(), "2345678");
  EXPECT_EQ(t.Eval("TIP", v), TgsExpValueType::Number);
  EXPECT_EQ(v.AsDouble(), 2);
  EXPECT_EQ(t.Eval("OK", v), TgsExpValueType::Boolean);
  EXPECT_TRUE(v.AsBoolean());
  EXPECT_EQ(t.Eval("SEEN", v), TgsExpValueType::Date);
  EXPECT_EQ(v.AsDouble(), t.table->GetDate(3));
}

TEST(DbfFieldVars, TableFunctions) {
  PhoneTable t;
  TgsExpValue v;
  t.table->ReadRecord(2);
  EXPECT_EQ(t.Eval("RECNO()", v), TgsExpValueType::Number);
  EXPECT_EQ(v.AsDouble(), 2);
  EXPECT_EQ(t.Eval("DELETED()", v), TgsExpValueType::Boolean);
  EXPECT_TRUE(v.AsBoolean());
  t.table->ReadRecord(GotoNext);
  t.Eval("EOF()", v);
  EXPECT_TRUE(v.AsBoolean());
  EXPECT_EQ(t.Eval("TYPE(\"tip\")", v), TgsExpValueType::Text);
  EXPECT_EQ(v.AsText(), "N");
  t.Eval("FIELDNO(\"seen\")", v);
  EXPECT_EQ(v.AsDouble(), 3);
  t.Eval("FIELDNO(\"NONE\")", v);
  EXPECT_EQ(v.AsDouble(), 0);
  EXPECT_THROW(t.Eval("TYPE(\"NONE\")", v), EDeridarError);
}
