// main.cpp: the headless client `quarn`, which runs the computation in the current directory and prints its reports as lines.
#include <atomic>
#include <csignal>
#include <cstdio>

#include "kernel.h"
#include "platform.h"
#include "range.h"
#include "report.h"
#include "settings.h"
#include "state_file.h"
#include "workers.h"

namespace {

constexpr uint32_t report_period_ms = 5000;
constexpr uint32_t poll_ms = 50;

// Process-wide values of the client, set from signal handlers and workers.
struct ConsoleState {
  std::atomic<int> signal_seen{0};
  std::atomic<int> stop_requested{0};
};
ConsoleState console;

static_assert(std::atomic<int>::is_always_lock_free, "stored from a signal handler");

extern "C" void on_signal(int) { console.signal_seen.store(1); }

// One call per line, so lines of workers and the main thread never mix.
void print_line(const char *text) {
  std::printf("%s\n", text);
  std::fflush(stdout);
}

void print_report() {
  char text[report_text_size];
  progress_report_copy(text, sizeof text);
  print_line(text);
}

void on_worker_retired() { print_report(); }
void on_request_stop() { console.stop_requested.store(1); }
void on_message(const char *text) { print_line(text); }

int32_t settings_get_int(const char *key, int32_t def) {
  return profile_get_int("Main", key, def, state_file.ini_path);
}
void settings_get_string(const char *key, const char *def, char *buf, uint32_t size) {
  profile_get_string("Main", key, def, buf, size, state_file.ini_path);
}
void settings_put_string(const char *key, const char *value) {
  profile_write_string("Main", key, value, state_file.ini_path);
}
const SettingsStore settings_store{settings_get_int, settings_get_string, settings_put_string};

bool all_workers_retired() {
  return worker_state.worker_count > 0 &&
         worker_state.retired_workers.load() >= worker_state.worker_count;
}

}  // namespace

int main() {
  if (!locate_state_file()) {
    print_line("Error: the current directory cannot be read or its path is too long");
    return 1;
  }
  // One copy per directory: a lock on a file beside Quarn.ini.
  char lock_path[path_capacity + 8];
  std::snprintf(lock_path, sizeof lock_path, "%s.lock", state_file.ini_path);
  if (!instance_lock(lock_path)) return 0;

  process_set_idle_class();
  thread_set_current_priority(thread_priority_highest);
  const ShellSettings settings = settings_load(settings_store);
  // Auto has no governor here; the workers keep the launch level.
  if (settings.priority_choice != priority_choice_auto)
    worker_state.priority_level.store(priority_level_for_choice(settings.priority_choice));

  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  std::signal(SIGHUP, on_signal);

  front_end.worker_retired = on_worker_retired;
  front_end.request_stop = on_request_stop;
  front_end.message = on_message;

  if (!start_calculating()) {
    print_line(range.error_text);
    settings_save(settings, settings_store);
    return 1;
  }

  bool finished = false;
  uint32_t last_report = tick_count();
  while (console.signal_seen.load() == 0) {
    if (console.stop_requested.load() != 0 || all_workers_retired()) {
      finished = true;
      break;
    }
    if (tick_count() - last_report >= report_period_ms) {
      last_report = tick_count();
      print_report();
    }
    thread_sleep(poll_ms);
  }

  stop_calculating();
  if (finished) print_report();
  settings_save(settings, settings_store);
  // Running out of work units is the normal end; anything else that
  // retired a worker (a kernel error, a file that cannot be written) is not.
  return finished && (kernel.kernel_error.load() != 0 || worker_state.failed_workers.load() != 0)
             ? 1
             : 0;
}
