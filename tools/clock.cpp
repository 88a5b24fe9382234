// clock.cpp: processor time and the calibrated clock rate.
#include "clock.h"

#include <cstdint>
#include <ctime>

double process_seconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

double clock_hz() {
  double best = 0;
  for (int round = 0; round < 3; ++round) {
    const uint32_t loops = 1u << 20;
    uint32_t x = 0;
    double t0 = process_seconds();
    for (uint32_t i = 0; i < loops; ++i)
      __asm__ volatile(".rept 128\n\taddl $1, %0\n\t.endr" : "+r"(x));
    double dt = process_seconds() - t0;
    double hz = 128.0 * loops / dt;
    if (hz > best) best = hz;
  }
  return best;
}
