/*
 * spin_lock.h: the shell's small lock, an atomic flag with a pluggable wait,
 * usable on both builds (the Win32 build has no std::mutex).
 */
#pragma once

#include <atomic>

// Held only for a few microseconds (a ring rotation, a report), so spinning
// is cheaper than a kernel object. `wait` is called between attempts with
// the number of failed attempts so far; the front end installs one that
// yields (and eventually sleeps, so a holder of lower priority can run).
// Without it the lock spins.
struct SpinLock {
  std::atomic_flag flag;
  void (*wait)(unsigned attempts) = nullptr;
};

// Takes the lock; not recursive: the holder must not take it again.
inline void spin_lock(SpinLock &lock) {
  unsigned attempts = 0;
  while (lock.flag.test_and_set(std::memory_order_acquire)) {
    ++attempts;
    if (lock.wait) lock.wait(attempts);
  }
}

inline void spin_unlock(SpinLock &lock) { lock.flag.clear(std::memory_order_release); }

// Holds a SpinLock for one scope.
struct SpinGuard {
  SpinLock &lock;
  explicit SpinGuard(SpinLock &l) : lock(l) { spin_lock(lock); }
  ~SpinGuard() { spin_unlock(lock); }
  SpinGuard(const SpinGuard &) = delete;
  SpinGuard &operator=(const SpinGuard &) = delete;
};
