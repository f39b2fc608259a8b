// The node classes of a compiled expression: groups, function calls,
// variable references, literals and operators, with the evaluation rules of
// every operator and the text comparison of the comparison operators.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "engine/expr/gs6_sql.h"
#include "engine/support/gs6_date.h"
#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"
#include "platform/ansi.h"

namespace {

bool IsBlank(char c) { return static_cast<uint8_t>(c) <= 32; }

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

struct OperatorInfo {
  TgsExpOperatorCode code;
  uint8_t priority;
  std::string_view displayName;
};

constexpr OperatorInfo kOperators[] = {
    {TgsExpOperatorCode::Equal, 5, "="},
    {TgsExpOperatorCode::NotEqual, 5, "#"},
    {TgsExpOperatorCode::Greater, 5, ">"},
    {TgsExpOperatorCode::Less, 5, "<"},
    {TgsExpOperatorCode::GreaterEqual, 5, ">="},
    {TgsExpOperatorCode::LessEqual, 5, "<="},
    {TgsExpOperatorCode::InString, 5, "in string"},
    {TgsExpOperatorCode::ExactlyEqual, 5, "exactly equal"},
    {TgsExpOperatorCode::Plus, 4, "+"},
    {TgsExpOperatorCode::Minus, 4, "-"},
    {TgsExpOperatorCode::Multiply, 3, "*"},
    {TgsExpOperatorCode::Divide, 3, "/"},
    {TgsExpOperatorCode::Power, 2, "^"},
    {TgsExpOperatorCode::And, 7, ".AND."},
    {TgsExpOperatorCode::Or, 8, ".OR."},
    {TgsExpOperatorCode::Not, 6, ".NOT."},
};

const OperatorInfo& InfoOf(TgsExpOperatorCode code) {
  for (const OperatorInfo& info : kOperators)
    if (info.code == code) return info;
  return kOperators[0];
}

bool YieldsBoolean(TgsExpOperatorCode code) {
  auto c = static_cast<uint8_t>(code);
  return (c >= 129 && c <= 136) || (c >= 144 && c <= 146);
}

[[noreturn]] void RaiseUnsupported(const char* what) {
  Raise<EDeridarExpression>(Msg::ValueRequiredInvalid, what);
}

// A number result that left the range of doubles (overflow, 0/0, a power
// without a real value) ends the evaluation with a clear message instead of
// travelling on as infinity or NaN.
double CheckedResult(double result, TgsExpOperatorCode operation) {
  if (!std::isfinite(result))
    Raise<EDeridarExpression>(Msg::ArgumentMustBe, OperatorDisplayName(operation), "within the number range");
  return result;
}

}  // namespace

uint8_t OperatorPriority(TgsExpOperatorCode code) { return InfoOf(code).priority; }

std::string_view OperatorDisplayName(TgsExpOperatorCode code) { return InfoOf(code).displayName; }

// --- TgsExpBaseObject ------------------------------------------------------------

TgsExpBaseObject::TgsExpBaseObject(TgsExpNodeKind kind, TgsExpValueType resultType)
    : kind_(kind), resultType_(resultType) {}

TgsExpBaseObject::~TgsExpBaseObject() {
  // A long chain bound left to right hangs down the left operands: free it
  // link by link, so that freeing needs no recursion as deep as the chain.
  std::unique_ptr<TgsExpBaseObject> next = std::move(left_);
  while (next) {
    std::unique_ptr<TgsExpBaseObject> below = std::move(next->left_);
    next.reset();
    next = std::move(below);
  }
}

std::string TgsExpBaseObject::NodeName() const { return {}; }

int32_t TgsExpBaseObject::VariableKind() const { return -1; }

void TgsExpBaseObject::ExpressionText(std::string& out) const {
  if (left_) left_->ExpressionText(out);
  out += NodeName();
  if (right_) right_->ExpressionText(out);
}

void TgsExpBaseObject::CollectNames(int32_t kind, std::string& out) const {
  if (left_) left_->CollectNames(kind, out);
  if (VariableKind() == kind) {
    out += NodeName();
    out += ';';
  }
  if (right_) right_->CollectNames(kind, out);
}

TgsExpValueType TgsExpBaseObject::Evaluate(TgsExpValue&) { return TgsExpValueType::Unknown; }

void TgsExpBaseObject::UpdateHeight() {
  int32_t below = 0;
  if (left_) below = std::max(below, left_->height_);
  if (right_) below = std::max(below, right_->height_);
  height_ = below + 1;
}

