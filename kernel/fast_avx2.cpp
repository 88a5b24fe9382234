/*
 * fast_avx2.cpp: the fast variant's AVX2+FMA tier. Four consecutive terms of
 * one part share a vector of doubles; every product is split exactly into
 * h + l by an FMA, the quotient comes from a reciprocal and the remainder
 * from a fused negative multiply-add. Exact for odd moduli below 2^53 - 16,
 * in one reduction per squaring below 2^50 and in two above. Blocks with
 * larger moduli, up to 2^60, take the wide path at the end of this file:
 * 64-bit Montgomery squaring built from 32-bit products.
 *
 * Below 2^50 residues are kept signed in (-m, m) without conditional
 * corrections: with q the nearest integer to c x^2 / m (c = 1 or 2, the
 * exponent bit), |c x^2 - q m| < m (1/2 + x^2 / (2 m^2)) as long as
 * m < 2^50, so |x| < m carries over from one squaring to the next. A signed
 * residue needs no normalising either: its digits are those of the fraction
 * modulo 1.
 *
 * From 2^50 on the doubling moves out of the first quotient and a second
 * reduction follows. With u = 2^-53, r = fl(1/m) = (1 + d) / m, |d| <= u,
 * B = 1.5 * 2^52 and residues |x| <= m/2 + 2 (integers), for odd
 * m < 2^53 - 16:
 *   1. h + l = x^2 exactly, x^2 <= (m/2 + 2)^2 < 2^104, so h <= 2^104 and
 *      |l| <= 2^50 (half an ulp below 2^104). v = h r <= m/4 + 3 <= 2^51, so
 *      fl(v + B) lies in [B, 2^53], where the spacing is 1: q1 = fl(v + B) - B
 *      is an integer within 1/2 of v, and |h/m - v| <= u h/m. Hence
 *      |h - q1 m| <= m/2 + u h <= 2^52 + 2^51, an integer the FMA gives
 *      exactly, and x1 = (h - q1 m) + l has |x1| <= 1.75 * 2^52 < 2^53: exact.
 *   2. y = c x1 (exact, |y| < 2^54), |y r| <= 3, q2 = fl(y r + B) - B within
 *      1/2 of y r, so |y - q2 m| <= m/2 + u |y| < m/2 + 2: exact, and the
 *      bound on x holds again.
 * The start 2^t, reduced in three steps, lies within m/2 + 1 of zero.
 * Folding the doubling into the first product instead (as below 2^50) would
 * double v and leave the rounding trick's range at 2^52.
 */
#include <immintrin.h>

#include "fast_mont.h"
#include "fast_tiers.h"

#define QUARN_AVX2 __attribute__((target("avx2,fma")))

namespace fast {
namespace {

// Four lanes of one run: consecutive terms of one part.
struct alignas(32) Job {
  double modulus[4];
  double reciprocal[4];  // nearest double to 1 / modulus
  int64_t exponent[4];
  double sign[4];        // -0.0 where the weight is negative: flips by xor
};

constexpr int max_jobs = 14 * 4;
// Squaring chains in flight: enough to cover the latency of one squaring
// (about 20 cycles), few enough to stay in registers (eight on i686).
#if defined(__x86_64__)
constexpr int chains = 8;
#else
constexpr int chains = 4;
#endif

// 1.5 * 2^52: adding it rounds a value below 2^51 in magnitude to an integer.
const double round_bias = 6755399441055744.0;
// Digits of 40 bits: four give the 160-bit floor.
const double digit_scale = 1099511627776.0;  // 2^40

QUARN_AVX2 inline __m256d nearest_integer(__m256d x, __m256d recip, __m256d bias) {
  return _mm256_sub_pd(_mm256_fmadd_pd(x, recip, bias), bias);
}

// y - m * round(y / m) for a y whose quotient is far below 2^50: exact,
// in (-m, m).
QUARN_AVX2 inline __m256d reduce(__m256d y, __m256d m, __m256d recip, __m256d bias) {
  return _mm256_fnmadd_pd(nearest_integer(y, recip, bias), m, y);
}

// 2^v for lanes of small non-negative integers v, built in the exponent field.
QUARN_AVX2 inline __m256d power_of_two(__m256i v) {
  return _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_add_epi64(v, _mm256_set1_epi64x(1023)), 52));
}

