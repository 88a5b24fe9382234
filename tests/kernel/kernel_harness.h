/*
 * kernel_harness.h: runs the kernel on test slots and reads its accumulators
 * back as exact fixed-point values, so that tests can compare them with the
 * integer reference.
 */
#pragma once

#include <cstdint>

#include "kernel.h"
#include "reference.h"
#include "test_support.h"

// A slot in its own 784-byte heap block, zeroed, aligned as the workers'
// slots are. Frees the block when it goes out of scope.
struct TestSlot {
  void *block;
  WorkSlot *slot;
  TestSlot();
  ~TestSlot();
  TestSlot(const TestSlot &) = delete;
  TestSlot &operator=(const TestSlot &) = delete;
};

// One way the kernel can evaluate a chunk: a variant, and for the fast
// variant one of its tiers.
struct KernelUnderTest {
  Variant variant;
  int fast_tier;  // forced tier of the fast variant, else -1
  const char *name;
};
// The generic and Pentium variants, then the fast variant with each tier this
// processor supports. Returns how many, at most kernels_under_test_max.
constexpr int kernels_under_test_max = 5;
int kernels_under_test(KernelUnderTest out[kernels_under_test_max]);

// Puts the kernel into a known state for a test of variant v: no error, a
// no-op on_terms_done, the variant (and fast tier) forced, its tables built,
// and the calling thread's x87 unit in the kernel's mode.
void kernel_harness_reset(Variant v, int fast_tier = -1);
void kernel_harness_reset(const KernelUnderTest &k);
// Undoes the forcing and the callback (the dispatch rule decides again).
void kernel_harness_release();

// The value of each accumulator form, modulo 1, floored to 160 bits.
// Generic running form: s0..s2 integer digit counts, s3 a double in 2^-128.
Fixed generic_sums_value(const WorkSlot *slot);
// Pentium running form: four doubles in units of 1 (normalised or not).
Fixed pentium_sums_value(const WorkSlot *slot);
// Finished form: four limbs L0..L3 held as doubles (L3 may carry a fraction).
Fixed limb_sums_value(const WorkSlot *slot);
// The running form of the variant in force.
Fixed running_sums_value(const WorkSlot *slot, Variant v);
// The double held in a sums cell.
double sums_cell(const WorkSlot *slot, int i);

// One chunk through the dispatching entries: kernel_step until cur_pos
// reaches end_pos (at most `end - srt + 2` steps), then kernel_finish.
struct ChunkRun {
  Fixed value;          // the finished limbs' value, with L3's fraction
  uint32_t limbs[4];    // as the result line prints them
  double cells[4];      // the finished cells themselves
  int steps;            // kernel_step calls made
  bool reached_end;     // cur_pos == end_pos when the stepping stopped
  int32_t kernel_error; // kernel.kernel_error afterwards
};
ChunkRun run_chunk(uint64_t where, uint64_t srt, uint64_t end);

// How far the kernel's share lies below the reference's 160-bit sum, in units
// of 2^-128: (sum160 - got) taken in (-1/2, 1/2]. Since the true share is in
// [sum160, sum160 + parts * 2^-160) and the kernel never rounds up, a sound
// kernel gives a value in (-parts * 2^-32, its own loss].
double shortfall_ulps(const RefShare &ref, const Fixed &got);

// The largest shortfall the tests accept for a chunk of `parts` parts.
// Generic: the s3 double, in units of 2^-128, grows to parts * 2^33 and is
// rounded down at every store (at most one per two parts), and is floored
// once by kernel_finish. Pentium: its s3 stays below 2^-89 in a call, so each
// store loses less than 2^-14 units, and L3 keeps its fraction. Fast: exact
// 160-bit floors, floored once to 128 bits.
double shortfall_bound(Variant v, uint64_t parts);

// Extremes observed by the chunk tests, for the report, by kernel name.
struct ShortfallStats {
  const char *name;
  double max_shortfall;
  double min_shortfall;
  double max_ratio;  // shortfall / shortfall_bound
  uint64_t chunks;
};
extern ShortfallStats shortfall_stats[kernels_under_test_max];
void record_shortfall(const KernelUnderTest &k, double shortfall, uint64_t parts);

