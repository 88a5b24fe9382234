// slot_files.cpp: the logical files of a BOINC slot, made plain for the coordinator and handed back at the end.
#include "slot_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boinc_api.h"
#include "platform.h"
#include "range.h"
#include "results.h"
#include "state_file.h"

namespace {

// A used-up range: the first chunk end finds nothing left and imports the
// unit, which then goes to output1.txt.
constexpr char used_up_state[] =
    "[Main]\r\nwhere=0000000000000000\r\nsrt_pos=0000000000000000\r\n"
    "cur_pos=0000000000000000\r\nend_pos=0000000000000000\r\n";

bool say(char *error, uint32_t size, const char *what, const char *name) {
  std::snprintf(error, size, "Error: cannot %s %s", what, name);
  return false;
}

// Copies the file at `from` over `to` in one replacement.
bool copy_file(const char *from, const char *to, char *error, uint32_t size) {
  char *data = nullptr;
  uint32_t length = 0;
  bool missing = false;
  if (!file_read_all(from, &data, &length, &missing)) return say(error, size, "read", from);
  const bool written = file_replace(to, data, length);
  std::free(data);
  return written || say(error, size, "write", to);
}

// Whether `unit` holds the range the state file has taken already, its
// import complete ("cur_pos" is not the marker of an import cut short).
bool unit_taken_already(const char *unit) {
  uint64_t where = 0, srt = 0, end = 0, taken_where = 0, taken_srt = 0, taken_end = 0, cur = 0;
  StateReads reads;
  const bool read = read_position("Main", "Where", 0, &where, unit, &reads) &&
                    read_position("Main", "srt_pos", 0, &srt, unit, &reads) &&
                    read_position("Main", "end_pos", 0, &end, unit, &reads) &&
                    read_position("Main", "where", 0, &taken_where, slot_state_name, &reads) &&
                    read_position("Main", "srt_pos", 0, &taken_srt, slot_state_name, &reads) &&
                    read_position("Main", "end_pos", 0, &taken_end, slot_state_name, &reads) &&
                    read_position("Main", "cur_pos", 0, &cur, slot_state_name, &reads);
  return read && state_readable(reads, slot_state_name) && where != 0 && where == taken_where && srt == taken_srt &&
         end == taken_end && cur != no_chunk_marker;
}

}  // namespace

const char *slot_link_target(const char *name, char *out, uint32_t size) {
  if (!file_exists(name)) return nullptr;
  if (boinc_resolve_filename(name, out, int(size)) != 0) return nullptr;
  return std::strcmp(out, name) == 0 ? nullptr : out;
}

bool slot_files_stage(char *error, uint32_t size) {
  char target[path_capacity];
  for (const char *name : {slot_unit_name, slot_state_name}) {
    if (slot_link_target(name, target, sizeof target) &&
        !copy_file(target, name, error, size))
      return false;
  }
  if (!file_exists(slot_state_name) &&
      !file_replace(slot_state_name, used_up_state, sizeof used_up_state - 1))
    return say(error, size, "write", slot_state_name);
  // A slot computes one unit. The client copies it into the slot again at
  // every start of the task, so after a quit or a kill the unit the state
  // file has taken already is back: it is the same unit, not one sent
  // again, and is not imported a second time.
  if (file_exists(slot_unit_name) && unit_taken_already(slot_unit_name) && !file_delete(slot_unit_name))
    return say(error, size, "delete", slot_unit_name);

  for (int32_t f = 0; f < 2; f++) {
    char name[16];
    char aside[32];
    result_file_name(f, name, sizeof name);
    std::snprintf(aside, sizeof aside, "%s.link", name);
    if (slot_link_target(name, target, sizeof target) && !file_rename(name, aside))
      return say(error, size, "move aside the link", name);
  }
  return true;
}

bool slot_files_deliver(char *error, uint32_t size) {
  for (int32_t f = 0; f < 2; f++) {
    char name[16];
    char aside[32];
    char target[path_capacity];
    result_file_name(f, name, sizeof name);
    std::snprintf(aside, sizeof aside, "%s.link", name);
    if (!file_exists(name) && !file_replace(name, "", 0)) return say(error, size, "write", name);
    if (slot_link_target(aside, target, sizeof target) && !copy_file(name, target, error, size))
      return false;
  }
  return true;
}
