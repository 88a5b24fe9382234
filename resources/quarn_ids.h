/*
 * quarn_ids.h: the numbers and texts that tie the resources to the code,
 * included by quarn.rc, the window and the terminal front end. Plain
 * #defines of numbers and string literals so the resource compiler reads
 * them too; texts are built by the juxtaposition of literals.
 */
#ifndef QUARN_IDS_H
#define QUARN_IDS_H

#include "quarn_version.h"

/* The single-instance key and the title the window and the terminal show. */
#define QUARN_WINDOW_CLASS "QuarnClass " QUARN_VERSION
#define QUARN_WINDOW_TITLE "Quarn " QUARN_VERSION

/* Menu 1, the window class menu, and its commands. */
#define IDM_MAIN_MENU 1
#define IDM_START 101
#define IDM_STOP 102
#define IDM_EXIT 103
#define IDM_TRAY_ICON 104
#define IDM_AUTOCONTINUE 105
#define IDM_PRIORITY 106
#define IDM_ABOUT 107

/* The menu's popups and items, with their mnemonics. */
#define TEXT_MENU_QUARN "&Quarn"
#define TEXT_START "&Start Calculating"
#define TEXT_STOP "S&top Calculating"
#define TEXT_EXIT "E&xit Quarn"
#define TEXT_MENU_OPTIONS "&Options"
#define TEXT_TRAY_ICON "&Tray Icon"
#define TEXT_AUTOCONTINUE "&Auto-continue"
#define TEXT_PRIORITY "&Priority ..."
#define TEXT_MENU_HELP "&Help"
#define TEXT_ABOUT "&About Quarn ..."

/* Dialogs. */
#define IDD_ABOUT 101
#define IDD_PRIORITY 102

/* The About box: its caption and the lines below the first, which names
   the front end. */
#define TEXT_ABOUT_CAPTION "About Quarn"
#define TEXT_ABOUT_VERSION "Version " QUARN_VERSION
#define TEXT_ABOUT_BY "By the Quarn project"
#define TEXT_ABOUT_ADDRESS "quarn@quarn.invalid"

/* The priority dialog's caption and texts. */
#define TEXT_PRIORITY_CAPTION "Set Priority"
#define TEXT_PRIORITY_ADVICE \
  "Select the priority that you wish Quarn to run at.  It is recommended that you leave " \
  "Quarn on the 'Auto' setting, as this allows it to vary its priority to match any screen " \
  "savers or other idle-priority programs which might otherwise 'steal' its cycles."
#define TEXT_PRIORITY_NO_BENEFIT \
  "There is no benefit to increasing the priority level unless other programs are stealing " \
  "Quarn's CPU cycles"
#define TEXT_PRIORITY_1 "Priority level 1"
#define TEXT_PRIORITY_2 "Priority level 2"
#define TEXT_PRIORITY_3 "Priority level 3"
#define TEXT_PRIORITY_4 "Priority level 4 (screen saver)"
#define TEXT_PRIORITY_5 "Priority level 5"
#define TEXT_PRIORITY_AUTO "Auto"

/* The priority dialog's radio buttons: the chosen one's ID is the stored
   choice, and a fixed level is the ID less 104. */
#define IDC_PRIORITY_1 101
#define IDC_PRIORITY_2 102
#define IDC_PRIORITY_3 103
#define IDC_PRIORITY_4 104
#define IDC_PRIORITY_5 105
#define IDC_PRIORITY_AUTO 106

/* Icons: 1 is the program's own (and the window class icon), 2 the dark
   phase of the tray icon's blinking. */
#define IDI_QUARN 1
#define IDI_DARK 2

/* The tray icon's callback message and the progress timer. */
#define WM_QUARN_TRAY 101
#define ID_PROGRESS_TIMER 1

#endif
