// console_ui_test.cpp: the terminal interface's menu and dialog keys, its layout and drawing on a character grid, and its status line.
#include <gtest/gtest.h>

#include <cstring>

#include <string>
#include <vector>

#include "quarn_ids.h"
#include "status_line.h"
#include "status_log.h"
#include "tui.h"

namespace {

// --- a character grid standing in for the terminal ---

struct Grid {
  int rows, cols;
  std::vector<std::string> cells;
  std::vector<std::vector<unsigned>> styles;
  int out_of_bounds = 0;
};

void grid_text(void *target, int row, int col, const char *text, int length, unsigned style) {
  Grid &g = *static_cast<Grid *>(target);
  for (int i = 0; i < length; ++i) {
    if (row < 0 || row >= g.rows || col + i < 0 || col + i >= g.cols) {
      ++g.out_of_bounds;
      continue;
    }
    g.cells[row][col + i] = text[i];
    g.styles[row][col + i] = style;
  }
}

void grid_glyph(void *target, int row, int col, Glyph glyph, unsigned style) {
  const char c = glyph == Glyph::hline ? '-' : glyph == Glyph::vline ? '|' : glyph == Glyph::check ? 'v' : '+';
  grid_text(target, row, col, &c, 1, style);
}

struct Screen {
  Grid grid;
  Canvas canvas;
  Screen(int rows, int cols) {
    grid.rows = rows;
    grid.cols = cols;
    grid.cells.assign(rows, std::string(cols, ' '));
    grid.styles.assign(rows, std::vector<unsigned>(cols, style_normal));
    canvas = Canvas{rows, cols, &grid, grid_text, grid_glyph};
  }
  std::string row(int r) const { return grid.cells[r]; }
  // The row's text without the spaces at its end.
  std::string text(int r) const {
    std::string s = grid.cells[r];
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
  }
  bool contains(const std::string &s) const {
    for (const std::string &r : grid.cells)
      if (r.find(s) != std::string::npos) return true;
    return false;
  }
  int row_of(const std::string &s) const {
    for (int r = 0; r < grid.rows; ++r)
      if (grid.cells[r].find(s) != std::string::npos) return r;
    return -1;
  }
  unsigned style_at(int r, int c) const { return grid.styles[r][c]; }
};

KeyPress key(int code) { return KeyPress{code, false}; }
KeyPress alt(int code) { return KeyPress{code, true}; }

// --- the log ring, painted through the canvas ---

int one_row(void *) { return 1; }
bool always(void *) { return true; }
int log_window;  // the window the ring is told about; only its address counts

void reset_log() {
  log_reset({one_row, always, nullptr, nullptr, nullptr, log_text_out});
}

struct Frame {
  MenuState menu;
  PriorityDialog priority{IDC_PRIORITY_AUTO, 0};
  ScreenView view{};
  Frame() {
    menu_init(&menu);
    view.title = "Quarn " QUARN_VERSION;
    view.tip = "Quarn 12.500000% done";
    view.menu = &menu;
    view.dialog = DialogShown::none;
    view.priority = &priority;
    view.about_lines[0] = "Quarn for Linux";
    view.about_lines[1] = "Version " QUARN_VERSION;
    view.about_lines[2] = "By the Quarn project";
    view.about_lines[3] = "quarn@quarn.invalid";
    view.status = "Unit 1000000:0-300000 | stopped";
  }
};

}  // namespace

// --- menu ---

