/*
 * fast_ifma.h: the IFMA tier's algorithm, written once over a vector type V
 * of eight 64-bit lanes. fast_ifma.cpp instantiates it with the AVX-512 IFMA
 * instructions; the tests instantiate it with a portable model of those
 * instructions, so the algorithm runs even where the processor lacks them.
 *
 * The includer defines QUARN_IFMA_FN (the function attributes, e.g. the
 * instruction-set target) and supplies V with these static members:
 *   types I (eight unsigned 64-bit lanes) and D (eight doubles);
 *   I set1(int64_t), load(const int64_t *), add, sub, xori, andi, min_unsigned,
 *     shift_right(I, int), shift_left(I, int), shift_left_each(I, I),
 *     madd52lo(acc, a, b), madd52hi(acc, a, b) (acc plus the low or high 52
 *     bits of the 104-bit product of the low 52 bits of a and b);
 *   D set1d(double), loadd(const double *), addd, subd, muld, fmadd(a, b, c),
 *     fnmadd(a, b, c) (c - a b), xord, div;
 *   D ones_where_negative(D v): 1.0 in lanes where v < 0, else 0.0;
 *   D as_double(I), I as_int(D): the same bits;
 *   void store(int64_t *, I), stored(double *, D).
 *
 * Montgomery arithmetic with R = 2^52: for x < 4m and m < 2^48,
 *   q = lo52(lo52(x^2) * m^-1),  t = m + hi52(x^2) - hi52(q m)
 * is x^2 / 2^52 mod m in (0, 2m), since q m and x^2 agree in their low 52
 * bits and hi52(x^2) < 16 m^2 / 2^52 < m. Doubling it keeps it below 4m, so
 * the squaring loop needs no correction at all.
 *
 * Moduli from 2^48 to 2^60 take the wide path: x = x1 2^52 + x0 in two
 * limbs, Montgomery with R = 2^104 in two 52-bit rounds (see square_wide).
 */
#pragma once

#include <cstdint>

#include "fast_mont.h"
#include "fast_tiers.h"

#ifndef QUARN_IFMA_FN
#error "define QUARN_IFMA_FN before including fast_ifma.h"
#endif

namespace fast {

template <class V>
struct IfmaCore {
  using I = typename V::I;
  using D = typename V::D;

  // Eight lanes of one run: consecutive terms of one part.
  struct alignas(64) Job {
    int64_t modulus[8];
    int64_t inverse[8];     // m^-1 mod 2^52
    double modulus_d[8];
    double reciprocal[8];   // nearest double to 1 / m
    int64_t exponent[8];
    double sign[8];         // -0.0 where the weight is positive (see below)
  };

  static constexpr int max_jobs = 14 * 2;
#if defined(__x86_64__)
  static constexpr int chains = 4;
#else
  static constexpr int chains = 2;  // eight vector registers
#endif

  static constexpr double round_bias = 6755399441055744.0;  // 1.5 * 2^52
  static constexpr double two_52 = 4503599627370496.0;      // 2^52
  static constexpr double digit_scale = 1099511627776.0;    // 2^40

  // y - m * round(y / m), exact, for quotients far below 2^50.
  QUARN_IFMA_FN static D reduce(D y, D m, D recip) {
    D bias = V::set1d(round_bias);
    D q = V::subd(V::fmadd(y, recip, bias), bias);
    return V::fnmadd(q, m, y);
  }

  // 2^v for small non-negative v, built in the exponent field.
  QUARN_IFMA_FN static D power_of_two(I v) {
    return V::as_double(V::shift_left(V::add(v, V::set1(1023)), 52));
  }

  // v at least 1.
  static int bit_length(uint64_t v) { return 64 - __builtin_clzll(v); }

