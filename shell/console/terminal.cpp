/*
 * terminal.cpp: the full-screen interface, the window's twin on a terminal:
 * its menu and dialogs drawn and driven by keys, the 5-second tick, the
 * status line, and the operations through which the session reaches it.
 */
#include <cstdio>

#include "console.h"
#include "platform.h"
#include "progress_tick.h"
#include "quarn_ids.h"
#include "report.h"
#include "screen.h"
#include "session.h"
#include "status_line.h"
#include "status_log.h"
#include "tui.h"

namespace {

constexpr uint32_t tick_period_ms = 5000;    // timer 1
constexpr uint32_t status_period_ms = 1000;  // the status line's sampling
constexpr int key_wait_ms = 100;             // how stale a frame may get

const char window_title[] = QUARN_WINDOW_TITLE;
const char *const about_lines[4] = {"Quarn for Linux", TEXT_ABOUT_VERSION, TEXT_ABOUT_BY,
                                    TEXT_ABOUT_ADDRESS};

// Process-wide values of the interface. All of it belongs to the UI
// thread; workers reach it only through the session's operations, which
// touch the log ring (locked) and console.stop_requested.
struct TerminalState {
  MenuState menu;
  DialogShown dialog;
  PriorityDialog priority;
  bool timer_armed;
  uint32_t next_tick;
  bool title_inverted;  // the caption's state, turned over by each flash
  bool exit_requested;
  EtaEstimator eta;
  uint32_t next_status;
  char status[512];
  StatusView status_view;  // formatted into status at each draw, to the width
  bool status_known;       // status_view has been filled
};

TerminalState terminal;

// The log paints at once only on the thread that draws; others leave it
// to the next frame.
thread_local bool on_ui_thread = false;

void *window() { return &terminal; }

// --- the operations the session calls ---

void set_menus(bool calculating) {
  menu_set_greyed(&terminal.menu, IDM_START, calculating);
  menu_set_greyed(&terminal.menu, IDM_STOP, !calculating);
}

void arm_timer() {
  terminal.timer_armed = true;
  terminal.next_tick = tick_count() + tick_period_ms;
}

void kill_timer() { terminal.timer_armed = false; }

// Every worker has ended, so the tip needs no lock. The title line comes
// to rest with the tray tip, whatever phase a notice left it in.
void after_stop() {
  terminal.title_inverted = false;
  if (session.settings.tray_icon_flag) screen_title_set(report.tip_text);
}

void worker_retired() { report_retired_worker(window()); }

// The UI thread may be waiting for this worker: only a flag.
void request_stop() { console.stop_requested.store(1); }

void message(const char *text) { log_line(window(), text); }

void flash(void *) { terminal.title_inverted = !terminal.title_inverted; }
bool tray_on() { return session.settings.tray_icon_flag != 0; }
// The terminal's title is its tray: the tip goes there; it has no icon.
void tray_modify(void *, int, const char *tip) { screen_title_set(tip); }

int line_height(void *) { return 1; }
bool is_ui_thread(void *) { return on_ui_thread; }

FrontEndOps terminal_ops() {
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
  // The frame loop redraws everything, so scrolling and invalidating are
  // left to it.
  ops.log = {line_height, is_ui_thread, nullptr, nullptr, nullptr, log_text_out};
  ops.governor = true;
  return ops;
}

// --- the status line ---

void update_status() {
  StatusView v{};
  v.calculating = session_calculating();
  v.seconds_left = -1;
  const SessionUnit unit = session_unit();
  v.where = unit.where;
  v.srt_pos = unit.srt_pos;
  v.end_pos = unit.end_pos;
  if (v.calculating) {
    eta_sample(&terminal.eta, tick_count(), unit.done, v.where, v.end_pos);
    v.seconds_left = eta_seconds_left(terminal.eta);
    WorkerChunk chunks[status_worker_limit];
    v.workers = session_worker_chunks(chunks, status_worker_limit);
    for (int32_t i = 0; i < v.workers && i < status_worker_limit; ++i)
      v.worker[i] = worker_status_of(chunks[i]);
  }
  terminal.status_view = v;
  terminal.status_known = true;
  terminal.next_status = tick_count() + status_period_ms;
}

// --- drawing ---

void draw() {
  char tip[report_text_size];
  session_tip_text(tip, sizeof tip);
  const Canvas canvas = screen_begin_frame();
  // The status line starts at column 1 and keeps the last column free.
  if (terminal.status_known)
    status_text(terminal.status_view, terminal.status, sizeof terminal.status, canvas.cols - 2);
  ScreenView v{};
  v.title = window_title;
  v.tip = tip;
  v.title_inverted = terminal.title_inverted;
  v.menu = &terminal.menu;
  v.dialog = terminal.dialog;
  v.priority = &terminal.priority;
  for (int i = 0; i < 4; ++i) v.about_lines[i] = about_lines[i];
  v.status = terminal.status;
  draw_screen(canvas, v);
  screen_end_frame();
}

// --- commands ---

void start_command() {
  if (session_calculating()) return;
  terminal.title_inverted = false;
  eta_reset(&terminal.eta);
  session_start();
  update_status();
}

void stop_command() {
  session_stop();
  update_status();
}

void toggle_tray_icon() {
  const int32_t on = session_toggle_tray_icon();
  menu_set_checked(&terminal.menu, IDM_TRAY_ICON, on != 0);
  if (on) {
    screen_title_save();
    screen_title_set(window_title);
  } else {
    screen_title_restore();
  }
}

void toggle_autocontinue() {
  menu_set_checked(&terminal.menu, IDM_AUTOCONTINUE, session_toggle_autocontinue() != 0);
}

void run_command(int32_t command) {
  switch (command) {
    case IDM_START: start_command(); break;
    case IDM_STOP: stop_command(); break;
    case IDM_EXIT: terminal.exit_requested = true; break;
    case IDM_TRAY_ICON: toggle_tray_icon(); break;
    case IDM_AUTOCONTINUE: toggle_autocontinue(); break;
    case IDM_PRIORITY:
      terminal.priority = priority_dialog_open(session_priority_choice());
      terminal.dialog = DialogShown::priority;
      break;
    case IDM_ABOUT: terminal.dialog = DialogShown::about; break;
    default: break;
  }
}

// Dialogs are modal: while one is shown it takes every key.
void handle_key(KeyPress k) {
  if (k.code == key_none || k.code == key_resize) return;
  if (terminal.dialog == DialogShown::about) {
    if (about_box_key(k)) terminal.dialog = DialogShown::none;
    return;
  }
  if (terminal.dialog == DialogShown::priority) {
    const DialogEnd end = priority_dialog_key(&terminal.priority, k);
    if (end == DialogEnd::ok) session_set_priority(terminal.priority.checked);
    if (end != DialogEnd::none) terminal.dialog = DialogShown::none;
    return;
  }
  const int32_t command = menu_key(&terminal.menu, k);
  if (command == 0) return;
  // Start and Stop take a while; the closed popup shows meanwhile.
  draw();
  run_command(command);
}

// The session's exit steps, then the terminal gets its title back,
// whichever of Exit, SIGHUP, SIGTERM and SIGINT came.
void exit_steps() {
  session_exit_steps();
  if (session.settings.tray_icon_flag) screen_title_restore();
}

}  // namespace

