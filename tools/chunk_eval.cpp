/*
 * chunk_eval.cpp: one chunk evaluated in the calling thread with a
 * callback that only lets the kernel run; quarn-coord chunk.
 */
#include "chunk_eval.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "args.h"
#include "platform.h"
#include "result_line.h"

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
  x87_set_control_word(x87_kernel_mode_of(saved_cw));
  while (slot->cur_pos < slot->end_pos) kernel_step(slot);
  kernel_finish(slot);
  x87_set_control_word(saved_cw);
  kernel.forced_variant = saved_variant;
  kernel.on_terms_done = saved_callback;

  res.ok = kernel.kernel_error.load() == 0;
  ResultLine line = slot_result_line(slot);
  std::memcpy(res.limbs, line.limbs, sizeof res.limbs);
  format_result_line(line, res.line);
  return res;
}

// Evaluates one chunk and prints the line a worker would write for it.
int chunk_main(int argc, char **argv) {
  CommandOption options[] = {
      {"--variant", OptionKind::text, "V: generic, pentium or fast (by default the one dispatch chooses)", false,
       0, nullptr},
  };
  CommandSyntax syntax = {"chunk", "chunk WHERE SRT END [--variant generic|pentium|fast]",
                      "Prints the result line a worker writes for terms [SRT, END) at position WHERE.", options,
                      1, 3, 3};
  std::vector<const char *> pos;
  const ParseOutcome parsed = parse_command(&syntax, argc, argv, &pos);
  if (parsed != ParseOutcome::ok) return parse_exit_status(parsed);
  int variant = -1;
  if (options[0].given && !parse_variant(options[0].text, &variant)) {
    std::fprintf(stderr, "quarn-coord chunk: unknown variant '%s'\n", options[0].text);
    return command_usage(syntax);
  }
  uint64_t v[3];
  static const char *const names[3] = {"WHERE", "SRT", "END"};
  for (int i = 0; i < 3; ++i) {
    if (!parse_u64(pos[i], &v[i])) {
      std::fprintf(stderr, "quarn-coord chunk: %s is not a number: '%s'\n", names[i], pos[i]);
      return command_usage(syntax);
    }
  }
  if (const char *problem = chunk_problem(v[0], v[1], v[2])) {
    std::fprintf(stderr, "quarn-coord chunk: %s (where %llu, chunk [%llu, %llu), head ends at %llu)\n",
                 problem, (unsigned long long)v[0], (unsigned long long)v[1],
                 (unsigned long long)v[2], (unsigned long long)head_end(v[0]));
    return 2;
  }
  cpu_classify();
  int saved = kernel.forced_variant;
  kernel.forced_variant = variant;
  kernel_init();
  kernel.forced_variant = saved;
  ChunkResult r = evaluate_chunk(v[0], v[1], v[2], variant);
  if (!r.ok) {
    std::fprintf(stderr, "quarn-coord chunk: the kernel refused an exponent of this chunk\n");
    return 1;
  }
  std::printf("%s\n", r.line);
  return 0;
}
