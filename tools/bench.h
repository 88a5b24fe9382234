/*
 * bench.h: the kernel benchmark of the companion tool.
 */
#pragma once

// `quarn-coord bench [--where W] [--variant V] [--seconds S]`; returns the
// exit status.
int bench_main(int argc, char **argv);