TEST(Menu, AltAndTheLetterOpenAPopupAndAnItemLetterChoosesIt) {
  MenuState m;
  menu_init(&m);
  EXPECT_EQ(menu_key(&m, key('q')), 0);
  EXPECT_EQ(m.open, -1) << "a letter without Alt is not for the menu bar";
  EXPECT_EQ(menu_key(&m, alt('q')), 0);
  EXPECT_EQ(m.open, 0);
  EXPECT_EQ(menu_key(&m, key('S')), IDM_START);
  EXPECT_EQ(m.open, -1);

  const int32_t options[] = {IDM_TRAY_ICON, IDM_AUTOCONTINUE, IDM_PRIORITY};
  const char letters[] = {'t', 'a', 'p'};
  for (int i = 0; i < 3; ++i) {
    menu_key(&m, alt('O'));
    EXPECT_EQ(menu_key(&m, key(letters[i])), options[i]);
  }
  menu_key(&m, alt('h'));
  EXPECT_EQ(menu_key(&m, key('a')), IDM_ABOUT);
  menu_key(&m, alt('q'));
  EXPECT_EQ(menu_key(&m, alt('x')), IDM_EXIT) << "Alt with an item's letter chooses it too";
}

TEST(Menu, GreyedItemsRefuseAndTheirPopupStaysOpen) {
  MenuState m;
  menu_init(&m);
  menu_set_greyed(&m, IDM_STOP, true);
  menu_key(&m, alt('q'));
  EXPECT_EQ(menu_key(&m, key('t')), 0);
  EXPECT_EQ(m.open, 0);
  EXPECT_EQ(m.highlight, 1) << "the refused item is highlighted";
  menu_key(&m, key(key_down));
  menu_key(&m, key(key_up));
  EXPECT_EQ(menu_key(&m, key(key_enter)), 0);
  EXPECT_EQ(m.open, 0);
  menu_set_greyed(&m, IDM_STOP, false);
  EXPECT_EQ(menu_key(&m, key(key_enter)), IDM_STOP);
}

TEST(Menu, F10AndTheArrowsMoveThroughPopupsAndItemsSkippingTheSeparator) {
  MenuState m;
  menu_init(&m);
  menu_key(&m, key(key_f10));
  EXPECT_EQ(m.open, 0);
  EXPECT_EQ(m.highlight, 0);
  menu_key(&m, key(key_up));
  EXPECT_EQ(m.highlight, 3) << "up from the first item wraps to Exit";
  menu_key(&m, key(key_up));
  EXPECT_EQ(m.highlight, 1) << "the separator is passed over";
  menu_key(&m, key(key_down));
  EXPECT_EQ(m.highlight, 3);
  menu_key(&m, key(key_left));
  EXPECT_EQ(m.open, 2) << "left from the first popup wraps to Help";
  EXPECT_EQ(m.highlight, 0);
  menu_key(&m, key(key_right));
  menu_key(&m, key(key_right));
  EXPECT_EQ(m.open, 1);
  menu_key(&m, key(key_down));
  menu_key(&m, key(key_down));
  EXPECT_EQ(menu_key(&m, key(key_enter)), IDM_PRIORITY);
  menu_key(&m, alt('o'));
  menu_key(&m, alt('h'));
  EXPECT_EQ(m.open, 2) << "Alt with another popup's letter switches to it";
  menu_key(&m, key(key_escape));
  EXPECT_EQ(m.open, -1);
  EXPECT_EQ(menu_key(&m, key(key_enter)), 0) << "Enter with no popup open chooses nothing";
}

// --- dialogs ---

TEST(PriorityDialog, ArrowsMoveTheCheckAroundAllSixButtons) {
  PriorityDialog d = priority_dialog_open(IDC_PRIORITY_3);
  EXPECT_EQ(d.checked, IDC_PRIORITY_3);
  priority_dialog_key(&d, key(key_up));
  priority_dialog_key(&d, key(key_up));
  EXPECT_EQ(d.checked, IDC_PRIORITY_1);
  priority_dialog_key(&d, key(key_left));
  EXPECT_EQ(d.checked, IDC_PRIORITY_AUTO);
  priority_dialog_key(&d, key(key_right));
  EXPECT_EQ(d.checked, IDC_PRIORITY_1);
  EXPECT_EQ(priority_dialog_open(99).checked, IDC_PRIORITY_AUTO);
}

