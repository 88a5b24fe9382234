/*
 * screen.cpp: the curses side of the terminal interface.
 */
#include "screen.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <curses.h>

namespace {

// Process-wide values of the terminal.
struct ScreenState {
  bool open = false;
  bool utf8 = false;       // the check mark can be drawn as such
  bool title_saved = false;
  // How the window title is set: the terminal description's status-line
  // strings, or the xterm sequences most terminal emulators follow.
  const char *title_begin = nullptr;
  const char *title_end = nullptr;
  bool xterm_title = false;
};

ScreenState term_state;

// Terminal types known to take the xterm title sequences though their
// descriptions do not say so.
bool xterm_like(const char *name) {
  static const char *const prefixes[] = {"xterm", "screen", "tmux", "rxvt", "alacritty",
                                         "kitty", "foot", "st", "gnome", "konsole", "vte"};
  for (const char *p : prefixes)
    if (std::strncmp(name, p, std::strlen(p)) == 0) return true;
  return false;
}

// Strings from the terminal description; null when absent.
const char *capability(const char *name) {
  char *s = tigetstr(const_cast<char *>(name));
  return s == nullptr || s == reinterpret_cast<char *>(-1) ? nullptr : s;
}

void choose_title_method() {
  if (tigetflag(const_cast<char *>("hs")) > 0) {
    term_state.title_begin = capability("tsl");
    term_state.title_end = capability("fsl");
    if (term_state.title_begin && term_state.title_end) return;
  }
  term_state.title_begin = term_state.title_end = nullptr;
  const char *name = termname();
  term_state.xterm_title = name && xterm_like(name);
}

attr_t attributes(unsigned style) {
  attr_t a = A_NORMAL;
  if (style & style_reverse) a |= A_REVERSE;
  if (style & style_underline) a |= A_UNDERLINE;
  if (style & style_dim) a |= A_DIM;
  return a;
}

void put_cells(void *, int row, int col, const char *text, int length, unsigned style) {
  attrset(attributes(style));
  mvaddnstr(row, col, text, length);
}

void put_glyph_cell(void *, int row, int col, Glyph glyph, unsigned style) {
  attrset(attributes(style));
  switch (glyph) {
    case Glyph::hline: mvaddch(row, col, ACS_HLINE); break;
    case Glyph::vline: mvaddch(row, col, ACS_VLINE); break;
    case Glyph::top_left: mvaddch(row, col, ACS_ULCORNER); break;
    case Glyph::top_right: mvaddch(row, col, ACS_URCORNER); break;
    case Glyph::bottom_left: mvaddch(row, col, ACS_LLCORNER); break;
    case Glyph::bottom_right: mvaddch(row, col, ACS_LRCORNER); break;
    case Glyph::left_tee: mvaddch(row, col, ACS_LTEE); break;
    case Glyph::right_tee: mvaddch(row, col, ACS_RTEE); break;
    case Glyph::check:
      if (term_state.utf8)
        mvaddstr(row, col, "\xE2\x9C\x93");  // U+2713 CHECK MARK
      else
        mvaddch(row, col, '*');
      break;
  }
}

// Sends a control string at once. Curses has nothing of its own waiting
// between two frames, so the string cannot land inside one.
void send(const char *text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

}  // namespace

bool screen_open() {
  // The character type only: numbers keep the "C" formats.
  std::setlocale(LC_CTYPE, "");
  term_state.utf8 = MB_CUR_MAX > 1;
  // A missing terminal description would make initscr end the program.
  if (!newterm(nullptr, stdout, stdin)) return false;
  term_state.open = true;
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  curs_set(0);
  set_escdelay(25);
  choose_title_method();
  return true;
}

void screen_close() {
  if (!term_state.open) return;
  term_state.open = false;
  endwin();
}

static int translate(int ch) {
  switch (ch) {
    case KEY_UP: return key_up;
    case KEY_DOWN: return key_down;
    case KEY_LEFT: return key_left;
    case KEY_RIGHT: return key_right;
    case KEY_ENTER:
    case '\r':
    case '\n': return key_enter;
    case '\t': return key_tab;
    case KEY_BTAB: return key_backtab;
    case KEY_RESIZE: return key_resize;
    case 27: return key_escape;
    default: break;
  }
  if (ch == KEY_F(10)) return key_f10;
  if (ch >= 32 && ch < 127) return ch;
  return key_none;
}

KeyPress screen_read_key(int timeout_ms) {
  timeout(timeout_ms);
  const int ch = getch();
  if (ch == ERR) return KeyPress{key_none, false};
  if (ch == 27) {
    // The terminal sends Alt+key as Escape and the key, back to back.
    timeout(0);
    const int next = getch();
    if (next == 27) {
      // Escape and then Alt with a key: the second Escape starts the next.
      ungetch(next);
    } else if (next != ERR) {
      const int code = translate(next);
      if (code != key_none && code != key_escape) return KeyPress{code, true};
    }
    return KeyPress{key_escape, false};
  }
  return KeyPress{translate(ch), false};
}

Canvas screen_begin_frame() {
  erase();
  Canvas c{};
  getmaxyx(stdscr, c.rows, c.cols);
  c.text = put_cells;
  c.glyph = put_glyph_cell;
  return c;
}

void screen_end_frame() {
  attrset(A_NORMAL);
  refresh();
}

void screen_title_save() {
  if (!term_state.open || term_state.title_saved) return;
  // Only the xterm sequences can save a title and give it back.
  if (term_state.xterm_title) send("\033[22;2t");
  term_state.title_saved = true;
}

void screen_title_set(const char *text) {
  if (!term_state.open) return;
  char buf[256];
  if (term_state.title_begin) {
    std::snprintf(buf, sizeof buf, "%s%s%s", term_state.title_begin, text, term_state.title_end);
  } else if (term_state.xterm_title) {
    std::snprintf(buf, sizeof buf, "\033]2;%s\007", text);
  } else {
    return;
  }
  send(buf);
}

void screen_title_restore() {
  if (!term_state.open || !term_state.title_saved) return;
  term_state.title_saved = false;
  if (term_state.xterm_title) send("\033[23;2t");
}
