// threads_test.cpp: thread life cycle, the lock, and the time and processor queries.
#include <gtest/gtest.h>

#include <atomic>

#include "platform.h"

namespace {

struct Gate {
  std::atomic<int> open{0};
  std::atomic<int> ran{0};
  void *seen = nullptr;
};

unsigned wait_at_gate(void *p) {
  Gate *g = static_cast<Gate *>(p);
  g->seen = p;
  g->ran.store(1);
  while (!g->open.load()) thread_yield();
  return 0;
}

TEST(Threads, ActiveUntilTheProcedureReturns) {
  Gate g;
  ThreadHandle t = thread_create(wait_at_gate, &g);
  ASSERT_NE(t, nullptr);
  while (!g.ran.load()) thread_yield();
  EXPECT_EQ(g.seen, &g);
  EXPECT_TRUE(thread_is_active(t));
  // Priority changes on a running thread are accepted at every level.
  for (int level : {thread_priority_idle, thread_priority_lowest, thread_priority_normal,
                    thread_priority_highest})
    thread_set_priority(t, level);
  EXPECT_TRUE(thread_is_active(t));
  g.open.store(1);
  while (thread_is_active(t)) thread_yield();
  thread_join(t);
}

struct Counter {
  PlatformLock *lock;
  long value = 0;  // deliberately not atomic: the lock must protect it
};

unsigned count_up(void *p) {
  Counter *c = static_cast<Counter *>(p);
  for (int i = 0; i < 20000; ++i) {
    lock_enter(c->lock);
    lock_enter(c->lock);  // a critical section may be entered again by its owner
    ++c->value;
    lock_leave(c->lock);
    lock_leave(c->lock);
  }
  return 0;
}

TEST(Threads, TheLockExcludesAndIsReentrant) {
  Counter c;
  c.lock = lock_create();
  ASSERT_NE(c.lock, nullptr);
  ThreadHandle h[4];
  for (ThreadHandle &t : h) ASSERT_NE(t = thread_create(count_up, &c), nullptr);
  for (ThreadHandle t : h) thread_join(t);
  EXPECT_EQ(c.value, 4 * 20000);
  lock_delete(c.lock);
}

TEST(Time, TicksMoveForwardAcrossASleep) {
  uint32_t before = tick_count();
  thread_sleep(30);
  uint32_t elapsed = tick_count() - before;  // wraps like GetTickCount
  EXPECT_GT(elapsed, 0u);
  EXPECT_LT(elapsed, 3600u * 1000u);
}

TEST(Processors, AtLeastOne) { EXPECT_GE(processor_count(), 1); }

}  // namespace
