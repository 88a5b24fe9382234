/*
 * range.h: the shared range of terms, its allocation to the workers in
 * chunks that end on multiples of 2^28, progress counting in done_count,
 * the import of the next "Range*.ini" work unit, and the error text.
 */
#pragma once

#include <atomic>
#include <cstdint>

struct WorkSlot;

constexpr uint64_t chunk_quantum = uint64_t(1) << 28;
constexpr uint32_t error_text_size = 200;

// Stored as a "cur_pos" while the keys around it are being rewritten: a
// position beyond any end_pos, so that a state file cut off mid-way reads
// as "nothing to hand out" rather than as a chunk made of two halves.
constexpr uint64_t no_chunk_marker = ~uint64_t(0);

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
  // Whether a unit holding this range may still lie in the folder: true
  // from the start of a run (a kill of the last one may have left it) and
  // after a deletion that failed; the next import looks through the folder
  // once for it.
  bool unit_may_remain;
  // Terms counted as done, on the scale of the current range. Read by the
  // progress report without the lock.
  std::atomic<int64_t> done_count;
  // Set with error_text; cleared only when calculation starts.
  std::atomic<int32_t> error_flag;
  char error_text[error_text_size];  // under coordinator_lock
};
extern CoordinatorRange range;

// The defaults of a missing state file: where 100,000,000, terms
// [0, 19,999,744), nothing counted, no error (tests).
void range_reset();

// Sets error_flag and error_text (printf-style). Under coordinator_lock.
void set_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The end of the chunk that starts at cur_pos: the next multiple of 2^28
// above it (carrying into the high word), or end_pos if that comes first.
uint64_t next_chunk_end(uint64_t cur_pos, uint64_t end_pos);

// Why the kernel cannot evaluate terms [srt_pos, end_pos) at `where` as a
// range to hand out, or null when it can: `where` at or above where_limit,
// end_pos beyond the head of the series at `where`, srt_pos not below
// end_pos.
const char *range_fault(uint64_t where, uint64_t srt_pos, uint64_t end_pos);

// The kernel step's callback, on the worker's thread, at the start of every
// step: under coordinator_lock, retires the slot on a kernel error, counts
// 16 terms and ends the slot's chunk when it is complete.
void on_terms_done(WorkSlot *slot);

// Ends the slot's completed chunk: its result line, then the next chunk (or
// the next work unit first). On return the slot holds a fresh chunk or is
// retired. Called by on_terms_done only.
void finish_chunk(WorkSlot *slot);

enum class ImportResult { imported, none_found, failed };

// Takes the first "Range*.ini" of the current directory as the new range
// and deletes it. Units the kernel cannot evaluate (including a missing or
// zero Where) are renamed to "<name>.bad" with an error text, also handed
// to front_end.message, and the search goes on; a unit equal to the range
// already taken is deleted, one gone since the search is passed over and
// one that cannot be read is kept (failed, "cannot read"). none_found sets
// "Error: Range.ini not found" (unless a refused unit's text stands);
// neither text replaces that of a worker that failed this run. failed
// means a state write, read, rename or deletion failed (error text set).
// Called by finish_chunk only, under coordinator_lock.
ImportResult import_work_unit();
