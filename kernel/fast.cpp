/*
 * fast.cpp: the fast kernel variant's entries (init, step, finish), the
 * probe of the tiers the processor and operating system support, and the
 * choice of tier for each block.
 *
 * The step hands a block of up to 16 terms to one tier as 14 runs, one per
 * part of the term table, each run covering the block's consecutive terms.
 * While a chunk runs, sums hold the share to 160 bits as 32-bit limbs:
 * L0, L1 and L2 in s0, s1 and s2, and L3 * 2^32 + L4 in s3.
 */
#include <bit>

#include "fast_tiers.h"
#include "cpu.h"
#include "series.h"

namespace fast {
namespace {

// Positions from here on would take moduli to 2^62 and exponents near 2^62,
// beyond what the scalar tier keeps exact.
constexpr uint64_t where_bound = uint64_t(1) << 60;

constexpr uint32_t tier_bit(FastTier t) { return uint32_t(1) << int(t); }

// Adds the block's digit columns to the running limbs, dropping the carry
// out of L0 (the integer part of the share). The columns are signed and
// overlap; settled from the bottom in base 2^40 (shifts that floor) they
// become the 160-bit value v0 v1 v2 v3 of 40 bits each.
void add_to_sums(uint64_t sums[4], const int64_t digits[4]) {
  const uint64_t mask40 = (uint64_t(1) << 40) - 1;
  uint64_t v[4];
  int64_t carry = 0;
  for (int j = 3; j >= 0; --j) {
    int64_t t = digits[j] + carry;  // each column below 2^50 in magnitude
    v[j] = uint64_t(t) & mask40;
    carry = t >> 40;
  }
  uint64_t block[5] = {
      v[0] >> 8,
      ((v[1] >> 16) | (v[0] << 24)) & 0xFFFFFFFF,
      ((v[2] >> 24) | (v[1] << 16)) & 0xFFFFFFFF,
      ((v[3] >> 32) | (v[2] << 8)) & 0xFFFFFFFF,
      v[3] & 0xFFFFFFFF,
  };
  uint64_t limb[5] = {sums[0], sums[1], sums[2], sums[3] >> 32, uint32_t(sums[3])};
  uint64_t up = 0;
  for (int j = 4; j >= 0; --j) {
    uint64_t t = limb[j] + block[j] + up;
    limb[j] = uint32_t(t);
    up = t >> 32;
  }
  sums[0] = limb[0];
  sums[1] = limb[1];
  sums[2] = limb[2];
  sums[3] = (limb[3] << 32) | limb[4];
}

}  // namespace

uint64_t largest_modulus(const FastBatch *batch) {
  uint64_t largest = 0;
  for (const FastRun &run : batch->run) {
    uint64_t m = run.modulus + uint64_t(run.modulus_step) * (batch->count - 1);
    if (m > largest) largest = m;
  }
  return largest;
}

FastTier tier_for_modulus(uint64_t largest) {
  FastTier tier = fast_tier_in_force();
  // A tier's limit is never stretched: beyond it the block drops to the next
  // tier that is exact there.
  if (tier == FastTier::ifma && largest >= ifma_modulus_limit)
    tier = fast_tier_supported(FastTier::avx2) ? FastTier::avx2 : FastTier::scalar;
  // Between the IFMA tier's one-limb limit and 2^53 - 16 the AVX2 tier's
  // doubles are quicker than two limbs (about 2.4 times at 2^51).
  if (tier == FastTier::ifma && largest >= ifma_narrow_limit && largest < avx2_double_limit &&
      fast_tier_supported(FastTier::avx2))
    tier = FastTier::avx2;
  if (tier == FastTier::avx2 && largest >= avx2_modulus_limit) tier = FastTier::scalar;
  return tier;
}

int32_t term_cost(uint32_t e, uint64_t modulus) {
  // Cycles per term = (e * slope + offset) / 256 with e = floor(log2 x), the
  // form of the x87 variants' estimate, fitted per tier and way of squaring
  // to `quarn-coord bench` (cycles from the benchmark's calibrated clock, one
  // thread, 3.4 GHz, Sapphire Rapids class): the quick paths by least
  // squares at positions 10^8, 10^10 and 10^12; the AVX2 tier's two
  // reductions through the middle and the end of the head at 10^15; the
  // wide paths (Montgomery in AVX2, two limbs in IFMA) through the middle
  // and the end of the head at 10^16.
  struct Fit {
    uint32_t slope, offset;
  };
  static const Fit quick[fast_tier_count] = {{21606, 84890}, {4085, 205}, {2591, 28186}};
  static const Fit avx2_two_step = {4192, 27392};
  static const Fit avx2_wide = {7264, 275456};
  static const Fit ifma_wide = {6960, 206848};
  FastTier tier = tier_for_modulus(modulus);
  Fit fit = quick[int(tier)];
  if (tier == FastTier::avx2 && modulus >= avx2_double_limit) fit = avx2_wide;
  else if (tier == FastTier::avx2 && modulus >= avx2_narrow_limit) fit = avx2_two_step;
  else if (tier == FastTier::ifma && modulus >= ifma_narrow_limit) fit = ifma_wide;
  return int32_t((e * fit.slope + fit.offset) >> 8);
}

void evaluate(FastBatch *batch) {
  FastTier tier = tier_for_modulus(largest_modulus(batch));
  batch->tier = uint32_t(tier);
  switch (tier) {
    case FastTier::ifma: evaluate_ifma(batch); break;
    case FastTier::avx2: evaluate_avx2(batch); break;
    default: evaluate_scalar(batch); break;
  }
}

void kernel_init() {}  // the tiers come from cpu_classify

void kernel_step(WorkSlot *slot) {
  kernel.on_terms_done(slot);
  if (slot->thread_number == -1) return;
  uint64_t cur = slot->cur_pos, end = slot->end_pos, where = slot->where;
  if (cur >= end) return;  // an empty chunk has no block to evaluate
  uint64_t n = end - cur < max_lanes ? end - cur : max_lanes;
  slot->cur_pos = cur + n;

  // Only the head of the series has exponents of at least 1; a block that
  // reaches past it is evaluated up to the head's end and flagged.
  uint64_t head = where < where_bound ? head_end(where) : 0;
  uint64_t good = cur >= head ? 0 : (head - cur < n ? head - cur : n);
  if (good < n) kernel.kernel_error.store(1, std::memory_order_relaxed);
  if (good == 0) return;

  FastBatch &b = slot->k.fast;
  int64_t base = int64_t(4 * where) - 20 * int64_t(cur);
  slot->k.block_base = base;
  slot->k.block_first = int64_t(cur);
  slot->k.block_length = int64_t(good);
  for (int p = 0; p < parts_per_term; ++p) {
    const TermPart &t = term_parts[p];
    FastRun &r = b.run[p];
    r.modulus = uint64_t(t.modulus_step) * cur + t.modulus_offset;
    // The weight's magnitude, a power of two, moves into the exponent.
    r.exponent = base - t.a + std::countr_zero(uint32_t(t.weight < 0 ? -t.weight : t.weight));
    r.modulus_step = t.modulus_step;
    r.exponent_step = 20;
    r.negative = t.weight < 0 ? 1 : 0;
    r.reserved = 0;
  }
  b.count = uint32_t(good);
  evaluate(&b);
  add_to_sums(slot->sums, b.digits);
}

void kernel_finish(WorkSlot *slot) {
  // The limb below 2^-128 is dropped: the result is the 128-bit floor.
  slot->sums[3] >>= 32;
  for (uint64_t &cell : slot->sums) cell = std::bit_cast<uint64_t>(double(uint32_t(cell)));
}

}  // namespace fast

