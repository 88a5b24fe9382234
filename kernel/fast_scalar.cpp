/*
 * fast_scalar.cpp: the fast variant's floor tier, exact for every odd
 * modulus below 2^62 on any processor: 64-bit Montgomery squaring (R = 2^64)
 * in interleaved chains, digits by long division with a floating estimate.
 *
 * Below 2^60 the squaring is lazy: for x < 4m, hi(x^2) < 16 m^2 / 2^64 < m,
 * so t = m + hi(x^2) - hi(q m) lies in (0, 2m) and its double below 4m, and
 * the loop needs no comparison at all. Larger moduli keep x below m with
 * one correction per step.
 */
#include "fast_mont.h"
#include "fast_tiers.h"

namespace fast {
namespace {

// Lanes squared side by side: enough to cover a squaring's latency (three
// dependent multiplies) with the multiplier busy.
constexpr uint32_t chains = 4;  // add_digits4 takes them all
constexpr uint64_t lazy_limit = uint64_t(1) << 60;

// One Montgomery squaring, then a doubling when bit is 1: for x < m < 2^62
// returns x^2 * 2^(bit - 64) mod m, again below m. Because q * m agrees with
// x^2 in its low 64 bits, (x^2 - q m) / 2^64 is the difference of the high
// halves, with no carry to track.
inline uint64_t square_double(uint64_t x, uint64_t m, uint64_t minv, uint64_t bit) {
  uint64_t hi, lo;
  mul_wide(x, x, &hi, &lo);
  uint64_t qm = mul_high(lo * minv, m);
  uint64_t t = hi - qm + (hi < qm ? m : 0);
  t <<= bit;
  return t >= m ? t - m : t;
}

// The same for x < 4m and m < 2^60, the result again below 4m (and not
// reduced: the residue is the same modulo m).
inline uint64_t square_double_lazy(uint64_t x, uint64_t m, uint64_t minv, uint64_t bit) {
  uint64_t hi, lo;
  mul_wide(x, x, &hi, &lo);
  return (m + hi - mul_high(lo * minv, m)) << bit;
}

// Lanes [first, first + chains) of one run; lanes past count evaluate
// modulus 1, which adds nothing.
void evaluate_lanes(const FastRun &run, uint32_t first, uint32_t count, int64_t digits[4]) {
  uint64_t m[chains], minv[chains], e[chains], x[chains];
  uint64_t top = 0, largest = 0;
  for (uint32_t i = 0; i < chains; ++i) {
    uint32_t lane = first + i;
    bool real = lane < count;
    m[i] = real ? run.modulus + uint64_t(run.modulus_step) * lane : 1;
    e[i] = real ? uint64_t(run.exponent - int64_t(run.exponent_step) * lane) : 1;
    minv[i] = inverse64(m[i]);
    top |= e[i];
    if (m[i] > largest) largest = m[i];
  }
  // Every chain scans the same number of bits; a shorter exponent's leading
  // zeros square the Montgomery one and leave it unchanged. The top bit is
  // applied to the start value.
  int n = bit_length(top);
  for (uint32_t i = 0; i < chains; ++i) {
    uint64_t one = (0 - m[i]) % m[i];  // 2^64 mod m
    uint64_t two = one << 1;
    two = two >= m[i] ? two - m[i] : two;
    x[i] = (e[i] >> (n - 1)) & 1 ? two : one;
  }
  if (largest < lazy_limit) {
    for (int b = n - 2; b >= 0; --b)
      for (uint32_t i = 0; i < chains; ++i)
        x[i] = square_double_lazy(x[i], m[i], minv[i], (e[i] >> b) & 1);
  } else {
    for (int b = n - 2; b >= 0; --b)
      for (uint32_t i = 0; i < chains; ++i)
        x[i] = square_double(x[i], m[i], minv[i], (e[i] >> b) & 1);
  }
  uint64_t rho[chains];
  for (uint32_t i = 0; i < chains; ++i) rho[i] = leave_montgomery(x[i], m[i], minv[i], run.negative != 0);
  add_digits4(rho, m, digits);
}

}  // namespace

void evaluate_scalar(FastBatch *batch) {
  int64_t digits[4] = {0, 0, 0, 0};
  for (const FastRun &run : batch->run)
    for (uint32_t first = 0; first < batch->count; first += chains)
      evaluate_lanes(run, first, batch->count, digits);
  for (int j = 0; j < 4; ++j) batch->digits[j] = digits[j];
}

}  // namespace fast