  QUARN_IFMA_FN static void square_jobs(const Job *jobs, D acc[4]) {
    uint64_t top = 0;
    for (int g = 0; g < chains; ++g)
      for (int i = 0; i < 8; ++i) top |= uint64_t(jobs[g].exponent[i]);
    int length = bit_length(top);
    int scan = length > 6 ? length - 6 : 0;
    const I zero = V::set1(0);

    I x[chains], bits[chains];
    for (int g = 0; g < chains; ++g) {
      D m = V::loadd(jobs[g].modulus_d), r = V::loadd(jobs[g].reciprocal);
      I e = V::load(jobs[g].exponent);
      // The start, 2^t in Montgomery form, is 2^(t + 52) mod m: formed in
      // exact double reductions, 2^a with a <= 40, then times 2^(t - a),
      // 2^26 and 2^26, each quotient far below 2^50.
      I t = V::shift_right(e, scan);
      I a = V::min_unsigned(t, V::set1(40));
      D s = reduce(power_of_two(a), m, r);
      s = reduce(V::muld(s, power_of_two(V::sub(t, a))), m, r);
      D two_26 = V::set1d(67108864.0);
      s = reduce(V::muld(s, two_26), m, r);
      s = reduce(V::muld(s, two_26), m, r);
      s = V::addd(s, V::muld(V::ones_where_negative(s), m));  // [0, m)
      // An integer below 2^52 plus 2^52 has its value in the low bits.
      D big = V::set1d(two_52);
      x[g] = V::sub(V::as_int(V::addd(s, big)), V::as_int(big));
      bits[g] = scan ? V::shift_left(e, 64 - scan) : zero;
    }
    for (int s = 0; s < scan; ++s) {
      for (int g = 0; g < chains; ++g) {
        I m = V::load(jobs[g].modulus), inv = V::load(jobs[g].inverse);
        I lo = V::madd52lo(zero, x[g], x[g]);
        I u = V::madd52hi(m, x[g], x[g]);
        I q = V::madd52lo(zero, lo, inv);
        I t = V::sub(u, V::madd52hi(zero, q, m));
        x[g] = V::shift_left_each(t, V::shift_right(bits[g], 63));
        bits[g] = V::add(bits[g], bits[g]);
      }
    }

    const D scale = V::set1d(digit_scale), bias = V::set1d(round_bias);
    for (int g = 0; g < chains; ++g) {
      I m = V::load(jobs[g].modulus), inv = V::load(jobs[g].inverse);
      // Leaving Montgomery form: x - q m is -hi52(q m) * 2^52, so the residue
      // is -hi52(q m) mod m. Its digits are taken signed, as they stand:
      // negated for a positive weight, as they are for a negative one.
      I hq = V::madd52hi(zero, V::madd52lo(zero, x[g], inv), m);
      D big = V::set1d(two_52);
      D v = V::subd(V::as_double(V::add(hq, V::as_int(big))), big);
      v = V::xord(v, V::loadd(jobs[g].sign));
      D md = V::loadd(jobs[g].modulus_d), r = V::loadd(jobs[g].reciprocal);
      // Four 40-bit digits with signed remainders below m / 2, as in the
      // AVX2 tier: one less on the last digit when the last remainder is
      // negative makes their sum the 160-bit floor.
      for (int j = 0; j < 4; ++j) {
        D y = V::muld(v, scale);
        D d = V::subd(V::fmadd(y, r, bias), bias);
        v = V::fnmadd(d, md, y);
        acc[j] = V::addd(acc[j], d);
      }
      acc[3] = V::subd(acc[3], V::ones_where_negative(v));
    }
  }

  // The runs in `runs` (bit p for run p) in one limb.
  QUARN_IFMA_FN static void evaluate_jobs(FastBatch *batch, uint32_t runs = all_runs) {
    alignas(64) Job jobs[max_jobs + chains];
    const uint32_t count = batch->count;
    const int vectors = int((count + 7) / 8);
    int n = 0;
    for (int p = 0; p < 14; ++p) {
      if (!((runs >> p) & 1)) continue;
      const FastRun &run = batch->run[p];
      for (int v = 0; v < vectors; ++v, ++n) {
        Job &job = jobs[n];
        for (int i = 0; i < 8; ++i) {
          uint32_t lane = uint32_t(8 * v + i);
          bool real = lane < count;
          uint64_t m = real ? run.modulus + uint64_t(run.modulus_step) * lane : 1;
          job.modulus[i] = int64_t(m);
          job.modulus_d[i] = double(int64_t(m));  // exact: m < 2^48
          job.exponent[i] = real ? run.exponent - int64_t(run.exponent_step) * lane : 1;
          job.sign[i] = run.negative ? 0.0 : -0.0;
        }
      }
    }
    for (; n % chains != 0; ++n) {
      Job &job = jobs[n];
      for (int i = 0; i < 8; ++i) {
        job.modulus[i] = 1;
        job.modulus_d[i] = 1.0;
        job.exponent[i] = 1;
        job.sign[i] = 0.0;
      }
    }
    // In a pass of their own, so that the vector loads do not wait on the
    // lane stores: reciprocals, and inverses modulo 2^52 by Newton's
    // iteration from (3m) xor 2, right to 5 bits and doubling each step.
    // The products only read the low 52 bits of their factors, so 2 - p
    // needs no masking.
    const I zero = V::set1(0), two = V::set1(2);
    for (int j = 0; j < n; ++j) {
      V::stored(jobs[j].reciprocal, V::div(V::set1d(1.0), V::loadd(jobs[j].modulus_d)));
      I m = V::load(jobs[j].modulus);
      I inv = V::xori(V::add(V::add(m, m), m), two);
      for (int k = 0; k < 4; ++k) inv = V::madd52lo(zero, inv, V::sub(two, V::madd52lo(zero, m, inv)));
      V::store(jobs[j].inverse, inv);
    }

    D acc[4];
    for (int j = 0; j < 4; ++j) acc[j] = V::set1d(0.0);
    for (int g = 0; g < n; g += chains) square_jobs(jobs + g, acc);
    // Each lane of a column holds at most 28 digits below 2^40 in magnitude.
    for (int j = 0; j < 4; ++j) {
      alignas(64) double lanes[8];
      V::stored(lanes, acc[j]);
      int64_t sum = 0;
      for (int i = 0; i < 8; ++i) sum += int64_t(lanes[i]);
      batch->digits[j] = sum;
    }
  }
  // The wide path. Two limbs of 52 bits, x = x1 2^52 + x0 < 4m with
  // m = m1 2^52 + m0 < 2^60 (so x1 < 2^10, m1 < 2^8), and R = 2^104:
  //   x^2 = c0 + c1 2^52 + c2 2^104, with c0 = lo(x0^2),
  //   c1 = hi(x0^2) + lo(x0 2x1) and c2 = hi(x0 2x1) + x1^2;
  // two rounds, each adding q m with q = lo52(c_i (-m^-1)) so that column i
  // becomes a multiple of 2^52 whose carry moves up, leave
  // t = (x^2 + Q m) / 2^104 = c2 + c3 2^52 < 16 m^2 / 2^104 + m < 2m.
  // Doubled, t stays below 4m: no comparison in the loop.
  struct alignas(64) WideJob {
    int64_t modulus_low[8];   // m0
    int64_t modulus_high[8];  // m1
    int64_t inverse[8];       // -m^-1 mod 2^52
    int64_t x_low[8];         // the Montgomery value: the start, then the result
    int64_t x_high[8];
    int64_t bits[8];          // the exponent's bits after its top one, from the top
  };