TEST(PriorityDialog, EnterPressesOkOrTheFocusedButtonAndEscapeCancels) {
  PriorityDialog d = priority_dialog_open(IDC_PRIORITY_AUTO);
  EXPECT_EQ(priority_dialog_key(&d, key(key_enter)), DialogEnd::ok);
  EXPECT_EQ(priority_dialog_key(&d, key(key_escape)), DialogEnd::cancel);
  EXPECT_EQ(priority_dialog_key(&d, key(' ')), DialogEnd::none) << "Space on the radio buttons";
  priority_dialog_key(&d, key(key_tab));
  EXPECT_EQ(priority_dialog_key(&d, key(' ')), DialogEnd::ok);
  priority_dialog_key(&d, key(key_tab));
  EXPECT_EQ(priority_dialog_key(&d, key(key_enter)), DialogEnd::cancel);
  priority_dialog_key(&d, key(key_backtab));
  EXPECT_EQ(d.focus, 1);
  priority_dialog_key(&d, key(key_down));
  EXPECT_EQ(d.focus, 0) << "an arrow takes the focus back to the radio buttons";
  EXPECT_EQ(priority_dialog_key(&d, key('C')), DialogEnd::cancel);
  EXPECT_EQ(priority_dialog_key(&d, alt('o')), DialogEnd::ok);
  EXPECT_EQ(priority_dialog_key(&d, key('x')), DialogEnd::none);
}

TEST(AboutBox, ClosesOnOkKeysOnly) {
  EXPECT_TRUE(about_box_key(key(key_enter)));
  EXPECT_TRUE(about_box_key(key(key_escape)));
  EXPECT_TRUE(about_box_key(key('o')));
  EXPECT_FALSE(about_box_key(key('q')));
  EXPECT_FALSE(about_box_key(key(key_down)));
}

// --- layout and drawing ---

TEST(Layout, TheLogKeepsARowHoweverSmallTheTerminal) {
  const ScreenLayout full = screen_layout(24);
  EXPECT_EQ(full.title_row, 0);
  EXPECT_EQ(full.menu_row, 1);
  EXPECT_EQ(full.log_top, 2);
  EXPECT_EQ(full.log_rows, 21);
  EXPECT_EQ(full.status_row, 23);
  const ScreenLayout three = screen_layout(3);
  EXPECT_EQ(three.status_row, -1);
  EXPECT_EQ(three.log_rows, 1);
  const ScreenLayout two = screen_layout(2);
  EXPECT_EQ(two.title_row, -1);
  EXPECT_EQ(two.menu_row, 0);
  EXPECT_EQ(two.log_top, 1);
  const ScreenLayout one = screen_layout(1);
  EXPECT_EQ(one.menu_row, -1);
  EXPECT_EQ(one.log_top, 0);
  EXPECT_EQ(one.log_rows, 1);
  EXPECT_EQ(screen_layout(0).log_rows, 0);
}

TEST(Draw, TitleMenuBarLogAndStatusLine) {
  reset_log();
  log_line(&log_window, "older line");
  log_line(&log_window, "two\nlines");
  Frame f;
  menu_set_checked(&f.menu, IDM_TRAY_ICON, true);
  Screen s(24, 80);
  draw_screen(s.canvas, f.view);
  EXPECT_EQ(s.grid.out_of_bounds, 0);
  const std::string title = " Quarn " QUARN_VERSION;
  EXPECT_EQ(s.text(0), title + std::string(80 - title.size() - 22, ' ') + "Quarn 12.500000% done");
  EXPECT_TRUE(s.style_at(0, 0) & style_reverse);
  EXPECT_EQ(s.text(1), " Quarn  Options  Help");
  EXPECT_TRUE(s.style_at(1, 1) & style_underline) << "the Q of Quarn";
  EXPECT_FALSE(s.style_at(1, 2) & style_underline);
  EXPECT_TRUE(s.style_at(1, 8) & style_underline) << "the O of Options";
  // Newest at the bottom of the log, just above the status line.
  EXPECT_EQ(s.text(22), "lines");
  EXPECT_EQ(s.text(21), "two");
  EXPECT_EQ(s.text(20), "older line");
  EXPECT_EQ(s.text(19), "");
  EXPECT_EQ(s.text(23), " Unit 1000000:0-300000 | stopped");
  EXPECT_TRUE(s.style_at(23, 40) & style_reverse);

  f.view.title_inverted = true;
  Screen flashed(24, 80);
  draw_screen(flashed.canvas, f.view);
  EXPECT_FALSE(flashed.style_at(0, 0) & style_reverse);
}

