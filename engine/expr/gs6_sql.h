// The xBase expression engine: compiling an expression text once into a tree
// of node objects and evaluating that tree as often as needed.
//
// A compiled expression is a `TgsExpHandler`. Names in an expression resolve
// against the process-wide registries (the built-in functions and the system
// variables TRUE, FALSE, PI, filled by gs6_fctn) and then against the table's
// own registries held by its expression context, a `TgsExpUserLink`.
//
// Compilation runs in two passes: `Tokenize` turns the text into tokens,
// `BuildTree` turns them into nodes and binds operators by priority (2 binds
// first, 8 last; equal priorities bind left to right). Evaluation only walks
// the prebuilt tree: no name lookup, no parsing, and no heap allocation for
// numbers and booleans (text buffers are reused between evaluations).
//
// Nesting is limited (`kMaxExpressionNesting` groups and calls inside each
// other, `kMaxExpressionHeight` levels of recursion through the tree), so
// that hostile texts end with an `EDeridarExpression` instead of exhausting
// the stack. A chain of operators bound left to right (1+1+...+1) is walked
// by a loop and adds no levels, however long it is.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TgsVariant;
class TgsExpHandler;
class TgsExpUserLink;
class TgsExpFunction;
class TgsUserDefFunction;
class TgsUserDefFieldVar;

// --- Value types -------------------------------------------------------------

// The type reported with every evaluated value. Codes 4 to 7 form the number
// group: operators and argument checks accept any two of them as matching.
enum class TgsExpValueType : uint8_t {
  Unknown = 0,   // nothing was computed
  Empty = 1,     // no value: missing argument, empty group, Null result
  Any = 2,       // only as the expected type of a function argument
  Text = 3,
  Number = 4,
  Integer = 5,
  Date = 6,      // a day number held as a number
  DateTime = 7,
  Boolean = 8,
  Memo = 9,
  Pointer = 10,
};

// The word used for a type in messages; "Invalid Value" above 10.
std::string_view ValueTypeName(TgsExpValueType type);
bool IsNumberGroup(TgsExpValueType type);
// Equal types, or both in the number group.
bool TypesMatch(TgsExpValueType a, TgsExpValueType b);

// The date value of "no date" inside expressions.
constexpr double BlankDate = 1.0e100;

// Limits that keep compile and evaluation recursion bounded.
constexpr int kMaxExpressionNesting = 200;   // groups and calls inside each other
constexpr int kMaxExpressionHeight = 1000;   // levels of recursion through the tree

// x truncated toward zero to a 32-bit integer, saturating at the limits;
// NaN gives 0.
int32_t TruncToInt32(double x);
// x rounded to the nearest 32-bit integer, ties to even, saturating.
int32_t RoundToInt32(double x);

// A stored number field's text: blanks, an optional '-', at most 15 digits
// with at most one '.', blanks. The digits as an integer divided by a power
// of ten give the correctly rounded value, as the general parser does.
// Blank text is 0. Anything else (more digits, a '+', stray characters)
// reports false and is left to the general reader.
inline bool ReadStoredNumber(std::string_view text, double& value) {
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  size_t i = 0, end = text.size();
  while (i < end && text[i] == ' ') ++i;
  while (end > i && text[end - 1] == ' ') --end;
  if (i == end) {
    value = 0;
    return true;
  }
  const bool negative = text[i] == '-';
  if (negative) ++i;
  int64_t digits = 0;
  int count = 0, decimals = -1;
  for (; i < end; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      if (++count > 15) return false;
      digits = digits * 10 + (c - '0');
      if (decimals >= 0) ++decimals;
    } else if (c == '.' && decimals < 0) {
      decimals = 0;
    } else {
      return false;
    }
  }
  if (count == 0) return false;
  value = static_cast<double>(digits);
  if (decimals > 0) value /= kPowers[decimals];
  if (negative && digits != 0) value = -value;  // "-0.00" is zero, not negative zero
  return true;
}

// --- The value cell ----------------------------------------------------------

// A dynamically typed value: Null, text, double, 32-bit integer or boolean.
// Dates travel as numbers. The text buffer keeps its capacity when the cell
// is reused, so repeated evaluation does not allocate once warmed up.
class TgsExpValue {
 public:
  enum class Kind : uint8_t { Null, Text, Double, Integer, Boolean };

