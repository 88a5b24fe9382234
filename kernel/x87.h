/*
 * x87.h: the few x87 operations the kernel needs spelled out, because C++
 * would otherwise truncate on conversion or keep excess precision.
 * Every function here obeys the control word in force (the kernel runs with
 * a 64-bit significand and rounding toward minus infinity).
 */
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace x87 {

// The value stored as a signed 64-bit integer under the current rounding
// mode: a floor in the kernel's mode.
inline int64_t store_int(long double x) {
  int64_t r;
  __asm__("fistpll %0" : "=m"(r) : "t"(x) : "st");
  return r;
}

// The value stored as a double under the current rounding mode. Going
// through memory makes the rounding real on i686, where a double may
// otherwise live on in an 80-bit register.
inline double store_double(long double x) {
  double d;
  __asm__("fstpl %0" : "=m"(d) : "t"(x) : "st");
  return d;
}

// A cell of the slot read or written as the double it holds.
inline long double cell_double(uint64_t cell) { return std::bit_cast<double>(cell); }
inline uint64_t double_cell(double d) { return std::bit_cast<uint64_t>(d); }

// Grid rounding: x rounded down to the grid of g (a power of two, or 1.5
// times one) by adding and subtracting g.
inline long double grid(long double x, long double g) {
  long double t = x + g;
  return t - g;
}

// The sign-and-exponent word and the significand of an extended value, as
// the unit stores them (little-endian, ten bytes). `scratch` receives the
// ten bytes followed by two cleared ones.
inline uint32_t exponent_word(long double x, unsigned char scratch[16]) {
  std::memcpy(scratch, &x, 10);
  scratch[10] = scratch[11] = 0;
  uint32_t w;
  std::memcpy(&w, scratch + 8, 4);
  return w;
}
inline uint64_t significand(const unsigned char scratch[16]) {
  uint64_t s;
  std::memcpy(&s, scratch, 8);
  return s;
}

// Re-initialises the unit as at power-on (default control word).
inline void reset_unit() { __asm__ volatile("fninit" ::: "memory"); }

}  // namespace x87
