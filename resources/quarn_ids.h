/*
 * quarn_ids.h: the numbers that tie the resources to the code, included by
 * both quarn.rc and the program. Plain #defines so the resource compiler
 * reads them too.
 */
#ifndef QUARN_IDS_H
#define QUARN_IDS_H

/* Menu 1, the window class menu, and its commands. */
#define IDM_MAIN_MENU 1
#define IDM_START 101
#define IDM_STOP 102
#define IDM_EXIT 103
#define IDM_TRAY_ICON 104
#define IDM_AUTOCONTINUE 105
#define IDM_PRIORITY 106
#define IDM_ABOUT 107

/* Dialogs. */
#define IDD_ABOUT 101
#define IDD_PRIORITY 102

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
