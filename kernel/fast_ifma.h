/*
 * fast_ifma.h: the IFMA tier's algorithm, written once over a vector type V
 * of eight 64-bit lanes. fast_ifma.cpp instantiates it with the AVX-512 IFMA
 * instructions; the tests instantiate it with a portable model of those
 * instructions, so the algorithm runs even where the processor lacks them.
 *
 * The includer defines QUARN_IFMA_FN (the function attributes, e.g. the
 * instruction-set target) and supplies V with these static members:
 *   types I (eight unsigned 64-bit lanes) and D (eight doubles);
 *   I set1(int64_t), load(const int64_t *), add, sub, xori, min_unsigned,
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
 */
#pragma once

#include <cstdint>

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

  QUARN_IFMA_FN static void evaluate_jobs(FastBatch *batch) {
    alignas(64) Job jobs[max_jobs + chains];
    const uint32_t count = batch->count;
    const int vectors = int((count + 7) / 8);
    int n = 0;
    for (const FastRun &run : batch->run) {
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
};

}  // namespace fast