// Squares `chains` jobs side by side from their top six exponent bits down
// and adds the digits of each lane's fraction to acc: in one reduction per
// squaring for moduli below 2^50, in two (`two_step`) below 2^53 - 16.
template <bool two_step>
QUARN_AVX2 __attribute__((noinline)) void square_jobs(const Job *jobs, __m256d acc[4]) {
  const __m256d bias = _mm256_set1_pd(round_bias);
  uint64_t top = 0;
  for (int g = 0; g < chains; ++g)
    for (int i = 0; i < 4; ++i) top |= uint64_t(jobs[g].exponent[i]);
  // Every lane starts from 2^t for its bits above the lowest `scan`, so the
  // lanes' t is at most 63 and each lane scans the same number of bits.
  int length = bit_length(top);
  int scan = length > 6 ? length - 6 : 0;
  __m128i scan_count = _mm_cvtsi32_si128(scan);
  __m128i align_count = _mm_cvtsi32_si128(64 - scan);

  __m256d x[chains];
  __m256i bits[chains];
#pragma GCC unroll 8
  for (int g = 0; g < chains; ++g) {
    __m256d m = _mm256_load_pd(jobs[g].modulus), r = _mm256_load_pd(jobs[g].reciprocal);
    __m256i e = _mm256_load_si256(reinterpret_cast<const __m256i *>(jobs[g].exponent));
    // 2^t as 2^a * 2^b with a <= 40, so that neither reduction's quotient
    // comes near 2^50.
    __m256i t = _mm256_srl_epi64(e, scan_count);
    __m256i forty = _mm256_set1_epi64x(40);
    __m256i a = _mm256_blendv_epi8(t, forty, _mm256_cmpgt_epi64(t, forty));
    __m256i b = _mm256_sub_epi64(t, a);
    __m256d start = reduce(power_of_two(a), m, r, bias);
    x[g] = reduce(_mm256_mul_pd(start, power_of_two(b)), m, r, bias);
    // Within m/2 + 2^23 of zero; once more brings it within m/2 + 1.
    if (two_step) x[g] = reduce(x[g], m, r, bias);
    // The next bit to apply sits in each lane's sign bit.
    bits[g] = _mm256_sll_epi64(e, align_count);
  }
  for (int s = 0; s < scan && two_step; ++s) {
#pragma GCC unroll 8
    for (int g = 0; g < chains; ++g) {
      __m256d m = _mm256_load_pd(jobs[g].modulus), r = _mm256_load_pd(jobs[g].reciprocal);
      __m256d h = _mm256_mul_pd(x[g], x[g]);
      __m256d l = _mm256_fmsub_pd(x[g], x[g], h);  // x^2 = h + l exactly
      __m256d x1 = _mm256_add_pd(_mm256_fnmadd_pd(nearest_integer(h, r, bias), m, h), l);
      // y = 2 x1 where the bit is 1.
      __m256d y = _mm256_blendv_pd(x1, _mm256_add_pd(x1, x1), _mm256_castsi256_pd(bits[g]));
      bits[g] = _mm256_add_epi64(bits[g], bits[g]);
      x[g] = reduce(y, m, r, bias);
    }
  }
  for (int s = 0; s < scan && !two_step; ++s) {
#pragma GCC unroll 8
    for (int g = 0; g < chains; ++g) {
      // xs = 2x where the bit is 1: the doubling rides on the product.
      __m256d xs = _mm256_blendv_pd(x[g], _mm256_add_pd(x[g], x[g]), _mm256_castsi256_pd(bits[g]));
      bits[g] = _mm256_add_epi64(bits[g], bits[g]);
      __m256d h = _mm256_mul_pd(xs, x[g]);
      __m256d l = _mm256_fmsub_pd(xs, x[g], h);  // xs * x = h + l exactly
      __m256d q = nearest_integer(h, _mm256_load_pd(jobs[g].reciprocal), bias);
      x[g] = _mm256_add_pd(_mm256_fnmadd_pd(q, _mm256_load_pd(jobs[g].modulus), h), l);
    }
  }

  // Four 40-bit digits by long division with signed remainders: each digit
  // is the nearest integer to v 2^40 / m, so the remainder stays within
  // m / 2 in magnitude and is exact. The digits then add up to the 160-bit
  // floor of v / m, or one more when the last remainder is negative.
  const __m256d scale = _mm256_set1_pd(digit_scale), zero = _mm256_setzero_pd(),
                one = _mm256_set1_pd(1.0);
#pragma GCC unroll 8
  for (int g = 0; g < chains; ++g) {
    __m256d m = _mm256_load_pd(jobs[g].modulus);
    __m256d r = _mm256_mul_pd(_mm256_load_pd(jobs[g].reciprocal), scale);  // 2^40 / m, as exact as 1 / m
    __m256d v = _mm256_xor_pd(x[g], _mm256_load_pd(jobs[g].sign));
    for (int j = 0; j < 4; ++j) {
      __m256d d = nearest_integer(v, r, bias);
      v = _mm256_fnmadd_pd(d, m, _mm256_mul_pd(v, scale));
      acc[j] = _mm256_add_pd(acc[j], d);
    }
    acc[3] = _mm256_sub_pd(acc[3], _mm256_and_pd(_mm256_cmp_pd(v, zero, _CMP_LT_OQ), one));
  }
}

