// rounding_test.cpp: every variant's lines fall short of the exact share by no more than the bound that sum and verify rely on, and never exceed it.
#include <gtest/gtest.h>

#include "chunk_eval.h"
#include "exact.h"
#include "rounding.h"

namespace {

struct Stretch3 {
  uint64_t where, srt, end;
};

class Rounding : public testing::Test {
 protected:
  static void SetUpTestSuite() { prepare_kernel(); }
};

TEST_F(Rounding, LinesNeverExceedTheExactShareAndStayWithinTheirBound) {
  const Stretch3 cases[] = {
      {100, 0, 16},
      {1000000, 0, 2000},
      {1000000, 198001, 199999},                      // odd end: a single last term
      {10000000000ull, 5, 1201},                      // odd start
      {1000000000003ull, 100000000, 100001500},
      {(uint64_t(1) << 55) + 7, uint64_t(1) << 50, (uint64_t(1) << 50) + 300},  // large moduli
  };
  const int variants[] = {int(Variant::generic), int(Variant::pentium), -1};
  for (const Stretch3 &c : cases) {
    ShareBound exact = exact_share(c.where, c.srt, c.end);
    const uint64_t terms = c.end - c.srt;
    for (int v : variants) {
      ChunkResult r = evaluate_chunk(c.where, c.srt, c.end, v);
      ASSERT_TRUE(r.ok);
      uint64_t bound = v == int(Variant::generic)   ? generic_line_bound(terms)
                       : v == int(Variant::pentium) ? pentium_line_bound(terms)
                                                    : line_bound(terms);
      // The true share lies in [exact, exact + one unit of 2^-192 per
      // part]; the line lies at or below it, by at most the bound.
      Wide line = wide_from_limbs(r.limbs);
      Wide over = wide_sub(line, exact.value);
      Wide slack = wide_from_units(terms * parts_per_term, 0);
      if (wide_less(slack, over)) {
        Wide shortfall = wide_sub(exact.value, line);
        EXPECT_FALSE(wide_less(bound_from_units128(bound), shortfall))
            << "variant " << v << ": " << r.line;
      }
    }
  }
}

TEST_F(Rounding, VariantsAgreeWithinTheirBoundsOnLongerStretches) {
  // Too long for the exact reference here: both lines lie below the same
  // true share, each within its own bound, so P - G is in [-Bp, Bg].
  const Stretch3 cases[] = {
      {10000000, 0, 65536},
      {100000000000ull, 3000000000ull, 3000065536ull},
  };
  for (const Stretch3 &c : cases) {
    const uint64_t terms = c.end - c.srt;
    ChunkResult g = evaluate_chunk(c.where, c.srt, c.end, int(Variant::generic));
    ChunkResult p = evaluate_chunk(c.where, c.srt, c.end, int(Variant::pentium));
    ASSERT_TRUE(g.ok && p.ok);
    Wide d = wide_sub(wide_from_limbs(p.limbs), wide_from_limbs(g.limbs));
    if (d.d[0] & 0x80000000u)
      EXPECT_FALSE(wide_less(bound_from_units128(pentium_line_bound(terms)), wide_sub(Wide{}, d))) << g.line << "\n" << p.line;
    else
      EXPECT_FALSE(wide_less(bound_from_units128(generic_line_bound(terms)), d)) << g.line << "\n" << p.line;
  }
}

#ifdef __SIZEOF_INT128__
TEST(RoundingBound, GenericBoundIsCSquaredOver2To17WithoutOverflow) {
  for (uint64_t terms : {uint64_t(0), uint64_t(1), uint64_t(16), uint64_t(19999744), uint64_t(1) << 28,
                         (uint64_t(1) << 36) - 1}) {
    unsigned __int128 c = 7 * (terms / 2 + 2);
    unsigned __int128 expected = c * c / (unsigned __int128)(1u << 17) + 2;
    EXPECT_EQ(generic_line_bound(terms), uint64_t(expected)) << terms;
  }
  EXPECT_EQ(generic_line_bound(uint64_t(1) << 40), uint64_t(1) << 63);
}
#endif

}  // namespace
