/*
 * series.h: the term table, the one definition of the series that every
 * kernel variant, the companion tool and the tests evaluate.
 *
 * One term index k stands for two consecutive terms of the formula, so a
 * term has 14 parts, each weight * 2^e / m with e = 4*where - 20*k - a and
 * m = modulus_step * k + modulus_offset. The parts come in seven rows of two
 * (A then B) sharing their a: the rows two-lane variants evaluate per call.
 */
#pragma once

#include <cstdint>

struct TermPart {
  int32_t a;                // exponent offset, shared by the row's two parts
  uint32_t modulus_step;    // 20 or 8
  uint32_t modulus_offset;  // odd
  int32_t weight;           // a power of two with its sign
};

constexpr int parts_per_term = 14;
constexpr int rows_per_term = parts_per_term / 2;

inline constexpr TermPart term_parts[parts_per_term] = {
    {4, 20, 1, 4},   {4, 20, 3, -1},    // row 1: +4/(20k+1), -1/(20k+3)
    {8, 8, 1, -8},   {8, 20, 5, -1},    // row 2: -8/(8k+1), -1/(20k+5)
    {10, 20, 7, -4}, {10, 8, 3, -1},    // row 3: -4/(20k+7), -1/(8k+3)
    {12, 20, 9, 4},  {12, 20, 11, -1},  // row 4: +4/(20k+9), -1/(20k+11)
    {15, 20, 13, 2}, {15, 8, 5, 1},     // row 5: +2/(20k+13), +1/(8k+5)
    {18, 20, 17, 1}, {18, 20, 15, 1},   // row 6: +1/(20k+17), +1/(20k+15)
    {20, 8, 7, 1},   {20, 20, 19, -1},  // row 7: +1/(8k+7), -1/(20k+19)
};

// Each row's two parts share their exponent offset.
constexpr bool rows_share_offsets() {
  for (int r = 0; r < rows_per_term; ++r)
    if (term_parts[2 * r].a != term_parts[2 * r + 1].a) return false;
  return true;
}
static_assert(rows_share_offsets(), "the two parts of a row share their exponent offset");
