// posix_test.cpp: Linux-only checks that need other processes or the scheduler: kills during profile writes, the instance lock, power supplies and priorities.
#include "test_support.h"

#include "platform.h"
#include "posix_only.h"

#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <random>

namespace {

class Posix : public ScratchTest {};

// The state file as it must look after writing a, b and c (in that order)
// on top of the padding: any other contents means a torn write.
std::string expected_file(const std::string &pad, int a, int b, int c) {
  return "; kill test\r\n[Pad]\r\npad=" + pad + "\r\n\r\n[Main]\r\na=" + std::to_string(a) +
         "\r\nb=" + std::to_string(b) + "\r\nc=" + std::to_string(c) + "\r\n";
}

TEST_F(Posix, AKilledWriterNeverLeavesATornFile) {
  const std::string ini = path("Quarn.ini");
  const std::string pad(20000, 'p');  // makes each write long enough to be hit
  write_file(ini, expected_file(pad, 0, 0, 0));
  std::mt19937 rng(12345);
  int last = 0;
  for (int round = 0; round < 40; ++round) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Rounds of three keys, each round one higher, until killed; a round
      // cut short by the last kill is done again.
      int r = profile_get_int("Main", "c", 0, ini.c_str());
      for (;;) {
        ++r;
        for (const char *k : {"a", "b", "c"})
          profile_write_string("Main", k, std::to_string(r).c_str(), ini.c_str());
      }
    }
    thread_sleep(1 + rng() % 15);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    int a = profile_get_int("Main", "a", -1, ini.c_str());
    int b = profile_get_int("Main", "b", -1, ini.c_str());
    int c = profile_get_int("Main", "c", -1, ini.c_str());
    // A prefix of the writes, each whole: a >= b >= c, at most one apart.
    ASSERT_TRUE(a >= b && b >= c && a - c <= 1 && c >= last)
        << "round " << round << ": " << a << " " << b << " " << c;
    ASSERT_EQ(read_file(ini), expected_file(pad, a, b, c)) << "round " << round;
    last = c;
  }
  EXPECT_GT(last, 0);  // the children did get some writes done
}

