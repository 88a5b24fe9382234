/*
 * console.h: what the Linux client's start-up shares with its two faces,
 * the report lines printed when it does not run on a terminal and the
 * full-screen interface when it does.
 */
#pragma once

#include <atomic>


// Process-wide values of the client, set from signal handlers and workers.
struct ConsoleState {
  std::atomic<int> signal_seen{0};     // SIGINT, SIGTERM or SIGHUP arrived
  std::atomic<int> stop_requested{0};  // the last worker asked for Stop Calculating
};
extern ConsoleState console;

// Catches SIGINT, SIGTERM and SIGHUP into console.signal_seen.
void console_catch_signals();

// The computation in the current directory, reported as lines on standard
// output; returns the exit status. Opens the session.
int run_headless();

// The full-screen interface; returns the exit status. Falls back to
// run_headless when the terminal cannot be driven. Opens the session.
int run_terminal();
