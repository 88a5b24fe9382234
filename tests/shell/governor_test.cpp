// Tests of the priority governor: the raise and lower schedules from the
// start and reset values, the handling of overrun and wrapped cycles, and
// the measuring loop on a fake clock.
#include <gtest/gtest.h>

#include <vector>

#include "governor.h"

namespace {

// Ticks of one cycle lasting 530 ms whose 500 ms sleep took `sleep_ms`.
struct Cycle {
  uint32_t t0, t1, t2;
};
Cycle cycle_at(uint32_t t0, uint32_t sleep_ms, uint32_t total_ms) {
  return {t0, t0 + sleep_ms, t0 + total_ms};
}
// A yield held up by more than 25 ms.
const uint32_t held_up_sleep = 500;
// A yield that came back at once.
const uint32_t free_sleep = 510;

// Runs `cycles` identical cycles and returns the cycle numbers (1-based)
// after which the level changed, with the level reached.
std::vector<std::pair<int, int>> run(GovernorAccounts *a, int cycles, uint32_t sleep_ms) {
  std::vector<std::pair<int, int>> changes;
  uint32_t t = 1000;
  for (int n = 1; n <= cycles; ++n) {
    const int before = a->level;
    const Cycle c = cycle_at(t, sleep_ms, 530);
    governor_step(a, c.t0, c.t1, c.t2);
    if (a->level != before) changes.push_back({n, a->level});
    t += 530;
  }
  return changes;
}

TEST(GovernorStep, HeldUpYieldsRaiseTheLevelAfter33CyclesThenEvery10) {
  GovernorAccounts a = governor_start();
  ASSERT_EQ(a.level, -3);
  const auto changes = run(&a, 300, held_up_sleep);
  const std::vector<std::pair<int, int>> expected = {{33, -2}, {43, -1}, {53, 0}, {63, 1}};
  EXPECT_EQ(changes, expected);
  EXPECT_EQ(a.level, 1);
}

TEST(GovernorStep, FreeYieldsLowerTheLevelAfter33CyclesThenEvery39) {
  GovernorAccounts a = governor_start();
  a.level = 1;
  const auto changes = run(&a, 400, free_sleep);
  const std::vector<std::pair<int, int>> expected = {{33, 0}, {72, -1}, {111, -2}, {150, -3}};
  EXPECT_EQ(changes, expected);
  EXPECT_EQ(a.level, -3);
}

TEST(GovernorStep, AccountsAreResetEvenAtTheBound) {
  GovernorAccounts a = governor_start();
  a.level = 1;
  // 33 held-up cycles reach the raise threshold with the level already at 1.
  const auto changes = run(&a, 33, held_up_sleep);
  EXPECT_TRUE(changes.empty());
  EXPECT_EQ(a.level, 1);
  EXPECT_EQ(a.contended_time, 10000.0);
  EXPECT_EQ(a.measured_time, 15000.0);
}

TEST(GovernorStep, OverrunSleepOnlyDecays) {
  GovernorAccounts a = governor_start();
  governor_step(&a, 1000, 1000 + 550, 1000 + 600);
  EXPECT_DOUBLE_EQ(a.contended_time, 10000.0 * 0.99);
  EXPECT_DOUBLE_EQ(a.measured_time, 20000.0 * 0.99);
  GovernorAccounts b = governor_start();
  governor_step(&b, 1000, 1000 + 549, 1000 + 600);
  EXPECT_DOUBLE_EQ(b.measured_time, (20000.0 + 600.0) * 0.99);
  EXPECT_DOUBLE_EQ(b.contended_time, (10000.0 + 600.0) * 0.99);
}

TEST(GovernorStep, HoldUpThresholdIsMoreThan25Ms) {
  GovernorAccounts a = governor_start();
  governor_step(&a, 0, 500, 525);  // exactly 25: not held up
  EXPECT_DOUBLE_EQ(a.contended_time, 10000.0 * 0.99);
  EXPECT_DOUBLE_EQ(a.measured_time, 20525.0 * 0.99);
}

TEST(GovernorStep, CycleAcrossTheTickWrapCountsLikeAnyOther) {
  // The wrap falls before t1, between t1 and t2, or after t2, for cycles
  // that count with and without a hold-up and for an overrun one.
  const uint32_t shapes[][2] = {{500, 530}, {510, 530}, {560, 600}};
  for (uint32_t before_wrap = 1; before_wrap <= 700; before_wrap += 3) {
    for (const auto &shape : shapes) {
      GovernorAccounts plain = governor_start();
      GovernorAccounts wrapped = governor_start();
      governor_step(&plain, 1000, 1000 + shape[0], 1000 + shape[1]);
      const uint32_t t0 = 0u - before_wrap;
      governor_step(&wrapped, t0, t0 + shape[0], t0 + shape[1]);
      ASSERT_EQ(wrapped.contended_time, plain.contended_time) << before_wrap;
      ASSERT_EQ(wrapped.measured_time, plain.measured_time) << before_wrap;
    }
  }
}

// --- the loop, on a fake clock ---

struct FakeMachine {
  uint32_t now = 5000;
  bool held_up = true;  // the yield comes back after 30 ms
  int cycles_left = 0;  // how many more times wanted() answers yes
  std::vector<bool> extra_wanted;  // answers after those, in order
  std::vector<int> priorities;
  int sleeps = 0;
  int set_level_at_sleep = 0;  // the dialog sets a fixed level during this 500 ms sleep
  int32_t fixed_level = 1;     // the level it sets
};
FakeMachine fake;
std::atomic<int32_t> fake_level{0};  // the shared level the workers apply

uint32_t fake_tick() { return fake.now; }
void fake_sleep(uint32_t ms) {
  if (ms == 500) {
    fake.now += 500;
    if (++fake.sleeps == fake.set_level_at_sleep) governor_fix_level(&fake_level, fake.fixed_level);
  } else fake.now += fake.held_up ? 30 : 5;
}
void fake_priority(int p) { fake.priorities.push_back(p); }
bool fake_wanted() {
  if (fake.cycles_left > 0) return --fake.cycles_left > 0;
  if (!fake.extra_wanted.empty()) {
    const bool answer = fake.extra_wanted.front();
    fake.extra_wanted.erase(fake.extra_wanted.begin());
    return answer;
  }
  return false;
}

class GovernorLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = FakeMachine{};
    fake_level = 0;
    governor.active.store(false);
    governor.level_fixed.store(false);
    governor.ops = {fake_tick, fake_sleep, fake_priority, fake_wanted, &fake_level};
  }
};

