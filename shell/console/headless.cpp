// headless.cpp: the client without a terminal, which computes in the current directory and prints its reports as lines.
#include <cstdio>

#include "console.h"
#include "platform.h"
#include "report.h"
#include "session.h"

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

}  // namespace

int run_headless() {
  FrontEndOps ops{};
  ops.worker_retired = on_worker_retired;
  ops.request_stop = on_request_stop;
  ops.message = on_message;
  // Auto has no governor here; the workers keep the launch level.
  ops.governor = false;
  session_open(ops);

  if (!session_start()) {
    session_exit_steps();
    return 1;
  }

  bool finished = false;
  uint32_t last_report = tick_count();
  while (console.signal_seen.load() == 0) {
    if (console.stop_requested.load() != 0 || session_all_retired()) {
      finished = true;
      break;
    }
    if (tick_count() - last_report >= report_period_ms) {
      last_report = tick_count();
      print_report();
    }
    thread_sleep(poll_ms);
  }

  session_stop();
  if (finished) print_report();
  session_exit_steps();
  // Running out of work units is the normal end; anything else that
  // retired a worker (a kernel error, a file that cannot be written) is not.
  return finished && session_failed() ? 1 : 0;
}
