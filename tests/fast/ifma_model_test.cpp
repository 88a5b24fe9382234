/*
 * ifma_model_test.cpp: the IFMA tier's algorithm run on a portable model of
 * the eight-lane instructions it uses, so that its arithmetic is checked
 * against the reference on processors without AVX-512 IFMA. Only the
 * mapping of each operation onto its instruction is left to the machines
 * that have it (the tier test there).
 */
#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "fast_support.h"

#if defined(__SIZEOF_INT128__) && defined(__x86_64__)
// The model: nothing but portable C++, with the tier's attribute left empty.
#define QUARN_IFMA_FN
#include "fast_ifma.h"

namespace {

struct Model {
  struct I {
    uint64_t v[8];
  };
  struct D {
    double v[8];
  };
  static constexpr uint64_t low52 = (uint64_t(1) << 52) - 1;

  template <class F>
  static I map(F f) {
    I r;
    for (int i = 0; i < 8; ++i) r.v[i] = f(i);
    return r;
  }
  template <class F>
  static D mapd(F f) {
    D r;
    for (int i = 0; i < 8; ++i) r.v[i] = f(i);
    return r;
  }
  static I set1(int64_t x) { return map([&](int) { return uint64_t(x); }); }
  static I load(const int64_t *p) { return map([&](int i) { return uint64_t(p[i]); }); }
  static void store(int64_t *p, I a) {
    for (int i = 0; i < 8; ++i) p[i] = int64_t(a.v[i]);
  }
  static I add(I a, I b) { return map([&](int i) { return a.v[i] + b.v[i]; }); }
  static I sub(I a, I b) { return map([&](int i) { return a.v[i] - b.v[i]; }); }
  static I xori(I a, I b) { return map([&](int i) { return a.v[i] ^ b.v[i]; }); }
  static I andi(I a, I b) { return map([&](int i) { return a.v[i] & b.v[i]; }); }
  static I min_unsigned(I a, I b) {
    return map([&](int i) { return a.v[i] < b.v[i] ? a.v[i] : b.v[i]; });
  }
  // Shift counts of 64 or more give 0, as the instructions do.
  static I shift_right(I a, int n) { return map([&](int i) { return n < 64 ? a.v[i] >> n : 0; }); }
  static I shift_left(I a, int n) { return map([&](int i) { return n < 64 ? a.v[i] << n : 0; }); }
  static I shift_left_each(I a, I n) {
    return map([&](int i) { return n.v[i] < 64 ? a.v[i] << n.v[i] : 0; });
  }
  // acc + the low (high) 52 bits of the 104-bit product of the factors'
  // low 52 bits.
  static I madd52lo(I acc, I a, I b) {
    return map([&](int i) {
      unsigned __int128 p = (unsigned __int128)(a.v[i] & low52) * (b.v[i] & low52);
      return acc.v[i] + (uint64_t(p) & low52);
    });
  }
  static I madd52hi(I acc, I a, I b) {
    return map([&](int i) {
      unsigned __int128 p = (unsigned __int128)(a.v[i] & low52) * (b.v[i] & low52);
      return acc.v[i] + (uint64_t(p >> 52) & low52);
    });
  }
  static D set1d(double x) { return mapd([&](int) { return x; }); }
  static D loadd(const double *p) { return mapd([&](int i) { return p[i]; }); }
  static void stored(double *p, D a) {
    for (int i = 0; i < 8; ++i) p[i] = a.v[i];
  }
  static D addd(D a, D b) { return mapd([&](int i) { return a.v[i] + b.v[i]; }); }
  static D subd(D a, D b) { return mapd([&](int i) { return a.v[i] - b.v[i]; }); }
  static D muld(D a, D b) { return mapd([&](int i) { return a.v[i] * b.v[i]; }); }
  static D div(D a, D b) { return mapd([&](int i) { return a.v[i] / b.v[i]; }); }
  static D fmadd(D a, D b, D c) { return mapd([&](int i) { return std::fma(a.v[i], b.v[i], c.v[i]); }); }
  static D fnmadd(D a, D b, D c) {
    return mapd([&](int i) { return std::fma(-a.v[i], b.v[i], c.v[i]); });
  }
  static D xord(D a, D b) {
    return mapd([&](int i) {
      return std::bit_cast<double>(std::bit_cast<uint64_t>(a.v[i]) ^ std::bit_cast<uint64_t>(b.v[i]));
    });
  }
  static D ones_where_negative(D a) { return mapd([&](int i) { return a.v[i] < 0 ? 1.0 : 0.0; }); }
  static D as_double(I a) { return mapd([&](int i) { return std::bit_cast<double>(a.v[i]); }); }
  static I as_int(D a) { return map([&](int i) { return std::bit_cast<uint64_t>(a.v[i]); }); }
};

Fixed model_value(FastBatch b) {
  fast::IfmaCore<Model>::evaluate(&b);
  return batch_value(b);
}

TEST(IfmaModel, ExactForEveryModulusInOneLimbAndInTwo) {
  // One limb up to 2^48, two from there to 2^60: both sides of each limit.
  TestRandom r{4848};
  const uint64_t narrow = fast::ifma_narrow_limit, limit = fast::ifma_modulus_limit;
  const struct {
    uint64_t lowest, highest;
  } ranges[] = {{narrow - 4096, narrow - 1}, {1, narrow - 1}, {1, 400},
                {narrow, narrow + 4096},     {1, limit - 1},  {limit - 4096, limit - 1}};
  for (auto &range : ranges)
    for (uint32_t count : {1u, 7u, 8u, 9u, 16u})
      for (int trial = 0; trial < 3; ++trial) {
        FastBatch b = random_batch(&r, count, range.lowest, range.highest);
        Fixed want = batch_expected(b);
        Fixed got = model_value(b);
        ASSERT_TRUE(got == want) << "count " << count << ", moduli up to " << range.highest;
      }
}

TEST(IfmaModel, SameBlocksAsTheScalarTier) {
  // Whole blocks of the series, from the start of the head to its end.
  FastKernelScope scope{int(FastTier::scalar)};
  const uint64_t positions[] = {100,
                                1000,
                                123456789,
                                uint64_t(1) << 40,
                                (uint64_t(1) << 46) + 3,
                                1000000000000000ull,  // moduli past 2^48 in most of the head
                                where_limit - 1};
  for (uint64_t where : positions) {
    for (uint64_t first : {uint64_t(0), uint64_t(7), head_end(where) - 16}) {
      FastSlot s;
      s.slot->where = where;
      s.slot->cur_pos = first;
      s.slot->end_pos = first + 16;
      kernel_step(s.slot);
      FastBatch b = s.slot->k.fast;
      ASSERT_EQ(b.tier, uint32_t(FastTier::scalar));
      EXPECT_TRUE(model_value(b) == batch_value(b)) << "where " << where << " from " << first;
    }
  }
}

}  // namespace
#endif
