/*
 * results.h: the two result files ("output%d.txt") and their sign-encoded
 * chunk counters, which tell when the file no longer current is complete.
 */
#pragma once

#include <cstdint>

struct WorkSlot;

// The counters of output0.txt and output1.txt, stored as [Main] "output0"
// and "output1". v >= 0 is a settled count (it includes the chunks that the
// [Thread<n>] sections hold); v < 0 is provisional, the count being ~v, and
// each chunk a worker loads is added to it. Changed under coordinator_lock.
struct ResultCounters {
  int32_t output[2];
  // Sections Start will still load. A counter settled before the last of
  // them would miss that section's chunk for good (a worker that retires
  // at once reports before the next one has loaded), so settling waits.
  int32_t sections_to_load;
};
extern ResultCounters result_counters;

// Both counters back to their missing-key value, provisional 0 (tests).
void result_counters_reset();

// Counter operations on an encoded value. A stored counter can hold any
// 32-bit value; at the ends of the range a count stays put rather than
// overflow (no run reaches them, a damaged file can).
inline int32_t counter_up(int32_t v) {
  return v >= 0 ? (v < INT32_MAX ? v + 1 : v) : (v > INT32_MIN ? v - 1 : v);
}
inline int32_t counter_down(int32_t v) { return v >= 0 ? v - 1 : v + 1; }
inline int32_t counter_add_on_load(int32_t v) { return v >= 0 ? v : (v > INT32_MIN ? v - 1 : v); }
inline int32_t counter_settled(int32_t v) { return v >= 0 ? v : ~v; }  // -v - 1

// "output%d.txt" of file f into out (at least 16 bytes).
void result_file_name(int32_t f, char *out, uint32_t size);

// Whether "output%d.txt" of file f exists in the current directory.
bool result_file_exists(int32_t f);

// Appends the slot's line (where, srt_pos, cur_pos, the four limbs) to its
// file `outputf`; the slot must have been through kernel_finish. Under
// coordinator_lock. False when the line could not be written whole.
bool append_result_line(const WorkSlot *slot);

// Settles both counters, output0 then output1, writing each to [Main] only
// if it was provisional and no section is left to load: by each progress
// report and at the end of Stop Calculating. The caller holds
// coordinator_lock or runs while no worker exists.
void settle_counters();