  TgsExpValue() = default;

  Kind GetKind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  bool IsText() const { return kind_ == Kind::Text; }
  bool IsNumeric() const { return kind_ == Kind::Double || kind_ == Kind::Integer; }

  void SetNull() { kind_ = Kind::Null; }
  void SetText(std::string_view text);
  void SetDouble(double value);
  void SetInteger(int32_t value);
  void SetBoolean(bool value);
  // Makes the value a text and hands out its buffer to build it in place:
  // the current text for a Text value, emptied for any other kind.
  std::string& TextBuffer();

  // The text of a Text value, empty for any other kind (no conversion).
  std::string_view Text() const;
  // Conversions. Numbers become their shortest decimal text with "." as the
  // point (zero as "0", never "-0"), booleans "T" or "F", Null the empty
  // text.
  std::string AsText() const;
  // Text is read as a decimal number with "." as the point (0 when it is
  // not one); a boolean is 1 or 0; Null is 0.
  double AsDouble() const;
  int32_t AsInteger() const;
  // Text: true when its first character is one of "TtYyJj".
  bool AsBoolean() const;

  // The value comparison: numbers numerically, booleans false before true,
  // texts byte by byte by unsigned value (a prefix first). Values of
  // different kinds order by kind: Null, boolean, number, text.
  static int Compare(const TgsExpValue& a, const TgsExpValue& b);

  void Swap(TgsExpValue& other) noexcept;

 private:
  Kind kind_ = Kind::Null;
  bool boolean_ = false;
  int32_t integer_ = 0;
  double double_ = 0.0;
  std::string text_;
};

// --- Tree nodes --------------------------------------------------------------

enum class TgsExpNodeKind : uint8_t {
  Group = 0,
  BoundOperator = 2,
  Operator = 3,  // an operator whose operands are not bound yet
  FunctionCall = 4,
  Variable = 5,
  TextLiteral = 6,
  NumberLiteral = 7,
  DateLiteral = 8,
  LogicalLiteral = 9,
};

// Base of every node. A node owns its left and right nodes.
class TgsExpBaseObject {
 public:
  TgsExpBaseObject(TgsExpNodeKind kind, TgsExpValueType resultType);
  virtual ~TgsExpBaseObject();
  TgsExpBaseObject(const TgsExpBaseObject&) = delete;
  TgsExpBaseObject& operator=(const TgsExpBaseObject&) = delete;

  virtual std::string NodeName() const;
  virtual int32_t VariableKind() const;
  // Appends the node's expression text: left's, own NodeName, right's.
  virtual void ExpressionText(std::string& out) const;
  // Appends the names of variables of `kind`, each followed by ";".
  virtual void CollectNames(int32_t kind, std::string& out) const;
  // Computes the node's value into `value` and reports its type.
  virtual TgsExpValueType Evaluate(TgsExpValue& value);

  TgsExpNodeKind Kind() const { return kind_; }
  TgsExpValueType ResultType() const { return resultType_; }
  int32_t Length() const { return length_; }
  int32_t Decimals() const { return decimals_; }
  const TgsExpBaseObject* Left() const { return left_.get(); }
  const TgsExpBaseObject* Right() const { return right_.get(); }
  // Levels of recursion evaluating this subtree takes (a left-to-right
  // chain of operators counts as one level).
  int32_t Height() const { return height_; }

 protected:
  friend class TgsExpHandler;
  void UpdateHeight();

  TgsExpNodeKind kind_;
  TgsExpValueType resultType_;
  int32_t length_ = 0;
  int32_t decimals_ = 0;
  std::unique_ptr<TgsExpBaseObject> left_;
  std::unique_ptr<TgsExpBaseObject> right_;
  int32_t height_ = 1;
};

// A parenthesised group; its inner tree is the right node (none when empty).
class TgsExpContainer : public TgsExpBaseObject {
 public:
  explicit TgsExpContainer(std::unique_ptr<TgsExpBaseObject> inner);
  void ExpressionText(std::string& out) const override;
  void CollectNames(int32_t kind, std::string& out) const override;
  TgsExpValueType Evaluate(TgsExpValue& value) override;
};

// A call of a registered function with its compiled arguments.
class TgsExpFunction : public TgsExpBaseObject {
 public:
  TgsExpFunction(TgsExpHandler* handler, TgsUserDefFunction* function);

