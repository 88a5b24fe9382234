/*
 * tui.h: the terminal interface as plain data drawn onto a character grid
 * (keys, the menu bar with its three popups, the priority dialog, the About
 * box, the screen's layout), which never touches the terminal itself, so
 * that tests run it without one.
 */
#pragma once

#include <cstdint>

// --- keys ---

// Keys that are not characters; characters are their own codes (32..126).
enum : int {
  key_none = 0,
  key_up = 0x100,
  key_down,
  key_left,
  key_right,
  key_enter,
  key_escape,
  key_tab,
  key_backtab,
  key_f10,
  key_resize,
};

struct KeyPress {
  int code;
  bool alt;  // held with Alt (the terminal sends Escape first)
};

// --- drawing ---

enum : unsigned {
  style_normal = 0,
  style_reverse = 1,
  style_underline = 2,
  style_dim = 4,
};

// Line-drawing and mark glyphs, which each terminal draws its own way.
enum class Glyph { hline, vline, top_left, top_right, bottom_left, bottom_right, left_tee, right_tee, check };

// A grid of rows x cols cells. Callers clip: every cell they put is inside.
struct Canvas {
  int rows;
  int cols;
  void *target;
  void (*text)(void *target, int row, int col, const char *text, int length, unsigned style);
  void (*glyph)(void *target, int row, int col, Glyph glyph, unsigned style);
};

// Puts up to `length` characters (-1: the whole string) at (row, col),
// cut at the canvas's edges; a negative col drops the characters left of it.
void put_text(const Canvas &c, int row, int col, const char *text, int length, unsigned style);
// Puts a glyph when the cell is on the canvas.
void put_glyph(const Canvas &c, int row, int col, Glyph glyph, unsigned style);
// A label whose '&' marks its mnemonic: drawn without the '&', the letter
// after it underlined. Returns the columns used.
int put_label(const Canvas &c, int row, int col, const char *label, unsigned style);
// Columns of a label on screen (its '&' takes none).
int label_width(const char *label);
// The mnemonic of a label in lower case, or 0 when it has none.
char label_mnemonic(const char *label);

// --- the menu ---

// An item of a popup; command 0 is a separator.
struct MenuItem {
  const char *label;
  int32_t command;
};

struct MenuPopup {
  const char *label;
  const MenuItem *items;
  int count;
};

constexpr int menu_popup_count = 3;
// "&Quarn", "&Options", "&Help" with the window's seven items (101..107).
extern const MenuPopup menu_popups[menu_popup_count];

constexpr int32_t first_command = 101;
constexpr int32_t command_count = 7;

struct MenuState {
  bool greyed[command_count];   // by command - first_command
  bool checked[command_count];
  int open;       // the popup shown under the bar, -1 when none
  int highlight;  // item of the open popup that Enter chooses
};

// Everything enabled and unchecked, no popup open.
void menu_init(MenuState *m);
void menu_set_greyed(MenuState *m, int32_t command, bool greyed);
void menu_set_checked(MenuState *m, int32_t command, bool checked);
bool menu_greyed(const MenuState &m, int32_t command);
bool menu_checked(const MenuState &m, int32_t command);

// One key for the menu, as the window's menu takes it: F10 or Alt with a
// popup's letter opens it; with a popup open, an item's letter or Enter on
// the highlighted item chooses it (greyed items refuse), the arrows move,
// Escape closes. Returns the command chosen, which closes the popup, or 0.
int32_t menu_key(MenuState *m, KeyPress k);

// --- dialogs ---

enum class DialogEnd { none, ok, cancel };

// The priority dialog's state: the checked radio button (101..106) and the
// control with the focus.
struct PriorityDialog {
  int32_t checked;
  int focus;  // 0: the radio buttons, 1: OK, 2: Cancel
};

// Opened with the current choice checked and the focus on the buttons'
// group.
PriorityDialog priority_dialog_open(int32_t choice);
// Arrows move the check through 101..106 (wrapping), Tab moves the focus,
// Enter presses the focused button (OK from the radio buttons), Space
// presses a focused button, O and C press OK and Cancel, Escape cancels.
DialogEnd priority_dialog_key(PriorityDialog *d, KeyPress k);
// The About box's OK: Enter, Space, Escape or O close it.
bool about_box_key(KeyPress k);

// --- the screen ---

enum class DialogShown { none, priority, about };

// Where the parts of the screen go on a terminal of `rows` rows; -1 for a
// part left out. The log always keeps at least one row, so however small
// the terminal, the newest line shows: the status line goes first, then
// the title, then the menu bar.
struct ScreenLayout {
  int title_row;
  int menu_row;
  int log_top;
  int log_rows;
  int status_row;
};
ScreenLayout screen_layout(int rows);

// What one frame shows.
struct ScreenView {
  const char *title;      // the window title, QUARN_WINDOW_TITLE
  const char *tip;        // the tray tip, right of the title
  bool title_inverted;    // a notice flashes the title
  const MenuState *menu;
  DialogShown dialog;
  const PriorityDialog *priority;  // when dialog is priority
  const char *about_lines[4];      // when dialog is about
  const char *status;     // the status line
};

// Draws the whole frame, the log from the ring included.
void draw_screen(const Canvas &c, const ScreenView &v);

// The log ring's text output (LogWindowOps::text_out) for draw_screen: the
// "device context" it is handed is the log area of the canvas.
void log_text_out(void *dc, int x, int y, const char *text, int length);

// The priority dialog's texts.
extern const char priority_text_1[];
extern const char priority_text_2[];
extern const char *const priority_button_labels[6];  // 101..106
