/*
 * terminal.cpp: the full-screen interface, the window's twin on a terminal:
 * its menu commands and dialogs, the 5-second tick, the status line, the
 * exit steps, and the hooks through which the coordinator reaches it.
 */
#include <cstdio>

#include "console.h"
#include "platform.h"
#include "priority.h"
#include "progress_tick.h"
#include "quarn_ids.h"
#include "range.h"
#include "report.h"
#include "screen.h"
#include "state_file.h"
#include "status_line.h"
#include "status_log.h"
#include "tui.h"
#include "workers.h"

namespace {

constexpr uint32_t tick_period_ms = 5000;    // timer 1
constexpr uint32_t status_period_ms = 1000;  // the status line's sampling
constexpr int key_wait_ms = 100;             // how stale a frame may get

const char window_title[] = "Quarn 5.10";
const char *const about_lines[4] = {"Quarn for Linux", "Version 5.10", "By the Quarn project",
                                    "quarn@quarn.invalid"};

// Process-wide values of the interface. All of it belongs to the UI
// thread; workers reach it only through the coordinator's hooks, which
// touch the log ring (locked) and console.stop_requested.
struct TerminalState {
  ShellSettings settings;
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
  ThreadHandle governor_thread;  // the last one started, until joined
};

TerminalState terminal;

// The log paints at once only on the thread that draws; others leave it
// to the next frame.
thread_local bool on_ui_thread = false;

void *window() { return &terminal; }

// --- hooks of the coordinator, the tick and the log ---

void set_menus(bool calculating) {
  menu_set_greyed(&terminal.menu, IDM_START, calculating);
  menu_set_greyed(&terminal.menu, IDM_STOP, !calculating);
}

void arm_timer() {
  terminal.timer_armed = true;
  terminal.next_tick = tick_count() + tick_period_ms;
}

void kill_timer() { terminal.timer_armed = false; }

void after_start() { apply_priority_choice(priority_control.priority_choice.load(), true); }

// Every worker has ended, so the tip needs no lock. The title line comes
// to rest with the tray tip, whatever phase a notice left it in.
void after_stop() {
  terminal.title_inverted = false;
  if (terminal.settings.tray_icon_flag) screen_title_set(report.tip_text);
}

void worker_retired() { report_retired_worker(window()); }

// The UI thread may be waiting for this worker: only a flag.
void request_stop() { console.stop_requested.store(1); }

void message(const char *text) { log_line(window(), text); }

void flash(void *) { terminal.title_inverted = !terminal.title_inverted; }
bool tray_on() { return terminal.settings.tray_icon_flag != 0; }
// The terminal's title is its tray: the tip goes there; it has no icon.
void tray_modify(void *, int, const char *tip) { screen_title_set(tip); }

int line_height(void *) { return 1; }
bool is_ui_thread(void *) { return on_ui_thread; }

void log_lock_wait(unsigned attempts) {
  if (attempts < 16)
    thread_yield();
  else
    thread_sleep(1);
}

// --- the priority governor's thread ---

unsigned governor_main(void *) {
  governor_run();
  return 0;
}

bool start_governor_thread() {
  // The claim is single, so a previous governor has let go of it and is
  // on its way out: waiting for it is brief.
  if (terminal.governor_thread) thread_join(terminal.governor_thread);
  terminal.governor_thread = thread_create(governor_main, nullptr);
  if (!terminal.governor_thread) return false;
  thread_set_priority(terminal.governor_thread, thread_priority_highest);
  return true;
}

void sleep_ms(uint32_t ms) { thread_sleep(ms); }

void install_hooks() {
  front_end.set_menus = set_menus;
  front_end.arm_timer = arm_timer;
  front_end.kill_timer = kill_timer;
  front_end.after_start = after_start;
  front_end.after_stop = after_stop;
  front_end.worker_retired = worker_retired;
  front_end.request_stop = request_stop;
  front_end.message = message;
  tick_hooks = {flash, tray_on, tray_modify};
  status_log.lock.wait = log_lock_wait;
  // The frame loop redraws everything, so scrolling and invalidating are
  // left to it.
  log_reset({line_height, is_ui_thread, nullptr, nullptr, nullptr, log_text_out});
  priority_install(tick_count, sleep_ms, thread_set_current_priority, start_governor_thread);
}

// --- the status line ---

void update_status() {
  StatusView v{};
  v.calculating = worker_state.active_workers.load() != 0;
  v.seconds_left = -1;
  if (v.calculating) {
    int64_t done;
    {
      CoordinatorGuard guard;
      v.where = range.where;
      v.srt_pos = range.srt_pos;
      v.end_pos = range.end_pos;
      done = range.done_count.load();
    }
    eta_sample(&terminal.eta, tick_count(), done, v.where, v.end_pos);
    v.seconds_left = eta_seconds_left(terminal.eta);
    v.workers = worker_state.worker_count;
    const bool any_retired = worker_state.retired_workers.load() > 0;
    for (int32_t i = 0; i < v.workers && i < status_worker_limit; ++i) {
      char section[16];
      thread_section(i, section, sizeof section);
      uint64_t where = 0, cur_pos = 0, end_pos = 0;
      read_position(section, "where", 0, &where);
      read_position(section, "cur_pos", 0, &cur_pos);
      read_position(section, "end_pos", 0, &end_pos);
      v.worker[i] = worker_status_from_section(where, cur_pos, end_pos, any_retired, no_chunk_marker);
    }
  } else {
    // The unit the next start takes up; a missing state file means the
    // built-in one.
    v.where = 100000000;
    v.end_pos = 19999744;
    read_position("Main", "where", v.where, &v.where);
    read_position("Main", "srt_pos", 0, &v.srt_pos);
    read_position("Main", "end_pos", v.end_pos, &v.end_pos);
  }
  terminal.status_view = v;
  terminal.status_known = true;
  terminal.next_status = tick_count() + status_period_ms;
}

// --- drawing ---

void draw() {
  char tip[report_text_size];
  {
    CoordinatorGuard guard;  // a retiring worker's report may be writing it
    std::snprintf(tip, sizeof tip, "%s", report.tip_text);
  }
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
  // A second start while workers run would orphan them.
  if (worker_state.active_workers.load() != 0) return;
  report.flash_phase = 0;
  terminal.title_inverted = false;
  eta_reset(&terminal.eta);
  // A damaged state file stops the start; the log says why.
  if (!start_calculating()) log_line(window(), range.error_text);
  update_status();
}

void stop_command() {
  stop_calculating();
  update_status();
}

void toggle_tray_icon() {
  ShellSettings &s = terminal.settings;
  s.tray_icon_flag = toggle_flag(s.tray_icon_flag);
  menu_set_checked(&terminal.menu, IDM_TRAY_ICON, s.tray_icon_flag != 0);
  if (s.tray_icon_flag) {
    screen_title_save();
    screen_title_set(window_title);
  } else {
    screen_title_restore();
  }
}

void toggle_autocontinue() {
  ShellSettings &s = terminal.settings;
  s.autocontinue_flag = toggle_flag(s.autocontinue_flag);
  menu_set_checked(&terminal.menu, IDM_AUTOCONTINUE, s.autocontinue_flag != 0);
}

void run_command(int32_t command) {
  switch (command) {
    case IDM_START: start_command(); break;
    case IDM_STOP: stop_command(); break;
    case IDM_EXIT: terminal.exit_requested = true; break;
    case IDM_TRAY_ICON: toggle_tray_icon(); break;
    case IDM_AUTOCONTINUE: toggle_autocontinue(); break;
    case IDM_PRIORITY:
      terminal.priority = priority_dialog_open(priority_control.priority_choice.load());
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
    if (end == DialogEnd::ok)
      apply_priority_choice(terminal.priority.checked, worker_state.active_workers.load() != 0);
    if (end != DialogEnd::none) terminal.dialog = DialogShown::none;
    return;
  }
  const int32_t command = menu_key(&terminal.menu, k);
  if (command == 0) return;
  // Start and Stop take a while; the closed popup shows meanwhile.
  draw();
  run_command(command);
}

// Stops the workers, saves the settings and gives the terminal its title
// back, whichever of Exit, SIGHUP, SIGTERM and SIGINT came.
void exit_steps() {
  if (worker_state.active_workers.load() != 0) stop_calculating();
  ShellSettings s = terminal.settings;
  s.priority_choice = priority_control.priority_choice.load();
  settings_save(s, console_settings_store);
  if (s.tray_icon_flag) screen_title_restore();
  // With the workers stopped a governor ends within one measuring cycle.
  if (terminal.governor_thread) thread_join(terminal.governor_thread);
  terminal.governor_thread = nullptr;
}

}  // namespace

int run_terminal(const ShellSettings &settings) {
  if (!screen_open()) return run_headless(settings);
  on_ui_thread = true;
  terminal.settings = settings;
  terminal.dialog = DialogShown::none;
  menu_init(&terminal.menu);
  menu_set_checked(&terminal.menu, IDM_TRAY_ICON, settings.tray_icon_flag != 0);
  menu_set_checked(&terminal.menu, IDM_AUTOCONTINUE, settings.autocontinue_flag != 0);
  set_menus(false);
  priority_control.priority_choice.store(settings.priority_choice);
  eta_reset(&terminal.eta);
  install_hooks();
  if (settings.tray_icon_flag) {
    screen_title_save();
    screen_title_set(window_title);
  }
  if (settings.autocontinue_flag) {
    const PowerStatus power = power_status();
    if (power_allows_autostart(power.known, power.ac_online, power.battery_percent)) start_command();
  }
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
