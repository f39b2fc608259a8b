// Built-in numeric functions, table-driven, with their domain errors and
// the failures that must become messages: division by zero in MOD, values
// beyond 32 bits, overflowing results and the annuity functions.
#include <gtest/gtest.h>

#include <cmath>

#include "function_cases.h"

namespace {

// Results of floating-point math agree to this relative difference.
constexpr double kClose = 1e-12;

const double kPi = 3.1415926535897932385;

TEST(FctnNumeric, RoundingFamily) {
  ExpectNumbers({
      {"ABS(-2.5)", 2.5},     {"ABS(3)", 3},           {"INT(-1.7)", -1},       {"INT(1.7)", 1},
      {"CEILING(1.2)", 2},    {"CEILING(-1.2)", -1},   {"CEILING(3)", 3},       {"FLOOR(-1.2)", -2},
      {"FLOOR(1.8)", 1},      {"FLOOR(-3)", -3},       {"INT(12345678901.9)", 12345678901},
      {"CEILING(12345678901.5)", 12345678902},         {"FLOOR(-12345678901.5)", -12345678902},
  }, nullptr, kClose);
  EXPECT_FALSE(std::signbit(EvaluateExpression("CEILING(-0.5)").Number())) << "no negative zero";
}

TEST(FctnNumeric, Mod) {
  ExpectNumbers({
      {"MOD(7, 3)", 1},       {"MOD(-7, 3)", -1},      {"MOD(7, -3)", 1},        {"MOD(7.9, 3.9)", 1},
      {"MOD(6, 3)", 0},       {"MOD(-2147483648, -1)", 0}, {"MOD(99999999999, 7)", 2147483647 % 7},
  }, nullptr, kClose);
  EXPECT_EQ(ExpressionError("MOD(7, 0)"), "Argument for MOD must be other than 0");
  EXPECT_EQ(ExpressionError("MOD(7, 0.5)"), "Argument for MOD must be other than 0");
  EXPECT_EQ(ExpressionError("MOD(7)"), "Number needed for Argument 2 of MOD");
}

TEST(FctnNumeric, Trigonometry) {
  ExpectNumbers({
      {"SIN(0)", 0},            {"COS(0)", 1},              {"TAN(0)", 0},
      {"SIN(PI / 2)", 1},       {"ASIN(1)", kPi / 2},       {"ACOS(1)", 0},
      {"ACOS(-1)", kPi},        {"ASIN(-0.5)", -kPi / 6},   {"ATAN(1)", kPi / 4},
      {"ATN2(1, 1)", kPi / 4},  {"ATN2(1, -1)", 3 * kPi / 4}, {"ATN2(-1, 0)", -kPi / 2},
      {"DTOR(180)", kPi},       {"RTOD(PI)", 180},          {"PI()", kPi},
  }, nullptr, kClose);
  EXPECT_TRUE(EvaluateExpression("PI() = PI").Boolean());
}

TEST(FctnNumeric, Logarithms) {
  ExpectNumbers({{"LOG(1)", 0}, {"LOG(2.718281828459045)", 1}, {"LOG10(1000)", 3}, {"LOG10(0.01)", -2}},
                nullptr, kClose);
  EXPECT_EQ(ExpressionError("LOG(0)"), "Argument for LOG must be > 0");
  EXPECT_EQ(ExpressionError("LOG(-1)"), "Argument for LOG must be > 0");
  EXPECT_EQ(ExpressionError("LOG10(0)"), "Argument for LOG10 must be > 0");
  EXPECT_EQ(ExpressionError("ACOS(1.5)"), "Argument for ACOS must be -1 to +1");
  EXPECT_EQ(ExpressionError("ASIN(-1.01)"), "Argument for ASIN must be -1 to +1");
}

TEST(FctnNumeric, OverflowingResultsAreMessages) {
  std::string big(308, '9');
  EXPECT_EQ(ExpressionError("RTOD(" + big + ")"), "Argument for RTOD must be within the number range");
  EXPECT_EQ(ExpressionError("ABS(" + big + " * 1)"), "<no error>");
}

TEST(FctnNumeric, AnnuityFunctions) {
  ExpectNumbers({
      {"FV(100, 0, 10)", 1000}, {"FV(100, 0.1, 2)", 210}, {"FV(100, 0.1, 2, 0, 1)", 231},
      {"FV(100, 0.1, 2, 1000)", 1000 * 1.21 + 210}, {"FV(100, 0.1, 2, 1000, -1)", 1000 * 1.21 + 210},
      {"FV(-100, 0.1, 2)", 210}, {"PV(100, 0, 10)", 1000}, {"PV(100, 0.1, 2)", 210 / 1.21},
      {"PV(100, 0.1, 2, 0, 1)", 231 / 1.21}, {"PV(0, 0.1, 2, 121)", 100},
      {"FV(100, 0.00001, 2)", 2 * (1 + 0.00001 * 0.5) * 100},
      {"FV(100, 0.1, -2)", std::fabs((std::pow(1.1, -2) - 1) / 0.1 * 100)},
  }, nullptr, kClose);
  // A growth beyond 1E16: PV tends to payment / rate.
  EXPECT_NEAR(EvaluateExpression("PV(100, 1, 2000)").Number(), 100, 1e-9);
}

TEST(FctnNumeric, AnnuityErrors) {
  EXPECT_EQ(ExpressionError("FV(100, 0.1, 2, 0, 2)"), "Argument for FV PaymentTime must be 0 or 1");
  EXPECT_EQ(ExpressionError("PV(100, 0.1, 2, 0, -2)"), "Argument for PV PaymentTime must be 0 or 1");
  EXPECT_EQ(ExpressionError("FV(100, -1, 2)"), "Argument for FutureValue must be a rate above -1");
  EXPECT_EQ(ExpressionError("PV(100, -2, 2)"), "Argument for PresentValue must be a rate above -1");
  EXPECT_EQ(ExpressionError("FV(100, 1, 100)"), "Argument for FutureValue must be a growth of at most 1E16");
  EXPECT_EQ(ExpressionError("FV(100, 0.1)"), "Number needed for Argument 3 of FV");
}

TEST(FctnNumeric, ArgumentsMustBeNumbers) {
  for (const char* name : {"ABS", "INT", "CEILING", "FLOOR", "SIN", "COS", "TAN", "ASIN", "ACOS", "ATAN", "DTOR",
                           "RTOD", "LOG", "LOG10"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ExpressionError(std::string(name) + "('1')"),
              std::string("Number needed for Argument 1 of ") + name);
  }
  EXPECT_EQ(ExpressionError("ATN2(1)"), "Number needed for Argument 2 of ATN2");
  EXPECT_DOUBLE_EQ(EvaluateExpression("ABS({20240101} - {20240111})").Number(), 10);
}

}  // namespace
