// threads.cpp: threads, priorities, time, processors and critical sections over the Win32 API.
#include "fault.h"
#include "threads.h"

#include <windows.h>

#include <cstdlib>

namespace {

// ThreadProc is a plain C++ function; CreateThread wants WINAPI (stdcall on
// i686), so the thread starts in a trampoline that frees this record.
struct ThreadStart {
  ThreadProc fn;
  void *arg;
};

DWORD WINAPI thread_start(LPVOID p) {
  ThreadStart start = *static_cast<ThreadStart *>(p);
  std::free(p);
  return start.fn(start.arg);
}

}  // namespace

ThreadHandle thread_create(ThreadProc fn, void *arg) {
  if (fault_hit(PlatformOp::thread_create)) return nullptr;
  if (!fn) return nullptr;
  ThreadStart *start = static_cast<ThreadStart *>(std::malloc(sizeof(ThreadStart)));
  if (!start) return nullptr;
  start->fn = fn;
  start->arg = arg;
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, 0, thread_start, start, 0, &id);
  if (!h) {
    std::free(start);
    return nullptr;
  }
  return h;
}

bool thread_is_active(ThreadHandle t) {
  DWORD code = 0;
  return t && GetExitCodeThread(static_cast<HANDLE>(t), &code) && code == STILL_ACTIVE;
}

void thread_join(ThreadHandle t) {
  if (!t) return;
  WaitForSingleObject(static_cast<HANDLE>(t), INFINITE);
  CloseHandle(static_cast<HANDLE>(t));
}

void thread_set_priority(ThreadHandle t, int level) {
  if (t) SetThreadPriority(static_cast<HANDLE>(t), level);
}

void thread_set_current_priority(int level) { SetThreadPriority(GetCurrentThread(), level); }

void process_set_idle_class() { SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS); }

void thread_yield() { Sleep(0); }

void thread_sleep(uint32_t ms) { Sleep(ms); }

uint32_t tick_count() { return GetTickCount(); }

int processor_count() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

struct PlatformLock {
  CRITICAL_SECTION section;
};

PlatformLock *lock_create() {
  if (fault_hit(PlatformOp::lock_create)) return nullptr;
  PlatformLock *l = static_cast<PlatformLock *>(std::malloc(sizeof(PlatformLock)));
  if (!l) return nullptr;
  InitializeCriticalSection(&l->section);
  return l;
}

void lock_delete(PlatformLock *l) {
  if (!l) return;
  DeleteCriticalSection(&l->section);
  std::free(l);
}

void lock_enter(PlatformLock *l) { EnterCriticalSection(&l->section); }

void lock_leave(PlatformLock *l) { LeaveCriticalSection(&l->section); }
