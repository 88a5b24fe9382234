// workers_test.cpp: Start and Stop Calculating with real worker threads driving the stand-in kernel.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "kernel.h"
#include "platform.h"
#include "range.h"
#include "report.h"
#include "results.h"
#include "state_file.h"
#include "support.h"
#include "workers.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t quantum = uint64_t(1) << 28;

// What the hooks saw, in order.
struct HookLog {
  std::atomic<int> request_stop{0};
  std::atomic<int> retired{0};
  std::atomic<int> keep_notice{0};  // the retired hook raises the notice
  std::vector<std::string> ui_calls;  // UI thread only
  std::vector<std::string> messages;  // UI thread only in these tests
};
HookLog hooks;

void hook_menus(bool on) { hooks.ui_calls.push_back(on ? "menus on" : "menus off"); }
void hook_arm() { hooks.ui_calls.push_back("arm"); }
void hook_kill() { hooks.ui_calls.push_back("kill"); }
void hook_after_start() { hooks.ui_calls.push_back("after start"); }
void hook_after_stop() { hooks.ui_calls.push_back("after stop"); }
void hook_retired() {
  hooks.retired.fetch_add(1);
  if (hooks.keep_notice.load()) worker_state.notice_pending.store(1);
}
void hook_request_stop() { hooks.request_stop.fetch_add(1); }
void hook_message(const char *text) { hooks.messages.push_back(text); }

class Workers : public CoordinatorTest {
 protected:
  void SetUp() override {
    CoordinatorTest::SetUp();
    hooks.request_stop.store(0);
    hooks.retired.store(0);
    hooks.keep_notice.store(0);
    hooks.ui_calls.clear();
    hooks.messages.clear();
    front_end = FrontEndHooks{hook_menus,   hook_arm,     hook_kill,         hook_after_start,
                              hook_after_stop, hook_retired, hook_request_stop, hook_message};
  }
};

bool all_retired() {
  return worker_state.retired_workers.load() == worker_state.worker_count;
}

// Starts, waits until every worker has retired, stops.
void run_until_retired() {
  ASSERT_TRUE(start_calculating());
  ASSERT_TRUE(wait_for(all_retired, 10));
  stop_calculating();
}

// The non-empty stretches of `where` in both result files must tile
// [srt, end) exactly, each line's last limb counting its terms.
void expect_exact_cover(uint64_t where, uint64_t srt_pos, uint64_t end_pos) {
  std::vector<Line> lines;
  for (const char *name : {"output0.txt", "output1.txt"})
    if (fs::exists(name))
      for (const Line &l : read_lines(name))
        if (l.srt_pos != l.cur_pos && l.where == where) lines.push_back(l);
  std::sort(lines.begin(), lines.end(),
            [](const Line &a, const Line &b) { return a.srt_pos < b.srt_pos; });
  uint64_t at = srt_pos;
  for (const Line &l : lines) {
    EXPECT_EQ(l.srt_pos, at) << l.text;
    EXPECT_EQ(l.limbs[3], uint32_t(l.cur_pos - l.srt_pos)) << l.text;
    at = l.cur_pos;
  }
  EXPECT_EQ(at, end_pos);
}

}  // namespace

TEST_F(Workers, AWholeRunKeepsTheCountersAndFlipsToTheNextFile) {
  worker_state.processors = 1;
  run_until_retired();
  EXPECT_EQ(worker_state.worker_count, 1);
  EXPECT_EQ(hooks.ui_calls,
            (std::vector<std::string>{"menus on", "arm", "after start", "menus off", "kill",
                                      "after stop"}));
  EXPECT_STREQ(coordinator.error_text, "Error: Range.ini not found");
  EXPECT_EQ(hooks.retired.load(), 1);
  EXPECT_EQ(coordinator.failed_workers.load(), 0);
  auto lines = read_lines("output0.txt");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text,
            "0000000000000000,0000000000000000,0000000000000000,"
            "00000000000000000000000000000000");
  EXPECT_EQ(lines[1].text,
            "0000000005F5E100,0000000000000000,0000000001312C00,"
            "00000000000000000000000001312C00");
  // Load -2, empty chunk -1 then -2, retirement leaves it; Stop settles.
  EXPECT_EQ(ini("Main", "output0"), "1");
  EXPECT_EQ(ini("Main", "output1"), "0");
  EXPECT_EQ(ini("Thread0", "cur_pos"), "0000000001312C00");

  // Next start with a work unit: the old chunk ends again, empty; the
  // import flips to file 1; file 0 is complete and the report asks for it.
  write_unit("Range7.ini", 1000000, 0, 100000);
  run_until_retired();
  EXPECT_EQ(ini("Main", "current"), "1");
  EXPECT_EQ(ini("Main", "output0"), "0");
  EXPECT_EQ(ini("Main", "output1"), "1");
  lines = read_lines("output0.txt");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2].srt_pos, 19999744u);
  EXPECT_EQ(lines[2].cur_pos, 19999744u);
  expect_exact_cover(1000000, 0, 100000);
  // The error text stands until the next start; past it, the report asks
  // for the finished file.
  coordinator.error_flag.store(0);
  progress_report();
  EXPECT_EQ(std::string(report.report_text).rfind("Please send output0.txt to ", 0), 0u)
      << report.report_text;
}

