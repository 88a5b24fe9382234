// chunk_end.cpp: the kernel's callback, and a chunk's end with its result line and the next chunk.
#include "chunk_end.h"

#include <cstring>

#include "core.h"
#include "import.h"
#include "kernel.h"
#include "range.h"
#include "results.h"
#include "state_file.h"

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
