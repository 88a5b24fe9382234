// workers.cpp: Start and Stop Calculating, the worker threads, and the loads and saves of their chunks.
#include "workers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chunk_end.h"
#include "kernel.h"
#include "platform.h"
#include "range.h"
#include "results.h"
#include "state_file.h"

WorkerState worker_state{};

void coordinator_reset() {
  core_reset();
  range_reset();
  result_counters_reset();
  worker_state.running.store(0);
  worker_state.active_workers.store(0);
  worker_state.retired_workers.store(0);
  worker_state.priority_level.store(0);
  worker_state.notice_pending.store(0);
  worker_state.worker_count = 0;
  for (void *&h : worker_state.worker_handles) h = nullptr;
  for (const WorkSlot *&s : worker_state.slots) s = nullptr;
  for (bool &e : worker_state.ended) e = false;
  worker_state.start_pause_ms = 1000;
  worker_state.processors = 0;
}

// One turn of a wait loop: give up the time slice, and after a while sleep,
// so that a waiter at a higher priority cannot starve the thread it waits
// for.
static void wait_turn(unsigned &turns) {
  if (++turns < 64)
    thread_yield();
  else
    thread_sleep(1);
}

static int thread_priority_of(int32_t level) {
  return level <= -3 ? thread_priority_idle : static_cast<int>(level);
}

// Undoes a Start Calculating that could not get going.
static bool abandon_start() {
  worker_state.running.store(0);
  coordinator_lock_close();
  if (front_end.set_menus) front_end.set_menus(false);
  return false;
}

bool start_calculating() {
  if (front_end.set_menus) front_end.set_menus(true);
  worker_state.active_workers.store(0);
  worker_state.retired_workers.store(0);
  coordinator.failed_workers.store(0);
  worker_state.running.store(1);
  coordinator_kernel.classify();
  // The run's first line: the variant and tier the start-up check passed.
  if (front_end.message && kernel.check_text[0]) front_end.message(kernel.check_text);
  kernel.on_terms_done = on_terms_done;

  int32_t wanted = worker_state.processors > 0 ? worker_state.processors : processor_count();
  if (wanted < 1) wanted = 1;
  if (wanted > max_workers) {
    coordinator_note("%d processors: only %d workers are started", wanted, max_workers);
    wanted = max_workers;
  }
  // The sections that will be loaded, for load_main_state's check.
  if (!load_main_state(wanted)) return abandon_start();
  worker_state.worker_count = 0;
  for (int32_t i = 0; i < wanted; ++i) {
    worker_state.slots[i] = nullptr;
    worker_state.ended[i] = false;
    void *block = std::malloc(slot_block_bytes);
    if (!block) break;
    std::memcpy(block, &i, sizeof i);
    // Counted before it exists, so a Stop right after Start waits for it.
    worker_state.active_workers.fetch_add(1);
    ThreadHandle h = thread_create(worker_main, block);
    if (!h) {
      worker_state.active_workers.fetch_sub(1);
      std::free(block);
      break;
    }
    worker_state.worker_handles[i] = h;
    worker_state.worker_count = i + 1;
  }
  if (worker_state.worker_count == 0) {
    set_error("Error: no worker thread could be started");
    return abandon_start();
  }
  if (worker_state.worker_count < wanted) {
    coordinator_note("Only %d of %d worker threads could be started", worker_state.worker_count, wanted);
    CoordinatorGuard guard;  // the sections of workers never created stay unloaded
    result_counters.sections_to_load -= wanted - worker_state.worker_count;
  }

  thread_sleep(worker_state.start_pause_ms);
  if (front_end.arm_timer) front_end.arm_timer();
  if (front_end.after_start) front_end.after_start();
  return true;
}

void stop_calculating() {
  if (front_end.set_menus) front_end.set_menus(false);
  if (worker_state.active_workers.load() == 0) return;
  worker_state.running.store(0);
  for (int32_t i = 0; i < worker_state.worker_count; ++i) {
    void *h = worker_state.worker_handles[i];
    if (h && thread_is_active(h)) thread_set_priority(h, thread_priority_highest);
  }
  if (front_end.kill_timer) front_end.kill_timer();
  unsigned turns = 0;
  while (worker_state.active_workers.load() != 0) wait_turn(turns);
  // Each worker is past its last use of shared state; release the threads.
  for (int32_t i = 0; i < worker_state.worker_count; ++i) {
    if (worker_state.worker_handles[i]) thread_join(worker_state.worker_handles[i]);
    worker_state.worker_handles[i] = nullptr;
  }
  // Every worker that was created has loaded its section by now.
  result_counters.sections_to_load = 0;
  settle_counters();
  coordinator_lock_close();
  if (front_end.after_stop) front_end.after_stop();
}

