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

// Whether the slot's unit holds the range Quarn.ini has taken already, its
// import complete: the client gives the slot its files again at every start
// (a task restarted after a quit, or a finished one whose end it lost), and
// taken again the unit would be computed from its start once more, every
// line repeated. A state whose import a kill cut short (its "cur_pos" still
// the marker) has not taken the unit yet.
bool unit_taken_already() {
  uint64_t unit[3] = {}, state[4] = {};
  const char *keys[3] = {"where", "srt_pos", "end_pos"};
  for (int32_t i = 0; i < 3; i++) {
    if (!read_position("Main", keys[i], 0, &unit[i], slot_unit_name) ||
        !read_position("Main", keys[i], 0, &state[i], slot_state_name))
      return false;
  }
  if (!read_position("Main", "cur_pos", no_chunk_marker, &state[3], slot_state_name)) return false;
  return unit[0] != 0 && state[3] != no_chunk_marker && unit[0] == state[0] &&
         unit[1] == state[1] && unit[2] == state[2];
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
  if (file_exists(slot_unit_name) && unit_taken_already() && !file_delete(slot_unit_name))
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
