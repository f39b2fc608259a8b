// Helpers for expression tests: a table-like expression context whose
// variables hold fixed values, one-call compile-and-evaluate, and a dump of a
// compiled tree that shows how operators were bound.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "engine/expr/gs6_sql.h"

// Prints value types by name in test failure messages.
inline void PrintTo(TgsExpValueType type, std::ostream* os) { *os << ValueTypeName(type); }

// A variable with a settable value and type; kind 17 by default, like a
// table field.
class TestFieldVar : public TgsUserDefFieldVar {
 public:
  TestFieldVar(std::string_view names, int32_t length, int32_t kind = kTableFieldKind)
      : TgsUserDefFieldVar(names, length), kind_(kind) {}

  int32_t VariableKind() const override { return kind_; }
  TgsExpValueType GetValue(TgsExpValue& value) override;

  void SetText(std::string_view text);
  void SetNumber(double number, TgsExpValueType type = TgsExpValueType::Number);
  void SetBoolean(bool flag);
  void SetNull(TgsExpValueType type);

  // How often the value was read.
  int Reads() const { return reads_; }

 private:
  int32_t kind_;
  TgsExpValue value_;
  TgsExpValueType type_ = TgsExpValueType::Empty;
  int reads_ = 0;
};

// An expression context with test variables. The Add functions register
// the variable (all names of a ";" list) and return it; the context owns it.
class TestExpContext : public TgsExpUserLink {
 public:
  TestFieldVar& AddText(std::string_view names, std::string_view text, int32_t length = -1);
  TestFieldVar& AddNumber(std::string_view names, double number, int32_t length = 10);
  TestFieldVar& AddDate(std::string_view names, int32_t day);
  TestFieldVar& AddBoolean(std::string_view names, bool flag);

 private:
  TestFieldVar& Register(std::unique_ptr<TestFieldVar> variable);
};

struct TestEvaluation {
  TgsExpValue value;
  TgsExpValueType type = TgsExpValueType::Unknown;
  std::string Text() const { return std::string(value.Text()); }
  double Number() const { return value.AsDouble(); }
  bool Boolean() const { return value.AsBoolean(); }
};

struct TestCompileOptions {
  bool caseInsensitive = false;
  bool partialCompare = true;
  bool wildcardStyle = false;
};

// Compiles `expression` against `link` (may be null) and evaluates it once.
TestEvaluation EvaluateExpression(std::string_view expression, TgsExpUserLink* link = nullptr,
                                  TestCompileOptions options = {});

// The compiled tree with every bound operator in parentheses and every
// group in brackets: "a+b*c" gives "(A + (B * C))"; NOT shows as
// "(.NOT. X)", a call as "NAME(arg, arg)".
std::string TreeShape(const TgsExpBaseObject* node);
std::string TreeShape(std::string_view expression, TgsExpUserLink* link = nullptr);

// The message of the EDeridarExpression that compiling and evaluating
// `expression` raises; "<no error>" when none is raised.
std::string ExpressionError(std::string_view expression, TgsExpUserLink* link = nullptr,
                            TestCompileOptions options = {});