  std::string NodeName() const override;
  void ExpressionText(std::string& out) const override;
  void CollectNames(int32_t kind, std::string& out) const override;
  TgsExpValueType Evaluate(TgsExpValue& value) override;

  void AddArgument(std::unique_ptr<TgsExpBaseObject> argument);
  size_t ArgumentCount() const { return arguments_.size(); }
  const TgsExpBaseObject* Argument(size_t index) const;
  TgsUserDefFunction* Function() const { return function_; }
  TgsExpHandler* Handler() const { return handler_; }

  // Evaluates argument `index` (from 0) into `value`; a missing argument
  // reports "Empty" and leaves the value alone. Unless `expected` is Any, a
  // type that does not match raises "%s needed for Argument %d of %s".
  TgsExpValueType GetArgument(size_t index, TgsExpValue& value, TgsExpValueType expected);
  // The length field of argument `index`; 10 when there is no such argument.
  int32_t ArgumentLength(size_t index) const;
  // The table context of the handler that compiled the call; may be null.
  TgsExpUserLink* OwnerLink() const;
  // The context's DefaultStrWidth when the call was compiled (10 without a
  // context): an index tag sets the width before compiling its key, and a
  // later change for another tag must not alter this key's width.
  int32_t DefaultStrWidth() const { return defaultStrWidth_; }
  // A value cell that belongs to this call, for functions that must hold
  // several argument values at once. Cells keep their buffers between
  // evaluations; references stay valid for the node's life.
  TgsExpValue& Scratch(size_t slot);

 private:
  TgsExpHandler* handler_;
  TgsUserDefFunction* function_;
  int32_t defaultStrWidth_;
  std::vector<std::unique_ptr<TgsExpBaseObject>> arguments_;
  std::deque<TgsExpValue> scratch_;
};

// A reference to a registered variable (a table field or a system value).
class TgsExpFieldvar : public TgsExpBaseObject {
 public:
  TgsExpFieldvar(TgsExpHandler* handler, TgsUserDefFieldVar* variable);

  std::string NodeName() const override;
  int32_t VariableKind() const override;
  TgsExpValueType Evaluate(TgsExpValue& value) override;

  TgsUserDefFieldVar* Variable() const { return variable_; }
  TgsExpHandler* Handler() const { return handler_; }

 private:
  TgsExpHandler* handler_;
  TgsUserDefFieldVar* variable_;
  char storedForm_;  // the variable's StoredForm
};

// Operator codes; the code is also the token kind of the operator.
enum class TgsExpOperatorCode : uint8_t {
  Equal = 129,
  NotEqual = 130,
  Greater = 131,
  Less = 132,
  GreaterEqual = 133,
  LessEqual = 134,
  InString = 135,
  ExactlyEqual = 136,
  Plus = 137,
  Minus = 138,
  Multiply = 139,
  Divide = 140,
  Power = 141,
  And = 144,
  Or = 145,
  Not = 146,
};

// The binding priority of an operator (2 binds first, 8 last).
uint8_t OperatorPriority(TgsExpOperatorCode code);
// The name of an operator in expression texts and messages.
std::string_view OperatorDisplayName(TgsExpOperatorCode code);

class TgsExpOperator : public TgsExpBaseObject {
 public:
  TgsExpOperator(TgsExpOperatorCode code, uint8_t priority, const TgsExpHandler& settings);

  std::string NodeName() const override;
  void ExpressionText(std::string& out) const override;
  void CollectNames(int32_t kind, std::string& out) const override;
  TgsExpValueType Evaluate(TgsExpValue& value) override;

  TgsExpOperatorCode Code() const { return code_; }
  uint8_t Priority() const { return priority_; }
  bool CaseInsensitive() const { return caseInsensitive_; }
  bool PartialCompare() const { return partialCompare_; }

  // Compares two texts: emptiness first (before trimming), then without
  // trailing blanks, upper-cased when case-insensitive, by wildcard pattern
  // when the right text begins or ends with the multi-character wildcard,
  // otherwise in the locale's collation order. The case and collation rules
  // are those of code page 1251: when the expression's table keeps its text
  // in the OEM code page, both texts are seen through the OEM-to-ANSI table
  // first.
  int CompareText(const TgsExpValue& left, const TgsExpValue& right);