// --- TgsExpContainer -------------------------------------------------------------

TgsExpContainer::TgsExpContainer(std::unique_ptr<TgsExpBaseObject> inner)
    : TgsExpBaseObject(TgsExpNodeKind::Group, TgsExpValueType::Unknown) {
  right_ = std::move(inner);
  UpdateHeight();
}

void TgsExpContainer::ExpressionText(std::string& out) const {
  out += '(';
  if (right_) right_->ExpressionText(out);
  out += ')';
}

void TgsExpContainer::CollectNames(int32_t kind, std::string& out) const {
  if (right_) right_->CollectNames(kind, out);
}

TgsExpValueType TgsExpContainer::Evaluate(TgsExpValue& value) {
  return right_ ? right_->Evaluate(value) : TgsExpValueType::Empty;
}

// --- TgsExpFunction --------------------------------------------------------------

TgsExpFunction::TgsExpFunction(TgsExpHandler* handler, TgsUserDefFunction* function)
    : TgsExpBaseObject(TgsExpNodeKind::FunctionCall, TgsExpValueType::Unknown),
      handler_(handler),
      function_(function),
      defaultStrWidth_(OwnerLink() ? OwnerLink()->DefaultStrWidth() : 10) {}

std::string TgsExpFunction::NodeName() const { return function_ ? function_->FunctionName() : std::string(); }

void TgsExpFunction::ExpressionText(std::string& out) const {
  out += NodeName();
  out += '(';
  for (size_t i = 0; i < arguments_.size(); ++i) {
    if (i > 0) out += ',';
    arguments_[i]->ExpressionText(out);
  }
  out += ')';
}

void TgsExpFunction::CollectNames(int32_t kind, std::string& out) const {
  for (const auto& argument : arguments_) argument->CollectNames(kind, out);
}

TgsExpValueType TgsExpFunction::Evaluate(TgsExpValue& value) {
  if (!function_) {
    value.SetNull();
    return TgsExpValueType::Empty;
  }
  return function_->Execute(*this, value);
}

void TgsExpFunction::AddArgument(std::unique_ptr<TgsExpBaseObject> argument) {
  height_ = std::max(height_, argument->Height() + 1);
  arguments_.push_back(std::move(argument));
}

const TgsExpBaseObject* TgsExpFunction::Argument(size_t index) const {
  return index < arguments_.size() ? arguments_[index].get() : nullptr;
}

TgsExpValueType TgsExpFunction::GetArgument(size_t index, TgsExpValue& value, TgsExpValueType expected) {
  TgsExpValueType type = index < arguments_.size() ? arguments_[index]->Evaluate(value) : TgsExpValueType::Empty;
  if (expected != TgsExpValueType::Any && !TypesMatch(type, expected))
    Raise<EDeridarExpression>(Msg::ArgumentNeeded, ValueTypeName(expected), index + 1, NodeName());
  return type;
}

int32_t TgsExpFunction::ArgumentLength(size_t index) const {
  return index < arguments_.size() ? arguments_[index]->Length() : 10;
}

TgsExpUserLink* TgsExpFunction::OwnerLink() const { return handler_ ? handler_->Link() : nullptr; }

TgsExpValue& TgsExpFunction::Scratch(size_t slot) {
  while (scratch_.size() <= slot) scratch_.emplace_back();
  return scratch_[slot];
}

// --- TgsExpFieldvar --------------------------------------------------------------

TgsExpFieldvar::TgsExpFieldvar(TgsExpHandler* handler, TgsUserDefFieldVar* variable)
    : TgsExpBaseObject(TgsExpNodeKind::Variable, TgsExpValueType::Unknown),
      handler_(handler),
      variable_(variable),
      storedForm_(variable->StoredForm()) {
  length_ = variable_->Length();
}

std::string TgsExpFieldvar::NodeName() const { return variable_->VariableName(); }

int32_t TgsExpFieldvar::VariableKind() const { return variable_->VariableKind(); }

TgsExpValueType TgsExpFieldvar::Evaluate(TgsExpValue& value) {
  // Values kept as text in the record are read in place: no copy of the
  // text, and numbers of the everyday form without the general parser.
  if (storedForm_ == 'C') {
    value.SetText(variable_->StoredText());
    return TgsExpValueType::Text;
  }
  double number;
  if (storedForm_ == 'N' && ReadStoredNumber(variable_->StoredText(), number)) {
    value.SetDouble(number);
    return TgsExpValueType::Number;
  }
  return variable_->GetValue(value);
}