// The runs in `runs` (bit p for run p) on the paths in doubles, in two
// reductions per squaring where `two_step`.
QUARN_AVX2 __attribute__((noinline)) void evaluate_jobs(FastBatch *batch, uint32_t runs,
                                                       bool two_step) {
  // Rounded to whole groups; the padding lanes evaluate modulus 1 and add 0.
  alignas(32) Job jobs[max_jobs + chains];
  const int64_t count = batch->count;
  const int vectors = int((count + 3) / 4);
  const __m256i lane = _mm256_set_epi64x(3, 2, 1, 0);
  const __m256d lane_d = _mm256_set_pd(3, 2, 1, 0), one = _mm256_set1_pd(1.0);
  const __m256i one_i = _mm256_set1_epi64x(1), count_i = _mm256_set1_epi64x(count);
  int n = 0;
  for (int p = 0; p < 14; ++p) {
    if (!((runs >> p) & 1)) continue;
    const FastRun &run = batch->run[p];
    __m256d modulus_step = _mm256_mul_pd(lane_d, _mm256_set1_pd(double(run.modulus_step)));
    __m256i exponent_step = _mm256_mul_epu32(lane, _mm256_set1_epi64x(run.exponent_step));
    __m256d sign = _mm256_set1_pd(run.negative ? -0.0 : 0.0);
    for (int v = 0; v < vectors; ++v, ++n) {
      Job &job = jobs[n];
      int64_t first = 4 * v;
      __m256i real = _mm256_cmpgt_epi64(count_i, _mm256_add_epi64(lane, _mm256_set1_epi64x(first)));
      // Exact: every modulus is below 2^53.
      __m256d m = _mm256_add_pd(
          _mm256_set1_pd(double(int64_t(run.modulus + uint64_t(run.modulus_step) * first))),
          modulus_step);
      m = _mm256_blendv_pd(one, m, _mm256_castsi256_pd(real));
      __m256i e = _mm256_sub_epi64(
          _mm256_set1_epi64x(run.exponent - int64_t(run.exponent_step) * first), exponent_step);
      e = _mm256_blendv_epi8(one_i, e, real);
      _mm256_store_pd(job.modulus, m);
      _mm256_store_pd(job.reciprocal, _mm256_div_pd(one, m));
      _mm256_store_si256(reinterpret_cast<__m256i *>(job.exponent), e);
      _mm256_store_pd(job.sign, sign);
    }
  }
  for (; n % chains != 0; ++n) {
    Job &job = jobs[n];
    _mm256_store_pd(job.modulus, one);
    _mm256_store_pd(job.reciprocal, one);
    _mm256_store_si256(reinterpret_cast<__m256i *>(job.exponent), one_i);
    _mm256_store_pd(job.sign, _mm256_setzero_pd());
  }

  __m256d acc[4];
  for (int j = 0; j < 4; ++j) acc[j] = _mm256_setzero_pd();
  for (int g = 0; g < n; g += chains) {
    if (two_step) square_jobs<true>(jobs + g, acc);
    else square_jobs<false>(jobs + g, acc);
  }
  // A column's lane holds at most 56 digits below 2^40 in magnitude: the
  // sums are exact.
  for (int j = 0; j < 4; ++j) {
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, acc[j]);
    batch->digits[j] = int64_t(lanes[0] + lanes[1]) + int64_t(lanes[2] + lanes[3]);
  }
}

