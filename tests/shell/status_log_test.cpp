// Tests of the status-log ring and its drawing through mock window operations.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "status_log.h"

namespace {

struct Drawn {
  int y;
  std::string text;
};

// What the mock window saw.
struct MockWindow {
  bool window_thread = true;
  int height = 16;
  int measures = 0;
  int scrolled = 0;  // pixels, summed
  int updates = 0;
  int invalidations = 0;
  int bottom = 480;          // client area used when an update paints
  bool paint_on_update = false;
  std::vector<Drawn> drawn;
};
MockWindow mock;

int mock_measure(void *) { ++mock.measures; return mock.height; }
bool mock_on_window_thread(void *) { return mock.window_thread; }
void mock_scroll(void *, int pixels) { mock.scrolled += pixels; }
// The real update paints synchronously on the window's thread.
void mock_update(void *) {
  ++mock.updates;
  if (mock.paint_on_update) log_paint(nullptr, mock.bottom);
}
void mock_invalidate(void *) { ++mock.invalidations; }
void mock_text_out(void *, int x, int y, const char *text, int length) {
  EXPECT_EQ(x, 0);
  EXPECT_EQ(static_cast<int>(std::strlen(text)), length);
  mock.drawn.push_back({y, std::string(text, static_cast<size_t>(length))});
}

const LogWindowOps mock_ops = {mock_measure, mock_on_window_thread, mock_scroll,
                               mock_update,  mock_invalidate,       mock_text_out};

void *const window = reinterpret_cast<void *>(0x1234);

class StatusLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mock = MockWindow{};
    log_reset(mock_ops);
  }
  // The lines a full repaint of a client area `bottom` pixels tall draws,
  // skipping empty ones, each with its top edge.
  std::vector<Drawn> paint(int bottom) {
    mock.drawn.clear();
    log_paint(nullptr, bottom);
    std::vector<Drawn> visible;
    for (const Drawn &d : mock.drawn)
      if (!d.text.empty()) visible.push_back(d);
    return visible;
  }
  std::string line(int index) {
    char buf[log_line_size + 8];
    EXPECT_TRUE(log_copy_line(index, buf, sizeof buf));
    return buf;
  }
};

TEST_F(StatusLogTest, UnusedLogPaintsNothing) {
  log_paint(nullptr, 480);
  EXPECT_TRUE(mock.drawn.empty());
  char buf[8];
  EXPECT_FALSE(log_copy_line(1, buf, sizeof buf));
  // A commit with nothing appended yet sets nothing up and scrolls nothing.
  log_newline(window);
  EXPECT_EQ(mock.scrolled, 0);
  EXPECT_TRUE(paint(480).empty());
}

TEST_F(StatusLogTest, TextWithoutNewlineStaysInvisibleUntilCommitted) {
  log_append(window, "first\n");
  log_append(window, "abc");
  std::vector<Drawn> shown = paint(480);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "first");
  EXPECT_EQ(line(0), "abc");

  log_newline(window);
  shown = paint(480);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "abc");
  EXPECT_EQ(shown[1].text, "first");
}

TEST_F(StatusLogTest, PiecesJoinIntoLinesNewestAtTheBottom) {
  log_append(window, "abc");
  log_append(window, "de\nf");
  log_newline(window);

  EXPECT_EQ(line(1), "f");
  EXPECT_EQ(line(2), "abcde");
  EXPECT_EQ(line(0), "");
  const std::vector<Drawn> shown = paint(480);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "f");
  EXPECT_EQ(shown[0].y, 480 - 16);
  EXPECT_EQ(shown[1].text, "abcde");
  EXPECT_EQ(shown[1].y, 480 - 32);
}

TEST_F(StatusLogTest, EachCommitScrollsOneLineHeightOnTheWindowThread) {
  mock.height = 13;
  log_append(window, "one\ntwo\n");
  log_append(window, "three");
  log_newline(window);
  EXPECT_EQ(mock.scrolled, 3 * 13);
  EXPECT_EQ(mock.measures, 1);  // measured once, at the first commit
  EXPECT_GE(mock.updates, 1);
  EXPECT_EQ(mock.invalidations, 0);
}

