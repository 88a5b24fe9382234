// session_test.cpp: the session layer driven through a table of mock front-end operations, with real workers on the stand-in kernel.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "kernel.h"
#include "priority.h"
#include "progress_tick.h"
#include "range.h"
#include "session.h"
#include "spin_lock.h"
#include "state_file.h"
#include "support.h"

namespace {

// What the mock front end saw: the calls of the UI-thread entries and the
// messages in order, and counts of the other entries workers call.
struct MockFrontEnd {
  std::vector<std::string> calls;
  std::atomic<int> retired{0};
  std::atomic<int> stop_requested{0};
  SpinLock lock;  // a worker's note may come while the test reads
  void add(const std::string &call) {
    SpinGuard guard(lock);
    calls.push_back(call);
  }
  std::vector<std::string> taken() {
    SpinGuard guard(lock);
    std::vector<std::string> out;
    out.swap(calls);
    return out;
  }
};
MockFrontEnd mock;

FrontEndOps mock_ops(bool governor) {
  FrontEndOps ops{};
  ops.set_menus = [](bool on) { mock.add(on ? "menus on" : "menus off"); };
  ops.arm_timer = [] { mock.add("arm"); };
  ops.kill_timer = [] { mock.add("kill"); };
  ops.after_stop = [] { mock.add("after stop"); };
  ops.worker_retired = [] { mock.retired.fetch_add(1); };
  ops.request_stop = [] { mock.stop_requested.fetch_add(1); };
  ops.message = [](const char *text) { mock.add(std::string("message: ") + text); };
  ops.governor = governor;
  return ops;
}

class SessionTest : public CoordinatorTest {
 protected:
  void SetUp() override {
    CoordinatorTest::SetUp();
    priority_control_reset();
    session_reset();
    mock.taken();
    mock.retired.store(0);
    mock.stop_requested.store(0);
    worker_state.processors = 2;
  }
  void TearDown() override {
    session_reset();
    priority_control_reset();
    CoordinatorTest::TearDown();
  }
};

bool a_worker_computes() {
  WorkerChunk c[2];
  const int32_t n = session_worker_chunks(c, 2);
  for (int32_t i = 0; i < n && i < 2; ++i)
    if (c[i].state == ChunkState::computing) return true;
  return false;
}

bool stop_was_requested() { return mock.stop_requested.load() != 0; }

}  // namespace

TEST_F(SessionTest, ARunFromOpenToExitThroughTheFrontEndsOperations) {
  write_file("Quarn.ini", "[Main]\r\nTrayicon=8\r\nAutocontinue=0\r\nPriority=3\r\n");
  const ShellSettings &s = session_open(mock_ops(false));
  EXPECT_EQ(s.tray_icon_flag, setting_on);
  EXPECT_EQ(s.autocontinue_flag, 0);
  EXPECT_EQ(session_priority_choice(), 103);
  EXPECT_FALSE(session_auto_start());  // auto-continue is off
  EXPECT_FALSE(session_calculating());

  // Idle, the unit is the one the next start takes: the built-in one.
  SessionUnit idle = session_unit();
  EXPECT_EQ(idle.where, builtin_where);
  EXPECT_EQ(idle.srt_pos, builtin_srt_pos);
  EXPECT_EQ(idle.end_pos, builtin_end_pos);

  // Slow steps, so that the chunks can be seen while they are computed.
  fake_kernel.block.store(64);
  fake_kernel.yield_each.store(true);
  ASSERT_TRUE(session_start());
  // Without a governor a fixed choice is in force from the start.
  EXPECT_EQ(worker_state.priority_level.load(), -1);
  EXPECT_FALSE(session_start());  // a second start would orphan the workers
  EXPECT_TRUE(session_calculating());
  std::vector<std::string> seen = mock.taken();
  ASSERT_TRUE(wait_for(a_worker_computes, 120));
  WorkerChunk c[2];
  ASSERT_EQ(session_worker_chunks(c, 2), 2);
  // One worker holds the whole built-in range; the other found it used up
  // and no unit to import.
  int computing = 0;
  for (const WorkerChunk &w : c) {
    if (w.state != ChunkState::computing) continue;
    ++computing;
    EXPECT_EQ(w.where, builtin_where);
    EXPECT_EQ(w.start, builtin_srt_pos);
    EXPECT_EQ(w.end, builtin_end_pos);
  }
  EXPECT_EQ(computing, 1);
  const SessionUnit busy = session_unit();
  EXPECT_EQ(busy.where, builtin_where);
  EXPECT_EQ(busy.end_pos, builtin_end_pos);

  session_stop();
  EXPECT_FALSE(session_calculating());
  // The worker without work ended quietly, with a line saying so (when it
  // came does not matter): no error.
  for (const std::string &call : mock.taken()) seen.push_back(call);
  const std::string note =
      "message: No work unit found: a worker ends while the others finish the range";
  EXPECT_EQ(std::count(seen.begin(), seen.end(), note), 1);
  seen.erase(std::remove(seen.begin(), seen.end(), note), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"menus on", "arm", "menus off", "kill", "after stop"}));
  // The computing worker's partial line went to output0.txt.
  bool partial = false;
  for (const Line &l : read_lines("output0.txt"))
    partial = partial || (l.where == builtin_where && l.srt_pos == 0 && l.cur_pos > 0);
  EXPECT_TRUE(partial);

  session_set_priority(102);
  EXPECT_EQ(worker_state.priority_level.load(), -2);
  EXPECT_EQ(session_toggle_tray_icon(), 0);
  EXPECT_EQ(session_toggle_autocontinue(), setting_on);
  EXPECT_TRUE(session_exit_steps());
  EXPECT_FALSE(session_exit_steps());  // once, whichever exit came first
  EXPECT_EQ(ini("Main", "Trayicon"), "0");
  EXPECT_EQ(ini("Main", "Autocontinue"), "8");
  EXPECT_EQ(ini("Main", "Priority"), "2");
}

