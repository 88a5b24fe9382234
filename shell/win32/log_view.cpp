/*
 * log_view.cpp: the status log drawn on the main window with GDI.
 */
#include <windows.h>

#include "status_log.h"
#include "win32_shell.h"

static HWND as_window(void *window) { return static_cast<HWND>(window); }

static int measure_line_height(void *window) {
  HDC dc = GetDC(as_window(window));
  SIZE extent{0, 0};
  GetTextExtentPointA(dc, "A", 1, &extent);
  ReleaseDC(as_window(window), dc);
  return extent.cy;
}

static bool on_window_thread(void *window) {
  return GetWindowThreadProcessId(as_window(window), nullptr) == GetCurrentThreadId();
}

static void scroll_up(void *window, int pixels) {
  ScrollWindow(as_window(window), 0, -pixels, nullptr, nullptr);
}

static void update_now(void *window) { UpdateWindow(as_window(window)); }

// Only queues a repaint: a worker must never wait for the UI thread, which
// may itself be waiting for the workers to end.
static void invalidate_all(void *window) { InvalidateRect(as_window(window), nullptr, TRUE); }

static void text_out(void *dc, int x, int y, const char *text, int length) {
  TextOutA(static_cast<HDC>(dc), x, y, text, length);
}

LogWindowOps log_view_ops() {
  return {measure_line_height, on_window_thread, scroll_up, update_now, invalidate_all, text_out};
}

void log_view_paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  log_paint(dc, client.bottom);
  EndPaint(window, &paint);
}
