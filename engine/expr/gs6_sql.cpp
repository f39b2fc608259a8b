// The compiled expression `TgsExpHandler`: the tokenizer with its
// recognisers, the tree builder with priority binding, and evaluation entry
// points (including the store into a `TgsVariant`).
#include "engine/expr/gs6_sql.h"

#include <algorithm>
#include <cstring>

#include "engine/support/gs6_date.h"
#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"
#include "platform/locale.h"

namespace {

bool IsBlank(char c) { return static_cast<uint8_t>(c) <= 32; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameChar(char c) { return IsLetter(c) || IsDigit(c) || c == '_'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string UpperName(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Upper(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A word that stands alone: after it comes a character that cannot continue
// a name and is not a point. (A following character is required.)
bool WordEndsAt(std::string_view s, size_t pos) { return pos < s.size() && !IsNameChar(s[pos]) && s[pos] != '.'; }

struct SymbolSpelling {
  std::string_view text;
  TgsExpOperatorCode code;
};

constexpr SymbolSpelling kSymbolSpellings[] = {
    {"=", TgsExpOperatorCode::Equal},         {"#", TgsExpOperatorCode::NotEqual},
    {"<>", TgsExpOperatorCode::NotEqual},     {"!=", TgsExpOperatorCode::NotEqual},
    {">", TgsExpOperatorCode::Greater},       {"<", TgsExpOperatorCode::Less},
    {">=", TgsExpOperatorCode::GreaterEqual}, {"=>", TgsExpOperatorCode::GreaterEqual},
    {"<=", TgsExpOperatorCode::LessEqual},    {"=<", TgsExpOperatorCode::LessEqual},
    {"$", TgsExpOperatorCode::InString},      {"==", TgsExpOperatorCode::ExactlyEqual},
    {"+", TgsExpOperatorCode::Plus},          {"-", TgsExpOperatorCode::Minus},
    {"*", TgsExpOperatorCode::Multiply},      {"/", TgsExpOperatorCode::Divide},
    {"^", TgsExpOperatorCode::Power},         {"**", TgsExpOperatorCode::Power},
    {"!", TgsExpOperatorCode::Not},
};

struct WordSpelling {
  std::string_view text;
  TgsExpOperatorCode code;
};

constexpr WordSpelling kWordSpellings[] = {
    {"AND", TgsExpOperatorCode::And},         {"OR", TgsExpOperatorCode::Or},
    {"EQ", TgsExpOperatorCode::Equal},        {"NE", TgsExpOperatorCode::NotEqual},
    {"GE", TgsExpOperatorCode::GreaterEqual}, {"LE", TgsExpOperatorCode::LessEqual},
    {"LT", TgsExpOperatorCode::Less},         {"GT", TgsExpOperatorCode::Greater},
};

TgsExpToken OperatorToken(TgsExpOperatorCode code) {
  return TgsExpToken{static_cast<uint8_t>(code), OperatorPriority(code), {}};
}

// Keeps the nesting depth of compiles in progress and refuses to go deeper
// than the limit.
class NestingGuard {
 public:
  explicit NestingGuard(int& depth) : depth_(depth) {
    if (++depth_ > kMaxExpressionNesting) {
      --depth_;
      Raise<EDeridarExpression>(Msg::CannotEvaluate);
    }
  }
  ~NestingGuard() { --depth_; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;

 private:
  int& depth_;
};

void CheckHeight(const TgsExpBaseObject& node) {
  if (node.Height() > kMaxExpressionHeight) Raise<EDeridarExpression>(Msg::CannotEvaluate);
}

}  // namespace

size_t FindClosing(std::string_view text, size_t start, bool stopAtComma) {
  char closer = 0;  // the closing character of the quote we are in, 0 outside
  int depth = 0;
  for (size_t i = start + 1; i < text.size(); ++i) {
    char c = text[i];
    if (closer != 0) {
      if (c == closer) {
        closer = 0;
        --depth;
      }
      continue;
    }
    switch (c) {
      case '"':
      case '\'': closer = c; ++depth; break;
      case '[': closer = ']'; ++depth; break;
      case '{': closer = '}'; ++depth; break;
      case '(': ++depth; break;
      case ')':
        if (depth == 0) return i;
        --depth;
        break;
      case ',':
        if (depth == 0 && stopAtComma) return i;
        break;
      default: break;
    }
  }
  return text.size();
}

// --- Tokenizer ---------------------------------------------------------------------

// The recognisers of one Tokenize call. Each looks at the start of the rest
// `s_` (from `pos_`); on success it consumes what it read and appends one
// token.
class TgsExpHandler::Tokenizer {
 public:
  // `quoted` is the text a syntax error names: the whole expression.
  Tokenizer(const TgsExpHandler& handler, std::string_view text, std::string_view quoted)
      : handler_(handler), quoted_(quoted), s_(Trim(text)) {}

  std::vector<TgsExpToken> Run() {
    bool operandExpected = true;
    while (!AtEnd()) {
      bool recognised = false;
      if (operandExpected) {
        if (TryNot()) {
          SkipBlanks();
          if (AtEnd()) break;  // a trailing NOT: its missing operand shows at evaluation
        }
        const bool negated = TryNegation();
        recognised = TryGroup() || TryLogical() || TryName() || TryQuoted() || TryNumber();
        if (recognised) {
          tokens_.back().negated = negated;
          operandExpected = false;
        }
      } else {
        recognised = TrySymbolOperator() || TryWordOperator();
        if (recognised) operandExpected = true;
      }
      if (!recognised) Raise<EDeridarExpression>(Msg::SyntaxError, quoted_);
      SkipBlanks();
    }
    return std::move(tokens_);
  }

 private:
  bool AtEnd() const { return pos_ >= s_.size(); }
  char Peek(size_t offset = 0) const { return pos_ + offset < s_.size() ? s_[pos_ + offset] : '\0'; }
  void SkipBlanks() {
    while (!AtEnd() && IsBlank(s_[pos_])) ++pos_;
  }
  std::string_view Rest() const { return std::string_view(s_).substr(pos_); }

  // "!", ".NOT." or a standalone NOT. As the first token it is the operator;
  // later in a (sub)expression it makes the rest of the text one group, so
  // that NOT takes all of it as its operand.
  bool TryNot() {
    std::string_view rest = Rest();
    size_t length = 0;
    if (!rest.empty() && rest.front() == '!')
      length = 1;
    else if (rest.size() >= 5 && EqualsNoCase(rest.substr(0, 5), ".NOT."))
      length = 5;
    else if (rest.size() >= 3 && EqualsNoCase(rest.substr(0, 3), "NOT") && WordEndsAt(rest, 3))
      length = 3;
    if (length == 0) return false;
    if (tokens_.empty()) {
      tokens_.push_back(OperatorToken(TgsExpOperatorCode::Not));
      pos_ += length;
      return true;
    }
    s_ = "(" + std::string(rest) + ")";
    pos_ = 0;
    return false;
  }

  // A minus sign before a name, a call or a group (blanks may follow it)
  // negates that operand. Before a digit or a point the sign belongs to the
  // number literal instead.
  bool TryNegation() {
    if (Peek() != '-') return false;
    size_t next = pos_ + 1;
    while (next < s_.size() && IsBlank(s_[next])) ++next;
    if (next >= s_.size()) return false;
    const char c = s_[next];
    if (!IsLetter(c) && c != '_' && c != '(') return false;
    pos_ = next;
    return true;
  }

  bool TryGroup() {
    if (Peek() != '(') return false;
    int depth = 0;
    size_t close = std::string::npos;
    for (size_t i = pos_; i < s_.size(); ++i) {
      if (s_[i] == '(') {
        ++depth;
      } else if (s_[i] == ')' && --depth == 0) {
        close = i;
        break;
      }
    }
    if (close == std::string::npos) Raise<EDeridarExpression>(Msg::MissingClosingParen);
    tokens_.push_back(TgsExpToken{kTokenGroup, 0, s_.substr(pos_ + 1, close - pos_ - 1)});
    pos_ = close + 1;
    return true;
  }

  bool TryLogical() {
    if (Peek() != '.') return false;
    size_t close = s_.find('.', pos_ + 1);
    if (close == std::string::npos) Raise<EDeridarExpression>(Msg::MissingClosingPeriod);
    std::string literal = UpperName(std::string_view(s_).substr(pos_, close - pos_ + 1));
    if (literal != ".T." && literal != ".F.") Raise<EDeridarExpression>(Msg::ExpectingLogical);
    tokens_.push_back(TgsExpToken{kTokenLogical, 0, std::move(literal)});
    pos_ = close + 1;
    return true;
  }

  size_t NameRunEnd(size_t from) const {
    while (from < s_.size() && IsNameChar(s_[from])) ++from;
    return from;
  }

  // A name, possibly qualified (ALIAS.FIELD or ALIAS->FIELD): a function
  // call when "(" follows, otherwise a registered variable.
  bool TryName() {
    if (!IsLetter(Peek()) && Peek() != '_') return false;
    size_t end = NameRunEnd(pos_ + 1);
    std::string name = s_.substr(pos_, end - pos_);
    const std::string firstSegment = name;
    pos_ = end;
    for (;;) {
      if (Peek() == '(') {
        size_t close = FindClosing(s_, pos_, false);
        if (close >= s_.size()) Raise<EDeridarExpression>(Msg::MissingClosingParen);
        tokens_.push_back(TgsExpToken{kTokenFunctionCall, 0, name + s_.substr(pos_, close - pos_ + 1)});
        pos_ = close + 1;
        return true;
      }
      bool found = handler_.LookupVariable(UpperName(name)) != nullptr;
      if (!found && Rest().substr(0, 2) == "->") {
        // ALIAS->FIELD reads as ALIAS.FIELD.
        ++pos_;
        s_[pos_] = '.';
      }
      if (found) {
        tokens_.push_back(TgsExpToken{kTokenVariable, 0, std::move(name)});
        return true;
      }
      if (Peek() != '.') Raise<EDeridarExpression>(Msg::NoFunction, firstSegment);
      end = NameRunEnd(pos_ + 1);
      name.append(s_, pos_, end - pos_);
      pos_ = end;
    }
  }

  bool TryQuoted() {
    char open = Peek(), close;
    uint8_t kind = kTokenText;
    switch (open) {
      case '"':
      case '\'': close = open; break;
      case '[': close = ']'; break;
      case '{': close = '}'; kind = kTokenDate; break;
      default: return false;
    }
    size_t end = s_.find(close, pos_ + 1);
    if (end == std::string::npos) Raise<EDeridarExpression>(Msg::MissingClosingQuote, std::string(1, open));
    tokens_.push_back(TgsExpToken{kind, 0, s_.substr(pos_ + 1, end - pos_ - 1)});
    pos_ = end + 1;
    return true;
  }

  bool TryNumber() {
    char c = Peek();
    if (c != '+' && c != '-' && !IsDigit(c)) return false;
    // Digits and points; a point followed by a letter starts a word
    // operator (1.AND.X) and ends the number.
    size_t end = pos_ + 1;
    while (end < s_.size() && (IsDigit(s_[end]) || (s_[end] == '.' && !(end + 1 < s_.size() && IsLetter(s_[end + 1])))))
      ++end;
    tokens_.push_back(TgsExpToken{kTokenNumber, 0, s_.substr(pos_, end - pos_)});
    pos_ = end;
    return true;
  }

  bool TrySymbolOperator() {
    if (AtEnd() || std::strchr("!#$*+-/<=>^", Peek()) == nullptr) return false;
    size_t end = pos_ + 1;
    while (end < s_.size() && std::strchr("*<=>", s_[end]) != nullptr) ++end;
    if (end >= s_.size()) return false;  // an operator needs something after it
    std::string_view run = std::string_view(s_).substr(pos_, end - pos_);
    for (const SymbolSpelling& spelling : kSymbolSpellings) {
      if (spelling.text == run) {
        tokens_.push_back(OperatorToken(spelling.code));
        pos_ = end;
        return true;
      }
    }
    return false;
  }

  // ".AND." between points, or a standalone AND (any case).
  bool TryWordOperator() {
    const bool dotted = Peek() == '.';
    if (!dotted && !IsLetter(Peek())) return false;
    size_t start = dotted ? pos_ + 1 : pos_;
    size_t end = start;
    while (end < s_.size() && IsLetter(s_[end])) ++end;
    std::string_view word = std::string_view(s_).substr(start, end - start);
    for (const WordSpelling& spelling : kWordSpellings) {
      if (!EqualsNoCase(word, spelling.text)) continue;
      if (dotted) {
        if (end >= s_.size() || s_[end] != '.') return false;
        pos_ = end + 1;
      } else {
        if (!WordEndsAt(s_, end)) return false;
        pos_ = end;
      }
      tokens_.push_back(OperatorToken(spelling.code));
      return true;
    }
    return false;
  }

  const TgsExpHandler& handler_;
  std::string_view quoted_;
  std::string s_;
  size_t pos_ = 0;
  std::vector<TgsExpToken> tokens_;
};

// --- TgsExpHandler -----------------------------------------------------------------

TgsExpHandler::TgsExpHandler(TgsExpUserLink* link, bool wildcardStyle, std::string_view text)
    : link_(link), multiWildcard_(wildcardStyle ? '%' : '*'), singleWildcard_(wildcardStyle ? '_' : '?') {
  if (!text.empty()) Compile(text);
}

TgsExpHandler::~TgsExpHandler() = default;

void TgsExpHandler::Compile(std::string_view text) {
  root_.reset();
  maxLength_ = 0;
  maxDecimals_ = 0;
  operandCount_ = 0;
  resultType_ = TgsExpValueType::Unknown;
  nesting_ = 0;
  sourceText_.assign(text);
  storedComparison_ = nullptr;
  storedComparisonVariable_ = nullptr;
  if (text.empty()) return;
  root_ = CompileNested(text);
  // A negation is a bound operator node too: only an operator qualifies.
  if (const auto* comparison = dynamic_cast<const TgsExpOperator*>(root_.get())) {
    if (TgsUserDefFieldVar* variable = comparison->StoredNumberOperand()) {
      storedComparison_ = comparison;
      storedComparisonVariable_ = variable;
    }
  }
}

std::unique_ptr<TgsExpBaseObject> TgsExpHandler::CompileNested(std::string_view text) {
  NestingGuard guard(nesting_);
  return BuildTree(Tokenize(text));
}

std::vector<TgsExpToken> TgsExpHandler::Tokenize(std::string_view text) {
  // Inside a compile a syntax error quotes the whole expression, not the
  // group or argument being read.
  std::string_view quoted = nesting_ > 0 ? std::string_view(sourceText_) : text;
  return Tokenizer(*this, text, quoted).Run();
}

TgsUserDefFieldVar* TgsExpHandler::LookupVariable(std::string_view name) const {
  if (TgsUserDefFieldVar* variable = GlobalVariableReg().Find(name)) return variable;
  return link_ ? link_->FindVariable(name) : nullptr;
}

std::unique_ptr<TgsExpBaseObject> TgsExpHandler::BuildTree(const std::vector<TgsExpToken>& tokens) {
  if (tokens.empty()) return nullptr;
  std::vector<std::unique_ptr<TgsExpBaseObject>> nodes;
  nodes.reserve(tokens.size());
  for (const TgsExpToken& token : tokens) nodes.push_back(MakeNode(token));
  Bind(nodes);
  if (nodes.size() != 1) Raise<EDeridarExpression>(Msg::CannotEvaluate);
  return std::move(nodes.front());
}

void TgsExpHandler::CountOperand(const TgsExpBaseObject& node, bool measured) {
  ++operandCount_;
  if (measured) {
    maxLength_ = std::max(maxLength_, node.Length());
    maxDecimals_ = std::max(maxDecimals_, node.Decimals());
  }
}

std::unique_ptr<TgsExpBaseObject> TgsExpHandler::MakeNode(const TgsExpToken& token) {
  std::unique_ptr<TgsExpBaseObject> node;
  switch (token.kind) {
    case kTokenFunctionCall:
      node = MakeFunctionCall(token.payload);
      CountOperand(*node, false);
      break;
    case kTokenVariable:
      node = MakeVariable(token.payload);
      CountOperand(*node, true);
      break;
    case kTokenGroup:
      node = std::make_unique<TgsExpContainer>(CompileNested(token.payload));
      break;
    case kTokenText:
      node = std::make_unique<TgsExpTextLit>(token.payload);
      CountOperand(*node, false);
      break;
    case kTokenDate: {
      int32_t day = 0;
      try {
        day = DBFDate().TextToDay(token.payload);
      } catch (const platform::ConvertError&) {
        Raise<EDeridarExpression>(Msg::ValueRequiredInvalid, "Date");
      }
      node = std::make_unique<TgsExpDateLit>(day);
      CountOperand(*node, false);
      break;
    }
    case kTokenNumber:
      node = std::make_unique<TgsExpNumLit>(token.payload);
      CountOperand(*node, true);
      break;
    case kTokenLogical:
      node = std::make_unique<TgsExpBlnLit>(token.payload == ".T.");
      CountOperand(*node, false);
      break;
    default:
      node = std::make_unique<TgsExpOperator>(static_cast<TgsExpOperatorCode>(token.kind), token.priority, *this);
      break;
  }
  CheckHeight(*node);
  if (token.negated) {
    node = std::make_unique<TgsExpNegation>(std::move(node));
    CheckHeight(*node);
  }
  return node;
}

std::unique_ptr<TgsExpBaseObject> TgsExpHandler::MakeFunctionCall(const std::string& payload) {
  const size_t open = payload.find('(');
  const std::string name = UpperName(std::string_view(payload).substr(0, open));
  TgsUserDefFunction* function = GlobalFunctionReg().Find(name);
  if (!function && link_) function = link_->FindFunction(name);
  if (!function) {
    if (link_) link_->UnknownFunction(name);
    Raise<EDeridarExpression>(Msg::NoFunction, name);
  }
  auto call = std::make_unique<TgsExpFunction>(this, function);
  // Arguments are split at top-level commas; an empty or blank argument
  // keeps no place, so F(A,,B) has two arguments.
  size_t p = open;
  while (p + 1 < payload.size()) {
    size_t q = FindClosing(payload, p, true);
    if (q >= payload.size()) Raise<EDeridarExpression>(Msg::MissingClosingParen);
    std::string_view argument = std::string_view(payload).substr(p + 1, q - p - 1);
    if (!Trim(argument).empty()) {
      std::unique_ptr<TgsExpBaseObject> tree = CompileNested(argument);
      if (tree) call->AddArgument(std::move(tree));
    }
    p = q;
  }
  return call;
}

std::unique_ptr<TgsExpBaseObject> TgsExpHandler::MakeVariable(const std::string& payload) {
  const std::string name = UpperName(payload);
  TgsUserDefFieldVar* variable = LookupVariable(name);
  if (!variable) {
    if (!link_) Raise<EDeridarExpression>(Msg::UnknownFieldVariable, payload);
    Raise<EDeridarExpression>(Msg::NoFunction, payload);
  }
  return std::make_unique<TgsExpFieldvar>(this, variable);
}

// Binds operators level by level, 2 first and 8 last. At each level a pass
// from left to right gives every unbound operator of that level the node
// after it as its right operand and (except the unary NOT at level 6) the
// node before it as its left operand, so equal priorities bind left to
// right.
void TgsExpHandler::Bind(std::vector<std::unique_ptr<TgsExpBaseObject>>& nodes) {
  for (uint8_t level = 2; level <= 8 && nodes.size() > 1; ++level) {
    std::vector<std::unique_ptr<TgsExpBaseObject>> out;
    out.reserve(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
      auto* op = nodes[i]->Kind() == TgsExpNodeKind::Operator ? static_cast<TgsExpOperator*>(nodes[i].get()) : nullptr;
      if (!op || op->Priority() != level) {
        out.push_back(std::move(nodes[i]));
        continue;
      }
      std::unique_ptr<TgsExpBaseObject> node = std::move(nodes[i]);
      std::unique_ptr<TgsExpBaseObject> right;
      if (i + 1 < nodes.size()) right = std::move(nodes[++i]);
      std::unique_ptr<TgsExpBaseObject> left;
      if (level != 6 && !out.empty()) {
        left = std::move(out.back());
        out.pop_back();
      }
      op->BindOperands(std::move(left), std::move(right));
      CheckHeight(*op);
      out.push_back(std::move(node));
    }
    nodes = std::move(out);
  }
}

std::string TgsExpHandler::ExpressionText() const {
  std::string out;
  if (root_) root_->ExpressionText(out);
  return out;
}

TgsExpValueType TgsExpHandler::Evaluate(TgsExpValue& value) {
  resultType_ = root_ ? root_->Evaluate(value) : TgsExpValueType::Unknown;
  return resultType_;
}

TgsExpValueType TgsExpHandler::EvaluateToVariant(TgsVariant& v) {
  if (!root_) {
    v.SetText("");
    resultType_ = TgsExpValueType::Unknown;
    return resultType_;
  }
  TgsExpValue& value = variantScratch_;
  Evaluate(value);
  if (value.IsNull()) return resultType_;
  switch (resultType_) {
    case TgsExpValueType::Text: v.SetText(value.Text()); break;
    case TgsExpValueType::Number:
    case TgsExpValueType::DateTime: v.SetFloat(value.AsDouble()); break;
    case TgsExpValueType::Date: {
      // The blank date is stored as "no date"; other days saturate.
      double day = value.AsDouble();
      v.SetDate(day == BlankDate ? 0 : TruncToInt32(day));
      break;
    }
    case TgsExpValueType::Boolean: v.SetBoolean(value.AsBoolean()); break;
    default: resultType_ = TgsExpValueType::Unknown; break;
  }
  return resultType_;
}

bool TgsExpHandler::EvaluateCondition() {
  if (storedComparison_) {
    const int result = storedComparison_->CompareStoredNumber(storedComparisonVariable_->StoredText());
    if (result >= 0) {
      resultType_ = TgsExpValueType::Boolean;
      return result != 0;
    }
  }
  TgsExpValue& value = variantScratch_;
  return Evaluate(value) == TgsExpValueType::Boolean && value.AsBoolean();
}

TgsUserDefFieldVar* TgsExpHandler::StoredTextVariable() const {
  const auto* reference = dynamic_cast<const TgsExpFieldvar*>(root_.get());
  if (!reference) return nullptr;
  TgsUserDefFieldVar* variable = reference->Variable();
  return variable->StoredForm() == 'C' ? variable : nullptr;
}

std::string TgsExpHandler::FieldNames(int32_t kind) const {
  std::string out;
  if (root_) root_->CollectNames(kind, out);
  return out;
}