TEST_F(GovernorLoop, MeasuresAtHighestThenOneAboveTheWorkers) {
  fake_level = 1;  // left over from before: a new governor starts at -3
  fake.cycles_left = 40;
  ASSERT_TRUE(governor_claim());
  governor_run();
  EXPECT_FALSE(governor.active.load());
  ASSERT_EQ(fake.priorities.size(), 80u);
  // The level rose from -3 to -2 after the 33rd cycle.
  for (size_t n = 0; n < 40; ++n) {
    EXPECT_EQ(fake.priorities[2 * n], 2);
    EXPECT_EQ(fake.priorities[2 * n + 1], n < 33 ? -2 : -1) << "cycle " << n + 1;
  }
  EXPECT_EQ(fake_level.load(), -2);
}

TEST_F(GovernorLoop, OnlyOneGovernorAtATime) {
  ASSERT_TRUE(governor_claim());
  EXPECT_FALSE(governor_claim());
  fake.cycles_left = 1;
  governor_run();
  EXPECT_TRUE(governor_claim());
}

TEST_F(GovernorLoop, StartRequestWhileEndingIsNotLost) {
  // The loop sees "not wanted" and releases its claim; a start that came
  // just then was refused, so the ending thread carries on in its place.
  fake.cycles_left = 1;
  fake.extra_wanted = {true, false, false};
  ASSERT_TRUE(governor_claim());
  governor_run();
  EXPECT_EQ(fake.priorities.size(), 4u);  // two cycles
  EXPECT_FALSE(governor.active.load());
}

TEST_F(GovernorLoop, FixedLevelSetDuringTheLastCycleIsKept) {
  // The dialog sets level 1 while the tenth cycle sleeps; that cycle ends
  // the governor and must not write its own older level back.
  fake.cycles_left = 10;
  fake.set_level_at_sleep = 10;
  ASSERT_TRUE(governor_claim());
  governor_run();
  EXPECT_EQ(fake_level.load(), 1);
  EXPECT_EQ(fake.priorities.back(), 2);  // the last yield ran one above level 1
}

TEST_F(GovernorLoop, AFixedLevelEqualToTheGovernorsIsNotMovedByTheCycleUnderWay) {
  // 33 held-up cycles raise -3 to -2; the dialog fixes -3 while the 33rd
  // sleeps, which that cycle must not raise.
  fake.cycles_left = 33;
  fake.set_level_at_sleep = 33;
  fake.fixed_level = -3;
  ASSERT_TRUE(governor_claim());
  governor_run();
  EXPECT_EQ(fake.sleeps, 33);
  EXPECT_EQ(fake_level.load(), -3);
  // Auto again: the next governor stores its levels.
  governor_release_level();
  fake.cycles_left = 1;
  fake_level = 0;
  ASSERT_TRUE(governor_claim());
  governor_run();
  EXPECT_EQ(fake_level.load(), -3);
}

}  // namespace
