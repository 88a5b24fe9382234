/*
 * rounding.cpp: the rounding bounds of result lines.
 *
 * The generic and Pentium variants run with rounding toward minus infinity
 * and estimate every quotient from below (the reciprocal 1/m is rounded
 * down too), so no step ever gains: a line never exceeds the true share of
 * its stretch, and only the amount it may fall short needs a bound. In both
 * variants the three upper 32-bit digits of each part are exact (a low
 * quotient leaves a residue in [m, 2m), which the next digit absorbs); what
 * is lost is in the remainders below 2^-96, which the accumulator s3 sums
 * in floating point, and in the final conversion of s3 to the limb L3.
 *
 * Generic variant (units of 2^-128). Each remainder is below 2^33 and is
 * itself rounded by less than 2^-28. One pass of pow2_mod (one row of one
 * group, or of one single term at an odd end of the stretch) adds four
 * remainders to s3 in extended precision (each addition loses less than
 * 2^-63 * s3) and stores s3 as a double (losing less than 2^-52 * s3).
 * After c passes s3 < c * 2^35, so pass c loses less than
 * c * 2^-17 * (1 + 2^-9) + 2^-26, and C passes less than
 *   2^-18 * (1 + 2^-9) * C * (C + 1) + C * 2^-26  <=  C^2 / 2^17  (C >= 2).
 * A stretch of N terms takes C <= 7 * (N / 2 + 2) passes; the floor of s3
 * at the end loses less than one more unit. For a chunk of 2^28 terms the
 * bound is about 2^42.6 units (2^-85.4). Measured shortfalls (quarn-coord
 * rounding, against the exact share and the Pentium variant) are near
 * N^2 * 2^-18, about 1/20 of the bound, as the remainders average 2^31 and
 * a store loses half an ulp on average: 17 units for 2,000 terms (bound
 * 377), 1.68e7 for 1,999,999 (bound 3.7e8), 1.16e9 for 2^24 (bound 2.6e10),
 * 2.98e11 for a chunk of 2^28 at position 10^11 (bound 6.7e12).
 *
 * Pentium variant. s3 is brought back below 2^-96 after every pass of at
 * most 16 terms, each adding two remainders below 2^-95, so s3 stays below
 * 2^-89.9; a double store there loses less than 2^-13 units and the two
 * extended additions and the remainder products far less, so a term (seven
 * rows) loses less than 2^-10 units. L3 keeps a fraction that the result
 * line truncates: one unit more.
 *
 * A variant that floors each part's fraction to 2^-128 and adds the floors
 * exactly loses less than one unit per part: 14 per term.
 */
#include "rounding.h"

namespace {
constexpr uint64_t saturated = uint64_t(1) << 63;
}

uint64_t generic_line_bound(uint64_t terms) {
  if (terms >= (uint64_t(1) << 36)) return saturated;  // C^2 / 2^17 would pass 2^63
  uint64_t c = 7 * (terms / 2 + 2);
  // c < 2^38, so c^2 (up to 2^76) is divided in pieces:
  // c^2 / 2^17 = hi^2 * 2^19 + 4 * hi * lo + lo^2 / 2^17 for c = hi * 2^18 + lo.
  uint64_t hi = c >> 18, lo = c & ((uint64_t(1) << 18) - 1);
  uint64_t q = (hi * hi << 19) + 4 * hi * lo + (lo * lo >> 17);
  return q + 2;  // the floor of the last piece, and the final floor of s3
}

uint64_t pentium_line_bound(uint64_t terms) { return (terms >> 10) + 2; }

uint64_t fast_line_bound(uint64_t terms) {
  return terms >= (uint64_t(1) << 58) ? saturated : 14 * terms + 2;
}

uint64_t line_bound(uint64_t terms) {
  uint64_t b = generic_line_bound(terms);
  if (pentium_line_bound(terms) > b) b = pentium_line_bound(terms);
  if (fast_line_bound(terms) > b) b = fast_line_bound(terms);
  return b;
}

Wide bound_from_units128(uint64_t units) { return wide_from_units(units, 64); }