void worker_load(WorkSlot *slot) {
  CoordinatorGuard guard;
  // 64-bit significand, rounding toward minus infinity; other bits kept.
  x87_set_control_word(x87_kernel_mode_of(x87_get_control_word()));
  worker_state.slots[slot->thread_number] = slot;
  load_slot_chunk(slot);
}

void worker_save(WorkSlot *slot) {
  if (slot->thread_number == -1) return;
  CoordinatorGuard guard;
  coordinator_kernel.finish(slot);
  char name[16];
  result_file_name(slot->outputf, name, sizeof name);
  if (!append_result_line(slot)) {
    // The stored position stays put: the stretch is evaluated again.
    set_error("Error: cannot write %s", name);
    coordinator.failed_workers.fetch_add(1);
    return;
  }
  char section[16];
  thread_section(slot->thread_number, section, sizeof section);
  if (!write_position(section, "cur_pos", slot->cur_pos)) {
    set_error("Error: cannot write Quarn.ini");
    coordinator.failed_workers.fetch_add(1);
  }
}

unsigned worker_main(void *block) {
  int32_t number;
  std::memcpy(&number, block, sizeof number);
  WorkSlot *slot = slot_in_block(block);
  std::memset(slot, 0, sizeof *slot);
  slot->thread_number = number;
  const uint16_t outer_mode = x87_get_control_word();

  worker_load(slot);
  int32_t applied = worker_state.priority_level.load();
  thread_set_current_priority(thread_priority_of(applied));
  while (slot->thread_number != -1) {
    const int32_t level = worker_state.priority_level.load();
    if (level != applied) {
      thread_set_current_priority(thread_priority_of(level));
      applied = level;
    }
    coordinator_kernel.step(slot);
    if (worker_state.running.load() == 0) break;
  }

  if (slot->thread_number == -1) {
    // The report's arithmetic is the front end's, in the usual mode.
    x87_set_control_word(outer_mode);
    worker_state.retired_workers.fetch_add(1);
    if (front_end.worker_retired) front_end.worker_retired();
  }
  worker_save(slot);
  {
    CoordinatorGuard guard;
    worker_state.slots[number] = nullptr;
    worker_state.ended[number] = true;
  }
  std::free(block);

  // A retired worker stays counted while its notice is on show, so the
  // computation keeps "running" until the user stops it.
  unsigned turns = 0;
  do {
    wait_turn(turns);
  } while (worker_state.notice_pending.load() != 0 && worker_state.running.load() != 0);

  // Exactly one worker finds itself last: the others leave in the same
  // atomic step as their test.
  int32_t n = worker_state.active_workers.load();
  while (n != 1 && !worker_state.active_workers.compare_exchange_weak(n, n - 1)) {
  }
  if (n == 1) {
    if (front_end.request_stop) front_end.request_stop();
    turns = 0;
    do {
      wait_turn(turns);
    } while (worker_state.running.load() != 0);
    worker_state.active_workers.fetch_sub(1);
  }
  return 0;
}

int32_t worker_chunks(WorkerChunk *out, int32_t capacity) {
  CoordinatorGuard guard;
  const int32_t count = worker_state.worker_count;
  for (int32_t i = 0; i < count && i < capacity; ++i) {
    const WorkSlot *slot = worker_state.slots[i];
    WorkerChunk c{ChunkState::starting, 0, 0, 0};
    if (worker_state.ended[i] || (slot && slot->thread_number == -1)) {
      c.state = ChunkState::retired;
    } else if (slot) {
      // Only cur_pos moves outside the lock; the chunk's bounds do not.
      c.where = slot->where;
      if (slot->srt_pos < slot->end_pos) c = {ChunkState::computing, slot->where, slot->srt_pos, slot->end_pos};
    }
    out[i] = c;
  }
  return count;
}
