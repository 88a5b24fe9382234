// speed_figure_test.cpp: the progress report's speed figure, for every
// variant and fast tier, against the clock rate the benchmark calibrates.
#include <gtest/gtest.h>

#include "chunk_eval.h"
#include "clock.h"

namespace {

// Terms per second of processor time over chunks from term `srt` on, best
// of three chunks of at least a tenth of a second each.
[[maybe_unused]] double terms_per_second(uint64_t where, uint64_t srt, int variant) {
  double best = 0;
  uint64_t terms = 4096;
  for (int round = 0; round < 3; ++round) {
    for (;;) {
      double t0 = process_seconds();
      ChunkResult r = evaluate_chunk(where, srt, srt + terms, variant);
      double dt = process_seconds() - t0;
      if (!r.ok) return 0;
      if (dt >= 0.1) {
        if (terms / dt > best) best = terms / dt;
        break;
      }
      terms *= 2;
    }
  }
  return best;
}

TEST(SpeedFigure, StaysNearTheClockForEveryVariantAndTier) {
#if defined(_WIN32)
  GTEST_SKIP() << "clock() counts wall time on Windows, so load on the machine would decide";
#elif !defined(NDEBUG)
  GTEST_SKIP() << "an unoptimised build runs the kernels at a fraction of their speed";
#else
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  GTEST_SKIP() << "a sanitizer slows the kernels and not the clock";
#endif
#endif
  prepare_kernel();
  const double hz = clock_hz();
  const int saved_variant = kernel.forced_variant, saved_tier = kernel.forced_fast_tier;
  struct Subject {
    Variant variant;
    int tier;
    uint64_t where, srt;  // the chunks' first term
    double factor;        // the x87 estimate dates from older processors
  } subjects[] = {{Variant::generic, -1, 10000000000ull, 0, 4},
                  {Variant::pentium, -1, 10000000000ull, 0, 4},
                  {Variant::fast, int(FastTier::scalar), 10000000000ull, 0, 3},
                  {Variant::fast, int(FastTier::avx2), 10000000000ull, 0, 3},
                  {Variant::fast, int(FastTier::ifma), 10000000000ull, 0, 3},
                  // The middle of the head at 10^15 (moduli near 2^51: the
                  // AVX2 tier's two reductions) and at 10^16 (near 2^54: its
                  // Montgomery squaring and the IFMA tier's two limbs).
                  {Variant::fast, int(FastTier::avx2), 1000000000000000ull, 100000000000000ull, 3},
                  {Variant::fast, int(FastTier::avx2), 10000000000000000ull, 1000000000000000ull, 3},
                  {Variant::fast, int(FastTier::ifma), 10000000000000000ull, 1000000000000000ull, 3}};
  for (const Subject &s : subjects) {
    if (s.tier >= 0 && !fast_tier_supported(FastTier(s.tier))) continue;
    kernel.forced_variant = int(s.variant);
    kernel.forced_fast_tier = s.tier;
    kernel_init();
    // The report's figure: terms * term_cost * 0.001 / ms, which is cycles
    // per microsecond when term_cost is right.
    kernel_progress(s.where, 0, head_end(s.where), int64_t(s.srt));
    const double mhz = terms_per_second(s.where, s.srt, int(s.variant)) * kernel.term_cost / 1e6;
    const char *name = s.tier >= 0 ? fast_tier_name(FastTier(s.tier)) : variant_name(s.variant);
    EXPECT_LT(mhz, hz / 1e6 * s.factor) << name << " at " << s.where << ", term " << s.srt
                                        << ", clock " << hz / 1e6 << " MHz";
    EXPECT_GT(mhz, hz / 1e6 / s.factor) << name << " at " << s.where << ", term " << s.srt
                                        << ", clock " << hz / 1e6 << " MHz";
  }
  kernel.forced_variant = saved_variant;
  kernel.forced_fast_tier = saved_tier;
#endif
}

}  // namespace
