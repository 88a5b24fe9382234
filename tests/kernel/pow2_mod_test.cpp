/*
 * pow2_mod_test.cpp: both cores of pow2_mod lane by lane: the same modulus,
 * weight and exponent in every lane of both variants must describe the same
 * value, within 2^-120 below the exact fraction; plus the runs of several
 * terms, the advance of the batch and the range check.
 */
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "kernel_harness.h"
#include "platform.h"
#include "reference.h"

namespace {

// 2^-120 in units of 2^-160: the promised accuracy of one term.
constexpr int64_t term_tolerance = int64_t(1) << 40;

// Largest error below the exact fraction seen by the lane tests, in units of
// 2^-160, for the report.
int64_t largest_term_error = 0;

void fill_generic(WorkSlot *s, int lane, uint64_t m, int32_t w, int64_t e, uint32_t count = 1) {
  GenericBatch &b = s->k.generic;
  for (int i = 0; i < 4; ++i) {
    b.modulus[i] = 1;
    b.modulus_step[i] = 40;
    b.weight[i] = 0;
  }
  b.modulus[lane] = m;
  b.weight[lane] = w;  // sign-extended into the mask half
  b.exponent = e;
  b.exponent_step = -40;
  b.count = count;
}

void fill_pentium(WorkSlot *s, int lane, uint64_t m, int32_t w, int64_t e, uint32_t count = 1) {
  PentiumBatch &b = s->k.pentium;
  b.modulus_a = lane == 0 ? m : 1;
  b.weight_a = lane == 0 ? float(w) : 0.0f;
  b.modulus_step_a = 20;
  b.modulus_b = lane == 1 ? m : 1;
  b.weight_b = lane == 1 ? float(w) : 0.0f;
  b.modulus_step_b = 8;
  b.exponent = e;
  b.exponent_step = 20;
  b.count = count;
}

// The fraction of a generic s3 cell, or of a Pentium s3 cell in units of
// 2^-128, which must agree exactly between the variants.
double generic_s3_fraction(const WorkSlot *s) {
  double x = sums_cell(s, 3);
  return x - std::floor(x);
}
double pentium_s3_fraction(const WorkSlot *s) {
  double x = std::ldexp(sums_cell(s, 3), 128);
  return x - std::floor(x);
}

// A Pentium accumulator after a completed call: each cell non-negative, below
// its bound and on its grid.
::testing::AssertionResult pentium_normalised(const WorkSlot *s) {
  for (int i = 0; i < 4; ++i) {
    double x = std::ldexp(sums_cell(s, i), 32 * (i + 1));  // in units of its grid
    if (!(x >= 0 && x < 4294967296.0))
      return ::testing::AssertionFailure() << "s" << i << " out of range: " << sums_cell(s, i);
    if (i < 3 && x != std::floor(x))
      return ::testing::AssertionFailure() << "s" << i << " off its grid: " << sums_cell(s, i);
  }
  return ::testing::AssertionSuccess();
}

class Pow2ModTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kernel_harness_reset(Variant::generic);
    pentium::kernel_init();
  }
  void TearDown() override {
    x87_enter_kernel_mode();
    kernel_harness_release();
  }
};

// Exponents of the bit lengths where the cores change course: the split of
// the top six bits at 7, the group boundaries at 12/13 and the second word
// of exponent bits at 30/31, the longest exact Pentium exponent at 62.
std::vector<int64_t> interesting_exponents(bool generic) {
  std::vector<int64_t> es = {1, 2, 3, 32, 63, 64, 65, 127, int64_t(1) << 40,
                             (int64_t(1) << 40) + 1};
  TestRandom rnd{17};
  for (int n : {6, 7, 12, 13, 18, 19, 24, 25, 30, 31, 36, 37, 48, 61, 62, 63}) {
    if (n == 63 && !generic) continue;
    int64_t lo = int64_t(1) << (n - 1);
    int64_t hi = int64_t((uint64_t(1) << n) - 1);  // all ones: the longest pending shifts
    es.push_back(lo);
    es.push_back(hi);
    for (int i = 0; i < 3; ++i) es.push_back(int64_t(random_range(&rnd, uint64_t(lo), uint64_t(hi))));
  }
  return es;
}

std::vector<uint64_t> interesting_moduli() {
  std::vector<uint64_t> ms = {1, 2, 3, 5, 21, 1000003, 1000002, 0xFFFFFFFBull, 0x100000001ull,
                              0x10000000Full, uint64_t(1) << 40, (uint64_t(1) << 58) - 1,
                              (uint64_t(1) << 58) + 19};
  TestRandom rnd{18};
  for (int bits : {20, 33, 45, 52, 57, 58}) ms.push_back(random_range(&rnd, 2, uint64_t(1) << bits));
  return ms;
}

