// main.cpp: start-up of the Linux client `quarn`: the state file, the single instance, the idle priority, then the full-screen interface on a terminal or report lines otherwise.
#include <csignal>
#include <cstdio>

#include "console.h"
#include "options.h"
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

static int32_t settings_get_int(const char *key, int32_t def) {
  return profile_get_int("Main", key, def, state_file.ini_path);
}
static void settings_get_string(const char *key, const char *def, char *buf, uint32_t size) {
  profile_get_string("Main", key, def, buf, size, state_file.ini_path);
}
static void settings_put_string(const char *key, const char *value) {
  profile_write_string("Main", key, value, state_file.ini_path);
}
const SettingsStore console_settings_store{settings_get_int, settings_get_string,
                                           settings_put_string};

int main(int argc, char **argv) {
  if (const int status = console_options(argc, argv); status >= 0) return status;
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
  const ShellSettings settings = settings_load(console_settings_store);
  // Before curses starts, which then leaves these signals to us.
  console_catch_signals();
  return stdio_is_terminal() ? run_terminal(settings) : run_headless(settings);
}
