// Table-driven checks of expressions: each case is an expression, compiled
// without table context (or with the given one), and its expected result,
// whose type is checked along with the value.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/expression_context.h"

struct TextCase {
  const char* expression;
  std::string expected;
};

struct NumberCase {
  const char* expression;
  double expected;
};

struct BooleanCase {
  const char* expression;
  bool expected;
};

inline void ExpectTexts(const std::vector<TextCase>& cases, TgsExpUserLink* link = nullptr) {
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.expression);
    TestEvaluation result = EvaluateExpression(c.expression, link);
    EXPECT_EQ(result.type, TgsExpValueType::Text);
    EXPECT_EQ(result.Text(), c.expected);
  }
}

// Numbers compare as equal doubles, or within `relativeTolerance` of the
// expected value when one is given (for results of transcendental math).
inline void ExpectNumbers(const std::vector<NumberCase>& cases, TgsExpUserLink* link = nullptr,
                          double relativeTolerance = 0) {
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.expression);
    TestEvaluation result = EvaluateExpression(c.expression, link);
    EXPECT_EQ(result.type, TgsExpValueType::Number);
    if (relativeTolerance > 0) {
      EXPECT_NEAR(result.Number(), c.expected, relativeTolerance * std::max(1.0, std::fabs(c.expected)));
    } else {
      EXPECT_DOUBLE_EQ(result.Number(), c.expected);
    }
  }
}

inline void ExpectBooleans(const std::vector<BooleanCase>& cases, TgsExpUserLink* link = nullptr) {
  for (const BooleanCase& c : cases) {
    SCOPED_TRACE(c.expression);
    TestEvaluation result = EvaluateExpression(c.expression, link);
    EXPECT_EQ(result.type, TgsExpValueType::Boolean);
    EXPECT_EQ(result.Boolean(), c.expected);
  }
}