const int32_t test_weights[] = {1, -1, 2, 4, -4, 8, -8, 16, -16, 32, -32, 64};

TEST_F(Pow2ModTest, LanesOfBothVariantsAgreeWithTheExactFraction) {
  int case_number = 0;
  for (uint64_t m : interesting_moduli()) {
    for (int64_t e : interesting_exponents(true)) {
      int32_t w = test_weights[case_number++ % 12];
      Fixed exact = ref_fraction(m, w, e);
      Fixed first{};
      double first_fraction = 0;
      bool have_first = false;
      // Generic lanes 0..3, then (below 2^62) Pentium lanes A and B.
      int lanes = e < (int64_t(1) << 62) ? 6 : 4;
      for (int lane = 0; lane < lanes; ++lane) {
        bool generic = lane < 4;
        TestSlot t;
        if (generic) {
          fill_generic(t.slot, lane, m, w, e);
          generic::pow2_mod(t.slot);
        } else {
          fill_pentium(t.slot, lane - 4, m, w, e);
          pentium::pow2_mod(t.slot);
        }
        const char *where = generic ? "generic lane " : "pentium lane ";
        int shown_lane = generic ? lane + 1 : lane - 4;
        ASSERT_EQ(kernel.kernel_error, 0) << where << shown_lane << " M=" << m << " e=" << e;
        Fixed got = generic ? generic_sums_value(t.slot) : pentium_sums_value(t.slot);
        double fraction = generic ? generic_s3_fraction(t.slot) : pentium_s3_fraction(t.slot);
        if (!generic) {
          ASSERT_TRUE(pentium_normalised(t.slot)) << "M=" << m << " e=" << e;
        }
        int64_t below = fixed_signed_diff(exact, got);
        ASSERT_GE(below, 0) << where << shown_lane << " M=" << m << " w=" << w << " e=" << e;
        ASSERT_LE(below, term_tolerance)
            << where << shown_lane << " M=" << m << " w=" << w << " e=" << e;
        if (below > largest_term_error) largest_term_error = below;
        if (!have_first) {
          first = got;
          first_fraction = fraction;
          have_first = true;
        } else {
          // Every lane of either variant carries the same digits and the same
          // remainder: the same 128-bit value with the same fraction.
          ASSERT_EQ(got, first) << where << shown_lane << " M=" << m << " w=" << w << " e=" << e;
          ASSERT_EQ(fraction, first_fraction)
              << where << shown_lane << " M=" << m << " w=" << w << " e=" << e;
        }
      }
    }
  }
  std::printf("[ info ] largest error of one term below the exact fraction: %.3g units of 2^-128\n",
              double(largest_term_error) / 4294967296.0);
}

TEST_F(Pow2ModTest, FirstExponentsGiveTheirResidues) {
  // e = 1: the residue is 2 for M >= 3 and 0 for M = 1; the weight then picks
  // the fraction. Checked digit by digit on the generic counters.
  TestSlot t;
  fill_generic(t.slot, 0, 7, 1, 1);
  generic::pow2_mod(t.slot);
  EXPECT_EQ(fixed_floor128(generic_sums_value(t.slot)), fixed_floor128(ref_fraction(7, 1, 1)));
  EXPECT_EQ(t.slot->sums[0], 0x49249249u);  // 2/7
  TestSlot one;
  fill_generic(one.slot, 2, 1, -8, 1);
  generic::pow2_mod(one.slot);
  EXPECT_EQ(generic_sums_value(one.slot), Fixed{});
  TestSlot p;
  fill_pentium(p.slot, 1, 1, 64, 63);
  pentium::pow2_mod(p.slot);
  EXPECT_EQ(pentium_sums_value(p.slot), Fixed{});
}

