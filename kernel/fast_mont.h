/*
 * fast_mont.h: the 64-bit pieces that the scalar tier and the vector tiers'
 * paths for large moduli share: wide products, the inverse of a modulus
 * modulo 2^64, leaving Montgomery form, and the 40-bit digits of a residue's
 * fraction.
 */
#pragma once

#include <cstdint>

namespace fast {

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

// The residue w * 2^e mod m of a lane whose Montgomery value (R = 2^64) is
// x < 2^64: x - q m with q = x m^-1 mod 2^64 is divisible by 2^64 and its
// quotient is -hi(q m), so the residue is m - hi(q m), or hi(q m) itself
// when the weight is negative (the residue of -2^e).
inline uint64_t leave_montgomery(uint64_t x, uint64_t m, uint64_t minv, bool negative) {
  uint64_t qm = mul_high(x * minv, m);
  return negative ? qm : (qm ? m - qm : 0);
}

// Adds the four 40-bit digits of floor(rho[i] * 2^160 / m[i]) of four lanes
// to digits, for rho < m < 2^62. Each digit is estimated in floating point
// (off by at most one under any rounding) and settled by its exact
// remainder, which mod-2^64 arithmetic gives because it lies in [-m, 2m).
// The lanes' divisions interleave and the corrections are masks, not
// branches: the remainder's sign is as good as random.
inline void add_digits4(const uint64_t rho[4], const uint64_t m[4], int64_t digits[4]) {
  double scale[4];
  uint64_t r[4];
  for (int i = 0; i < 4; ++i) {
    scale[i] = 1099511627776.0 / double(int64_t(m[i]));  // 2^40 / m
    r[i] = rho[i];
  }
  for (int j = 0; j < 4; ++j) {
    int64_t column = 0;
    for (int i = 0; i < 4; ++i) {
      uint64_t d = uint64_t(int64_t(double(int64_t(r[i])) * scale[i]));
      uint64_t rem = (r[i] << 40) - d * m[i];
      uint64_t below = uint64_t(int64_t(rem) >> 63);  // all ones where negative
      rem += below & m[i];
      d += below;
      uint64_t above = 0 - uint64_t(rem >= m[i]);
      rem -= above & m[i];
      d -= above;
      column += int64_t(d);
      r[i] = rem;
    }
    digits[j] += column;
  }
}

// r 2^40 mod m for r < m < 2^62, as one step of add_digits4: the quotient,
// below 2^40, from doubles within one of the truth, the remainder exact
// modulo 2^64.
inline uint64_t times_2_40_mod(uint64_t r, uint64_t m) {
  uint64_t d = uint64_t(int64_t(double(int64_t(r)) * (1099511627776.0 / double(int64_t(m)))));
  uint64_t rem = (r << 40) - d * m;
  if (int64_t(rem) < 0) return rem + m;
  return rem >= m ? rem - m : rem;
}

// v at least 1.
inline int bit_length(uint64_t v) { return 64 - __builtin_clzll(v); }

}  // namespace fast
