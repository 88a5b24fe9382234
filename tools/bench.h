/*
 * bench.h: the kernel benchmark of the companion tool.
 */
#pragma once

// `quarn-coord bench [--where W] [--variant V] [--tier T] [--seconds S] [--unit]`:
// terms/s and cycles/term per variant and fast tier, or with --unit the time
// of the default work unit. Returns the exit status.
int bench_main(int argc, char **argv);