TEST(Draw, PopupShowsChecksGreyedItemsAndTheHighlight) {
  reset_log();
  Frame f;
  menu_set_greyed(&f.menu, IDM_START, true);
  menu_key(&f.menu, alt('q'));
  Screen s(24, 80);
  draw_screen(s.canvas, f.view);
  const int start = s.row_of("Start Calculating");
  ASSERT_EQ(start, 3);
  const int col = static_cast<int>(s.row(start).find("Start"));
  EXPECT_TRUE(s.style_at(start, col + 1) & style_dim);
  EXPECT_TRUE(s.style_at(start, col + 1) & style_reverse) << "highlighted though greyed";
  EXPECT_EQ(s.row_of("Stop Calculating"), 4);
  EXPECT_EQ(s.row(5).substr(0, 3), "+--") << "the separator";
  EXPECT_EQ(s.row_of("Exit Quarn"), 6);
  EXPECT_TRUE(s.style_at(1, 1) & style_reverse) << "the open popup's title";

  menu_set_checked(&f.menu, IDM_AUTOCONTINUE, true);
  menu_key(&f.menu, alt('o'));
  Screen o(24, 80);
  draw_screen(o.canvas, f.view);
  const int tray = o.row_of("Tray Icon"), autoc = o.row_of("Auto-continue");
  ASSERT_GT(tray, 0);
  const size_t check_col = o.row(autoc).find("Auto") - 2;
  EXPECT_EQ(o.row(autoc)[check_col], 'v');
  EXPECT_EQ(o.row(tray)[check_col], ' ');
  EXPECT_EQ(o.grid.out_of_bounds, 0);
}

TEST(Draw, PriorityDialogShowsTextsButtonsAndTheCheckedChoice) {
  reset_log();
  Frame f;
  f.priority = priority_dialog_open(IDC_PRIORITY_3);
  f.view.dialog = DialogShown::priority;
  for (int cols : {80, 50, 30}) {
    Screen s(40, cols);
    draw_screen(s.canvas, f.view);
    EXPECT_EQ(s.grid.out_of_bounds, 0) << cols;
    EXPECT_TRUE(s.contains("Set Priority")) << cols;
    // 30 columns cut the longest label after its number.
    for (const char *label : priority_button_labels)
      EXPECT_TRUE(s.contains(cols >= 50 ? std::string(label) : std::string(label).substr(0, 16)))
          << label << " at " << cols;
    EXPECT_TRUE(s.contains("(*) Priority level 3")) << cols;
    EXPECT_TRUE(s.contains("[  OK  ]")) << cols;
    EXPECT_TRUE(s.contains("[Cancel]")) << cols;
    // The wrapped texts, read back, are the texts.
    std::string all;
    for (int r = 0; r < s.grid.rows; ++r) {
      std::string line = s.row(r);
      const size_t bar = line.find('|'), end = line.rfind('|');
      if (bar == std::string::npos || end == bar) continue;
      line = line.substr(bar + 1, end - bar - 1);
      const size_t ok = line.find('[');
      if (ok != std::string::npos) line.erase(ok);
      all += line + " ";
    }
    std::string squeezed;
    for (char ch : all)
      if (ch != ' ') squeezed += ch;
    EXPECT_NE(squeezed.find("cycles.Thereisnobenefit"), std::string::npos) << cols;
    EXPECT_NE(squeezed.find("'steal'itscycles"), std::string::npos) << cols;
    EXPECT_NE(squeezed.find("stealingQuarn'sCPUcycles"), std::string::npos) << cols;
  }
}