TEST_F(Pow2ModTest, OneTermAdvancesTheBatchByOneStep) {
  TestSlot g;
  fill_generic(g.slot, 1, 0xFFFFFFF1ull, -4, 1000);  // the modulus step carries into the high word
  g.slot->k.generic.modulus_step[1] = 40;
  generic::pow2_mod(g.slot);
  EXPECT_EQ(g.slot->k.generic.count, 0u);
  EXPECT_EQ(g.slot->k.generic.exponent, 960);
  EXPECT_EQ(g.slot->k.generic.modulus[1], 0xFFFFFFF1ull + 40);
  EXPECT_EQ(g.slot->k.generic.modulus[0], 41u);

  TestSlot p;
  fill_pentium(p.slot, 0, 0xFFFFFFF1ull, -4, 1000);
  pentium::pow2_mod(p.slot);
  EXPECT_EQ(p.slot->k.pentium.count, 0u);
  EXPECT_EQ(p.slot->k.pentium.exponent, 980);
  EXPECT_EQ(p.slot->k.pentium.modulus_a, 0xFFFFFFF1ull + 20);
  EXPECT_EQ(p.slot->k.pentium.modulus_b, 9u);
  EXPECT_EQ(kernel.kernel_error, 0);
}

TEST_F(Pow2ModTest, RunsOfTermsSumEveryLane) {
  // Full calls: all lanes busy, several terms, moduli crossing 2^32 on the
  // way; the sum must lie just below the exact sum of the terms' fractions.
  TestRandom rnd{19};
  for (int round = 0; round < 60; ++round) {
    int bits = int(random_range(&rnd, 8, 58));
    int64_t e = int64_t(random_range(&rnd, 700, uint64_t(1) << random_range(&rnd, 10, 61)));
    uint64_t moduli[4];
    int32_t weights[4];
    for (int i = 0; i < 4; ++i) {
      moduli[i] = round % 5 == 0 ? 0xFFFFFF00ull + 2 * i + 1
                                 : random_range(&rnd, 1, uint64_t(1) << bits);
      weights[i] = test_weights[random_range(&rnd, 0, 11)];
    }
    // Generic: eight groups, four lanes, moduli stepping by 40 and 16.
    TestSlot g;
    GenericBatch &gb = g.slot->k.generic;
    Fixed exact_g{};
    for (int i = 0; i < 4; ++i) {
      gb.modulus[i] = moduli[i];
      gb.modulus_step[i] = i == 2 ? 16 : 40;
      gb.weight[i] = weights[i];
      for (int j = 0; j < 8; ++j)
        exact_g = fixed_add(exact_g, ref_fraction(moduli[i] + uint64_t(j) * gb.modulus_step[i],
                                                  weights[i], e - 40 * j));
    }
    gb.exponent = e;
    gb.exponent_step = -40;
    gb.count = 8;
    generic::pow2_mod(g.slot);
    ASSERT_EQ(gb.count, 0u);
    ASSERT_EQ(gb.exponent, e - 320);
    int64_t below = fixed_signed_diff(exact_g, generic_sums_value(g.slot));
    ASSERT_GE(below, 0) << "generic round " << round;
    ASSERT_LE(below, 32 * term_tolerance) << "generic round " << round;

    // Pentium: sixteen terms, two lanes, steps 20 and 8.
    TestSlot p;
    PentiumBatch &pb = p.slot->k.pentium;
    pb.modulus_a = moduli[0];
    pb.modulus_step_a = 20;
    pb.weight_a = float(weights[0]);
    pb.modulus_b = moduli[1];
    pb.modulus_step_b = 8;
    pb.weight_b = float(weights[1]);
    pb.exponent = e;
    pb.exponent_step = 20;
    pb.count = 16;
    Fixed exact_p{};
    for (int j = 0; j < 16; ++j) {
      exact_p = fixed_add(exact_p, ref_fraction(moduli[0] + 20 * uint64_t(j), weights[0], e - 20 * j));
      exact_p = fixed_add(exact_p, ref_fraction(moduli[1] + 8 * uint64_t(j), weights[1], e - 20 * j));
    }
    pentium::pow2_mod(p.slot);
    ASSERT_EQ(pb.count, 0u);
    ASSERT_EQ(pb.exponent, e - 320);
    ASSERT_TRUE(pentium_normalised(p.slot)) << "round " << round;
    below = fixed_signed_diff(exact_p, pentium_sums_value(p.slot));
    ASSERT_GE(below, 0) << "pentium round " << round;
    ASSERT_LE(below, 32 * term_tolerance) << "pentium round " << round;
    ASSERT_EQ(kernel.kernel_error, 0);
  }
}

