// range.cpp: chunk allocation, the kernel's callback, chunk ends and work-unit import.
#include "range.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kernel.h"
#include "platform.h"
#include "results.h"
#include "state_file.h"
#include "workers.h"

CoordinatorRange range{};

void range_reset() {
  range.where = 100000000;
  range.srt_pos = 0;
  range.cur_pos = 0;
  range.end_pos = 19999744;
  range.current = 0;
  range.started = true;
  range.unit_may_remain = true;
  range.done_count.store(0);
  range.error_flag.store(0);
  range.error_text[0] = '\0';
}

void set_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(range.error_text, sizeof range.error_text, format, args);
  va_end(args);
  range.error_flag.store(1);
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

void on_terms_done(WorkSlot *slot) {
  CoordinatorGuard guard;
  if (kernel.kernel_error.load() != 0) {
    set_error("Error: CPU appears to be overheating.");
    retire_slot(slot, RetireReason::failure);
  }
  range.done_count.fetch_add(16);
  if (slot->thread_number == -1) return;
  if (slot->cur_pos == slot->end_pos) {
    finish_chunk(slot);
  } else if (slot->cur_pos > slot->end_pos) {
    // Only a faulty step gets here; the chunk's sum is not to be trusted,
    // and an equality test would never end it.
    set_error("Error: CPU appears to be overheating.");
    retire_slot(slot, RetireReason::failure);
  }
}

// Rewrites the slot's section for its new chunk. A reader of the file after
// a crash at any point sees either the old chunk, no chunk or the new one:
// "cur_pos" holds the marker while "where", "end_pos" and "outputf" change.
static bool write_thread_chunk(const WorkSlot *slot, const char *section) {
  return write_position(section, "cur_pos", no_chunk_marker) &&
         write_position(section, "where", slot->where) &&
         write_position(section, "end_pos", slot->end_pos) &&
         write_int(section, "outputf", slot->outputf) &&
         write_position(section, "cur_pos", slot->cur_pos);
}

void finish_chunk(WorkSlot *slot) {
  coordinator_kernel.finish(slot);
  if (!append_result_line(slot)) {
    // The stored position stays at the stretch's start, so the stretch is
    // evaluated again at the next start instead of being lost.
    char name[16];
    result_file_name(slot->outputf, name, sizeof name);
    set_error("Error: cannot write %s", name);
    retire_slot(slot, RetireReason::failure);
    return;
  }
  std::memset(slot->sums, 0, sizeof slot->sums);

  char section[16];
  thread_section(slot->thread_number, section, sizeof section);
  if (range.cur_pos >= range.end_pos) {
    ImportResult r = import_work_unit();
    if (r != ImportResult::imported) {
      write_position(section, "cur_pos", slot->cur_pos);
      retire_slot(slot, r == ImportResult::none_found ? RetireReason::no_work
                                                      : RetireReason::failure);
      return;
    }
  }

  int32_t *counts = result_counters.output;
  counts[slot->outputf] = counter_down(counts[slot->outputf]);
  counts[range.current] = counter_up(counts[range.current]);

  const uint64_t start = range.cur_pos;
  const uint64_t stop = next_chunk_end(start, range.end_pos);
  range.cur_pos = stop;
  slot->outputf = range.current;
  slot->where = range.where;
  slot->srt_pos = start;
  slot->cur_pos = start;
  slot->end_pos = stop;

  // The section takes the chunk before [Main] "cur_pos" moves past it: a
  // crash in between hands the chunk out twice rather than never.
  if (!write_thread_chunk(slot, section) || !write_position("Main", "cur_pos", stop)) {
    // Give the chunk back so that no later [Main] "cur_pos" skips it.
    range.cur_pos = start;
    counts[range.current] = counter_down(counts[range.current]);
    set_error("Error: cannot write Quarn.ini");
    retire_slot(slot, RetireReason::failure);
    return;
  }
  // The counters are written whole at every chunk end and settled at Stop,
  // so a failure here corrects itself.
  write_int("Main", "output0", counts[0]);
  write_int("Main", "output1", counts[1]);
}

// Writes the new range to [Main]. "cur_pos" holds the marker until the
// other keys are in place, so a crash leaves a used-up range (the unit is
// imported again) and never a range made of two units' halves.
static bool write_range(uint64_t where, uint64_t srt_pos, uint64_t end_pos, int32_t current) {
  return write_position("Main", "cur_pos", no_chunk_marker) &&
         write_position("Main", "where", where) && write_position("Main", "srt_pos", srt_pos) &&
         write_position("Main", "end_pos", end_pos) && write_int("Main", "current", current) &&
         write_position("Main", "cur_pos", srt_pos);
}

// Whether a worker has failed this run. Its error text then stands: what
// stopped it, not a set-aside unit or the lack of work found later, is what
// the user must learn of.
static bool failure_stands() { return worker_state.failed_workers.load() != 0; }

