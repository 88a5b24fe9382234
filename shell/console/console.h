/*
 * console.h: what the Linux client's start-up shares with its two faces,
 * the report lines printed when it does not run on a terminal and the
 * full-screen interface when it does.
 */
#pragma once

#include <atomic>

#include "settings.h"

// Process-wide values of the client, set from signal handlers and workers.
struct ConsoleState {
  std::atomic<int> signal_seen{0};     // SIGINT, SIGTERM or SIGHUP arrived
  std::atomic<int> stop_requested{0};  // the last worker asked for Stop Calculating
};
extern ConsoleState console;

// The shell's settings in [Main] of the state file.
extern const SettingsStore console_settings_store;

// Catches SIGINT, SIGTERM and SIGHUP into console.signal_seen.
void console_catch_signals();

// The computation in the current directory, reported as lines on standard
// output; returns the exit status.
int run_headless(const ShellSettings &settings);

// The full-screen interface; returns the exit status. Falls back to
// run_headless when the terminal cannot be driven.
int run_terminal(const ShellSettings &settings);
