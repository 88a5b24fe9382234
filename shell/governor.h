/*
 * governor.h: the priority governor, which raises or lowers the workers'
 * priority level by how often a thread one step above them is held up by
 * other idle-time programs. Its arithmetic is a pure step; its loop runs on
 * clock and priority operations the front end supplies.
 */
#pragma once

#include <atomic>
#include <cstdint>

#include "spin_lock.h"

// The governor's accounts. Times are in milliseconds; `contended_time` over
// `measured_time` is the recent share of cycles in which the yield one step
// above the workers was held up.
struct GovernorAccounts {
  double contended_time;
  double measured_time;
  int32_t level;  // the workers' priority level, -3..1
};

constexpr int32_t governor_lowest_level = -3;
constexpr int32_t governor_highest_level = 1;

// The accounts a new governor starts from: a share of 1/2, level -3.
GovernorAccounts governor_start();

// One measuring cycle: t0 before the 500 ms sleep at the highest priority,
// t1 after it, t2 after the yield one step above the workers (wrapping
// millisecond ticks). Updates the accounts and moves the level by at most
// one step: up when the held-up share passes 3/4, down when it drops below
// 1/4, resetting the accounts to a share of 2/3 after either.
void governor_step(GovernorAccounts *accounts, uint32_t t0, uint32_t t1, uint32_t t2);

// What the governor's thread needs from the platform and the rest of the
// program; filled in by the front end before the first start.
struct GovernorOps {
  uint32_t (*tick)();                       // milliseconds, wrapping
  void (*sleep)(uint32_t ms);               // 0 gives up the time slice
  void (*set_own_priority)(int priority);   // the calling thread's priority
  bool (*wanted)();                         // still calculating, with Auto chosen
  std::atomic<int32_t> *level;              // the level the workers apply
};

// Process-wide governor state: at most one governor thread at a time.
struct Governor {
  std::atomic<bool> active{false};  // a governor thread has been claimed
  GovernorOps ops{};
  // Set while a fixed level chosen in the dialog is in force; the governor
  // stores a level of its own only under level_lock with this clear, so a
  // cycle that was under way when the choice changed cannot move it.
  std::atomic<bool> level_fixed{false};
  SpinLock level_lock;
};

extern Governor governor;

// Claims the single governor. True: the caller must start a thread that runs
// governor_run. False: a governor already runs (and keeps its level).
bool governor_claim();

// The dialog's fixed level: stored into `level` and kept from the governor.
void governor_fix_level(std::atomic<int32_t> *level, int32_t value);
// Auto chosen again: the governor may store its levels.
void governor_release_level();

// The governor thread's body. Starts the level at -3 and measures cycle
// after cycle while ops.wanted() holds; releases the claim when it ends.
void governor_run();
