// Names known to expressions: the extension base classes for functions and
// variables, the sorted registries that own them, and a table's expression
// context. Names are compared without regard to case (expression names are
// made of ASCII letters, digits and '_').
#include <algorithm>

#include "engine/expr/gs6_sql.h"
#include "engine/support/gs6_glbl.h"

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string AsciiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

// Case-insensitive three-way comparison of two names.
int CompareNames(std::string_view a, std::string_view b) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    auto x = static_cast<uint8_t>(AsciiUpper(a[i]));
    auto y = static_cast<uint8_t>(AsciiUpper(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// The first entry whose name is not below `name`.
template <class Entries>
auto LowerBound(Entries& entries, std::string_view name) {
  return std::lower_bound(entries.begin(), entries.end(), name,
                          [](const auto& entry, std::string_view n) { return CompareNames(entry.name, n) < 0; });
}

template <class Entries>
auto FindEntry(const Entries& entries, std::string_view name) {
  auto it = LowerBound(entries, name);
  return (it != entries.end() && CompareNames(it->name, name) == 0) ? it : entries.end();
}

}  // namespace

// --- Extension classes ---------------------------------------------------------

TgsUserDefFunction::~TgsUserDefFunction() = default;

std::string TgsUserDefFunction::FunctionName() const { return {}; }

TgsExpValueType TgsUserDefFunction::Execute(TgsExpFunction&, TgsExpValue& value) {
  value.SetNull();
  return TgsExpValueType::Empty;
}

TgsUserDefFieldVar::TgsUserDefFieldVar(std::string_view names, int32_t length)
    : names_(AsciiUpperCase(names)), length_(length) {}

TgsUserDefFieldVar::~TgsUserDefFieldVar() = default;

std::string TgsUserDefFieldVar::VariableNames() const { return names_; }

std::string TgsUserDefFieldVar::VariableName() const { return names_.substr(0, names_.find(';')); }

int32_t TgsUserDefFieldVar::VariableKind() const { return kSystemVariableKind; }

TgsExpValueType TgsUserDefFieldVar::GetValue(TgsExpValue& value) {
  value.SetNull();
  return TgsExpValueType::Empty;
}

char TgsUserDefFieldVar::StoredForm() const { return 0; }

std::string_view TgsUserDefFieldVar::StoredText() { return {}; }

// --- TgsFunctionReg --------------------------------------------------------------

bool TgsFunctionReg::Add(std::unique_ptr<TgsUserDefFunction>& function) {
  if (!function) return true;
  std::string name = AsciiUpperCase(function->FunctionName());
  auto it = LowerBound(entries_, name);
  if (it != entries_.end() && CompareNames(it->name, name) == 0) return false;
  entries_.insert(it, Entry{std::move(name), std::move(function)});
  return true;
}

TgsUserDefFunction* TgsFunctionReg::Find(std::string_view name) const {
  auto it = FindEntry(entries_, name);
  return it == entries_.end() ? nullptr : it->function.get();
}

std::string TgsFunctionReg::NameAt(size_t index) const {
  return index < entries_.size() ? entries_[index].name : std::string();
}

TgsUserDefFunction* TgsFunctionReg::FunctionAt(size_t index) const {
  return index < entries_.size() ? entries_[index].function.get() : nullptr;
}

// --- TgsFieldVarReg --------------------------------------------------------------

bool TgsFieldVarReg::Add(std::unique_ptr<TgsUserDefFieldVar>& variable) {
  if (!variable) return true;
  std::string names = AsciiUpperCase(variable->VariableNames());
  // Decide first which names are free, so that ownership moves only when
  // at least one entry will refer to the variable.
  std::vector<std::string> fresh;
  bool allAdded = true;
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(start, end - start);
    bool taken = FindEntry(entries_, name) != entries_.end() ||
                 std::any_of(fresh.begin(), fresh.end(), [&](const std::string& f) { return f == name; });
    if (taken)
      allAdded = false;
    else
      fresh.push_back(std::move(name));
    start = end + 1;
  }
  if (fresh.empty()) return false;
  std::shared_ptr<TgsUserDefFieldVar> shared(std::move(variable));
  for (std::string& name : fresh) {
    auto it = LowerBound(entries_, name);
    entries_.insert(it, Entry{std::move(name), shared});
  }
  return allAdded;
}

TgsUserDefFieldVar* TgsFieldVarReg::Find(std::string_view name) const {
  auto it = FindEntry(entries_, name);
  return it == entries_.end() ? nullptr : it->variable.get();
}

std::string TgsFieldVarReg::NameAt(size_t index) const {
  return index < entries_.size() ? entries_[index].name : std::string();
}

TgsUserDefFieldVar* TgsFieldVarReg::VariableAt(size_t index) const {
  return index < entries_.size() ? entries_[index].variable.get() : nullptr;
}

// --- TgsExpUserLink --------------------------------------------------------------

TgsExpUserLink::~TgsExpUserLink() = default;

TgsUserDefFunction* TgsExpUserLink::FindFunction(std::string_view name) const { return functions_.Find(name); }

TgsUserDefFieldVar* TgsExpUserLink::FindVariable(std::string_view name) const { return variables_.Find(name); }

void TgsExpUserLink::UnknownFunction(std::string_view name) const {
  Raise<EDeridarExpression>(Msg::NoFunction, name);
}
