/*
 * fast_ifma.cpp: the fast variant's AVX-512 IFMA tier: eight consecutive
 * terms of one part per vector, 52-bit Montgomery squaring with
 * vpmadd52luq/vpmadd52huq and lazy reduction, in one limb for odd moduli
 * below 2^48 and in two up to 2^60. The algorithm is in fast_ifma.h; this
 * file maps its operations onto the instructions.
 */
#include <immintrin.h>

// GCC 12 warns that the AVX-512 intrinsics' own undefined start values may be
// used uninitialised; they are not (GCC bug 105593). Clang has no such
// warning.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define QUARN_IFMA_FN __attribute__((target("avx512f,avx512ifma,fma")))
#include "fast_ifma.h"

namespace fast {
namespace {

struct Zmm {
  using I = __m512i;
  using D = __m512d;
  QUARN_IFMA_FN static I set1(int64_t v) { return _mm512_set1_epi64(v); }
  QUARN_IFMA_FN static I load(const int64_t *p) { return _mm512_load_si512(p); }
  QUARN_IFMA_FN static void store(int64_t *p, I v) { _mm512_store_si512(p, v); }
  QUARN_IFMA_FN static I add(I a, I b) { return _mm512_add_epi64(a, b); }
  QUARN_IFMA_FN static I sub(I a, I b) { return _mm512_sub_epi64(a, b); }
  QUARN_IFMA_FN static I xori(I a, I b) { return _mm512_xor_si512(a, b); }
  QUARN_IFMA_FN static I andi(I a, I b) { return _mm512_and_si512(a, b); }
  QUARN_IFMA_FN static I min_unsigned(I a, I b) { return _mm512_min_epu64(a, b); }
  QUARN_IFMA_FN static I shift_right(I a, int n) { return _mm512_srl_epi64(a, _mm_cvtsi32_si128(n)); }
  QUARN_IFMA_FN static I shift_left(I a, int n) { return _mm512_sll_epi64(a, _mm_cvtsi32_si128(n)); }
  QUARN_IFMA_FN static I shift_left_each(I a, I n) { return _mm512_sllv_epi64(a, n); }
  QUARN_IFMA_FN static I madd52lo(I acc, I a, I b) { return _mm512_madd52lo_epu64(acc, a, b); }
  QUARN_IFMA_FN static I madd52hi(I acc, I a, I b) { return _mm512_madd52hi_epu64(acc, a, b); }
  QUARN_IFMA_FN static D set1d(double v) { return _mm512_set1_pd(v); }
  QUARN_IFMA_FN static D loadd(const double *p) { return _mm512_load_pd(p); }
  QUARN_IFMA_FN static void stored(double *p, D v) { _mm512_store_pd(p, v); }
  QUARN_IFMA_FN static D addd(D a, D b) { return _mm512_add_pd(a, b); }
  QUARN_IFMA_FN static D subd(D a, D b) { return _mm512_sub_pd(a, b); }
  QUARN_IFMA_FN static D muld(D a, D b) { return _mm512_mul_pd(a, b); }
  QUARN_IFMA_FN static D div(D a, D b) { return _mm512_div_pd(a, b); }
  QUARN_IFMA_FN static D fmadd(D a, D b, D c) { return _mm512_fmadd_pd(a, b, c); }
  QUARN_IFMA_FN static D fnmadd(D a, D b, D c) { return _mm512_fnmadd_pd(a, b, c); }
  // Through the integer unit: plain AVX-512F has no xor of doubles.
  QUARN_IFMA_FN static D xord(D a, D b) {
    return _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(a), _mm512_castpd_si512(b)));
  }
  QUARN_IFMA_FN static D ones_where_negative(D v) {
    __mmask8 negative = _mm512_cmp_pd_mask(v, _mm512_setzero_pd(), _CMP_LT_OQ);
    return _mm512_maskz_mov_pd(negative, _mm512_set1_pd(1.0));
  }
  QUARN_IFMA_FN static D as_double(I v) { return _mm512_castsi512_pd(v); }
  QUARN_IFMA_FN static I as_int(D v) { return _mm512_castpd_si512(v); }
};

QUARN_IFMA_FN __attribute__((noinline)) void evaluate_jobs(FastBatch *batch) {
  IfmaCore<Zmm>::evaluate(batch);
}

}  // namespace

QUARN_IFMA_FN void evaluate_ifma(FastBatch *batch) {
  // The double estimates rely on rounding to nearest.
  unsigned saved = _mm_getcsr();
  _mm_setcsr(0x1F80);
  evaluate_jobs(batch);
  _mm_setcsr(saved);
}

}  // namespace fast
