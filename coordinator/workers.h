/*
 * workers.h: the worker threads and the two menu operations Start
 * Calculating and Stop Calculating, with the one coordinator_lock, and the
 * hooks through which a front end (window, terminal or none) takes part.
 */
#pragma once

#include <atomic>
#include <cstdint>

struct WorkSlot;
struct PlatformLock;

// The handle table's size: more processors than this get this many workers.
constexpr int32_t max_workers = 256;

// What a front end does around the computation. Every entry may be null
// (nothing to do). Entries marked "worker thread" run on a worker, possibly
// while the UI thread waits inside stop_calculating, so they must never
// wait for the UI thread (post, don't send; no synchronous repaint).
struct FrontEndHooks {
  // UI thread: the menu state, true when calculating (102 enabled, 101
  // greyed), false when idle.
  void (*set_menus)(bool calculating);
  // UI thread: arm or kill timer 1 (5000 ms, the progress tick).
  void (*arm_timer)();
  void (*kill_timer)();
  // UI thread, last step of Start Calculating: the priority governor for
  // Auto, or priority_level from the fixed choice.
  void (*after_start)();
  // UI thread, last step of Stop Calculating (the tray tip).
  void (*after_stop)();
  // Worker thread: a retired worker's report and log line.
  void (*worker_retired)();
  // Worker thread: the last worker to end asks for Stop Calculating
  // (command 102 posted to the main window).
  void (*request_stop)();
  // Any thread, possibly under coordinator_lock: a note that is not an
  // error (a repaired state file, fewer workers than processors).
  void (*message)(const char *text);
};
extern FrontEndHooks front_end;

// The kernel entries the coordinator calls; the real kernel by default.
// Tests put a stand-in step here to drive the coordinator quickly.
struct CoordinatorKernel {
  void (*classify)();
  void (*init)();
  void (*step)(WorkSlot *slot);  // must call on_terms_done first, as kernel_step does
  void (*finish)(WorkSlot *slot);
};
extern CoordinatorKernel coordinator_kernel;

// Why a slot was retired: the range ran out with no work unit left, or
// anything else (kernel error, a file that cannot be written, damage).
enum class RetireReason { no_work, failure };

// Process-wide worker control. The atomics are read without the lock.
struct WorkerState {
  std::atomic<int32_t> running;         // 1 from Start until Stop
  std::atomic<int32_t> active_workers;  // counted at creation, until each ends
  std::atomic<int32_t> retired_workers; // retired since Start
  std::atomic<int32_t> failed_workers;  // of those, or saves, that failed
  std::atomic<int32_t> priority_level;  // -3..1, applied by each worker
  std::atomic<int32_t> notice_pending;  // written by the progress report
  int32_t worker_count;                 // workers created by the last Start
  void *worker_handles[max_workers];    // platform thread handles
  PlatformLock *coordinator_lock;       // from load_main_state to settle_counters
  uint32_t start_pause_ms = 1000;       // Start's pause before arming the timer
  int32_t processors = 0;               // 0: ask the platform (tests set it)
};
extern WorkerState worker_state;

// Everything of the coordinator back to its state at program start, hooks
// and kernel entries included (tests). No worker may be running.
void coordinator_reset();

// coordinator_lock, when it exists (it does whenever a worker does).
void coordinator_enter();
void coordinator_leave();

// Holds coordinator_lock for one scope.
struct CoordinatorGuard {
  CoordinatorGuard() { coordinator_enter(); }
  ~CoordinatorGuard() { coordinator_leave(); }
  CoordinatorGuard(const CoordinatorGuard &) = delete;
  CoordinatorGuard &operator=(const CoordinatorGuard &) = delete;
};

// Marks the slot retired (thread_number -1).
void retire_slot(WorkSlot *slot, RetireReason reason);

// Start Calculating, on the UI thread: loads the state, creates one worker
// per processor (at most max_workers), pauses, arms the timer. False, with
// error_text set and nothing running, when the state file's range is
// damaged or no worker could be started.
bool start_calculating();

// Stop Calculating, on the UI thread: every worker appends its partial line,
// saves its position and ends; then the counters are settled. Returns only
// when no worker is left. With nothing running it only sets the menus.
void stop_calculating();

// Creates coordinator_lock, initialises the kernel, clears the error flags,
// reads the shared range from [Main] and sets both result-file counters to
// a provisional 0, to which each worker adds the chunk it loads. A "cur_pos" beyond
// "end_pos" is repaired (the range reads as used up), and one inside a chunk
// that one of the first worker_count [Thread<n>] sections holds is moved
// past it; damaged values, and a file that exists but cannot be read, are
// refused: false with error_text set.
bool load_main_state();

// A worker's thread procedure; `block` is its 784-byte slot block, whose
// first word holds the worker's number. Frees the block. Returns 0.
unsigned worker_main(void *block);

// Sets the calling thread's x87 mode for the kernel and loads the slot's
// chunk from its [Thread<n>] section. A damaged section (or a state file
// that cannot be read) retires the slot with an error text and is left as
// it is for the user.
void worker_load(WorkSlot *slot);

// Appends the partial line of an unretired slot and saves its position.
void worker_save(WorkSlot *slot);
