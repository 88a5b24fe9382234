/*
 * status_log.cpp: the 64-line ring of the status log: append, commit by
 * pointer rotation, and painting from the bottom up.
 */
#include "status_log.h"

#include <cstring>

StatusLog status_log;

void log_reset(const LogWindowOps &ops) {
  SpinGuard guard(status_log.lock);
  std::memset(status_log.log_store, 0, sizeof status_log.log_store);
  for (char *&line : status_log.log_lines) line = nullptr;
  status_log.line_height.store(0);
  status_log.ops = ops;
}

// The ring is set up lazily so that an unused log paints nothing at all.
static void set_up_ring_locked() {
  for (int i = 0; i < log_line_count; ++i) {
    status_log.log_lines[i] = status_log.log_store[i];
    status_log.log_store[i][0] = '\0';
  }
}

// Recycles the oldest line's storage as the new line being assembled; the
// text of the other lines is never moved. Returns whether anything turned.
static bool rotate_locked() {
  char **lines = status_log.log_lines;
  if (!lines[0]) return false;
  char *oldest = lines[log_line_count - 1];
  for (int i = log_line_count - 1; i > 0; --i) lines[i] = lines[i - 1];
  lines[0] = oldest;
  oldest[0] = '\0';
  return true;
}

// Runs outside the lock: updating the window paints, and painting takes it.
static void show_commits(void *window, int commits) {
  const LogWindowOps &ops = status_log.ops;
  if (commits == 0 || !window) return;
  int height = status_log.line_height.load();
  if (height == 0 && ops.measure_line_height) {
    height = ops.measure_line_height(window);
    status_log.line_height.store(height);
  }
  if (ops.on_window_thread && ops.on_window_thread(window)) {
    // Scrolling by whole lines keeps the lines already drawn in place, so
    // only the new strip at the bottom is painted.
    if (ops.scroll_up) ops.scroll_up(window, commits * height);
    if (ops.update_now) ops.update_now(window);
  } else if (ops.invalidate_all) {
    ops.invalidate_all(window);
  }
}

// Appends text to line 0, committing at each "\n"; returns the commits.
static int append_locked(const char *text) {
  int commits = 0;
  if (!status_log.log_lines[0]) set_up_ring_locked();
  char *line = status_log.log_lines[0];
  size_t pos = std::strlen(line);
  for (const char *p = text; *p; ++p) {
    if (*p == '\n') {
      line[pos] = '\0';
      if (rotate_locked()) ++commits;
      line = status_log.log_lines[0];
      pos = 0;
    } else if (pos < log_line_size - 1) {
      line[pos++] = *p;
    }
  }
  line[pos] = '\0';
  return commits;
}

void log_append(void *window, const char *text) {
  int commits;
  {
    SpinGuard guard(status_log.lock);
    commits = append_locked(text);
  }
  show_commits(window, commits);
}

void log_line(void *window, const char *text) {
  int commits;
  {
    SpinGuard guard(status_log.lock);
    commits = append_locked(text);
    if (rotate_locked()) ++commits;
  }
  show_commits(window, commits);
}

void log_newline(void *window) {
  bool turned;
  {
    SpinGuard guard(status_log.lock);
    turned = rotate_locked();
  }
  show_commits(window, turned ? 1 : 0);
}

void log_paint(void *dc, int client_bottom) {
  SpinGuard guard(status_log.lock);
  const int height = status_log.line_height.load();
  // Nothing has been committed before the first measurement, and a zero
  // height would stack every line on the bottom edge.
  if (!status_log.log_lines[0] || height <= 0 || !status_log.ops.text_out) return;
  int y = client_bottom;
  for (int i = 1; i < log_line_count && y > 0; ++i) {
    y -= height;
    const char *line = status_log.log_lines[i];
    status_log.ops.text_out(dc, 0, y, line, static_cast<int>(std::strlen(line)));
  }
}

bool log_copy_line(int index, char *buf, int size) {
  SpinGuard guard(status_log.lock);
  if (index < 0 || index >= log_line_count || size <= 0 || !status_log.log_lines[0]) return false;
  std::strncpy(buf, status_log.log_lines[index], static_cast<size_t>(size) - 1);
  buf[size - 1] = '\0';
  return true;
}
