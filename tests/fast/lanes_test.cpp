/*
 * lanes_test.cpp: each vector tier against the integer reference over a few
 * thousand lanes at and around its modulus limit, and over whole blocks of
 * the series at small, middle and large positions, bit for bit. Part of the
 * fast tests, and of the static program that runs them on an emulated
 * processor with AVX-512 IFMA.
 */
#include <gtest/gtest.h>

#include <cstdio>

#include "fast_support.h"
#include "fast_tiers.h"

namespace {

class LanesTest : public TierParamTest {};

uint64_t limit_of(FastTier t) {
  return t == FastTier::ifma ? fast::ifma_modulus_limit : fast::avx2_modulus_limit;
}

std::string digits(const Fixed &f) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%08X %08X %08X %08X %08X", unsigned(f.d[0]), unsigned(f.d[1]),
                unsigned(f.d[2]), unsigned(f.d[3]), unsigned(f.d[4]));
  return buf;
}

// Full batches (14 runs of 16 lanes) whose largest modulus lies in the last
// 2^k below the limit for k = 1 .. 40, then some just past it, where the
// dispatcher must hand the block to a tier that is exact there: 160 bits
// compared, not only the 128 a chunk keeps.
TEST_P(LanesTest, FullBatchesAtAndAroundTheModulusLimit) {
  FastKernelScope scope{int(tier)};
  uint64_t limit = limit_of(tier);
  TestRandom r{0x1A4E5000u + uint64_t(GetParam())};
  int lanes = 0;
  for (int k = 1; k <= 40; ++k) {
    FastBatch b = random_batch(&r, fast::max_lanes, limit - (uint64_t(1) << k), limit - 1);
    Fixed want = batch_expected(b);
    fast::evaluate(&b);
    ASSERT_EQ(b.tier, uint32_t(tier)) << "largest modulus " << fast::largest_modulus(&b);
    ASSERT_EQ(digits(batch_value(b)), digits(want))
        << "largest modulus " << fast::largest_modulus(&b);
    lanes += 14 * int(b.count);
  }
  for (int k = 0; k < 4; ++k) {
    FastBatch b = random_batch(&r, fast::max_lanes, limit + 1, limit + 4096);
    Fixed want = batch_expected(b);
    fast::evaluate(&b);
    ASSERT_NE(b.tier, uint32_t(tier)) << "a modulus past the limit ran on the tier";
    ASSERT_EQ(digits(batch_value(b)), digits(want));
    lanes += 14 * int(b.count);
  }
  EXPECT_GE(lanes, 2000);
}

// Blocks of the series as the step makes them, at a small, a middle and a
// large position: the head's first terms (largest exponents), its middle,
// and its last terms (largest moduli, smallest exponents). At the large
// position the last terms' moduli 20k + r pass 2^48.
TEST_P(LanesTest, SeriesBlocksAtSmallMiddleAndLargePositions) {
  FastKernelScope scope{int(tier)};
  const uint64_t positions[] = {1000003, 10000000019, (uint64_t(1) << 46) + 100};
  int lanes = 0;
  for (uint64_t where : positions) {
    uint64_t head = head_end(where);
    const uint64_t starts[] = {0, head / 2 + 1, head - 48};
    for (uint64_t srt : starts) {
      kernel.kernel_error.store(0);
      RefShare ref = ref_share(where, srt, srt + 48);
      Fixed got = fast_chunk_value(where, srt, srt + 48);
      EXPECT_EQ(digits(got), digits(fixed_floor128(ref.sum160)))
          << "where " << where << " [" << srt << ", " << srt + 48 << ")";
      EXPECT_EQ(kernel.kernel_error.load(), 0);
      lanes += 48 * 14;
    }
  }
  EXPECT_GE(lanes, 6000);
}

INSTANTIATE_TEST_SUITE_P(VectorTiers, LanesTest,
                         ::testing::Values(int(FastTier::avx2), int(FastTier::ifma)),
                         [](const ::testing::TestParamInfo<int> &info) {
                           return std::string(tier_label(info.param));
                         });

}  // namespace
