/*
 * fast_test.cpp: the fast variant's tiers against the integer reference at
 * and beyond their modulus limits, the choice and forcing of tiers, the
 * block rules of its step, and its results end to end.
 */
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fast_support.h"
#include "fast_tiers.h"
#include "platform.h"

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define QUARN_TEST_SSE 1
#endif

namespace {

std::string hex(const Fixed &f) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%08X %08X %08X %08X %08X", unsigned(f.d[0]), unsigned(f.d[1]),
                unsigned(f.d[2]), unsigned(f.d[3]), unsigned(f.d[4]));
  return buf;
}

// The reference is slow without a 128-bit type (i686): fewer trials there.
#if defined(__SIZEOF_INT128__)
constexpr bool native_128 = true;
#else
constexpr bool native_128 = false;
#endif

uint64_t tier_limit(FastTier t) {
  switch (t) {
    case FastTier::ifma: return fast::ifma_modulus_limit;
    case FastTier::avx2: return fast::avx2_modulus_limit;
    default: return fast::scalar_modulus_limit;
  }
}

// Where a vector tier leaves its quick path for its wide one (the scalar
// tier's lazy loop ends at 2^60).
uint64_t tier_narrow_limit(FastTier t) {
  switch (t) {
    case FastTier::ifma: return fast::ifma_narrow_limit;
    case FastTier::avx2: return fast::avx2_narrow_limit;
    default: return uint64_t(1) << 60;
  }
}

class TierTest : public TierParamTest {};

// The tier a block runs on with `tier` forced: the IFMA tier hands blocks
// whose largest modulus lies from its one-limb limit to the AVX2 tier's
// double limit to the AVX2 tier's doubles.
FastTier tier_for_block(FastTier tier, const FastBatch &batch) {
  uint64_t largest = fast::largest_modulus(&batch);
  if (tier == FastTier::ifma && largest >= fast::ifma_narrow_limit &&
      largest < fast::avx2_double_limit && fast_tier_supported(FastTier::avx2))
    return FastTier::avx2;
  return tier;
}

// Evaluates a batch with the tier forced, checks which tier ran and compares
// with the reference.
::testing::AssertionResult batch_agrees(FastBatch batch, FastTier expected_tier) {
  expected_tier = tier_for_block(expected_tier, batch);
  Fixed want = batch_expected(batch);
  fast::evaluate(&batch);
  Fixed got = batch_value(batch);
  if (batch.tier != uint32_t(expected_tier))
    return ::testing::AssertionFailure()
           << "ran tier " << tier_label(int(batch.tier)) << ", expected "
           << tier_label(int(expected_tier)) << " (largest modulus "
           << fast::largest_modulus(&batch) << ")";
  if (!(got == want))
    return ::testing::AssertionFailure() << "got " << hex(got) << ", want " << hex(want)
                                         << " (largest modulus " << fast::largest_modulus(&batch)
                                         << ", count " << batch.count << ")";
  return ::testing::AssertionSuccess();
}

TEST_P(TierTest, ExactForEveryModulusUpToItsLimit) {
  FastKernelScope scope{int(tier)};
  uint64_t limit = tier_limit(tier), narrow = tier_narrow_limit(tier);
  TestRandom r{0x5EED0000u + uint64_t(GetParam())};
  // Moduli right below the limit, where the lazy bounds are tightest; across
  // the whole range; tiny ones, down to 1; and on either side of the switch
  // from the quick path to the wide one, whose blocks mix both sizes.
  const struct {
    uint64_t lowest, highest;
  } ranges[] = {{limit - 4096, limit - 1}, {1, limit - 1},           {1, 400},
                {narrow - 4096, narrow - 1}, {narrow, narrow + 4096}, {1, narrow - 1}};
  for (auto &range : ranges)
    for (uint32_t count : {1u, 2u, 3u, 5u, 8u, 9u, 15u, 16u})
      for (int trial = 0; trial < 3; ++trial) {
        FastBatch b = random_batch(&r, count, range.lowest, range.highest);
        ASSERT_TRUE(batch_agrees(b, tier)) << "moduli up to " << range.highest;
      }
  // Many more full blocks right below the limit: the lazy reductions' bounds
  // are tightest for the largest moduli and the longest exponents.
  const int blocks = native_128 ? 300 : 20;
  for (int trial = 0; trial < blocks; ++trial) {
    FastBatch b = random_batch(&r, 16, limit - (uint64_t(1) << 20), limit - 1);
    ASSERT_TRUE(batch_agrees(b, tier)) << "trial " << trial;
    FastBatch below = random_batch(&r, 16, narrow - (uint64_t(1) << 20), narrow - 1);
    ASSERT_TRUE(batch_agrees(below, tier)) << "trial " << trial << " below the quick path's limit";
  }
}

