/*
 * tier_check.cpp: the start-up check of the fast variant's vector tiers.
 *
 * A vector tier that computes wrongly on some processor (a flaw in the tier,
 * the compiler, the processor or its emulation of the instructions) would
 * spoil every result line of a campaign without a sign. Before the first
 * chunk, the tier in force evaluates a few fixed blocks whose moduli lie
 * just below each of its limits (where it changes its way of squaring, and
 * its modulus limit), with exponents from tiny to near 2^62, and must
 * give the scalar tier's values bit for bit. One that does not is switched
 * off for the run and the next tier is checked in turn; the text for the
 * status log says which ran.
 */
#include <cstdio>
#include <cstring>

#include "fast_tiers.h"

namespace fast {
namespace {

// Each limit where a tier changes its way of squaring, the last its modulus
// limit; the list ends with 0.
const uint64_t ifma_limits[] = {ifma_narrow_limit, ifma_modulus_limit, 0};
const uint64_t avx2_limits[] = {avx2_narrow_limit, avx2_double_limit, avx2_modulus_limit, 0};

const uint64_t *tier_limits(FastTier t) { return t == FastTier::ifma ? ifma_limits : avx2_limits; }

// Exponents for the 14 runs (each at least 1 + 20 * 15, so every lane's is
// at least 1): near 2^62, at bit-length edges, middling and small.
const int64_t check_exponents[14] = {
    (int64_t(1) << 62) - 1, (int64_t(1) << 61) + 12345, (int64_t(1) << 52) - 3,
    (int64_t(1) << 48) + 1, 4000000000001, 400000020, 99999989,
    (int64_t(1) << 32) + 17, 65536 + 301, 1000, 639, 320, 302, 301};

// Block `which` of the check for a tier of limit `limit`: 0 puts every run's
// largest modulus in the last few thousand below the limit; 1 spreads them
// from 2^20 up to the limit; 2 takes small moduli and a single lane.
FastBatch check_batch(uint64_t limit, int which) {
  FastBatch b;
  std::memset(&b, 0, sizeof b);
  b.count = which == 2 ? 1 : max_lanes;
  for (int p = 0; p < 14; ++p) {
    FastRun &r = b.run[p];
    r.modulus_step = p % 3 == 0 ? 8 : 20;
    r.exponent_step = 20;
    r.negative = (p + which) & 1;
    r.exponent = check_exponents[(p + 5 * which) % 14];
    uint64_t span = uint64_t(r.modulus_step) * (b.count - 1);
    uint64_t largest;
    if (which == 0) largest = limit - 1 - 202 * uint64_t(p);
    else if (which == 1) largest = (limit >> (2 * p / 3 + 1)) + 977 * uint64_t(p) + 1;
    else largest = 3 + 2 * uint64_t(p) * uint64_t(p);
    largest |= 1;
    if (largest >= limit) largest -= 2;
    r.modulus = largest - span;
  }
  return b;
}

// Whether two evaluations of a batch have the same value modulo 1. The
// tiers may split it differently among the signed columns, so the difference
// is settled into base 2^40 from the bottom, dropping the carry out of the
// top column, and must vanish.
bool same_value(const FastBatch &a, const FastBatch &b) {
  const int64_t mask40 = (int64_t(1) << 40) - 1;
  int64_t carry = 0;
  for (int j = 3; j >= 0; --j) {
    int64_t t = (a.digits[j] - b.digits[j]) + carry;
    if ((t & mask40) != 0) return false;
    carry = t >> 40;
  }
  return true;
}

void evaluate_with(FastTier t, FastBatch *b) {
  switch (t) {
    case FastTier::ifma: evaluate_ifma(b); break;
    case FastTier::avx2: evaluate_avx2(b); break;
    default: evaluate_scalar(b); break;
  }
}

const char *tier_label(FastTier t) {
  switch (t) {
    case FastTier::ifma: return "IFMA";
    case FastTier::avx2: return "AVX2";
    default: return "scalar";
  }
}

}  // namespace

bool tier_agrees(FastTier t) {
  if (t == FastTier::scalar) return true;  // the reference itself
  // Moduli right below every limit of the tier, then spread below its
  // modulus limit, then small.
  const uint64_t *limits = tier_limits(t);
  int n = 0;
  while (limits[n + 1] != 0) ++n;  // limits[n] is the modulus limit
  for (int i = 0; i <= n + 2; ++i) {
    int which = i <= n ? 0 : i - n;
    FastBatch want = check_batch(limits[i <= n ? i : n], which), got = want;
    evaluate_scalar(&want);
    evaluate_with(t, &got);
    if ((kernel.check_spoils_tiers >> int(t)) & 1) got.digits[3] += 1;
    if (!same_value(want, got)) return false;
  }
  return true;
}

}  // namespace fast

void kernel_check() {
  char *text = kernel.check_text;
  const size_t size = sizeof kernel.check_text;
  if (kernel_variant() == Variant::fast) {
    kernel.fast_tiers = fast_probe();
    FastTier t = fast_tier_in_force();
    while (t != FastTier::scalar && !fast::tier_agrees(t)) {
      kernel.fast_tiers_failed.fetch_or(uint32_t(1) << int(t));
      t = fast_tier_in_force();
    }
  }
  // With no vector tier left the dispatch rule goes back to the generic
  // variant. The text names every tier off for the run, including those a
  // check before this one switched off.
  Variant v = kernel_variant();
  char ran[48];
  if (v != Variant::fast)
    std::snprintf(ran, sizeof ran, "%s kernel", v == Variant::pentium ? "Pentium" : "generic");
  else if (fast_tier_in_force() == FastTier::scalar)
    std::snprintf(ran, sizeof ran, "fast kernel, scalar tier");
  else
    std::snprintf(ran, sizeof ran, "fast kernel, %s tier, checked",
                  fast::tier_label(fast_tier_in_force()));
  char failed[32] = "";
  int count = 0;
  uint32_t off = kernel.fast_tiers_failed.load() & kernel.fast_tiers;
  for (int t = fast_tier_count - 1; t > 0; --t)
    if ((off >> t) & 1) {
      size_t used = std::strlen(failed);
      if (std::snprintf(failed + used, sizeof failed - used, "%s%s", count ? " and " : "",
                        fast::tier_label(FastTier(t))) < 0)
        failed[used] = '\0';
      ++count;
    }
  // A text longer than the caller's buffer is cut short, never overrun.
  int written;
  if (count == 0)
    written = std::snprintf(text, size, "%s", ran);
  else
    written = std::snprintf(text, size, "The %s tier%s gave wrong results and %s off for this run; %s",
                            failed, count > 1 ? "s" : "", count > 1 ? "are" : "is", ran);
  if (written < 0 && size > 0) text[0] = '\0';
}