  static constexpr int64_t low52 = (int64_t(1) << 52) - 1;

  // t = x^2 / 2^104 mod m, lazily: below 2m, as the two limbs (c2, c3) of
  // c2 + c3 2^52 with c2 below 2^54.
  QUARN_IFMA_FN static void montgomery_wide(I x0, I x1, I m0, I m1, I inv, I *c2_out, I *c3_out) {
    const I zero = V::set1(0);
    I x1d = V::add(x1, x1);
    I c0 = V::madd52lo(zero, x0, x0);
    I c1 = V::madd52lo(V::madd52hi(zero, x0, x0), x0, x1d);
    I c2 = V::madd52lo(V::madd52hi(zero, x0, x1d), x1, x1);
    I q = V::madd52lo(zero, c0, inv);
    c0 = V::madd52lo(c0, q, m0);
    c1 = V::add(V::madd52lo(V::madd52hi(c1, q, m0), q, m1), V::shift_right(c0, 52));
    c2 = V::madd52hi(c2, q, m1);
    q = V::madd52lo(zero, c1, inv);
    c1 = V::madd52lo(c1, q, m0);
    *c2_out = V::add(V::madd52lo(V::madd52hi(c2, q, m0), q, m1), V::shift_right(c1, 52));
    *c3_out = V::madd52hi(zero, q, m1);
  }

  QUARN_IFMA_FN static void square_wide(WideJob *jobs, int scan) {
    const I mask = V::set1(low52);
    I x0[chains], x1[chains], bits[chains];
    for (int g = 0; g < chains; ++g) {
      x0[g] = V::load(jobs[g].x_low);
      x1[g] = V::load(jobs[g].x_high);
      bits[g] = V::load(jobs[g].bits);
    }
    for (int s = 0; s < scan; ++s) {
      for (int g = 0; g < chains; ++g) {
        I c2, c3;
        montgomery_wide(x0[g], x1[g], V::load(jobs[g].modulus_low), V::load(jobs[g].modulus_high),
                        V::load(jobs[g].inverse), &c2, &c3);
        // Doubled where the bit is 1, and the low limb cut back to 52 bits.
        I bit = V::shift_right(bits[g], 63);
        I low = V::shift_left_each(c2, bit);
        x0[g] = V::andi(low, mask);
        x1[g] = V::add(V::shift_left_each(c3, bit), V::shift_right(low, 52));
        bits[g] = V::add(bits[g], bits[g]);
      }
    }
    // Leaving Montgomery form: the same reduction of x itself, x / 2^104 mod
    // m, below 2m.
    const I zero = V::set1(0);
    for (int g = 0; g < chains; ++g) {
      I c2, c3;
      I m0 = V::load(jobs[g].modulus_low), m1 = V::load(jobs[g].modulus_high);
      I inv = V::load(jobs[g].inverse);
      I q = V::madd52lo(zero, x0[g], inv);
      I c0 = V::madd52lo(x0[g], q, m0);
      I c1 = V::add(V::madd52lo(V::madd52hi(x1[g], q, m0), q, m1), V::shift_right(c0, 52));
      c2 = V::madd52hi(zero, q, m1);
      q = V::madd52lo(zero, c1, inv);
      c1 = V::madd52lo(c1, q, m0);
      c2 = V::add(V::madd52lo(V::madd52hi(c2, q, m0), q, m1), V::shift_right(c1, 52));
      c3 = V::madd52hi(zero, q, m1);
      V::store(jobs[g].x_low, c2);
      V::store(jobs[g].x_high, c3);
    }
  }