// The wide path, for moduli from 2^53 - 16 to 2^60: Montgomery squaring with
// R = 2^64, every 64-bit product built from the 32x32-bit products of
// vpmuludq (which reads only each lane's low half). As in the scalar tier's
// lazy loop, x < 4m gives hi(x^2) < m, so t = m + hi(x^2) - hi(q m) lies in
// (0, 2m) and its double below 4m: no comparison in the loop.
struct alignas(32) WideJob {
  uint64_t modulus[4];
  uint64_t modulus_high[4];  // m >> 32
  uint64_t inverse[4];       // m^-1 mod 2^64
  uint64_t inverse_high[4];
  uint64_t x[4];             // the Montgomery value: the start, then the result
  uint64_t bits[4];          // the exponent's bits after its top one, from the top
};

// Four jobs a group on x86-64 (quicker than three or six, which spills);
// two where only eight vector registers exist.
#if defined(__x86_64__)
constexpr int wide_chains = 4;
#else
constexpr int wide_chains = 2;
#endif

// Each lane's high half moved into its low half, for vpmuludq.
QUARN_AVX2 inline __m256i high_halves(__m256i v) { return _mm256_shuffle_epi32(v, 0xF5); }

QUARN_AVX2 __attribute__((noinline)) void square_wide(WideJob *jobs, int scan) {
  __m256i x[wide_chains], bits[wide_chains];
  for (int g = 0; g < wide_chains; ++g) {
    x[g] = _mm256_load_si256(reinterpret_cast<const __m256i *>(jobs[g].x));
    bits[g] = _mm256_load_si256(reinterpret_cast<const __m256i *>(jobs[g].bits));
  }
  const __m256i low32 = _mm256_set1_epi64x(0xFFFFFFFF);
  for (int s = 0; s < scan; ++s) {
#pragma GCC unroll 4
    for (int g = 0; g < wide_chains; ++g) {
      const __m256i *job = reinterpret_cast<const __m256i *>(&jobs[g]);
      __m256i m = _mm256_load_si256(job), m_high = _mm256_load_si256(job + 1);
      __m256i inv = _mm256_load_si256(job + 2), inv_high = _mm256_load_si256(job + 3);
      // x^2 = a + 2b 2^32 + c 2^64, with x < 2^62: b < 2^62. Its low half
      // is never formed: its low 32 bits are a's, its high 32 bits those of
      // mid = hi32(a) + (2b mod 2^32) < 2^33, whose carry goes to the high
      // half.
      __m256i xh = high_halves(x[g]);
      __m256i a = _mm256_mul_epu32(x[g], x[g]);
      __m256i b = _mm256_mul_epu32(x[g], xh);
      __m256i c = _mm256_mul_epu32(xh, xh);
      __m256i mid = _mm256_add_epi64(_mm256_srli_epi64(a, 32),
                                     _mm256_and_si256(_mm256_add_epi64(b, b), low32));
      __m256i hi = _mm256_add_epi64(_mm256_add_epi64(c, _mm256_srli_epi64(b, 31)),
                                    _mm256_srli_epi64(mid, 32));
      // q = lo m^-1 mod 2^64, so that q m agrees with x^2 in its low half;
      // vpmuludq reads the low 32 bits of a and mid.
      __m256i cross = _mm256_add_epi64(_mm256_mul_epu32(a, inv_high), _mm256_mul_epu32(mid, inv));
      __m256i q = _mm256_add_epi64(_mm256_mul_epu32(a, inv), _mm256_slli_epi64(cross, 32));
      // hi(q m) from four partial products; m < 2^60 keeps u below 2^61 and
      // p10 plus a 32-bit value below 2^64.
      __m256i qh = high_halves(q);
      __m256i u = _mm256_add_epi64(_mm256_srli_epi64(_mm256_mul_epu32(q, m), 32),
                                   _mm256_mul_epu32(q, m_high));
      __m256i w = _mm256_add_epi64(_mm256_mul_epu32(qh, m), _mm256_and_si256(u, low32));
      __m256i hq = _mm256_add_epi64(_mm256_add_epi64(_mm256_mul_epu32(qh, m_high),
                                                     _mm256_srli_epi64(u, 32)),
                                    _mm256_srli_epi64(w, 32));
      __m256i t = _mm256_sub_epi64(_mm256_add_epi64(m, hi), hq);
      x[g] = _mm256_sllv_epi64(t, _mm256_srli_epi64(bits[g], 63));
      bits[g] = _mm256_add_epi64(bits[g], bits[g]);
    }
  }
  for (int g = 0; g < wide_chains; ++g)
    _mm256_store_si256(reinterpret_cast<__m256i *>(jobs[g].x), x[g]);
}