TEST_F(Posix, TheInstanceLockExcludesOtherProcesses) {
  const std::string lock = path("Quarn.lock");
  ASSERT_TRUE(instance_lock(lock.c_str()));
  EXPECT_TRUE(instance_lock(lock.c_str()));  // again from the holder: still ours
  auto in_child = [](const std::string &p) {
    pid_t child = ::fork();
    if (child == 0) {
      bool elsewhere = true;
      if (instance_lock(p.c_str(), &elsewhere)) ::_exit(0);
      ::_exit(elsewhere ? 1 : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(in_child(lock), 1);  // held by another process
  EXPECT_EQ(in_child(path("other.lock")), 0);
  // A lock file that cannot be made is not mistaken for another copy.
  EXPECT_EQ(in_child(path("no-such-folder/Quarn.lock")), 2);
}

class Power : public ScratchTest {
 protected:
  void supply(const std::string &name, std::initializer_list<std::pair<const char *, const char *>> files) {
    std::filesystem::create_directories(path(name));
    for (auto &f : files) write_file(path(name + "/" + f.first), std::string(f.second) + "\n");
  }
};

TEST_F(Power, NoSuppliesMeansUnknown) {
  EXPECT_FALSE(power_status_at(dir.string().c_str()).known);
  EXPECT_FALSE(power_status_at(path("missing").c_str()).known);
}

TEST_F(Power, MainsAndTheFirstBattery) {
  supply("AC", {{"type", "Mains"}, {"online", "1"}});
  supply("BAT1", {{"type", "Battery"}, {"capacity", "30"}, {"status", "Charging"}});
  supply("BAT0", {{"type", "Battery"}, {"capacity", "80"}, {"status", "Charging"}});
  supply("hidpp_battery_0", {{"type", "Battery"}, {"scope", "Device"}, {"capacity", "5"}});
  PowerStatus st = power_status_at(dir.string().c_str());
  EXPECT_TRUE(st.known);
  EXPECT_TRUE(st.ac_online);
  EXPECT_EQ(st.battery_percent, 80);
}

TEST_F(Power, OffLineFromMainsOrFromADischargingBattery) {
  supply("BAT0", {{"type", "Battery"}, {"capacity", "40"}, {"status", "Discharging"}});
  PowerStatus st = power_status_at(dir.string().c_str());
  EXPECT_TRUE(st.known);
  EXPECT_FALSE(st.ac_online);
  EXPECT_EQ(st.battery_percent, 40);
  supply("ADP1", {{"type", "Mains"}, {"online", "0"}});
  std::filesystem::remove_all(path("BAT0"));
  st = power_status_at(dir.string().c_str());
  EXPECT_TRUE(st.known);
  EXPECT_FALSE(st.ac_online);
  EXPECT_EQ(st.battery_percent, -1);
}

struct Seen {
  int nice_before, nice_lowest, nice_highest, policy_idle, policy_after;
};

// Runs in a thread of its own, so the test process keeps its priority.
unsigned try_levels(void *p) {
  Seen *s = static_cast<Seen *>(p);
  id_t tid = static_cast<id_t>(::syscall(SYS_gettid));
  s->nice_before = ::getpriority(PRIO_PROCESS, tid);
  thread_set_current_priority(thread_priority_lowest);
  s->nice_lowest = ::getpriority(PRIO_PROCESS, tid);
  thread_set_current_priority(thread_priority_highest);
  s->nice_highest = ::getpriority(PRIO_PROCESS, tid);
  thread_set_current_priority(thread_priority_idle);
  s->policy_idle = ::sched_getscheduler(0);
  thread_set_current_priority(thread_priority_normal);
  s->policy_after = ::sched_getscheduler(0);
  return 0;
}

TEST(Priorities, LevelsBecomeNiceValuesAndIdleBecomesSchedIdle) {
  Seen s{};
  ThreadHandle t = thread_create(try_levels, &s);
  ASSERT_NE(t, nullptr);
  thread_join(t);
  // Normal class: lowest is nice 4; lowering always works, and from a start
  // above nice 4 (a niced run) moving back up needs privilege: either it
  // worked or nothing moved.
  if (s.nice_before <= 4) EXPECT_EQ(s.nice_lowest, 4);
  else EXPECT_TRUE(s.nice_lowest == 4 || s.nice_lowest == s.nice_before) << s.nice_lowest;
  // Raising again needs privilege: either it worked (nice -4) or nothing moved.
  EXPECT_TRUE(s.nice_highest == -4 || s.nice_highest == s.nice_lowest) << s.nice_highest;
  EXPECT_EQ(s.policy_idle, SCHED_IDLE);
  EXPECT_TRUE(s.policy_after == SCHED_OTHER || s.policy_after == SCHED_IDLE);
}

struct Bystander {
  std::atomic<long> tid{0};
  std::atomic<int> release{0};
};

unsigned stand_by(void *p) {
  Bystander *b = static_cast<Bystander *>(p);
  b->tid.store(::syscall(SYS_gettid));
  while (!b->release.load()) thread_yield();
  return 0;
}

// Linux nice values belong to threads: the idle class must reach the ones
// already running too, and the levels then count from nice 19.
TEST(Priorities, TheIdleClassRenicesEveryThread) {
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Bystander b;
    ThreadHandle t = thread_create(stand_by, &b);
    if (!t) ::_exit(2);
    while (!b.tid.load()) thread_yield();
    process_set_idle_class();
    bool ok = ::getpriority(PRIO_PROCESS, 0) == 19 &&
              ::getpriority(PRIO_PROCESS, static_cast<id_t>(b.tid.load())) == 19;
    thread_set_current_priority(thread_priority_lowest);
    ok = ok && ::getpriority(PRIO_PROCESS, 0) == 19;
    b.release.store(1);
    thread_join(t);
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