  // A comparison of a variable kept as a stored number ('N') with a number
  // literal on the right (TIP = 1): that variable, else null.
  TgsUserDefFieldVar* StoredNumberOperand() const;
  // Decides such a comparison from the variable's stored text: 1 true,
  // 0 false, -1 when the text is not a plain number (the general evaluation
  // then reads it).
  int CompareStoredNumber(std::string_view text) const {
    double x;
    return ReadStoredNumber(text, x) ? CompareNumbers(x) : -1;
  }

 private:
  friend class TgsExpHandler;
  void BindOperands(std::unique_ptr<TgsExpBaseObject> left, std::unique_ptr<TgsExpBaseObject> right);
  // Combines the left operand's value (leftValue_) with the right one's
  // (in `value`) and reports the result type.
  TgsExpValueType Combine(TgsExpValue& value, TgsExpValueType leftType, TgsExpValueType rightType);
  // A chain bound left to right (1+2+3+...) is a spine of operators down
  // the left operands; it is evaluated, written and searched by a loop
  // instead of a recursion as deep as the chain.
  TgsExpValueType EvaluateChain(TgsExpValue& value);
  void EvaluateBoolean(TgsExpValue& value);
  void EvaluateNumber(TgsExpValue& value);
  void EvaluateText(TgsExpValue& value);
  bool CompareWithNumber(TgsExpValue& value);
  // x compared with the literal on the right: 1 true, 0 false, -1 when the
  // operator is not a comparison.
  int CompareNumbers(double x) const {
    const double y = rightNumber_;
    switch (code_) {
      case TgsExpOperatorCode::Equal:
      case TgsExpOperatorCode::ExactlyEqual: return x == y;
      case TgsExpOperatorCode::NotEqual: return !(x == y);
      case TgsExpOperatorCode::Greater: return x > y;
      case TgsExpOperatorCode::Less: return x < y;
      case TgsExpOperatorCode::GreaterEqual: return x >= y;
      case TgsExpOperatorCode::LessEqual: return x <= y;
      default: return -1;
    }
  }

  TgsExpOperatorCode code_;
  uint8_t priority_;
  // The table context of the compiling handler (may be null): whether its
  // text is OEM is read at evaluation.
  const TgsExpUserLink* link_;
  // The left operand when it is an operator evaluated through the chain loop.
  TgsExpOperator* chainLeft_ = nullptr;
  TgsExpValueType pendingRightType_ = TgsExpValueType::Unknown;
  std::vector<std::pair<TgsExpOperator*, TgsExpValue*>> spine_;
  bool caseInsensitive_;
  bool partialCompare_;
  char multiWildcard_;
  char singleWildcard_;
  // A comparison whose right operand is a number literal, and its value.
  bool numberOnRight_ = false;
  double rightNumber_ = 0.0;
  // Scratch kept between evaluations: the left operand's value and the
  // case-folded texts of a comparison.
  TgsExpValue leftValue_;
  std::string foldedLeft_;
  std::string foldedRight_;
};

// A minus sign before a name, a call or a group: the operand (the right
// node) with its number negated. Written back as "-" and the operand.
class TgsExpNegation : public TgsExpBaseObject {
 public:
  explicit TgsExpNegation(std::unique_ptr<TgsExpBaseObject> operand);
  std::string NodeName() const override;
  TgsExpValueType Evaluate(TgsExpValue& value) override;
};

class TgsExpTextLit : public TgsExpBaseObject {
 public:
  explicit TgsExpTextLit(std::string text);
  // The text between delimiters: double quotes, or the apostrophe or square
  // brackets when the text itself holds a double quote.
  std::string NodeName() const override;
  TgsExpValueType Evaluate(TgsExpValue& value) override;
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

class TgsExpNumLit : public TgsExpBaseObject {
 public:
  // `text` is the literal as written; its length and decimals are kept.
  explicit TgsExpNumLit(std::string_view text);
  std::string NodeName() const override;
  TgsExpValueType Evaluate(TgsExpValue& value) override;
  double Value() const { return value_; }

 private:
  double value_ = 0.0;
};

class TgsExpDateLit : public TgsExpBaseObject {
 public:
  explicit TgsExpDateLit(int32_t day);
  std::string NodeName() const override;
  TgsExpValueType Evaluate(TgsExpValue& value) override;
  double Value() const { return value_; }

