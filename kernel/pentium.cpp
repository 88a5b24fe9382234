/*
 * pentium.cpp: the all-floating-point kernel variant. Two lanes per pow2_mod
 * call; every remainder is formed exactly from partial products of halves
 * with at most 32 significant bits, and every rounding to a grid is an
 * addition and subtraction of a power-of-two constant from tables A and B.
 * Exponent bits are applied as deferred shifts, brought back to an integer
 * at the boundaries of six-bit groups.
 */
#include "kernel.h"
#include "series.h"
#include "x87.h"

PentiumTables pentium_tables;

namespace pentium {
namespace {

struct Lane {
  long double r;   // rd(1/M)
  long double mh;  // M with its low 32 bits cleared
  long double ml;  // M's low 32 bits
};

// The partial products of one squaring at pending shift s, x being the
// residue scaled by 2^-s: the quotient comes from the reciprocal and is
// rounded down to the grid 2^-2s, then x and the quotient are split into
// halves of at most 32 significant bits so that every product is exact.
struct Products {
  long double middle;
  long double low;
  long double xh, qh;
};

inline Products products(long double x, int s, const Lane &l) {
  const PentiumTables &t = pentium_tables;
  Products p;
  long double sq = x * x;
  long double q = x87::grid(sq * l.r, t.a[32 + 2 * s]);
  p.xh = x87::grid(x, t.a[s]);
  long double xl = x - p.xh;
  p.qh = x87::grid(q, t.a[2 * s]);
  long double ql = q - p.qh;
  long double cross = p.xh * xl;
  p.middle = (cross + cross) - p.qh * l.ml;
  p.middle = p.middle - ql * l.mh;
  p.low = xl * xl - l.ml * ql;
  return p;
}

// One squaring at pending shift s: the exact remainder of the square,
// scaled by 2^-2s and kept in [0, 2^(64-2s)). The top partial products are
// a multiple of 2^(64-2s) and are never formed; the reduction removes what
// lies above.
inline long double square(long double x, int s, const Lane &l) {
  Products p = products(x, s, l);
  long double whole = p.low + p.middle;
  long double top = x87::grid(whole, pentium_tables.b[2 * s]);
  return (p.middle - top) + p.low;
}

// The same squaring with the top partial products formed instead of the
// reduction, as the last squaring of lane B does.
inline long double square_full(long double x, int s, const Lane &l) {
  Products p = products(x, s, l);
  long double top = p.xh * p.xh - p.qh * l.mh;
  return p.low + (p.middle + top);
}

struct Digits {
  long double d0, d1, d2, r;
};

// Weight, three digits (scaled by 2^-32, 2^-64, 2^-96) and the remainder
// below them (scaled by 2^-128) of one lane's residue rho.
inline Digits digits(long double rho, float w, const Lane &l) {
  const PentiumTables &t = pentium_tables;
  Digits d;
  long double f = rho * (long double)w;
  long double k = x87::grid(l.r * f, t.d[2]);
  long double f1 = (f - l.mh * k) - k * l.ml;
  d.d0 = x87::grid(f1 * l.r, t.a[64]);
  long double f2 = (f1 - l.mh * d.d0) - d.d0 * l.ml;
  d.d1 = x87::grid(l.r * f2, t.a[96]);
  long double f3 = (f2 - l.mh * d.d1) - d.d1 * l.ml;
  d.d2 = x87::grid(l.r * f3, t.a[128]);
  long double f4 = (f3 - l.mh * d.d2) - d.d2 * l.ml;
  d.r = l.r * f4;
  return d;
}

inline long double load(const uint64_t &cell) { return x87::cell_double(cell); }
inline void store(uint64_t &cell, long double x) { cell = x87::double_cell(x87::store_double(x)); }

}  // namespace

void pow2_mod(WorkSlot *slot) {
  PentiumBatch &b = slot->k.pentium;
  const PentiumTables &t = pentium_tables;
  uint64_t *sums = slot->sums;

  b.high_a = b.modulus_a & ~uint64_t(0xFFFFFFFF);
  b.high_b = b.modulus_b & ~uint64_t(0xFFFFFFFF);
  do {
    Lane la, lb;
    long double ma = (long double)(int64_t)b.modulus_a;
    long double mb = (long double)(int64_t)b.modulus_b;
    long double e = (long double)b.exponent;
    la.mh = (long double)(int64_t)b.high_a;
    lb.mh = (long double)(int64_t)b.high_b;
    b.mod_parts[1] = x87::store_double(la.mh);
    b.mod_parts[3] = x87::store_double(lb.mh);
    b.mod_parts[0] = x87::store_double(ma - la.mh);
    b.mod_parts[2] = x87::store_double(mb - lb.mh);
    la.ml = b.mod_parts[0];
    lb.ml = b.mod_parts[2];
    lb.r = (long double)t.a[95] / mb;

    // Range check: the biased exponent of e minus 16382 is its bit length;
    // e = 0 and negative e fall outside 1..64.
    uint32_t n = x87::exponent_word(e, b.exponent_scratch) - 16382;
    if (n > 64) {
      kernel.kernel_error.store(1, std::memory_order_relaxed);
      return;
    }

    // Split e: the top six bits (when e has 7 or more) become 2^v; the rest
    // is cut into groups of six from the top, the last keeping 1 to 6 bits.
    // Bits 1 and 0 of the significand are never read (e stays below 2^62).
    uint64_t bits = x87::significand(b.exponent_scratch) & ~uint64_t(3);
    uint32_t v = 0, scanned = n;
    if (n >= 7) {
      v = uint32_t(bits >> 58);
      bits <<= 6;
      scanned = n - 6;
    }
    uint32_t p_bits = 0x3F800000u + (v << 23);
    b.scale[0] = std::bit_cast<float>(p_bits);
    b.scale[1] = std::bit_cast<float>((p_bits ^ 0x7F800000u) - 0x800000u);
    int groups = 0;
    while (scanned > 0) {
      uint32_t g = scanned > 6 ? 6 : scanned;
      uint32_t chunk = uint32_t(bits >> (64 - g));
      bits <<= g;
      scanned -= g;
      b.group_word[groups] = uint32_t(uint64_t(chunk >> 1) << (33 - g)) | (uint32_t(1) << (32 - g));
      b.group_last[groups] = chunk & 1;
      ++groups;
    }

    // Start: rho = 2^v - q*M. Lane A's division serves as its first
    // quotient and, scaled by 2^-v, as its reciprocal.
    long double p = b.scale[0];
    long double ta = p / ma;
    la.r = ta * (long double)b.scale[1];
    long double qa = x87::grid(ta, t.a[32]);
    long double xa = p - ma * qa;
    long double qb = x87::grid(p * lb.r, t.a[32]);
    long double xb = p - qb * mb;

    // Scan with a pending shift s: the residue is x * 2^s.
    int s = 0;
    long double rho_a = 0, rho_b = 0;
    for (int gi = 0; gi < groups; ++gi) {
      uint32_t word = b.group_word[gi];
      while (word != 0x80000000u) {
        int bit = int(word >> 31);
        word <<= 1;
        xa = square(xa, s, la);
        xb = square(xb, s, lb);
        s = 2 * s + bit;
      }
      int last = int(b.group_last[gi]);
      if (gi + 1 < groups) {
        xa = square(xa, s, la);
        xa = xa * (long double)t.s[2 * s];
        xb = xb * (long double)t.s[s];
        xb = square(xb, 0, lb);
        s = last;
      } else {
        xa = square(xa, s, la);
        xb = square_full(xb, s, lb);
        rho_a = xa * (long double)t.s[2 * s + last];
        rho_b = xb * (long double)t.s[2 * s + last];
      }
    }
    std::memcpy(b.residue_a, &rho_a, 10);

    Digits da = digits(rho_a, b.weight_a, la);
    Digits db = digits(rho_b, b.weight_b, lb);
    store(sums[0], (load(sums[0]) + da.d0) + db.d0);
    store(sums[1], (load(sums[1]) + da.d1) + db.d1);
    store(sums[2], (load(sums[2]) + da.d2) + db.d2);
    store(sums[3], db.r + (da.r + load(sums[3])));

    b.modulus_a += b.modulus_step_a;
    b.modulus_b += b.modulus_step_b;
    b.exponent -= b.exponent_step;
    b.high_a = b.modulus_a & ~uint64_t(0xFFFFFFFF);
    b.high_b = b.modulus_b & ~uint64_t(0xFFFFFFFF);
  } while (--b.count != 0);

  // Carry step: each cell back into its range, the integer part dropped.
  long double s3 = load(sums[3]);
  long double c3 = x87::grid(s3, t.a[128]);
  long double s2 = load(sums[2]) + c3;
  store(sums[3], s3 - c3);
  long double c2 = x87::grid(s2, t.a[96]);
  long double s1 = load(sums[1]) + c2;
  store(sums[2], s2 - c2);
  long double c1 = x87::grid(s1, t.a[64]);
  long double s0 = load(sums[0]) + c1;
  store(sums[1], s1 - c1);
  long double c0 = x87::grid(s0, t.a[32]);
  store(sums[0], s0 - c0);
}

void kernel_init() {
  PentiumTables &t = pentium_tables;
  uint32_t bits = 0x3F800000u + (95u << 23);  // 2^95, one binade down per entry
  for (int j = 0; j < 164; ++j, bits -= 0x800000u) t.a[j] = std::bit_cast<float>(bits);
  bits = 0x3FC00000u;  // 1.5, one binade up per entry, stored from the last entry backwards
  for (int j = 127; j >= 0; --j, bits += 0x800000u) t.b[j] = std::bit_cast<float>(bits);
  bits = 0x3F800000u;  // 1.0, one binade up per entry
  for (int j = 0; j < 128; ++j, bits += 0x800000u) t.s[j] = std::bit_cast<float>(bits);
  long double two32 = t.s[32];
  long double two64 = two32 * two32;
  t.d[0] = x87::store_double(two32);
  t.d[1] = x87::store_double(two64);
  t.d[2] = x87::store_double(0.75L * two64);
  t.d[3] = x87::store_double(two64 * two32);
  t.d[4] = x87::store_double(two64 * two64);
}

void kernel_step(WorkSlot *slot) {
  kernel.on_terms_done(slot);
  if (slot->thread_number == -1) return;
  uint64_t cur = slot->cur_pos, end = slot->end_pos;
  if (cur >= end) return;  // an empty chunk has no block to evaluate
  uint32_t count = uint32_t(end - cur < 16 ? end - cur : 16);
  int64_t base = int64_t(4 * slot->where) - 20 * int64_t(cur);
  slot->k.block_base = base;
  slot->k.block_first = int64_t(cur);
  slot->k.block_length = count;
  slot->cur_pos = cur + count;
  PentiumBatch &b = slot->k.pentium;
  for (int row = 0; row < rows_per_term; ++row) {
    const TermPart &pa = term_parts[2 * row], &pb = term_parts[2 * row + 1];
    b.modulus_a = uint64_t(pa.modulus_step) * cur + pa.modulus_offset;
    b.modulus_step_a = pa.modulus_step;
    b.weight_a = float(pa.weight);
    b.modulus_b = uint64_t(pb.modulus_step) * cur + pb.modulus_offset;
    b.modulus_step_b = pb.modulus_step;
    b.weight_b = float(pb.weight);
    b.exponent = base - pa.a;
    b.exponent_step = 20;
    b.count = count;
    pow2_mod(slot);
  }
}

void kernel_finish(WorkSlot *slot) {
  const PentiumTables &t = pentium_tables;
  uint64_t *s = slot->sums;
  store(s[0], load(s[0]) * (long double)t.d[0]);
  store(s[1], load(s[1]) * (long double)t.d[1]);
  store(s[2], load(s[2]) * (long double)t.d[3]);
  store(s[3], load(s[3]) * (long double)t.d[4]);
}

}  // namespace pentium
