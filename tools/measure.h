/*
 * measure.h: the kernel's rounding measured on one stretch, against the
 * other variant and, for short stretches, the exact share.
 */
#pragma once

#include <cstdint>

// Signed shortfall target - value in units of 2^-128 of two 128-bit
// fractions (four limbs each), the difference taken in [-2^63, 2^63);
// saturated at the ends.
int64_t shortfall(const uint32_t target[4], const uint32_t value[4]);

// quarn-coord rounding WHERE SRT END [--exact]
int rounding_main(int argc, char **argv);
