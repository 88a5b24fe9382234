/*
 * front_end.cpp: how the session reaches the main window: menu states,
 * timer 1, the stop request, log lines, flashing and the tray icon.
 */
#include <windows.h>

#include "progress_tick.h"
#include "quarn_ids.h"
#include "report.h"
#include "session.h"
#include "status_log.h"
#include "win32_shell.h"

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
static bool tray_on() { return session.settings.tray_icon_flag != 0; }
static void tray_modify(void *window, int icon, const char *tip) {
  tray_notify(TrayAction::modify, icon, tip, static_cast<HWND>(window));
}

FrontEndOps window_ops(const LogWindowOps &log) {
  FrontEndOps ops{};
  ops.set_menus = set_menus;
  ops.arm_timer = arm_timer;
  ops.kill_timer = kill_timer;
  ops.after_stop = after_stop;
  ops.worker_retired = worker_retired;
  ops.request_stop = request_stop;
  ops.message = message;
  ops.flash = flash;
  ops.tray_on = tray_on;
  ops.tray_modify = tray_modify;
  ops.log = log;
  ops.governor = true;
  return ops;
}

void progress_tick(HWND window) { progress_tick(static_cast<void *>(window)); }
