/*
 * reference.cpp: the exact integer reference for shares of the series (see
 * reference.h); slow, obviously correct, and free of floating point.
 */
#include "reference.h"

#include "hex_text.h"

#include <cmath>
#include <cstdio>
#include <cstring>

// --- fixed point modulo 1 ---

bool operator==(const Fixed &a, const Fixed &b) {
  return std::memcmp(a.d, b.d, sizeof a.d) == 0;
}

Fixed fixed_add(const Fixed &a, const Fixed &b) {
  Fixed r{};
  uint64_t carry = 0;
  for (int i = 4; i >= 0; --i) {
    uint64_t s = uint64_t(a.d[i]) + b.d[i] + carry;
    r.d[i] = uint32_t(s);
    carry = s >> 32;
  }
  return r;  // the carry out of d[0] is the integer part: dropped
}

Fixed fixed_sub(const Fixed &a, const Fixed &b) {
  Fixed r{};
  uint64_t borrow = 0;
  for (int i = 4; i >= 0; --i) {
    uint64_t s = uint64_t(a.d[i]) - b.d[i] - borrow;
    r.d[i] = uint32_t(s);
    borrow = (s >> 32) ? 1 : 0;
  }
  return r;
}

Fixed fixed_add_units(const Fixed &a, int64_t n) {
  uint64_t mag = n < 0 ? uint64_t(0) - uint64_t(n) : uint64_t(n);
  Fixed m{};
  m.d[4] = uint32_t(mag);
  m.d[3] = uint32_t(mag >> 32);
  return n < 0 ? fixed_sub(a, m) : fixed_add(a, m);
}

Fixed fixed_floor128(const Fixed &a) {
  Fixed r = a;
  r.d[4] = 0;
  return r;
}

int64_t fixed_signed_diff(const Fixed &a, const Fixed &b) {
  Fixed x = fixed_sub(a, b);
  bool negative = (x.d[0] >> 31) != 0;
  if (negative) x = fixed_sub(Fixed{}, x);
  const int64_t saturated = int64_t(1) << 62;
  if (x.d[0] || x.d[1] || x.d[2] || x.d[3] >= (uint32_t(1) << 30))
    return negative ? -saturated : saturated;
  int64_t mag = int64_t((uint64_t(x.d[3]) << 32) | x.d[4]);
  return negative ? -mag : mag;
}

Fixed fixed_from_limbs(const uint32_t limbs[4]) {
  Fixed r{};
  for (int i = 0; i < 4; ++i) r.d[i] = limbs[i];
  return r;
}

// m * 2^shift in units of 2^-160, modulo 1 (bits at or above position 160
// dropped, bits below position 0 truncated). *inexact tells whether any 1
// bit was truncated below.
static Fixed place_bits(uint64_t m, int shift, bool *inexact) {
  Fixed r{};
  *inexact = false;
  for (int i = 0; i < 64; ++i) {
    if (!((m >> i) & 1)) continue;
    int pos = i + shift;  // bit position in units of 2^-160
    if (pos < 0) {
      *inexact = true;
    } else if (pos < 160) {
      r.d[4 - pos / 32] |= uint32_t(1) << (pos % 32);
    }
  }
  return r;
}

Fixed fixed_from_u64(uint64_t n, int scale) {
  bool inexact;
  return place_bits(n, scale + 160, &inexact);
}

Fixed fixed_from_double(double x, int scale) {
  if (x == 0 || !std::isfinite(x)) return Fixed{};
  bool negative = x < 0;
  int ex = 0;
  // frexp and ldexp only move the exponent, so this split is exact under any
  // rounding mode: |x| = m * 2^(ex - 53) with m an integer below 2^53.
  double f = std::frexp(negative ? -x : x, &ex);
  uint64_t m = uint64_t(int64_t(std::ldexp(f, 53)));
  bool inexact;
  Fixed mag = place_bits(m, ex - 53 + scale + 160, &inexact);
  if (!negative) return mag;
  // floor(-y) = -floor(y) - 1 when y is not a whole number of units.
  return fixed_add_units(fixed_sub(Fixed{}, mag), inexact ? -1 : 0);
}

void fixed_format128(const Fixed &a, char buf[36]) {
  std::snprintf(buf, 36, "%08lX %08lX %08lX %08lX", (unsigned long)a.d[0],
                (unsigned long)a.d[1], (unsigned long)a.d[2], (unsigned long)a.d[3]);
}

