/*
 * fast_scalar.cpp: the fast variant's floor tier, exact for every odd
 * modulus below 2^62 on any processor: 64-bit Montgomery squaring in four
 * interleaved chains, digits by long division with a floating estimate.
 */
#include "fast_tiers.h"

namespace fast {
namespace {

constexpr uint32_t chains = 4;  // lanes squared side by side

// The 128-bit product a * b as two halves. Where the compiler has no 128-bit
// type (i686) it is built from four 32x32-bit products.
inline void mul_wide(uint64_t a, uint64_t b, uint64_t *hi, uint64_t *lo) {
#if defined(__SIZEOF_INT128__)
  unsigned __int128 p = (unsigned __int128)a * b;
  *hi = uint64_t(p >> 64);
  *lo = uint64_t(p);
#else
  uint64_t a0 = uint32_t(a), a1 = a >> 32, b0 = uint32_t(b), b1 = b >> 32;
  uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  uint64_t mid = (p00 >> 32) + uint32_t(p01) + uint32_t(p10);
  *lo = (mid << 32) | uint32_t(p00);
  *hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
#endif
}

inline uint64_t mul_high(uint64_t a, uint64_t b) {
  uint64_t hi, lo;
  mul_wide(a, b, &hi, &lo);
  return hi;
}

// m^-1 modulo 2^64 for odd m: (3m) xor 2 is right to 5 bits and each Newton
// step doubles that.
inline uint64_t inverse64(uint64_t m) {
  uint64_t x = (3 * m) ^ 2;
  for (int i = 0; i < 4; ++i) x *= 2 - m * x;
  return x;
}

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

// Adds the four 40-bit digits of floor(rho * 2^160 / m) to digits. Each digit
// is estimated in floating point (off by at most one under any rounding) and
// settled by its exact remainder, which mod-2^64 arithmetic gives because it
// lies in [-m, 2m).
inline void add_digits(uint64_t rho, uint64_t m, double scale, int64_t digits[4]) {
  for (int j = 0; j < 4; ++j) {
    uint64_t d = uint64_t(int64_t(double(int64_t(rho)) * scale));
    int64_t r = int64_t((rho << 40) - d * m);
    if (r < 0) {
      r += int64_t(m);
      --d;
    } else if (uint64_t(r) >= m) {
      r -= int64_t(m);
      ++d;
    }
    digits[j] += int64_t(d);
    rho = uint64_t(r);
  }
}

// v at least 1.
inline int bit_length(uint64_t v) { return 64 - __builtin_clzll(v); }

// Lanes [first, first + chains) of one run; lanes past count evaluate
// modulus 1, which adds nothing.
void evaluate_lanes(const FastRun &run, uint32_t first, uint32_t count, int64_t digits[4]) {
  uint64_t m[chains], minv[chains], e[chains], x[chains];
  uint64_t top = 0;
  for (uint32_t i = 0; i < chains; ++i) {
    uint32_t lane = first + i;
    bool real = lane < count;
    m[i] = real ? run.modulus + uint64_t(run.modulus_step) * lane : 1;
    e[i] = real ? uint64_t(run.exponent - int64_t(run.exponent_step) * lane) : 1;
    minv[i] = inverse64(m[i]);
    top |= e[i];
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
  for (int b = n - 2; b >= 0; --b)
    for (uint32_t i = 0; i < chains; ++i) x[i] = square_double(x[i], m[i], minv[i], (e[i] >> b) & 1);

  for (uint32_t i = 0; i < chains; ++i) {
    // Leaving Montgomery form: x - q m is divisible by 2^64 and its quotient
    // is -hi(q m), so the residue is m - hi(q m), or hi(q m) itself when the
    // weight is negative.
    uint64_t qm = mul_high(x[i] * minv[i], m[i]);
    uint64_t rho = run.negative ? qm : (qm ? m[i] - qm : 0);
    add_digits(rho, m[i], 1099511627776.0 / double(int64_t(m[i])), digits);  // 2^40 / m
  }
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
