// terminal.cpp: whether the Linux client runs on a terminal.
#include "platform.h"

#include <unistd.h>

bool stdio_is_terminal() { return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1; }
