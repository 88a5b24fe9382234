/*
 * generic.cpp: the generic kernel variant. Four lanes per pow2_mod call,
 * residues held as 64-bit integers, quotients estimated in extended
 * precision and remainders formed exactly with 32x32-bit multiplies.
 * Terms are evaluated in groups of two (terms 2j and 2j+1) so that four
 * parts share each exponent.
 */
#include "kernel.h"
#include "series.h"
#include "x87.h"

namespace generic {
namespace {

constexpr uint64_t cell_lo_bits = uint64_t(0x43300000) << 32;  // cell reads as 2^52 + low word
constexpr uint64_t cell_hi_bits = uint64_t(0x45300000) << 32;  // cell reads as 2^84 + high word * 2^32

// rho * rho modulo 2^64 from 32-bit halves.
inline uint64_t square_mod64(uint64_t rho) {
  uint32_t lo = uint32_t(rho), hi = uint32_t(rho >> 32);
  return uint64_t(lo) * lo + (uint64_t(uint32_t(2u * lo * hi)) << 32);
}

// q * m modulo 2^64 from 32-bit halves (q may be negative).
inline uint64_t mul_mod64(uint64_t q, uint64_t m) {
  uint32_t qlo = uint32_t(q), qhi = uint32_t(q >> 32);
  uint32_t mlo = uint32_t(m), mhi = uint32_t(m >> 32);
  return uint64_t(qlo) * mlo + (uint64_t(uint32_t(qlo * mhi + qhi * mlo)) << 32);
}

// rho * w modulo 2^64 for a signed 32-bit weight held sign-extended: the
// high half is all ones for a negative weight and serves as a mask.
inline uint64_t weight_mod64(uint64_t rho, int64_t weight) {
  uint32_t lo = uint32_t(rho), hi = uint32_t(rho >> 32);
  uint32_t w = uint32_t(weight), mask = uint32_t(uint64_t(weight) >> 32);
  return uint64_t(lo) * w + (uint64_t(uint32_t(hi * w)) << 32) - (uint64_t(mask & lo) << 32);
}

// The residue cells of a lane, read as one exact extended value.
inline long double residue(const GenericBatch &b, int i, long double k) {
  long double hi = x87::cell_double(b.residue_hi[i]);
  long double lo = x87::cell_double(b.residue_lo[i]);
  hi = hi - k;
  return lo + hi;
}

inline void set_residue(GenericBatch &b, int i, uint64_t rho) {
  b.residue_lo[i] = cell_lo_bits | uint32_t(rho);
  b.residue_hi[i] = cell_hi_bits | uint32_t(rho >> 32);
}

// Rows of the group table in the order stored: call 7 first. Per part its
// weight, modulus offset and modulus step; then -a and the exponent step.
constexpr int32_t group_table[7][14] = {
    {64, 1, 40, -16, 3, 40, -8, 1, 16, -1, 5, 40, -8, -40},
    {-16, 7, 40, -4, 3, 16, 4, 9, 40, -1, 11, 40, -12, -40},
    {16, 13, 40, 8, 5, 16, 1, 15, 40, 1, 17, 40, -18, -40},
    {16, 7, 16, -16, 19, 40, 4, 21, 40, -1, 23, 40, -24, -40},
    {-32, 9, 16, -4, 25, 40, -4, 27, 40, -1, 11, 16, -30, -40},
    {32, 29, 40, -8, 31, 40, 2, 33, 40, 1, 13, 16, -35, -40},
    {4, 35, 40, 4, 37, 40, 1, 15, 16, -1, 39, 40, -40, -40},
};

// The group table is the term table regrouped: each of its 28 parts is one
// part of the term table taken for term 2j or 2j+1 and rescaled to its row's
// exponent. Checked here so the two can never drift apart.
constexpr bool group_table_matches_term_table() {
  bool used[parts_per_term][2] = {};
  for (const auto &row : group_table) {
    const int32_t a = -row[12];
    for (int lane = 0; lane < 4; ++lane) {
      const int32_t weight = row[3 * lane], offset = row[3 * lane + 1], step = row[3 * lane + 2];
      int found = 0;
      for (int p = 0; p < parts_per_term; ++p) {
        const TermPart &t = term_parts[p];
        if (step != int32_t(2 * t.modulus_step)) continue;
        for (int odd = 0; odd < 2; ++odd) {
          // Term 2j + odd: modulus 2*step*j + odd*step + offset, exponent
          // 4*where - 40j - 20*odd - a, which is the row's exponent plus shift.
          const int32_t shift = a - t.a - 20 * odd;
          if (offset != int32_t(odd * t.modulus_step + t.modulus_offset)) continue;
          if (shift < 0 || shift > 20 || weight != t.weight * (int32_t(1) << shift)) continue;
          if (used[p][odd]) return false;
          used[p][odd] = true;
          ++found;
        }
      }
      if (found != 1) return false;
    }
    if (row[13] != -40) return false;
  }
  return true;
}
static_assert(group_table_matches_term_table(), "the group table must regroup the term table");

// Evaluates groups [j0, j0 + n) of the slot's position.
void evaluate_groups(WorkSlot *slot, uint64_t j0, uint32_t n) {
  GenericBatch &b = slot->k.generic;
  int64_t base = int64_t(4 * slot->where);
  slot->k.block_base = base;
  slot->k.block_first = int64_t(j0);
  slot->k.block_length = n;
  for (int row = 6; row >= 0; --row) {
    const int32_t *t = group_table[row];
    for (int i = 0; i < 4; ++i) {
      b.weight[i] = t[3 * i];
      b.modulus[i] = uint64_t(uint32_t(t[3 * i + 2])) * j0 + uint32_t(t[3 * i + 1]);
      b.modulus_step[i] = uint32_t(t[3 * i + 2]);
    }
    b.exponent = base - 40 * int64_t(j0) + t[12];
    b.exponent_step = t[13];
    b.count = n;
    pow2_mod(slot);
  }
}

// Evaluates the single term k: the two parts of each row of the term table fill
// lanes 1 and 2; lanes 3 and 4 hold modulus 1 with weight 0 and add nothing.
void evaluate_term(WorkSlot *slot, uint64_t k) {
  GenericBatch &b = slot->k.generic;
  int64_t base = int64_t(4 * slot->where) - 20 * int64_t(k);
  slot->k.block_base = base;
  slot->k.block_first = int64_t(k);
  slot->k.block_length = 1;
  for (int row = 0; row < rows_per_term; ++row) {
    for (int i = 0; i < 2; ++i) {
      const TermPart &t = term_parts[2 * row + i];
      b.modulus[i] = uint64_t(t.modulus_step) * k + t.modulus_offset;
      b.modulus_step[i] = 0;
      b.weight[i] = t.weight;
    }
    for (int i = 2; i < 4; ++i) {
      b.modulus[i] = 1;
      b.modulus_step[i] = 0;
      b.weight[i] = 0;
    }
    b.exponent = base - term_parts[2 * row].a;
    b.exponent_step = -40;
    b.count = 1;
    pow2_mod(slot);
  }
}

}  // namespace

void pow2_mod(WorkSlot *slot) {
  GenericBatch &b = slot->k.generic;
  uint64_t *sums = slot->sums;
  const long double half = 0.5f;
  const long double scale = 4294967296.0f;           // 2^32
  const long double k = 19342813118337666422669312.0; // 2^84 + 2^52
  uint64_t rho[4];
  long double r[4];

  for (int i = 0; i < 4; ++i) {
    b.residue_lo[i] = cell_lo_bits;
    b.residue_hi[i] = cell_hi_bits;
  }
  do {
    // Range check: e + 0.5 puts a marker bit right below e's last bit, and
    // the biased exponent minus 16382 is e's bit length n. Exponents below 1
    // are refused: a negative one, and 0, which the scan below would
    // evaluate as 1.
    long double marked = (long double)b.exponent + half;
    uint32_t n = x87::exponent_word(marked, b.exponent_scratch) - 16382;
    if (n - 1 > 63) {
      kernel.kernel_error.store(1, std::memory_order_relaxed);
      x87::reset_unit();
      return;
    }
    for (int i = 3; i >= 0; --i) r[i] = 1.0L / (long double)(int64_t)b.modulus[i];

    // The top six bits of e become a ready power of two 2^v.
    uint64_t bits = x87::significand(b.exponent_scratch);
    uint32_t v = 0;
    if (n >= 7) {
      v = uint32_t(bits >> 58);
      bits <<= 6;
    }
    uint64_t power = uint64_t(x87::store_int(std::bit_cast<float>(0x3F800000u + (v << 23))));
    for (int i = 0; i < 4; ++i) {
      set_residue(b, i, power);
      long double x = residue(b, i, k);
      b.quotient[i] = x87::store_int(x * r[i]);
      rho[i] = power - mul_mod64(uint64_t(b.quotient[i]), b.modulus[i]);
      set_residue(b, i, rho[i]);
    }

    // Square once per remaining bit of e, doubling after a 1 bit; the
    // marker is the last bit shifted out and is never applied.
    uint32_t bit = uint32_t(bits >> 63);
    bits <<= 1;
    do {
      for (int i = 0; i < 4; ++i) {
        long double x = residue(b, i, k);
        long double sq = x * x;
        b.quotient[i] = x87::store_int(sq * r[i]);
        rho[i] = (square_mod64(rho[i]) - mul_mod64(uint64_t(b.quotient[i]), b.modulus[i])) << bit;
        set_residue(b, i, rho[i]);
      }
      bit = uint32_t(bits >> 63);
      bits <<= 1;
    } while (bits != 0);

    // Weight: every quotient is formed before any residue changes.
    for (int i = 0; i < 4; ++i) {
      long double x = residue(b, i, k);
      long double f = x * (long double)b.weight[i];
      b.quotient[i] = x87::store_int(f * r[i]);
    }
    for (int i = 0; i < 4; ++i) {
      rho[i] = weight_mod64(rho[i], b.weight[i]) - mul_mod64(uint64_t(b.quotient[i]), b.modulus[i]);
      set_residue(b, i, rho[i]);
    }

    // Three 32-bit digits per lane into s0, s1, s2.
    for (int j = 0; j < 3; ++j) {
      for (int i = 0; i < 4; ++i) {
        long double x = residue(b, i, k);
        long double y = x * scale;
        int64_t d = x87::store_int(y * r[i]);
        b.quotient[i] = d;
        sums[j] += uint64_t(d);
        rho[i] = (rho[i] << 32) - mul_mod64(uint64_t(d), b.modulus[i]);
        set_residue(b, i, rho[i]);
      }
    }

    // The remainders below the third digit, in units of 2^-128, into s3.
    long double s3 = x87::cell_double(sums[3]);
    for (int i = 0; i < 4; ++i) {
      long double y = residue(b, i, k) * scale;
      long double rem = r[i] * y;
      s3 = s3 + rem;
    }
    sums[3] = x87::double_cell(x87::store_double(s3));

    for (int i = 0; i < 4; ++i) b.modulus[i] += b.modulus_step[i];
    b.exponent += b.exponent_step;
  } while (--b.count != 0);
}

void kernel_init() {}

void kernel_step(WorkSlot *slot) {
  kernel.on_terms_done(slot);
  if (slot->thread_number == -1) return;
  uint64_t cur = slot->cur_pos, end = slot->end_pos;
  if (cur >= end) return;  // an empty chunk has no block to evaluate
  uint64_t terms = end - cur < 16 ? end - cur : 16;
  // Groups start at even terms. An odd start is evaluated as a single term
  // first, and a single term left at the end of the chunk after the groups.
  uint64_t lead = cur & 1;
  uint64_t groups = (terms - lead) / 2;
  uint64_t trail = (terms - lead - 2 * groups == 1 && cur + terms == end) ? 1 : 0;
  slot->cur_pos = cur + lead + 2 * groups + trail;
  if (lead) evaluate_term(slot, cur);
  if (groups) evaluate_groups(slot, (cur + lead) / 2, uint32_t(groups));
  if (trail) evaluate_term(slot, cur + lead + 2 * groups);
}

void kernel_finish(WorkSlot *slot) {
  uint64_t *s = slot->sums;
  uint64_t s3 = uint64_t(x87::store_int(x87::cell_double(s[3])));
  uint64_t t = uint64_t(uint32_t(s[2])) + (s3 >> 32);
  uint32_t l2 = uint32_t(t);
  t = uint64_t(uint32_t(s[1])) + (s[2] >> 32) + (t >> 32);
  uint32_t l1 = uint32_t(t);
  t = uint64_t(uint32_t(s[0])) + (s[1] >> 32) + (t >> 32);
  uint32_t l0 = uint32_t(t);  // the carry out of s0 is the integer part: dropped
  s[0] = x87::double_cell(double(l0));
  s[1] = x87::double_cell(double(l1));
  s[2] = x87::double_cell(double(l2));
  s[3] = x87::double_cell(double(uint32_t(s3)));
}

}  // namespace generic