 private:
  double value_;
};

class TgsExpBlnLit : public TgsExpBaseObject {
 public:
  explicit TgsExpBlnLit(bool value);
  std::string NodeName() const override;
  TgsExpValueType Evaluate(TgsExpValue& value) override;
  bool Value() const { return value_; }

 private:
  bool value_;
};

// --- Extension classes -------------------------------------------------------

// A function callable from expressions. Derive, override both operations and
// register one instance; it is shared by every call site and must keep no
// state between calls.
class TgsUserDefFunction {
 public:
  TgsUserDefFunction() = default;
  virtual ~TgsUserDefFunction();
  TgsUserDefFunction(const TgsUserDefFunction&) = delete;
  TgsUserDefFunction& operator=(const TgsUserDefFunction&) = delete;

  virtual std::string FunctionName() const;
  // Computes the call into `value` and reports the result type. `value`
  // also serves as scratch for reading arguments. Base: Null, "Empty".
  virtual TgsExpValueType Execute(TgsExpFunction& call, TgsExpValue& value);
};

// A variable readable from expressions: a table field or a system value.
// `names` holds one or more names separated by ";", upper-cased here.
class TgsUserDefFieldVar {
 public:
  explicit TgsUserDefFieldVar(std::string_view names, int32_t length = 0);
  virtual ~TgsUserDefFieldVar();
  TgsUserDefFieldVar(const TgsUserDefFieldVar&) = delete;
  TgsUserDefFieldVar& operator=(const TgsUserDefFieldVar&) = delete;

  // The whole ";"-separated name list.
  virtual std::string VariableNames() const;
  // The first name of the list.
  virtual std::string VariableName() const;
  // 16 for system values; table fields report 17.
  virtual int32_t VariableKind() const;
  // Reads the value and reports its type. Base: Null, "Empty".
  virtual TgsExpValueType GetValue(TgsExpValue& value);
  // A shortcut for variables whose value is kept as text in a record: the
  // form of that text, 'C' (the value itself, reported as "Text") or 'N' (a
  // plain decimal number padded with blanks, reported as "Number"), or 0
  // when GetValue is the only way. Asked once, when a reference compiles.
  virtual char StoredForm() const;
  // The stored text in the current record; asked only when StoredForm is
  // not 0. A text the shortcut cannot read is read again through GetValue.
  virtual std::string_view StoredText();

  // The declared length (a field's width); 0 for system values.
  int32_t Length() const { return length_; }

 protected:
  std::string names_;
  int32_t length_;
};

// Kind codes of variables.
constexpr int32_t kSystemVariableKind = 16;
constexpr int32_t kTableFieldKind = 17;

// --- Registries --------------------------------------------------------------

// Functions by name, sorted, compared without regard to case; owns them.
class TgsFunctionReg {
 public:
  TgsFunctionReg() = default;
  TgsFunctionReg(const TgsFunctionReg&) = delete;
  TgsFunctionReg& operator=(const TgsFunctionReg&) = delete;

  // Adds the function under its upper-cased `FunctionName` and takes it.
  // On a duplicate name the result is false and `function` stays with the
  // caller. A null function is accepted (true) and ignored.
  template <class F>
  bool RegisterFunction(std::unique_ptr<F>&& function) {
    std::unique_ptr<TgsUserDefFunction> held(function.release());
    bool added = Add(held);
    if (held) function.reset(static_cast<F*>(held.release()));
    return added;
  }
  TgsUserDefFunction* Find(std::string_view name) const;
  size_t Count() const { return entries_.size(); }
  // Empty text / null when the index is out of range.
  std::string NameAt(size_t index) const;
  TgsUserDefFunction* FunctionAt(size_t index) const;

 private:
  // Moves `function` in when its name is free.
  bool Add(std::unique_ptr<TgsUserDefFunction>& function);

  struct Entry {
    std::string name;
    std::unique_ptr<TgsUserDefFunction> function;
  };
  std::vector<Entry> entries_;
};

// Variables by name, sorted, compared without regard to case. A variable
// is entered once under each of its names and shared by those entries; it
// is freed with the last entry that refers to it.
class TgsFieldVarReg {
 public:
  TgsFieldVarReg() = default;
  TgsFieldVarReg(const TgsFieldVarReg&) = delete;
  TgsFieldVarReg& operator=(const TgsFieldVarReg&) = delete;