TEST_F(StatusLogTest, OtherThreadsOnlyInvalidate) {
  mock.window_thread = false;
  log_append(window, "Please send\nretired");
  log_newline(window);
  EXPECT_EQ(mock.scrolled, 0);
  EXPECT_EQ(mock.updates, 0);
  EXPECT_EQ(mock.invalidations, 2);
  // The full repaint that follows draws the same picture.
  const std::vector<Drawn> shown = paint(100);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "retired");
  EXPECT_EQ(shown[0].y, 100 - 16);
  EXPECT_EQ(shown[1].text, "Please send");
  EXPECT_EQ(shown[1].y, 100 - 32);
}

// The real update paints while log_newline is still running; painting takes
// the log's lock, so the commit must not hold it then.
TEST_F(StatusLogTest, UpdateThatPaintsAtOnceDoesNotDeadlock) {
  mock.paint_on_update = true;
  log_append(window, "x\ny\n");
  log_newline(window);
  EXPECT_GE(mock.updates, 2);
  EXPECT_FALSE(mock.drawn.empty());
}

TEST_F(StatusLogTest, RingReusesStorageAndPaintsAtMost63Lines) {
  for (int i = 0; i < 150; ++i) {
    log_append(window, ("line " + std::to_string(i)).c_str());
    log_newline(window);
  }
  const std::vector<Drawn> shown = paint(100000);
  ASSERT_EQ(shown.size(), 63u);
  for (int k = 0; k < 63; ++k) {
    EXPECT_EQ(shown[k].text, "line " + std::to_string(149 - k));
    EXPECT_EQ(shown[k].y, 100000 - 16 * (k + 1));
  }
  // The pointers still name the 64 distinct rows of the storage.
  std::set<const char *> rows;
  for (const char *p : status_log.log_lines) {
    const auto offset = p - &status_log.log_store[0][0];
    ASSERT_TRUE(offset >= 0 && offset < log_line_count * log_line_size);
    EXPECT_EQ(offset % log_line_size, 0);
    rows.insert(p);
  }
  EXPECT_EQ(rows.size(), 64u);
}

TEST_F(StatusLogTest, PaintingStopsAtTheTopEdge) {
  // (Appended piece by piece: "l" + std::to_string(i) trips a false
  // -Wrestrict of GCC 12, bug 105329.)
  for (int i = 0; i < 10; ++i) log_append(window, (std::string("l").append(std::to_string(i)) + "\n").c_str());
  // 40 pixels: lines at 24, 8 and -8 (the last cut at the top).
  std::vector<Drawn> shown = paint(40);
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[2].text, "l7");
  EXPECT_EQ(shown[2].y, -8);
  // Shorter than one line: the newest line still shows, cut at the top.
  shown = paint(5);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "l9");
  EXPECT_EQ(shown[0].y, 5 - 16);
  EXPECT_TRUE(paint(0).empty());
}

TEST_F(StatusLogTest, CharactersBeyondThe127thAreDropped) {
  const std::string long_text(200, 'x');
  log_append(window, "neighbour\n");
  log_append(window, long_text.c_str());
  log_append(window, "yy");  // continues a full line: dropped too
  EXPECT_EQ(line(0), std::string(127, 'x'));
  log_append(window, "\nafter\n");
  EXPECT_EQ(line(2), std::string(127, 'x'));
  EXPECT_EQ(line(1), "after");
  EXPECT_EQ(line(3), "neighbour");
  // Nothing spilled into the other rows of the storage.
  int nonempty = 0;
  for (int r = 0; r < log_line_count; ++r) {
    EXPECT_LT(std::strlen(status_log.log_store[r]), static_cast<size_t>(log_line_size));
    if (status_log.log_store[r][0] != '\0') ++nonempty;
  }
  EXPECT_EQ(nonempty, 3);
}

TEST_F(StatusLogTest, LogLineCommitsTextInOneGo) {
  log_append(window, "pending ");
  log_line(window, "report\nsecond");
  EXPECT_EQ(line(2), "pending report");
  EXPECT_EQ(line(1), "second");
  EXPECT_EQ(line(0), "");
  EXPECT_EQ(mock.scrolled, 2 * 16);
}

TEST_F(StatusLogTest, CopiedLinesAreCutToTheBuffer) {
  log_append(window, "abcdef\n");
  char buf[4];
  ASSERT_TRUE(log_copy_line(1, buf, sizeof buf));
  EXPECT_STREQ(buf, "abc");
  EXPECT_FALSE(log_copy_line(64, buf, sizeof buf));
}

}  // namespace
