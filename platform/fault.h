/*
 * fault.h: the fault table: every fallible service asks it first, so a test can
 * make the Nth call of one service fail. One portable implementation,
 * fault.cpp.
 */
#pragma once

#include <cstdint>

// The fallible services. A call made to fail fails once, or from then on.
enum class PlatformOp : int {
  file_find_first, file_delete, file_rename, file_append_line, file_read_all, file_replace,
  profile_write_string, thread_create, lock_create, count_
};
// Makes call number `nth` (1 = the next) of `op` fail; with `persist`, every
// later call fails too.
void fault_inject(PlatformOp op, int nth, bool persist);
void fault_reset();
// Calls made of `op` since the last fault_reset.
int fault_calls(PlatformOp op);
// Counts one call of `op` and says whether it is to fail; every fallible
// service calls it first.
bool fault_hit(PlatformOp op);
// Calls `seen` with the folder and the name file_find_first has found, before
// it returns them, so that a test can take the file away in between as
// another program may; nullptr (and fault_reset) calls nothing.
void fault_on_found(void (*seen)(const char *dir, const char *name));
// What file_find_first calls with each name it finds.
void fault_found(const char *dir, const char *name);
