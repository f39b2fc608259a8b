// The text of the error a call raises, for tests that compare messages.
#pragma once

#include <string>

#include "engine/support/gs6_glbl.h"

template <class E = EDeridarError, class F>
std::string ErrorOf(F body) {
  try {
    body();
  } catch (const E& e) {
    return e.what();
  }
  return "(no error)";
}
