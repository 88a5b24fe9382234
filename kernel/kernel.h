/*
 * kernel.h: the compute kernel's interface. A WorkSlot carries one chunk of
 * the series; kernel_step evaluates it block by block, kernel_finish turns
 * its accumulator into four 32-bit limbs. The kernel knows nothing of files,
 * threads or windows: the coordinator reaches it through WorkSlot and the
 * injected on_terms_done callback.
 *
 * Order of calls: cpu_classify, then kernel_init, then (on each worker, with
 * the x87 control word set to 64-bit precision and rounding toward minus
 * infinity) kernel_step repeatedly and kernel_finish before each result line.
 */
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "cpu.h"
#include "series.h"

struct WorkSlot;

// The coordinator's callback, made at the start of every kernel_step.
using TermsDoneFn = void (*)(WorkSlot *slot);

// Term parameters of one generic pow2_mod call: four lanes sharing an exponent.
struct GenericBatch {
  uint64_t modulus[4];
  uint64_t residue_lo[4];  // low 32 bits: residue low word; high 32 bits: 0x43300000
  uint64_t residue_hi[4];  // low 32 bits: residue high word; high 32 bits: 0x45300000
  int64_t quotient[4];
  uint32_t modulus_step[4];
  int64_t weight[4];       // sign-extended: the high half doubles as a mask
  int64_t exponent;
  int32_t exponent_step;   // negative: added after every group
  uint32_t count;          // groups to evaluate; 0 after a normal return
  alignas(16) unsigned char exponent_scratch[16];  // e + 0.5 as extended, top bytes cleared
  uint64_t conversion_scratch;
};

// Term parameters of one Pentium pow2_mod call: two lanes sharing an exponent.
struct PentiumBatch {
  uint64_t modulus_a;
  uint32_t modulus_step_a;
  float weight_a;
  uint64_t modulus_b;
  uint32_t modulus_step_b;
  float weight_b;
  int64_t exponent;
  uint32_t exponent_step;  // subtracted after every term
  uint32_t count;          // terms to evaluate; 0 after a normal return
  uint64_t high_a;         // M_A with its low 32 bits cleared
  uint64_t high_b;
  alignas(16) unsigned char residue_a[16];  // lane A's final residue, extended
  double mod_parts[4];     // low A, high A, low B, high B
  float scale[2];          // 2^v and 2^-v
  alignas(16) unsigned char exponent_scratch[16];  // e as extended, top bytes cleared
  uint32_t group_word[12];
  uint32_t group_last[12];
};

// One part of the series over consecutive terms, as the fast variant's
// tiers take it: lane i has modulus modulus + modulus_step * i and exponent
// exponent - exponent_step * i. The weight's magnitude (a power of two) is
// folded into the exponent, so only its sign is left.
struct FastRun {
  uint64_t modulus;        // odd
  int64_t exponent;        // at least 1 in every lane
  uint32_t modulus_step;
  uint32_t exponent_step;  // subtracted from lane to lane
  int32_t negative;        // 1: the weight is negative
  int32_t reserved;        // 0: pads the run to 32 bytes
};

// The fast variant's block: the 14 parts of up to 16 consecutive terms.
struct FastBatch {
  FastRun run[parts_per_term];
  uint32_t count;      // lanes per run, 1 to 16
  uint32_t tier;       // the FastTier that evaluated the block
  // The sum of every lane's fraction, each floored to 160 bits, as four
  // signed columns of digits of weight 2^-40, 2^-80, 2^-120 and 2^-160. Only
  // the total modulo 1 is fixed: tiers may split it among the columns
  // differently.
  int64_t digits[4];
};

// Kernel state behind the sums: the block being evaluated and the batch.
struct KernelPart {
  int64_t block_base;   // base exponent of the block
  int64_t block_first;  // first term (Pentium, fast) or group (generic) of the block
  int64_t block_length; // its length in terms or groups
  union {
    GenericBatch generic;
    PentiumBatch pentium;
    FastBatch fast;
    unsigned char room[576];  // the size every variant's batch fits in
  };
};
static_assert(sizeof(FastBatch) <= 576, "the fast batch must fit the kernel part");