TEST_F(SessionTest, WorkersRunningOutOfWorkAreShownRetiredAndAskForStop) {
  write_file("Quarn.ini", "[Main]\r\nwhere=00000000000F4240\r\nsrt_pos=0000000000000000\r\n"
                          "cur_pos=0000000000000000\r\nend_pos=0000000000030D3F\r\n");
  session_open(mock_ops(true));
  ASSERT_TRUE(session_start());
  ASSERT_TRUE(wait_for(stop_was_requested, 120));
  EXPECT_TRUE(session_all_retired());
  EXPECT_FALSE(session_failed());
  EXPECT_EQ(mock.retired.load(), 2);
  WorkerChunk c[2];
  ASSERT_EQ(session_worker_chunks(c, 2), 2);
  EXPECT_EQ(c[0].state, ChunkState::retired);
  EXPECT_EQ(c[1].state, ChunkState::retired);
  char text[error_text_size];
  session_error_text(text, sizeof text);
  EXPECT_STREQ(text, "Error: Range.ini not found");
  session_stop();
  // Idle again, the unit is read back from [Main].
  const SessionUnit u = session_unit();
  EXPECT_EQ(u.where, 1000000u);
  EXPECT_EQ(u.end_pos, 199999u);
  EXPECT_TRUE(session_exit_steps());
}

TEST_F(SessionTest, ARefusedStartTellsTheFrontEndWhyAndLeavesNothingRunning) {
  write_file("Quarn.ini", "[Main]\r\nwhere=12345\r\nAutocontinue=8\r\n");
  session_open(mock_ops(true));
  EXPECT_FALSE(session_start());
  EXPECT_FALSE(session_calculating());
  EXPECT_EQ(mock.taken(),
            (std::vector<std::string>{"menus on", "menus off",
                                      "message: Error: Quarn.ini holds a damaged [Main] where",
                                      "arm"}));
  EXPECT_TRUE(session_exit_steps());
  EXPECT_EQ(ini("Main", "where"), "12345");  // left for the user
  EXPECT_EQ(ini("Main", "Autocontinue"), "8");
}

// An auto-continue start refused with the window hidden in the tray: the
// tick it arms shows the error as the notice, flashing the icon with the tip.
TEST_F(SessionTest, ARefusedAutoStartIsShownAsTheNotice) {
  write_file("Quarn.ini", "[Main]\r\nwhere=12345\r\nAutocontinue=8\r\nTrayicon=8\r\n");
  static std::vector<std::string> tray;
  tray.clear();
  FrontEndOps ops = mock_ops(true);
  ops.flash = [](void *) { mock.add("flash"); };
  ops.tray_on = [] { return true; };
  ops.tray_modify = [](void *, int icon, const char *tip) {
    tray.push_back(std::to_string(icon) + " " + tip);
  };
  session_open(ops);
  EXPECT_FALSE(session_auto_start());
  std::vector<std::string> calls = mock.taken();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "arm");
  progress_tick(nullptr);
  progress_tick(nullptr);
  EXPECT_EQ(worker_state.notice_pending.load(), 1);
  EXPECT_EQ(mock.taken(), (std::vector<std::string>{"flash", "flash"}));
  ASSERT_EQ(tray.size(), 2u);
  EXPECT_NE(tray[0].substr(0, tray[0].find(' ')), tray[1].substr(0, tray[1].find(' ')))
      << "the icon does not alternate";
  char line[log_line_size];
  ASSERT_TRUE(log_copy_line(1, line, sizeof line));
  EXPECT_STREQ(line, "Error: Quarn.ini holds a damaged [Main] where");
  EXPECT_TRUE(session_exit_steps());
}