TEST_P(TierTest, ExponentEdgesAndSmallModuli) {
  FastKernelScope scope{int(tier)};
  // Bit lengths of 1, 6, 7 (where the top six bits start to be taken as a
  // power of two) and 62, trailing zeros, and moduli 1, 3 and a large one.
  const int64_t exponents[] = {1, 2, 63, 64, 65, 127, 128, int64_t(1) << 40,
                               (int64_t(1) << 40) + 1, (int64_t(1) << 62) - 1};
  const uint64_t moduli[] = {1,       3, 5, 7, 1000001, tier_narrow_limit(tier) - 1,
                             tier_narrow_limit(tier) + 1, tier_limit(tier) - 1};
  for (int64_t e : exponents)
    for (uint64_t m : moduli)
      for (int negative = 0; negative < 2; ++negative) {
        FastBatch b{};
        b.count = 1;
        for (int p = 0; p < 14; ++p) b.run[p] = FastRun{1, 1, 0, 0, 0, 0};
        b.run[5] = FastRun{m, e, 20, 20, negative, 0};
        ASSERT_TRUE(batch_agrees(b, tier)) << "2^" << e << " mod " << m;
      }
}

// Every modulus at which a tier changes its way of squaring, ending with its
// modulus limit, and powers of two in between where bounds are reckoned.
std::vector<uint64_t> path_limits(FastTier t) {
  const uint64_t p50 = uint64_t(1) << 50, p52 = uint64_t(1) << 52, p58 = uint64_t(1) << 58;
  switch (t) {
    case FastTier::ifma:
      return {fast::ifma_narrow_limit, p50, p52, fast::avx2_double_limit, p58,
              fast::ifma_modulus_limit};
    case FastTier::avx2:
      return {fast::avx2_narrow_limit, p52, fast::avx2_double_limit, uint64_t(1) << 53, p58,
              fast::avx2_modulus_limit};
    default: return {p58, uint64_t(1) << 60, fast::scalar_modulus_limit};
  }
}

