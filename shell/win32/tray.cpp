/*
 * tray.cpp: the program's one icon in the taskbar's notification area.
 */
#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "quarn_ids.h"
#include "win32_shell.h"

void tray_notify(TrayAction action, int icon, const char *tip, HWND window) {
  // The first, 88-byte form of the record: every shell since the first
  // knows it, and it holds all this icon needs.
  NOTIFYICONDATAA data;
  std::memset(&data, 0, sizeof data);
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;
  data.hWnd = window;
  data.uID = 1;
  DWORD message = NIM_DELETE;
  if (action == TrayAction::add) {
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    message = NIM_ADD;
  } else if (action == TrayAction::modify) {
    data.uFlags = NIF_ICON | NIF_TIP;
    message = NIM_MODIFY;
  }
  data.uCallbackMessage = WM_QUARN_TRAY;
  data.hIcon = LoadIconA(win32_shell.instance, MAKEINTRESOURCEA(icon));
  std::strncpy(data.szTip, tip, sizeof data.szTip - 1);
  data.szTip[sizeof data.szTip - 1] = '\0';
  Shell_NotifyIconA(message, &data);
}
