/*
 * core.h: what every layer of the coordinator shares: coordinator_lock and
 * its guard, the error text, retiring a slot, the hooks through which a
 * front end takes part and the kernel entries the coordinator calls. Every
 * other coordinator file sits above this one.
 */
#pragma once

#include <atomic>
#include <cstdint>

struct WorkSlot;
struct PlatformLock;

constexpr uint32_t error_text_size = 200;

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

// Process-wide values shared by every layer.
struct CoordinatorCore {
  // Exists from coordinator_lock_open (in load_main_state) until
  // coordinator_lock_close (at the end of Stop Calculating or of a Start
  // that could not get going); it exists whenever a worker does.
  PlatformLock *lock;
  // Set with error_text; cleared only when calculation starts.
  std::atomic<int32_t> error_flag;
  char error_text[error_text_size];  // under coordinator_lock
  // Workers retired by a failure, or whose last save failed, since Start.
  std::atomic<int32_t> failed_workers;
  // Slots that have loaded a chunk since Start and are not retired: the
  // workers still computing. "Error: Range.ini not found" is raised only
  // by the last of them to find no work.
  std::atomic<int32_t> computing_slots;
};
extern CoordinatorCore coordinator;

// Hooks, kernel entries, lock, error and failure count back to their state
// at program start (tests). No worker may be running.
void core_reset();

// Creates coordinator_lock; false when it cannot be made. Deletes one left
// from before first, so there is never more than one.
bool coordinator_lock_open();
// Deletes coordinator_lock when it exists. No worker may be running.
void coordinator_lock_close();

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

// Sets error_flag and error_text (printf-style). Under coordinator_lock.
void set_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Clears error_flag and error_text and the kernel's error flag, as a start
// does.
void clear_errors();

// A note that is not an error, through front_end.message (printf-style with
// two integers).
void coordinator_note(const char *format, int a, int b);

// Why a slot was retired: the range ran out with no work unit left, or
// anything else (kernel error, a file that cannot be written, damage).
enum class RetireReason { no_work, failure };

// Marks the slot retired (thread_number -1), no longer computing; a failure
// is counted in failed_workers.
void retire_slot(WorkSlot *slot, RetireReason reason);
