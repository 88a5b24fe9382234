// report.cpp: the 5-second progress report, its texts and notices.
#include "report.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "kernel.h"
#include "range.h"
#include "results.h"
#include "workers.h"

const char submission_address[] = "results@quarn.invalid";

ReportState report{};

void report_reset() {
  report.report_text[0] = '\0';
  report.tip_text[0] = '\0';
  report.last_report_tick = 0;
  report.last_report_done = 0;
  report.flash_phase = 0;
  report.clock = nullptr;
}

static uint32_t steady_ms() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

double report_speed(uint32_t terms, int32_t term_cost, int32_t ms) {
  return static_cast<double>(terms) * term_cost * 0.001 / ms;
}

// The report proper; the caller holds coordinator_lock (when it exists),
// which also keeps two reports from interleaving.
static void report_locked() {
  const int64_t done = range.done_count.load();
  kernel_progress(range.where, range.srt_pos, range.end_pos, done);
  settle_counters();

  const uint32_t now = report.clock ? report.clock() : steady_ms();
  const double percent = kernel.percent_done;
  const uint32_t done_low = static_cast<uint32_t>(done);
  const int32_t ms = static_cast<int32_t>(now - report.last_report_tick);
  // With no millisecond elapsed (a worker's report right after a tick) the
  // speed is unknown, so the line goes without it.
  if (report.last_report_done != 0 && ms != 0)
    std::snprintf(report.report_text, sizeof report.report_text, "%f%% done,%fMHz", percent,
                  report_speed(done_low - report.last_report_done, kernel.term_cost, ms));
  else
    std::snprintf(report.report_text, sizeof report.report_text, "%f%% done", percent);
  report.last_report_tick = now;
  report.last_report_done = done_low;
  std::snprintf(report.tip_text, sizeof report.tip_text, "Quarn %f%% done", percent);

  if (coordinator.error_flag.load() != 0) {
    std::snprintf(report.report_text, sizeof report.report_text, "%s", coordinator.error_text);
    worker_state.notice_pending.store(1);
    return;
  }
  const int32_t f = 1 - range.current;
  if (result_counters.output[f] != 0 || !result_file_exists(f)) {
    worker_state.notice_pending.store(0);
    return;
  }
  std::snprintf(report.report_text, sizeof report.report_text,
                "Please send output%d.txt to %s\n%f%% done", static_cast<int>(f),
                submission_address, percent);
  worker_state.notice_pending.store(1);
}

void progress_report() {
  CoordinatorGuard guard;
  report_locked();
}

void progress_report_copy(char *buf, std::size_t size) {
  CoordinatorGuard guard;
  report_locked();
  std::snprintf(buf, size, "%s", report.report_text);
}

bool flash_step() {
  if (worker_state.notice_pending.load() == 0 && report.flash_phase == 0) return false;
  report.flash_phase = 1 - report.flash_phase;
  return true;
}
