/*
 * bench.h: the kernel benchmark of the companion tool.
 */
#pragma once

// `quarn-coord bench [--where W] [--variant V] [--tier T] [--seconds S] [--unit]`;
// --unit times the default work unit instead. Returns the
// exit status.
int bench_main(int argc, char **argv);
