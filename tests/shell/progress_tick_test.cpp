// Tests of the progress tick: the report as log lines, flashing while a
// notice waits, and the tray icon alternating and coming to rest.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "progress_tick.h"
#include "range.h"
#include "report.h"
#include "results.h"
#include "status_log.h"
#include "workers.h"

namespace {

int flashes = 0;
bool tray_icon = true;
std::vector<int> tray_icons;
std::string last_tip;
uint32_t now = 100000;
bool window_thread = true;

void count_flash(void *) { ++flashes; }
bool tray_on() { return tray_icon; }
void tray_modify(void *, int icon, const char *tip) {
  tray_icons.push_back(icon);
  last_tip = tip;
}
uint32_t fake_clock() { return now; }
int line_height(void *) { return 12; }
bool on_window_thread(void *) { return window_thread; }

void *const window = reinterpret_cast<void *>(0x42);

class ProgressTickTest : public ::testing::Test {
 protected:
  void SetUp() override {
    coordinator_reset();
    report_reset();
    report.clock = fake_clock;
    // Settled counters, and the file that is not current already has a
    // chunk in progress: no send request, and nothing written to disk.
    result_counters.output[0] = 3;
    result_counters.output[1] = 1;
    range.current = 0;
    log_reset({line_height, on_window_thread, nullptr, nullptr, nullptr, nullptr});
    tick_hooks = {count_flash, tray_on, tray_modify};
    flashes = 0;
    tray_icon = true;
    tray_icons.clear();
    window_thread = true;
  }
  void TearDown() override {
    tick_hooks = {};
    coordinator_reset();
    report_reset();
  }
  std::string line(int index) {
    char buf[log_line_size];
    EXPECT_TRUE(log_copy_line(index, buf, sizeof buf));
    return buf;
  }
  void set_error(const char *text) {
    std::strcpy(coordinator.error_text, text);
    coordinator.error_flag = 1;
  }
};

TEST_F(ProgressTickTest, ReportBecomesTheNewestLineAndTheTip) {
  progress_tick(window);
  EXPECT_EQ(line(1), "0.000000% done");
  EXPECT_EQ(line(0), "");
  EXPECT_EQ(flashes, 0);
  ASSERT_EQ(tray_icons.size(), 1u);
  EXPECT_EQ(tray_icons[0], 1);
  EXPECT_EQ(last_tip, "Quarn 0.000000% done");
}

TEST_F(ProgressTickTest, NoticeFlashesAndAlternatesTheIconThenComesToRest) {
  set_error("Error: Range.ini not found");
  for (int i = 0; i < 3; ++i) {
    now += 5000;
    progress_tick(window);
  }
  EXPECT_EQ(line(1), "Error: Range.ini not found");
  EXPECT_EQ(line(3), "Error: Range.ini not found");
  EXPECT_EQ(flashes, 3);
  EXPECT_EQ(tray_icons, (std::vector<int>{2, 1, 2}));
  EXPECT_EQ(last_tip, "Quarn 0.000000% done");  // the tip keeps the percentage

  // The notice ends in the dark phase: one more flash restores the caption.
  coordinator.error_flag = 0;
  now += 5000;
  progress_tick(window);
  now += 5000;
  progress_tick(window);
  EXPECT_EQ(flashes, 4);
  EXPECT_EQ(tray_icons, (std::vector<int>{2, 1, 2, 1, 1}));
}

TEST_F(ProgressTickTest, TrayOffMeansNoTrayCalls) {
  tray_icon = false;
  set_error("Error: CPU appears to be overheating.");
  progress_tick(window);
  EXPECT_EQ(flashes, 1);
  EXPECT_TRUE(tray_icons.empty());
}

TEST_F(ProgressTickTest, RetiredWorkerReportEntersTheLogWhole) {
  window_thread = false;
  log_append(window, "half a line from the window ");
  set_error("Error: Range.ini not found");
  report_retired_worker(window);
  EXPECT_EQ(line(1), "half a line from the window Error: Range.ini not found");
  EXPECT_EQ(worker_state.notice_pending.load(), 1);
  EXPECT_EQ(flashes, 0);  // flashing is the tick's alone
}

}  // namespace
