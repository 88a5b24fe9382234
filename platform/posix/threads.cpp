// threads.cpp: threads, Win32-style priority levels, time, processors and locks over pthreads and Linux scheduling calls.
#include "fault.h"
#include "threads.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

// Priority levels on Linux. Linux has no priority classes and its nice value
// belongs to each thread, so the process's class becomes a base nice value
// that the thread levels are counted from:
//   idle class (process_set_idle_class): base 19; normal class: base 0;
//   THREAD_PRIORITY_IDLE (-15)            -> SCHED_IDLE (below every nice value)
//   lowest/below normal/normal (-2..0)    -> nice base + 4 / base + 2 / base
//   above normal/highest (1, 2)           -> nice base - 2 / base - 4
// clamped to -20..19. An unprivileged user may always lower a thread (raise
// its nice value, or move it to SCHED_IDLE), but raising it again, above the
// nice value it has or out of SCHED_IDLE, needs CAP_SYS_NICE or a
// RLIMIT_NICE allowance. So in the idle class such a user gets nice 19 for
// every level but idle, and a thread once made idle stays idle. Failures are
// ignored, as SetThreadPriority's results are.

namespace {

struct PriorityState {
  std::atomic<int> base_nice{0};
};

PriorityState priority_state;

// The handle behind ThreadHandle: the pthread plus what thread_is_active and
// the priority calls need.
struct PosixThread {
  pthread_t thread;
  ThreadProc fn;
  void *arg;
  std::atomic<bool> active;
  std::atomic<pid_t> tid;
};

pid_t current_tid() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

void *thread_start(void *p) {
  PosixThread *t = static_cast<PosixThread *>(p);
  t->tid.store(current_tid());
  t->fn(t->arg);
  t->active.store(false);
  return nullptr;
}

void apply_level(pid_t tid, int level) {
  sched_param none{};
  if (level <= thread_priority_idle) {
    (void)::sched_setscheduler(tid, SCHED_IDLE, &none);
    return;
  }
  if (level < thread_priority_lowest) level = thread_priority_lowest;
  if (level > thread_priority_highest) level = thread_priority_highest;
  if (::sched_getscheduler(tid) == SCHED_IDLE) (void)::sched_setscheduler(tid, SCHED_OTHER, &none);
  int nice = priority_state.base_nice.load() - 2 * level;
  if (nice < -20) nice = -20;
  if (nice > 19) nice = 19;
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}

}  // namespace

ThreadHandle thread_create(ThreadProc fn, void *arg) {
  if (fault_hit(PlatformOp::thread_create)) return nullptr;
  if (!fn) return nullptr;
  PosixThread *t = new (std::nothrow) PosixThread{};
  if (!t) return nullptr;
  t->fn = fn;
  t->arg = arg;
  t->active.store(true);
  t->tid.store(0);
  if (::pthread_create(&t->thread, nullptr, thread_start, t) != 0) {
    delete t;
    return nullptr;
  }
  // The priority calls need the kernel's id of the thread; wait until it
  // has published it, so the handle is usable at once as on Windows.
  while (t->tid.load() == 0) ::sched_yield();
  return t;
}

bool thread_is_active(ThreadHandle t) {
  return t && static_cast<PosixThread *>(t)->active.load();
}

void thread_join(ThreadHandle t) {
  if (!t) return;
  PosixThread *p = static_cast<PosixThread *>(t);
  ::pthread_join(p->thread, nullptr);
  delete p;
}

void thread_set_priority(ThreadHandle t, int level) {
  if (!t) return;
  PosixThread *p = static_cast<PosixThread *>(t);
  // A thread that has returned may have had its id reused.
  if (p->active.load()) apply_level(p->tid.load(), level);
}

void thread_set_current_priority(int level) { apply_level(current_tid(), level); }

void process_set_idle_class() {
  priority_state.base_nice.store(19);
  // setpriority reaches one thread only: walk all of them.
  DIR *d = ::opendir("/proc/self/task");
  if (!d) {
    (void)::setpriority(PRIO_PROCESS, 0, 19);
    return;
  }
  while (dirent *e = ::readdir(d)) {
    long tid = std::strtol(e->d_name, nullptr, 10);
    if (tid > 0) (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 19);
  }
  ::closedir(d);
}

void thread_yield() { ::sched_yield(); }

void thread_sleep(uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

uint32_t tick_count() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

int processor_count() {
  // The processors this process may run on, which a container or taskset
  // may make fewer than the machine has.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

// Recursive like a critical section: the owner may enter again.
struct PlatformLock {
  pthread_mutex_t mutex;
};

PlatformLock *lock_create() {
  if (fault_hit(PlatformOp::lock_create)) return nullptr;
  PlatformLock *l = static_cast<PlatformLock *>(std::malloc(sizeof(PlatformLock)));
  if (!l) return nullptr;
  pthread_mutexattr_t attr;
  ::pthread_mutexattr_init(&attr);
  ::pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  int rc = ::pthread_mutex_init(&l->mutex, &attr);
  ::pthread_mutexattr_destroy(&attr);
  if (rc != 0) {
    std::free(l);
    return nullptr;
  }
  return l;
}

void lock_delete(PlatformLock *l) {
  if (!l) return;
  ::pthread_mutex_destroy(&l->mutex);
  std::free(l);
}

void lock_enter(PlatformLock *l) { ::pthread_mutex_lock(&l->mutex); }

void lock_leave(PlatformLock *l) { ::pthread_mutex_unlock(&l->mutex); }
