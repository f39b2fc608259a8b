// The built-in function library: the system variables, the function
// implementations and the process-wide registries they are entered in.
#include "engine/expr/gs6_fctn.h"

#include <numbers>

namespace {

constexpr double kPi = std::numbers::pi;

// The process-wide registries with the library entered: the system
// variables first, then one instance of every function.
struct TgsFunctionLibrary {
  TgsFieldVarReg variables;
  TgsFunctionReg functions;

  TgsFunctionLibrary() {
    variables.RegisterVariable(std::make_unique<TgsSDVTrue>());
    variables.RegisterVariable(std::make_unique<TgsSDVFalse>());
    variables.RegisterVariable(std::make_unique<TgsSDVPi>());
  }
};

TgsFunctionLibrary& Library() {
  static TgsFunctionLibrary library;
  return library;
}

}  // namespace

TgsFunctionReg& GlobalFunctionReg() { return Library().functions; }
TgsFieldVarReg& GlobalVariableReg() { return Library().variables; }

// --- System variables ----------------------------------------------------------

TgsExpValueType TgsSDVTrue::GetValue(TgsExpValue& value) {
  value.SetBoolean(true);
  return TgsExpValueType::Boolean;
}

TgsExpValueType TgsSDVFalse::GetValue(TgsExpValue& value) {
  value.SetBoolean(false);
  return TgsExpValueType::Boolean;
}

TgsExpValueType TgsSDVPi::GetValue(TgsExpValue& value) {
  value.SetDouble(kPi);
  return TgsExpValueType::Number;
}