// --- integer arithmetic modulo m ---

static int leading_zeros64(uint64_t v) {
  int n = 0;
  while (!(v & (uint64_t(1) << 63))) {
    v <<= 1;
    ++n;
  }
  return n;
}

uint64_t ref_divide_128(uint64_t hi, uint64_t lo, uint64_t v, uint64_t *rem) {
  // Long division by 32-bit digits with a normalised divisor: each quotient
  // digit is estimated from the top digits and corrected at most twice.
  const uint64_t b = uint64_t(1) << 32;
  int s = leading_zeros64(v);
  v <<= s;
  uint64_t vn1 = v >> 32, vn0 = v & 0xFFFFFFFFu;
  uint64_t un32 = s ? (hi << s) | (lo >> (64 - s)) : hi;
  uint64_t un10 = lo << s;
  uint64_t un1 = un10 >> 32, un0 = un10 & 0xFFFFFFFFu;

  uint64_t q1 = un32 / vn1, rhat = un32 - q1 * vn1;
  while (q1 >= b || q1 * vn0 > b * rhat + un1) {
    --q1;
    rhat += vn1;
    if (rhat >= b) break;
  }
  uint64_t un21 = un32 * b + un1 - q1 * v;
  uint64_t q0 = un21 / vn1;
  rhat = un21 - q0 * vn1;
  while (q0 >= b || q0 * vn0 > b * rhat + un0) {
    --q0;
    rhat += vn1;
    if (rhat >= b) break;
  }
  *rem = (un21 * b + un0 - q0 * v) >> s;
  return q1 * b + q0;
}

// The full 128-bit product of a and b from four 32-bit products.
static void multiply_64(uint64_t a, uint64_t b, uint64_t *hi, uint64_t *lo) {
  uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
  uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  *lo = (mid << 32) | (p00 & 0xFFFFFFFFu);
  *hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
}

uint64_t ref_mulmod_portable(uint64_t a, uint64_t b, uint64_t m) {
  uint64_t hi, lo, r;
  multiply_64(a, b, &hi, &lo);
  ref_divide_128(hi, lo, m, &r);  // hi < m because a, b < m
  return r;
}

uint64_t ref_mulmod(uint64_t a, uint64_t b, uint64_t m) {
#if defined(__SIZEOF_INT128__)
  return uint64_t((unsigned __int128)a * b % m);
#else
  return ref_mulmod_portable(a, b, m);
#endif
}

uint64_t ref_pow2_mod(uint64_t e, uint64_t m) {
  if (m == 1) return 0;
  uint64_t r = 1;
  for (int bit = 63; bit >= 0; --bit) {
    r = ref_mulmod(r, r, m);
    if ((e >> bit) & 1) {
      r <<= 1;  // r < m <= 2^63, so no overflow
      if (r >= m) r -= m;
    }
  }
  return r;
}

// (t * 2^32) / m and its remainder, for t < m.
static uint32_t shift32_divide(uint64_t t, uint64_t m, uint64_t *rem) {
#if defined(__SIZEOF_INT128__)
  unsigned __int128 n = (unsigned __int128)t << 32;
  *rem = uint64_t(n % m);
  return uint32_t(n / m);
#else
  return uint32_t(ref_divide_128(t >> 32, t << 32, m, rem));
#endif
}

// --- the series ---

SeriesPart ref_term_part(uint64_t where, uint64_t k, int p) {
  const TermPart &t = term_parts[p];
  SeriesPart part;
  part.modulus = uint64_t(t.modulus_step) * k + t.modulus_offset;
  part.weight = t.weight;
  part.exponent = int64_t(4 * where) - int64_t(20 * k) - t.a;
  return part;
}

