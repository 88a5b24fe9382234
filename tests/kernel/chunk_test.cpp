/*
 * chunk_test.cpp: whole chunks through kernel_step and kernel_finish, every
 * variant (the fast one in each tier this processor has), against the
 * integer reference: every small chunk, random large ones up to the largest
 * exact position, the published vectors, the digits of pi with the
 * reference's tail, and the rules of the block.
 */
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "kernel_harness.h"
#include "platform.h"
#include "reference.h"
#include "result_line.h"

namespace {

std::string hex128(const Fixed &f) {
  char buf[36];
  fixed_format128(f, buf);
  return buf;
}

// The kernel's finished chunk against the reference share: the limbs are
// well formed, the 128-bit value lies in the window
//   -parts * 2^-32 <= shortfall <= shortfall_bound(parts)   (units of 2^-128)
// and, unless a 2^-96 boundary falls inside that window, L0..L2 are the
// reference's top 96 bits.
::testing::AssertionResult chunk_agrees(const KernelUnderTest &k, const RefShare &ref,
                                        const ChunkRun &run) {
  Variant v = k.variant;
  auto fail = [&]() {
    return ::testing::AssertionFailure()
           << k.name << ": got " << hex128(run.value) << ", reference "
           << hex128(ref.sum160) << " (" << ref.parts << " parts): ";
  };
  if (!run.reached_end) return fail() << "the chunk did not reach its end";
  if (run.kernel_error) return fail() << "kernel_error set";
  for (int i = 0; i < 4; ++i) {
    double c = run.cells[i];
    if (!(c >= 0 && c < 4294967296.0)) return fail() << "limb " << i << " out of range: " << c;
    if (i < 3 || v != Variant::pentium) {
      if (c != std::floor(c)) return fail() << "limb " << i << " not whole: " << c;
    }
    if (run.limbs[i] != uint32_t(c)) return fail() << "printed limb " << i << " differs";
  }
  double shortfall = shortfall_ulps(ref, run.value);
  double bound = shortfall_bound(v, ref.parts);
  double floor_slack = double(ref.parts) / 4294967296.0;
  record_shortfall(k, shortfall, ref.parts);
  if (shortfall > bound || shortfall < -floor_slack)
    return fail() << "shortfall " << shortfall << " units of 2^-128, window [" << -floor_slack
                  << ", " << bound << "]";
  // Top 96 bits: compare digits only once the 128-bit values agree, and only
  // where the window does not straddle a carry into L2.
  Fixed lowest = fixed_add_units(ref.sum160, -int64_t(std::ceil(bound * 4294967296.0)));
  Fixed highest = fixed_add_units(ref.sum160, int64_t(ref.parts));
  bool straddles = false;
  for (int i = 0; i < 3; ++i) straddles = straddles || lowest.d[i] != highest.d[i];
  if (!straddles) {
    for (int i = 0; i < 3; ++i)
      if (run.value.d[i] != ref.sum160.d[i]) return fail() << "limb " << i << " differs";
  }
  // The fast variant sums the same exact 160-bit floors as the reference.
  if (v == Variant::fast && !(run.value == fixed_floor128(ref.sum160)))
    return fail() << "not the floor of the exact 160-bit sum";
  return ::testing::AssertionSuccess();
}

class ChunkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kernel_count = kernels_under_test(kernels);
    kernel_harness_reset(Variant::generic);
  }
  void TearDown() override { kernel_harness_release(); }
  // Every kernel over one chunk, against one reference.
  void check_chunk(uint64_t where, uint64_t srt, uint64_t end) {
    RefShare ref = ref_share(where, srt, end);
    for (int i = 0; i < kernel_count; ++i) {
      kernel_harness_reset(kernels[i]);
      ChunkRun run = run_chunk(where, srt, end);
      ASSERT_TRUE(chunk_agrees(kernels[i], ref, run))
          << "where " << where << ", chunk [" << srt << ", " << end << ")";
    }
  }
  KernelUnderTest kernels[kernels_under_test_max];
  int kernel_count = 0;
};

