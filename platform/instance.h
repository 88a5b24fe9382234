/*
 * instance.h: the single-instance service. Implemented in win32/instance.cpp and
 * posix/instance.cpp.
 */
#pragma once

#include <cstdint>

// Takes an exclusive lock on path (created if missing) for the life of the
// process; false if another process holds it (*held_elsewhere set) or the
// file can be neither made nor opened, as in a read-only folder
// (*held_elsewhere cleared).
bool instance_lock(const char *path, bool *held_elsewhere = nullptr);