// --- Literals --------------------------------------------------------------------

TgsExpTextLit::TgsExpTextLit(std::string text)
    : TgsExpBaseObject(TgsExpNodeKind::TextLiteral, TgsExpValueType::Text), text_(std::move(text)) {
  length_ = static_cast<int32_t>(std::min<size_t>(text_.size(), std::numeric_limits<int32_t>::max()));
}

std::string TgsExpTextLit::NodeName() const {
  // Double quotes unless the text holds one, so that the text compiles back.
  char open = '"', close = '"';
  if (text_.find('"') != std::string::npos) {
    if (text_.find('\'') == std::string::npos)
      open = close = '\'';
    else if (text_.find(']') == std::string::npos)
      open = '[', close = ']';
  }
  std::string out;
  out.reserve(text_.size() + 2);
  out += open;
  out += text_;
  out += close;
  return out;
}

TgsExpValueType TgsExpTextLit::Evaluate(TgsExpValue& value) {
  value.SetText(text_);
  return TgsExpValueType::Text;
}

TgsExpNumLit::TgsExpNumLit(std::string_view text)
    : TgsExpBaseObject(TgsExpNodeKind::NumberLiteral, TgsExpValueType::Number) {
  length_ = static_cast<int32_t>(std::min<size_t>(text.size(), std::numeric_limits<int32_t>::max()));
  size_t point = text.find('.');
  decimals_ = point == std::string_view::npos ? 0 : static_cast<int32_t>(std::min<size_t>(
                                                        text.size() - point - 1, std::numeric_limits<int32_t>::max()));
  // An optional sign, then digits with at most one point; anything else
  // (a lone sign, 1.2.3) reads as 0.
  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  double parsed = 0.0;
  if (!digits.empty() && digits.front() != '+' && digits.front() != '-') {
    auto result = std::from_chars(digits.data(), digits.data() + digits.size(), parsed, std::chars_format::fixed);
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) parsed = 0.0;
  }
  value_ = negative ? -parsed : parsed;
}

std::string TgsExpNumLit::NodeName() const {
  // Fixed notation with the literal's decimals; an infinite value (a literal
  // of more than 308 digits) is written as the shortest text instead.
  std::string out(static_cast<size_t>(decimals_) + 400, '\0');
  auto result = std::isfinite(value_)
                    ? std::to_chars(out.data(), out.data() + out.size(), value_, std::chars_format::fixed, decimals_)
                    : std::to_chars(out.data(), out.data() + out.size(), value_);
  out.resize(result.ec == std::errc() ? static_cast<size_t>(result.ptr - out.data()) : 0);
  return out;
}

TgsExpValueType TgsExpNumLit::Evaluate(TgsExpValue& value) {
  value.SetDouble(value_);
  return TgsExpValueType::Number;
}

TgsExpDateLit::TgsExpDateLit(int32_t day)
    : TgsExpBaseObject(TgsExpNodeKind::DateLiteral, TgsExpValueType::Date), value_(day) {}

std::string TgsExpDateLit::NodeName() const {
  return "{" + DBFDate().DayToDisplayText(static_cast<int32_t>(value_)) + "}";
}

TgsExpValueType TgsExpDateLit::Evaluate(TgsExpValue& value) {
  value.SetDouble(value_);
  return TgsExpValueType::Date;
}

TgsExpBlnLit::TgsExpBlnLit(bool value)
    : TgsExpBaseObject(TgsExpNodeKind::LogicalLiteral, TgsExpValueType::Boolean), value_(value) {}

std::string TgsExpBlnLit::NodeName() const { return value_ ? ".T." : ".F."; }

TgsExpValueType TgsExpBlnLit::Evaluate(TgsExpValue& value) {
  value.SetBoolean(value_);
  return TgsExpValueType::Boolean;
}

// --- TgsExpNegation --------------------------------------------------------------

TgsExpNegation::TgsExpNegation(std::unique_ptr<TgsExpBaseObject> operand)
    : TgsExpBaseObject(TgsExpNodeKind::BoundOperator, TgsExpValueType::Unknown) {
  right_ = std::move(operand);
  UpdateHeight();
}

std::string TgsExpNegation::NodeName() const { return "-"; }

