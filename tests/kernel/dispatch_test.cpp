/*
 * dispatch_test.cpp: the vendor codes, the choice of variant, the progress
 * figures and the end of the series' head.
 */
#include <gtest/gtest.h>

#include <cstring>

#include "kernel_harness.h"
#include "platform.h"
#include "reference.h"

namespace {

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    x87_enter_kernel_mode();
    saved_family = kernel.cpu_family;
    saved_vendor = kernel.cpu_vendor;
    saved_tiers = kernel.fast_tiers;
    kernel.forced_variant = -1;
  }
  void TearDown() override {
    kernel.cpu_family = saved_family;
    kernel.cpu_vendor = saved_vendor;
    kernel.fast_tiers = saved_tiers;
    kernel.forced_variant = -1;
    kernel.chosen_variant = -1;
    kernel.on_terms_done = nullptr;
  }
  uint8_t saved_family = 0;
  int32_t saved_vendor = -1;
  uint32_t saved_tiers = 1;
};

TEST_F(DispatchTest, VendorCodesCompareWholeStringsExactly) {
  EXPECT_EQ(cpu_vendor_code("GenuineIntel"), 0);
  EXPECT_EQ(cpu_vendor_code("AuthenticAMD"), 1);
  EXPECT_EQ(cpu_vendor_code("CyrixInstead"), 2);
  EXPECT_EQ(cpu_vendor_code("CentaurHauls"), 3);
  EXPECT_EQ(cpu_vendor_code("genuineintel"), -1);
  EXPECT_EQ(cpu_vendor_code("GENUINEINTEL"), -1);
  EXPECT_EQ(cpu_vendor_code("GenuineInte"), -1);
  EXPECT_EQ(cpu_vendor_code("GenuineIntelX"), -1);
  EXPECT_EQ(cpu_vendor_code(""), -1);
}

TEST_F(DispatchTest, OnlyIntelFamilyFiveRunsThePentiumVariant) {
  // Every other processor runs the generic variant, or the fast one where
  // one of its tiers pays on this build; with only the scalar tier and no
  // 64-bit build that is the generic one.
  const struct {
    int32_t vendor;
    uint8_t family;
    bool pentium;
  } cases[] = {
      {0, 5, true},  {0, 6, false}, {0, 4, false}, {0, 15, false}, {1, 5, false},
      {2, 5, false}, {3, 5, false}, {-1, 5, false}, {-1, 3, false},
  };
  for (uint32_t tiers : {uint32_t(1), fast_probe()}) {
    kernel.fast_tiers = tiers;
    Variant other = fast_tier_preferred() ? Variant::fast : Variant::generic;
#if !defined(__x86_64__)
    if (tiers == 1) {
      EXPECT_EQ(other, Variant::generic);
    }
#endif
    for (auto &c : cases) {
      kernel.cpu_vendor = c.vendor;
      kernel.cpu_family = c.family;
      EXPECT_EQ(kernel_variant(), c.pentium ? Variant::pentium : other)
          << "vendor " << c.vendor << " family " << int(c.family) << " tiers " << tiers;
    }
  }
  // Forcing overrides the rule either way.
  kernel.cpu_vendor = 1;
  kernel.cpu_family = 6;
  kernel.forced_variant = int(Variant::pentium);
  EXPECT_EQ(kernel_variant(), Variant::pentium);
  kernel.cpu_vendor = 0;
  kernel.cpu_family = 5;
  kernel.forced_variant = int(Variant::generic);
  EXPECT_EQ(kernel_variant(), Variant::generic);
}

