// import.cpp: the import of the next "Range*.ini" work unit, refused units set aside.
#include "import.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core.h"
#include "platform.h"
#include "range.h"
#include "state_file.h"

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
static bool failure_stands() { return coordinator.failed_workers.load() != 0; }

// The three values of the work unit at `path`; false when one is not 16
// hexadecimal digits. A missing key (or file) reads as 0.
static bool read_unit(const char *path, uint64_t *where, uint64_t *srt_pos, uint64_t *end_pos) {
  return read_position("Main", "Where", 0, where, path) &&
         read_position("Main", "srt_pos", 0, srt_pos, path) &&
         read_position("Main", "end_pos", 0, end_pos, path);
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

    const uint32_t read_failures = profile_read_failures();
    uint64_t where = 0, srt_pos = 0, end_pos = 0;
    const char *fault = nullptr;
    if (!read_unit(path, &where, &srt_pos, &end_pos))
      fault = "a value is not 16 hexadecimal digits";
    else
      fault = range_fault(where, srt_pos, end_pos);
    // A read that failed for a moment (the file held by another program)
    // gave a default in place of a stored value: the unit is kept unjudged.
    if (profile_read_failures() != read_failures && file_exists(path)) {
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