TgsExpValueType TgsExpNegation::Evaluate(TgsExpValue& value) {
  const TgsExpValueType type = right_->Evaluate(value);
  if (!IsNumberGroup(type)) RaiseUnsupported("number");
  if (value.GetKind() == TgsExpValue::Kind::Integer && value.AsInteger() != std::numeric_limits<int32_t>::min())
    value.SetInteger(-value.AsInteger());
  else
    value.SetDouble(-value.AsDouble());
  // A negated day number is no date.
  resultType_ = (type == TgsExpValueType::Date || type == TgsExpValueType::DateTime) ? TgsExpValueType::Number : type;
  return resultType_;
}

// --- TgsExpOperator --------------------------------------------------------------

TgsExpOperator::TgsExpOperator(TgsExpOperatorCode code, uint8_t priority, const TgsExpHandler& settings)
    : TgsExpBaseObject(TgsExpNodeKind::Operator, TgsExpValueType::Unknown),
      code_(code),
      priority_(priority),
      link_(settings.Link()),
      caseInsensitive_(settings.CaseInsensitive()),
      partialCompare_(settings.PartialCompare()),
      multiWildcard_(settings.MultiWildcard()),
      singleWildcard_(settings.SingleWildcard()) {}

std::string TgsExpOperator::NodeName() const { return std::string(OperatorDisplayName(code_)); }

void TgsExpOperator::BindOperands(std::unique_ptr<TgsExpBaseObject> left, std::unique_ptr<TgsExpBaseObject> right) {
  left_ = std::move(left);
  right_ = std::move(right);
  kind_ = TgsExpNodeKind::BoundOperator;
  // A comparison with a number literal on the right (TIP = 1, N > 0.5).
  const auto c = static_cast<uint8_t>(code_);
  numberOnRight_ = left_ && right_ && right_->Kind() == TgsExpNodeKind::NumberLiteral &&
                   ((c >= 129 && c <= 134) || code_ == TgsExpOperatorCode::ExactlyEqual);
  if (numberOnRight_) rightNumber_ = static_cast<const TgsExpNumLit&>(*right_).Value();
  // An operator on the left with both operands and no shortcut of its own
  // joins this one's chain; the chain loop adds no level for it.
  auto* leftOperator = dynamic_cast<TgsExpOperator*>(left_.get());
  chainLeft_ = leftOperator && leftOperator->left_ && leftOperator->right_ && !leftOperator->numberOnRight_
                   ? leftOperator
                   : nullptr;
  UpdateHeight();
  if (chainLeft_) height_ = std::max(chainLeft_->height_, right_ ? right_->Height() + 1 : 1);
}

void TgsExpOperator::ExpressionText(std::string& out) const {
  // Down the chain to its first operand, then each operator with its right
  // operand on the way back up.
  std::vector<const TgsExpOperator*> chain{this};
  while (chain.back()->chainLeft_) chain.push_back(chain.back()->chainLeft_);
  if (chain.back()->left_) chain.back()->left_->ExpressionText(out);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    out += (*it)->NodeName();
    if ((*it)->right_) (*it)->right_->ExpressionText(out);
  }
}

void TgsExpOperator::CollectNames(int32_t kind, std::string& out) const {
  std::vector<const TgsExpOperator*> chain{this};
  while (chain.back()->chainLeft_) chain.push_back(chain.back()->chainLeft_);
  if (chain.back()->left_) chain.back()->left_->CollectNames(kind, out);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    if ((*it)->right_) (*it)->right_->CollectNames(kind, out);
}

// The comparison of a number with the literal on the right, done at once
// when the left operand is a number; false for any other type, which takes
// the general way.
bool TgsExpOperator::CompareWithNumber(TgsExpValue& value) {
  if (!IsNumberGroup(left_->Evaluate(leftValue_))) return false;
  const int result = CompareNumbers(leftValue_.AsDouble());
  if (result < 0) return false;
  value.SetBoolean(result != 0);
  resultType_ = TgsExpValueType::Boolean;
  return true;
}

TgsUserDefFieldVar* TgsExpOperator::StoredNumberOperand() const {
  const auto* reference = numberOnRight_ ? dynamic_cast<const TgsExpFieldvar*>(left_.get()) : nullptr;
  if (!reference) return nullptr;
  TgsUserDefFieldVar* variable = reference->Variable();
  return variable->StoredForm() == 'N' ? variable : nullptr;
}


