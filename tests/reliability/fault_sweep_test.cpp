// fault_sweep_test.cpp: every file operation the coordinator makes, failed at each of its calls in a whole run, once and from then on; the run must name what failed, and a run after the fault must finish the work with nothing lost and no wrong line.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform.h"
#include "range.h"
#include "run_support.h"
#include "state_file.h"
#include "state_grammar.h"
#include "support.h"
#include "workers.h"

namespace fs = std::filesystem;

namespace {

// Two positions: one whose head reaches far beyond the other's, so that a
// section rewritten halfway from a chunk of one to a chunk of the other
// shows.
constexpr uint64_t far = 10000000;   // head of 1,999,999 terms
constexpr uint64_t near = 1000000;   // head of 199,999 terms

// A run in progress at `far`: chunk [300000, 302000) of the range
// [300000, 303000) is held by [Thread0], reported up to 300500;
// [302000, 303000) is not yet handed out. Then a unit the kernel cannot
// evaluate (set aside by a rename) and two good ones at `near`. So one run
// appends, writes every kind of key, imports, renames and deletes.
void write_scenario() {
  write_file("output0.txt", "0000000000989680,00000000000493E0,00000000000495D4,"
                            "000000000000000000000000000001F4\r\n");
  write_file("Quarn.ini",
             "[Main]\r\nwhere=0000000000989680\r\nsrt_pos=00000000000493E0\r\n"
             "cur_pos=0000000000049BB0\r\nend_pos=0000000000049F98\r\ncurrent=0\r\n"
             "output0=1\r\noutput1=0\r\n\r\n[Thread0]\r\nwhere=0000000000989680\r\n"
             "cur_pos=00000000000495D4\r\nend_pos=0000000000049BB0\r\noutputf=0\r\n");
  write_unit("RangeA.ini", near, 0, 300000);  // beyond the head
  write_unit("RangeB.ini", near, 3000, 7000);
  write_unit("RangeC.ini", near, 7000, 9000);
}

bool units_left() {
  return fs::exists("RangeA.ini") || fs::exists("RangeB.ini") || fs::exists("RangeC.ini");
}

// The texts a failure may end a run with: each names what could not be
// done and the file.
bool names_a_file(const std::string &error) {
  static const char *const files[] = {"Quarn.ini", "output0.txt", "output1.txt", "RangeA.ini",
                                      "RangeB.ini", "RangeC.ini"};
  if (error.rfind("Error: ", 0) != 0) return false;
  return std::any_of(std::begin(files), std::end(files),
                     [&](const char *f) { return error.find(f) != std::string::npos; });
}

// A failure's text: what could not be done, to which file.
bool is_failure(const std::string &error) {
  return names_a_file(error) && (error.rfind("Error: cannot ", 0) == 0 ||
                                 error.find(" cannot be renamed") != std::string::npos);
}

struct OpCase {
  PlatformOp op;
  const char *name;
};

// The coordinator's writes, and the operations beneath them.
const OpCase write_ops[] = {
    {PlatformOp::file_append_line, "result append"},
    {PlatformOp::profile_write_string, "state key write"},
    {PlatformOp::file_replace, "state file replacement"},
    {PlatformOp::file_delete, "work-unit delete"},
    {PlatformOp::file_rename, "work-unit rename"},
};

class FaultSweep : public CoordinatorTest {
 protected:
  // Calls of `op` in a run of the scenario without faults.
  int calls_in_clean_run(PlatformOp op) {
    write_scenario();
    run_once();
    const int n = fault_calls(op);
    fresh();
    return n;
  }

  void fresh() {
    fault_reset();
    coordinator_reset();
    use_fake_kernel();
    for (const auto &e : fs::directory_iterator(dir)) fs::remove_all(e.path());
  }

  // The scenario with call `nth` of `op` failing (from then on with
  // `persist`), then runs without faults until the work is done.
  void sweep_one(const OpCase &c, int nth, bool persist) {
    SCOPED_TRACE(std::string(c.name) + (persist ? " failing from call " : " failing at call ") +
                 std::to_string(nth));
    run_with_faults({{c.op, nth}}, persist);
  }

  // The same with several operations failing, each from its own call.
  void run_with_faults(const std::vector<std::pair<PlatformOp, int>> &faults, bool persist) {
    fresh();
    write_scenario();
    fake_kernel.block.store(700);  // several steps a chunk
    for (const auto &[op, nth] : faults) fault_inject(op, nth, persist);
    const std::string first = run_once();
    bool hit = false;
    for (const auto &[op, nth] : faults) hit = hit || fault_calls(op) >= nth;
    const int failed = coordinator.failed_workers.load();
    fault_reset();
    // Every failure is reported in words that name the file, and the run
    // ends with them; a run that could not start says why.
    for (const std::string &text : retirements.texts)
      EXPECT_TRUE(text == "Error: Range.ini not found" || names_a_file(text))
          << "unclear error text: " << text;
    if (!retirements.started || failed > 0) {
      EXPECT_TRUE(is_failure(first)) << "the run ended without naming its failure: " << first
                                     << " (" << retirements.started << ", " << failed << ")";
    }
    if (!hit) {
      EXPECT_EQ(first, "Error: Range.ini not found");
      EXPECT_EQ(failed, 0);
    }

    // No leftover of a failed replacement, and a state file whole at rest.
    EXPECT_FALSE(fs::exists("Quarn.ini.tmp"));
    std::vector<StateSection> sections;
    std::string why;
    EXPECT_TRUE(parse_state(read_file("Quarn.ini"), &sections, &why)) << why;

    EXPECT_EQ(run_to_end(), "Error: Range.ini not found");
    EXPECT_FALSE(units_left());
    EXPECT_TRUE(fs::exists("RangeA.ini.bad"));
    expect_counters_follow_sections();
    const Cover at_far = inspect_results(far, 300000, false);
    const Cover at_near = inspect_results(near, 3000, false);
    for (const Cover &c : {at_far, at_near}) {
      EXPECT_TRUE(c.faults.empty()) << c.faults.front();
    }
    EXPECT_EQ(at_far.reached, 303000u) << "terms lost";
    EXPECT_EQ(at_near.reached, 9000u) << "terms lost";
    // A failed write after an append leaves that stretch to be reported
    // again, once per worker at most.
    EXPECT_LE(at_far.repeats + at_near.repeats, 2);
  }

