/*
 * exact.h: shares of the series in exact integer arithmetic: the tail that
 * the kernel never evaluates, and a reference against which the kernel's
 * rounding is measured.
 */
#pragma once

#include <cstdint>

#include "series.h"
#include "wide.h"

// A value modulo 1 known to lie in [value - below, value + above] (units of
// 2^-192; below and above are non-negative and below 1).
struct ShareBound {
  Wide value;
  Wide below;
  Wide above;
};

// a * b mod m for a, b < m < 2^60, in 64-bit steps of four bits.
uint64_t mulmod(uint64_t a, uint64_t b, uint64_t m);
// 2^e mod m for m < 2^60 (0 when m = 1).
uint64_t pow2mod(uint64_t e, uint64_t m);

// The exponent of part p of term k: 4*where - 20*k - a (any sign).
int64_t part_exponent(uint64_t where, uint64_t k, int p);
// A lower bound of part p of term k modulo 1, within one unit of 2^-192 of
// it: the true part lies in [result, result + 2^-192]. Any exponent: a
// negative one gives the small signed value weight / (m * 2^-e).
// Requires where < 2^56.
Wide part_floor(uint64_t where, uint64_t k, int p);

// The share of terms [srt, end) at position where, any exponents: the sum
// of their part_floors, above = one unit per part, below = 0.
ShareBound exact_share(uint64_t where, uint64_t srt, uint64_t end);

// The share of every term from `from` on, to infinity. Terms are summed
// until the next one's largest exponent is at most -197: the rest, whose
// weights add up to 31 and whose exponents fall by 20 per term, is then
// smaller than one unit either way and is covered by below and above.
// *terms_summed tells how many terms were summed.
ShareBound tail_share(uint64_t where, uint64_t from, uint64_t *terms_summed);
