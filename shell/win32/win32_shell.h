/*
 * win32_shell.h: the Windows front end's shared state and the operations
 * its files offer each other: the window, the tray icon, the dialogs and the
 * progress tick.
 */
#pragma once

#include <windows.h>

#include <atomic>

#include "quarn_ids.h"
#include "session.h"

// The single-instance key: a top-level window of this class and title.
constexpr const char *window_class_name = QUARN_WINDOW_CLASS;
constexpr const char *window_title = QUARN_WINDOW_TITLE;

// Process-wide values of the Windows front end. The handles are written by
// the UI thread only; main_window is also read by workers.
struct Win32Shell {
  HINSTANCE instance = nullptr;
  std::atomic<HWND> main_window{nullptr};
  UINT taskbar_created = 0;  // registered message: the taskbar was re-created
  UINT log_line_message = 0;   // registered message: a test reads a log line
  ATOM lent_atom = 0;          // the last line handed out, deleted at the next request or exit
  UINT menu_state_message = 0; // registered message: a test reads a menu item
};

extern Win32Shell win32_shell;

// --- tray icon ---
enum class TrayAction { add, modify, remove };
// Adds, changes or removes the program's one notification-area icon
// (identifier 1 on the main window, callback message 101) with icon
// resource `icon` and a tip cut to 63 characters. Results are ignored.
void tray_notify(TrayAction action, int icon, const char *tip, HWND window);

// --- the status log on the window ---
// The GDI operations behind the log ring.
LogWindowOps log_view_ops();
// Paints the log into the window's client area (inside WM_PAINT).
void log_view_paint(HWND window);

// --- dialogs ---
INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK priority_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// --- the session's operations ---
// The window's operations for session_open, with the log's.
FrontEndOps window_ops(const LogWindowOps &log);
// The 5-second tick: report, log line, flashing, tray tip (UI thread).
void progress_tick(HWND window);
