// import.cpp: the import of the next "Range*.ini" work unit, refused units set aside.
#include "import.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core.h"
#include "platform.h"
#include "range.h"
#include "state_file.h"

// Writes the new range to [Main] with the unit's file name. "cur_pos"
// holds the marker until the other keys are in place, so a crash leaves a
// used-up range (the unit is imported again) and never a range made of two
// units' halves.
static bool write_range(uint64_t where, uint64_t srt_pos, uint64_t end_pos, int32_t current,
                        const char *name) {
  return write_position("Main", "cur_pos", no_chunk_marker) &&
         write_position("Main", "where", where) && write_position("Main", "srt_pos", srt_pos) &&
         write_position("Main", "end_pos", end_pos) && write_int("Main", "current", current) &&
         profile_write_string("Main", "unit", name, state_file.ini_path) &&
         write_position("Main", "cur_pos", srt_pos);
}

// The unit's file is gone: "unit" is emptied. Should that write fail, the
// name stays on file, harmless unless a unit of that name and range comes
// again before the next import empties it.
static void forget_unit() {
  range.unit_name[0] = '\0';
  profile_write_string("Main", "unit", "", state_file.ini_path);
}

// Whether a worker has failed this run. Its error text then stands: what
// stopped it, not a set-aside unit or the lack of work found later, is what
// the user must learn of.
static bool failure_stands() { return coordinator.failed_workers.load() != 0; }

// The three values of the work unit at `path`; false when one is not 16
// hexadecimal digits. A missing key (or file) reads as 0.
static bool read_unit(const char *path, uint64_t *where, uint64_t *srt_pos, uint64_t *end_pos,
                      StateReads *reads = nullptr) {
  return read_position("Main", "Where", 0, where, path, reads) &&
         read_position("Main", "srt_pos", 0, srt_pos, path, reads) &&
         read_position("Main", "end_pos", 0, end_pos, path, reads);
}

// Deletes the unit left behind by a kill between the state writes of the
// last import and the deletion of its file: the file of the remembered name,
// holding the range taken. Anything else of that name is a new unit and
// stays. False, with the error set, when the leftover cannot be deleted.
static bool drop_leftover_unit(const char *dir) {
  if (!range.unit_name[0] || !range.started) return true;
  char path[path_capacity];
  uint64_t where = 0, srt_pos = 0, end_pos = 0;
  if (compose_path(path, sizeof path, dir, range.unit_name) && file_exists(path) &&
      read_unit(path, &where, &srt_pos, &end_pos) && where == range.where &&
      srt_pos == range.srt_pos && end_pos == range.end_pos) {
    if (!file_delete(path)) {
      set_error("Error: cannot delete %s", range.unit_name);
      return false;
    }
    if (front_end.message) {
      char text[error_text_size];
      if (std::snprintf(text, sizeof text, "%s was taken already and is deleted",
                        range.unit_name) > 0)
        front_end.message(text);
    }
  }
  forget_unit();
  return true;
}

enum class SetAside { refused, gone, failed };

// A unit the kernel cannot evaluate, renamed to "<name>.bad" for the user
// to inspect, out of the way of the next unit, with an error text also
// handed to front_end.message. Its reads give the defaults when it cannot
// be read or is gone, so it was never judged: a unit that another copy of
// the client took since the search is gone (passed over), one that cannot
// be read is kept (failed).
static SetAside set_aside(const char *path, const char *bad_path, const char *name,
                          const char *fault) {
  char *data = nullptr;
  uint32_t size = 0;
  bool missing = false;
  const bool readable = file_read_all(path, &data, &size, &missing);
  std::free(data);
  if (!readable && missing) return SetAside::gone;
  if (!readable) {
    set_error("Error: cannot read %s", name);
    return SetAside::failed;
  }
  if (!file_rename(path, bad_path)) {
    if (!file_exists(path)) return SetAside::gone;
    set_error("Error: %s is not a valid work unit (%s) and cannot be renamed", name, fault);
    return SetAside::failed;
  }
  char text[error_text_size];
  if (std::snprintf(text, sizeof text, "Error: %s is not a valid work unit (%s); renamed to %s.bad",
                    name, fault, name) < 0)
    text[0] = '\0';
  if (!failure_stands()) set_error("%s", text);
  // Shown at once: a later error text may replace it before a report.
  if (front_end.message) front_end.message(text);
  return SetAside::refused;
}

ImportResult import_work_unit() {
  bool refused_one = false;
  {
    char dir[path_capacity];
    if (current_directory(dir, sizeof dir) && !drop_leftover_unit(dir)) return ImportResult::failed;
  }
  // Every pass removes a file or returns, so the search ends.
  for (;;) {
    char dir[path_capacity];
    char name[path_capacity];
    if (!current_directory(dir, sizeof dir) ||
        !file_find_first(dir, "Range*.ini", name, sizeof name)) {
      if (!refused_one && !failure_stands()) {
        // While another worker computes, nothing has gone wrong: that one
        // finishes the range, and the last to find no work says so.
        if (coordinator.computing_slots.load() > 1)
          coordinator_note("No work unit found: a worker ends while the others finish the range",
                           0, 0);
        else
          set_error("Error: Range.ini not found");
      }
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
      switch (set_aside(path, bad_path, name, fault)) {
        case SetAside::refused: refused_one = true; continue;
        case SetAside::gone: continue;
        case SetAside::failed: return ImportResult::failed;
      }
    }

    // A name too long to remember is not written: after a kill before its
    // deletion that unit is taken again (its stretches repeated, not lost).
    char remembered[unit_name_size];
    if (std::snprintf(remembered, sizeof remembered, "%s", name) >= int(sizeof remembered))
      remembered[0] = '\0';
    const int32_t current = 1 - range.current;
    if (!write_range(where, srt_pos, end_pos, current, remembered)) {
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
    std::memcpy(range.unit_name, remembered, sizeof remembered);
    // A deletion that fails leaves the name on file: the next import
    // deletes the file then, or takes it for a leftover at the next start.
    if (file_delete(path)) forget_unit();
    return ImportResult::imported;
  }
}
