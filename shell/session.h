/*
 * session.h: what every front end (the window, the terminal, the headless
 * client) does with the coordinator, written once: Start and Stop
 * Calculating, auto-start, the exit steps, the settings in [Main], the
 * priority governor's thread, the hooks, and read-only status queries. A
 * front end's own files only draw and translate input.
 *
 * Order of calls, all on the front end's UI thread (the thread that runs
 * the menu commands):
 *   1. locate_state_file() (the coordinator) fixes where Quarn.ini is.
 *   2. session_open(ops) installs the front end's operations as the
 *      coordinator's hooks, the progress tick's and the log's, and the
 *      governor's platform operations, and loads the settings.
 *   3. Any number of session_start / session_stop, session_set_priority,
 *      the toggles and the status queries. session_auto_start once, when
 *      the front end is ready to show a start.
 *   4. session_exit_steps once (later calls do nothing): stops the
 *      workers, saves the settings, ends the governor's thread.
 *
 * Ownership: the session owns the settings (session.settings, written by
 * the UI thread only), the governor's thread and the single copy of the
 * operations table. The front end owns its window and whatever `window`
 * in the operations points to; the session never dereferences it. The
 * coordinator's records stay the coordinator's: front ends read them only
 * through the queries below.
 */
#pragma once

#include <cstdint>

#include "settings.h"
#include "status_log.h"
#include "workers.h"

// What a front end gives the session. Any function may be null (nothing
// to do). Entries marked "worker thread" run on a worker, possibly while
// the UI thread waits inside session_stop: they must never wait for the UI
// thread (post, don't send; no synchronous repaint).
struct FrontEndOps {
  // UI thread: the menu state, true when calculating (Stop enabled, Start
  // greyed), false when idle.
  void (*set_menus)(bool calculating);
  // UI thread: arm or kill the 5-second progress tick.
  void (*arm_timer)();
  void (*kill_timer)();
  // UI thread, last step of Stop Calculating: the tray tip (report.tip_text
  // needs no lock then).
  void (*after_stop)();
  // Worker thread: a retired worker's report and log line.
  void (*worker_retired)();
  // Worker thread: the last worker to end asks for Stop Calculating; the
  // front end calls session_stop from its UI thread when it sees this.
  void (*request_stop)();
  // Any thread, possibly under coordinator_lock: a line for the user (a
  // note, or why a start was refused).
  void (*message)(const char *text);
  // The progress tick's window operations (see progress_tick.h).
  void (*flash)(void *window);
  bool (*tray_on)();
  void (*tray_modify)(void *window, int icon, const char *tip);
  // The log ring's window operations (see status_log.h).
  LogWindowOps log;
  // Whether Auto runs the priority governor while calculating. Without it
  // (the headless client) the workers keep the launch level under Auto,
  // and a fixed choice is set before the workers start.
  bool governor;
};

// Process-wide values of the session, the UI thread's alone.
struct Session {
  FrontEndOps ops;
  ShellSettings settings;      // loaded by session_open, saved by the exit steps
  void *governor_thread;       // the last governor started, until joined
  bool exited;                 // the exit steps have run
};
extern Session session;

// The shell's settings in [Main] of the state file.
extern const SettingsStore session_settings_store;

// Installs `ops` (copied) and loads the settings; the priority choice
// comes from them. Returns the settings.
const ShellSettings &session_open(const FrontEndOps &ops);

// Start Calculating. Does nothing (false) while workers run, since a
// second start would orphan them. A refused start hands the error text to
// ops.message, arms the progress tick, which shows it as the notice, and
// returns false.
bool session_start();

// Stop Calculating; returns when no worker is left.
void session_stop();

// Auto-continue at launch: starts when the setting is on and the power
// allows it (mains power with a battery above 75 %, or nothing known).
// True when it started.
bool session_auto_start();

// Stops the workers, saves the settings (with the current priority choice)
// and ends the governor's thread. Runs once, whichever exit came first;
// true the first time.
bool session_exit_steps();

// The setting flipped, as its menu command does; returns the new flag.
int32_t session_toggle_tray_icon();
int32_t session_toggle_autocontinue();

// The priority dialog's OK: makes `choice` (101..106) the choice and puts
// it in force.
void session_set_priority(int32_t choice);
// The choice shown in the priority dialog.
int32_t session_priority_choice();

// --- read-only status queries (UI thread) ---

// Whether workers run (from Start until Stop has ended them).
bool session_calculating();

// Whether every worker of the last Start has retired (the range ran out
// with no unit left, or each failed).
bool session_all_retired();

// Whether a worker was retired by a kernel error or a failure, or a save
// failed, since the last Start.
bool session_failed();

// The work unit: while calculating, the range being handed out with its
// done count; otherwise the one the next start takes up, read from [Main]
// (the built-in unit when Quarn.ini has none).
struct SessionUnit {
  uint64_t where, srt_pos, end_pos;
  int64_t done;  // terms counted as done; 0 when idle
};
SessionUnit session_unit();

// The chunks of the workers (see worker_chunks); the number of workers.
int32_t session_worker_chunks(WorkerChunk *out, int32_t capacity);

// Copies of the last error text and of the tray tip, taken under the lock.
void session_error_text(char *buf, uint32_t size);
void session_tip_text(char *buf, uint32_t size);

// Back to the state before session_open (tests).
void session_reset();
