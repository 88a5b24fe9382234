/*
 * governor.cpp: the priority governor's accounting step and its measuring
 * loop.
 */
#include "governor.h"

// Win32 thread priority of the governor's measuring sleep.
static constexpr int highest_thread_priority = 2;

Governor governor;

GovernorAccounts governor_start() { return GovernorAccounts{10000.0, 20000.0, governor_lowest_level}; }

// Shares are compared as cross products so no division is needed.
void governor_step(GovernorAccounts *a, uint32_t t0, uint32_t t1, uint32_t t2) {
  // Differences rather than sums keep the tests right across the wrap of
  // the 32-bit tick. A sleep that overran by 50 ms or more says the machine
  // was busy with something else altogether, so that cycle is not counted.
  if (static_cast<uint32_t>(t1 - t0) < 550u) {
    const double d = static_cast<double>(static_cast<uint32_t>(t2 - t0));
    a->measured_time += d;
    if (static_cast<uint32_t>(t2 - t1) > 25u) a->contended_time += d;
  }
  // Old history halves in about 69 cycles.
  a->contended_time -= a->contended_time * 0.01;
  a->measured_time -= a->measured_time * 0.01;
  // Resetting to 2/3 after a change leaves the lower test unreachable in
  // the same cycle, so one cycle moves the level by one step at most.
  if (3.0 * a->measured_time < 4.0 * a->contended_time) {
    if (a->level < governor_highest_level) ++a->level;
    a->contended_time = 10000.0;
    a->measured_time = 15000.0;
  }
  if (4.0 * a->contended_time < a->measured_time) {
    if (a->level > governor_lowest_level) --a->level;
    a->contended_time = 10000.0;
    a->measured_time = 15000.0;
  }
}

bool governor_claim() { return !governor.active.exchange(true); }

void governor_fix_level(std::atomic<int32_t> *level, int32_t value) {
  SpinGuard guard(governor.level_lock);
  governor.level_fixed.store(true);
  level->store(value);
}

void governor_release_level() {
  SpinGuard guard(governor.level_lock);
  governor.level_fixed.store(false);
}

// Stores the governor's level unless a fixed level is in force.
static void store_own_level(std::atomic<int32_t> *level, int32_t value) {
  SpinGuard guard(governor.level_lock);
  if (!governor.level_fixed.load()) level->store(value);
}

void governor_run() {
  const GovernorOps &ops = governor.ops;
  GovernorAccounts accounts = governor_start();
  store_own_level(ops.level, accounts.level);
  for (;;) {
    do {
      const uint32_t t0 = ops.tick();
      ops.set_own_priority(highest_thread_priority);
      ops.sleep(500);
      const uint32_t t1 = ops.tick();
      ops.set_own_priority(ops.level->load() + 1);
      ops.sleep(0);
      const uint32_t t2 = ops.tick();
      // The dialog may have set a fixed level meanwhile: the store below
      // then leaves it as it is, and the loop ends.
      accounts.level = ops.level->load();
      governor_step(&accounts, t0, t1, t2);
      store_own_level(ops.level, accounts.level);
    } while (ops.wanted());
    governor.active.store(false);
    // A start that came while this thread was on its way out found the
    // claim taken and started nothing: carry on in its place.
    if (!ops.wanted() || !governor_claim()) return;
  }
}
