/*
 * view.cpp: the layout of the terminal screen and the drawing of its parts
 * (title, menu bar, popups, log, status line, dialogs) onto a canvas.
 */
#include <cstring>

#include "quarn_ids.h"
#include "status_log.h"
#include "tui.h"

const char priority_text_1[] = TEXT_PRIORITY_ADVICE;
const char priority_text_2[] = TEXT_PRIORITY_NO_BENEFIT;
const char *const priority_button_labels[6] = {
    TEXT_PRIORITY_1, TEXT_PRIORITY_2, TEXT_PRIORITY_3,
    TEXT_PRIORITY_4, TEXT_PRIORITY_5, TEXT_PRIORITY_AUTO,
};

// --- clipped output ---

void put_text(const Canvas &c, int row, int col, const char *text, int length, unsigned style) {
  if (row < 0 || row >= c.rows || !text) return;
  int n = 0;
  while ((length < 0 || n < length) && text[n]) ++n;
  if (col < 0) {
    if (-col >= n) return;
    text += -col;
    n += col;
    col = 0;
  }
  if (col >= c.cols) return;
  if (n > c.cols - col) n = c.cols - col;
  if (n > 0) c.text(c.target, row, col, text, n, style);
}

void put_glyph(const Canvas &c, int row, int col, Glyph glyph, unsigned style) {
  if (row >= 0 && row < c.rows && col >= 0 && col < c.cols) c.glyph(c.target, row, col, glyph, style);
}

int label_width(const char *label) {
  int n = 0;
  for (const char *p = label; *p; ++p)
    if (*p != '&') ++n;
  return n;
}

int put_label(const Canvas &c, int row, int col, const char *label, unsigned style) {
  const char *amp = std::strchr(label, '&');
  if (!amp || !amp[1]) {
    put_text(c, row, col, label, -1, style);
    return label_width(label);
  }
  const int before = static_cast<int>(amp - label);
  put_text(c, row, col, label, before, style);
  put_text(c, row, col + before, amp + 1, 1, style | style_underline);
  put_text(c, row, col + before + 1, amp + 2, -1, style);
  return label_width(label);
}

// Spaces over `width` cells from (row, col).
static void fill(const Canvas &c, int row, int col, int width, unsigned style) {
  static const char spaces[] = "                                                                ";
  const int chunk = static_cast<int>(sizeof spaces) - 1;
  for (int done = 0; done < width; done += chunk) {
    const int n = width - done < chunk ? width - done : chunk;
    put_text(c, row, col + done, spaces, n, style);
  }
}

// A box with its inside cleared, so it covers whatever lies beneath.
static void frame(const Canvas &c, int top, int left, int height, int width, const char *caption) {
  if (height < 2 || width < 2) return;
  const int bottom = top + height - 1, right = left + width - 1;
  for (int r = top + 1; r < bottom; ++r) fill(c, r, left + 1, width - 2, style_normal);
  for (int x = left + 1; x < right; ++x) {
    put_glyph(c, top, x, Glyph::hline, style_normal);
    put_glyph(c, bottom, x, Glyph::hline, style_normal);
  }
  for (int r = top + 1; r < bottom; ++r) {
    put_glyph(c, r, left, Glyph::vline, style_normal);
    put_glyph(c, r, right, Glyph::vline, style_normal);
  }
  put_glyph(c, top, left, Glyph::top_left, style_normal);
  put_glyph(c, top, right, Glyph::top_right, style_normal);
  put_glyph(c, bottom, left, Glyph::bottom_left, style_normal);
  put_glyph(c, bottom, right, Glyph::bottom_right, style_normal);
  if (caption) {
    const int n = static_cast<int>(std::strlen(caption)) + 2;
    if (n <= width - 2) {
      const int x = left + (width - n) / 2;
      put_text(c, top, x, " ", 1, style_normal);
      put_text(c, top, x + 1, caption, -1, style_normal);
      put_text(c, top, x + n - 1, " ", 1, style_normal);
    }
  }
}

// Breaks text into lines of at most `width` columns at spaces (a word
// longer than a line is cut); the spaces at a break are dropped. Returns
// the number of lines, of which the first `max` are stored.
static int wrap(const char *text, int width, const char **starts, int *lengths, int max) {
  int lines = 0;
  const char *p = text;
  if (width < 1) return 0;
  while (*p) {
    while (*p == ' ') ++p;
    if (!*p) break;
    const int rest = static_cast<int>(std::strlen(p));
    int n = rest;
    if (rest > width) {
      n = width;
      while (n > 0 && p[n] != ' ') --n;
      if (n == 0) n = width;
      while (n > 0 && p[n - 1] == ' ') --n;
    }
    if (lines < max) {
      starts[lines] = p;
      lengths[lines] = n;
    }
    ++lines;
    p += n;
  }
  return lines;
}