  // 2^104 mod m, the Montgomery one: 2^64 mod m times 2^40.
  static uint64_t montgomery_one(uint64_t m) { return times_2_40_mod((0 - m) % m, m); }

  // The runs in `runs` in two limbs.
  QUARN_IFMA_FN static void evaluate_wide(FastBatch *batch, uint32_t runs) {
    constexpr int max_wide = max_jobs + chains;
    alignas(64) WideJob jobs[max_wide];
    uint64_t modulus[max_wide][8];
    int64_t exponent[max_wide][8];
    bool negative[max_wide];
    const uint32_t count = batch->count;
    const int vectors = int((count + 7) / 8);
    int n = 0;
    for (int p = 0; p < 14; ++p) {
      if (!((runs >> p) & 1)) continue;
      const FastRun &run = batch->run[p];
      for (int v = 0; v < vectors; ++v, ++n) {
        for (int i = 0; i < 8; ++i) {
          uint32_t lane = uint32_t(8 * v + i);
          bool real = lane < count;
          modulus[n][i] = real ? run.modulus + uint64_t(run.modulus_step) * lane : 1;
          exponent[n][i] = real ? run.exponent - int64_t(run.exponent_step) * lane : 1;
        }
        negative[n] = run.negative != 0;
      }
    }
    for (; n % chains != 0; ++n) {
      for (int i = 0; i < 8; ++i) {
        modulus[n][i] = 1;
        exponent[n][i] = 1;
      }
      negative[n] = false;
    }

    int64_t digits[4] = {0, 0, 0, 0};
    for (int g = 0; g < n; g += chains) {
      // The group's lanes scan the same number of bits; the top one is
      // applied to the start, the Montgomery one or its double.
      uint64_t top = 0;
      for (int k = g; k < g + chains; ++k)
        for (int i = 0; i < 8; ++i) top |= uint64_t(exponent[k][i]);
      int length = bit_length(top);
      for (int k = g; k < g + chains; ++k) {
        WideJob &job = jobs[k];
        for (int i = 0; i < 8; ++i) {
          uint64_t m = modulus[k][i], e = uint64_t(exponent[k][i]);
          uint64_t x = montgomery_one(m) << ((e >> (length - 1)) & 1);
          job.modulus_low[i] = int64_t(m & low52);
          job.modulus_high[i] = int64_t(m >> 52);
          job.inverse[i] = int64_t((0 - inverse64(m)) & low52);
          job.x_low[i] = int64_t(x & low52);
          job.x_high[i] = int64_t(x >> 52);
          job.bits[i] = length > 1 ? int64_t(e << (65 - length)) : 0;
        }
      }
      square_wide(jobs + g, length - 1);
      for (int k = g; k < g + chains; ++k) {
        for (int half = 0; half < 8; half += 4) {
          uint64_t rho[4];
          for (int i = 0; i < 4; ++i) {
            uint64_t m = modulus[k][half + i];
            uint64_t t = uint64_t(jobs[k].x_low[half + i]) + (uint64_t(jobs[k].x_high[half + i]) << 52);
            t = t >= m ? t - m : t;  // below 2m before
            rho[i] = negative[k] && t ? m - t : t;
          }
          add_digits4(rho, &modulus[k][half], digits);
        }
      }
    }
    for (int j = 0; j < 4; ++j) batch->digits[j] = digits[j];
  }

  // Each run in one limb where its moduli lie below 2^48, else in two.
  QUARN_IFMA_FN static void evaluate(FastBatch *batch) {
    uint32_t quick = runs_below(batch, ifma_narrow_limit);
    int64_t wide[4] = {0, 0, 0, 0};
    if (quick != all_runs) {
      evaluate_wide(batch, all_runs & ~quick);
      for (int j = 0; j < 4; ++j) wide[j] = batch->digits[j];
    }
    if (quick)
      evaluate_jobs(batch, quick);
    else
      for (int j = 0; j < 4; ++j) batch->digits[j] = 0;
    for (int j = 0; j < 4; ++j) batch->digits[j] += wide[j];
  }
};

}  // namespace fast