// The answers of one reading of the processor decide both the identity and
// the fast tiers: a 386 or 486 keeps its family and vendor string, and a
// vector tier needs the instruction bits and the system saving the
// registers it uses.
TEST_F(DispatchTest, IdentityAndTiersFollowFromOneReading) {
  char saved_string[13];
  std::memcpy(saved_string, kernel.cpu_vendor_string, sizeof saved_string);
  CpuInfo id{};
  cpu_identify_from(id);
  EXPECT_EQ(kernel.cpu_family, 3);
  id.alignment_check = true;
  std::strcpy(kernel.cpu_vendor_string, "kept");
  cpu_identify_from(id);
  EXPECT_EQ(kernel.cpu_family, 4);
  EXPECT_STREQ(kernel.cpu_vendor_string, "kept") << "no CPUID: the string stays";
  EXPECT_EQ(fast_tiers_of(id), 1u);

  // A Pentium: family 5, leaf 1 only.
  id.cpuid = true;
  id.max_leaf = 1;
  std::strcpy(id.vendor, "GenuineIntel");
  id.leaf1_eax = 0x543;
  id.leaf1_edx = 0x1BF;
  cpu_identify_from(id);
  EXPECT_EQ(kernel.cpu_family, 5);
  EXPECT_EQ(kernel.cpu_features, 0x1BFu);
  EXPECT_STREQ(kernel.cpu_vendor_string, "GenuineIntel");
  EXPECT_EQ(fast_tiers_of(id), 1u);
  std::memcpy(kernel.cpu_vendor_string, saved_string, sizeof saved_string);

#if defined(__i386__) || defined(__x86_64__)
  // Every instruction bit set; what runs depends on the saved state.
  id.max_leaf = 7;
  id.leaf1_ecx = (1u << 12) | (1u << 27) | (1u << 28);  // FMA, OSXSAVE, AVX
  id.leaf7_ebx = (1u << 5) | (1u << 16) | (1u << 21);   // AVX2, AVX-512F, IFMA
  id.xcr0 = 0x07;
  EXPECT_EQ(fast_tiers_of(id), 3u) << "no AVX-512 state: AVX2 only";
  id.xcr0 = 0xE7;
  EXPECT_EQ(fast_tiers_of(id), 7u);
  id.xcr0 = 0x03;
  EXPECT_EQ(fast_tiers_of(id), 1u) << "the system does not save the upper halves";
  id.xcr0 = 0xE7;
  id.leaf1_ecx &= ~(1u << 27);
  EXPECT_EQ(fast_tiers_of(id), 1u) << "no OSXSAVE";
  id.leaf1_ecx |= 1u << 27;
  id.leaf1_ecx &= ~(1u << 12);
  EXPECT_EQ(fast_tiers_of(id), 1u) << "AVX2 without FMA";
  id.leaf1_ecx |= 1u << 12;
  id.max_leaf = 6;
  EXPECT_EQ(fast_tiers_of(id), 1u) << "leaf 7 not offered";
#endif
  // This processor read once gives what the probe gives.
  EXPECT_EQ(fast_tiers_of(cpu_read()), fast_probe());
}

TEST_F(DispatchTest, ClassificationOfThisProcessor) {
  cpu_classify();
  EXPECT_EQ(kernel.cpu_vendor, cpu_vendor_code(kernel.cpu_vendor_string));
  EXPECT_EQ(std::strlen(kernel.cpu_vendor_string), 12u);  // every x86 this runs on has CPUID
  EXPECT_GE(kernel.cpu_family, 4);
}

TEST_F(DispatchTest, DispatchedEntriesUseTheChosenVariant) {
  // Each variant keeps its own running form of the accumulator, so a slot
  // is only right when init, step and finish all go to one variant. Under
  // an Intel family-5 identity the step leaves Pentium-normalised doubles
  // (s0 = L0 * 2^-32), which no other variant does.
  kernel.on_terms_done = [](WorkSlot *) {};
  for (uint8_t family : {uint8_t(5), uint8_t(6)}) {
    kernel.cpu_vendor = 0;
    kernel.cpu_family = family;
    kernel_init();
    TestSlot t;
    t.slot->where = 100;
    t.slot->end_pos = 16;
    kernel_step(t.slot);
    bool pentium_form = sums_cell(t.slot, 0) == double(0x87180C04u) / 4294967296.0;
    EXPECT_EQ(pentium_form, family == 5) << "family " << int(family);
    kernel_finish(t.slot);
    uint32_t limbs[4];
    slot_limbs(t.slot, limbs);
    EXPECT_EQ(limbs[0], 0x87180C04u) << "family " << int(family);
    EXPECT_EQ(limbs[1], 0x2A922893u) << "family " << int(family);
    EXPECT_EQ(limbs[2], 0xC8855394u) << "family " << int(family);
  }
}

