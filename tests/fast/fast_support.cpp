/*
 * fast_support.cpp: made-up batches, their exact values, and the kernel
 * scope of the fast variant's tests.
 */
#include "fast_support.h"

#include <cstring>

#include "platform.h"


Fixed batch_value(const FastBatch &batch) {
  Fixed total{};
  for (int j = 0; j < 4; ++j) {
    int64_t d = batch.digits[j];
    uint64_t magnitude = d < 0 ? uint64_t(0) - uint64_t(d) : uint64_t(d);
    Fixed column = fixed_from_u64(magnitude, -40 * (j + 1));
    total = d < 0 ? fixed_sub(total, column) : fixed_add(total, column);
  }
  return total;
}

Fixed batch_expected(const FastBatch &batch) {
  Fixed total{};
  for (const FastRun &run : batch.run)
    for (uint32_t i = 0; i < batch.count; ++i) {
      uint64_t m = run.modulus + uint64_t(run.modulus_step) * i;
      int64_t e = run.exponent - int64_t(run.exponent_step) * i;
      total = fixed_add(total, ref_fraction(m, run.negative ? -1 : 1, e));
    }
  return total;
}

namespace {

// An exponent of at least 1 for a lane that comes `lanes_after` lanes (of
// step 20) before the run's last: random over the whole range, at a bit
// length's edges, or tiny.
int64_t random_exponent(TestRandom *r, uint32_t lanes_after) {
  int64_t low = 1 + 20 * int64_t(lanes_after);
  switch (random_next(r) % 4) {
    case 0: return int64_t(random_range(r, uint64_t(low), (uint64_t(1) << 62) - 1));
    case 1: {
      int bits = int(random_range(r, 7, 61));
      int64_t edge = int64_t(1) << bits;
      return edge + int64_t(random_range(r, 0, 40)) - 20 + low;
    }
    case 2: return low + int64_t(random_range(r, 0, 80));
    default: return int64_t(random_range(r, uint64_t(low), uint64_t(1) << 32));
  }
}

}  // namespace

FastBatch random_batch(TestRandom *r, uint32_t count, uint64_t lowest, uint64_t highest) {
  FastBatch b;
  std::memset(&b, 0, sizeof b);
  b.count = count;
  for (int p = 0; p < 14; ++p) {
    FastRun &run = b.run[p];
    run.modulus_step = p % 3 == 0 ? 8 : 20;
    run.exponent_step = 20;
    run.negative = int32_t(random_next(r) & 1);
    uint64_t span = uint64_t(run.modulus_step) * (count - 1);
    uint64_t last = random_range(r, lowest > span ? lowest : span + 1, highest) | 1;
    if (last > highest) last -= 2;
    run.modulus = last - span;
    run.exponent = random_exponent(r, count - 1);
  }
  return b;
}

FastKernelScope::FastKernelScope(int tier)
    : saved_variant(kernel.forced_variant),
      saved_tier(kernel.forced_fast_tier),
      saved_tiers(kernel.fast_tiers),
      saved_callback(kernel.on_terms_done),
      saved_family(kernel.cpu_family),
      saved_vendor(kernel.cpu_vendor) {
  x87_enter_kernel_mode();
  kernel.forced_variant = int(Variant::fast);
  kernel.forced_fast_tier = tier;
  kernel.fast_tiers = fast_probe();
  kernel.on_terms_done = [](WorkSlot *) {};
  kernel.kernel_error.store(0);
  kernel_init();
}

FastKernelScope::~FastKernelScope() {
  kernel.forced_variant = saved_variant;
  kernel.forced_fast_tier = saved_tier;
  kernel.fast_tiers = saved_tiers;
  kernel.on_terms_done = saved_callback;
  kernel.cpu_family = saved_family;
  kernel.cpu_vendor = saved_vendor;
  kernel.kernel_error.store(0);
}

FastSlot::FastSlot() {
  std::memset(block, 0, sizeof block);
  slot = slot_in_block(block);
}

Fixed fast_chunk_value(uint64_t where, uint64_t srt, uint64_t end) {
  FastSlot s;
  s.slot->where = where;
  s.slot->srt_pos = s.slot->cur_pos = srt;
  s.slot->end_pos = end;
  while (s.slot->cur_pos < s.slot->end_pos) kernel_step(s.slot);
  kernel_finish(s.slot);
  uint32_t limbs[4];
  slot_limbs(s.slot, limbs);
  return fixed_from_limbs(limbs);
}

const char *tier_label(int tier) { return fast_tier_name(FastTier(tier)); }

void TierParamTest::SetUp() {
  kernel.fast_tiers = fast_probe();
  tier = FastTier(GetParam());
  if (!fast_tier_supported(tier))
    GTEST_SKIP() << "not run: this processor or system lacks the " << tier_label(GetParam()) << " tier";
}
