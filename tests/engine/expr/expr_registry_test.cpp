// Registries and the table's expression context: registration rules,
// lookups, ownership of shared variables, user functions and their
// arguments, compile statistics, field names and the store into a
// TgsVariant.
#include <gtest/gtest.h>

#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"
#include "support/expression_context.h"

namespace {

// Counts live instances so tests can see when a registry frees them.
class CountedVar : public TgsUserDefFieldVar {
 public:
  CountedVar(std::string_view names, int* live) : TgsUserDefFieldVar(names, 3), live_(live) { ++*live_; }
  ~CountedVar() override { --*live_; }

 private:
  int* live_;
};

class NamedFunction : public TgsUserDefFunction {
 public:
  explicit NamedFunction(std::string name) : name_(std::move(name)) {}
  std::string FunctionName() const override { return name_; }

 private:
  std::string name_;
};

// TWICE(n [, add]): 2 * n, plus add when given; reports its argument count
// through the value when called with text.
class TwiceFunction : public TgsUserDefFunction {
 public:
  std::string FunctionName() const override { return "twice"; }
  TgsExpValueType Execute(TgsExpFunction& call, TgsExpValue& value) override {
    call.GetArgument(0, value, TgsExpValueType::Number);
    double n = value.AsDouble() * 2;
    if (call.GetArgument(1, value, TgsExpValueType::Any) == TgsExpValueType::Number) n += value.AsDouble();
    value.SetDouble(n);
    return TgsExpValueType::Number;
  }
};

// ARGS(...): the count of arguments, the length fields of the first two,
// and whether the call sees the context.
class ArgsFunction : public TgsUserDefFunction {
 public:
  std::string FunctionName() const override { return "ARGS"; }
  TgsExpValueType Execute(TgsExpFunction& call, TgsExpValue& value) override {
    value.SetText(std::to_string(call.ArgumentCount()) + "/" + std::to_string(call.ArgumentLength(0)) + "/" +
                  std::to_string(call.ArgumentLength(1)) + "/" + (call.OwnerLink() ? "link" : "none"));
    return TgsExpValueType::Text;
  }
};

TEST(FunctionReg, SortedCaseInsensitiveAndRejectsDuplicates) {
  TgsFunctionReg reg;
  EXPECT_TRUE(reg.RegisterFunction(std::make_unique<NamedFunction>("zeta")));
  EXPECT_TRUE(reg.RegisterFunction(std::make_unique<NamedFunction>("Alpha")));
  EXPECT_TRUE(reg.RegisterFunction(std::make_unique<NamedFunction>("MID")));
  auto duplicate = std::make_unique<NamedFunction>("ALPHA");
  EXPECT_FALSE(reg.RegisterFunction(std::move(duplicate)));
  ASSERT_NE(duplicate, nullptr) << "the caller keeps a rejected function";
  EXPECT_TRUE(reg.RegisterFunction(std::unique_ptr<TgsUserDefFunction>()));
  ASSERT_EQ(reg.Count(), 3u);
  EXPECT_EQ(reg.NameAt(0), "ALPHA");
  EXPECT_EQ(reg.NameAt(1), "MID");
  EXPECT_EQ(reg.NameAt(2), "ZETA");
  EXPECT_EQ(reg.NameAt(3), "");
  EXPECT_EQ(reg.FunctionAt(3), nullptr);
  EXPECT_EQ(reg.Find("alpha"), reg.FunctionAt(0));
  EXPECT_EQ(reg.Find("mId"), reg.FunctionAt(1));
  EXPECT_EQ(reg.Find("ALPH"), nullptr);
}

TEST(FieldVarReg, EntersAVariableUnderEachName) {
  int live = 0;
  {
    TgsFieldVarReg reg;
    auto variable = std::make_unique<CountedVar>("num;phone.num", &live);
    TgsUserDefFieldVar* raw = variable.get();
    EXPECT_TRUE(reg.RegisterVariable(std::move(variable)));
    EXPECT_EQ(variable, nullptr);
    EXPECT_EQ(reg.Count(), 2u);
    EXPECT_EQ(reg.Find("NUM"), raw);
    EXPECT_EQ(reg.Find("Phone.Num"), raw);
    EXPECT_EQ(raw->VariableNames(), "NUM;PHONE.NUM");
    EXPECT_EQ(reg.NameAt(1), "PHONE.NUM");
    EXPECT_EQ(reg.VariableAt(2), nullptr);
    EXPECT_EQ(live, 1);
  }
  EXPECT_EQ(live, 0) << "freed once, with its last entry";
}

TEST(FieldVarReg, DuplicateNamesAreSkipped) {
  int live = 0;
  TgsFieldVarReg reg;
  EXPECT_TRUE(reg.RegisterVariable(std::make_unique<CountedVar>("A", &live)));
  // One name is new: the registry takes the variable but reports false.
  auto partly = std::make_unique<CountedVar>("A;B", &live);
  TgsUserDefFieldVar* partlyRaw = partly.get();
  EXPECT_FALSE(reg.RegisterVariable(std::move(partly)));
  EXPECT_EQ(partly, nullptr);
  EXPECT_EQ(reg.Find("B"), partlyRaw);
  EXPECT_NE(reg.Find("A"), partlyRaw);
  // No name is new: the caller keeps it.
  auto rejected = std::make_unique<CountedVar>("a;b", &live);
  EXPECT_FALSE(reg.RegisterVariable(std::move(rejected)));
  EXPECT_NE(rejected, nullptr);
  rejected.reset();
  EXPECT_EQ(live, 2);
}

TEST(ExpUserLink, DestroyingTheContextFreesItsVariables) {
  int live = 0;
  {
    TgsExpUserLink link;
    link.AddVariable(std::make_unique<CountedVar>("X;T.X", &live));
    link.AddVariable(std::make_unique<CountedVar>("Y", &live));
    EXPECT_EQ(live, 2);
    EXPECT_NE(link.FindVariable("t.x"), nullptr);
  }
  EXPECT_EQ(live, 0);
}

TEST(ExpUserLink, TableFunctionsAreCalledWithTheirArguments) {
  TestExpContext ctx;
  ctx.AddNumber("N", 4, 6);
  ASSERT_TRUE(ctx.AddFunction(std::make_unique<TwiceFunction>()));
  ASSERT_TRUE(ctx.AddFunction(std::make_unique<ArgsFunction>()));
  EXPECT_DOUBLE_EQ(EvaluateExpression("TWICE(N)", &ctx).Number(), 8);
  EXPECT_DOUBLE_EQ(EvaluateExpression("twice(N, 1) + 1", &ctx).Number(), 10);
  EXPECT_DOUBLE_EQ(EvaluateExpression("TWICE(TWICE(N), TWICE(1))", &ctx).Number(), 18);
  EXPECT_EQ(EvaluateExpression("ARGS(N, 1.25)", &ctx).Text(), "2/6/4/link");
  EXPECT_EQ(EvaluateExpression("ARGS(N + 1)", &ctx).Text(), "1/0/10/link");
  EXPECT_EQ(EvaluateExpression("ARGS()", &ctx).Text(), "0/10/10/link");
  // Messages and texts use the function's own spelling of its name.
  EXPECT_EQ(ExpressionError("TWICE('a')", &ctx), "Number needed for Argument 1 of twice");
  EXPECT_EQ(ExpressionError("TWICE()", &ctx), "Number needed for Argument 1 of twice");
  TgsExpHandler handler(&ctx, false, "ARGS(N) + TWICE(N)");
  EXPECT_EQ(handler.ExpressionText(), "ARGS(N)+twice(N)");
}

TEST(ExpUserLink, GlobalFunctionsHideTableFunctions) {
  TestExpContext ctx;
  ASSERT_TRUE(ctx.AddFunction(std::make_unique<NamedFunction>("LEN")));
  TestEvaluation result = EvaluateExpression("LEN('abc')", &ctx);
  EXPECT_EQ(result.type, TgsExpValueType::Number);
  EXPECT_DOUBLE_EQ(result.Number(), 3);
}

TEST(ExpUserLink, BareNameIsTheFieldAndNameWithParenthesisTheFunction) {
  // A field named like a built-in function: the function only when "("
  // follows the name.
  TestExpContext ctx;
  ctx.AddNumber("LEN;ROOMS.LEN", 12);
  ctx.AddText("NAME", "ABC  ");
  EXPECT_DOUBLE_EQ(EvaluateExpression("LEN", &ctx).Number(), 12);
  EXPECT_DOUBLE_EQ(EvaluateExpression("len + 1", &ctx).Number(), 13);
  EXPECT_DOUBLE_EQ(EvaluateExpression("rooms->len", &ctx).Number(), 12);
  EXPECT_DOUBLE_EQ(EvaluateExpression("LEN(NAME)", &ctx).Number(), 5);
  EXPECT_DOUBLE_EQ(EvaluateExpression("LEN(NAME) + LEN + ABS(-LEN)", &ctx).Number(), 29);
  TgsExpHandler handler(&ctx, false, "STR(LEN) + NAME");
  EXPECT_EQ(handler.FieldNames(kTableFieldKind), "LEN;NAME;");
}

TEST(ExpHandler, CompileStatistics) {
  TestExpContext ctx;
  ctx.AddText("NAME", "x", 35);
  ctx.AddNumber("NUM", 1, 7);
  TgsExpHandler handler(&ctx, false, "NAME = 'A' .AND. (NUM > 12.125 .OR. TRUE) .AND. LEN(NAME) > 0");
  EXPECT_EQ(handler.OperandCount(), 8);
  EXPECT_EQ(handler.MaxLength(), 35);
  EXPECT_EQ(handler.MaxDecimals(), 3);
  handler.Compile("1");
  EXPECT_EQ(handler.OperandCount(), 1);
  EXPECT_EQ(handler.MaxLength(), 1);
  EXPECT_EQ(handler.MaxDecimals(), 0);
}

TEST(ExpHandler, FieldNamesListsTableFieldsInOrderWithDuplicates) {
  TestExpContext ctx;
  ctx.AddText("NAME;PHONE.NAME", "x");
  ctx.AddNumber("NUM", 1);
  TgsExpHandler handler(&ctx, false, "phone->name + STR(NUM) + (NAME) = 'A' .AND. PI > 3 .AND. NUM > 0");
  EXPECT_EQ(handler.FieldNames(kTableFieldKind), "NAME;NUM;NAME;NUM;");
  EXPECT_EQ(handler.FieldNames(kSystemVariableKind), "PI;");
  EXPECT_EQ(handler.FieldNames(3), "");
}

TEST(ExpHandler, EvaluateToVariantStoresByType) {
  TestExpContext ctx;
  ctx.AddDate("BORN", 2450000);
  auto& number = ctx.AddNumber("INT", 0);
  number.SetNumber(5, TgsExpValueType::Integer);
  ctx.AddText("NUL", "").SetNull(TgsExpValueType::Text);
  TgsVariant v;
  const auto store = [&](const char* text) { return TgsExpHandler(&ctx, false, text).EvaluateToVariant(v); };
  EXPECT_EQ(store("'ab' + 'c'"), TgsExpValueType::Text);
  EXPECT_EQ(v.Tag(), TgsVariant::kText);
  EXPECT_EQ(v.AsText(), "abc");
  EXPECT_EQ(store("2.5 * 2"), TgsExpValueType::Number);
  EXPECT_EQ(v.Tag(), TgsVariant::kFloat);
  EXPECT_DOUBLE_EQ(v.AsFloat(), 5);
  EXPECT_EQ(store("1 + BORN"), TgsExpValueType::Date);
  EXPECT_EQ(v.Tag(), TgsVariant::kDate);
  EXPECT_EQ(v.AsDate(), 2450001);
  EXPECT_EQ(store("BORN > 0"), TgsExpValueType::Boolean);
  EXPECT_EQ(v.Tag(), TgsVariant::kBoolean);
  EXPECT_TRUE(v.AsBoolean());
  // An Integer result has no store: the cell stays, the type is Unknown.
  EXPECT_EQ(store("INT"), TgsExpValueType::Unknown);
  EXPECT_EQ(v.Tag(), TgsVariant::kBoolean);
  // A Null value leaves the cell alone.
  EXPECT_EQ(store("NUL"), TgsExpValueType::Text);
  EXPECT_EQ(v.Tag(), TgsVariant::kBoolean);
  EXPECT_EQ(store(""), TgsExpValueType::Unknown);
  EXPECT_EQ(v.Tag(), TgsVariant::kText);
  EXPECT_EQ(v.Length(), 0u);
  // A blank date is stored as no date.
  EXPECT_EQ(store("CTOD('')"), TgsExpValueType::Date);
  EXPECT_EQ(v.Tag(), TgsVariant::kDate);
  EXPECT_EQ(v.AsDate(), 0);
}

}  // namespace
