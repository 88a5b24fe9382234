/*
 * status_log.h: the main window's scrolling log, a fixed ring of 64 lines
 * that turns by pointer rotation, with the window operations it needs kept
 * behind a table so the ring and its drawing run without a window system.
 */
#pragma once

#include <atomic>
#include <cstdint>

#include "spin_lock.h"

constexpr int log_line_count = 64;
constexpr int log_line_size = 128;  // 127 characters and the terminator

// What the ring asks of the window it draws on. Any entry may be null (a
// front end without a window); a null entry does nothing.
struct LogWindowOps {
  // Height in pixels of one line of the window's default font.
  int (*measure_line_height)(void *window);
  // Whether the caller is the thread that owns and paints the window.
  bool (*on_window_thread)(void *window);
  // Moves the client area's content up by `pixels`; the uncovered strip at
  // the bottom becomes invalid.
  void (*scroll_up)(void *window, int pixels);
  // Paints the invalid region now. Waits for the window's thread, so it is
  // only ever called on that thread.
  void (*update_now)(void *window);
  // Marks the whole client area for a later repaint; never waits.
  void (*invalidate_all)(void *window);
  // Draws `length` characters with the top-left of their cell at (x, y).
  void (*text_out)(void *dc, int x, int y, const char *text, int length);
};

// The ring. log_lines[0] is the line being assembled (never painted),
// log_lines[1] the newest complete line, log_lines[63] the oldest; all null
// until the first append, then always the 64 distinct rows of log_store in
// some rotation.
struct StatusLog {
  char log_store[log_line_count][log_line_size];
  char *log_lines[log_line_count];
  std::atomic<int> line_height;  // pixels; 0 until the first commit measures it
  // Serialises appends, commits and painting: the UI thread and retiring
  // workers both write the log.
  SpinLock lock;
  LogWindowOps ops;
};

extern StatusLog status_log;

// Empties the log back to its never-used state (all lines null, height
// unmeasured) and installs `ops`. The lock's wait function is kept.
void log_reset(const LogWindowOps &ops);

// Appends text to the line being assembled; each "\n" commits that line as
// log_newline does. Characters beyond the 127th of a line are dropped.
// Safe from any thread: from a thread other than the window's the window is
// only invalidated, never waited for.
void log_append(void *window, const char *text);

// Commits the line being assembled as the newest line and brings the window
// up to date: on the window's thread by scrolling one line height and
// painting the new strip at once; from any other thread by invalidating the
// whole client area, so a worker never waits for the UI thread.
void log_newline(void *window);

// log_append of text and log_newline in one turn of the lock, so that no
// other thread's text can join the line in between. The way reports enter
// the log.
void log_line(void *window, const char *text);

// Draws the committed lines from the bottom of the client area upwards,
// newest first, at most 63 of them, stopping once a line reaches the top.
// Called on the window's thread between the begin and end of painting.
void log_paint(void *dc, int client_bottom);

// Copies line `index` (0 = being assembled, 1 = newest) into buf, cut to
// size - 1 characters. False while the log has never been written to.
bool log_copy_line(int index, char *buf, int size);
