// report_test.cpp: the progress report's texts, speed, counter settling and notices.
#include <cstdio>
#include <cstring>
#include <string>

#include "kernel.h"
#include "range.h"
#include "report.h"
#include "results.h"
#include "support.h"
#include "workers.h"

namespace {

uint32_t fake_now = 0;
uint32_t fake_clock() { return fake_now; }

class Report : public CoordinatorTest {
 protected:
  void SetUp() override {
    CoordinatorTest::SetUp();
    ASSERT_TRUE(load_main_state(0));
    report.clock = fake_clock;
    fake_now = 100000;
  }
};

std::string percent_text(const char *format) {
  char text[64];
  std::snprintf(text, sizeof text, format, double(kernel.percent_done));
  return text;
}

}  // namespace

TEST(ReportSpeed, IsTermsTimesCostPerMillisecondInThousands) {
  EXPECT_DOUBLE_EQ(report_speed(160000, 1000, 5000), 32.0);
  EXPECT_DOUBLE_EQ(report_speed(0, 1000, 5000), 0.0);
}

TEST(ReportText, TheSendRequestFitsWithTheLongestPercentage) {
  char text[400];
  int n = std::snprintf(text, sizeof text, "Please send output%d.txt to %s\n%f%% done", 1,
                        submission_address, 100.0);
  EXPECT_LT(n, int(report_text_size));
}

TEST_F(Report, TheFirstReportHasNoSpeedAndLaterOnesDo) {
  range.done_count.store(5000000);
  progress_report();
  EXPECT_EQ(std::string(report.report_text), percent_text("%f%% done"));
  EXPECT_EQ(std::string(report.tip_text), percent_text("Quarn %f%% done"));
  EXPECT_EQ(worker_state.notice_pending.load(), 0);

  range.done_count.fetch_add(160000);
  fake_now += 5000;
  progress_report();
  char expected[200];
  std::snprintf(expected, sizeof expected, "%f%% done,%fMHz", double(kernel.percent_done),
                report_speed(160000, kernel.term_cost, 5000));
  EXPECT_STREQ(report.report_text, expected);
  EXPECT_NE(std::string(report.report_text).find("MHz"), std::string::npos);

  // No millisecond since the last report: the speed is left out.
  progress_report();
  EXPECT_EQ(std::string(report.report_text), percent_text("%f%% done"));
}

TEST_F(Report, AnErrorReplacesTheLineButNotTheTip) {
  set_error("Error: Range.ini not found");
  range.done_count.store(1000000);
  progress_report();
  EXPECT_STREQ(report.report_text, "Error: Range.ini not found");
  EXPECT_EQ(std::string(report.tip_text), percent_text("Quarn %f%% done"));
  EXPECT_EQ(worker_state.notice_pending.load(), 1);
}

TEST_F(Report, AFinishedOtherFileIsAskedForOnlyWhileItExists) {
  range.current = 0;
  result_counters.output[1] = -1;  // provisional 0: settled to 0
  result_counters.output[0] = -3;
  progress_report();
  EXPECT_EQ(worker_state.notice_pending.load(), 0);
  EXPECT_EQ(result_counters.output[0], 2);
  EXPECT_EQ(ini("Main", "output0"), "2");
  EXPECT_EQ(ini("Main", "output1"), "0");

  write_file("output1.txt", "x\r\n");
  progress_report();
  EXPECT_EQ(std::string(report.report_text),
            "Please send output1.txt to results@quarn.invalid\n" + percent_text("%f%% done"));
  EXPECT_EQ(worker_state.notice_pending.load(), 1);

  result_counters.output[1] = 1;  // a chunk of file 1 still running
  progress_report();
  EXPECT_EQ(worker_state.notice_pending.load(), 0);
}

TEST_F(Report, FlashingAlternatesWhileANoticeIsPendingThenComesToRest) {
  EXPECT_FALSE(flash_step());
  worker_state.notice_pending.store(1);
  EXPECT_TRUE(flash_step());
  EXPECT_EQ(report.flash_phase, 1);
  EXPECT_TRUE(flash_step());
  EXPECT_EQ(report.flash_phase, 0);
  EXPECT_TRUE(flash_step());
  worker_state.notice_pending.store(0);
  EXPECT_TRUE(flash_step());  // one more to bring the caption back
  EXPECT_EQ(report.flash_phase, 0);
  EXPECT_FALSE(flash_step());
}