// --- the screen's parts ---

ScreenLayout screen_layout(int rows) {
  ScreenLayout l{-1, -1, 0, 0, -1};
  if (rows < 1) return l;
  int row = 0;
  if (rows >= 3) l.title_row = row++;
  if (rows >= 2) l.menu_row = row++;
  l.log_top = row;
  l.log_rows = rows - row - (rows >= 4 ? 1 : 0);
  if (rows >= 4) l.status_row = rows - 1;
  return l;
}

// Column of popup i's title on the menu bar: " Quarn  Options  Help ".
static int popup_column(int popup) {
  int x = 0;
  for (int i = 0; i < popup; ++i) x += label_width(menu_popups[i].label) + 2;
  return x;
}

static void draw_title(const Canvas &c, int row, const ScreenView &v) {
  // The caption is drawn inverted while at rest; a flash turns it over.
  const unsigned style = v.title_inverted ? style_normal : style_reverse;
  fill(c, row, 0, c.cols, style);
  const int title_len = static_cast<int>(std::strlen(v.title));
  put_text(c, row, 1, v.title, -1, style);
  const int tip_len = v.tip ? static_cast<int>(std::strlen(v.tip)) : 0;
  if (tip_len > 0 && c.cols - tip_len - 1 > title_len + 2)
    put_text(c, row, c.cols - tip_len - 1, v.tip, -1, style);
}

static void draw_menu_bar(const Canvas &c, int row, const MenuState &m) {
  fill(c, row, 0, c.cols, style_normal);
  for (int i = 0; i < menu_popup_count; ++i) {
    const unsigned style = m.open == i ? style_reverse : style_normal;
    const int x = popup_column(i);
    put_text(c, row, x, " ", 1, style);
    const int w = put_label(c, row, x + 1, menu_popups[i].label, style);
    put_text(c, row, x + 1 + w, " ", 1, style);
  }
}

static void draw_popup(const Canvas &c, int top, const MenuState &m) {
  const MenuPopup &p = menu_popups[m.open];
  int widest = 0;
  for (int i = 0; i < p.count; ++i)
    if (label_width(p.items[i].label) > widest) widest = label_width(p.items[i].label);
  // Border, check column and a space, the label, two spaces, border.
  const int width = widest + 6;
  int left = popup_column(m.open);
  if (left + width > c.cols) left = c.cols - width > 0 ? c.cols - width : 0;
  frame(c, top, left, p.count + 2, width, nullptr);
  for (int i = 0; i < p.count; ++i) {
    const int row = top + 1 + i;
    const MenuItem &item = p.items[i];
    if (item.command == 0) {
      put_glyph(c, row, left, Glyph::left_tee, style_normal);
      for (int x = left + 1; x < left + width - 1; ++x) put_glyph(c, row, x, Glyph::hline, style_normal);
      put_glyph(c, row, left + width - 1, Glyph::right_tee, style_normal);
      continue;
    }
    unsigned style = i == m.highlight ? style_reverse : style_normal;
    if (menu_greyed(m, item.command)) style |= style_dim;
    fill(c, row, left + 1, width - 2, style);
    if (menu_checked(m, item.command)) put_glyph(c, row, left + 1, Glyph::check, style);
    put_label(c, row, left + 3, item.label, style);
  }
}

// The log area handed to the ring's painting as its device context.
struct LogArea {
  const Canvas *canvas;
  int top;
  int rows;
};

void log_text_out(void *dc, int x, int y, const char *text, int length) {
  const LogArea *area = static_cast<const LogArea *>(dc);
  if (y < 0 || y >= area->rows) return;
  put_text(*area->canvas, area->top + y, x, text, length, style_normal);
}

static void draw_about(const Canvas &c, const ScreenView &v) {
  int width = 34;
  for (const char *line : v.about_lines)
    if (line && static_cast<int>(std::strlen(line)) + 4 > width) width = static_cast<int>(std::strlen(line)) + 4;
  if (width > c.cols) width = c.cols;
  const int height = 8;  // border, four lines, a gap, the button, border
  const int top = c.rows > height ? (c.rows - height) / 2 : 0;
  const int left = c.cols > width ? (c.cols - width) / 2 : 0;
  frame(c, top, left, height, width, TEXT_ABOUT_CAPTION);
  for (int i = 0; i < 4; ++i) {
    const char *line = v.about_lines[i] ? v.about_lines[i] : "";
    const int n = static_cast<int>(std::strlen(line));
    put_text(c, top + 1 + i, left + (width - n) / 2, line, -1, style_normal);
  }
  put_text(c, top + 6, left + (width - 6) / 2, "[ OK ]", -1, style_reverse);
}

