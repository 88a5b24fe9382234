// session.cpp: Start, Stop, auto-start, the exit steps, the settings, the governor's thread and the status queries for every front end.
#include "session.h"

#include <cstdio>

#include "kernel.h"
#include "platform.h"
#include "priority.h"
#include "progress_tick.h"
#include "range.h"
#include "report.h"
#include "state_file.h"

Session session{};

// --- the settings in [Main] of the state file ---

static int32_t settings_get_int(const char *key, int32_t def) {
  return profile_get_int("Main", key, def, state_file.ini_path);
}
static void settings_get_string(const char *key, const char *def, char *buf, uint32_t size) {
  profile_get_string("Main", key, def, buf, size, state_file.ini_path);
}
static void settings_put_string(const char *key, const char *value) {
  profile_write_string("Main", key, value, state_file.ini_path);
}
const SettingsStore session_settings_store{settings_get_int, settings_get_string,
                                           settings_put_string};

// --- hooks handed on to the front end ---

static void on_set_menus(bool calculating) {
  if (session.ops.set_menus) session.ops.set_menus(calculating);
}
static void on_arm_timer() {
  if (session.ops.arm_timer) session.ops.arm_timer();
}
static void on_kill_timer() {
  if (session.ops.kill_timer) session.ops.kill_timer();
}
static void on_after_start() {
  if (session.ops.governor) apply_priority_choice(priority_control.priority_choice.load(), true);
}
static void on_after_stop() {
  if (session.ops.after_stop) session.ops.after_stop();
}
static void on_worker_retired() {
  if (session.ops.worker_retired) session.ops.worker_retired();
}
static void on_request_stop() {
  if (session.ops.request_stop) session.ops.request_stop();
}
static void on_message(const char *text) {
  if (session.ops.message) session.ops.message(text);
}
static void on_flash(void *window) {
  if (session.ops.flash) session.ops.flash(window);
}
static bool on_tray_on() { return session.ops.tray_on && session.ops.tray_on(); }
static void on_tray_modify(void *window, int icon, const char *tip) {
  if (session.ops.tray_modify) session.ops.tray_modify(window, icon, tip);
}

// The log's lock is held for microseconds; after a few yields, sleep so
// that a holder at idle priority gets the processor from the UI thread.
static void log_lock_wait(unsigned attempts) {
  if (attempts < 16)
    thread_yield();
  else
    thread_sleep(1);
}

// --- the priority governor's thread ---

static unsigned governor_main(void *) {
  governor_run();
  return 0;
}

static bool start_governor_thread() {
  // The claim is single, so a previous governor has let go of it and is
  // on its way out: waiting for it is brief.
  if (session.governor_thread) thread_join(session.governor_thread);
  session.governor_thread = thread_create(governor_main, nullptr);
  if (!session.governor_thread) return false;
  thread_set_priority(session.governor_thread, thread_priority_highest);
  return true;
}

static void sleep_ms(uint32_t ms) { thread_sleep(ms); }

// --- the session ---

const ShellSettings &session_open(const FrontEndOps &ops) {
  session.ops = ops;
  session.exited = false;
  front_end.set_menus = on_set_menus;
  front_end.arm_timer = on_arm_timer;
  front_end.kill_timer = on_kill_timer;
  front_end.after_start = on_after_start;
  front_end.after_stop = on_after_stop;
  front_end.worker_retired = on_worker_retired;
  front_end.request_stop = on_request_stop;
  front_end.message = on_message;
  tick_hooks = {on_flash, on_tray_on, on_tray_modify};
  status_log.lock.wait = log_lock_wait;
  log_reset(ops.log);
  priority_install(tick_count, sleep_ms, thread_set_current_priority, start_governor_thread);
  session.settings = settings_load(session_settings_store);
  priority_control.priority_choice.store(session.settings.priority_choice);
  return session.settings;
}

bool session_start() {
  if (session_calculating()) return false;
  report.flash_phase = 0;
  const int32_t choice = priority_control.priority_choice.load();
  if (!session.ops.governor && choice != priority_choice_auto)
    worker_state.priority_level.store(priority_level_for_choice(choice));
  if (start_calculating()) return true;
  // A damaged state file stops the start; the user learns why, and sees it
  // as the notice of any other error: the tick flashes it and sets the tip,
  // also when an auto-continue start came with the window hidden in the tray.
  char text[error_text_size];
  session_error_text(text, sizeof text);
  on_message(text);
  on_arm_timer();
  return false;
}

void session_stop() { stop_calculating(); }

bool session_auto_start() {
  if (!session.settings.autocontinue_flag) return false;
  const PowerStatus power = power_status();
  if (!power_allows_autostart(power.known, power.ac_online, power.battery_percent)) return false;
  return session_start();
}

bool session_exit_steps() {
  if (session.exited) return false;
  session.exited = true;
  if (session_calculating()) stop_calculating();
  ShellSettings s = session.settings;
  s.priority_choice = priority_control.priority_choice.load();
  settings_save(s, session_settings_store);
  // With the workers stopped a governor ends within one measuring cycle.
  if (session.governor_thread) thread_join(session.governor_thread);
  session.governor_thread = nullptr;
  return true;
}

int32_t session_toggle_tray_icon() {
  session.settings.tray_icon_flag = toggle_flag(session.settings.tray_icon_flag);
  return session.settings.tray_icon_flag;
}

int32_t session_toggle_autocontinue() {
  session.settings.autocontinue_flag = toggle_flag(session.settings.autocontinue_flag);
  return session.settings.autocontinue_flag;
}

void session_set_priority(int32_t choice) {
  apply_priority_choice(choice, session.ops.governor && session_calculating());
}

int32_t session_priority_choice() { return priority_control.priority_choice.load(); }

// --- status ---

bool session_calculating() { return worker_state.active_workers.load() != 0; }

bool session_all_retired() {
  return worker_state.worker_count > 0 &&
         worker_state.retired_workers.load() >= worker_state.worker_count;
}

bool session_failed() {
  return kernel.kernel_error.load() != 0 || coordinator.failed_workers.load() != 0;
}

SessionUnit session_unit() {
  SessionUnit u{builtin_where, builtin_srt_pos, builtin_end_pos, 0};
  if (session_calculating()) {
    CoordinatorGuard guard;
    u.where = range.where;
    u.srt_pos = range.srt_pos;
    u.end_pos = range.end_pos;
    u.done = range.done_count.load();
  } else {
    read_position("Main", "where", u.where, &u.where);
    read_position("Main", "srt_pos", u.srt_pos, &u.srt_pos);
    read_position("Main", "end_pos", u.end_pos, &u.end_pos);
  }
  return u;
}

int32_t session_worker_chunks(WorkerChunk *out, int32_t capacity) {
  return worker_chunks(out, capacity);
}

void session_error_text(char *buf, uint32_t size) {
  CoordinatorGuard guard;
  std::snprintf(buf, size, "%s", coordinator.error_text);
}

void session_tip_text(char *buf, uint32_t size) {
  CoordinatorGuard guard;  // a retiring worker's report may be writing it
  std::snprintf(buf, size, "%s", report.tip_text);
}

void session_reset() {
  session.ops = FrontEndOps{};
  session.settings = ShellSettings{0, 0, priority_choice_auto};
  if (session.governor_thread) thread_join(session.governor_thread);
  session.governor_thread = nullptr;
  session.exited = false;
}
