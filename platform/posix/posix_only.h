/*
 * posix_only.h: services only the POSIX build has: power read from a
 * /sys-like tree, and whether the client runs on a terminal.
 */
#pragma once

#include "power.h"

// power_status over a tree laid out as /sys/class/power_supply (one folder a
// supply with "type", "online", "capacity"), so tests can give their own.
PowerStatus power_status_at(const char *supply_dir);
// Whether standard input and standard output are both a terminal: the
// Linux client then shows its full-screen interface instead of printing
// report lines.
bool stdio_is_terminal();
