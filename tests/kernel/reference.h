/*
 * reference.h: an exact integer reference for shares of the series, written
 * independently of the kernel's floating-point method: powers of two by
 * integer multiplication modulo m, fractions by integer long division.
 *
 * Nothing here touches floating point except the conversions of a kernel's
 * doubles into fixed point, which are exact, so the reference gives the same
 * answers under any rounding mode.
 */
#pragma once

#include <cstdint>

#include "series.h"

// A value modulo 1 in fixed point to 160 bits: d[0] is the most significant
// 32-bit digit (weight 2^-32), d[4] the least (weight 2^-160). Arithmetic
// wraps modulo 1, as the shares do.
struct Fixed {
  uint32_t d[5];
};

bool operator==(const Fixed &a, const Fixed &b);
Fixed fixed_add(const Fixed &a, const Fixed &b);
Fixed fixed_sub(const Fixed &a, const Fixed &b);
// a plus n units of 2^-160 (n may be negative).
Fixed fixed_add_units(const Fixed &a, int64_t n);
// a with the digit below 2^-128 cleared: the 128-bit floor.
Fixed fixed_floor128(const Fixed &a);
// The value a - b taken in (-1/2, 1/2], in units of 2^-160, saturated to
// +-2^62 when larger.
int64_t fixed_signed_diff(const Fixed &a, const Fixed &b);
// Four 32-bit limbs of a 128-bit fraction, most significant first.
Fixed fixed_from_limbs(const uint32_t limbs[4]);
// n * 2^scale modulo 1, floored to 160 bits; -160 <= scale <= 0.
Fixed fixed_from_u64(uint64_t n, int scale);
// x * 2^scale modulo 1, floored to 160 bits. Exact for every finite double;
// negative values wrap as fractions do (-2^-160 is 1 - 2^-160).
Fixed fixed_from_double(double x, int scale);
// "XXXXXXXX XXXXXXXX XXXXXXXX XXXXXXXX" (the 128-bit floor) into buf[36].
void fixed_format128(const Fixed &a, char buf[36]);

// --- integer arithmetic modulo m ---

// (hi * 2^64 + lo) / v and its remainder, for hi < v; portable 64-bit code
// (32-bit digits, normalised divisor), usable where no 128-bit type exists.
uint64_t ref_divide_128(uint64_t hi, uint64_t lo, uint64_t v, uint64_t *rem);
// a * b mod m for a, b < m, through ref_divide_128.
uint64_t ref_mulmod_portable(uint64_t a, uint64_t b, uint64_t m);
// a * b mod m for a, b < m: a native 128-bit product where the compiler has
// one, ref_mulmod_portable otherwise.
uint64_t ref_mulmod(uint64_t a, uint64_t b, uint64_t m);
// 2^e mod m for m >= 1 (0 when m = 1), by square and double.
uint64_t ref_pow2_mod(uint64_t e, uint64_t m);

// --- one part of the series ---

// One part of a term: weight * 2^exponent / modulus.
struct SeriesPart {
  uint64_t modulus;
  int32_t weight;
  int64_t exponent;
};
// Part p (0..13) of term k at digit position where, in the order of the
// term table. The exponent may be negative past the head of the series.
SeriesPart ref_term_part(uint64_t where, uint64_t k, int p);

// The fraction of weight * 2^exponent / modulus modulo 1, floored to 160
// bits. For exponent >= 0 that is (weight * 2^e mod m) / m, taken modulo 1 for
// a negative weight; for exponent < 0 it is the signed value
// weight / (m * 2^-e), a negative one wrapping to 1 minus its magnitude.
// Its top four digits are the 128-bit floor of the fraction.
Fixed ref_fraction(uint64_t modulus, int32_t weight, int64_t exponent);

// A sum of parts. Every part was floored, losing less than one unit of its
// last digit, so with n = parts the true share T lies in
//   [sum128, sum128 + n * 2^-128)  and in  [sum160, sum160 + n * 2^-160).
struct RefShare {
  Fixed sum128;    // sum of the parts' 128-bit floors (digit 4 is zero)
  Fixed sum160;    // sum of the parts' 160-bit floors
  uint64_t parts;  // the bound n above
};

// The share of terms [srt, end) at position where: the sum of their 14 parts
// each, modulo 1. Any exponent may be used; past the head of the series the
// parts are the signed small values of ref_fraction.
RefShare ref_share(uint64_t where, uint64_t srt, uint64_t end);
// The share of every term from `from` on (the infinite tail). Terms whose
// every part lies below 2^-170 are left out; the bound `parts` (and a shift of
// sum160 by one unit) covers them, so the interval above still holds.
RefShare ref_tail(uint64_t where, uint64_t from);

// The first term whose smallest exponent, 4*where - 20k - 20, is below 1,
// found by searching rather than by formula.
uint64_t ref_head_end(uint64_t where);

// Hexadecimal digits of pi after the point, from digit 1 ("243F6A88...").
extern const char pi_hex_digits[];
constexpr int pi_hex_digit_count = 320;
// Digits where .. where + 39 of pi as a fraction: the first 160 bits of
// 16^(where - 1) * pi modulo 1. Requires 1 <= where <= pi_hex_digit_count - 39.
Fixed pi_digits_at(int where);
