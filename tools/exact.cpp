/*
 * exact.cpp: parts of the series as integer long division, with no floating
 * point at all, so the results do not depend on any rounding mode.
 */
#include "exact.h"

uint64_t mulmod(uint64_t a, uint64_t b, uint64_t m) {
  // Four bits of b at a time: r * 16 and a * 15 both stay below 2^64
  // because a, r < m < 2^60.
  uint64_t r = 0;
  for (int s = 60; s >= 0; s -= 4) {
    r = (r << 4) % m;
    r = (r + a * ((b >> s) & 15) % m) % m;
  }
  return r;
}

uint64_t pow2mod(uint64_t e, uint64_t m) {
  if (m == 1) return 0;
  uint64_t result = 1, base = 2 % m;
  for (; e; e >>= 1) {
    if (e & 1) result = mulmod(result, base, m);
    base = mulmod(base, base, m);
  }
  return result;
}

int64_t part_exponent(uint64_t where, uint64_t k, int p) {
  return int64_t(4 * where) - 20 * int64_t(k) - term_parts[p].a;
}

Wide part_floor(uint64_t where, uint64_t k, int p) {
  const TermPart &t = term_parts[p];
  const uint64_t m = uint64_t(t.modulus_step) * k + t.modulus_offset;
  const uint64_t w = uint64_t(t.weight < 0 ? -t.weight : t.weight);
  const int64_t e = part_exponent(where, k, p);
  Wide x;
  if (e >= 0) {
    // The fraction of |w| * 2^e / m is (|w| * 2^e mod m) / m.
    uint64_t r = mulmod(w % m, pow2mod(uint64_t(e), m), m);
    x = wide_ratio(r, m, wide_bits);
  } else if (-e <= wide_bits) {
    x = wide_ratio(w, m, int(wide_bits + e));
  } else {
    x = Wide{};  // below 2^-192 in magnitude
  }
  if (t.weight > 0) return x;
  // -|v| lies in [-x - 1 unit, -x]: the lower end is the bound.
  Wide one{};
  one.d[wide_digits - 1] = 1;
  return wide_sub(wide_sub(Wide{}, x), one);
}

ShareBound exact_share(uint64_t where, uint64_t srt, uint64_t end) {
  ShareBound s{};
  uint64_t parts = 0;
  for (uint64_t k = srt; k < end; ++k)
    for (int p = 0; p < parts_per_term; ++p, ++parts) s.value = wide_add(s.value, part_floor(where, k, p));
  s.above = wide_from_units(parts, 0);
  return s;
}

ShareBound tail_share(uint64_t where, uint64_t from, uint64_t *terms_summed) {
  ShareBound s{};
  uint64_t k = from, parts = 0;
  // The largest exponent of term k is that of its first row (a = 4).
  while (part_exponent(where, k, 0) > -197) {
    for (int p = 0; p < parts_per_term; ++p, ++parts) s.value = wide_add(s.value, part_floor(where, k, p));
    ++k;
  }
  if (terms_summed) *terms_summed = k - from;
  s.below = wide_from_units(1, 0);
  s.above = wide_from_units(parts + 1, 0);
  return s;
}
