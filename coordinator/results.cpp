// results.cpp: result lines and the result files' chunk counters.
#include "results.h"

#include <cstdio>

#include "kernel.h"
#include "result_line.h"
#include "platform.h"
#include "state_file.h"

ResultCounters result_counters{{-1, -1}, 0};

void result_counters_reset() {
  result_counters.output[0] = -1;
  result_counters.output[1] = -1;
  result_counters.sections_to_load = 0;
}

void result_file_name(int32_t f, char *out, uint32_t size) {
  std::snprintf(out, size, "output%d.txt", static_cast<int>(f));
}

bool result_file_exists(int32_t f) {
  char name[16];
  result_file_name(f, name, sizeof name);
  return file_exists(name);
}

bool append_result_line(const WorkSlot *slot) {
  char line[96];
  format_result_line(slot_result_line(slot), line);
  char name[16];
  result_file_name(slot->outputf, name, sizeof name);
  return file_append_line(name, line);
}

void settle_counters() {
  static const char *const keys[2] = {"output0", "output1"};
  if (result_counters.sections_to_load > 0) return;
  for (int f = 0; f < 2; ++f) {
    int32_t v = result_counters.output[f];
    if (v < 0) {
      result_counters.output[f] = counter_settled(v);
      write_int("Main", keys[f], result_counters.output[f]);
    }
  }
}
