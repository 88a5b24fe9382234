/*
 * rounding.h: how far a result line may lie below the true share of its
 * stretch, from the number of terms it covers.
 */
#pragma once

#include <cstdint>

#include "wide.h"

// Units of 2^-128 by which the generic variant's line for a stretch of
// `terms` terms may fall short of the true share (saturated at 2^63).
uint64_t generic_line_bound(uint64_t terms);
// The same for the Pentium variant.
uint64_t pentium_line_bound(uint64_t terms);
// The same for a variant that floors every part's fraction to 2^-128 and
// adds the floors exactly (the fast variant at its coarsest).
uint64_t fast_line_bound(uint64_t terms);
// The bound for a line of any variant: true share - line lies in
// [0, line_bound(terms)] units of 2^-128, modulo 1.
uint64_t line_bound(uint64_t terms);
// units * 2^-128 as a Wide bound (units of 2^-192).
Wide bound_from_units128(uint64_t units);
