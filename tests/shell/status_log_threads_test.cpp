// Tests of the status log written from several threads at once, as the UI
// thread and retiring workers do.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform.h"
#include "status_log.h"

namespace {

std::atomic<int> invalidations{0};
std::atomic<int> painted{0};
std::atomic<bool> stop_painting{false};

int measure(void *) { return 10; }
bool not_window_thread(void *) { return false; }
void invalidate(void *) { ++invalidations; }
void text_out(void *, int, int, const char *text, int length) {
  // Reads every character, as drawing does, while writers are busy.
  int sum = 0;
  for (int i = 0; i < length; ++i) sum += text[i];
  if (sum >= 0) ++painted;
}

constexpr int writers = 3;
constexpr int lines_each = 3000;

// Long lines widen the window in which unserialised writers would mix.
std::string line_text(int id, int k) {
  char text[160];
  std::snprintf(text, sizeof text,
                "worker %d line %04d of the report, with padding "
                "0123456789012345678901234567890123456789012345678901234567890123456789",
                id, k);
  return text;
}

unsigned writer(void *arg) {
  const int id = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  for (int k = 0; k < lines_each; ++k) {
    // One call per line, either way: the line must come out whole.
    const std::string text = line_text(id, k);
    if (k % 2)
      log_line(reinterpret_cast<void *>(1), text.c_str());
    else
      log_append(reinterpret_cast<void *>(1), (text + "\n").c_str());
  }
  return 0;
}

// Paints until told to stop, and at least once after lines exist.
unsigned painter(void *) {
  do log_paint(nullptr, 10000);
  while (!stop_painting.load() || painted.load() == 0);
  return 0;
}

TEST(StatusLogThreads, ConcurrentWritersNeverMixLines) {
  status_log.lock.wait = [](unsigned) { thread_yield(); };
  log_reset({measure, not_window_thread, nullptr, nullptr, invalidate, text_out});
  ThreadHandle paint_thread = thread_create(painter, nullptr);
  ASSERT_NE(paint_thread, nullptr);
  ThreadHandle threads[writers];
  for (int i = 0; i < writers; ++i) {
    threads[i] = thread_create(writer, reinterpret_cast<void *>(static_cast<intptr_t>(i)));
    ASSERT_NE(threads[i], nullptr);
  }
  for (ThreadHandle t : threads) thread_join(t);
  stop_painting = true;
  thread_join(paint_thread);

  EXPECT_EQ(invalidations.load(), writers * lines_each);
  EXPECT_GT(painted.load(), 0);
  char pending[log_line_size];
  ASSERT_TRUE(log_copy_line(0, pending, sizeof pending));
  EXPECT_STREQ(pending, "");
  int last_seen[writers];
  for (int &k : last_seen) k = lines_each;
  for (int i = 1; i < log_line_count; ++i) {
    char line[log_line_size];
    ASSERT_TRUE(log_copy_line(i, line, sizeof line));
    int id = -1, k = -1;
    ASSERT_EQ(std::sscanf(line, "worker %d line %d", &id, &k), 2) << line;
    ASSERT_TRUE(id >= 0 && id < writers) << line;
    EXPECT_EQ(line, line_text(id, k).substr(0, log_line_size - 1));
    // Going back in time, each writer's lines count down.
    EXPECT_LT(k, last_seen[id]) << line;
    last_seen[id] = k;
  }
  status_log.lock.wait = nullptr;
}

}  // namespace