// The three values of the work unit at `path`; false when one is not 16
// hexadecimal digits. A missing key (or file) reads as 0.
static bool read_unit(const char *path, uint64_t *where, uint64_t *srt_pos, uint64_t *end_pos,
                      StateReads *reads = nullptr) {
  return read_position("Main", "Where", 0, where, path, reads) &&
         read_position("Main", "srt_pos", 0, srt_pos, path, reads) &&
         read_position("Main", "end_pos", 0, end_pos, path, reads);
}

// Whether a unit holds the range imported last, its import complete.
static bool is_range_taken(uint64_t where, uint64_t srt_pos, uint64_t end_pos) {
  return range.started && where != 0 && where == range.where && srt_pos == range.srt_pos &&
         end_pos == range.end_pos;
}

// Deletes the units after `name` that hold the range imported last: a crash
// between the state writes of its import and the deletion left it behind,
// and it must not be taken again once other units come before it. One that
// cannot be read or deleted is left as it is (taken again, its stretches
// are then repeated, never lost).
static void drop_units_taken(const char *dir, const char *name) {
  if (!range.started || !range.unit_may_remain) return;
  range.unit_may_remain = false;
  char after[path_capacity];
  char next[path_capacity];
  std::snprintf(after, sizeof after, "%s", name);
  while (file_find_after(dir, "Range*.ini", after, next, sizeof next)) {
    char path[path_capacity];
    uint64_t where = 0, srt_pos = 0, end_pos = 0;
    if (compose_path(path, sizeof path, dir, next) && read_unit(path, &where, &srt_pos, &end_pos) &&
        is_range_taken(where, srt_pos, end_pos))
      file_delete(path);
    std::memcpy(after, next, sizeof after);
  }
}

ImportResult import_work_unit() {
  bool refused_one = false;
  // Every pass removes a file or returns, so the search ends.
  for (;;) {
    char dir[path_capacity];
    char name[path_capacity];
    if (!current_directory(dir, sizeof dir) ||
        !file_find_first(dir, "Range*.ini", name, sizeof name)) {
      if (!refused_one && !failure_stands()) set_error("Error: Range.ini not found");
      return ImportResult::none_found;
    }
    char path[path_capacity];
    char bad_path[path_capacity];
    if (!compose_path(path, sizeof path, dir, name) ||
        std::snprintf(bad_path, sizeof bad_path, "%s.bad", path) >= int(sizeof bad_path)) {
      set_error("Error: the path of %s is too long", name);
      return ImportResult::failed;
    }

    StateReads reads;
    uint64_t where = 0, srt_pos = 0, end_pos = 0;
    const char *fault = nullptr;
    if (!read_unit(path, &where, &srt_pos, &end_pos, &reads))
      fault = "a value is not 16 hexadecimal digits";
    else
      fault = range_fault(where, srt_pos, end_pos);
    // A read that failed for a moment (the file held by another program)
    // gave a default in place of a stored value: the unit is kept unjudged.
    if (reads.unreadable && file_exists(path)) {
      set_error("Error: cannot read %s", name);
      return ImportResult::failed;
    }
    if (fault) {
      // Its reads give the defaults when it cannot be read or is gone, so
      // it was never judged: a unit that another copy of the client took
      // since the search is looked past, one that cannot be read is kept.
      char *data = nullptr;
      uint32_t size = 0;
      bool missing = false;
      const bool readable = file_read_all(path, &data, &size, &missing);
      std::free(data);
      if (!readable && missing) continue;
      if (!readable) {
        set_error("Error: cannot read %s", name);
        return ImportResult::failed;
      }
      // Kept for the user to inspect, out of the way of the next unit.
      if (!file_rename(path, bad_path)) {
        if (!file_exists(path)) continue;
        set_error("Error: %s is not a valid work unit (%s) and cannot be renamed", name, fault);
        return ImportResult::failed;
      }
      char text[error_text_size];
      if (std::snprintf(text, sizeof text, "Error: %s is not a valid work unit (%s); renamed to %s.bad",
                        name, fault, name) < 0)
        text[0] = '\0';
      if (!failure_stands()) set_error("%s", text);
      // Shown at once: a later error text may replace it before a report.
      if (front_end.message) front_end.message(text);
      refused_one = true;
      continue;
    }

    if (is_range_taken(where, srt_pos, end_pos)) {
      // Taken already: a crash between the state writes and the deletion
      // left it behind.
      if (!file_delete(path)) {
        set_error("Error: cannot delete %s", name);
        return ImportResult::failed;
      }
      continue;
    }

    drop_units_taken(dir, name);
    const int32_t current = 1 - range.current;
    if (!write_range(where, srt_pos, end_pos, current)) {
      set_error("Error: cannot write Quarn.ini");
      return ImportResult::failed;
    }
    // The unfinished rest of the old range counts against the new one.
    range.done_count.fetch_add(static_cast<int64_t>(srt_pos - range.end_pos));
    range.where = where;
    range.srt_pos = srt_pos;
    range.cur_pos = srt_pos;
    range.end_pos = end_pos;
    range.current = current;
    range.started = true;
    range.unit_may_remain = !file_delete(path);
    return ImportResult::imported;
  }
}
