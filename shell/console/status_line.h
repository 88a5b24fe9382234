/*
 * status_line.h: the line under the terminal's log: the current work unit,
 * the chunk of each worker and the time the range still needs at the speed
 * measured over the last minute.
 */
#pragma once

#include <cstddef>
#include <cstdint>

#include "workers.h"

// The last minute of (clock, done_count) samples of one range, one a second.
constexpr int eta_sample_count = 61;

struct EtaEstimator {
  uint32_t ms[eta_sample_count];
  int64_t done[eta_sample_count];
  int count;   // samples held
  int newest;  // index of the newest
  uint64_t where, end_pos;  // the range the samples belong to
};

// No samples.
void eta_reset(EtaEstimator *e);
// Adds a sample; a different range, or done_count falling (a start loads
// the workers' unfinished chunks back), starts the samples afresh.
void eta_sample(EtaEstimator *e, uint32_t now_ms, int64_t done, uint64_t where, uint64_t end_pos);
// Terms per second from the oldest sample to the newest; -1 until they are
// at least two seconds apart.
double eta_rate(const EtaEstimator &e);
// Seconds until done_count reaches end_pos at that rate, rounded up: 0 when
// it has, -1 while the rate is unknown or nothing moves.
int64_t eta_seconds_left(const EtaEstimator &e);

// "45s", "12m 05s", "3h 07m", "2d 04h".
void format_duration(int64_t seconds, char *buf, std::size_t size);

enum class WorkerShown { starting, computing, retired };

struct WorkerStatus {
  WorkerShown state;
  uint64_t where;  // of its chunk, which may still be of the previous unit
  uint64_t start;  // the chunk's first term (or where it resumed)
  uint64_t end;
};

// Workers shown by name; more are summed up as a count.
constexpr int status_worker_limit = 16;

struct StatusView {
  bool calculating;
  uint64_t where, srt_pos, end_pos;  // the current work unit
  int32_t workers;
  WorkerStatus worker[status_worker_limit];
  int64_t seconds_left;  // -1: not known yet
};

// "Unit 1000000:0-300000 | #0 0-300000 | #1 retired | 3m 05s left"; when
// idle, "Unit ... | stopped". With width > 0 the text fits that many
// columns: parts are shortened or summed up rather than cut mid-word.
void status_text(const StatusView &v, char *buf, std::size_t size, int width = 0);

// How a worker's chunk is shown.
WorkerStatus worker_status_of(const WorkerChunk &chunk);
