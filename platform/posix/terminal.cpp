// terminal.cpp: whether the Linux client runs on a terminal.
#include "posix_only.h"

#include <unistd.h>

bool stdio_is_terminal() { return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1; }
