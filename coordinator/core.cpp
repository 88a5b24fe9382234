// core.cpp: coordinator_lock, the error text, retiring a slot, the hooks and the kernel entries.
#include "core.h"

#include <cstdarg>
#include <cstdio>

#include "kernel.h"
#include "platform.h"

FrontEndHooks front_end{};
CoordinatorKernel coordinator_kernel{cpu_classify, kernel_init, kernel_step, kernel_finish};
CoordinatorCore coordinator{};

void core_reset() {
  front_end = FrontEndHooks{};
  coordinator_kernel = CoordinatorKernel{cpu_classify, kernel_init, kernel_step, kernel_finish};
  coordinator_lock_close();
  coordinator.error_flag.store(0);
  coordinator.error_text[0] = '\0';
  coordinator.failed_workers.store(0);
  coordinator.computing_slots.store(0);
  kernel.kernel_error.store(0);
  kernel.on_terms_done = nullptr;
}

bool coordinator_lock_open() {
  coordinator_lock_close();
  coordinator.lock = lock_create();
  return coordinator.lock != nullptr;
}

void coordinator_lock_close() {
  if (coordinator.lock) lock_delete(coordinator.lock);
  coordinator.lock = nullptr;
}

void coordinator_enter() {
  if (coordinator.lock) lock_enter(coordinator.lock);
}

void coordinator_leave() {
  if (coordinator.lock) lock_leave(coordinator.lock);
}

void set_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(coordinator.error_text, sizeof coordinator.error_text, format, args);
  va_end(args);
  coordinator.error_flag.store(1);
}

void clear_errors() {
  coordinator.error_flag.store(0);
  coordinator.error_text[0] = '\0';
  kernel.kernel_error.store(0);
}

void coordinator_note(const char *format, int a, int b) {
  if (!front_end.message) return;
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  front_end.message(text);
}

void retire_slot(WorkSlot *slot, RetireReason reason) {
  if (slot->thread_number != -1) coordinator.computing_slots.fetch_sub(1);
  slot->thread_number = -1;
  if (reason == RetireReason::failure) coordinator.failed_workers.fetch_add(1);
}
