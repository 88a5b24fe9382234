// exact_test.cpp: the exact share arithmetic: modular powers, parts of either exponent sign, the tail's cut-off, and whole series against known digits of pi.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "chunk_eval.h"
#include "exact.h"

namespace {

// Hexadecimal digits of pi from digit 1 after the point: the well-known
// start, and from digit 10 on the 32 digits 5A308D31 3198A2E0 3707344A
// 40938222 that the series at position 10 must give.
const std::string pi_start = "243F6A888" "5A308D313198A2E03707344A40938222";

std::string hex_of(const Wide &w, int n) {
  char buf[49];
  wide_hex(w, n, buf);
  return buf;
}

#ifdef __SIZEOF_INT128__
TEST(Exact, MulmodAndPow2modAgreeWithNativeArithmetic) {
  std::mt19937_64 rng(11);
  for (int n = 0; n < 3000; ++n) {
    uint64_t m = (rng() >> (4 + n % 56)) | 1;
    uint64_t a = rng() % m, b = rng() % m;
    ASSERT_EQ(mulmod(a, b, m), uint64_t((unsigned __int128)a * b % m)) << a << "*" << b << "%" << m;
    uint64_t e = rng() >> (n % 64);
    unsigned __int128 r = 1, base = 2 % m;
    for (uint64_t x = e; x; x >>= 1) {
      if (x & 1) r = r * base % m;
      base = base * base % m;
    }
    ASSERT_EQ(pow2mod(e, m), uint64_t(r)) << "2^" << e << "%" << m;
  }
}
#endif

TEST(Exact, ModularPowersAtTheEdges) {
  EXPECT_EQ(pow2mod(0, 7), 1u);
  EXPECT_EQ(pow2mod(123, 1), 0u);
  EXPECT_EQ(pow2mod(64, (uint64_t(1) << 59) + 1), (uint64_t(1) << 59) - 31);  // 2^64 = 32 * 2^59 = 32 * -1
  const uint64_t m = (uint64_t(1) << 60) - 1;  // largest modulus allowed
  EXPECT_EQ(mulmod(m - 1, m - 1, m), 1u);
  EXPECT_EQ(pow2mod(60 * 1000 + 7, m), 128u);
}

TEST(Exact, PartsWithNegativeExponentsAreSignedSmallValues) {
  // where = 1, term 1, part 0: 4 * 2^(4 - 20 - 4) / 21 = 2^-18 / 21.
  Wide a = part_floor(1, 1, 0);
  EXPECT_EQ(a, wide_ratio(1, 21, wide_bits - 18));
  // Part 1 has weight -1: -2^-20 / 23 wraps to 1 minus it, floored.
  Wide b = part_floor(1, 1, 1);
  Wide back = wide_add(b, wide_ratio(1, 23, wide_bits - 20));
  EXPECT_TRUE(wide_is_zero(back) || wide_is_zero(wide_add(back, wide_from_units(1, 0))));
  EXPECT_EQ(hex_of(b, 4), "FFFF");
  // Far beyond 2^-192 a part is nothing (positive) or one unit below 0.
  EXPECT_TRUE(wide_is_zero(part_floor(1, 20, 0)));
  EXPECT_EQ(hex_of(part_floor(1, 20, 1), 48), std::string(48, 'F'));
}

TEST(Exact, ShareOfAKnownChunk) {
  // Position 100, terms [0, 16): limbs 87180C04 2A922893 C8855394 69656C18.
  ShareBound s = exact_share(100, 0, 16);
  EXPECT_EQ(hex_of(s.value, 32), "87180C042A922893C885539469656C18");
  EXPECT_EQ(s.above, wide_from_units(16 * parts_per_term, 0));
  // Shares of adjacent stretches add up.
  ShareBound x = exact_share(100, 0, 8), y = exact_share(100, 8, 16);
  EXPECT_EQ(wide_add(x.value, y.value), s.value);
}

TEST(Exact, WholeSeriesGivesTheDigitsOfPi) {
  for (uint64_t where = 1; where + 31 <= pi_start.size(); ++where) {
    uint64_t head = head_end(where), tail_terms = 0;
    ShareBound h = exact_share(where, 0, head);
    ShareBound t = tail_share(where, head, &tail_terms);
    Wide total = wide_add(h.value, t.value);
    Wide above = wide_add(h.above, t.above);
    int certain = wide_certain_digits(total, t.below, above);
    ASSERT_GE(certain, 40) << where;
    EXPECT_EQ(hex_of(total, 32), pi_start.substr(where - 1, 32)) << where;
    // The tail from term 0 covers positive exponents as well.
    ShareBound all = tail_share(where, 0, nullptr);
    EXPECT_EQ(hex_of(all.value, 40), hex_of(total, 40)) << where;
  }
}

TEST(Exact, TailStopsWhereEveryFurtherPartIsBelowOneUnit) {
  for (uint64_t where : {uint64_t(1000000), uint64_t(123456789012ull)}) {
    uint64_t head = head_end(where), summed = 0;
    tail_share(where, head, &summed);
    EXPECT_GE(summed, 10u);
    EXPECT_LE(summed, 13u);
    // Every part after the last term summed floors to 0, or to one unit
    // below 0 for a negative weight: each is below 2^-192.
    for (uint64_t k = head + summed; k < head + summed + 5; ++k)
      for (int p = 0; p < parts_per_term; ++p) {
        Wide f = part_floor(where, k, p);
        EXPECT_EQ(hex_of(f, 48), std::string(48, term_parts[p].weight > 0 ? '0' : 'F')) << k << " " << p;
      }
  }
}

}  // namespace
