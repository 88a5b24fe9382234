/*
 * verify.h: recomputing result lines with the kernel, the double check that
 * catches faulty hardware and altered files.
 */
#pragma once

#include <cstdint>

#include "result_file.h"

enum class CheckOutcome {
  exact,            // a variant gives the line's share bit for bit
  within_rounding,  // neither does, but the difference is within rounding
  mismatch,
  refused,          // the line's stretch is not one the kernel evaluates
};

struct LineCheck {
  CheckOutcome outcome;
  int variant;          // the variant that matched, or that came closest
  uint64_t difference;  // |line - its share| in units of 2^-128, saturated at 2^64 - 1
  int tried;            // variants evaluated
  int variants[3];      // which, in order: the dispatched one, then generic, then Pentium
  uint32_t limbs[3][4]; // their shares
};

// Recomputes the line's stretch with the variant the dispatch rule picks
// here and, until one matches exactly, with the generic and the Pentium
// variant. Every variant is deterministic, so a sound line from a client
// equals one of them bit for bit (a client dispatches just as this tool
// does); a difference within line_bound is still accepted, as a variant
// this build lacks may round otherwise. prepare_kernel must have run.
LineCheck check_line(const ResultLine &line);

// quarn-coord verify FILE... [--sample K] [--seed S]
int verify_main(int argc, char **argv);
