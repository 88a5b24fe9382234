/*
 * chunk_eval.h: evaluating one chunk of the series in this thread, as a
 * worker would, for the companion tool and the tests.
 */
#pragma once

#include <cstdint>

#include "kernel.h"

// The limbs and result line of one evaluated chunk.
struct ChunkResult {
  bool ok;            // false: the kernel reported an exponent out of range
  uint32_t limbs[4];  // L0..L3
  char line[96];      // the result line, without line end
};

// Identifies the processor and builds the tables of the dispatched variant
// and of the generic and Pentium ones, so that evaluate_chunk may run any
// of them.
void prepare_kernel();

// Why a chunk cannot be evaluated exactly, or nullptr when it can.
const char *chunk_problem(uint64_t where, uint64_t srt, uint64_t end);

// Evaluates [srt, end) at position where with the given variant (or the
// dispatch rule when variant < 0), in the kernel's numeric mode, and
// restores the caller's x87 control word afterwards. kernel_init for the
// variant must have run.
ChunkResult evaluate_chunk(uint64_t where, uint64_t srt, uint64_t end, int variant);

// quarn-coord chunk WHERE SRT END [--variant generic|pentium|fast]
int chunk_main(int argc, char **argv);
