/*
 * front_end.cpp: how the coordinator, the progress tick and the priority
 * governor reach the main window: menu states, timer 1, the stop request,
 * log lines, flashing and the tray icon, the governor's thread.
 */
#include <windows.h>

#include "platform.h"
#include "priority.h"
#include "progress_tick.h"
#include "quarn_ids.h"
#include "report.h"
#include "status_log.h"
#include "win32_shell.h"
#include "workers.h"

static HWND main_window() { return win32_shell.main_window.load(); }

static void set_menus(bool calculating) {
  HMENU menu = GetMenu(main_window());
  if (calculating) {
    EnableMenuItem(menu, IDM_STOP, MF_BYCOMMAND | MF_ENABLED);
    EnableMenuItem(menu, IDM_START, MF_BYCOMMAND | MF_GRAYED);
  } else {
    EnableMenuItem(menu, IDM_START, MF_BYCOMMAND | MF_ENABLED);
    EnableMenuItem(menu, IDM_STOP, MF_BYCOMMAND | MF_GRAYED);
  }
}

static void arm_timer() { SetTimer(main_window(), ID_PROGRESS_TIMER, 5000, nullptr); }
static void kill_timer() { KillTimer(main_window(), ID_PROGRESS_TIMER); }

static void after_start() {
  apply_priority_choice(priority_control.priority_choice.load(), true);
}

// Every worker has ended: the tip needs no lock. Issued whether or not the
// icon is shown, to bring a blinking icon back to rest.
static void after_stop() {
  tray_notify(TrayAction::modify, IDI_QUARN, report.tip_text, main_window());
}

// Worker thread: the log is only invalidated from here, never repainted.
static void worker_retired() { report_retired_worker(main_window()); }

// Posted, never sent: the UI thread may be waiting for this worker.
static void request_stop() {
  PostMessageA(main_window(), WM_COMMAND, IDM_STOP, 0);
}

static void message(const char *text) { log_line(main_window(), text); }

static void flash(void *window) { FlashWindow(static_cast<HWND>(window), TRUE); }
static bool tray_on() { return win32_shell.settings.tray_icon_flag != 0; }
static void tray_modify(void *window, int icon, const char *tip) {
  tray_notify(TrayAction::modify, icon, tip, static_cast<HWND>(window));
}

void progress_install() {
  front_end.set_menus = set_menus;
  front_end.arm_timer = arm_timer;
  front_end.kill_timer = kill_timer;
  front_end.after_start = after_start;
  front_end.after_stop = after_stop;
  front_end.worker_retired = worker_retired;
  front_end.request_stop = request_stop;
  front_end.message = message;
  tick_hooks = {flash, tray_on, tray_modify};
}

void progress_tick(HWND window) { progress_tick(static_cast<void *>(window)); }

// --- the governor's thread ---

static ThreadHandle last_governor = nullptr;

static unsigned governor_thread(void *) {
  governor_run();
  return 0;
}

static bool start_governor_thread() {
  // The previous governor has ended (the claim is single); release it.
  if (last_governor && !thread_is_active(last_governor)) {
    thread_join(last_governor);
    last_governor = nullptr;
  }
  ThreadHandle t = thread_create(governor_thread, nullptr);
  if (!t) return false;
  thread_set_priority(t, thread_priority_highest);
  if (!last_governor) last_governor = t;
  return true;
}

static void sleep_ms(uint32_t ms) { thread_sleep(ms); }

void priority_install() {
  priority_install(tick_count, sleep_ms, thread_set_current_priority, start_governor_thread);
}