TEST(Draw, AboutBoxIsCentred) {
  reset_log();
  Frame f;
  f.view.dialog = DialogShown::about;
  Screen s(24, 80);
  draw_screen(s.canvas, f.view);
  const int r = s.row_of("Version " QUARN_VERSION);
  ASSERT_GT(r, 0);
  const int left = static_cast<int>(s.row(r).find("Version"));
  EXPECT_NEAR(left + 6, 40, 1);
  EXPECT_EQ(s.row_of("About Quarn"), r - 2);
  EXPECT_GT(s.row_of("[ OK ]"), s.row_of("quarn@quarn.invalid"));
}

TEST(Draw, TinyTerminalsStayInsideAndShowTheNewestLine) {
  reset_log();
  log_line(&log_window, "first");
  log_line(&log_window, "0.250000% done,1234.000000MHz");
  Frame f;
  for (int variant = 0; variant < 4; ++variant) {
    f.view.dialog = variant == 1 ? DialogShown::priority : variant == 2 ? DialogShown::about : DialogShown::none;
    f.menu.open = variant == 3 ? 1 : -1;
    for (auto size : {std::pair<int, int>{5, 20}, {1, 10}, {2, 3}, {1, 1}, {3, 0}}) {
      Screen s(size.first, size.second);
      draw_screen(s.canvas, f.view);
      EXPECT_EQ(s.grid.out_of_bounds, 0) << size.first << "x" << size.second;
    }
  }
  f.view.dialog = DialogShown::none;
  f.menu.open = -1;
  Screen one(1, 12);
  draw_screen(one.canvas, f.view);
  EXPECT_EQ(one.text(0), "0.250000% do");
  Screen small(5, 20);
  draw_screen(small.canvas, f.view);
  EXPECT_EQ(small.text(3), "0.250000% done,1234.");
  EXPECT_EQ(small.text(2), "first");
}

// --- status line ---

TEST(Eta, RateFromTheOldestSampleToTheNewest) {
  EtaEstimator e;
  eta_reset(&e);
  EXPECT_EQ(eta_rate(e), -1);
  EXPECT_EQ(eta_seconds_left(e), -1);
  eta_sample(&e, 1000, 100000, 7, 1100000);
  eta_sample(&e, 2000, 350000, 7, 1100000);
  EXPECT_EQ(eta_rate(e), -1) << "under two seconds of samples";
  eta_sample(&e, 3000, 1100000 - 500001, 7, 1100000);
  EXPECT_DOUBLE_EQ(eta_rate(e), 249999.5);
  EXPECT_EQ(eta_seconds_left(e), 3) << "500001 terms at 249999.5 a second, rounded up";
  eta_sample(&e, 4000, 1100000, 7, 1100000);
  EXPECT_EQ(eta_seconds_left(e), 0);
}

TEST(Eta, ANewRangeOrAFallingCountStartsAfreshAndTheWindowSlides) {
  EtaEstimator e;
  eta_reset(&e);
  eta_sample(&e, 0, 0, 7, 1000000);
  eta_sample(&e, 5000, 50000, 7, 1000000);
  EXPECT_GT(eta_rate(e), 0);
  eta_sample(&e, 6000, 60000, 8, 1000000);
  EXPECT_EQ(e.count, 1) << "another where";
  eta_sample(&e, 9000, 90000, 8, 1000000);
  eta_sample(&e, 10000, 20000, 8, 1000000);
  EXPECT_EQ(e.count, 1) << "done_count fell: a start loaded the workers' chunks";

  // After a slow minute a fast one: only the last minute counts.
  eta_reset(&e);
  int64_t done = 0;
  uint32_t t = 4294960000u;  // the clock wraps on the way
  for (int i = 0; i < 200; ++i, t += 1000) {
    done += i < 100 ? 10 : 1000;
    eta_sample(&e, t, done, 7, 1u << 30);
  }
  EXPECT_EQ(e.count, eta_sample_count);
  EXPECT_DOUBLE_EQ(eta_rate(e), 1000.0);
  eta_sample(&e, t, done, 7, 1u << 30);
  eta_sample(&e, t + 120000, done, 7, 1u << 30);
  EXPECT_GT(eta_rate(e), 0);
}

