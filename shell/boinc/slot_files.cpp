// slot_files.cpp: the logical files of a BOINC slot, made plain for the coordinator and handed back at the end.
#include "slot_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boinc_api.h"
#include "platform.h"
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
