/*
 * workers.h: the worker threads and the two menu operations Start
 * Calculating and Stop Calculating, the top layer of the coordinator.
 */
#pragma once

#include <atomic>
#include <cstdint>

#include "core.h"

struct WorkSlot;

// The handle table's size: more processors than this get this many workers.
constexpr int32_t max_workers = 256;

// Process-wide worker control. The atomics are read without the lock.
struct WorkerState {
  std::atomic<int32_t> running;         // 1 from Start until Stop
  std::atomic<int32_t> active_workers;  // counted at creation, until each ends
  std::atomic<int32_t> retired_workers; // retired since Start
  std::atomic<int32_t> priority_level;  // -3..1, applied by each worker
  std::atomic<int32_t> notice_pending;  // written by the progress report
  int32_t worker_count;                 // workers created by the last Start
  void *worker_handles[max_workers];    // platform thread handles
  // Each worker's slot while the worker lives, null before and after;
  // set and cleared under coordinator_lock, for worker_chunks.
  const WorkSlot *slots[max_workers];
  bool ended[max_workers];  // the worker has given up its slot (under the lock)
  uint32_t start_pause_ms = 1000;       // Start's pause before arming the timer
  int32_t processors = 0;               // 0: ask the platform (tests set it)
};
extern WorkerState worker_state;

// Everything of the coordinator back to its state at program start, hooks
// and kernel entries included (tests). No worker may be running.
void coordinator_reset();

// Start Calculating, on the UI thread: loads the state, creates one worker
// per processor (at most max_workers), pauses, arms the timer. False, with
// error_text set and nothing running, when the state file's range is
// damaged or no worker could be started.
bool start_calculating();

// Stop Calculating, on the UI thread: every worker appends its partial line,
// saves its position and ends; then the counters are settled. Returns only
// when no worker is left. With nothing running it only sets the menus.
void stop_calculating();

// A worker's thread procedure; `block` is its 784-byte slot block, whose
// first word holds the worker's number. Frees the block. Returns 0.
unsigned worker_main(void *block);

// Sets the calling thread's x87 mode for the kernel and loads the slot's
// chunk from its [Thread<n>] section (load_slot_chunk).
void worker_load(WorkSlot *slot);

// Appends the partial line of an unretired slot and saves its position.
void worker_save(WorkSlot *slot);

// What a worker is doing, as a front end shows it.
enum class ChunkState { starting, computing, retired };

struct WorkerChunk {
  ChunkState state;
  uint64_t where;  // of its chunk, which may still be of the previous unit
  uint64_t start;  // the chunk's first term, or where the worker resumed it
  uint64_t end;    // exclusive
};

// The chunks of the first `capacity` workers of the last Start, into out;
// returns the number of workers (which may exceed capacity). A worker
// without a chunk yet, or whose chunk is used up, is starting; a worker
// that has ended or retired is retired. Any thread; takes
// coordinator_lock.
int32_t worker_chunks(WorkerChunk *out, int32_t capacity);
