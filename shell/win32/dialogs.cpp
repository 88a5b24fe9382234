/*
 * dialogs.cpp: the About box and the priority dialog.
 */
#include <windows.h>

#include "priority.h"
#include "quarn_ids.h"
#include "win32_shell.h"
#include "workers.h"

INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (wparam == IDOK || wparam == IDCANCEL)) {
    EndDialog(dialog, 1);
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK priority_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    CheckRadioButton(dialog, IDC_PRIORITY_1, IDC_PRIORITY_AUTO,
                     priority_control.priority_choice.load());
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  if (wparam == IDOK) {
    int32_t choice = priority_control.priority_choice.load();
    for (int id = IDC_PRIORITY_1; id <= IDC_PRIORITY_AUTO; ++id)
      if (IsDlgButtonChecked(dialog, id) == BST_CHECKED) choice = id;
    apply_priority_choice(choice, worker_state.active_workers.load() != 0);
    EndDialog(dialog, 1);
  } else if (wparam == IDCANCEL) {
    EndDialog(dialog, 1);
  }
  return FALSE;
}
