// state_fuzz.cpp: any bytes as Quarn.ini, loaded by the coordinator and two workers; what it accepts must hold a sound range and chunks, a chunk end must write only lines quarn-coord sum takes, and after its writes the file must load again.
#include <cstdint>
#include <cstring>
#include <vector>

#include "chunk_end.h"
#include "fuzz_support.h"
#include "kernel.h"
#include "range.h"
#include "result_line.h"
#include "results.h"
#include "state_file.h"
#include "sum.h"
#include "workers.h"

namespace {

bool start_coordinator() { return fuzz_start_coordinator(2); }

struct Slot {
  alignas(16) unsigned char block[slot_block_bytes];
  WorkSlot *slot = slot_in_block(block);
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool located = locate_state_file_in(fuzz_scratch().c_str(), nullptr);
  fuzz_require(located, "the state file has a place");
  fuzz_clear_scratch();
  fuzz_write_file("Quarn.ini", data, size);
  if (!start_coordinator()) {
    fuzz_require(coordinator.error_text[0] != '\0', "a refused start says why");
    coordinator_reset();
    return 0;
  }
  fuzz_require(range.cur_pos <= range.end_pos, "the next term lies inside the range");
  if (range.cur_pos < range.end_pos)
    fuzz_require(range_fault(range.where, range.cur_pos, range.end_pos) == nullptr,
                 "a range to hand out is one the kernel can evaluate");

  Slot slots[2];
  for (int32_t n = 0; n < 2; ++n) {
    WorkSlot *s = slots[n].slot;
    *s = WorkSlot{};
    s->thread_number = n;
    worker_load(s);
    if (s->thread_number == -1) continue;  // a damaged section, named
    fuzz_require(s->cur_pos <= s->end_pos && (s->outputf == 0 || s->outputf == 1),
                 "a loaded chunk is sound");
    if (s->cur_pos < s->end_pos)
      fuzz_require(range_fault(s->where, s->cur_pos, s->end_pos) == nullptr,
                   "a chunk to evaluate is one the kernel can evaluate");
  }
  // The first sound worker ends its chunk as if evaluated: a line, the
  // next chunk or an import, and their writes.
  for (Slot &sl : slots) {
    if (sl.slot->thread_number == -1) continue;
    sl.slot->cur_pos = sl.slot->end_pos;
    on_terms_done(sl.slot);
    break;
  }
  // Every line written is one quarn-coord sum takes: the empty chunk of a
  // section cut off while being rewritten included.
  for (const char *name : {"output0.txt", "output1.txt"}) {
    std::vector<SourceLine> lines;
    std::vector<BadLine> bad;
    read_result_file(name, 0, &lines, &bad);
    for (const BadLine &b : bad) fuzz_require(b.number == 0, "every line written is whole");
    for (const SourceLine &l : lines)
      fuzz_require(is_startup_line(l.line) || line_problem(l.line) == nullptr,
                   "every line written is one quarn-coord sum takes");
  }
  fuzz_require(start_coordinator(), "what the client wrote over a file it accepted loads again");
  coordinator_reset();
  return 0;
}