TgsExpValueType TgsExpOperator::Evaluate(TgsExpValue& value) {
  if ((!left_ && code_ != TgsExpOperatorCode::Not) || !right_)
    Raise<EDeridarExpression>(Msg::TargetValueMissing, NodeName());
  if (numberOnRight_ && CompareWithNumber(value)) return resultType_;
  if (chainLeft_) return EvaluateChain(value);
  TgsExpValueType rightType = right_->Evaluate(value);
  TgsExpValueType leftType = left_ ? left_->Evaluate(leftValue_) : TgsExpValueType::Unknown;
  return Combine(value, leftType, rightType);
}

// The same order as the recursion would take: the right operands from the
// top of the chain down, then the first operand, then the operators from
// the bottom up. Each operator's result lands in the cell its parent reads
// as its left value, exactly where the recursion would put it.
TgsExpValueType TgsExpOperator::EvaluateChain(TgsExpValue& value) {
  spine_.clear();
  TgsExpOperator* op = this;
  TgsExpValue* out = &value;
  for (;;) {
    spine_.emplace_back(op, out);
    op->pendingRightType_ = op->right_->Evaluate(*out);
    if (!op->chainLeft_) break;
    out = &op->leftValue_;
    op = op->chainLeft_;
  }
  TgsExpValueType type = op->left_->Evaluate(op->leftValue_);
  for (auto it = spine_.rbegin(); it != spine_.rend(); ++it)
    type = it->first->Combine(*it->second, type, it->first->pendingRightType_);
  return type;
}

TgsExpValueType TgsExpOperator::Combine(TgsExpValue& value, TgsExpValueType leftType, TgsExpValueType rightType) {
  if (left_ && !TypesMatch(leftType, rightType)) Raise<EDeridarExpression>(Msg::SidesDoNotMatch);
  resultType_ = rightType;
  if (rightType == TgsExpValueType::Boolean)
    EvaluateBoolean(value);
  else if (IsNumberGroup(rightType))
    EvaluateNumber(value);
  else if (rightType == TgsExpValueType::Text)
    EvaluateText(value);
  // Any other type: no operation, the value stays as it is.
  if (YieldsBoolean(code_)) resultType_ = TgsExpValueType::Boolean;
  return resultType_;
}

void TgsExpOperator::EvaluateBoolean(TgsExpValue& value) {
  const TgsExpValue& left = leftValue_;
  switch (code_) {
    case TgsExpOperatorCode::Equal:
    case TgsExpOperatorCode::ExactlyEqual: value.SetBoolean(TgsExpValue::Compare(left, value) == 0); return;
    case TgsExpOperatorCode::NotEqual: value.SetBoolean(TgsExpValue::Compare(left, value) != 0); return;
    case TgsExpOperatorCode::And: value.SetBoolean(left.AsBoolean() && value.AsBoolean()); return;
    case TgsExpOperatorCode::Or: value.SetBoolean(left.AsBoolean() || value.AsBoolean()); return;
    case TgsExpOperatorCode::Not: value.SetBoolean(!value.AsBoolean()); return;
    case TgsExpOperatorCode::Plus:
    case TgsExpOperatorCode::Minus:
    case TgsExpOperatorCode::Multiply:
    case TgsExpOperatorCode::Divide:
    case TgsExpOperatorCode::Power: RaiseUnsupported("number");
    default: RaiseUnsupported("assigned");
  }
}

void TgsExpOperator::EvaluateNumber(TgsExpValue& value) {
  const TgsExpValue& left = leftValue_;
  const bool integers =
      left.GetKind() == TgsExpValue::Kind::Integer && value.GetKind() == TgsExpValue::Kind::Integer;
  const double x = left.AsDouble(), y = value.AsDouble();
  // Integer results stay integers while they fit in 32 bits.
  auto setIntegerOrDouble = [&value](int64_t r) {
    if (r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max())
      value.SetInteger(static_cast<int32_t>(r));
    else
      value.SetDouble(static_cast<double>(r));
  };
  switch (code_) {
    case TgsExpOperatorCode::Equal:
    case TgsExpOperatorCode::ExactlyEqual: value.SetBoolean(x == y); return;
    case TgsExpOperatorCode::NotEqual: value.SetBoolean(!(x == y)); return;
    case TgsExpOperatorCode::Greater: value.SetBoolean(x > y); return;
    case TgsExpOperatorCode::Less: value.SetBoolean(x < y); return;
    case TgsExpOperatorCode::GreaterEqual: value.SetBoolean(x >= y); return;
    case TgsExpOperatorCode::LessEqual: value.SetBoolean(x <= y); return;
    case TgsExpOperatorCode::Plus:
      if (integers) return setIntegerOrDouble(int64_t{left.AsInteger()} + value.AsInteger());
      value.SetDouble(CheckedResult(x + y, code_));
      return;
    case TgsExpOperatorCode::Minus:
      if (integers) return setIntegerOrDouble(int64_t{left.AsInteger()} - value.AsInteger());
      value.SetDouble(CheckedResult(x - y, code_));
      return;
    case TgsExpOperatorCode::Multiply:
      if (integers) return setIntegerOrDouble(int64_t{left.AsInteger()} * value.AsInteger());
      value.SetDouble(CheckedResult(x * y, code_));
      return;
    case TgsExpOperatorCode::Divide:
      if (y == 0.0) Raise<EDeridarExpression>(Msg::ArgumentMustBe, OperatorDisplayName(code_), "other than 0");
      value.SetDouble(CheckedResult(x / y, code_));
      return;
    case TgsExpOperatorCode::Power:
      value.SetDouble(CheckedResult(std::pow(x, y), code_));
      return;
    default: RaiseUnsupported("assigned");
  }
}