// The runs in `runs` on the wide path.
QUARN_AVX2 __attribute__((noinline)) void evaluate_wide(FastBatch *batch, uint32_t runs) {
  constexpr int max_wide = 14 * 4 + wide_chains;
  alignas(32) WideJob jobs[max_wide];
  int64_t exponent[max_wide][4];
  bool negative[max_wide];
  const uint32_t count = batch->count;
  const int vectors = int((count + 3) / 4);
  int n = 0;
  for (int p = 0; p < 14; ++p) {
    if (!((runs >> p) & 1)) continue;
    const FastRun &run = batch->run[p];
    for (int v = 0; v < vectors; ++v, ++n) {
      for (int i = 0; i < 4; ++i) {
        uint32_t lane = uint32_t(4 * v + i);
        bool real = lane < count;
        jobs[n].modulus[i] = real ? run.modulus + uint64_t(run.modulus_step) * lane : 1;
        exponent[n][i] = real ? run.exponent - int64_t(run.exponent_step) * lane : 1;
      }
      negative[n] = run.negative != 0;
    }
  }
  for (; n % wide_chains != 0; ++n) {
    for (int i = 0; i < 4; ++i) {
      jobs[n].modulus[i] = 1;
      exponent[n][i] = 1;
    }
    negative[n] = false;
  }

  int64_t digits[4] = {0, 0, 0, 0};
  for (int g = 0; g < n; g += wide_chains) {
    // The group's lanes scan the same number of bits; the top one is applied
    // to the start, the Montgomery one (2^64 mod m) or its double.
    uint64_t top = 0;
    for (int k = g; k < g + wide_chains; ++k)
      for (int i = 0; i < 4; ++i) top |= uint64_t(exponent[k][i]);
    int length = bit_length(top);
    for (int k = g; k < g + wide_chains; ++k) {
      WideJob &job = jobs[k];
      for (int i = 0; i < 4; ++i) {
        uint64_t m = job.modulus[i], e = uint64_t(exponent[k][i]);
        uint64_t inv = inverse64(m);
        job.modulus_high[i] = m >> 32;
        job.inverse[i] = inv;
        job.inverse_high[i] = inv >> 32;
        uint64_t one = (0 - m) % m;
        job.x[i] = one << ((e >> (length - 1)) & 1);
        job.bits[i] = length > 1 ? e << (65 - length) : 0;
      }
    }
    square_wide(jobs + g, length - 1);
    for (int k = g; k < g + wide_chains; ++k) {
      const WideJob &job = jobs[k];
      uint64_t rho[4];
      for (int i = 0; i < 4; ++i)
        rho[i] = leave_montgomery(job.x[i], job.modulus[i], job.inverse[i], negative[k]);
      add_digits4(rho, job.modulus, digits);
    }
  }
  for (int j = 0; j < 4; ++j) batch->digits[j] = digits[j];
}

}  // namespace

QUARN_AVX2 void evaluate_avx2(FastBatch *batch) {
  // Each run on the quickest path exact for it: a block whose moduli pass
  // 2^50 in the parts of step 20 may still have those of step 8 below it.
  uint32_t quick = runs_below(batch, avx2_narrow_limit);
  uint32_t doubles = runs_below(batch, avx2_double_limit);
  int64_t sum[4] = {0, 0, 0, 0};
  if (doubles != all_runs) {
    evaluate_wide(batch, all_runs & ~doubles);
    for (int j = 0; j < 4; ++j) sum[j] = batch->digits[j];
  }
  if (doubles) {
    // The estimates rely on rounding to nearest, whatever the caller's SSE
    // control register says; the x87 control word is not involved.
    unsigned saved = _mm_getcsr();
    _mm_setcsr(0x1F80);
    if (doubles & ~quick) {
      evaluate_jobs(batch, doubles & ~quick, true);
      for (int j = 0; j < 4; ++j) sum[j] += batch->digits[j];
    }
    if (quick) {
      evaluate_jobs(batch, quick, false);
      for (int j = 0; j < 4; ++j) sum[j] += batch->digits[j];
    }
    _mm_setcsr(saved);
  }
  for (int j = 0; j < 4; ++j) batch->digits[j] = sum[j];
}

}  // namespace fast