TEST_F(ChunkTest, EverySmallChunk) {
  for (uint64_t where = 10; where <= 60; ++where) {
    uint64_t h = head_end(where);
    for (uint64_t a = 0; a < h; ++a)
      for (uint64_t b = a + 1; b <= h; ++b) {
        check_chunk(where, a, b);
        if (HasFatalFailure()) return;
      }
  }
}

TEST_F(ChunkTest, RandomChunksUpToTheLargestPosition) {
  TestRandom rnd{2024};
  const int chunks = 120;
  for (int i = 0; i < chunks; ++i) {
    // Positions spread over every binary order from 2^4 to where_limit.
    int order = 4 + i % 52;
    uint64_t where = random_range(&rnd, uint64_t(1) << order, (uint64_t(2) << order) - 1);
    uint64_t h = head_end(where);
    uint64_t length = i % 8 == 0 ? 1 : random_range(&rnd, 1, i % 3 == 0 ? 3000 : 300);
    if (length > h) length = h;
    uint64_t srt;
    switch (i % 4) {
      case 0: srt = h - length; break;                               // ends at the head's end
      case 1: srt = random_range(&rnd, 0, h - length) | 1; break;    // odd start
      case 2: srt = random_range(&rnd, 0, h - length) & ~uint64_t(1); break;
      default: srt = random_range(&rnd, 0, h - length); break;
    }
    if (srt + length > h) srt = h - length;
    check_chunk(where, srt, srt + length);
    if (HasFatalFailure()) return;
  }
}

// Prints, once all tests have run, the shortfalls the chunk tests saw, to
// show how much room each window leaves.
class ShortfallReport : public ::testing::Environment {
 public:
  void TearDown() override {
    for (const ShortfallStats &s : shortfall_stats) {
      if (!s.name) continue;
      std::printf("[ info ] %s: %llu chunks, shortfall from %.4g to %.4g units of 2^-128, at "
                  "most %.3g of the bound\n",
                  s.name, (unsigned long long)s.chunks, s.min_shortfall, s.max_shortfall,
                  s.max_ratio);
    }
  }
};
::testing::Environment *const shortfall_report =
    ::testing::AddGlobalTestEnvironment(new ShortfallReport);

TEST_F(ChunkTest, PublishedVectorsAtPosition100) {
  const uint32_t whole[4] = {0x87180C04u, 0x2A922893u, 0xC8855394u, 0x69656C18u};
  const uint32_t first[4] = {0x3A2C2A5Du, 0x6DA5FE34u, 0x0C42C5BDu, 0x20760519u};
  const uint32_t second[4] = {0x4CEBE1A6u, 0xBCEC2A5Fu, 0xBC428DD7u, 0x48EF66FFu};
  for (int k = 0; k < kernel_count; ++k) {
    kernel_harness_reset(kernels[k]);
    Variant v = kernels[k].variant;
    const char *name = kernels[k].name;
    ChunkRun w = run_chunk(100, 0, 16), a = run_chunk(100, 0, 8), b = run_chunk(100, 8, 16);
    struct {
      const ChunkRun *run;
      const uint32_t *limbs;
    } cases[] = {{&w, whole}, {&a, first}, {&b, second}};
    for (auto &c : cases) {
      Fixed vector = fixed_from_limbs(c.limbs);
      // The vectors are exact floors; the kernel may lie a little below.
      double shortfall = double(fixed_signed_diff(vector, c.run->value)) / 4294967296.0;
      EXPECT_GT(shortfall, -1.0) << name << " " << hex128(c.run->value);
      EXPECT_LE(shortfall, shortfall_bound(v, 16 * 14)) << name << " " << hex128(c.run->value);
      for (int i = 0; i < 3; ++i) EXPECT_EQ(c.run->limbs[i], c.limbs[i]) << name << " limb " << i;
    }
    // The halves add up to the whole, up to the kernel's own rounding.
    double gap = double(fixed_signed_diff(fixed_add(a.value, b.value), w.value)) / 4294967296.0;
    EXPECT_LE(std::fabs(gap), shortfall_bound(v, 16 * 14) + 1.0) << name;
  }
  // A chunk resumed under the other variant: the accumulator is never carried
  // over, so the halves of either variant add up to the whole.
  kernel_harness_reset(Variant::generic);
  ChunkRun a = run_chunk(100, 0, 8);
  kernel_harness_reset(Variant::pentium);
  ChunkRun b = run_chunk(100, 8, 16);
  Fixed sum = fixed_add(a.value, b.value);
  double shortfall = double(fixed_signed_diff(fixed_from_limbs(whole), sum)) / 4294967296.0;
  EXPECT_GT(shortfall, -2.0);
  EXPECT_LE(shortfall, shortfall_bound(Variant::generic, 16 * 14));
}