TEST_P(TierTest, ExactAtAndAroundEveryPathLimit) {
  FastKernelScope scope{int(tier)};
  const uint64_t limit = tier_limit(tier);
  // Long runs of ones and of zeros, alternating bits, and short ones.
  const int64_t exponents[] = {(int64_t(1) << 62) - 1, (int64_t(1) << 61) + 1,
                               ((int64_t(1) << 31) - 1) << 31, 0x5555555555555555 >> 2,
                               (int64_t(1) << 62) - (int64_t(1) << 40) + 301, 4000000000001,
                               (int64_t(1) << 53) - 1, 301};
  TestRandom r{0x11A175u + uint64_t(GetParam())};
  int blocks = 0;
  auto check = [&](FastBatch b) {
    ++blocks;
    FastTier expected = fast::largest_modulus(&b) < limit ? tier : FastTier::scalar;
    return batch_agrees(b, expected);
  };
  for (uint64_t at : path_limits(tier)) {
    // Every run's largest modulus the odd one right below the limit or right
    // above it, full blocks and single lanes, each exponent in turn.
    for (uint64_t largest : {(at - 1) | 1, ((at - 1) | 1) - 2, at + 1})
      for (uint32_t count : {1u, 16u})
        for (int k = 0; k < 8; ++k) {
          FastBatch b{};
          b.count = count;
          for (int p = 0; p < 14; ++p) {
            uint32_t step = p % 3 == 0 ? 8 : 20;
            b.run[p] = FastRun{largest - step * (count - 1), exponents[(k + p) % 8], step, 20,
                               (k + p) & 1, 0};
          }
          ASSERT_TRUE(check(b)) << "largest modulus " << largest << ", exponents from " << k;
        }
    // Random blocks within 2^k below and above.
    for (int k : {4, 12, 24, 40})
      for (uint32_t count : {3u, 16u}) {
        ASSERT_TRUE(check(random_batch(&r, count, at - (uint64_t(1) << k), at - 1)))
            << "below " << at;
        ASSERT_TRUE(check(random_batch(&r, count, at + 1, at + (uint64_t(1) << k))))
            << "above " << at;
      }
    // m = 2^k - 1 and 2^k + 1 around the limit: 2^(k-1) + j k gives the
    // residue (m + 1) / 2, the largest in magnitude a signed residue takes,
    // and j k the residues 1 and m - 1, next to 0 and m, at every squaring
    // of their tails.
    int bits = 63 - __builtin_clzll(at);
    for (int kb = bits - 1; kb <= bits + 1; ++kb) {
      for (uint64_t m : {(uint64_t(1) << kb) - 1, (uint64_t(1) << kb) + 1}) {
        if (m >= fast::scalar_modulus_limit) continue;
        for (int64_t e : {int64_t(kb - 1), int64_t(kb - 1) + kb * 1000003, int64_t(kb) * 77777,
                          int64_t(kb) * ((int64_t(1) << 55) / kb)})
          for (int negative = 0; negative < 2; ++negative) {
            FastBatch b{};
            b.count = 1;
            for (int p = 0; p < 14; ++p) b.run[p] = FastRun{m, e, 20, 20, (negative + p) & 1, 0};
            ASSERT_TRUE(check(b)) << "2^" << e << " mod " << m;
          }
      }
    }
  }
  EXPECT_GE(blocks, 100);
}

TEST(FastTierFallback, ModuliFromAVectorTiersLimitOnDropToAnExactTier) {
  FastKernelScope scope{-1};
  int run = 0;
  for (FastTier tier : {FastTier::avx2, FastTier::ifma}) {
    if (!fast_tier_supported(tier)) {
      std::printf("[ not run ] %s: this processor or system lacks it\n", tier_label(int(tier)));
      continue;
    }
    ++run;
    kernel.forced_fast_tier = int(tier);
    uint64_t limit = tier_limit(tier);
    FastTier below = tier == FastTier::ifma && fast_tier_supported(FastTier::avx2) &&
                             limit + 1 < fast::avx2_modulus_limit
                         ? FastTier::avx2
                         : FastTier::scalar;
    TestRandom r{77};
    for (uint32_t count : {1u, 16u}) {
      // The largest lane's modulus decides: limit - 1 stays, limit + 1 drops.
      FastBatch at = random_batch(&r, count, limit - 64, limit - 1);
      ASSERT_EQ(at.run[4].modulus_step, 20u);
      at.run[4].modulus = limit - 1 - 20 * (count - 1);
      ASSERT_TRUE(batch_agrees(at, tier));
      FastBatch beyond = random_batch(&r, count, limit - 64, limit - 1);
      beyond.run[4].modulus = limit + 1 - 20 * (count - 1);
      ASSERT_TRUE(batch_agrees(beyond, below));
      FastBatch far = random_batch(&r, count, fast::avx2_modulus_limit + 1, uint64_t(1) << 61);
      ASSERT_TRUE(batch_agrees(far, FastTier::scalar));
    }
  }
  if (run == 0) GTEST_SKIP() << "not run: no vector tier on this processor or system";
}

