/*
 * progress_tick.cpp: the 5-second tick and a retired worker's report, both
 * of which turn the progress report into log lines.
 */
#include "progress_tick.h"

#include <cstdio>

#include "report.h"
#include "status_log.h"
#include "workers.h"

TickHooks tick_hooks{};

// The report and its copy are made in one turn of coordinator_lock, and the
// copy enters the log in one turn of the log's lock: a worker's report can
// come between two ticks but never inside one, and no line is ever mixed.
static void report_to_log(void *window) {
  char text[report_text_size];
  progress_report_copy(text, sizeof text);
  log_line(window, text);
}

void progress_tick(void *window) {
  report_to_log(window);
  if (flash_step() && tick_hooks.flash) tick_hooks.flash(window);
  if (tick_hooks.tray_on && tick_hooks.tray_on() && tick_hooks.tray_modify) {
    char tip[report_text_size];
    {
      CoordinatorGuard guard;  // a worker's report may be rewriting it
      std::snprintf(tip, sizeof tip, "%s", report.tip_text);
    }
    tick_hooks.tray_modify(window, tray_icon_for_phase(report.flash_phase), tip);
  }
}

void report_retired_worker(void *window) { report_to_log(window); }
