// headless.cpp: the client without a terminal, which computes in the current directory and prints its reports as lines.
#include <cstdio>

#include "console.h"
#include "kernel.h"
#include "platform.h"
#include "range.h"
#include "report.h"
#include "state_file.h"
#include "workers.h"

namespace {

constexpr uint32_t report_period_ms = 5000;
constexpr uint32_t poll_ms = 50;

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

bool all_workers_retired() {
  return worker_state.worker_count > 0 &&
         worker_state.retired_workers.load() >= worker_state.worker_count;
}

}  // namespace

int run_headless(const ShellSettings &settings) {
  // Auto has no governor here; the workers keep the launch level.
  if (settings.priority_choice != priority_choice_auto)
    worker_state.priority_level.store(priority_level_for_choice(settings.priority_choice));

  front_end.worker_retired = on_worker_retired;
  front_end.request_stop = on_request_stop;
  front_end.message = on_message;

  if (!start_calculating()) {
    print_line(coordinator.error_text);
    settings_save(settings, console_settings_store);
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
  settings_save(settings, console_settings_store);
  // Running out of work units is the normal end; anything else that
  // retired a worker (a kernel error, a file that cannot be written) is not.
  return finished && (kernel.kernel_error.load() != 0 || coordinator.failed_workers.load() != 0)
             ? 1
             : 0;
}
