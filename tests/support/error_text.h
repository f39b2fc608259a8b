// The text of the error a call raises, for tests that compare messages:
// an engine error by default, or a dataset error with DatabaseErrorOf.
#pragma once

#include <string>

#include "engine/support/gs6_glbl.h"
#include "platform/db.h"

template <class E = EDeridarError, class F>
std::string ErrorOf(F body) {
  try {
    body();
  } catch (const E& e) {
    return e.what();
  }
  return "(no error)";
}

template <class F>
std::string DatabaseErrorOf(F body) {
  return ErrorOf<platform::EDatabaseError>(body);
}
