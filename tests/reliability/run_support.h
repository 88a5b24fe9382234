/*
 * run_support.h: whole runs of the coordinator with the stand-in kernel and
 * two worker threads, the error texts they report, and what their result
 * files cover, for the reliability tests.
 */
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the last run reported.
struct Retirements {
  std::vector<std::string> texts;  // each retiring worker's error text, as shown then
  bool started = false;            // whether the run got going
};
extern Retirements retirements;

// One run of the client in the current directory: Start, every worker to
// its end, Stop. Returns the error text it ended with (for a run that could
// not start, the reason). `workers` threads.
std::string run_once(int workers = 2);

// Runs again (the coordinator reset each time) until a run ends for lack
// of work, at most `runs` times; returns the last run's error text.
std::string run_to_end(int runs = 3);

// What the result files show of one position: non-empty stretches must
// follow each other from `from` on, each line's last limb counting its
// terms (the stand-in kernel's sum); a stretch may be reported again only
// whole, from the same start. Every line of the files must be one that
// quarn-coord sum accepts: the start-up line of no chunk, or a stretch
// inside the head of its position (empty ones too); with `only`, of this
// position.
struct Cover {
  uint64_t reached = 0;  // the stretches tile [from, reached)
  int repeats = 0;       // lines that report a stretch a second time
  std::vector<std::string> faults;
};
Cover inspect_results(uint64_t where, uint64_t from = 0, bool only = true);
