// wide_test.cpp: the 192-bit fractions against native 128-bit arithmetic where the compiler has it, and their digit certainty at the edges.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "hex_text.h"
#include "wide.h"

namespace {

Wide from_hex(const char *hex) {
  Wide w{};
  for (int i = 0; hex[i]; ++i) {
    char c = hex[i];
    uint32_t v = uint32_t(hex_value(c));
    w.d[i / 8] |= v << (28 - 4 * (i % 8));
  }
  return w;
}

std::string hex_of(const Wide &w, int n = 48) {
  char buf[49];
  wide_hex(w, n, buf);
  return buf;
}

Wide unit(int shift = 0) { return wide_from_units(1, shift); }

TEST(Wide, CarryAndBorrowRunThroughEveryDigitAndOutOfTheTop) {
  Wide all = from_hex("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
  uint32_t carry = 9;
  Wide z = wide_add(all, unit(), &carry);
  EXPECT_TRUE(wide_is_zero(z));
  EXPECT_EQ(carry, 1u);
  uint32_t borrow = 9;
  EXPECT_EQ(wide_sub(Wide{}, unit(), &borrow), all);
  EXPECT_EQ(borrow, 1u);
  wide_sub(all, unit(), &borrow);
  EXPECT_EQ(borrow, 0u);
  EXPECT_TRUE(wide_less(unit(), unit(1)));
  EXPECT_FALSE(wide_less(unit(1), unit(1)));
  EXPECT_EQ(wide_add_saturated(all, unit()), all);
}

TEST(Wide, UnitsLandAcrossDigitBoundariesAndTheIntegerPartDrops) {
  EXPECT_EQ(hex_of(wide_from_units(0x123456789ABCDEF0ull, 0)),
            "00000000000000000000000000000000123456789ABCDEF0");
  EXPECT_EQ(hex_of(wide_from_units(0x123456789ABCDEF0ull, 4)),
            "0000000000000000000000000000000123456789ABCDEF00");
  EXPECT_EQ(hex_of(wide_from_units(0xFull, 188)), "F00000000000000000000000000000000000000000000000");
  // 0xF0 at 2^188: the high four bits are the integer part.
  EXPECT_EQ(hex_of(wide_from_units(0xF1ull, 188)), "100000000000000000000000000000000000000000000000");
}

TEST(Wide, RatioIsTheExactFloorOfTheQuotient) {
  // 1/3 = 0.5555... in hexadecimal.
  EXPECT_EQ(hex_of(wide_ratio(1, 3, wide_bits)), "555555555555555555555555555555555555555555555555");
  // 4/16 through a shift: the integer quotient placed high.
  EXPECT_EQ(hex_of(wide_ratio(4, 1, wide_bits - 4)), "400000000000000000000000000000000000000000000000");
  // A 62-bit denominator keeps its remainder exact through every doubling.
  const uint64_t m = (uint64_t(1) << 62) - 57;
  Wide r = wide_ratio(m - 1, m, wide_bits);
  Wide s = wide_ratio(1, m, wide_bits);
  // (m-1)/m + 1/m = 1: the floors add to 1 - one unit (each floor inexact).
  Wide sum = wide_add(wide_add(r, s), unit());
  EXPECT_TRUE(wide_is_zero(sum));
}

#ifdef __SIZEOF_INT128__
TEST(Wide, AgreesWithNativeArithmeticModulo2To128) {
  std::mt19937_64 rng(7);
  auto to_native = [](const Wide &w) {
    unsigned __int128 v = 0;
    for (int i = 0; i < 4; ++i) v = v << 32 | w.d[i];
    return v;
  };
  for (int n = 0; n < 2000; ++n) {
    uint32_t a[4], b[4];
    for (int i = 0; i < 4; ++i) {
      a[i] = uint32_t(rng());
      b[i] = n % 3 ? uint32_t(rng()) : 0xFFFFFFFFu;
    }
    Wide wa = wide_from_limbs(a), wb = wide_from_limbs(b);
    ASSERT_EQ(to_native(wide_add(wa, wb)), to_native(wa) + to_native(wb));
    ASSERT_EQ(to_native(wide_sub(wa, wb)), to_native(wa) - to_native(wb));
    // The ratio's top 128 bits against a native 128-bit division.
    uint64_t den = (rng() >> (n % 60)) | 1;
    if (den >= (uint64_t(1) << 63)) den >>= 1;
    uint64_t num = rng() % den;
    unsigned __int128 q = ((unsigned __int128)num << 64) / den;  // floor(num * 2^64 / den)
    Wide r = wide_ratio(num, den, wide_bits);
    ASSERT_EQ(uint64_t(to_native(r) >> 64), uint64_t(q)) << num << "/" << den;
  }
}
#endif

TEST(Wide, CertainDigitsAreThoseNoValueInTheIntervalChanges) {
  Wide s = from_hex("123456789ABCDEF0");
  EXPECT_EQ(wide_certain_digits(s, Wide{}, Wide{}), 48);
  // Adding up to 2^-64 may raise the 16th digit (weight 16^-16) but no other.
  Wide e = unit(128);
  EXPECT_EQ(wide_certain_digits(s, Wide{}, e), 15);
  // ...F0 followed by zeros: anything below it changes the digit F0 -> EF.
  EXPECT_EQ(wide_certain_digits(s, unit(), Wide{}), 14);
  // A run of F's: a tiny addition carries all the way up.
  Wide f = from_hex("12FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
  EXPECT_EQ(wide_certain_digits(f, Wide{}, unit()), 1);
  // Across a whole number nothing is certain, in either direction.
  Wide top = from_hex("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
  EXPECT_EQ(wide_certain_digits(top, Wide{}, unit()), 0);
  EXPECT_EQ(wide_certain_digits(Wide{}, unit(), Wide{}), 0);
  EXPECT_EQ(wide_certain_digits(Wide{}, Wide{}, unit()), 47);
}

}  // namespace
