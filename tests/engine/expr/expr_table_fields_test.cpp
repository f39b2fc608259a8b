// Field references on a real table: character and numeric fields are read
// in place from the record, and must give what the table's own typed
// readers give, errors included.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "engine/expr/gs6_sql.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf_field.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"

namespace {

struct NumberTable {
  TempDir dir;
  std::unique_ptr<GSO_dBaseFld> table;
  explicit NumberTable(const std::vector<std::string>& amounts) {
    DbfLayout layout;
    layout.fields = {{"NAME", 'C', 6}, {"AMOUNT", 'N', 20, 4}, {"RATE", 'F', 8, 2}};
    for (const std::string& amount : amounts) layout.rows.push_back({{"AB  ", amount, "  1.25"}});
    const std::string path = WriteDbf(dir.File("T.DBF"), layout);
    table = std::make_unique<GSO_dBaseFld>(path, "", false, false);
    table->OpenTable();
  }
};

TEST(ExprTableFields, NumbersReadInPlaceEqualTheTablesReader) {
  const std::vector<std::string> amounts = {
      "0", "  12", "-3.5", "   0.1000", "1.", ".5", "-0", "", "999999999999999",
      "123456789.0123456", "-0.0001", "12345678901234567890", "0.30000000000000004"};
  NumberTable t(amounts);
  TgsExpHandler amount(t.table->ExpressionLink(), false, "AMOUNT");
  TgsExpHandler rate(t.table->ExpressionLink(), false, "RATE * 2");
  for (TRecNo r = 1; r <= static_cast<TRecNo>(amounts.size()); ++r) {
    SCOPED_TRACE(amounts[static_cast<size_t>(r - 1)]);
    t.table->ReadRecord(r);
    TgsExpValue value;
    ASSERT_EQ(amount.Evaluate(value), TgsExpValueType::Number);
    const double expected = t.table->GetNumber(2);
    EXPECT_EQ(value.AsDouble(), expected);
    EXPECT_EQ(std::signbit(value.AsDouble()), std::signbit(expected));
    ASSERT_EQ(rate.Evaluate(value), TgsExpValueType::Number);
    EXPECT_EQ(value.AsDouble(), 2.5);
  }
}

TEST(ExprTableFields, TextsAndBadNumbersAsTheTableGivesThem) {
  NumberTable t({"1-2", "+7"});
  TgsExpHandler name(t.table->ExpressionLink(), false, "NAME");
  TgsExpHandler amount(t.table->ExpressionLink(), false, "AMOUNT > 0");
  t.table->ReadRecord(1);
  TgsExpValue value;
  ASSERT_EQ(name.Evaluate(value), TgsExpValueType::Text);
  EXPECT_EQ(value.Text(), "AB    ");
  std::string message;
  try {
    amount.Evaluate(value);
  } catch (const EDeridarError& e) {
    message = e.what();
  }
  EXPECT_NE(message.find("Invalid numeric value in field"), std::string::npos) << message;
  t.table->ReadRecord(2);
  ASSERT_EQ(amount.Evaluate(value), TgsExpValueType::Boolean);
  EXPECT_TRUE(value.AsBoolean());
}

}  // namespace
