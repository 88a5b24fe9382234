/*
 * chunk_eval.cpp: one chunk evaluated in the calling thread with a
 * callback that only lets the kernel run.
 */
#include "chunk_eval.h"

#include <cstdio>
#include <cstring>

#include "platform.h"

namespace {
void let_run(WorkSlot *) {}
}  // namespace

void prepare_kernel() {
  cpu_classify();
  // A tier that failed the start-up check is off; say so, as the client does.
  if (kernel.fast_tiers_failed.load() != 0) std::fprintf(stderr, "quarn-coord: %s\n", kernel.check_text);
  int saved = kernel.forced_variant;
  kernel.forced_variant = -1;
  kernel_init();  // the variant the dispatch rule picks, whichever that is
  kernel.forced_variant = saved;
  generic::kernel_init();
  pentium::kernel_init();
}

const char *chunk_problem(uint64_t where, uint64_t srt, uint64_t end) {
  if (where == 0) return "the digit position must be at least 1";
  if (where >= where_limit) return "the digit position is beyond what the kernel evaluates exactly";
  if (srt > end) return "the chunk's start lies beyond its end";
  if (end > head_end(where)) return "the chunk reaches past the head of the series";
  return nullptr;
}

ChunkResult evaluate_chunk(uint64_t where, uint64_t srt, uint64_t end, int variant) {
  ChunkResult res{};
  alignas(16) unsigned char block[slot_block_bytes];
  std::memset(block, 0, sizeof block);
  WorkSlot *slot = slot_in_block(block);
  slot->where = where;
  slot->srt_pos = slot->cur_pos = srt;
  slot->end_pos = end;

  int saved_variant = kernel.forced_variant;
  TermsDoneFn saved_callback = kernel.on_terms_done;
  uint16_t saved_cw = x87_get_control_word();
  kernel.forced_variant = variant;
  kernel.on_terms_done = let_run;
  kernel.kernel_error.store(0);
  x87_set_control_word(uint16_t((saved_cw & ~0xF00) | 0x700));
  while (slot->cur_pos < slot->end_pos) kernel_step(slot);
  kernel_finish(slot);
  x87_set_control_word(saved_cw);
  kernel.forced_variant = saved_variant;
  kernel.on_terms_done = saved_callback;

  res.ok = kernel.kernel_error.load() == 0;
  slot_limbs(slot, res.limbs);
  format_result_line(slot, res.line, sizeof res.line);
  return res;
}
