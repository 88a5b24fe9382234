/*
 * options.h: the Linux client's command line, which takes only --help and
 * --version (the Windows program has none). Its --help is the source of the
 * manual page, so the two cannot drift apart.
 */
#pragma once

// Handles the arguments before anything else runs: returns the exit status
// when they ask for help, the version or are not understood (having printed
// the answer), and -1 when there are none and the client should start.
int console_options(int argc, char **argv);