TEST_F(Workers, StopsMidChunkResumeFromTheSavedPositionWithoutGapsOrOverlaps) {
  worker_state.processors = 2;
  fake_kernel.block.store(997);  // stops land at odd places
  fake_kernel.yield_each.store(true);
  for (int round = 0; round < 4; ++round) {
    ASSERT_TRUE(start_calculating());
    thread_sleep(15);
    stop_calculating();
    EXPECT_EQ(worker_state.active_workers.load(), 0);
    EXPECT_EQ(coordinator.lock, nullptr);
  }
  fake_kernel.block.store(1 << 16);
  fake_kernel.yield_each.store(false);
  run_until_retired();
  expect_exact_cover(100000000, 0, 19999744);
  EXPECT_EQ(fake_kernel.empty_blocks.load(), 0);
}

TEST_F(Workers, AKernelErrorRetiresEveryWorker) {
  worker_state.processors = 2;
  // Worker 0 holds a chunk far too long to finish first; worker 1's first
  // block fails.
  write_file("Quarn.ini",
             "[Main]\r\nwhere=0000000500000000\r\ncur_pos=0000000010100000\r\n"
             "end_pos=0000000010100000\r\n"
             "[Thread0]\r\nwhere=0000000500000000\r\ncur_pos=0000000000000000\r\n"
             "end_pos=0000000010000000\r\n"
             "[Thread1]\r\nwhere=0000000500000000\r\ncur_pos=0000000010000000\r\n"
             "end_pos=0000000010100000\r\n");
  fake_kernel.block.store(1000);
  fake_kernel.yield_each.store(true);
  fake_kernel.error_at.store(quantum);
  run_until_retired();
  EXPECT_STREQ(coordinator.error_text, "Error: CPU appears to be overheating.");
  EXPECT_EQ(coordinator.failed_workers.load(), 2);
  // Neither chunk is reported, and neither position moves.
  EXPECT_FALSE(fs::exists("output0.txt"));
  EXPECT_EQ(ini("Thread0", "cur_pos"), "0000000000000000");
  EXPECT_EQ(ini("Thread1", "cur_pos"), "0000000010000000");
}

TEST_F(Workers, TheLastWorkerToEndAsksForStopOnce) {
  worker_state.processors = 3;
  write_file("Quarn.ini", "[Main]\r\ncur_pos=0000000001312C00\r\n");  // used up
  ASSERT_TRUE(start_calculating());
  ASSERT_TRUE(wait_for([] { return hooks.request_stop.load() == 1; }, 10));
  thread_sleep(20);
  EXPECT_EQ(worker_state.active_workers.load(), 1);  // the last waits for Stop
  stop_calculating();
  EXPECT_EQ(hooks.request_stop.load(), 1);
  EXPECT_EQ(hooks.retired.load(), 3);
}

TEST_F(Workers, RetiredWorkersWaitWhileTheNoticeIsShown) {
  worker_state.processors = 2;
  hooks.keep_notice.store(1);
  write_file("Quarn.ini", "[Main]\r\ncur_pos=0000000001312C00\r\n");
  ASSERT_TRUE(start_calculating());
  ASSERT_TRUE(wait_for(all_retired, 10));
  thread_sleep(30);
  EXPECT_EQ(worker_state.active_workers.load(), 2);
  EXPECT_EQ(hooks.request_stop.load(), 0);
  stop_calculating();
  EXPECT_EQ(worker_state.active_workers.load(), 0);
  EXPECT_EQ(hooks.request_stop.load(), 1);
}

TEST_F(Workers, StopWhileIdleOnlySetsTheMenus) {
  write_file("Quarn.ini", "[Main]\r\noutput0=-3\r\n");
  stop_calculating();
  EXPECT_EQ(hooks.ui_calls, (std::vector<std::string>{"menus off"}));
  EXPECT_EQ(ini("Main", "output0"), "-3");
}