TEST(StatusLine, DurationsAndTexts) {
  char d[32];
  const std::pair<int64_t, const char *> durations[] = {
      {0, "0s"}, {59, "59s"}, {60, "1m 00s"}, {3599, "59m 59s"}, {3600, "1h 00m"},
      {86399, "23h 59m"}, {86400, "1d 00h"}, {200000, "2d 07h"}};
  for (const auto &[s, text] : durations) {
    format_duration(s, d, sizeof d);
    EXPECT_STREQ(d, text);
  }

  StatusView v{};
  v.where = 1000000;
  v.end_pos = 300000;
  char buf[512];
  status_text(v, buf, sizeof buf);
  EXPECT_STREQ(buf, "Unit 1000000:0-300000 | stopped");

  v.calculating = true;
  v.workers = 3;
  v.worker[0] = worker_status_of({ChunkState::computing, 1000000, 1000, 300000});
  v.worker[1] = worker_status_of({ChunkState::retired, 1000000, 300000, 300000});
  v.worker[2] = worker_status_of({ChunkState::computing, 999999, 5, 20});
  v.seconds_left = 185;
  status_text(v, buf, sizeof buf);
  EXPECT_STREQ(buf, "Unit 1000000:0-300000 | #0 1000-300000 | #1 retired | #2 999999:5-20 | 3m 05s left");

  v.worker[1] = worker_status_of({ChunkState::starting, 0, 0, 0});
  v.worker[2] = worker_status_of({ChunkState::starting, 1000000, 0, 0});
  v.seconds_left = -1;
  status_text(v, buf, sizeof buf);
  EXPECT_STREQ(buf, "Unit 1000000:0-300000 | #0 1000-300000 | #1 starting | #2 starting | estimating");

  v.workers = 40;
  for (WorkerStatus &w : v.worker) w = worker_status_of({ChunkState::retired, 1000000, 0, 0});
  v.seconds_left = 0;
  status_text(v, buf, sizeof buf);
  const std::string s = buf;
  EXPECT_NE(s.find("#15 retired | 24 more | range done"), std::string::npos) << s;
  char small[20];
  status_text(v, small, sizeof small);
  EXPECT_STREQ(small, "Unit 1000000:0-3000");
}

TEST(StatusLine, ShortensItsPartsToFitRatherThanCuttingAWord) {
  StatusView v{};
  v.where = 100000000000ull;
  v.srt_pos = 2000000000;
  v.end_pos = 19999999744ull;
  v.calculating = true;
  v.workers = 4;
  for (int i = 0; i < 4; ++i)
    v.worker[i] = worker_status_of({ChunkState::computing, v.where,
                                    2000000000ull + 268435456ull * i + 12345,
                                    2000000000ull + 268435456ull * (i + 1)});
  v.seconds_left = 200000;
  char full[512], fitted[512];
  status_text(v, full, sizeof full);
  ASSERT_GT(std::strlen(full), 78u) << full;
  // Each width gets a text that fits and ends on a whole part: the ETA is
  // kept while any worker is named, and no number is cut short.
  for (int width : {78, 60, 40, 24, 12}) {
    status_text(v, fitted, sizeof fitted, width);
    const std::string t = fitted;
    EXPECT_LE(t.size(), size_t(width)) << t;
    if (t.find('#') != std::string::npos) {
      EXPECT_NE(t.find(" | 2d 07h left"), std::string::npos) << t;
    }
  }
  status_text(v, fitted, sizeof fitted, 78);
  EXPECT_STREQ(fitted, "100000000000:2000000000-19999999744 | #0 2000012345 | 3 more | 2d 07h left");
  status_text(v, fitted, sizeof fitted, 24);
  EXPECT_STREQ(fitted, "100000000000:2000000000");
  status_text(v, fitted, sizeof fitted, 12);
  EXPECT_STREQ(fitted, "100000000000");
  // A width the full text fits keeps it as it is.
  status_text(v, fitted, sizeof fitted, int(std::strlen(full)));
  EXPECT_STREQ(fitted, full);
}
