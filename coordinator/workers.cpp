// workers.cpp: Start and Stop Calculating, the worker threads, and the loads and saves of their chunks.
#include "workers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kernel.h"
#include "platform.h"
#include "range.h"
#include "results.h"
#include "state_file.h"

FrontEndHooks front_end{};
CoordinatorKernel coordinator_kernel{cpu_classify, kernel_init, kernel_step, kernel_finish};
WorkerState worker_state{};

void coordinator_reset() {
  range_reset();
  result_counters_reset();
  front_end = FrontEndHooks{};
  coordinator_kernel = CoordinatorKernel{cpu_classify, kernel_init, kernel_step, kernel_finish};
  worker_state.running.store(0);
  worker_state.active_workers.store(0);
  worker_state.retired_workers.store(0);
  worker_state.failed_workers.store(0);
  worker_state.priority_level.store(0);
  worker_state.notice_pending.store(0);
  worker_state.worker_count = 0;
  for (void *&h : worker_state.worker_handles) h = nullptr;
  if (worker_state.coordinator_lock) lock_delete(worker_state.coordinator_lock);
  worker_state.coordinator_lock = nullptr;
  worker_state.start_pause_ms = 1000;
  worker_state.processors = 0;
  kernel.kernel_error.store(0);
  kernel.on_terms_done = nullptr;
}

void coordinator_enter() {
  if (worker_state.coordinator_lock) lock_enter(worker_state.coordinator_lock);
}

void coordinator_leave() {
  if (worker_state.coordinator_lock) lock_leave(worker_state.coordinator_lock);
}

void retire_slot(WorkSlot *slot, RetireReason reason) {
  slot->thread_number = -1;
  if (reason == RetireReason::failure) worker_state.failed_workers.fetch_add(1);
}