// One worker's chunk. Positions are unsigned 64-bit term indices; the chunk
// is [srt_pos, end_pos) and cur_pos is the next term to evaluate.
struct alignas(16) WorkSlot {
  int32_t thread_number;  // -1: retired
  int32_t outputf;        // result file of the chunk: 0 or 1
  uint64_t where;         // hexadecimal digit position of pi
  uint64_t srt_pos;
  uint64_t cur_pos;
  uint64_t end_pos;
  // s0..s3, s0 the most significant. While a chunk runs each variant keeps
  // its own form (integer digit counters or doubles); all zero bytes are the
  // empty accumulator for every variant. After kernel_finish: four doubles,
  // each an integer below 2^32 (the last may carry a fraction).
  alignas(16) uint64_t sums[4];
  KernelPart k;
};

constexpr std::size_t slot_block_bytes = 784;  // heap block that holds one slot
static_assert(sizeof(WorkSlot) <= slot_block_bytes - 16, "slot must fit its block");

// The slot inside a 784-byte block: the first 16-byte boundary in it.
inline WorkSlot *slot_in_block(void *block) {
  auto p = reinterpret_cast<std::uintptr_t>(block);
  return reinterpret_cast<WorkSlot *>((p + 15) & ~std::uintptr_t(15));
}

// The kernel variants. The dispatch rule picks one per call; tests and the
// companion tool may force one.
enum class Variant : int { generic = 0, pentium = 1, fast = 2 };

// The fast variant's tiers, slowest first. Scalar runs on every processor;
// the others need instruction-set support from the processor and the
// operating system, and each has a modulus limit beyond which a block falls
// back to a tier that is exact there.
enum class FastTier : int { scalar = 0, avx2 = 1, ifma = 2 };
constexpr int fast_tier_count = 3;

// Process-wide values of the kernel.
struct KernelGlobals {
  // Set to 1 by any worker's pow2_mod when an exponent fails its range check.
  std::atomic<int32_t> kernel_error{0};
  // The coordinator's callback; must be set before the first kernel_step.
  TermsDoneFn on_terms_done = nullptr;

  // Processor identification, refreshed by cpu_classify.
  uint8_t cpu_family = 0;
  uint32_t cpu_features = 0;
  char cpu_vendor_string[13] = {};
  int32_t cpu_vendor = -1;

  // -1: the dispatch rule decides; otherwise the Variant to run (tests and
  // the companion tool).
  int forced_variant = -1;
  // The volunteer's choice from the state file, set by kernel_choose: -1 for
  // Auto, otherwise the Variant to run for as long as the processor can.
  int chosen_variant = -1;

  // Fast tiers the processor and operating system support: bit (1 << tier).
  // The scalar tier's bit is always set; filled by cpu_classify.
  uint32_t fast_tiers = 1;
  // -1: the fastest supported tier; otherwise the FastTier to use where the
  // processor supports it (tests and the benchmark force each in turn).
  int forced_fast_tier = -1;
  // Vector tiers switched off for the rest of the run because they disagreed
  // with the scalar tier at start-up: bit (1 << tier). Probes leave it alone.
  std::atomic<uint32_t> fast_tiers_failed{0};
  // Tests only: the tier whose start-up results are spoiled on purpose, to
  // see the fallback: bit (1 << tier).
  uint32_t check_spoils_tiers = 0;
  // The start-up check's verdict for the status log, such as "fast kernel,
  // AVX2 tier, checked"; written by kernel_init.
  char check_text[128] = {};

  // Progress figures written by kernel_progress.
  float percent_done = 0;
  int32_t term_cost = 0;
};
extern KernelGlobals kernel;

// Pentium constant tables, built by kernel_init of that variant.
struct PentiumTables {
  float a[164];   // a[j] = 2^(95-j)
  float b[128];   // b[j] = 1.5 * 2^(127-j)
  float s[128];   // s[j] = 2^j
  double d[5];    // 2^32, 2^64, 0.75 * 2^64, 2^96, 2^128
};
extern PentiumTables pentium_tables;

// --- processor identification and dispatch ---

// Fills cpu_family, cpu_features and cpu_vendor_string from the answers.
void cpu_identify_from(const CpuInfo &id);
// cpu_identify_from this processor.
void cpu_identify();
// Asks the processor once: identification, then cpu_vendor from the vendor
// string, the fast tiers, and the start-up check of the variant the
// dispatch rule picks (kernel_check). Run once per start, before kernel_init.
void cpu_classify();
// The vendor code of a vendor string: 0 Intel, 1 AMD, 2 Cyrix, 3 Centaur, else -1.
int32_t cpu_vendor_code(const char *vendor_string);
// The variant the next kernel entry runs: the forced one, else the chosen
// one while the processor can run it, else the dispatch rule's.
Variant kernel_variant();

