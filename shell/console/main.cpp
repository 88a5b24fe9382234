// main.cpp: start-up of the Linux client `quarn`: the state file, the single instance, the idle priority, then the full-screen interface on a terminal or report lines otherwise.
#include <csignal>
#include <cstdio>

#include "console.h"
#include "platform.h"
#include "state_file.h"

ConsoleState console;

static_assert(std::atomic<int>::is_always_lock_free, "stored from a signal handler");

extern "C" void on_signal(int) { console.signal_seen.store(1); }

void console_catch_signals() {
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  std::signal(SIGHUP, on_signal);
}

int main() {
  if (!locate_state_file()) {
    std::printf("Error: the current directory cannot be read or its path is too long\n");
    return 1;
  }
  // One copy per directory: a lock on a file beside Quarn.ini.
  char lock_path[path_capacity + 8];
  std::snprintf(lock_path, sizeof lock_path, "%s.lock", state_file.ini_path);
  bool held_elsewhere = false;
  if (!instance_lock(lock_path, &held_elsewhere)) {
    if (held_elsewhere) return 0;
    // Nothing could be saved here: said plainly rather than left silently.
    std::printf("Error: cannot write %s: the folder cannot be written\n", lock_path);
    return 1;
  }

  process_set_idle_class();
  thread_set_current_priority(thread_priority_highest);
  // Before curses starts, which then leaves these signals to us.
  console_catch_signals();
  return stdio_is_terminal() ? run_terminal() : run_headless();
}
