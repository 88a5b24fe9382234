/*
 * progress_tick.h: what the window does every 5 seconds while calculating:
 * the report becomes the newest log line, the caption flashes while a notice
 * waits, and the tray icon shows the tip and blinks with the caption.
 */
#pragma once

// The window operations of the tick; filled in by the front end.
struct TickHooks {
  // Inverts the window caption's active state once.
  void (*flash)(void *window);
  // Whether the tray icon is on.
  bool (*tray_on)();
  // Changes the tray icon to icon resource `icon` (1 or 2) and the tip.
  void (*tray_modify)(void *window, int icon, const char *tip);
};
extern TickHooks tick_hooks;

// The tray icon of a flash phase: 2 (all dark) in phase 1, else 1.
inline int tray_icon_for_phase(int flash_phase) { return flash_phase == 1 ? 2 : 1; }

// One tick on the window's thread: progress_report, its text committed to
// the log as whole lines, then flashing and the tray icon.
void progress_tick(void *window);

// A retired worker's report, on the worker's thread: progress_report and
// its text committed to the log without waiting for the window's thread.
void report_retired_worker(void *window);
