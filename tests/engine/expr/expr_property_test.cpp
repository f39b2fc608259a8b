// Property test: many randomly generated valid expressions over numbers,
// dates, texts and booleans are compiled and evaluated, and each result is
// checked against a direct evaluation of the generated structure. Texts are
// written with random operator spellings, blanks and redundant groups, and
// with only the parentheses the priority rules require.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engine/support/gs6_glbl.h"
#include "platform/ansi.h"
#include "support/expression_context.h"

namespace {

struct Ref {
  TgsExpValueType type = TgsExpValueType::Unknown;
  double number = 0;
  std::string text;
  bool boolean = false;
  bool error = false;  // the evaluation must raise
};

// A generated expression: its text, the priority of its top operator (0 for
// operands and groups) and its expected value.
struct Gen {
  std::string text;
  int priority = 0;
  Ref ref;
};

std::string TrimRight(std::string s) {
  while (!s.empty() && static_cast<uint8_t>(s.back()) <= 32) s.pop_back();
  return s;
}

class Generator {
 public:
  Generator(uint32_t seed, bool caseInsensitive) : rng_(seed), caseInsensitive_(caseInsensitive) {}

  Gen Any(int depth) {
    switch (Pick(3)) {
      case 0: return Number(depth);
      case 1: return Text(depth);
      default: return Boolean(depth);
    }
  }

  Gen Number(int depth) {
    if (depth <= 0 || Chance(0.3)) {
      static const struct { const char* text; double value; TgsExpValueType type; } atoms[] = {
          {"0", 0, TgsExpValueType::Number},      {"1", 1, TgsExpValueType::Number},
          {"2", 2, TgsExpValueType::Number},      {"3.5", 3.5, TgsExpValueType::Number},
          {"10", 10, TgsExpValueType::Number},    {"-2", -2, TgsExpValueType::Number},
          {"0.25", 0.25, TgsExpValueType::Number}, {"+7", 7, TgsExpValueType::Number},
          {"N1", 3, TgsExpValueType::Number},     {"n2", -1.5, TgsExpValueType::Number},
          {"D1", 2450000, TgsExpValueType::Date},  {"PI", 3.1415926535897932385, TgsExpValueType::Number},
      };
      const auto& atom = atoms[Pick(std::size(atoms))];
      Gen g;
      g.text = atom.text;
      g.ref.type = atom.type;
      g.ref.number = atom.value;
      return g;
    }
    static const struct { const char* spellings[2]; int priority; char op; } ops[] = {
        {{"+", "+"}, 4, '+'}, {{"-", "-"}, 4, '-'}, {{"*", "*"}, 3, '*'}, {{"/", "/"}, 3, '/'}, {{"^", "**"}, 2, '^'},
    };
    const auto& op = ops[Pick(std::size(ops))];
    Gen left = Number(depth - 1), right = Number(depth - 1);
    Ref r;
    r.type = right.ref.type;
    double x = left.ref.number, y = right.ref.number, v = 0;
    switch (op.op) {
      case '+': v = x + y; break;
      case '-': v = x - y; break;
      case '*': v = x * y; break;
      case '/': v = y == 0 ? NAN : x / y; break;
      case '^': v = std::pow(x, y); break;
    }
    r.number = v;
    r.error = left.ref.error || right.ref.error || !std::isfinite(v);
    return Combine(std::move(left), op.spellings[Pick(2)], op.priority, std::move(right), r);
  }

  Gen Text(int depth) {
    if (depth <= 0 || Chance(0.35)) {
      static const struct { const char* text; const char* value; } atoms[] = {
          {"'AB'", "AB"}, {"\"ab \"", "ab "}, {"''", ""}, {"[  ]", "  "}, {"'b'", "b"},
          {"'\xC0\xE1'", "\xC0\xE1"}, {"T1", "AB  "}, {"t2", "ab"}, {"T3", ""},
      };
      const auto& atom = atoms[Pick(std::size(atoms))];
      Gen g;
      g.text = atom.text;
      g.ref.type = TgsExpValueType::Text;
      g.ref.text = atom.value;
      return g;
    }
    Gen left = Text(depth - 1), right = Text(depth - 1);
    Ref r;
    r.type = TgsExpValueType::Text;
    r.error = left.ref.error || right.ref.error;
    bool plus = Chance(0.5);
    if (plus) {
      r.text = left.ref.text + right.ref.text;
    } else {
      r.text = TrimRight(left.ref.text) + right.ref.text;
      r.text.resize(left.ref.text.size() + right.ref.text.size(), ' ');
    }
    return Combine(std::move(left), plus ? "+" : "-", 4, std::move(right), r);
  }

