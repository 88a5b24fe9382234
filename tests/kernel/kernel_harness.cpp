/*
 * kernel_harness.cpp: test slots, exact readings of the accumulators and the
 * chunk runner shared by the kernel's tests.
 */
#include "kernel_harness.h"

#include <bit>
#include <cstdlib>
#include <cstring>

#include "platform.h"

TestSlot::TestSlot() {
  block = std::malloc(slot_block_bytes);
  std::memset(block, 0, slot_block_bytes);
  slot = slot_in_block(block);
}

TestSlot::~TestSlot() { std::free(block); }

static void ignore_terms_done(WorkSlot *) {}

int kernels_under_test(KernelUnderTest out[kernels_under_test_max]) {
  int n = 0;
  out[n++] = {Variant::generic, -1, "generic"};
  out[n++] = {Variant::pentium, -1, "pentium"};
  kernel.fast_tiers = fast_probe();
  const FastTier tiers[] = {FastTier::scalar, FastTier::avx2, FastTier::ifma};
  const char *names[] = {"fast/scalar", "fast/avx2", "fast/ifma"};
  for (int i = 0; i < 3; ++i)
    if (fast_tier_supported(tiers[i])) out[n++] = {Variant::fast, int(tiers[i]), names[i]};
  return n;
}

void kernel_harness_reset(Variant v, int fast_tier) {
  x87_enter_kernel_mode();
  kernel.kernel_error = 0;
  kernel.on_terms_done = ignore_terms_done;
  kernel.forced_variant = int(v);
  kernel.forced_fast_tier = fast_tier;
  kernel_init();
}

void kernel_harness_reset(const KernelUnderTest &k) { kernel_harness_reset(k.variant, k.fast_tier); }

void kernel_harness_release() {
  kernel.forced_variant = -1;
  kernel.forced_fast_tier = -1;
  kernel.on_terms_done = nullptr;
  kernel.kernel_error = 0;
}

double sums_cell(const WorkSlot *slot, int i) { return std::bit_cast<double>(slot->sums[i]); }

Fixed generic_sums_value(const WorkSlot *slot) {
  Fixed v = fixed_from_u64(slot->sums[0], -32);
  v = fixed_add(v, fixed_from_u64(slot->sums[1], -64));
  v = fixed_add(v, fixed_from_u64(slot->sums[2], -96));
  return fixed_add(v, fixed_from_double(sums_cell(slot, 3), -128));
}

Fixed pentium_sums_value(const WorkSlot *slot) {
  Fixed v{};
  for (int i = 0; i < 4; ++i) v = fixed_add(v, fixed_from_double(sums_cell(slot, i), 0));
  return v;
}

Fixed limb_sums_value(const WorkSlot *slot) {
  Fixed v{};
  for (int i = 0; i < 4; ++i)
    v = fixed_add(v, fixed_from_double(sums_cell(slot, i), -32 * (i + 1)));
  return v;
}

Fixed running_sums_value(const WorkSlot *slot, Variant v) {
  return v == Variant::pentium ? pentium_sums_value(slot) : generic_sums_value(slot);
}

ChunkRun run_chunk(uint64_t where, uint64_t srt, uint64_t end) {
  TestSlot t;
  WorkSlot *s = t.slot;
  s->thread_number = 0;
  s->where = where;
  s->srt_pos = srt;
  s->cur_pos = srt;
  s->end_pos = end;
  ChunkRun run{};
  uint64_t limit = end - srt + 2;
  while (s->cur_pos != s->end_pos && uint64_t(run.steps) < limit) {
    kernel_step(s);
    ++run.steps;
  }
  run.reached_end = s->cur_pos == s->end_pos;
  run.kernel_error = kernel.kernel_error;
  kernel_finish(s);
  run.value = limb_sums_value(s);
  slot_limbs(s, run.limbs);
  for (int i = 0; i < 4; ++i) run.cells[i] = sums_cell(s, i);
  return run;
}

double shortfall_ulps(const RefShare &ref, const Fixed &got) {
  return double(fixed_signed_diff(ref.sum160, got)) / 4294967296.0;
}

double shortfall_bound(Variant v, uint64_t parts) {
  double n = double(parts);
  if (v == Variant::fast) return 1.0;
  if (v == Variant::pentium) return 1.0 / 1024.0 + n / 16384.0;
  // At most one store per two parts (groups of four lanes, or two for a
  // single term), each losing less than one unit in the last place of a
  // double below n * 2^33 in value, that is less than n * 2^-19 units of
  // 2^-128; plus the final floor.
  return 2.0 + (n / 2.0) * n / 524288.0;
}

ShortfallStats shortfall_stats[kernels_under_test_max];

void record_shortfall(const KernelUnderTest &k, double shortfall, uint64_t parts) {
  ShortfallStats *s = shortfall_stats;
  while (s->name && std::strcmp(s->name, k.name) != 0) ++s;
  if (!s->name) *s = ShortfallStats{k.name, shortfall, shortfall, 0, 0};
  if (shortfall > s->max_shortfall) s->max_shortfall = shortfall;
  if (shortfall < s->min_shortfall) s->min_shortfall = shortfall;
  double ratio = shortfall / shortfall_bound(k.variant, parts);
  if (ratio > s->max_ratio) s->max_ratio = ratio;
  s->chunks += 1;
}