// Kernel head plus reference tail: the hexadecimal digits of pi.
TEST_F(ChunkTest, HeadAndExactTailGiveDigitsOfPi) {
  for (int k = 0; k < kernel_count; ++k) {
    Variant v = kernels[k].variant;
    const char *name = kernels[k].name;
    for (int where = 10; where <= pi_hex_digit_count - 40; where += where < 64 ? 1 : 9) {
      kernel_harness_reset(kernels[k]);
      uint64_t h = head_end(uint64_t(where));
      ChunkRun head = run_chunk(uint64_t(where), 0, h);
      ASSERT_TRUE(head.reached_end);
      ASSERT_EQ(head.kernel_error, 0);
      RefShare tail = ref_tail(uint64_t(where), h);
      Fixed total = fixed_add(head.value, tail.sum160);
      Fixed pi = pi_digits_at(where);
      // pi lies in [head_true + tail.sum160, ... + tail.parts units); the
      // kernel's head lies at most its bound below head_true.
      double shortfall = double(fixed_signed_diff(pi, total)) / 4294967296.0;
      ASSERT_GE(shortfall, -double(tail.parts) / 4294967296.0) << name << " where " << where;
      ASSERT_LE(shortfall, shortfall_bound(v, h * 14) + 1.0) << name << " where " << where;
      if (where == 10) {
        EXPECT_EQ(hex128(pi), "5A308D31 3198A2E0 3707344A 40938222");
        EXPECT_EQ(hex128(total).substr(0, 26), "5A308D31 3198A2E0 3707344A") << name;
      }
    }
  }
}

// A callback that counts and checks what the step shows it.
struct CallbackLog {
  int calls;
  uint64_t seen_cur_pos[64];
  bool retire;
};
CallbackLog callback_log;
void logging_terms_done(WorkSlot *slot) {
  if (callback_log.calls < 64) callback_log.seen_cur_pos[callback_log.calls] = slot->cur_pos;
  ++callback_log.calls;
  if (callback_log.retire) slot->thread_number = -1;
}

TEST_F(ChunkTest, BlocksOfSixteenAndTheLastBlock) {
  for (int k = 0; k < kernel_count; ++k) {
    kernel_harness_reset(kernels[k]);
    const char *name = kernels[k].name;
    kernel.on_terms_done = logging_terms_done;
    callback_log = CallbackLog{};
    TestSlot t;
    WorkSlot *s = t.slot;
    s->where = 1000;  // head_end is 199
    s->srt_pos = s->cur_pos = 0;
    s->end_pos = 100;
    for (uint64_t expect = 16; expect <= 96; expect += 16) {
      kernel_step(s);
      ASSERT_EQ(s->cur_pos, expect) << name;
    }
    kernel_step(s);  // the last four terms
    EXPECT_EQ(s->cur_pos, 100u) << name;
    EXPECT_EQ(callback_log.calls, 7) << name;
    // The callback comes first, before the block moves cur_pos.
    for (int i = 0; i < 7; ++i) EXPECT_EQ(callback_log.seen_cur_pos[i], uint64_t(16 * i));

    // A chunk of six terms ends in one step.
    TestSlot six;
    six.slot->where = 1000;
    six.slot->cur_pos = six.slot->srt_pos = 40;
    six.slot->end_pos = 46;
    kernel_step(six.slot);
    EXPECT_EQ(six.slot->cur_pos, 46u) << name;
    EXPECT_EQ(kernel.kernel_error, 0);
  }
}