static void draw_priority(const Canvas &c, const PriorityDialog &d) {
  constexpr int full_width = 68;
  const int width = c.cols < full_width ? c.cols : full_width;
  const int inner = width - 2;
  // OK and Cancel stand right of the first text, as in the window's
  // dialog, when there is room; below the radio buttons otherwise.
  const bool buttons_right = inner >= 40;
  const bool two_columns = inner >= 62;
  const int text1_width = inner - 2 - (buttons_right ? 11 : 0);
  const int text2_width = inner - 2;
  const char *s1[16], *s2[16];
  int n1[16], n2[16];
  const int wrapped1 = wrap(priority_text_1, text1_width, s1, n1, 16);
  const int wrapped2 = wrap(priority_text_2, text2_width, s2, n2, 16);
  const int shown1 = wrapped1 < 16 ? wrapped1 : 16;
  const int lines2 = wrapped2 < 16 ? wrapped2 : 16;
  int lines1 = shown1;
  if (buttons_right && lines1 < 3) lines1 = 3;  // room for both buttons
  const int radio_rows = two_columns ? 3 : 6;
  const int height = 2 + lines1 + 1 + lines2 + 1 + radio_rows + (buttons_right ? 0 : 2);
  const int top = c.rows > height ? (c.rows - height) / 2 : 0;
  const int left = c.cols > width ? (c.cols - width) / 2 : 0;
  frame(c, top, left, height, width, TEXT_PRIORITY_CAPTION);

  int row = top + 1;
  for (int i = 0; i < shown1; ++i) put_text(c, row + i, left + 2, s1[i], n1[i], style_normal);
  const int buttons_row = row;
  row += lines1 + 1;
  for (int i = 0; i < lines2; ++i) put_text(c, row + i, left + 2, s2[i], n2[i], style_normal);
  row += lines2 + 1;
  for (int i = 0; i < 6; ++i) {
    const int id = IDC_PRIORITY_1 + i;
    const int r = two_columns ? row + i % 3 : row + i;
    const int x = left + 4 + (two_columns && i >= 3 ? 24 : 0);
    const unsigned style = d.focus == 0 && d.checked == id ? style_reverse : style_normal;
    put_text(c, r, x, d.checked == id ? "(*) " : "( ) ", 4, style_normal);
    put_text(c, r, x + 4, priority_button_labels[i], -1, style);
  }
  int ok_col = left + width - 11, cancel_col = ok_col, ok_row = buttons_row, cancel_row = buttons_row + 2;
  if (!buttons_right) {
    ok_row = cancel_row = row + radio_rows + 1;
    ok_col = left + 2;
    cancel_col = left + 2 + 8 + 2;
  }
  const unsigned ok_style = d.focus != 2 ? style_reverse : style_normal;
  const unsigned cancel_style = d.focus == 2 ? style_reverse : style_normal;
  put_text(c, ok_row, ok_col, "[  ", 3, ok_style);
  put_label(c, ok_row, ok_col + 3, "&OK", ok_style);
  put_text(c, ok_row, ok_col + 5, "  ]", 3, ok_style);
  put_text(c, cancel_row, cancel_col, "[", 1, cancel_style);
  put_label(c, cancel_row, cancel_col + 1, "&Cancel", cancel_style);
  put_text(c, cancel_row, cancel_col + 7, "]", 1, cancel_style);
}

void draw_screen(const Canvas &c, const ScreenView &v) {
  const ScreenLayout l = screen_layout(c.rows);
  if (l.title_row >= 0) draw_title(c, l.title_row, v);
  if (l.menu_row >= 0) draw_menu_bar(c, l.menu_row, *v.menu);
  if (l.log_rows > 0) {
    LogArea area{&c, l.log_top, l.log_rows};
    log_paint(&area, l.log_rows);
  }
  if (l.status_row >= 0) {
    fill(c, l.status_row, 0, c.cols, style_reverse);
    put_text(c, l.status_row, 1, v.status, -1, style_reverse);
  }
  if (v.menu->open >= 0) draw_popup(c, l.menu_row >= 0 ? l.menu_row + 1 : 0, *v.menu);
  if (v.dialog == DialogShown::about) draw_about(c, v);
  if (v.dialog == DialogShown::priority && v.priority) draw_priority(c, *v.priority);
}
