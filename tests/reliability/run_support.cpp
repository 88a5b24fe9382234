// run_support.cpp: whole coordinator runs and the reading of what they leave behind.
#include "run_support.h"

#include <filesystem>
#include <map>

#include "kernel.h"
#include "range.h"
#include "support.h"
#include "workers.h"

namespace fs = std::filesystem;

Retirements retirements;

namespace {

void record_retirement() {
  // The lock keeps another worker from changing the text while it is read.
  CoordinatorGuard guard;
  retirements.texts.push_back(coordinator.error_text);
}

bool all_retired() {
  return worker_state.worker_count > 0 &&
         worker_state.retired_workers.load() >= worker_state.worker_count;
}

}  // namespace

std::string run_once(int workers) {
  worker_state.processors = workers;
  front_end.worker_retired = record_retirement;
  retirements.texts.clear();
  retirements.started = start_calculating();
  if (retirements.started) {
    // The need on an idle machine; wait_for allows many times that.
    EXPECT_TRUE(wait_for(all_retired, 10)) << "the workers did not finish";
    stop_calculating();
  }
  return coordinator.error_text;
}

std::string run_to_end(int runs) {
  std::string last;
  for (int run = 0; run < runs && last != "Error: Range.ini not found"; ++run) {
    const uint64_t block = fake_kernel.block.load();
    coordinator_reset();
    use_fake_kernel();
    fake_kernel.block.store(block);
    last = run_once();
  }
  return last;
}

Cover inspect_results(uint64_t where, uint64_t from, bool only) {
  Cover c;
  c.reached = from;
  std::map<uint64_t, std::vector<Line>> by_start;
  for (const char *name : {"output0.txt", "output1.txt"}) {
    if (!fs::is_regular_file(name)) continue;
    for (const Line &l : read_lines(name)) {
      if (l.limbs[3] != uint32_t(l.cur_pos - l.srt_pos) || l.limbs[0] || l.limbs[1] || l.limbs[2])
        c.faults.push_back("a sum that is not its stretch's: " + l.text);
      const bool startup = l.where == 0 && l.srt_pos == 0 && l.cur_pos == 0;
      if (!startup && (l.where == 0 || l.where >= where_limit || l.srt_pos > l.cur_pos ||
                       l.cur_pos > head_end(l.where)))
        c.faults.push_back("a line sum refuses: " + l.text);
      if (only && !startup && l.where != where) c.faults.push_back("a line of another position: " + l.text);
      if (l.srt_pos == l.cur_pos || l.where != where) continue;
      by_start[l.srt_pos].push_back(l);
    }
  }
  for (const auto &[start, lines] : by_start) {
    if (start != c.reached) {
      c.faults.push_back((start < c.reached ? "an overlap at " : "a gap before ") +
                         std::to_string(start));
      return c;
    }
    for (const Line &l : lines)
      if (l.cur_pos != lines[0].cur_pos) c.faults.push_back("two ends from one start: " + l.text);
    c.repeats += int(lines.size()) - 1;
    c.reached = lines[0].cur_pos;
  }
  return c;
}
