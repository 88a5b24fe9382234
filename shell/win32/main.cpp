/*
 * main.cpp: the Windows program's entry point: the state file located, a
 * single instance, the idle priority class, the window class and the main
 * window, then the message loop.
 */
#include <windows.h>

#include "platform.h"
#include "quarn_ids.h"
#include "session.h"
#include "state_file.h"
#include "win32_shell.h"

extern "C" LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Even a second copy fixes the state file's place (and migrates an old
  // one) before it looks for the first.
  locate_state_file();
  win32_shell.instance = instance;
  if (FindWindowA(window_class_name, window_title)) return 0;
  process_set_idle_class();
  // The UI thread stays above every worker level within the idle class.
  thread_set_current_priority(thread_priority_highest);
  win32_shell.taskbar_created = RegisterWindowMessageA("TaskbarCreated");
  win32_shell.log_line_message = RegisterWindowMessageA("Quarn log line");
  win32_shell.menu_state_message = RegisterWindowMessageA("Quarn menu state");

  session_open(window_ops(log_view_ops()));

  WNDCLASSA window_class = {};
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUARN));
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  window_class.lpszMenuName = MAKEINTRESOURCEA(IDM_MAIN_MENU);
  window_class.lpszClassName = window_class_name;
  if (!RegisterClassA(&window_class)) return 0;

  HWND window = CreateWindowExA(0, window_class_name, window_title, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                nullptr, nullptr, instance, nullptr);
  if (!window) return 0;
  UpdateWindow(window);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