  // Enters the variable under each ";"-separated name of `VariableNames`.
  // A name already present is skipped and makes the result false. When at
  // least one name was entered the registry takes the variable (`variable`
  // becomes null); otherwise it stays with the caller. Null: true.
  template <class V>
  bool RegisterVariable(std::unique_ptr<V>&& variable) {
    std::unique_ptr<TgsUserDefFieldVar> held(variable.release());
    bool allAdded = Add(held);
    if (held) variable.reset(static_cast<V*>(held.release()));
    return allAdded;
  }
  TgsUserDefFieldVar* Find(std::string_view name) const;
  size_t Count() const { return entries_.size(); }
  std::string NameAt(size_t index) const;
  TgsUserDefFieldVar* VariableAt(size_t index) const;

 private:
  // Moves `variable` in when at least one of its names is free.
  bool Add(std::unique_ptr<TgsUserDefFieldVar>& variable);

  struct Entry {
    std::string name;
    std::shared_ptr<TgsUserDefFieldVar> variable;
  };
  std::vector<Entry> entries_;
};

// The process-wide registries, filled with the built-in library on first
// use (gs6_fctn) and destroyed at program end.
TgsFunctionReg& GlobalFunctionReg();
TgsFieldVarReg& GlobalVariableReg();

// A table's expression context: its own functions and variables, and the
// settings its expressions follow.
class TgsExpUserLink {
 public:
  TgsExpUserLink() = default;
  virtual ~TgsExpUserLink();
  TgsExpUserLink(const TgsExpUserLink&) = delete;
  TgsExpUserLink& operator=(const TgsExpUserLink&) = delete;

  virtual TgsUserDefFunction* FindFunction(std::string_view name) const;
  virtual TgsUserDefFieldVar* FindVariable(std::string_view name) const;
  // Raises "There is no function for %s".
  virtual void UnknownFunction(std::string_view name) const;

  // Register into this context's own registries (see there).
  template <class F>
  bool AddFunction(std::unique_ptr<F>&& function) {
    return functions_.RegisterFunction(std::move(function));
  }
  template <class V>
  bool AddVariable(std::unique_ptr<V>&& variable) {
    return variables_.RegisterVariable(std::move(variable));
  }

  TgsFunctionReg& Functions() { return functions_; }
  TgsFieldVarReg& Variables() { return variables_; }

  // The width STR uses without one; negative: the declared length of STR's
  // first argument. Index tags set it before compiling.
  int32_t DefaultStrWidth() const { return defaultStrWidth_; }
  void SetDefaultStrWidth(int32_t width) { defaultStrWidth_ = width; }
  // The table's text is in the OEM code page (UPPER translates around it).
  bool TranslateOem() const { return translateOem_; }
  void SetTranslateOem(bool on) { translateOem_ = on; }

 private:
  TgsFunctionReg functions_;
  TgsFieldVarReg variables_;
  int32_t defaultStrWidth_ = 10;
  bool translateOem_ = true;
};

// --- Compiled expression -----------------------------------------------------

// Token kinds of the token stream; an operator token carries its operator
// code (129 to 146) as its kind.
enum : uint8_t {
  kTokenFunctionCall = 152,
  kTokenVariable = 153,
  kTokenGroup = 154,
  kTokenText = 155,
  kTokenDate = 156,
  kTokenNumber = 157,
  kTokenLogical = 158,
};

struct TgsExpToken {
  uint8_t kind = 0;
  uint8_t priority = 0;  // operators only
  std::string payload;
  bool negated = false;  // a minus sign stood before the operand
};

// The position of the character that closes the bracket at `start`: the
// first ')' (or, with `stopAtComma`, ',') outside quotes and inner brackets.
// Quotes are '"', '\'', [...] and {...}. A scan that reaches the end
// reports text.size().
size_t FindClosing(std::string_view text, size_t start, bool stopAtComma);

class TgsExpHandler {
 public:
  // Compiles `text` unless it is empty. `wildcardStyle` selects the
  // wildcards '%' and '_' instead of '*' and '?'.
  TgsExpHandler(TgsExpUserLink* link, bool wildcardStyle, std::string_view text);
  virtual ~TgsExpHandler();
  TgsExpHandler(const TgsExpHandler&) = delete;
  TgsExpHandler& operator=(const TgsExpHandler&) = delete;

