/*
 * gtest-port.h (GoogleTest's customisation point): supplies the one piece of
 * GoogleTest that needs std::mutex, which the win32 thread model of Debian's
 * MinGW does not have. Only the cross build puts this folder on the path.
 */
#ifndef QUARN_GTEST_CUSTOM_GTEST_PORT_H_
#define QUARN_GTEST_CUSTOM_GTEST_PORT_H_

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

// GoogleTest's start signal for its own helper threads (no test of ours
// uses them): one thread notifies once, others wait. A spin is enough here.
class Notification {
 public:
  Notification() = default;
  Notification(const Notification &) = delete;
  Notification &operator=(const Notification &) = delete;

  void Notify() { notified_.store(true); }
  void WaitForNotification() {
    while (!notified_.load()) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing

#endif  // QUARN_GTEST_CUSTOM_GTEST_PORT_H_