int run_terminal() {
  if (!screen_open()) return run_headless();
  on_ui_thread = true;
  terminal.dialog = DialogShown::none;
  menu_init(&terminal.menu);
  eta_reset(&terminal.eta);
  const ShellSettings &settings = session_open(terminal_ops());
  menu_set_checked(&terminal.menu, IDM_TRAY_ICON, settings.tray_icon_flag != 0);
  menu_set_checked(&terminal.menu, IDM_AUTOCONTINUE, settings.autocontinue_flag != 0);
  set_menus(false);
  if (settings.tray_icon_flag) {
    screen_title_save();
    screen_title_set(window_title);
  }
  session_auto_start();
  update_status();

  while (console.signal_seen.load() == 0 && !terminal.exit_requested) {
    // The last worker's request for Stop Calculating, as command 102.
    if (console.stop_requested.exchange(0) != 0) stop_command();
    const uint32_t now = tick_count();
    if (terminal.timer_armed && static_cast<int32_t>(now - terminal.next_tick) >= 0) {
      terminal.next_tick = now + tick_period_ms;
      progress_tick(window());
    }
    if (static_cast<int32_t>(now - terminal.next_status) >= 0) update_status();
    draw();
    handle_key(screen_read_key(key_wait_ms));
  }
  exit_steps();
  screen_close();
  return 0;
}
