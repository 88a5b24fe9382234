/*
 * clock.h: the processor time and clock rate that the benchmark and the
 * speed-figure test measure against.
 */
#pragma once

// Processor time of this process where the C library keeps it (Linux), so
// that other programs on a busy machine do not count; wall time on Windows,
// whose clock() measures that.
double process_seconds();

// Clock cycles per second: a chain of dependent register adds retires one
// add per cycle on every x86 since the 486, so its rate is the core clock
// (under whatever boost the chain itself earns). Best of three rounds.
double clock_hz();
