// main.cpp: quarn-boinc, the client as a BOINC application: one work unit from the slot, computed with as many workers as the BOINC client grants, suspended, resumed, checkpointed and ended as the client asks.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boinc_api.h"
#include "error_numbers.h"
#include "kernel.h"
#include "platform.h"
#include "report.h"
#include "session.h"
#include "slot_files.h"
#include "state_file.h"
#include "workers.h"

namespace {

constexpr uint32_t poll_ms = 100;
constexpr uint32_t report_period_ms = 5000;

// Process-wide values of the application.
struct BoincApp {
  std::atomic<int32_t> stop_requested{0};  // the last worker asked for Stop Calculating
  int32_t workers = 0;                     // 0: from init_data, else --nthreads
  bool session_opened = false;            // session_open has run
  bool suspended = false;                  // stopped because the client said suspend
  double fraction = 0;                     // the highest fraction reported this run
};
BoincApp app;

// One call per line, so lines of workers and the main thread never mix.
void say(const char *format, ...) __attribute__((format(printf, 1, 2)));
void say(const char *format, ...) {
  char text[400];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::fprintf(stderr, "%s\n", text);
  std::fflush(stderr);
}

void on_request_stop() { app.stop_requested.store(1); }
void on_message(const char *text) { say("%s", text); }

// Terms of the unit done, from the coordinator's count on the scale of the
// range imported last; before the import the range is the empty one the
// slot starts with.
double unit_fraction(const SessionUnit &u) {
  if (u.end_pos <= u.srt_pos) return 0;
  const uint64_t total = u.end_pos - u.srt_pos;
  const int64_t done = u.done - int64_t(u.srt_pos);
  if (done <= 0) return 0;
  return double(done) >= double(total) ? 1.0 : double(done) / double(total);
}

// Fraction done (never lower than one reported before), the work done in
// the kernel's cost per term so that credit does not hang on the host's
// benchmark, and one report line. The report itself settles the result
// files' counters and gives the kernel's cost per term.
void report_progress(bool line) {
  progress_report();
  // Right after a start the count holds the terms of the chunks the
  // workers are still to load: it is read only once none is starting.
  static WorkerChunk chunks[max_workers];
  const int32_t n = session_worker_chunks(chunks, max_workers);
  bool loaded = session_calculating();  // idle, the unit read from [Main] has no count
  for (int32_t i = 0; i < n && i < max_workers; i++)
    if (chunks[i].state == ChunkState::starting) loaded = false;
  const SessionUnit u = session_unit();
  if (loaded) {
    const double f = unit_fraction(u);
    if (f > app.fraction) app.fraction = f;
  }
  boinc_fraction_done(app.fraction);
  const double terms = app.fraction * double(u.end_pos - u.srt_pos);
  boinc_ops_cumulative(terms * double(kernel.term_cost), 0);
  if (line) say("fraction done %.6f", app.fraction);
}

// The end of a unit that cannot be computed: the message in stderr.txt and
// for the client, a non-zero status.
[[noreturn]] void refuse(const char *text) {
  say("%s", text);
  if (app.session_opened) session_exit_steps();
  boinc_finish_message(1, text, false);
  std::exit(1);  // boinc_finish_message does not return
}

// A start refused by the coordinator (its reason already went to stderr.txt
// through the message hook).
[[noreturn]] void refuse_with_error_text() {
  char text[error_text_size];
  session_error_text(text, sizeof text);
  refuse(text);
}

void start() {
  app.stop_requested.store(0);
  if (!session_start()) refuse_with_error_text();
}

bool parse_arguments(int argc, char **argv) {
  for (int i = 1; i < argc; i++) {
    const char *value = nullptr;
    if (std::strcmp(argv[i], "--nthreads") == 0 && i + 1 < argc)
      value = argv[++i];
    else if (std::strncmp(argv[i], "--nthreads=", 11) == 0)
      value = argv[i] + 11;
    else {
      say("Error: unknown argument %s (usage: quarn-boinc [--nthreads N])", argv[i]);
      return false;
    }
    char *end = nullptr;
    const double n = std::strtod(value, &end);
    if (end == value || *end != '\0' || !(n >= 1)) {
      say("Error: --nthreads takes a number of threads, not %s", value);
      return false;
    }
    app.workers = n >= max_workers ? max_workers : int32_t(n);
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  BOINC_OPTIONS options;
  boinc_options_defaults(options);
  // Suspend, resume, quit and abort are read from boinc_get_status and
  // carried out through the coordinator, so that workers write their
  // partial lines and positions; the API would stop only one thread.
  options.direct_process_action = 0;
  if (int r = boinc_init_options(&options)) {
    std::fprintf(stderr, "Error: boinc_init failed (%d)\n", r);
    return 1;
  }
  if (!parse_arguments(argc, argv)) refuse("Error: bad command line");

  APP_INIT_DATA init_data;
  boinc_get_init_data(init_data);
  if (app.workers == 0) {
    const double n = init_data.ncpus;
    app.workers = n >= max_workers ? max_workers : n >= 1 ? int32_t(n) : 1;
  }

  char error[300];
  if (!slot_files_stage(error, sizeof error)) refuse(error);
  if (!locate_state_file()) refuse("Error: the slot folder cannot be read or its path is too long");

  FrontEndOps ops{};
  ops.request_stop = on_request_stop;
  ops.message = on_message;
  ops.governor = false;  // the client sets the priority
  session_open(ops);
  app.session_opened = true;
  worker_state.processors = app.workers;
  worker_state.start_pause_ms = 0;  // no timer to arm
  say("quarn-boinc: %d worker%s", app.workers, app.workers == 1 ? "" : "s");
  start();

  uint32_t last_report = tick_count();
  // The workers all ending is the end of the unit only when its terms are
  // done; otherwise (a worker that found no work while another had yet to
  // load its chunk) they are started again, a few times at most.
  for (int restarts = 0;; ++restarts) {
    for (;;) {
      BOINC_STATUS status;
      boinc_get_status(&status);
      if (status.quit_request || status.no_heartbeat || status.abort_request) {
        // Quit: the client starts us again later, and Quarn.ini holds every
        // position. Abort: the unit is given up.
        session_exit_steps();
        const bool abort = status.abort_request != 0;
        say(abort ? "Aborted by the client" : "Stopped; the unit resumes from Quarn.ini at the next start");
        // The API keeps its own exit to itself; the slot's lock is the
        // process's and goes with it.
        std::fflush(nullptr);
        std::exit(abort ? EXIT_ABORTED_BY_CLIENT : 0);
      }
      if (status.suspended && !app.suspended) {
        session_stop();
        app.suspended = true;
        say("Suspended");
      } else if (!status.suspended && app.suspended) {
        app.suspended = false;
        say("Resumed");
        start();
      }
      if (session_calculating() && (app.stop_requested.load() != 0 || session_all_retired())) break;

      if (session_calculating() && boinc_time_to_checkpoint()) {
        // Every worker appends its partial line and saves its position.
        session_stop();
        start();
        boinc_checkpoint_completed();
      }
      if (tick_count() - last_report >= report_period_ms) {
        last_report = tick_count();
        report_progress(true);
      }
      thread_sleep(poll_ms);
    }

    report_progress(true);
    session_stop();
    // Running out of work units is the normal end of the one unit; a kernel
    // error, a file that cannot be written or a refused unit is not.
    if (session_failed()) refuse_with_error_text();
    char bad[32];
    std::snprintf(bad, sizeof bad, "%s.bad", slot_unit_name);
    if (file_exists(bad)) refuse("Error: the work unit Range.ini was refused; see Range.ini.bad");
    const SessionUnit unit = session_unit();
    if (unit.end_pos <= unit.srt_pos || unit.where == 0)
      refuse("Error: no work unit was computed: the slot holds no Range.ini");
    if (app.fraction >= 1.0) break;  // as the report before the Stop read it
    if (restarts == 3) refuse("Error: the workers ended with terms of the unit left");
    say("The workers ended with terms of the unit left; starting them again");
    app.stop_requested.store(0);
    start();
  }
  session_exit_steps();
  if (!slot_files_deliver(error, sizeof error)) refuse(error);
  boinc_fraction_done(1.0);
  say("The unit is done");
  boinc_finish(0);
  return 0;
}