TEST_F(ChunkTest, RetiredSlotIsNotStepped) {
  for (int k = 0; k < kernel_count; ++k) {
    kernel_harness_reset(kernels[k]);
    const char *name = kernels[k].name;
    kernel.on_terms_done = logging_terms_done;
    callback_log = CallbackLog{};
    callback_log.retire = true;
    TestSlot t;
    t.slot->where = 1000;
    t.slot->end_pos = 32;
    kernel_step(t.slot);
    EXPECT_EQ(callback_log.calls, 1);
    EXPECT_EQ(t.slot->cur_pos, 0u) << name;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(t.slot->sums[i], 0u) << name;
  }
}

TEST_F(ChunkTest, FinishOfEmptySumsGivesZeroLimbs) {
  for (int k = 0; k < kernel_count; ++k) {
    kernel_harness_reset(kernels[k]);
    const char *name = kernels[k].name;
    TestSlot t;
    kernel_finish(t.slot);
    uint32_t limbs[4];
    slot_limbs(t.slot, limbs);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(sums_cell(t.slot, i), 0.0) << name;
      EXPECT_EQ(limbs[i], 0u) << name;
    }
  }
}

TEST_F(ChunkTest, TermsPastTheHeadSetTheErrorAndTheBlockStillEnds) {
  // At where = 10 term 1 reaches exponent 0 (and group 0 of the generic
  // variant starts at 0): the range check fails, yet the block returns with
  // cur_pos advanced.
  for (int k = 0; k < kernel_count; ++k) {
    kernel_harness_reset(kernels[k]);
    const char *name = kernels[k].name;
    TestSlot t;
    t.slot->where = 10;
    t.slot->end_pos = 2;
    kernel_step(t.slot);
    x87_enter_kernel_mode();
    EXPECT_EQ(kernel.kernel_error, 1) << name;
    EXPECT_EQ(t.slot->cur_pos, 2u) << name;
  }
}

// The line a worker writes for a finished slot reads back as that slot:
// position and stretch with their high words, and the limbs as printed. The
// chunk [0, 16) at position 100 is the published share 87180C04 2A922893
// C8855394 69656C18, whose last limb may differ in its lowest bits.
TEST_F(ChunkTest, ResultLineOfAFinishedSlotReadsBackAsTheSlot) {
  for (int k = 0; k < kernel_count; ++k) {
    kernel_harness_reset(kernels[k]);
    const char *name = kernels[k].name;
    struct Case {
      uint64_t where, srt, end;
    } cases[] = {{100, 0, 16}, {(uint64_t(1) << 40) + 3, (uint64_t(1) << 32) + 5, (uint64_t(1) << 32) + 21}};
    for (const Case &c : cases) {
      TestSlot t;
      t.slot->where = c.where;
      t.slot->srt_pos = t.slot->cur_pos = c.srt;
      t.slot->end_pos = c.end;
      while (t.slot->cur_pos < t.slot->end_pos) kernel_step(t.slot);
      kernel_finish(t.slot);
      char text[result_line_length + 1];
      format_result_line(slot_result_line(t.slot), text);
      ASSERT_EQ(std::string(text).size(), result_line_length) << name;
      ResultLine back{};
      const char *why = nullptr;
      ASSERT_TRUE(parse_result_line(text, result_line_length, &back, &why)) << name << ": " << why;
      EXPECT_EQ(back.where, c.where) << name;
      EXPECT_EQ(back.srt, c.srt) << name;
      EXPECT_EQ(back.end, c.end) << name;
      uint32_t limbs[4];
      slot_limbs(t.slot, limbs);
      for (int i = 0; i < 4; ++i) EXPECT_EQ(back.limbs[i], limbs[i]) << name << " limb " << i;
      if (c.where == 100) {
        EXPECT_EQ(std::string(text, 75),
                  "0000000000000064,0000000000000000,0000000000000010,87180C042A922893C8855394")
            << name;
      }
    }
  }
}

}  // namespace