// What became of a volunteer's choice of variant.
enum class KernelChoice { applied, unknown, unsupported };
// Takes the state file's [Main] "Kernel" value ("Auto", "generic",
// "pentium" or "fast", in any case; empty reads as Auto) into
// chosen_variant. An unknown value, or a variant the processor cannot run
// (fast without a vector tier), leaves Auto. Call after cpu_classify.
KernelChoice kernel_choose(const char *name);
const char *variant_name(Variant v);

// The fast tiers a processor and operating system can run (CPUID feature
// bits, XGETBV for the vector register state), as kernel.fast_tiers holds them.
uint32_t fast_tiers_of(const CpuInfo &id);
// fast_tiers_of this processor, asked afresh (tests and the benchmark).
uint32_t fast_probe();
// Whether kernel.fast_tiers includes the tier and it has not failed the
// start-up check.
bool fast_tier_supported(FastTier t);
// The tier a block starts from: the forced one if supported, else the fastest.
FastTier fast_tier_in_force();
const char *fast_tier_name(FastTier t);
// Whether a vector tier is supported, which makes the dispatch rule choose
// the fast variant over the generic one.
bool fast_tier_preferred();

// --- the dispatching entries ---

// Checks the variant in force (kernel_check), then builds its constant
// tables. Run once per start of calculation, before any worker steps.
void kernel_init();
// The start-up check: the fast variant's vector tier in force evaluates fixed
// blocks with moduli near its limit and must agree with the exact scalar
// tier bit for bit; a tier that does not is switched off for the run and the
// next one checked. Writes kernel.check_text. Well under a millisecond.
void kernel_check();
// Calls on_terms_done, then evaluates one block of at most 16 terms of the
// slot's chunk unless the slot was retired.
void kernel_step(WorkSlot *slot);
// Turns the slot's running sums into four limbs in place.
void kernel_finish(WorkSlot *slot);

// Progress figures from the coordinator's shared range and done_count:
// writes kernel.percent_done and kernel.term_cost, the latter an estimate of
// clock cycles per term of the variant (and fast tier) that is running.
// Display only.
void kernel_progress(uint64_t where, uint64_t srt_pos, uint64_t end_pos, int64_t done_count);

// --- the variants themselves ---
namespace generic {
void pow2_mod(WorkSlot *slot);  // evaluates slot->k.generic into slot->sums
void kernel_init();
void kernel_step(WorkSlot *slot);
void kernel_finish(WorkSlot *slot);
}  // namespace generic

namespace pentium {
void pow2_mod(WorkSlot *slot);  // evaluates slot->k.pentium into slot->sums
void kernel_init();
void kernel_step(WorkSlot *slot);
void kernel_finish(WorkSlot *slot);
}  // namespace pentium

namespace fast {
void kernel_init();      // nothing to build: the tiers come from cpu_classify
void kernel_step(WorkSlot *slot);
void kernel_finish(WorkSlot *slot);
// Evaluates the batch's runs into its digits with the tier in force (or
// the exact fallback for large moduli) and records the tier used.
void evaluate(FastBatch *batch);
// Whether the vector tier gives the scalar tier's values on the start-up
// check's fixed blocks.
bool tier_agrees(FastTier t);
// The tier a block whose largest modulus is `largest` runs on.
FastTier tier_for_modulus(uint64_t largest);
// Estimated clock cycles per term on that tier, e being floor(log2 x) as in
// kernel_progress.
int32_t term_cost(uint32_t e, uint64_t modulus);
}  // namespace fast

// --- bounds of the series ---

// The first term index whose smallest exponent, 4*where - 20*k - 20, would
// fall below 1: terms [0, head_end(where)) are the head that the kernel
// evaluates. 0 when even term 0 reaches below 1.
uint64_t head_end(uint64_t where);
// Positions below this are evaluated exactly by every variant.
constexpr uint64_t where_limit = uint64_t(1) << 56;

// --- the limbs of a finished slot, as the result line prints them ---
void slot_limbs(const WorkSlot *slot, uint32_t limbs[4]);
