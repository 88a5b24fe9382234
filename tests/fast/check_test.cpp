/*
 * check_test.cpp: the start-up check of the fast variant's vector tiers: the
 * dispatched tier passes and is named, and a tier spoiled on purpose is
 * switched off for the run, the next one runs exactly, and the text says so.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fast_support.h"
#include "fast_tiers.h"
#include "platform.h"

namespace {

std::string label(FastTier t) {
  return t == FastTier::ifma ? "IFMA" : t == FastTier::avx2 ? "AVX2" : "scalar";
}

// Keeps the kernel's process-wide values and clears the check's own on the
// way out, so no tier stays switched off for the tests after.
struct CheckScope {
  int variant = kernel.forced_variant;
  int tier = kernel.forced_fast_tier;
  CheckScope() {
    kernel.forced_variant = -1;
    kernel.forced_fast_tier = -1;
    kernel.fast_tiers_failed.store(0);
    kernel.check_spoils_tiers = 0;
  }
  ~CheckScope() {
    kernel.forced_variant = variant;
    kernel.forced_fast_tier = tier;
    kernel.fast_tiers_failed.store(0);
    kernel.check_spoils_tiers = 0;
    kernel.fast_tiers = fast_probe();
  }
};

std::vector<FastTier> vector_tiers_here() {
  kernel.fast_tiers = fast_probe();
  std::vector<FastTier> tiers;
  for (FastTier t : {FastTier::ifma, FastTier::avx2})
    if (fast_tier_supported(t)) tiers.push_back(t);
  return tiers;
}

// A chunk reaching moduli past 2^48 and a batch at the AVX2 limit, exact
// whichever tier now runs, and never on the switched-off one.
void expect_exact_without(FastTier off) {
  x87_enter_kernel_mode();
  kernel.on_terms_done = [](WorkSlot *) {};
  uint64_t where = (uint64_t(1) << 46) + 100, srt = head_end(where) - 40;
  RefShare ref = ref_share(where, srt, srt + 40);
  Fixed got = fast_chunk_value(where, srt, srt + 40);
  EXPECT_TRUE(got == fixed_floor128(ref.sum160)) << "chunk after switching " << label(off) << " off";
  TestRandom r{0xC4EC0000u};
  for (uint64_t top : {fast::ifma_modulus_limit - 1, fast::avx2_modulus_limit - 1}) {
    FastBatch b = random_batch(&r, fast::max_lanes, top - 100000, top);
    Fixed want = batch_expected(b);
    fast::evaluate(&b);
    EXPECT_NE(b.tier, uint32_t(off));
    EXPECT_TRUE(batch_value(b) == want) << "batch up to " << top;
  }
}

TEST(StartUpCheck, TheDispatchedTierPassesAndIsNamed) {
  CheckScope scope;
  cpu_classify();
  EXPECT_EQ(kernel.fast_tiers_failed.load(), 0u) << kernel.check_text;
  for (FastTier t : vector_tiers_here()) EXPECT_TRUE(fast::tier_agrees(t)) << label(t);
  if (kernel_variant() == Variant::fast)
    EXPECT_STREQ(kernel.check_text,
                 ("fast kernel, " + label(fast_tier_in_force()) + " tier, checked").c_str());
  else
    EXPECT_STREQ(kernel.check_text, kernel_variant() == Variant::pentium ? "Pentium kernel"
                                                                          : "generic kernel");
}

TEST(StartUpCheck, ASpoiledTierIsOffForTheRunAndTheNextOneRuns) {
  std::vector<FastTier> tiers = vector_tiers_here();
  if (tiers.empty()) GTEST_SKIP() << "not run: no vector tier on this processor or system";
  for (FastTier spoiled : tiers) {
    CheckScope scope;
    kernel.check_spoils_tiers = uint32_t(1) << int(spoiled);
    kernel.forced_variant = int(Variant::fast);
    kernel.forced_fast_tier = int(spoiled);
    kernel_init();
    EXPECT_FALSE(fast_tier_supported(spoiled));
    FastTier next = fast_tier_in_force();
    EXPECT_NE(next, spoiled);  // a forced tier that is off gives way to the fastest left
    std::string want = "The " + label(spoiled) + " tier gave wrong results and is off for this run; " +
                       "fast kernel, " + label(next) +
                       (next == FastTier::scalar ? " tier" : " tier, checked");
    EXPECT_EQ(kernel.check_text, want);
    // A new probe (the next Start) keeps it off and the text still says so.
    cpu_classify();
    kernel_init();
    EXPECT_FALSE(fast_tier_supported(spoiled));
    EXPECT_EQ(kernel.check_text, want);
    expect_exact_without(spoiled);
  }
}

TEST(StartUpCheck, WithEveryVectorTierOffTheGenericVariantRuns) {
  CheckScope scope;
  std::vector<FastTier> tiers = vector_tiers_here();
  if (tiers.empty()) GTEST_SKIP() << "not run: no vector tier on this processor or system";
  kernel.check_spoils_tiers = ~uint32_t(0);
  cpu_classify();
  kernel_init();
  EXPECT_EQ(kernel_variant(), Variant::generic);
  std::string names = label(tiers[0]) + (tiers.size() > 1 ? " and " + label(tiers[1]) + " tiers" : " tier");
  EXPECT_EQ(kernel.check_text, "The " + names + " gave wrong results and " +
                                   (tiers.size() > 1 ? "are" : "is") +
                                   " off for this run; generic kernel");
}

}  // namespace
