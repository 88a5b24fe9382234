// instance.cpp: the single-instance lock over the Win32 API: a file opened
// without sharing.
#include "instance.h"

#include <windows.h>

namespace {

// The lock is the open handle itself, kept for the life of the process.
struct InstanceState {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

InstanceState instance_state;

}  // namespace

bool instance_lock(const char *path, bool *held_elsewhere) {
  if (held_elsewhere) *held_elsewhere = false;
  if (!path) return false;
  if (instance_state.handle != INVALID_HANDLE_VALUE) return true;
  // No sharing: a second process cannot open the file while we hold it.
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (held_elsewhere) *held_elsewhere = GetLastError() == ERROR_SHARING_VIOLATION;
    return false;
  }
  instance_state.handle = h;
  return true;
}
