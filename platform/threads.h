/*
 * threads.h: the thread service: threads and their priorities, the process
 * priority class, time, the processor count and the one lock type.
 * Implemented in win32/threads.cpp and posix/threads.cpp.
 */
#pragma once

#include <cstdint>


using ThreadHandle = void *;
using ThreadProc = unsigned (*)(void *arg);

// Starts fn(arg) on a new thread; nullptr on failure.
ThreadHandle thread_create(ThreadProc fn, void *arg);
// Whether the thread has not yet returned (GetExitCodeThread = STILL_ACTIVE).
bool thread_is_active(ThreadHandle t);
// Waits for the thread to end and releases the handle.
void thread_join(ThreadHandle t);
// Win32 thread priority levels.
constexpr int thread_priority_idle = -15;
constexpr int thread_priority_lowest = -2;
constexpr int thread_priority_below_normal = -1;
constexpr int thread_priority_normal = 0;
constexpr int thread_priority_above_normal = 1;
constexpr int thread_priority_highest = 2;
void thread_set_priority(ThreadHandle t, int level);
void thread_set_current_priority(int level);
// Puts the whole process into the idle priority class.
void process_set_idle_class();

void thread_yield();               // Sleep(0)
void thread_sleep(uint32_t ms);
uint32_t tick_count();             // milliseconds, wrapping
int processor_count();

// One lock (a critical section).
struct PlatformLock;
PlatformLock *lock_create();
void lock_delete(PlatformLock *l);
void lock_enter(PlatformLock *l);
void lock_leave(PlatformLock *l);
