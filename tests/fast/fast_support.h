/*
 * fast_support.h: what the fast variant's tests share: batches of runs made
 * up for a test, the exact value a batch must produce, and a way to save and
 * restore the kernel's process-wide values around a test.
 */
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "kernel.h"
#include "reference.h"
#include "test_support.h"

// The value of a batch's digit columns modulo 1, to 160 bits.
Fixed batch_value(const FastBatch &batch);
// What the batch must sum to: every lane's fraction w * 2^e / m floored to
// 160 bits by the integer reference, added modulo 1.
Fixed batch_expected(const FastBatch &batch);

// A batch of 14 runs of `count` lanes each, made up for a test: odd moduli
// whose largest lane lies in [lowest, highest], exponents of at least 1 drawn
// from a mix of random, boundary and tiny values, random signs, and the
// modulus and exponent steps of the series.
FastBatch random_batch(TestRandom *r, uint32_t count, uint64_t lowest, uint64_t highest);

// Saves the kernel's process-wide values and restores them on destruction;
// meanwhile the fast variant is forced with the given tier, the callback
// does nothing and the x87 unit is in the kernel's mode.
struct FastKernelScope {
  explicit FastKernelScope(int tier);
  ~FastKernelScope();
  FastKernelScope(const FastKernelScope &) = delete;
  FastKernelScope &operator=(const FastKernelScope &) = delete;

  int saved_variant;
  int saved_tier;
  uint32_t saved_tiers;
  TermsDoneFn saved_callback;
  uint8_t saved_family;
  int32_t saved_vendor;
};

// A slot in its own zeroed 784-byte block, aligned as the workers' are.
struct FastSlot {
  alignas(16) unsigned char block[slot_block_bytes];
  WorkSlot *slot;
  FastSlot();
};

// Steps a fresh slot over [srt, end) at `where` with the kernel in force and
// finishes it; the value of its limbs.
Fixed fast_chunk_value(uint64_t where, uint64_t srt, uint64_t end);

// The tiers as test parameters, with their names.
const char *tier_label(int tier);

// A test run once per tier (the parameter, an int of FastTier). Tiers the
// processor lacks are skipped, so they show as not run.
class TierParamTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override;
  FastTier tier = FastTier::scalar;
};