  // Frees the tree, resets the statistics and compiles `text`. Set
  // CaseInsensitive and PartialCompare before. On failure the handler is
  // left with no tree.
  void Compile(std::string_view text);

  virtual std::string ExpressionText() const;
  // Evaluates on the current record; sets and reports the result type.
  virtual TgsExpValueType Evaluate(TgsExpValue& value);
  // Evaluates and stores the result into `v` by its type.
  virtual TgsExpValueType EvaluateToVariant(TgsVariant& v);
  // Evaluates the expression as a condition: true only for a logical true.
  // A comparison of a stored-number field with a number literal (TIP = 1)
  // is decided from the field's text without walking the tree.
  bool EvaluateCondition();
  // When the expression is such a comparison: its variable, else null.
  TgsUserDefFieldVar* StoredComparisonVariable() const { return storedComparisonVariable_; }
  // Decides that comparison from `text`, the variable's stored text: 1 true,
  // 0 false, -1 undecided (not such a comparison, or not a plain number:
  // EvaluateCondition then reads it).
  int DecideStoredComparison(std::string_view text) const {
    return storedComparison_ ? storedComparison_->CompareStoredNumber(text) : -1;
  }
  // The variable when the whole expression is a reference to one whose
  // stored text is its value (StoredForm 'C'), else null. Index builds read
  // their keys through it without a value cell.
  TgsUserDefFieldVar* StoredTextVariable() const;

  TgsExpValueType ResultType() const { return resultType_; }
  // The names of variables of `kind` the expression uses, each followed by
  // ";" (kind 17: the table fields).
  std::string FieldNames(int32_t kind) const;

  int32_t OperandCount() const { return operandCount_; }
  int32_t MaxLength() const { return maxLength_; }
  int32_t MaxDecimals() const { return maxDecimals_; }
  bool CaseInsensitive() const { return caseInsensitive_; }
  void SetCaseInsensitive(bool on) { caseInsensitive_ = on; }
  bool PartialCompare() const { return partialCompare_; }
  void SetPartialCompare(bool on) { partialCompare_ = on; }
  char MultiWildcard() const { return multiWildcard_; }
  char SingleWildcard() const { return singleWildcard_; }
  TgsExpUserLink* Link() const { return link_; }
  const TgsExpBaseObject* Root() const { return root_.get(); }

  // The two compile passes, for one (sub)expression.
  std::vector<TgsExpToken> Tokenize(std::string_view text);
  std::unique_ptr<TgsExpBaseObject> BuildTree(const std::vector<TgsExpToken>& tokens);

 private:
  class Tokenizer;
  std::unique_ptr<TgsExpBaseObject> CompileNested(std::string_view text);
  std::unique_ptr<TgsExpBaseObject> MakeNode(const TgsExpToken& token);
  std::unique_ptr<TgsExpBaseObject> MakeFunctionCall(const std::string& payload);
  std::unique_ptr<TgsExpBaseObject> MakeVariable(const std::string& payload);
  void Bind(std::vector<std::unique_ptr<TgsExpBaseObject>>& nodes);
  void CountOperand(const TgsExpBaseObject& node, bool measured);
  // Looks a name up in the global variables, then the link's.
  TgsUserDefFieldVar* LookupVariable(std::string_view name) const;

  TgsExpUserLink* link_;
  TgsExpValueType resultType_ = TgsExpValueType::Unknown;
  int32_t maxLength_ = 0;
  int32_t maxDecimals_ = 0;
  std::unique_ptr<TgsExpBaseObject> root_;
  int32_t operandCount_ = 0;
  bool caseInsensitive_ = false;
  bool partialCompare_ = true;
  char multiWildcard_;
  char singleWildcard_;
  // The text given to Compile, quoted by syntax errors, and the depth of
  // nested compiles in progress.
  std::string sourceText_;
  int nesting_ = 0;
  TgsExpValue variantScratch_;
  // Set by Compile when the expression is a stored-number comparison (see
  // EvaluateCondition): the comparison and its variable.
  const TgsExpOperator* storedComparison_ = nullptr;
  TgsUserDefFieldVar* storedComparisonVariable_ = nullptr;
};
