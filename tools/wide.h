/*
 * wide.h: 192-bit binary fractions modulo 1 in 32-bit digits, so that shares
 * can be added, tails computed and digits extracted on every target,
 * including 32-bit ones without a 128-bit integer type.
 */
#pragma once

#include <cstdint>

// A fraction modulo 1 in units of 2^-192: d[0] is the most significant digit
// (weight 2^-32), d[5] the least. Result lines fill d[0..3]. The same record
// holds non-negative error bounds below 1 in the same units.
struct Wide {
  uint32_t d[6];
};

constexpr int wide_digits = 6;
constexpr int wide_bits = 192;

bool operator==(const Wide &a, const Wide &b);
inline bool operator!=(const Wide &a, const Wide &b) { return !(a == b); }

// Sum and difference modulo 1. The carry or borrow out of the integer
// place, when wanted, goes to *out (0 or 1).
Wide wide_add(const Wide &a, const Wide &b, uint32_t *carry_out = nullptr);
Wide wide_sub(const Wide &a, const Wide &b, uint32_t *borrow_out = nullptr);
// a < b as unsigned 192-bit integers.
bool wide_less(const Wide &a, const Wide &b);
bool wide_is_zero(const Wide &a);

// The 128-bit fraction of four 32-bit limbs, L0 the most significant.
Wide wide_from_limbs(const uint32_t limbs[4]);
// n * 2^shift units of 2^-192, the bits at 2^192 and above dropped (modulo
// 1); 0 <= shift < 192.
Wide wide_from_units(uint64_t n, int shift);
// floor(num * 2^shift / den) modulo 1, in units of 2^-192, for
// 0 <= shift <= 192 and 1 <= den < 2^63: binary long division, exact.
Wide wide_ratio(uint64_t num, uint64_t den, int shift);
// a + b as non-negative bounds: the sum, or all ones (the largest value,
// "at least 1") when it reaches 1.
Wide wide_add_saturated(const Wide &a, const Wide &b);

// The first `count` hexadecimal digits (at most 48) of a, upper case, into
// out with a terminating NUL: out must hold count + 1 bytes.
void wide_hex(const Wide &a, int count, char *out);

// How many leading hexadecimal digits every value in [s - below, s + above]
// shares with s (0..48), the interval taken on the real line, not modulo 1:
// when it reaches across a whole number not even the first digit is certain.
int wide_certain_digits(const Wide &s, const Wide &below, const Wide &above);
