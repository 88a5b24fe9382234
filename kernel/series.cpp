/*
 * series.cpp: the bounds of the series' head and the result line of a
 * finished slot.
 */
#include <bit>
#include <cstdio>

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

void format_result_line(const WorkSlot *slot, char *buf, std::size_t size) {
  uint32_t l[4];
  slot_limbs(slot, l);
  std::snprintf(buf, size, "%08lX%08lX,%08lX%08lX,%08lX%08lX,%08lX%08lX%08lX%08lX",
                (unsigned long)(slot->where >> 32), (unsigned long)(uint32_t)slot->where,
                (unsigned long)(slot->srt_pos >> 32), (unsigned long)(uint32_t)slot->srt_pos,
                (unsigned long)(slot->cur_pos >> 32), (unsigned long)(uint32_t)slot->cur_pos,
                (unsigned long)l[0], (unsigned long)l[1], (unsigned long)l[2], (unsigned long)l[3]);
}
