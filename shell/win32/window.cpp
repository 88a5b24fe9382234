/*
 * window.cpp: the main window's procedure: creation with the shell's
 * settings and auto-continue, the menu commands, the tray callback, the
 * timer, painting, and the exit steps.
 */
#include <windows.h>

#include "quarn_ids.h"
#include "session.h"
#include "status_log.h"
#include "win32_shell.h"

Win32Shell win32_shell;

// --- commands ---

static void toggle_tray_icon(HWND window) {
  const int32_t on = session_toggle_tray_icon();
  CheckMenuItem(GetMenu(window), IDM_TRAY_ICON, MF_BYCOMMAND | on);
  tray_notify(on ? TrayAction::add : TrayAction::remove, IDI_QUARN, window_title, window);
  // With the icon gone, a hidden window could never be reached again.
  if (!on && !IsWindowVisible(window)) ShowWindow(window, SW_RESTORE);
}

static void toggle_autocontinue(HWND window) {
  CheckMenuItem(GetMenu(window), IDM_AUTOCONTINUE, MF_BYCOMMAND | session_toggle_autocontinue());
}

// The session's exit steps, then the tray icon removed and the message
// loop ended. Runs once, whichever of close, Exit and the end of the
// Windows session comes first.
static void exit_steps(HWND window) {
  if (!session_exit_steps()) return;
  if (session.settings.tray_icon_flag)
    tray_notify(TrayAction::remove, IDI_QUARN, window_title, window);
  PostQuitMessage(0);
}

static void on_create(HWND window) {
  win32_shell.main_window.store(window);
  const ShellSettings &s = session.settings;
  HMENU menu = GetMenu(window);
  CheckMenuItem(menu, IDM_TRAY_ICON, MF_BYCOMMAND | s.tray_icon_flag);
  CheckMenuItem(menu, IDM_AUTOCONTINUE, MF_BYCOMMAND | s.autocontinue_flag);
  if (s.tray_icon_flag) tray_notify(TrayAction::add, IDI_QUARN, window_title, window);
  EnableMenuItem(menu, IDM_START, MF_BYCOMMAND | MF_ENABLED);
  EnableMenuItem(menu, IDM_STOP, MF_BYCOMMAND | MF_GRAYED);
  int show = SW_SHOW;
  if (s.autocontinue_flag) {
    session_auto_start();
    if (s.tray_icon_flag) show = SW_HIDE;
  }
  ShowWindow(window, show);
}

// Returns true when the command was one of the menu's.
static bool on_command(HWND window, int id) {
  switch (id) {
    case IDM_START: session_start(); return true;
    case IDM_STOP: session_stop(); return true;
    case IDM_EXIT: exit_steps(window); return true;
    case IDM_TRAY_ICON: toggle_tray_icon(window); return true;
    case IDM_AUTOCONTINUE: toggle_autocontinue(window); return true;
    case IDM_PRIORITY:
      DialogBoxParamA(win32_shell.instance, MAKEINTRESOURCEA(IDD_PRIORITY), window,
                      priority_dialog_proc, 0);
      return true;
    case IDM_ABOUT:
      DialogBoxParamA(win32_shell.instance, MAKEINTRESOURCEA(IDD_ABOUT), window,
                      about_dialog_proc, 0);
      return true;
    default: return false;
  }
}

// Test hooks. Menus cannot be read from another process everywhere (Wine
// keeps them per process), so a test asks the window for an item's state.
static LRESULT menu_state(WPARAM id) {
  return static_cast<LRESULT>(GetMenuState(GetMenu(win32_shell.main_window.load()),
                                           static_cast<UINT>(id), MF_BYCOMMAND));
}

// Hands line `index` (1 = newest) of the status log to another process as
// a global atom (the text after a leading '|'). The atom stays readable
// until the next request or the window's end, which delete it: a caller
// that never deletes one cannot fill the system's atom table.
static void release_lent_atom() {
  if (win32_shell.lent_atom) GlobalDeleteAtom(win32_shell.lent_atom);
  win32_shell.lent_atom = 0;
}

static LRESULT log_line_atom(WPARAM index) {
  release_lent_atom();
  char text[log_line_size + 1] = "|";
  if (index < 1 || index >= static_cast<WPARAM>(log_line_count) ||
      !log_copy_line(static_cast<int>(index), text + 1, log_line_size))
    return 0;
  win32_shell.lent_atom = GlobalAddAtomA(text);
  return win32_shell.lent_atom;
}

extern "C" __declspec(dllexport) LRESULT CALLBACK WindowProc(HWND window, UINT message,
                                                             WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      on_create(window);
      return 0;
    case WM_SIZE:
      if (wparam == SIZE_MINIMIZED && session.settings.tray_icon_flag) {
        ShowWindow(window, SW_HIDE);
        return 0;
      }
      break;
    case WM_PAINT:
      log_view_paint(window);
      return 0;
    case WM_ENDSESSION:
      if (!wparam) return 0;
      exit_steps(window);
      break;
    case WM_DESTROY:
      exit_steps(window);
      release_lent_atom();
      break;
    case WM_QUARN_TRAY:
      if (lparam == WM_LBUTTONDBLCLK)
        ShowWindow(window, IsWindowVisible(window) ? SW_HIDE : SW_RESTORE);
      return 0;
    case WM_COMMAND:
      // Exit goes on to the default processing after its steps.
      if (on_command(window, LOWORD(wparam)) && LOWORD(wparam) != IDM_EXIT) return 0;
      break;
    case WM_TIMER:
      if (wparam == ID_PROGRESS_TIMER) {
        progress_tick(window);
        return 0;
      }
      break;
    default:
      // The taskbar came back (Explorer restarted): without the icon a
      // hidden window could not be reached.
      if (message == win32_shell.taskbar_created && message != 0) {
        if (session.settings.tray_icon_flag)
          tray_notify(TrayAction::add, IDI_QUARN, window_title, window);
        return 0;
      }
      if (message == win32_shell.log_line_message && message != 0) return log_line_atom(wparam);
      if (message == win32_shell.menu_state_message && message != 0) return menu_state(wparam);
      break;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}
