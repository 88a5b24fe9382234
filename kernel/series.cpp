/*
 * series.cpp: the bounds of the series' head and the limbs of a finished
 * slot.
 */
#include <bit>

#include "kernel.h"

uint64_t head_end(uint64_t where) {
  // The last term k with 4*where - 20k - 20 >= 1 is floor((4*where - 21) / 20);
  // with where = 5q + r that is q - 1 - (r == 0). Written this way so no
  // intermediate overflows for any where.
  uint64_t q = where / 5, r = where % 5;
  if (q == 0) return 0;
  return r == 0 ? q - 1 : q;
}

void slot_limbs(const WorkSlot *slot, uint32_t limbs[4]) {
  for (int i = 0; i < 4; ++i) {
    double d = std::bit_cast<double>(slot->sums[i]);
    limbs[i] = uint32_t(int64_t(d));  // truncated toward zero; the low 32 bits print
  }
}
