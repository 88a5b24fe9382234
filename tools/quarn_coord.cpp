/*
 * quarn_coord.cpp: the project coordinator's companion tool. Commands:
 *   split WHERE [--terms N] [--dir D] [--from A] [--to B]   work units out
 *   sum FILE... [--where W] [--complete] ...                result lines in
 *   verify FILE... [--sample K] [--seed S]                  lines recomputed
 *   chunk WHERE SRT END [--variant generic|pentium|fast]    one result line
 *   rounding WHERE SRT END [--exact]                        rounding measured
 *   bench [--where W] [--variant V] [--tier T] [--seconds S] kernel speed
 */
#include <cstdio>
#include <cstring>

#include "args.h"
#include "bench.h"
#include "chunk_eval.h"
#include "measure.h"
#include "quarn_version.h"
#include "split.h"
#include "sum.h"
#include "verify.h"

namespace {

// The commands' synopsis, shared by the usage error and --help (and so by
// the manual page, which help2man makes from --help).
const char *const synopsis[] = {
    "split WHERE [--terms N] [--dir D] [--from A] [--to B]",
    "sum FILE... [--where W] [--complete] [--max-uncovered N] [--skip-bad]",
    "verify FILE... [--sample K] [--seed S]",
    "chunk WHERE SRT END [--variant generic|pentium|fast]",
    "rounding WHERE SRT END [--exact]",
    "bench [--where W] [--variant generic|pentium|fast] [--tier scalar|avx2|ifma] [--seconds S] [--unit]",
};
const char numbers_note[] =
    "Numbers are decimal or 0x-prefixed hexadecimal; terms [SRT, END) exclude END.\n";

// One line per command, the first after FIRST and the others after OTHERS.
void print_synopsis(FILE *to, const char *first, const char *others) {
  for (const char *line : synopsis)
    std::fprintf(to, "%squarn-coord %s\n", line == synopsis[0] ? first : others, line);
}

int usage() {
  print_synopsis(stderr, "usage: ", "       ");
  std::fputs(numbers_note, stderr);
  return 2;
}

int help() {
  print_synopsis(stdout, "Usage: ", "  or:  ");
  std::printf(
      "  or:  quarn-coord --help | --version\n"
      "The project coordinator's companion to the Quarn client: cuts the head of\n"
      "Bellard's series for pi at a hexadecimal digit position into work units,\n"
      "sums the result lines that volunteers send back into digits of pi, and\n"
      "checks lines by evaluating them again.\n"
      "%s"
      "\n"
      "Commands:\n"
      "  split      write Range*.ini work units covering the head of the series at\n"
      "             WHERE, N terms each (whole multiples of 2^28 when large), into D\n"
      "  sum        add the result lines of output0.txt/output1.txt files by position,\n"
      "             report repeats, gaps and conflicts; --complete prints the\n"
      "             certain digits of pi from WHERE\n"
      "  verify     evaluate K randomly chosen lines (all without --sample) again with\n"
      "             every kernel variant and report any mismatch\n"
      "  chunk      print the result line a client writes for terms [SRT, END)\n"
      "  rounding   measure the rounding of the kernel variants over [SRT, END)\n"
      "  bench      measure the kernel's speed on one thread, in cycles per term\n"
      "\n"
      "Options:\n"
      "  --help     print this help and exit\n"
      "  --version  print the version and exit\n"
      "\n"
      "The exit status is 0 when the command succeeded (for sum: when the lines are\n"
      "consistent), 1 when something is wrong, 2 for a usage error.\n",
      numbers_note);
  return 0;
}

// Evaluates one chunk and prints the line a worker would write for it.
int chunk_main(int argc, char **argv) {
  const char *pos[3];
  int npos = 0;
  int variant = -1;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--variant")) {
      if (i + 1 >= argc) return usage();
      if (!parse_variant(argv[++i], &variant)) {
        std::fprintf(stderr, "quarn-coord chunk: unknown variant '%s'\n", argv[i]);
        return usage();
      }
    } else if (npos < 3) {
      pos[npos++] = argv[i];
    } else {
      return usage();
    }
  }
  if (npos != 3) return usage();
  uint64_t v[3];
  static const char *const names[3] = {"WHERE", "SRT", "END"};
  for (int i = 0; i < 3; ++i) {
    if (!parse_u64(pos[i], &v[i])) {
      std::fprintf(stderr, "quarn-coord chunk: %s is not a number: '%s'\n", names[i], pos[i]);
      return usage();
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

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return usage();
  if (argc == 2 && !std::strcmp(argv[1], "--help")) return help();
  if (argc == 2 && !std::strcmp(argv[1], "--version")) {
    std::printf("quarn-coord %s\n", QUARN_VERSION);
    return 0;
  }
  if (!std::strcmp(argv[1], "split")) return split_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "sum")) return sum_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "verify")) return verify_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "rounding")) return rounding_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "chunk")) return chunk_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "bench")) return bench_main(argc - 2, argv + 2);
  return usage();
}
