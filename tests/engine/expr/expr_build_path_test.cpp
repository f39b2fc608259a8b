// The shortcuts index builds take through compiled expressions: a condition
// comparing a stored-number variable with a number literal, decided from the
// variable's text, and a key that is one stored-text variable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "engine/expr/gs6_sql.h"

namespace {

// A number variable kept as text, as a table's numeric field is (form 'N'),
// or one read only through its value (form 0): the shortcut reads the text,
// the general way the value parsed here.
class TextNumberVar : public TgsUserDefFieldVar {
 public:
  TextNumberVar(std::string_view name, char form) : TgsUserDefFieldVar(name, 6), form_(form) {}
  TgsExpValueType GetValue(TgsExpValue& value) override {
    value.SetDouble(std::strtod(text_.c_str(), nullptr));
    return TgsExpValueType::Number;
  }
  char StoredForm() const override { return form_; }
  std::string_view StoredText() override { return text_; }
  std::string text_;

 private:
  char form_;
};

}  // namespace

TEST(ExprBuildPath, StoredNumberConditionsMatchTheGeneralWay) {
  TgsExpUserLink link;
  auto stored = std::make_unique<TextNumberVar>("CODE", 'N');
  auto plain = std::make_unique<TextNumberVar>("PLAIN", 0);
  TextNumberVar& code = *stored;
  ASSERT_TRUE(link.AddVariable(std::move(stored)));
  ASSERT_TRUE(link.AddVariable(std::move(plain)));
  auto holds = [](std::string_view op, double x) {
    if (op == "=") return x == 1.5;
    if (op == "#" || op == "<>") return x != 1.5;
    if (op == "<") return x < 1.5;
    if (op == ">") return x > 1.5;
    if (op == "<=") return x <= 1.5;
    return x >= 1.5;
  };
  for (const char* op : {"=", "#", "<>", "<", ">", "<=", ">="}) {
    TgsExpHandler shortcut(&link, false, std::string("CODE ") + op + " 1.5");
    EXPECT_EQ(shortcut.StoredComparisonVariable(), &code) << op;
    EXPECT_EQ(TgsExpHandler(&link, false, std::string("PLAIN ") + op + " 1.5").StoredComparisonVariable(),
              nullptr)
        << op;
    // Plain numbers are decided from the text; "+2" and "1e0" are not plain
    // and are read through the variable's value.
    for (const char* text : {"1.5", " 1.5 ", "  -3", "2", "    ", "0.25", "+2", "1e0"}) {
      code.text_ = text;
      const bool expected = holds(op, std::strtod(text, nullptr));
      EXPECT_EQ(shortcut.EvaluateCondition(), expected) << "CODE " << op << " 1.5 with '" << text << "'";
      EXPECT_EQ(shortcut.ResultType(), TgsExpValueType::Boolean);
      const int decided = shortcut.DecideStoredComparison(text);
      if (decided >= 0) {
        EXPECT_EQ(decided != 0, expected) << op << " '" << text << "'";
      }
    }
  }
  // Only a whole-expression comparison with a number literal qualifies.
  EXPECT_EQ(TgsExpHandler(&link, false, "CODE + 1 = 2").StoredComparisonVariable(), nullptr);
  EXPECT_EQ(TgsExpHandler(&link, false, "1 = CODE").StoredComparisonVariable(), nullptr);
  EXPECT_EQ(TgsExpHandler(&link, false, "CODE = 1 .AND. CODE < 3").StoredComparisonVariable(), nullptr);
  EXPECT_EQ(TgsExpHandler(&link, false, "-CODE").StoredComparisonVariable(), nullptr);
  EXPECT_EQ(TgsExpHandler(&link, false, "CODE").StoredTextVariable(), nullptr);
}
