/*
 * report.h: the progress report: one status line ("%f%% done,%fMHz"), the
 * tray tip, the settling of the result-file counters, and the notice that
 * asks the user to send a finished result file or shows an error.
 */
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t report_text_size = 200;

// Where finished result files are to be sent; the request naming it must
// fit report_text with room to spare.
extern const char submission_address[];

// Process-wide values of the report. Changed only inside progress_report,
// which serialises its callers (the UI thread and retiring workers).
struct ReportState {
  char report_text[report_text_size];  // one line, or two separated by "\n"
  char tip_text[report_text_size];     // "Quarn %f%% done"
  uint32_t last_report_tick;           // clock at the previous report
  uint32_t last_report_done;           // low word of done_count then; 0: none yet
  int32_t flash_phase;                 // 0 or 1, flipped per tick while flashing
  // Milliseconds, wrapping; null means a steady clock of the process.
  uint32_t (*clock)();
};
extern ReportState report;

// Back to the state at program start (tests); keeps no clock override.
void report_reset();

// Clock cycles per microsecond from `terms` evaluated in `ms` at
// `term_cost` cycles a term: terms * term_cost * 0.001 / ms. ms must not be 0.
double report_speed(uint32_t terms, int32_t term_cost, int32_t ms);

// Runs the report: the kernel's progress figures, the counter settling,
// report_text, tip_text, the snapshots and notice_pending.
void progress_report();

// progress_report, then report_text copied into buf in the same turn, so a
// report of another thread cannot replace it before the caller shows it.
void progress_report_copy(char *buf, std::size_t size);

// One tick's flashing: whether to invert the caption now. Flips flash_phase
// while a notice is pending, and once more to bring it back to rest.
bool flash_step();
