/*
 * reference_test.cpp: checks of the integer reference itself, against
 * slower arithmetic, against algebraic identities and against the known
 * hexadecimal digits of pi, so that the kernel is measured against a
 * reference that is itself right.
 */
#include <gtest/gtest.h>

#include <string>

#include "kernel_harness.h"
#include "platform.h"
#include "reference.h"

namespace {

// The reference is integer arithmetic and must not care about the rounding
// mode: its tests run under the kernel's, the least forgiving one.
class Reference : public ::testing::Test {
 protected:
  void SetUp() override { x87_enter_kernel_mode(); }
};

std::string hex128(const Fixed &f) {
  char buf[36];
  fixed_format128(f, buf);
  return buf;
}

// a * b mod m by doubling and adding: too slow for the tests at large, but
// plainly right.
uint64_t slow_mulmod(uint64_t a, uint64_t b, uint64_t m) {
  uint64_t r = 0;
  a %= m;
  for (int bit = 63; bit >= 0; --bit) {
    r = r >= m - r ? r - (m - r) : r + r;
    if ((b >> bit) & 1) r = r >= m - a ? r - (m - a) : r + a;
  }
  return r;
}

TEST_F(Reference, MultiplicationModuloAgreesWithDoubling) {
  TestRandom rnd{1};
  const uint64_t fixed_moduli[] = {1, 2, 3, 0xFFFFFFFFull, 0x100000000ull, 0x100000001ull,
                                   (uint64_t(1) << 58) + 19, (uint64_t(1) << 63) - 25,
                                   uint64_t(1) << 63};
  for (int i = 0; i < 4000; ++i) {
    uint64_t top = (random_next(&rnd) >> random_range(&rnd, 0, 62)) | 1;
    uint64_t m = i < 9 * 40 ? fixed_moduli[i / 40] : random_range(&rnd, 1, top);
    uint64_t a = i % 3 == 0 ? m - 1 : random_next(&rnd) % m;
    uint64_t b = i % 5 == 0 ? m - 1 : random_next(&rnd) % m;
    uint64_t want = slow_mulmod(a, b, m);
    ASSERT_EQ(ref_mulmod_portable(a, b, m), want) << a << " * " << b << " mod " << m;
    ASSERT_EQ(ref_mulmod(a, b, m), want) << a << " * " << b << " mod " << m;
  }
}

TEST_F(Reference, LongDivisionReassembles) {
  TestRandom rnd{2};
  for (int i = 0; i < 4000; ++i) {
    uint64_t v = random_next(&rnd) >> random_range(&rnd, 0, 63);
    if (v == 0) v = 1;
    uint64_t hi = random_next(&rnd) % v, lo = random_next(&rnd);
    if (i % 7 == 0) hi = v - 1, lo = ~uint64_t(0);
    uint64_t rem;
    uint64_t q = ref_divide_128(hi, lo, v, &rem);
    ASSERT_LT(rem, v);
    // q * v + rem must give back hi:lo; check modulo 2^64 and the high part
    // through the remainder of hi:lo modulo v by doubling.
    ASSERT_EQ(q * v + rem, lo) << hi << ":" << lo << " / " << v;
    uint64_t r_check = slow_mulmod(hi, (uint64_t(1) << 63) % v, v);
    r_check = slow_mulmod(r_check, 2 % v, v);
    uint64_t lo_rem = lo % v;
    r_check = r_check >= v - lo_rem ? r_check - (v - lo_rem) : r_check + lo_rem;
    ASSERT_EQ(rem, r_check) << hi << ":" << lo << " / " << v;
  }
}

TEST_F(Reference, PowersOfTwoModulo) {
  // Against repeated doubling for small exponents, and against the sum rule
  // 2^(a+b) = 2^a * 2^b for large ones.
  for (uint64_t m : {uint64_t(1), uint64_t(2), uint64_t(3), uint64_t(7), uint64_t(1000003),
                     (uint64_t(1) << 58) + 19}) {
    uint64_t r = 1 % m;
    for (uint64_t e = 0; e < 300; ++e) {
      ASSERT_EQ(ref_pow2_mod(e, m), r) << "2^" << e << " mod " << m;
      r = (r * 2) % m;
    }
  }
  TestRandom rnd{3};
  for (int i = 0; i < 500; ++i) {
    uint64_t m = random_range(&rnd, 2, uint64_t(1) << 58);
    uint64_t a = random_next(&rnd) >> 2, b = random_next(&rnd) >> 2;
    ASSERT_EQ(ref_pow2_mod(a + b, m),
              slow_mulmod(ref_pow2_mod(a, m), ref_pow2_mod(b, m), m));
  }
}

TEST_F(Reference, FractionsOfSimpleCases) {
  EXPECT_EQ(hex128(ref_fraction(3, 1, 0)), "55555555 55555555 55555555 55555555");
  EXPECT_EQ(hex128(ref_fraction(3, -1, 0)), "AAAAAAAA AAAAAAAA AAAAAAAA AAAAAAAA");
  EXPECT_EQ(hex128(ref_fraction(7, 1, 1)), "49249249 24924924 92492492 49249249");  // 2/7
  EXPECT_EQ(hex128(ref_fraction(1, 4, 50)), "00000000 00000000 00000000 00000000");
  EXPECT_EQ(hex128(ref_fraction(5, 0, 9)), "00000000 00000000 00000000 00000000");
  EXPECT_EQ(hex128(ref_fraction(1, 1, -1)), "80000000 00000000 00000000 00000000");
  EXPECT_EQ(hex128(ref_fraction(1, -1, -2)), "C0000000 00000000 00000000 00000000");
  EXPECT_EQ(hex128(ref_fraction(3, 1, -2)), "15555555 55555555 55555555 55555555");  // 1/12
  EXPECT_EQ(hex128(ref_fraction(3, -1, -2)), "EAAAAAAA AAAAAAAA AAAAAAAA AAAAAAAA"); // 11/12
  EXPECT_EQ(hex128(ref_fraction(1, 8, -131)), "00000000 00000000 00000000 00000001");
  EXPECT_EQ(ref_fraction(1, 8, -163), (Fixed{{0, 0, 0, 0, 1}}));
  EXPECT_EQ(ref_fraction(1, 8, -164), Fixed{});
  EXPECT_EQ(ref_fraction(1, -8, -164), (Fixed{{~0u, ~0u, ~0u, ~0u, ~0u}}));
  EXPECT_EQ(ref_fraction(3, 1, -400), Fixed{});
}

TEST_F(Reference, FractionIdentities) {
  // Doubling the weight is raising the exponent by one, on both sides of
  // zero (which joins the modular and the plain branch); a weight and its
  // negation sum to 1 - 2^-160 whenever the fraction is not exact.
  TestRandom rnd{4};
  const int32_t weights[] = {1, -1, 2, -4, 8, -8, 16, -32, 64};
  const Fixed all_ones{{~0u, ~0u, ~0u, ~0u, ~0u}};
  for (int i = 0; i < 3000; ++i) {
    uint64_t m = random_range(&rnd, 3, uint64_t(1) << random_range(&rnd, 2, 58)) | 1;
    int32_t w = weights[i % 9];
    int64_t e = i % 2 ? int64_t(random_range(&rnd, 0, 200)) - 100
                      : int64_t(random_next(&rnd) >> 6);
    ASSERT_EQ(ref_fraction(m, 2 * w, e), ref_fraction(m, w, e + 1)) << m << " " << w << " " << e;
    Fixed f = ref_fraction(m, w, e);
    ASSERT_EQ(fixed_add(f, ref_fraction(m, -w, e)), all_ones) << m << " " << w << " " << e;
  }
}

TEST_F(Reference, FixedPointConversions) {
  EXPECT_EQ(fixed_from_double(0.75, 0), (Fixed{{0xC0000000u, 0, 0, 0, 0}}));
  EXPECT_EQ(fixed_from_double(3.75, -32), (Fixed{{3, 0xC0000000u, 0, 0, 0}}));
  EXPECT_EQ(fixed_from_double(-0.25, 0), (Fixed{{0xC0000000u, 0, 0, 0, 0}}));
  EXPECT_EQ(fixed_from_double(1.0, -161), Fixed{});                       // below the last digit
  EXPECT_EQ(fixed_from_double(-1.0, -161), (Fixed{{~0u, ~0u, ~0u, ~0u, ~0u}}));
  EXPECT_EQ(fixed_from_double(4294967297.5, -128), (Fixed{{0, 0, 1, 1, 0x80000000u}}));
  EXPECT_EQ(fixed_from_u64(0x123456789ABCDEF0ull, -64), (Fixed{{0x12345678u, 0x9ABCDEF0u, 0, 0, 0}}));
  EXPECT_EQ(fixed_from_u64(0x123456789ABCDEF0ull, -32), (Fixed{{0x9ABCDEF0u, 0, 0, 0, 0}}));
  Fixed a{{1, 2, 3, 4, 5}};
  EXPECT_EQ(fixed_signed_diff(a, fixed_add_units(a, 77)), -77);
  EXPECT_EQ(fixed_signed_diff(fixed_add_units(a, -(int64_t(1) << 40)), a), -(int64_t(1) << 40));
  EXPECT_EQ(fixed_signed_diff(Fixed{{0, 0, 1, 0, 0}}, Fixed{}), int64_t(1) << 62);  // saturated
}

TEST_F(Reference, HeadEndByDefinition) {
  for (uint64_t where = 0; where < 2000; ++where) {
    uint64_t h = ref_head_end(where);
    if (h > 0) {
      ASSERT_GE(int64_t(4 * where) - int64_t(20 * (h - 1)) - 20, 1) << where;
    }
    ASSERT_LT(int64_t(4 * where) - int64_t(20 * h) - 20, 1) << where;
  }
  EXPECT_EQ(ref_head_end(5), 0u);
  EXPECT_EQ(ref_head_end(6), 1u);
  EXPECT_EQ(ref_head_end(10), 1u);
  EXPECT_EQ(ref_head_end(100), 19u);
}

// Head plus tail must give the digits of pi from digit `where` on.
TEST_F(Reference, WholeSeriesGivesDigitsOfPi) {
  for (int where = 1; where <= pi_hex_digit_count - 40; where += where < 80 ? 1 : 7) {
    uint64_t h = ref_head_end(uint64_t(where));
    RefShare head = ref_share(uint64_t(where), 0, h);
    RefShare tail = ref_tail(uint64_t(where), h);
    Fixed lo = fixed_add(head.sum160, tail.sum160);
    uint64_t parts = head.parts + tail.parts;
    Fixed pi = pi_digits_at(where);
    // pi's 160-bit floor lies in [lo, lo + parts units).
    int64_t above = fixed_signed_diff(pi, lo);
    ASSERT_GE(above, 0) << "where " << where;
    ASSERT_LT(above, int64_t(parts)) << "where " << where;
    // The same through the 128-bit sums, whose slack is parts units of 2^-128.
    Fixed lo128 = fixed_add(head.sum128, tail.sum128);
    int64_t above128 = fixed_signed_diff(fixed_floor128(pi), lo128);
    ASSERT_GE(above128, -(int64_t(1) << 32)) << "where " << where;
    ASSERT_LT(above128, int64_t(parts) << 32) << "where " << where;
  }
  // The tail alone, from term 0, is the whole series.
  RefShare all = ref_tail(10, 0);
  int64_t above = fixed_signed_diff(pi_digits_at(10), all.sum160);
  EXPECT_GE(above, 0);
  EXPECT_LT(above, int64_t(all.parts));
  EXPECT_EQ(hex128(pi_digits_at(10)), "5A308D31 3198A2E0 3707344A 40938222");
}

// The share of a chunk is only known to within its parts' truncations; its
// 128-bit floor is one of two neighbours, and for these vectors it is pinned.
Fixed floor_of_share(const RefShare &s) {
  Fixed lo = fixed_floor128(s.sum160);
  Fixed hi = fixed_floor128(fixed_add_units(s.sum160, int64_t(s.parts)));
  EXPECT_EQ(lo, hi) << "the 128-bit floor is not pinned down";
  return lo;
}

TEST_F(Reference, PublishedChunkVectors) {
  RefShare whole = ref_share(100, 0, 16), first = ref_share(100, 0, 8),
           second = ref_share(100, 8, 16);
  EXPECT_EQ(hex128(floor_of_share(whole)), "87180C04 2A922893 C8855394 69656C18");
  EXPECT_EQ(hex128(floor_of_share(first)), "3A2C2A5D 6DA5FE34 0C42C5BD 20760519");
  EXPECT_EQ(hex128(floor_of_share(second)), "4CEBE1A6 BCEC2A5F BC428DD7 48EF66FF");
  EXPECT_EQ(fixed_add(first.sum160, second.sum160), whole.sum160);
  // The plain 128-bit sum lies within its parts of the exact floor.
  int64_t slack = fixed_signed_diff(floor_of_share(whole), whole.sum128);
  EXPECT_GE(slack, 0);
  EXPECT_LT(slack, int64_t(whole.parts) << 32);
}

}  // namespace