TEST_P(TierTest, ChunksMatchTheExactShares) {
  FastKernelScope scope{int(tier)};
  // Odd and even bounds, single terms, the very end of a head, and positions
  // whose moduli reach past the vector tiers' limits.
  const struct {
    uint64_t where, srt, end;
  } chunks[] = {
      {100, 0, 16},
      {100, 3, 17},
      {100, 5, 6},
      {1000, 0, 199},
      {65537, 13100, 13106},
      {123456789, 1000, 1301},
      {(uint64_t(1) << 32) + 1, (uint64_t(1) << 28) - 5, (uint64_t(1) << 28) + 7},
      // Moduli 20k + r passing 2^48 and 2^50 inside the chunk.
      {(uint64_t(1) << 46) + 100, 14073748835517, 14073748835550},
      {(uint64_t(1) << 48) + 100, 56294995342120, 56294995342147},
      // The middle of heads where records are checked: moduli past 2^50 with
      // exponents of 50 bits and more, on every tier's wide path.
      {1000000000000000, 100000000000000, 100000000000037},
      {where_limit - 1, head_end(where_limit - 1) / 2, head_end(where_limit - 1) / 2 + 21},
      {where_limit - 1, head_end(where_limit - 1) - 5, head_end(where_limit - 1)},
      {where_limit - 1, 3, 4},  // moduli small, exponents of 58 bits
  };
  for (auto &c : chunks) {
    kernel.kernel_error.store(0);
    RefShare ref = ref_share(c.where, c.srt, c.end);
    Fixed got = fast_chunk_value(c.where, c.srt, c.end);
    EXPECT_EQ(hex(got), hex(fixed_floor128(ref.sum160)))
        << "where " << c.where << " [" << c.srt << ", " << c.end << ")";
    EXPECT_EQ(kernel.kernel_error.load(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Tiers, TierTest,
                         ::testing::Values(int(FastTier::scalar), int(FastTier::avx2),
                                           int(FastTier::ifma)),
                         [](const ::testing::TestParamInfo<int> &info) {
                           return std::string(tier_label(info.param));
                         });

TEST(FastTierChoice, ForcedTierIsUsedOnlyWhereSupported) {
  FastKernelScope scope(-1);
  kernel.fast_tiers = 1;  // a processor with no vector tier
  for (int t = -1; t < fast_tier_count; ++t) {
    kernel.forced_fast_tier = t;
    EXPECT_EQ(fast_tier_in_force(), FastTier::scalar) << "forced " << t;
  }
  kernel.fast_tiers = 1 | 2;  // AVX2 but no IFMA
  kernel.forced_fast_tier = -1;
  EXPECT_EQ(fast_tier_in_force(), FastTier::avx2);
  kernel.forced_fast_tier = int(FastTier::ifma);
  EXPECT_EQ(fast_tier_in_force(), FastTier::avx2);
  kernel.forced_fast_tier = int(FastTier::scalar);
  EXPECT_EQ(fast_tier_in_force(), FastTier::scalar);
  kernel.fast_tiers = 1 | 2 | 4;
  kernel.forced_fast_tier = -1;
  EXPECT_EQ(fast_tier_in_force(), FastTier::ifma);
}

TEST(FastTierChoice, ProbeAndDispatchRule) {
  FastKernelScope scope(-1);
  uint32_t tiers = fast_probe();
  EXPECT_TRUE(tiers & 1) << "the scalar tier runs everywhere";
  if (tiers & 4) {
    EXPECT_TRUE(tiers & 2) << "IFMA without AVX2";
  }
  std::printf("[ info ] tiers this processor and system run:%s%s%s\n", " scalar",
              tiers & 2 ? " avx2" : "", tiers & 4 ? " ifma" : "");

  kernel.forced_variant = -1;
  const struct {
    int32_t vendor;
    uint8_t family;
    uint32_t tiers;
    Variant want;
  } cases[] = {
      {0, 5, 1 | 2, Variant::pentium},  // Intel family 5 first, whatever the tiers
      {0, 6, 1 | 2, Variant::fast},     {1, 25, 1 | 2 | 4, Variant::fast},
      {1, 5, 1 | 2, Variant::fast},     {0, 6, 1, Variant::generic},
      {-1, 4, 1, Variant::generic},
  };
  for (auto &c : cases) {
    kernel.cpu_vendor = c.vendor;
    kernel.cpu_family = c.family;
    kernel.fast_tiers = c.tiers;
    EXPECT_EQ(kernel_variant(), c.want) << "vendor " << c.vendor << " family " << int(c.family)
                                        << " tiers " << c.tiers;
  }
  kernel.forced_variant = int(Variant::generic);
  EXPECT_EQ(kernel_variant(), Variant::generic);
}

class FastStepTest : public ::testing::Test {
 protected:
  static int calls;
  static WorkSlot *seen;
  static bool retire;
  static void count_calls(WorkSlot *slot) {
    // The block must not have moved yet when the coordinator is called.
    seen = slot;
    ++calls;
    if (retire) slot->thread_number = -1;
  }
};
int FastStepTest::calls = 0;
WorkSlot *FastStepTest::seen = nullptr;
bool FastStepTest::retire = false;

TEST_F(FastStepTest, CallbackFirstThenAtMostSixteenTermsAnyParity) {
  FastKernelScope scope(-1);
  kernel.on_terms_done = count_calls;
  calls = 0;
  retire = false;
  FastSlot s;
  s.slot->where = 1000;
  s.slot->cur_pos = s.slot->srt_pos = 3;
  s.slot->end_pos = 40;
  const uint64_t expected[] = {19, 35, 40, 40};
  for (int i = 0; i < 4; ++i) {
    kernel_step(s.slot);
    EXPECT_EQ(calls, i + 1);
    EXPECT_EQ(seen, s.slot);
    EXPECT_EQ(s.slot->cur_pos, expected[i]) << "step " << i;
  }
  kernel_finish(s.slot);
  uint32_t limbs[4];
  slot_limbs(s.slot, limbs);
  EXPECT_EQ(hex(fixed_from_limbs(limbs)), hex(fixed_floor128(ref_share(1000, 3, 40).sum160)));
}

TEST_F(FastStepTest, RetiredSlotIsLeftAlone) {
  FastKernelScope scope(-1);
  kernel.on_terms_done = count_calls;
  calls = 0;
  retire = true;
  FastSlot s;
  s.slot->where = 1000;
  s.slot->end_pos = 40;
  kernel_step(s.slot);
  retire = false;
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(s.slot->thread_number, -1);
  EXPECT_EQ(s.slot->cur_pos, 0u);
  for (uint64_t cell : s.slot->sums) EXPECT_EQ(cell, 0u);
}

TEST_F(FastStepTest, EmptySumsFinishAsZeroLimbs) {
  FastKernelScope scope(-1);
  FastSlot s;
  kernel_finish(s.slot);
  for (uint64_t cell : s.slot->sums) EXPECT_EQ(cell, 0u);  // +0.0 is all zero bits
}

TEST_F(FastStepTest, TermsPastTheHeadOrBeyondTheLimitAreRefused) {
  FastKernelScope scope(-1);
  FastSlot s;
  s.slot->where = 1000;  // head_end 199
  s.slot->cur_pos = 190;
  s.slot->end_pos = 199;
  kernel_step(s.slot);
  EXPECT_EQ(kernel.kernel_error.load(), 0) << "the head's last term has exponents of at least 1";
  s.slot->cur_pos = 195;
  s.slot->end_pos = 205;
  kernel_step(s.slot);
  EXPECT_EQ(kernel.kernel_error.load(), 1);
  EXPECT_EQ(s.slot->cur_pos, 205u) << "the block still ends";

  kernel.kernel_error.store(0);
  FastSlot big;
  big.slot->where = uint64_t(1) << 60;  // moduli would pass 2^62
  big.slot->end_pos = 1;
  kernel_step(big.slot);
  EXPECT_EQ(kernel.kernel_error.load(), 1);
  for (uint64_t cell : big.slot->sums) EXPECT_EQ(cell, 0u);
}

TEST_F(FastStepTest, ChunkResumedUnderAnotherVariant) {
  // Sums are never stored: a stop writes the share so far and the chunk
  // resumes with empty sums, possibly under another variant. The two lines
  // add up to the share of the whole chunk.
  FastKernelScope scope(-1);
  const uint64_t where = 123456789, srt = 1000, mid = 1333, end = 2001;
  kernel.forced_variant = int(Variant::generic);
  kernel_init();
  Fixed first = fast_chunk_value(where, srt, mid);
  kernel.forced_variant = int(Variant::fast);
  kernel_init();
  Fixed second = fast_chunk_value(where, mid, end);
  RefShare whole = ref_share(where, srt, end);
  int64_t off = fixed_signed_diff(fixed_add(first, second), whole.sum160);
  // Each finished share lies at most one unit of 2^-128 (plus the generic
  // variant's own loss, a few units) below the true one.
  EXPECT_LE(off, 0);
  EXPECT_GE(off, -(int64_t(64) << 32)) << "in units of 2^-160";
}

#if defined(QUARN_TEST_SSE)
TEST_F(FastStepTest, CallersSseRoundingIsRestoredAndDoesNotMatter) {
  FastKernelScope scope(-1);
  Fixed nearest = fast_chunk_value(123456789, 0, 600);
  unsigned saved = _mm_getcsr();
  _mm_setcsr((saved & ~0x6000u) | 0x2000u);  // round toward minus infinity
  Fixed down = fast_chunk_value(123456789, 0, 600);
  unsigned after = _mm_getcsr();
  _mm_setcsr(saved);
  EXPECT_EQ(after, (saved & ~0x6000u) | 0x2000u);
  EXPECT_EQ(hex(down), hex(nearest));
}
#endif

TEST_F(FastStepTest, X87ControlWordDoesNotMatter) {
  // The scalar tier's digit estimates may run on the x87 unit (i686).
  FastKernelScope scope{int(FastTier::scalar)};
  Fixed kernel_mode = fast_chunk_value(1000003, 4097, 4400);
  x87_set_control_word(0x037F);  // the default: 64-bit precision, nearest
  Fixed default_mode = fast_chunk_value(1000003, 4097, 4400);
  x87_enter_kernel_mode();
  EXPECT_EQ(hex(default_mode), hex(kernel_mode));
}

TEST(FastEndToEnd, DigitsOfPiWithTheDispatchedVariant) {
  // The rule chooses the variant (the fast one on any processor with a vector
  // tier); the head's share plus the reference's tail gives the digits of pi
  // from `where` on.
  FastKernelScope scope(-1);
  cpu_classify();
  kernel.forced_variant = -1;
  kernel.forced_fast_tier = -1;
  kernel_init();
  std::printf("[ info ] dispatched: %s%s%s\n", variant_name(kernel_variant()),
              kernel_variant() == Variant::fast ? " tier " : "",
              kernel_variant() == Variant::fast ? fast_tier_name(fast_tier_in_force()) : "");
  for (int where = 1; where <= pi_hex_digit_count - 39; where += 7) {
    uint64_t head = head_end(uint64_t(where));
    Fixed share = fast_chunk_value(uint64_t(where), 0, head);
    RefShare tail = ref_tail(uint64_t(where), head);
    Fixed total = fixed_add(share, tail.sum160);
    // The head loses under one unit of 2^-128, the tail under `parts` units
    // of 2^-160.
    int64_t off = fixed_signed_diff(pi_digits_at(where), total);
    EXPECT_GE(off, -int64_t(tail.parts)) << "where " << where;
    EXPECT_LE(off, (int64_t(1) << 32) + int64_t(14 * head)) << "where " << where;
  }
  Fixed ten = fixed_add(fast_chunk_value(10, 0, head_end(10)), ref_tail(10, head_end(10)).sum160);
  EXPECT_EQ(hex(fixed_floor128(ten)).substr(0, 35), "5A308D31 3198A2E0 3707344A 40938222");
}

}  // namespace
