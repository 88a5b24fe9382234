/*
 * range.h: the shared range of terms, read from [Main] at the start, its
 * chunks that end on multiples of 2^28, the loading of a worker's chunk
 * from its [Thread<n>] section, and progress counting in done_count.
 */
#pragma once

#include <atomic>
#include <cstdint>

struct WorkSlot;

constexpr uint64_t chunk_quantum = uint64_t(1) << 28;

// The built-in work unit, the range of a state file without one: terms
// [0, 19,999,744) at position 100,000,000.
constexpr uint64_t builtin_where = 100000000;
constexpr uint64_t builtin_srt_pos = 0;
constexpr uint64_t builtin_end_pos = 19999744;

// Stored as a "cur_pos" while the keys around it are being rewritten: a
// position beyond any end_pos, so that a state file cut off mid-way reads
// as "nothing to hand out" rather than as a chunk made of two halves.
constexpr uint64_t no_chunk_marker = ~uint64_t(0);

// Room for a work unit's file name ("Range*.ini").
constexpr uint32_t unit_name_size = 260;

// Process-wide range and progress. The positions and `current` change only
// under coordinator_lock (and in load_main_state before any worker exists).
struct CoordinatorRange {
  uint64_t where;
  uint64_t srt_pos;
  uint64_t cur_pos;  // next term not yet handed to a worker
  uint64_t end_pos;  // exclusive
  int32_t current;   // result file of newly allocated chunks, 0 or 1
  // False when load_main_state found the marker in [Main] "cur_pos": an
  // import was cut short, so a work unit equal to the stored range is the
  // one still to be taken, not one taken twice.
  bool started;
  // The file name of the unit this range came from while that file may
  // still lie in the folder ([Main] "unit"): set by the import's state
  // writes and emptied once the file is deleted. A kill in between leaves
  // it set, and only a file of this name holding this range is then a
  // leftover; a unit sent again under another name is computed again.
  char unit_name[unit_name_size];
  // Terms counted as done, on the scale of the current range. Read by the
  // progress report without the lock.
  std::atomic<int64_t> done_count;
};
extern CoordinatorRange range;

// The built-in unit, nothing counted (tests).
void range_reset();

// The end of the chunk that starts at cur_pos: the next multiple of 2^28
// above it (carrying into the high word), or end_pos if that comes first.
uint64_t next_chunk_end(uint64_t cur_pos, uint64_t end_pos);

// Why the kernel cannot evaluate terms [srt_pos, end_pos) at `where` as a
// range to hand out, or null when it can: `where` at or above where_limit,
// end_pos beyond the head of the series at `where`, srt_pos not below
// end_pos.
const char *range_fault(uint64_t where, uint64_t srt_pos, uint64_t end_pos);

// Opens coordinator_lock, takes the volunteer's kernel choice, initialises
// the kernel, clears the error flags, reads the shared range from [Main]
// and sets both result-file counters to a provisional 0, to which each
// worker adds the chunk it loads. A "cur_pos" beyond
// "end_pos" is repaired (the range reads as used up), and one inside a chunk
// that one of the first `sections` [Thread<n>] sections holds is moved past
// it; damaged values, and a file that exists but cannot be read, are
// refused: false with error_text set.
bool load_main_state(int32_t sections);

// Loads the slot's chunk from its [Thread<n>] section and counts it in its
// result file's counter and against done_count. A damaged section (or a
// state file that cannot be read) retires the slot with an error text and
// is left as it is for the user. Under coordinator_lock.
void load_slot_chunk(WorkSlot *slot);