static void note(const char *format, int a, int b) {
  if (!front_end.message) return;
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  front_end.message(text);
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

// A crash between a section taking its new chunk and [Main] "cur_pos"
// moving past it leaves "cur_pos" inside that chunk; moving it on keeps the
// chunk from being handed out a second time. Sections 0..sections-1 only:
// the others are not loaded and keep their chunks for a later start.
static void skip_held_chunks(int32_t sections) {
  for (bool moved = true; moved;) {
    moved = false;
    for (int32_t i = 0; i < sections; ++i) {
      char section[16];
      thread_section(i, section, sizeof section);
      uint64_t where = 0, cur_pos = 0, end_pos = 0;
      if (!read_position(section, "where", 0, &where) ||
          !read_position(section, "cur_pos", 0, &cur_pos) ||
          !read_position(section, "end_pos", 0, &end_pos))
        continue;
      if (where == range.where && cur_pos <= range.cur_pos && range.cur_pos < end_pos &&
          end_pos <= range.end_pos) {
        range.cur_pos = end_pos;  // strictly further each time, so this ends
        write_position("Main", "cur_pos", end_pos);
        moved = true;
      }
    }
  }
}

// The volunteer's [Main] "Kernel": one the processor cannot run, or one
// unknown, leaves the processor's own choice and says so in the log.
static void choose_kernel() {
  char name[32];
  profile_get_string("Main", "Kernel", "Auto", name, sizeof name, state_file.ini_path);
  const KernelChoice choice = kernel_choose(name);
  if (choice == KernelChoice::applied || !front_end.message) return;
  char text[160];
  std::snprintf(text, sizeof text,
                choice == KernelChoice::unknown
                    ? "Quarn.ini: Kernel \"%s\" is unknown; the kernel is chosen as for Auto"
                    : "Kernel \"%s\" cannot run on this processor; the kernel is chosen as for Auto",
                name);
  front_end.message(text);
}

bool load_main_state() {
  worker_state.coordinator_lock = lock_create();
  if (!worker_state.coordinator_lock) {
    set_error("Error: cannot create the coordinator lock");
    return false;
  }
  choose_kernel();
  coordinator_kernel.init();
  range.error_flag.store(0);
  range.error_text[0] = '\0';
  kernel.kernel_error.store(0);

  const uint32_t read_failures = profile_read_failures();
  static const char *const keys[4] = {"where", "srt_pos", "cur_pos", "end_pos"};
  static const uint64_t defaults[4] = {100000000, 0, 0, 19999744};
  uint64_t v[4];
  for (int i = 0; i < 4; ++i) {
    if (!read_position("Main", keys[i], defaults[i], &v[i])) {
      set_error("Error: Quarn.ini holds a damaged [Main] %s", keys[i]);
      return false;
    }
  }
  // A file that could not be read gave defaults, not the stored range.
  if (!state_readable(read_failures)) {
    set_error("Error: cannot read Quarn.ini");
    return false;
  }
  range.where = v[0];
  range.srt_pos = v[1];
  range.cur_pos = v[2];
  range.end_pos = v[3];
  range.started = true;
  range.unit_may_remain = true;
  if (range.cur_pos > range.end_pos) {
    if (range.cur_pos == no_chunk_marker) {
      // An import was cut short; it is repeated at the next chunk end.
      range.started = false;
    } else {
      note("Quarn.ini: [Main] cur_pos lay beyond end_pos; the range is taken as used up", 0, 0);
      write_position("Main", "cur_pos", range.end_pos);
    }
    range.cur_pos = range.end_pos;
  } else if (range.cur_pos < range.end_pos) {
    if (const char *fault = range_fault(range.where, range.cur_pos, range.end_pos)) {
      set_error("Error: Quarn.ini holds a range that cannot be evaluated (%s)", fault);
      return false;
    }
  }
  if (range.cur_pos < range.end_pos) skip_held_chunks(worker_state.worker_count);
  range.done_count.store(static_cast<int64_t>(range.cur_pos));

  // The counters follow from the [Thread<n>] sections alone: each worker
  // adds the chunk it loads to a provisional 0. The stored "output0" and
  // "output1" come last among a chunk end's writes, so after a kill they
  // can lag behind the sections they count; they are never read back.
  result_counters.output[0] = -1;
  result_counters.output[1] = -1;
  range.current = read_int("Main", "current", 0);
  if (!state_readable(read_failures)) {
    set_error("Error: cannot read Quarn.ini");
    return false;
  }
  if (range.current != 0 && range.current != 1) {
    set_error("Error: Quarn.ini holds a damaged [Main] current");
    return false;
  }
  return true;
}

// Undoes a Start Calculating that could not get going.
static bool abandon_start() {
  worker_state.running.store(0);
  if (worker_state.coordinator_lock) lock_delete(worker_state.coordinator_lock);
  worker_state.coordinator_lock = nullptr;
  if (front_end.set_menus) front_end.set_menus(false);
  return false;
}

bool start_calculating() {
  if (front_end.set_menus) front_end.set_menus(true);
  worker_state.active_workers.store(0);
  worker_state.retired_workers.store(0);
  worker_state.failed_workers.store(0);
  worker_state.running.store(1);
  coordinator_kernel.classify();
  kernel.on_terms_done = on_terms_done;

  int32_t wanted = worker_state.processors > 0 ? worker_state.processors : processor_count();
  if (wanted < 1) wanted = 1;
  if (wanted > max_workers) {
    note("%d processors: only %d workers are started", wanted, max_workers);
    wanted = max_workers;
  }
  // The sections that will be loaded, for load_main_state's check.
  worker_state.worker_count = wanted;
  if (!load_main_state()) return abandon_start();
  worker_state.worker_count = 0;
  for (int32_t i = 0; i < wanted; ++i) {
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
  if (worker_state.worker_count < wanted)
    note("Only %d of %d worker threads could be started", worker_state.worker_count, wanted);

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
  settle_counters();
  if (front_end.after_stop) front_end.after_stop();
}

// Why a section with nothing left to evaluate is damaged, or null: the line
// its empty chunk ends with still names its "where" and "end_pos", which
// must be a stretch of a position the kernel evaluates, or the all-zero
// no-chunk of a missing section.
static const char *empty_chunk_fault(uint64_t where, uint64_t end_pos) {
  if (where == 0 && end_pos == 0) return nullptr;
  if (end_pos == 0) return where < where_limit ? nullptr : range_fault(where, 0, 1);
  return range_fault(where, 0, end_pos);
}

void worker_load(WorkSlot *slot) {
  CoordinatorGuard guard;
  // 64-bit significand, rounding toward minus infinity; other bits kept.
  x87_set_control_word(static_cast<uint16_t>((x87_get_control_word() & ~0x0F00u) | 0x0700u));

  char section[16];
  thread_section(slot->thread_number, section, sizeof section);
  const uint32_t read_failures = profile_read_failures();
  uint64_t where = 0, cur_pos = 0, end_pos = 0;
  bool readable = read_position(section, "where", 0, &where) &&
                  read_position(section, "cur_pos", 0, &cur_pos) &&
                  read_position(section, "end_pos", 0, &end_pos);
  int32_t outputf = read_int(section, "outputf", 0);
  if (!state_readable(read_failures)) {
    // Defaults in place of the chunk it holds: the section is left as it is.
    set_error("Error: cannot read Quarn.ini");
    retire_slot(slot, RetireReason::failure);
    return;
  }
  const char *fault = nullptr;
  if (!readable)
    fault = "a value is not 16 hexadecimal digits";
  else if (outputf != 0 && outputf != 1)
    fault = "outputf is neither 0 nor 1";
  else if (cur_pos < end_pos)
    fault = range_fault(where, cur_pos, end_pos);
  else if (cur_pos != no_chunk_marker)
    fault = empty_chunk_fault(where, end_pos);
  if (fault) {
    set_error("Error: [%s] of Quarn.ini is damaged (%s)", section, fault);
    retire_slot(slot, RetireReason::failure);
    return;
  }
  if (cur_pos == no_chunk_marker) {
    // The section was being rewritten after its chunk had been reported:
    // it holds no chunk, as a missing one. Its "where" and "end_pos" may be
    // of two different chunks, so neither goes into the empty chunk's line.
    where = cur_pos = end_pos = 0;
  } else if (cur_pos > end_pos) {
    note("Quarn.ini: [Thread%d] cur_pos lay beyond end_pos; its chunk is taken as done",
         slot->thread_number, 0);
    cur_pos = end_pos;
  }

  slot->where = where;
  slot->cur_pos = cur_pos;
  slot->end_pos = end_pos;
  slot->outputf = outputf;
  result_counters.output[outputf] = counter_add_on_load(result_counters.output[outputf]);
  std::memset(slot->sums, 0, sizeof slot->sums);
  slot->srt_pos = cur_pos;
  range.done_count.fetch_sub(static_cast<int64_t>(end_pos - cur_pos));
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
    worker_state.failed_workers.fetch_add(1);
    return;
  }
  char section[16];
  thread_section(slot->thread_number, section, sizeof section);
  if (!write_position(section, "cur_pos", slot->cur_pos)) {
    set_error("Error: cannot write Quarn.ini");
    worker_state.failed_workers.fetch_add(1);
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
