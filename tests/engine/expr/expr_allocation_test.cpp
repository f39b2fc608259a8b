// Evaluation walks the compiled tree without allocating: once a handler has
// been evaluated, further evaluations of number and boolean expressions (and
// of text expressions whose buffers have grown) make no heap allocation.
// This file counts allocations by replacing the global operator new.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "support/expression_context.h"

namespace {
thread_local bool gCounting = false;
thread_local size_t gAllocations = 0;
}  // namespace

void* operator new(size_t size) {
  if (gCounting) ++gAllocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

size_t AllocationsOfRepeatedEvaluation(TgsExpHandler& handler, TestFieldVar& n) {
  TgsExpValue value;
  // The first round is the warm-up in which buffers grow to their size.
  for (int round = 0; round < 2; ++round) {
    gAllocations = 0;
    gCounting = round == 1;
    for (int i = 0; i < 500; ++i) {
      n.SetNumber(i % 20);
      handler.Evaluate(value);
    }
    gCounting = false;
  }
  return gAllocations;
}

TEST(ExprAllocation, NumbersAndBooleansEvaluateWithoutAllocating) {
  TestExpContext ctx;
  TestFieldVar& n = ctx.AddNumber("N", 7);
  ctx.AddBoolean("FLAG", true);
  ctx.AddDate("BORN", 2450000);
  TgsExpHandler handler(&ctx, false,
                        "N * 2 + 1 > 3 .AND. .NOT. FLAG .OR. ABS(N - 10) < 5 .AND. IIF(FLAG, N, 0) = 7 "
                        ".OR. MAX(N, 3, BORN - 2449990) >= MOD(N, 4) ^ 2 .AND. BETWEEN(N, 1, 9) "
                        ".AND. INLIST(N, 1, 2, 3) .OR. EMPTY(N) .OR. TRUE # FALSE");
  EXPECT_EQ(AllocationsOfRepeatedEvaluation(handler, n), 0u);
}

TEST(ExprAllocation, TextExpressionsReuseTheirBuffers) {
  TestExpContext ctx;
  TestFieldVar& n = ctx.AddNumber("N", 7);
  ctx.AddText("NAME", "smith   ");
  TgsExpHandler handler(&ctx, false, "");
  handler.SetCaseInsensitive(true);
  handler.Compile(
      "UPPER(NAME) + LEFT(NAME, N) = 'SMI*' .OR. TRIM(NAME) - 'X' $ SUBSTR(NAME, 2) .OR. NAME > 'A' "
      ".OR. PADL(NAME, 12, '*') = SPACE(N)");
  EXPECT_EQ(AllocationsOfRepeatedEvaluation(handler, n), 0u);
}

}  // namespace