uint32_t fast_tiers_of(const CpuInfo &id) {
  uint32_t tiers = fast::tier_bit(FastTier::scalar);
#if defined(__i386__) || defined(__x86_64__)
  if (!id.cpuid || id.max_leaf < 7) return tiers;
  bool fma = (id.leaf1_ecx >> 12) & 1, osxsave = (id.leaf1_ecx >> 27) & 1, avx = (id.leaf1_ecx >> 28) & 1;
  if (!osxsave || !avx) return tiers;
  bool avx2 = (id.leaf7_ebx >> 5) & 1, avx512f = (id.leaf7_ebx >> 16) & 1, ifma = (id.leaf7_ebx >> 21) & 1;
  // XCR0 bits 1 and 2: the SSE and AVX halves; 5 to 7: the AVX-512 mask and
  // upper registers.
  bool ymm_state = (id.xcr0 & 0x06) == 0x06, zmm_state = (id.xcr0 & 0xE6) == 0xE6;
  if (avx2 && fma && ymm_state) {
    tiers |= fast::tier_bit(FastTier::avx2);
    if (avx512f && ifma && zmm_state) tiers |= fast::tier_bit(FastTier::ifma);
  }
#else
  (void)id;
#endif
  return tiers;
}

uint32_t fast_probe() { return fast_tiers_of(cpu_read()); }

bool fast_tier_supported(FastTier t) {
  if (t == FastTier::scalar) return true;  // plain C++: runs everywhere
  uint32_t usable = kernel.fast_tiers & ~kernel.fast_tiers_failed.load(std::memory_order_relaxed);
  return int(t) > 0 && int(t) < fast_tier_count && (usable & fast::tier_bit(t)) != 0;
}

FastTier fast_tier_in_force() {
  int forced = kernel.forced_fast_tier;
  if (forced >= 0 && forced < fast_tier_count && fast_tier_supported(FastTier(forced)))
    return FastTier(forced);
  for (int t = fast_tier_count - 1; t > 0; --t)
    if (fast_tier_supported(FastTier(t))) return FastTier(t);
  return FastTier::scalar;
}

const char *fast_tier_name(FastTier t) {
  switch (t) {
    case FastTier::scalar: return "scalar";
    case FastTier::avx2: return "avx2";
    case FastTier::ifma: return "ifma";
  }
  return "?";
}

bool fast_tier_preferred() {
  // The scalar tier is the fallback for large moduli, not a reason to leave
  // the generic variant: only a vector tier is.
  for (int t = 1; t < fast_tier_count; ++t)
    if (fast_tier_supported(FastTier(t))) return true;
  return false;
}
