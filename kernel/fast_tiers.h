/*
 * fast_tiers.h: what the fast variant's dispatcher and its tiers share: the
 * modulus limits of each tier and the entry of each tier file.
 *
 * Every tier computes, for every lane of every run, the residue
 * rho = w * 2^e mod m exactly and the exact 160-bit floor of rho / m, and
 * sums those floors in batch->digits. All tiers therefore agree bit for bit,
 * and a chunk's 128-bit result is the floor of the sum of its 160-bit
 * floors: the exact floor of the share unless the share lies within
 * (parts) * 2^-160 above a multiple of 2^-128.
 */
#pragma once

#include <cstdint>

#include "kernel.h"

namespace fast {

// Largest modulus (exclusive) each tier evaluates exactly. Below its narrow
// limit a vector tier takes its quick path: the IFMA tier's lazy Montgomery
// squares residues below 4m in one 52-bit limb up to 2^48, the AVX2 tier's
// double-FMA products keep signed residues below m up to 2^50, and with a
// second reduction per squaring within m/2 + 2 up to its double limit,
// 2^53 - 16. Above those the IFMA tier squares in two 52-bit limbs and the
// AVX2 tier in 64-bit Montgomery from 32-bit products, both lazy below 4m,
// which needs m < 2^60 (every modulus of a position below 2^58). The scalar
// tier's 64-bit Montgomery and digit remainders need 2m < 2^63.
constexpr uint64_t ifma_narrow_limit = uint64_t(1) << 48;
constexpr uint64_t avx2_narrow_limit = uint64_t(1) << 50;
constexpr uint64_t avx2_double_limit = (uint64_t(1) << 53) - 16;
constexpr uint64_t ifma_modulus_limit = uint64_t(1) << 60;
constexpr uint64_t avx2_modulus_limit = uint64_t(1) << 60;
constexpr uint64_t scalar_modulus_limit = uint64_t(1) << 62;

// Lanes per run at most, and the largest exponent a run may carry.
constexpr uint32_t max_lanes = 16;
constexpr int64_t max_exponent = int64_t(1) << 62;

// The tiers. Each reads batch->run[0..13] and batch->count and writes
// batch->digits; the caller has checked the tier's modulus limit, that every
// modulus is odd and every exponent at least 1. The vector tiers may only run
// where fast_probe reported them.
void evaluate_scalar(FastBatch *batch);
void evaluate_avx2(FastBatch *batch);
void evaluate_ifma(FastBatch *batch);

// The largest modulus of any lane in the batch.
uint64_t largest_modulus(const FastBatch *batch);

// The runs (bit p for run p) whose lanes' moduli all lie below `limit`: a
// vector tier takes those on its quick path and the others on its wide one.
inline uint32_t runs_below(const FastBatch *batch, uint64_t limit) {
  uint32_t runs = 0;
  for (int p = 0; p < 14; ++p) {
    const FastRun &run = batch->run[p];
    if (run.modulus + uint64_t(run.modulus_step) * (batch->count - 1) < limit) runs |= uint32_t(1) << p;
  }
  return runs;
}
constexpr uint32_t all_runs = (uint32_t(1) << 14) - 1;

}  // namespace fast