TEST_F(Pow2ModTest, PentiumKeepsItsAccumulatorNormalisedAcrossCalls) {
  TestSlot p;
  Fixed exact{};
  TestRandom rnd{20};
  for (int call = 0; call < 40; ++call) {
    uint64_t m = random_range(&rnd, 3, uint64_t(1) << 50);
    int32_t w = test_weights[call % 12];
    int64_t e = int64_t(random_range(&rnd, 1, uint64_t(1) << 40));
    fill_pentium(p.slot, call % 2, m, w, e);
    pentium::pow2_mod(p.slot);
    exact = fixed_add(exact, ref_fraction(m, w, e));
    ASSERT_TRUE(pentium_normalised(p.slot)) << "call " << call;
  }
  int64_t below = fixed_signed_diff(exact, pentium_sums_value(p.slot));
  EXPECT_GE(below, 0);
  EXPECT_LE(below, 40 * term_tolerance);
}

// The bytes of the accumulator, to see that a rejected call left them alone.
struct SumsBytes {
  unsigned char b[32];
};
SumsBytes sums_bytes(const WorkSlot *s) {
  SumsBytes r;
  std::memcpy(r.b, s->sums, 32);
  return r;
}
bool operator==(const SumsBytes &a, const SumsBytes &b) { return std::memcmp(a.b, b.b, 32) == 0; }

TEST_F(Pow2ModTest, RejectedExponentsLeaveTheBatchAlone) {
  for (int64_t e : {int64_t(-1), int64_t(0), int64_t(-1000)}) {
    for (bool generic : {true, false}) {
      kernel.kernel_error = 0;
      TestSlot t;
      // Some earlier contribution in the accumulator.
      if (generic) {
        fill_generic(t.slot, 0, 12345, 4, 999);
        generic::pow2_mod(t.slot);
        fill_generic(t.slot, 3, 1000003, -1, e, 3);
      } else {
        fill_pentium(t.slot, 0, 12345, 4, 999);
        pentium::pow2_mod(t.slot);
        fill_pentium(t.slot, 1, 1000003, -1, e, 3);
      }
      SumsBytes before = sums_bytes(t.slot);
      if (generic) {
        generic::pow2_mod(t.slot);
        x87_enter_kernel_mode();  // the generic error path resets the unit
      } else {
        pentium::pow2_mod(t.slot);
      }
      const char *name = generic ? "generic e=" : "pentium e=";
      EXPECT_EQ(kernel.kernel_error, 1) << name << e;
      EXPECT_TRUE(sums_bytes(t.slot) == before) << name << e;
      if (generic) {
        EXPECT_EQ(t.slot->k.generic.count, 3u) << name << e;
        EXPECT_EQ(t.slot->k.generic.exponent, e) << name << e;
        EXPECT_EQ(t.slot->k.generic.modulus[3], 1000003u) << name << e;
      } else {
        EXPECT_EQ(t.slot->k.pentium.count, 3u) << name << e;
        EXPECT_EQ(t.slot->k.pentium.exponent, e) << name << e;
        EXPECT_EQ(t.slot->k.pentium.modulus_b, 1000003u) << name << e;
      }
    }
  }
}

TEST_F(Pow2ModTest, FailureMidCallKeepsTheFinishedTerms) {
  // Generic: groups at e = 40, then 0: the first is added, the second rejected.
  TestSlot one, g;
  fill_generic(one.slot, 1, 1000003, 8, 40);
  generic::pow2_mod(one.slot);
  ASSERT_EQ(kernel.kernel_error, 0);
  fill_generic(g.slot, 1, 1000003, 8, 40, 3);
  generic::pow2_mod(g.slot);
  x87_enter_kernel_mode();
  EXPECT_EQ(kernel.kernel_error, 1);
  EXPECT_EQ(g.slot->k.generic.count, 2u);
  EXPECT_EQ(g.slot->k.generic.exponent, 0);
  EXPECT_EQ(g.slot->k.generic.modulus[1], 1000003u + 40);
  EXPECT_TRUE(sums_bytes(g.slot) == sums_bytes(one.slot));

  // Pentium: terms at e = 20, then 0: the first is added but not normalised.
  kernel.kernel_error = 0;
  TestSlot pone, p;
  fill_pentium(pone.slot, 0, 1000003, 8, 20);
  pentium::pow2_mod(pone.slot);
  ASSERT_EQ(kernel.kernel_error, 0);
  fill_pentium(p.slot, 0, 1000003, 8, 20, 3);
  pentium::pow2_mod(p.slot);
  EXPECT_EQ(kernel.kernel_error, 1);
  EXPECT_EQ(p.slot->k.pentium.count, 2u);
  EXPECT_EQ(p.slot->k.pentium.exponent, 0);
  EXPECT_EQ(p.slot->k.pentium.modulus_a, 1000003u + 20);
  EXPECT_EQ(pentium_sums_value(p.slot), pentium_sums_value(pone.slot));
}

}  // namespace