void TgsExpOperator::EvaluateText(TgsExpValue& value) {
  const std::string_view left = leftValue_.Text();
  switch (code_) {
    case TgsExpOperatorCode::Equal: value.SetBoolean(CompareText(leftValue_, value) == 0); return;
    // Exact equality: the same bytes, trailing blanks included, with no
    // wildcards, case folding or collation.
    case TgsExpOperatorCode::ExactlyEqual: value.SetBoolean(left == value.Text()); return;
    case TgsExpOperatorCode::NotEqual: value.SetBoolean(CompareText(leftValue_, value) != 0); return;
    case TgsExpOperatorCode::Greater: value.SetBoolean(CompareText(leftValue_, value) > 0); return;
    case TgsExpOperatorCode::Less: value.SetBoolean(CompareText(leftValue_, value) < 0); return;
    case TgsExpOperatorCode::GreaterEqual: value.SetBoolean(CompareText(leftValue_, value) >= 0); return;
    case TgsExpOperatorCode::LessEqual: value.SetBoolean(CompareText(leftValue_, value) <= 0); return;
    case TgsExpOperatorCode::InString: {
      bool found = !left.empty() && value.Text().find(left) != std::string_view::npos;
      value.SetBoolean(found);
      return;
    }
    case TgsExpOperatorCode::Plus: {
      std::string& text = value.TextBuffer();
      text.insert(0, left);
      return;
    }
    case TgsExpOperatorCode::Minus: {
      // The left text loses its trailing blanks, the right text follows, and
      // blanks restore the combined length.
      std::string& text = value.TextBuffer();
      const size_t total = left.size() + text.size();
      text.insert(0, TrimRight(left));
      text.resize(total, ' ');
      return;
    }
    default: RaiseUnsupported("assigned");
  }
}

int TgsExpOperator::CompareText(const TgsExpValue& left, const TgsExpValue& right) {
  const bool leftEmpty = left.Text().empty(), rightEmpty = right.Text().empty();
  if (leftEmpty && rightEmpty) return 0;
  if (leftEmpty) return -1;
  if (rightEmpty) return 1;
  std::string_view a = TrimRight(left.Text()), b = TrimRight(right.Text());
  const bool oem = link_ && link_->TranslateOem();
  if (caseInsensitive_ || oem) {
    foldedLeft_.assign(a);
    foldedRight_.assign(b);
    if (oem) {
      TranslateToAnsi(foldedLeft_.data(), foldedLeft_.data(), foldedLeft_.size());
      TranslateToAnsi(foldedRight_.data(), foldedRight_.data(), foldedRight_.size());
    }
    if (caseInsensitive_) {
      platform::UpperCaseInPlace(foldedLeft_);
      platform::UpperCaseInPlace(foldedRight_);
    }
    a = foldedLeft_;
    b = foldedRight_;
  }
  if (partialCompare_ && !b.empty() && (b.front() == multiWildcard_ || b.back() == multiWildcard_)) {
    if (multiWildcard_ != '*') {
      // The pattern search knows '*' and '?': carry the other pair over.
      if (b.data() != foldedRight_.data()) foldedRight_.assign(b);
      for (char& c : foldedRight_) {
        if (c == multiWildcard_)
          c = '*';
        else if (c == singleWildcard_)
          c = '?';
      }
      b = foldedRight_;
    }
    return WildcardPos(b, a) != 0 ? 0 : -1;
  }
  return platform::CompareStr(a, b);
}