TEST_F(Workers, MoreProcessorsThanTheHandleTableGetAsManyWorkersAsItHolds) {
  worker_state.processors = 300;
  write_file("Quarn.ini", "[Main]\r\ncur_pos=0000000001312C00\r\n");
  run_until_retired();
  EXPECT_EQ(worker_state.worker_count, max_workers);
  EXPECT_EQ(fault_calls(PlatformOp::thread_create), max_workers);
  ASSERT_FALSE(hooks.messages.empty());
  EXPECT_EQ(hooks.messages[0], "300 processors: only 256 workers are started");
}

TEST_F(Workers, AThreadThatCannotBeCreatedMeansFewerWorkers) {
  worker_state.processors = 3;
  fault_inject(PlatformOp::thread_create, 2, true);
  run_until_retired();
  EXPECT_EQ(worker_state.worker_count, 1);
  EXPECT_EQ(hooks.messages, (std::vector<std::string>{"Only 1 of 3 worker threads could be started"}));
  expect_exact_cover(100000000, 0, 19999744);
}

TEST_F(Workers, NoThreadAtAllOrADamagedRangeRefusesToStart) {
  fault_inject(PlatformOp::thread_create, 1, true);
  EXPECT_FALSE(start_calculating());
  EXPECT_STREQ(coordinator.error_text, "Error: no worker thread could be started");
  EXPECT_EQ(worker_state.running.load(), 0);
  EXPECT_EQ(coordinator.lock, nullptr);
  EXPECT_EQ(hooks.ui_calls, (std::vector<std::string>{"menus on", "menus off"}));
  fault_reset();

  write_file("Quarn.ini", "[Main]\r\nend_pos=000000000131 2C00\r\n");
  EXPECT_FALSE(start_calculating());
  EXPECT_STREQ(coordinator.error_text, "Error: Quarn.ini holds a damaged [Main] end_pos");
  EXPECT_EQ(worker_state.active_workers.load(), 0);
}

TEST_F(Workers, AFailedAppendAtStopLeavesThePositionForTheStretchToBeRedone) {
  worker_state.processors = 1;
  fake_kernel.block.store(101);
  fake_kernel.yield_each.store(true);
  ASSERT_TRUE(start_calculating());
  ASSERT_TRUE(wait_for([] { return fs::exists("output0.txt"); }, 10));  // past the empty chunk
  fault_inject(PlatformOp::file_append_line, 1, true);
  stop_calculating();
  fault_reset();
  EXPECT_STREQ(coordinator.error_text, "Error: cannot write output0.txt");
  EXPECT_EQ(ini("Thread0", "cur_pos"), "0000000000000000");
  EXPECT_EQ(coordinator.failed_workers.load(), 1);

  fake_kernel.block.store(1 << 16);
  fake_kernel.yield_each.store(false);
  run_until_retired();
  expect_exact_cover(100000000, 0, 19999744);
}

// The start-up check with the real processor identification: its verdict
// is the run's first line, also when it switched a tier off (forced here by
// spoiling every vector tier's check results).
TEST_F(Workers, TheFirstLineNamesTheCheckedKernelAndAnyTierSwitchedOff) {
  coordinator_kernel.classify = cpu_classify;
  for (uint32_t spoils : {0u, ~0u}) {
    kernel.check_spoils_tiers = spoils;
    hooks.messages.clear();
    run_until_retired();
    ASSERT_FALSE(hooks.messages.empty());
    EXPECT_EQ(hooks.messages[0], kernel.check_text);
    bool vector_tier = fast_probe() != 1u;
    if (spoils != 0 && vector_tier) {
      EXPECT_NE(hooks.messages[0].find("gave wrong results"), std::string::npos) << hooks.messages[0];
      EXPECT_NE(hooks.messages[0].find("; generic kernel"), std::string::npos) << hooks.messages[0];
    } else {
      EXPECT_EQ(hooks.messages[0].find("wrong"), std::string::npos) << hooks.messages[0];
    }
  }
  kernel.check_spoils_tiers = 0;
  kernel.fast_tiers_failed.store(0);
  kernel.check_text[0] = '\0';
}

// A wait states what an idle machine needs; a machine several times slower
// (busy, or under a sanitizer) still passes.
TEST(WaitFor, AllowsManyTimesTheStatedNeed) {
  static std::atomic<bool> ready{false};
  ThreadHandle late = thread_create(
      [](void *) -> unsigned {
        thread_sleep(1000);
        ready.store(true);
        return 0;
      },
      nullptr);
  ASSERT_NE(late, nullptr);
  EXPECT_TRUE(wait_for([] { return ready.load(); }, 0.1));
  thread_join(late);
  EXPECT_GE(wait_scale(), 20);
}
