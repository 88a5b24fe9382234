/*
 * kernel_lines.cpp: evaluates a fixed spread of chunks in both kernel
 * variants and prints their result lines, so that the native and the Win32
 * builds of the kernel can be compared line for line.
 */
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "kernel.h"
#include "result_line.h"
#include "platform.h"

namespace {

// One chunk [srt, end) at digit position where; end 0 stands for head_end(where).
struct Chunk {
  uint64_t where;
  uint64_t srt;
  uint64_t end;
};

constexpr uint64_t p2(int n) { return uint64_t(1) << n; }

// The last terms the kernel evaluates (exponents down to 20 or so) are the
// ones where the residue arithmetic is most likely to go wrong; small chunks
// keep the whole run to a few seconds even under Wine.
constexpr Chunk chunks[] = {
    {10, 0, 0},                   // the whole head of where = 10: one term
    {100, 0, 16},                 // exactly one full block
    {100, 0, 8},                  // the two halves of it
    {100, 8, 16},
    {100, 3, 17},                 // odd start and odd end
    {100, 5, 6},                  // one odd term
    {100, 6, 7},                  // one even term
    {1000, 0, 0},                 // the whole head, 199 terms, odd end
    {1005, 100, 0},               // to the head's end, even end
    {65537, 13100, 0},            // the last seven terms of the head
    {1000003, 4097, 8193},        // blocks and a single trailing term
    {123456789, 1000, 3001},      // two thousand terms
    {p2(32) + 1, p2(28) - 5, p2(28) + 7},  // across a multiple of 2^28
    {p2(32) - 1, 0, 33},
    {p2(40), 12345, 12345 + 4097},
    {p2(40) + 3, 219902325550, 0},  // the head's end at a large position
    {p2(48) + 11, p2(40) + 1, p2(40) + 2},
    {p2(50), p2(45) + 1, p2(45) + 1000},
    {p2(50), 225179981368500, 0},  // head_end(2^50) is 225179981368524
    {p2(50) - 1, p2(46), p2(46) + 1},
};

// No coordinator: the chunk is the only work, so there is nothing to do
// between blocks.
void no_terms_done(WorkSlot *) {}

// Runs one chunk to its end and prints its result line. False if the kernel
// flagged an error or stopped making progress.
bool run_chunk(WorkSlot *slot, const Chunk &c) {
  std::memset(slot, 0, sizeof(WorkSlot));
  uint64_t end = c.end != 0 ? c.end : head_end(c.where);
  slot->thread_number = 1;
  slot->where = c.where;
  slot->srt_pos = c.srt;
  slot->cur_pos = c.srt;
  slot->end_pos = end;
  // A block holds at least one term, so a sound kernel needs no more steps
  // than the chunk has terms; more would mean it loops without progress.
  uint64_t steps_left = end - c.srt + 1;
  while (slot->cur_pos != slot->end_pos) {
    if (steps_left-- == 0) {
      std::fprintf(stderr, "kernel_lines: no progress in chunk at where %llu [%llu, %llu)\n",
                   (unsigned long long)c.where, (unsigned long long)c.srt,
                   (unsigned long long)end);
      return false;
    }
    kernel_step(slot);
  }
  if (kernel.kernel_error.load() != 0) {
    std::fprintf(stderr, "kernel_lines: kernel_error set by chunk at where %llu [%llu, %llu)\n",
                 (unsigned long long)c.where, (unsigned long long)c.srt,
                 (unsigned long long)end);
    return false;
  }
  kernel_finish(slot);
  char line[96];
  format_result_line(slot_result_line(slot), line);
  std::printf("%s\n", line);
  return true;
}

}  // namespace

int main() {
  alignas(16) static unsigned char block[slot_block_bytes];
  WorkSlot *slot = slot_in_block(block);
  kernel.on_terms_done = no_terms_done;
  x87_enter_kernel_mode();
  bool ok = true;
  for (Variant v : {Variant::generic, Variant::pentium}) {
    kernel.forced_variant = int(v);
    kernel_init();
    for (const Chunk &c : chunks) ok = run_chunk(slot, c) && ok;
  }
  return ok && std::fflush(stdout) == 0 ? 0 : 1;
}
