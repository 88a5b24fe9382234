/*
 * dialogs.cpp: the About box and the priority dialog.
 */
#include <windows.h>

#include "quarn_ids.h"
#include "session.h"
#include "win32_shell.h"

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
    CheckRadioButton(dialog, IDC_PRIORITY_1, IDC_PRIORITY_AUTO, session_priority_choice());
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  if (wparam == IDOK) {
    int32_t choice = session_priority_choice();
    for (int id = IDC_PRIORITY_1; id <= IDC_PRIORITY_AUTO; ++id)
      if (IsDlgButtonChecked(dialog, id) == BST_CHECKED) choice = id;
    session_set_priority(choice);
    EndDialog(dialog, 1);
  } else if (wparam == IDCANCEL) {
    EndDialog(dialog, 1);
  }
  return FALSE;
}
