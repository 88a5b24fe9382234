/*
 * status_line.cpp: the speed estimate and the text of the status line.
 */
#include "status_line.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

void eta_reset(EtaEstimator *e) {
  e->count = 0;
  e->newest = 0;
  e->where = e->end_pos = 0;
}

void eta_sample(EtaEstimator *e, uint32_t now_ms, int64_t done, uint64_t where, uint64_t end_pos) {
  if (e->count > 0 && (where != e->where || end_pos != e->end_pos || done < e->done[e->newest]))
    eta_reset(e);
  e->where = where;
  e->end_pos = end_pos;
  e->newest = e->count == 0 ? 0 : (e->newest + 1) % eta_sample_count;
  e->ms[e->newest] = now_ms;
  e->done[e->newest] = done;
  if (e->count < eta_sample_count) ++e->count;
}

double eta_rate(const EtaEstimator &e) {
  if (e.count < 2) return -1;
  const int oldest = (e.newest - e.count + 1 + eta_sample_count) % eta_sample_count;
  const uint32_t ms = e.ms[e.newest] - e.ms[oldest];  // wraps with the clock
  if (ms < 2000) return -1;
  return static_cast<double>(e.done[e.newest] - e.done[oldest]) * 1000.0 / ms;
}

int64_t eta_seconds_left(const EtaEstimator &e) {
  if (e.count == 0) return -1;
  const int64_t done = e.done[e.newest];
  if (done >= 0 && static_cast<uint64_t>(done) >= e.end_pos) return 0;
  const double rate = eta_rate(e);
  if (rate <= 0) return -1;
  const double left = static_cast<double>(e.end_pos - static_cast<uint64_t>(done < 0 ? 0 : done));
  const double seconds = left / rate;
  if (seconds > 9.0e15) return -1;
  const int64_t whole = static_cast<int64_t>(seconds);
  return whole < seconds ? whole + 1 : whole;
}

void format_duration(int64_t s, char *buf, std::size_t size) {
  if (s < 60)
    std::snprintf(buf, size, "%ds", static_cast<int>(s));
  else if (s < 3600)
    std::snprintf(buf, size, "%dm %02ds", static_cast<int>(s / 60), static_cast<int>(s % 60));
  else if (s < 86400)
    std::snprintf(buf, size, "%dh %02dm", static_cast<int>(s / 3600), static_cast<int>(s % 3600 / 60));
  else
    std::snprintf(buf, size, "%" PRId64 "d %02dh", s / 86400, static_cast<int>(s % 86400 / 3600));
}

WorkerStatus worker_status_of(const WorkerChunk &chunk) {
  switch (chunk.state) {
    case ChunkState::computing:
      return WorkerStatus{WorkerShown::computing, chunk.where, chunk.start, chunk.end};
    case ChunkState::retired: return WorkerStatus{WorkerShown::retired, chunk.where, 0, 0};
    case ChunkState::starting: break;
  }
  return WorkerStatus{WorkerShown::starting, chunk.where, 0, 0};
}

// Appends printf-style text to buf, which holds `used` characters.
static void append(char *buf, std::size_t size, std::size_t *used, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
static void append(char *buf, std::size_t size, std::size_t *used, const char *format, ...) {
  if (*used + 1 >= size) return;
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buf + *used, size - *used, format, args);
  va_end(args);
  if (n > 0) *used += static_cast<std::size_t>(n) < size - *used ? static_cast<std::size_t>(n) : size - *used - 1;
}

namespace {

// How far status_text shortens its parts to fit a width.
struct Shortening {
  bool bare_unit;      // "1000000:0-300000" without "Unit "
  bool starts_only;    // a computing worker as "#0 1000", without its chunk's end
  int workers_named;   // the rest are summed up as "N more"
};

void compose(const StatusView &v, const Shortening &how, char *buf, std::size_t size) {
  buf[0] = '\0';
  std::size_t used = 0;
  append(buf, size, &used, "%s%" PRIu64 ":%" PRIu64 "-%" PRIu64, how.bare_unit ? "" : "Unit ",
         v.where, v.srt_pos, v.end_pos);
  if (!v.calculating) {
    append(buf, size, &used, " | stopped");
    return;
  }
  const int shown = v.workers < how.workers_named ? v.workers : how.workers_named;
  for (int i = 0; i < shown; ++i) {
    const WorkerStatus &w = v.worker[i];
    switch (w.state) {
      case WorkerShown::starting: append(buf, size, &used, " | #%d starting", i); break;
      case WorkerShown::retired: append(buf, size, &used, " | #%d retired", i); break;
      case WorkerShown::computing:
        // A chunk of the previous unit says which position it is of.
        if (w.where != v.where)
          append(buf, size, &used, " | #%d %" PRIu64 ":%" PRIu64, i, w.where, w.start);
        else
          append(buf, size, &used, " | #%d %" PRIu64, i, w.start);
        if (!how.starts_only) append(buf, size, &used, "-%" PRIu64, w.end);
        break;
    }
  }
  if (v.workers > shown) append(buf, size, &used, " | %d more", static_cast<int>(v.workers - shown));
  if (v.seconds_left == 0) {
    append(buf, size, &used, " | range done");
  } else if (v.seconds_left > 0) {
    char d[32];
    format_duration(v.seconds_left, d, sizeof d);
    append(buf, size, &used, " | %s left", d);
  } else {
    append(buf, size, &used, " | estimating");
  }
}

}  // namespace

void status_text(const StatusView &v, char *buf, std::size_t size, int width) {
  if (size == 0) return;
  Shortening how{false, false, status_worker_limit};
  compose(v, how, buf, size);
  const auto fits = [&] { return width <= 0 || std::strlen(buf) <= static_cast<std::size_t>(width); };
  if (fits()) return;
  // Shortened a step at a time, the least telling detail first: the word
  // "Unit", the ends of the workers' chunks, then the last workers named.
  how.bare_unit = true;
  compose(v, how, buf, size);
  if (fits()) return;
  how.starts_only = true;
  compose(v, how, buf, size);
  while (!fits() && how.workers_named > 0) {
    --how.workers_named;
    compose(v, how, buf, size);
  }
  if (fits()) return;
  // Narrower still: whole parts from the left, else the unit's numbers
  // that fit whole, else (a terminal narrower than a number) the edge.
  const std::size_t w = static_cast<std::size_t>(width);
  const char *cut = nullptr;
  for (const char *p = std::strstr(buf, " | "); p; p = std::strstr(p + 1, " | "))
    if (static_cast<std::size_t>(p - buf) <= w) cut = p;
  if (!cut)
    for (const char *p = buf; *p && static_cast<std::size_t>(p - buf) <= w; ++p)
      if (*p == ':' || *p == '-') cut = p;
  buf[cut ? static_cast<std::size_t>(cut - buf) : w] = '\0';
}