  // At rest after Stop, each file's counter is the number of worker
  // sections holding a chunk of it, however the run before was cut short:
  // a counter left one off would keep "Please send" from ever showing, or
  // show it while a chunk of the file is still out.
  void expect_counters_follow_sections() {
    int held[2] = {0, 0};
    for (int n = 0; n < worker_state.worker_count; ++n) {
      const std::string f = ini(("Thread" + std::to_string(n)).c_str(), "outputf");
      if (f == "0" || f == "<missing>") ++held[0];
      if (f == "1") ++held[1];
    }
    EXPECT_EQ(ini("Main", "output0"), std::to_string(held[0])) << "output0 is off";
    EXPECT_EQ(ini("Main", "output1"), std::to_string(held[1])) << "output1 is off";
  }

  enum Modes { once = 1, from_then_on = 2, both = 3 };

  void sweep(const OpCase &c, Modes modes = both) {
    const int calls = calls_in_clean_run(c.op);
    ASSERT_GT(calls, 0) << c.name << " is never called: the scenario misses it";
    // One past the last call as well: a fault that never comes.
    for (int nth = 1; nth <= calls + 1; ++nth) {
      if (modes & once) sweep_one(c, nth, false);
      if (modes & from_then_on) sweep_one(c, nth, true);
      if (HasFatalFailure()) return;
    }
  }
};

}  // namespace

TEST_F(FaultSweep, EveryResultAppendFailingOnceOrFromThenOn) { sweep(write_ops[0]); }
TEST_F(FaultSweep, EveryStateKeyWriteFailingOnceOrFromThenOn) { sweep(write_ops[1]); }
TEST_F(FaultSweep, EveryStateFileReplacementFailingOnceOrFromThenOn) { sweep(write_ops[2]); }
TEST_F(FaultSweep, EveryWorkUnitDeleteFailingOnceOrFromThenOn) { sweep(write_ops[3]); }
TEST_F(FaultSweep, EveryWorkUnitRenameFailingOnceOrFromThenOn) { sweep(write_ops[4]); }
// A state file or unit that cannot be read (a folder in its place, no
// permission, a failing disk) refuses the start, retires the worker or keeps
// the unit, each with "cannot read".
TEST_F(FaultSweep, EveryReadFailingFromThenOn) {
  sweep(OpCase{PlatformOp::file_read_all, "read"}, from_then_on);
}

// A read that fails once (the file held for a moment by another program)
// gives that keyed read its default; the reader learns of it and stops with
// "cannot read" rather than take the default for the stored range or the
// chunk a worker holds and write it back.
TEST_F(FaultSweep, EveryReadFailingOnce) {
  sweep(OpCase{PlatformOp::file_read_all, "read"}, once);
}

// A full disk: from some moment on no line can be appended and no state
// file replaced, while renames and deletions still work. The moment moves
// through the whole run.
TEST_F(FaultSweep, TheDiskFillingUpAtAnyMoment) {
  const int replaces = calls_in_clean_run(PlatformOp::file_replace);
  const int appends = calls_in_clean_run(PlatformOp::file_append_line);
  ASSERT_GT(replaces, 0);
  for (int k = 1; k <= replaces + 1; ++k) {
    const int append_from = 1 + (k - 1) * appends / replaces;
    SCOPED_TRACE("disk full from replacement " + std::to_string(k) + ", append " +
                 std::to_string(append_from));
    run_with_faults({{PlatformOp::file_replace, k}, {PlatformOp::file_append_line, append_from}},
                    true);
    if (HasFatalFailure()) return;
  }
}

// A folder that is (or becomes) read-only: no append, replacement, rename
// or deletion succeeds from some moment on.
TEST_F(FaultSweep, TheFolderTurningReadOnlyAtAnyMoment) {
  const int replaces = calls_in_clean_run(PlatformOp::file_replace);
  const int appends = calls_in_clean_run(PlatformOp::file_append_line);
  for (int k = 1; k <= replaces + 1; ++k) {
    const int append_from = 1 + (k - 1) * appends / replaces;
    SCOPED_TRACE("read-only from replacement " + std::to_string(k));
    // The rename and the deletions come with the imports, late in the run:
    // read-only from the first of each when the folder turns early.
    const int other = k <= replaces / 2 ? 1 : 2;
    run_with_faults({{PlatformOp::file_replace, k},
                     {PlatformOp::file_append_line, append_from},
                     {PlatformOp::file_rename, other},
                     {PlatformOp::file_delete, other}},
                    true);
    if (HasFatalFailure()) return;
  }
}
