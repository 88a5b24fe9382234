// fault_test.cpp: injected failures of the platform services and what callers see of them.
#include "test_support.h"

#include "platform.h"

#include <atomic>

namespace {

class Faults : public ScratchTest {};

TEST_F(Faults, OnceFailsOnlyTheNthCall) {
  for (const char *n : {"a", "b", "c"}) write_file(path(n), "x");
  fault_inject(PlatformOp::file_delete, 2, false);
  EXPECT_TRUE(file_delete(path("a").c_str()));
  EXPECT_FALSE(file_delete(path("b").c_str()));
  EXPECT_TRUE(file_exists(path("b").c_str()));  // the failed call did nothing
  EXPECT_TRUE(file_delete(path("c").c_str()));
  EXPECT_TRUE(file_delete(path("b").c_str()));
  EXPECT_EQ(fault_calls(PlatformOp::file_delete), 4);
}

TEST_F(Faults, PersistFailsFromTheNthCallOnUntilReset) {
  std::string out = path("output1.txt");
  fault_inject(PlatformOp::file_append_line, 2, true);
  EXPECT_TRUE(file_append_line(out.c_str(), "one"));
  EXPECT_FALSE(file_append_line(out.c_str(), "two"));
  EXPECT_FALSE(file_append_line(out.c_str(), "three"));
  EXPECT_EQ(read_file(out), "one\r\n");
  EXPECT_EQ(fault_calls(PlatformOp::file_append_line), 3);
  fault_reset();
  EXPECT_EQ(fault_calls(PlatformOp::file_append_line), 0);
  EXPECT_TRUE(file_append_line(out.c_str(), "four"));
  EXPECT_EQ(read_file(out), "one\r\nfour\r\n");
}

TEST_F(Faults, CountingStartsFromTheInjection) {
  write_file(path("f"), "x");
  char name[32];
  EXPECT_TRUE(file_find_first(dir.string().c_str(), "f", name, sizeof name));
  EXPECT_TRUE(file_find_first(dir.string().c_str(), "f", name, sizeof name));
  fault_inject(PlatformOp::file_find_first, 1, false);
  EXPECT_FALSE(file_find_first(dir.string().c_str(), "f", name, sizeof name));
  EXPECT_STREQ(name, "");
  EXPECT_TRUE(file_find_first(dir.string().c_str(), "f", name, sizeof name));
  EXPECT_EQ(fault_calls(PlatformOp::file_rename), 0);  // each service counts alone
}

TEST_F(Faults, FailedWritesKeepTheStateFileAndFailedReadsGiveDefaults) {
  std::string ini = path("Quarn.ini");
  ASSERT_TRUE(profile_write_string("Main", "cur_pos", "0000000000000010", ini.c_str()));
  const std::string before = read_file(ini);
  fault_inject(PlatformOp::file_replace, 1, false);
  EXPECT_FALSE(profile_write_string("Main", "cur_pos", "0000000000000020", ini.c_str()));
  EXPECT_EQ(read_file(ini), before);
  fault_inject(PlatformOp::profile_write_string, 1, false);
  EXPECT_FALSE(profile_write_string("Main", "end_pos", "0000000000000030", ini.c_str()));
  EXPECT_EQ(read_file(ini), before);
  // An unreadable file must not be rewritten from nothing.
  fault_inject(PlatformOp::file_read_all, 1, false);
  EXPECT_FALSE(profile_write_string("Main", "end_pos", "0000000000000030", ini.c_str()));
  EXPECT_EQ(read_file(ini), before);
  fault_inject(PlatformOp::file_read_all, 1, false);
  EXPECT_EQ(profile_text("Main", "cur_pos", ini, "0000000000000000"), "0000000000000000");
  EXPECT_EQ(profile_text("Main", "cur_pos", ini), "0000000000000010");
}

TEST_F(Faults, ThreadAndLockCreationFailWithNull) {
  fault_inject(PlatformOp::thread_create, 1, false);
  EXPECT_EQ(thread_create([](void *) -> unsigned { return 0; }, nullptr), nullptr);
  fault_inject(PlatformOp::lock_create, 1, false);
  EXPECT_EQ(lock_create(), nullptr);
  PlatformLock *l = lock_create();
  ASSERT_NE(l, nullptr);
  lock_delete(l);
}

// Calls from several threads are each counted once, and a single injected
// failure hits exactly one of them.
TEST_F(Faults, TheTableIsSharedSafelyBetweenThreads) {
  constexpr int threads = 4, calls = 2000;
  struct Shared {
    std::atomic<int> failures{0};
  } shared;
  fault_inject(PlatformOp::lock_create, calls * threads / 2, false);
  ThreadProc worker = [](void *p) -> unsigned {
    Shared *s = static_cast<Shared *>(p);
    for (int i = 0; i < calls; ++i) {
      PlatformLock *l = lock_create();
      if (l) lock_delete(l);
      else s->failures.fetch_add(1);
    }
    return 0;
  };
  ThreadHandle h[threads];
  for (ThreadHandle &t : h) ASSERT_NE(t = thread_create(worker, &shared), nullptr);
  for (ThreadHandle t : h) thread_join(t);
  EXPECT_EQ(fault_calls(PlatformOp::lock_create), threads * calls);
  EXPECT_EQ(shared.failures.load(), 1);
}

}  // namespace
