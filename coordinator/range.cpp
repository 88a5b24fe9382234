// range.cpp: the shared range read from [Main], chunk ends, range checks and the loading of a worker's chunk.
#include "range.h"

#include <cstdio>
#include <cstring>

#include "core.h"
#include "kernel.h"
#include "platform.h"
#include "results.h"
#include "state_file.h"

CoordinatorRange range{};

void range_reset() {
  range.where = builtin_where;
  range.srt_pos = builtin_srt_pos;
  range.cur_pos = builtin_srt_pos;
  range.end_pos = builtin_end_pos;
  range.current = 0;
  range.started = true;
  range.unit_name[0] = '\0';
  range.done_count.store(0);
}

uint64_t next_chunk_end(uint64_t cur_pos, uint64_t end_pos) {
  uint64_t next = (cur_pos & ~(chunk_quantum - 1)) + chunk_quantum;
  // A wrap past 2^64 can only mean the range ends first.
  if (next < cur_pos || next > end_pos) next = end_pos;
  return next;
}

const char *range_fault(uint64_t where, uint64_t srt_pos, uint64_t end_pos) {
  if (where == 0) return "Where is missing or 0";
  if (where >= where_limit) return "Where lies beyond the positions the kernel evaluates";
  if (srt_pos >= end_pos) return "srt_pos is not below end_pos";
  if (end_pos > head_end(where)) return "end_pos lies beyond the head of the series at this Where";
  return nullptr;
}

// A crash between a section taking its new chunk and [Main] "cur_pos"
// moving past it leaves "cur_pos" inside that chunk; moving it on keeps the
// chunk from being handed out a second time. Sections 0..sections-1 only:
// the others are not loaded and keep their chunks for a later start.
static void skip_held_chunks(int32_t sections, StateReads *reads) {
  for (bool moved = true; moved;) {
    moved = false;
    for (int32_t i = 0; i < sections; ++i) {
      char section[16];
      thread_section(i, section, sizeof section);
      uint64_t where = 0, cur_pos = 0, end_pos = 0;
      if (!read_position(section, "where", 0, &where, nullptr, reads) ||
          !read_position(section, "cur_pos", 0, &cur_pos, nullptr, reads) ||
          !read_position(section, "end_pos", 0, &end_pos, nullptr, reads))
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

bool load_main_state(int32_t sections) {
  if (!coordinator_lock_open()) {
    set_error("Error: cannot create the coordinator lock");
    return false;
  }
  choose_kernel();
  coordinator_kernel.init();
  clear_errors();
  coordinator.computing_slots.store(0);

  StateReads reads;
  static const char *const keys[4] = {"where", "srt_pos", "cur_pos", "end_pos"};
  static const uint64_t defaults[4] = {builtin_where, builtin_srt_pos, builtin_srt_pos,
                                       builtin_end_pos};
  uint64_t v[4];
  for (int i = 0; i < 4; ++i) {
    if (!read_position("Main", keys[i], defaults[i], &v[i], nullptr, &reads)) {
      set_error("Error: Quarn.ini holds a damaged [Main] %s", keys[i]);
      return false;
    }
  }
  // A file that could not be read gave defaults, not the stored range.
  if (!state_readable(reads)) {
    set_error("Error: cannot read Quarn.ini");
    return false;
  }
  range.where = v[0];
  range.srt_pos = v[1];
  range.cur_pos = v[2];
  range.end_pos = v[3];
  range.started = true;
  profile_get_string("Main", "unit", "", range.unit_name, sizeof range.unit_name,
                     state_file.ini_path);
  if (range.cur_pos > range.end_pos) {
    if (range.cur_pos == no_chunk_marker) {
      // An import was cut short; it is repeated at the next chunk end.
      range.started = false;
    } else {
      coordinator_note("Quarn.ini: [Main] cur_pos lay beyond end_pos; the range is taken as used up", 0, 0);
      write_position("Main", "cur_pos", range.end_pos);
    }
    range.cur_pos = range.end_pos;
  } else if (range.cur_pos < range.end_pos) {
    if (const char *fault = range_fault(range.where, range.cur_pos, range.end_pos)) {
      set_error("Error: Quarn.ini holds a range that cannot be evaluated (%s)", fault);
      return false;
    }
  }
  if (range.cur_pos < range.end_pos) skip_held_chunks(sections, &reads);
  range.done_count.store(static_cast<int64_t>(range.cur_pos));

  // The counters follow from the [Thread<n>] sections alone: each worker
  // adds the chunk it loads to a provisional 0. The stored "output0" and
  // "output1" come last among a chunk end's writes, so after a kill they
  // can lag behind the sections they count; they are never read back.
  result_counters.output[0] = -1;
  result_counters.output[1] = -1;
  result_counters.sections_to_load = sections > 0 ? sections : 0;
  range.current = read_int("Main", "current", 0, nullptr, &reads);
  if (!state_readable(reads)) {
    set_error("Error: cannot read Quarn.ini");
    return false;
  }
  if (range.current != 0 && range.current != 1) {
    set_error("Error: Quarn.ini holds a damaged [Main] current");
    return false;
  }
  return true;
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

void load_slot_chunk(WorkSlot *slot) {
  coordinator.computing_slots.fetch_add(1);
  // Counted as loaded even when refused below: a damaged section is never
  // counted, and the others' counters may settle without it.
  if (result_counters.sections_to_load > 0) --result_counters.sections_to_load;
  char section[16];
  thread_section(slot->thread_number, section, sizeof section);
  StateReads reads;
  uint64_t where = 0, cur_pos = 0, end_pos = 0;
  bool readable = read_position(section, "where", 0, &where, nullptr, &reads) &&
                  read_position(section, "cur_pos", 0, &cur_pos, nullptr, &reads) &&
                  read_position(section, "end_pos", 0, &end_pos, nullptr, &reads);
  int32_t outputf = read_int(section, "outputf", 0, nullptr, &reads);
  if (!state_readable(reads)) {
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
    coordinator_note("Quarn.ini: [Thread%d] cur_pos lay beyond end_pos; its chunk is taken as done",
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