TEST_F(DispatchTest, ProgressFigures) {
  kernel_progress(1000000, 5000, 9000, 5000);
  EXPECT_EQ(kernel.percent_done, 0.0f);
  kernel_progress(1000000, 5000, 9000, 9000);
  EXPECT_EQ(kernel.percent_done, 100.0f);
  kernel_progress(1000000, 5000, 9000, 6000);
  EXPECT_EQ(kernel.percent_done, 25.0f);
  // An empty range (a used-up unit with equal bounds) shows as done, never
  // as the result of a division by zero.
  kernel_progress(1000000, 7000, 7000, 7000);
  EXPECT_EQ(kernel.percent_done, 100.0f);

  // x = where - 5 * done_count; the x87 variants' cost follows its binary
  // exponent E.
  const struct {
    int e;
    int32_t cost;
  } table[] = {{0, 423}, {10, 4681}, {20, 8939}, {30, 13198}, {40, 17456}, {50, 21714}};
  for (Variant v : {Variant::generic, Variant::pentium}) {
    kernel.forced_variant = int(v);
    for (auto &row : table) {
      uint64_t x = uint64_t(1) << row.e;
      kernel_progress(x, 0, 100, 0);
      EXPECT_EQ(kernel.term_cost, row.cost) << "x = 2^" << row.e;
      kernel_progress(x + x / 2 + 5 * 1000, 0, 100000, 1000);  // 1.5 * 2^E has the same E
      EXPECT_EQ(kernel.term_cost, row.cost) << "x = 1.5 * 2^" << row.e;
    }
  }
  kernel_progress(uint64_t(1) << 40, 0, 1, 0);
  EXPECT_EQ(kernel.term_cost, 17456);
}

TEST_F(DispatchTest, TheVolunteersChoiceHoldsWhileTheProcessorCanRunIt) {
  kernel.cpu_vendor = 0;
  kernel.cpu_family = 6;
  kernel.fast_tiers = 1 | 2;  // scalar and AVX2: the rule picks fast
  EXPECT_EQ(kernel_choose("pentium"), KernelChoice::applied);
  EXPECT_EQ(kernel_variant(), Variant::pentium);
  EXPECT_EQ(kernel_choose("GENERIC"), KernelChoice::applied);
  EXPECT_EQ(kernel_variant(), Variant::generic);
  EXPECT_EQ(kernel_choose("Auto"), KernelChoice::applied);
  EXPECT_EQ(kernel_variant(), Variant::fast);
  // Unknown values leave Auto, also after an earlier choice.
  kernel_choose("generic");
  for (const char *bad : {"x87", "fastest", "generic ", "Aut"}) {
    EXPECT_EQ(kernel_choose(bad), KernelChoice::unknown) << bad;
    EXPECT_EQ(kernel_variant(), Variant::fast) << bad;
  }
  EXPECT_EQ(kernel_choose(""), KernelChoice::applied);
  EXPECT_EQ(kernel_variant(), Variant::fast);
  // Fast without a vector tier is refused; withdrawn later, it falls back.
  kernel.fast_tiers = 1;
  EXPECT_EQ(kernel_choose("fast"), KernelChoice::unsupported);
  EXPECT_EQ(kernel_variant(), Variant::generic);
  kernel.fast_tiers = 1 | 2;
  EXPECT_EQ(kernel_choose("fast"), KernelChoice::applied);
  kernel.cpu_family = 5;  // the rule's own pick is now the Pentium variant
  kernel.fast_tiers = 1;
  EXPECT_EQ(kernel_variant(), Variant::pentium);
  // A forced variant (tests, the companion tool) overrides the choice.
  kernel.forced_variant = int(Variant::generic);
  EXPECT_EQ(kernel_variant(), Variant::generic);
}

TEST_F(DispatchTest, HeadEndMatchesItsDefinition) {
  for (uint64_t where = 0; where < 3000; ++where)
    ASSERT_EQ(head_end(where), ref_head_end(where)) << "where " << where;
  TestRandom rnd{7};
  for (int i = 0; i < 2000; ++i) {
    uint64_t where = random_next(&rnd) >> random_range(&rnd, 4, 63);
    ASSERT_EQ(head_end(where), ref_head_end(where)) << "where " << where;
  }
  for (uint64_t where : {where_limit - 1, where_limit, uint64_t(1) << 59})
    EXPECT_EQ(head_end(where), ref_head_end(where)) << "where " << where;
  EXPECT_EQ(head_end(5), 0u);   // term 0 already reaches exponent 0
  EXPECT_EQ(head_end(6), 1u);
  EXPECT_EQ(head_end(100), 19u);
}

}  // namespace
