// Test expression context, one-call evaluation and tree dumps.
#include "support/expression_context.h"

#include "engine/support/gs6_glbl.h"

TgsExpValueType TestFieldVar::GetValue(TgsExpValue& value) {
  ++reads_;
  switch (value_.GetKind()) {
    case TgsExpValue::Kind::Null: value.SetNull(); break;
    case TgsExpValue::Kind::Text: value.SetText(value_.Text()); break;
    case TgsExpValue::Kind::Boolean: value.SetBoolean(value_.AsBoolean()); break;
    case TgsExpValue::Kind::Integer: value.SetInteger(value_.AsInteger()); break;
    case TgsExpValue::Kind::Double: value.SetDouble(value_.AsDouble()); break;
  }
  return type_;
}

void TestFieldVar::SetText(std::string_view text) {
  value_.SetText(text);
  type_ = TgsExpValueType::Text;
}

void TestFieldVar::SetNumber(double number, TgsExpValueType type) {
  value_.SetDouble(number);
  type_ = type;
}

void TestFieldVar::SetBoolean(bool flag) {
  value_.SetBoolean(flag);
  type_ = TgsExpValueType::Boolean;
}

void TestFieldVar::SetNull(TgsExpValueType type) {
  value_.SetNull();
  type_ = type;
}

TestFieldVar& TestExpContext::Register(std::unique_ptr<TestFieldVar> variable) {
  TestFieldVar& ref = *variable;
  AddVariable(std::move(variable));
  return ref;
}

TestFieldVar& TestExpContext::AddText(std::string_view names, std::string_view text, int32_t length) {
  auto variable = std::make_unique<TestFieldVar>(names, length < 0 ? static_cast<int32_t>(text.size()) : length);
  variable->SetText(text);
  return Register(std::move(variable));
}

TestFieldVar& TestExpContext::AddNumber(std::string_view names, double number, int32_t length) {
  auto variable = std::make_unique<TestFieldVar>(names, length);
  variable->SetNumber(number);
  return Register(std::move(variable));
}

TestFieldVar& TestExpContext::AddDate(std::string_view names, int32_t day) {
  auto variable = std::make_unique<TestFieldVar>(names, 8);
  variable->SetNumber(day, TgsExpValueType::Date);
  return Register(std::move(variable));
}

TestFieldVar& TestExpContext::AddBoolean(std::string_view names, bool flag) {
  auto variable = std::make_unique<TestFieldVar>(names, 1);
  variable->SetBoolean(flag);
  return Register(std::move(variable));
}

TestEvaluation EvaluateExpression(std::string_view expression, TgsExpUserLink* link, TestCompileOptions options) {
  TgsExpHandler handler(link, options.wildcardStyle, "");
  handler.SetCaseInsensitive(options.caseInsensitive);
  handler.SetPartialCompare(options.partialCompare);
  handler.Compile(expression);
  TestEvaluation result;
  result.type = handler.Evaluate(result.value);
  return result;
}

std::string TreeShape(const TgsExpBaseObject* node) {
  if (!node) return "";
  switch (node->Kind()) {
    case TgsExpNodeKind::Group: return "[" + TreeShape(node->Right()) + "]";
    case TgsExpNodeKind::BoundOperator:
    case TgsExpNodeKind::Operator: {
      std::string out = "(";
      if (node->Left()) out += TreeShape(node->Left()) + " ";
      out += node->NodeName();
      if (node->Right()) out += " " + TreeShape(node->Right());
      return out + ")";
    }
    case TgsExpNodeKind::FunctionCall: {
      auto* call = static_cast<const TgsExpFunction*>(node);
      std::string out = call->NodeName() + "(";
      for (size_t i = 0; i < call->ArgumentCount(); ++i) {
        if (i > 0) out += ", ";
        out += TreeShape(call->Argument(i));
      }
      return out + ")";
    }
    default: return node->NodeName();
  }
}

std::string TreeShape(std::string_view expression, TgsExpUserLink* link) {
  TgsExpHandler handler(link, false, expression);
  return TreeShape(handler.Root());
}

std::string ExpressionError(std::string_view expression, TgsExpUserLink* link, TestCompileOptions options) {
  try {
    EvaluateExpression(expression, link, options);
  } catch (const EDeridarExpression& e) {
    return e.what();
  }
  return "<no error>";
}