  Gen Boolean(int depth) {
    if (depth <= 0 || Chance(0.2)) {
      static const struct { const char* text; bool value; } atoms[] = {
          {".T.", true}, {".f.", false}, {"TRUE", true}, {"False", false}, {"B1", true}, {"b2", false},
      };
      const auto& atom = atoms[Pick(std::size(atoms))];
      Gen g;
      g.text = atom.text;
      g.ref.type = TgsExpValueType::Boolean;
      g.ref.boolean = atom.value;
      return g;
    }
    switch (Pick(5)) {
      case 0: return Comparison(Number(depth - 1), Number(depth - 1), false);
      case 1: return Comparison(Text(depth - 1), Text(depth - 1), true);
      case 2: return Comparison(Boolean(depth - 1), Boolean(depth - 1), false);
      case 3: {
        Gen inner = Boolean(depth - 1);
        Ref r = inner.ref;
        r.boolean = !inner.ref.boolean;
        static const char* spellings[] = {".NOT.", ".not. ", "NOT ", "!", "! "};
        Gen g;
        g.text = "(" + std::string(spellings[Pick(5)]) + Wrap(inner, 6, false) + ")";
        g.ref = r;
        return g;
      }
      default: {
        bool isAnd = Chance(0.5);
        Gen left = Boolean(depth - 1), right = Boolean(depth - 1);
        Ref r;
        r.type = TgsExpValueType::Boolean;
        r.boolean = isAnd ? (left.ref.boolean && right.ref.boolean) : (left.ref.boolean || right.ref.boolean);
        r.error = left.ref.error || right.ref.error;
        static const char* ands[] = {".AND.", ".and.", " AND ", " and "};
        static const char* ors[] = {".OR.", ".Or.", " OR ", " or "};
        return Combine(std::move(left), isAnd ? ands[Pick(4)] : ors[Pick(4)], isAnd ? 7 : 8, std::move(right), r);
      }
    }
  }

 private:
  Gen Comparison(Gen left, Gen right, bool texts) {
    static const struct { const char* spellings[3]; int op; } ops[] = {
        {{"=", " EQ ", ".eq."}, 0}, {{"#", "<>", "!="}, 1}, {{">", " GT ", ".gt."}, 2},
        {{"<", " lt ", ".LT."}, 3}, {{">=", "=>", " GE "}, 4}, {{"<=", "=<", ".le."}, 5},
    };
    bool booleans = left.ref.type == TgsExpValueType::Boolean;
    const auto& op = ops[booleans ? Pick(2) : Pick(std::size(ops))];
    int c;
    if (texts) {
      c = CompareTexts(left.ref.text, right.ref.text);
    } else if (booleans) {
      c = left.ref.boolean == right.ref.boolean ? 0 : 1;
    } else {
      double x = left.ref.number, y = right.ref.number;
      c = x < y ? -1 : (x > y ? 1 : 0);
    }
    bool results[] = {c == 0, c != 0, c > 0, c < 0, c >= 0, c <= 0};
    Ref r;
    r.type = TgsExpValueType::Boolean;
    r.boolean = results[op.op];
    r.error = left.ref.error || right.ref.error;
    return Combine(std::move(left), op.spellings[Pick(3)], 5, std::move(right), r);
  }

  int CompareTexts(const std::string& a, const std::string& b) const {
    if (a.empty() && b.empty()) return 0;
    if (a.empty()) return -1;
    if (b.empty()) return 1;
    std::string x = TrimRight(a), y = TrimRight(b);
    if (caseInsensitive_) {
      x = platform::UpperCase(x);
      y = platform::UpperCase(y);
    }
    return platform::CompareStr(x, y);
  }

  // The operand text, in parentheses when the priority rules need them (or
  // at random).
  std::string Wrap(const Gen& g, int priority, bool rightSide) {
    bool needed = g.priority > priority || (rightSide && g.priority == priority && g.priority != 0);
    return (needed || Chance(0.1)) ? "(" + g.text + ")" : g.text;
  }

  Gen Combine(Gen left, const char* op, int priority, Gen right, const Ref& r) {
    Gen g;
    std::string blank = Chance(0.5) ? " " : "";
    g.text = Wrap(left, priority, false) + blank + op + blank + Wrap(right, priority, true);
    g.priority = priority;
    g.ref = r;
    return g;
  }

  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }

  std::mt19937 rng_;
  bool caseInsensitive_;
};

TEST(ExprProperty, RandomExpressionsMatchTheReferenceEvaluation) {
  // The generated texts are 1251 bytes, the reference follows the 1251
  // rules on them as they stand: a context whose table text is not OEM.
  TestExpContext ctx;
  ctx.SetTranslateOem(false);
  ctx.AddNumber("N1", 3);
  ctx.AddNumber("N2", -1.5);
  ctx.AddDate("D1", 2450000);
  ctx.AddText("T1", "AB  ");
  ctx.AddText("T2", "ab");
  ctx.AddText("T3", "");
  ctx.AddBoolean("B1", true);
  ctx.AddBoolean("B2", false);
  int errors = 0;
  for (uint32_t seed = 1; seed <= 3000; ++seed) {
    const bool caseInsensitive = seed % 4 == 0;
    Generator generator(seed, caseInsensitive);
    Gen g = generator.Any(1 + static_cast<int>(seed % 5));
    SCOPED_TRACE(g.text);
    TestCompileOptions options;
    options.caseInsensitive = caseInsensitive;
    if (g.ref.error) {
      ++errors;
      EXPECT_THROW(EvaluateExpression(g.text, &ctx, options), EDeridarExpression);
      continue;
    }
    TestEvaluation result;
    ASSERT_NO_THROW(result = EvaluateExpression(g.text, &ctx, options));
    ASSERT_EQ(result.type, g.ref.type);
    switch (g.ref.type) {
      case TgsExpValueType::Text: EXPECT_EQ(result.Text(), g.ref.text); break;
      case TgsExpValueType::Boolean: EXPECT_EQ(result.Boolean(), g.ref.boolean); break;
      default: EXPECT_EQ(result.Number(), g.ref.number); break;
    }
  }
  EXPECT_GT(errors, 0) << "the generator also reaches failing evaluations";
  EXPECT_LT(errors, 1000);
}

}  // namespace
