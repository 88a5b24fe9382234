// Tests of putting the priority choice in force: fixed levels at once, Auto
// through a single governor, and only while calculating.
#include <gtest/gtest.h>

#include "priority.h"
#include "workers.h"

namespace {

int threads_started = 0;
bool thread_start_fails = false;
bool fake_start_thread() {
  ++threads_started;
  return !thread_start_fails;
}

class PriorityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    coordinator_reset();
    priority_control_reset();
    threads_started = 0;
    thread_start_fails = false;
    priority_control.start_governor_thread = fake_start_thread;
  }
  void TearDown() override { coordinator_reset(); }
};

TEST_F(PriorityTest, FixedChoiceSetsTheLevelAtOnce) {
  for (int32_t choice = 101; choice <= 105; ++choice) {
    apply_priority_choice(choice, choice % 2 == 0);
    EXPECT_EQ(worker_state.priority_level.load(), choice - 104);
    EXPECT_EQ(priority_control.priority_choice.load(), choice);
  }
  EXPECT_EQ(threads_started, 0);
}

TEST_F(PriorityTest, AutoWhileIdleWaitsForStartCalculating) {
  worker_state.priority_level = -1;
  apply_priority_choice(106, false);
  EXPECT_EQ(threads_started, 0);
  EXPECT_EQ(worker_state.priority_level.load(), -1);
  EXPECT_EQ(priority_control.priority_choice.load(), 106);
  apply_priority_choice(106, true);  // Start Calculating
  EXPECT_EQ(threads_started, 1);
}

TEST_F(PriorityTest, AutoAgainWhileAGovernorRunsStartsNoSecond) {
  apply_priority_choice(106, true);
  apply_priority_choice(106, true);
  EXPECT_EQ(threads_started, 1);
  // Once that governor has ended, the next Auto starts a new one.
  governor.active.store(false);
  apply_priority_choice(106, true);
  EXPECT_EQ(threads_started, 2);
}

TEST_F(PriorityTest, FailedThreadStartReleasesTheClaim) {
  thread_start_fails = true;
  apply_priority_choice(106, true);
  EXPECT_FALSE(governor.active.load());
  thread_start_fails = false;
  apply_priority_choice(106, true);
  EXPECT_EQ(threads_started, 2);
  EXPECT_TRUE(governor.active.load());
}

TEST_F(PriorityTest, GovernorWantedOnlyWhileCalculatingWithAuto) {
  apply_priority_choice(106, false);
  EXPECT_FALSE(governor_wanted());
  worker_state.running = 1;
  EXPECT_TRUE(governor_wanted());
  apply_priority_choice(103, true);
  EXPECT_FALSE(governor_wanted());
}

}  // namespace