Fixed ref_fraction(uint64_t modulus, int32_t weight, int64_t exponent) {
  if (weight == 0 || (modulus == 1 && exponent >= 0)) return Fixed{};
  // Weights are small (|w| < 2^8), which the long division below relies on.
  uint64_t mag = weight < 0 ? uint64_t(-int64_t(weight)) : uint64_t(weight);
  if (exponent >= 0) {
    uint64_t t = ref_mulmod(mag % modulus, ref_pow2_mod(uint64_t(exponent), modulus), modulus);
    if (weight < 0 && t != 0) t = modulus - t;
    Fixed f{};
    for (int i = 0; i < 5; ++i) f.d[i] = shift32_divide(t, modulus, &t);
    return f;
  }
  // A negative exponent: |w| * 2^(160 - s) / m by binary long division, then
  // a right shift for the bits below 2^-160 when s > 160.
  uint64_t s = uint64_t(-exponent);
  uint64_t zeros = s < 160 ? 160 - s : 0;
  uint64_t right = s > 160 ? s - 160 : 0;
  uint32_t q[7] = {};  // little-endian 224-bit quotient
  uint64_t r = 0;
  auto step = [&](unsigned bit) {
    r = 2 * r + bit;
    unsigned qbit = 0;
    if (r >= modulus) {
      r -= modulus;
      qbit = 1;
    }
    for (int i = 6; i > 0; --i) q[i] = (q[i] << 1) | (q[i - 1] >> 31);
    q[0] = (q[0] << 1) | qbit;
  };
  for (int bit = 7; bit >= 0; --bit) step(unsigned(mag >> bit) & 1);
  for (uint64_t i = 0; i < zeros; ++i) step(0);
  bool inexact = r != 0;
  for (uint64_t i = 0; i < right && i < 224; ++i) {
    inexact = inexact || (q[0] & 1);
    for (int j = 0; j < 6; ++j) q[j] = (q[j] >> 1) | (q[j + 1] << 31);
    q[6] >>= 1;
  }
  if (right >= 224) inexact = true;  // every quotient bit shifted out (q is 0)
  Fixed f{};
  for (int i = 0; i < 5; ++i) f.d[4 - i] = q[i];
  if (weight > 0) return f;
  return fixed_add_units(fixed_sub(Fixed{}, f), inexact ? -1 : 0);
}

static void add_part(RefShare *share, const SeriesPart &p) {
  Fixed f = ref_fraction(p.modulus, p.weight, p.exponent);
  share->sum160 = fixed_add(share->sum160, f);
  share->sum128 = fixed_add(share->sum128, fixed_floor128(f));
  share->parts += 1;
}

RefShare ref_share(uint64_t where, uint64_t srt, uint64_t end) {
  RefShare share{};
  for (uint64_t k = srt; k < end; ++k)
    for (int p = 0; p < parts_per_term; ++p) add_part(&share, ref_term_part(where, k, p));
  return share;
}

RefShare ref_tail(uint64_t where, uint64_t from) {
  RefShare share{};
  // The largest exponent of term k is 4*where - 20k - 4; once it is below
  // -170 every part is below 2^-167 and the rest of the series, falling by
  // 2^-20 per term, sums to less than 2^-160.
  for (uint64_t k = from; int64_t(4 * where) - int64_t(20 * k) - 4 >= -170; ++k)
    for (int p = 0; p < parts_per_term; ++p) add_part(&share, ref_term_part(where, k, p));
  // The neglected rest lies in (-2^-160, 2^-160): widen the interval by one
  // unit on each side.
  share.sum160 = fixed_add_units(share.sum160, -1);
  share.sum128 = fixed_sub(share.sum128, Fixed{{0, 0, 0, 1, 0}});
  share.parts += 2;
  return share;
}

uint64_t ref_head_end(uint64_t where) {
  // Smallest k with 4*where - 20k - 20 < 1, i.e. 20k + 21 > 4*where; the
  // predicate is monotone in k.
  uint64_t lo = 0, hi = where / 5 + 2;
  while (lo < hi) {
    uint64_t mid = lo + (hi - lo) / 2;
    if (20 * mid + 21 > 4 * where)
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

const char pi_hex_digits[] =
    "243F6A8885A308D313198A2E03707344A4093822299F31D0082EFA98EC4E6C89"
    "452821E638D01377BE5466CF34E90C6CC0AC29B7C97C50DD3F84D5B5B5470917"
    "9216D5D98979FB1BD1310BA698DFB5AC2FFD72DBD01ADFB7B8E1AFED6A267E96"
    "BA7C9045F12C7F9924A19947B3916CF70801F2E2858EFC16636920D871574E69"
    "A458FEA3F4933D7E0D95748F728EB658718BCD5882154AEE7B54A41DC25A59B5";

Fixed pi_digits_at(int where) {
  Fixed f{};
  for (int i = 0; i < 40; ++i) {
    char c = pi_hex_digits[where - 1 + i];
    uint32_t v = uint32_t(hex_value(c));
    f.d[i / 8] = (f.d[i / 8] << 4) | v;
  }
  return f;
}
