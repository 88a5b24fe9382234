/*
 * quarn_coord.cpp: the project coordinator's companion tool. Commands:
 *   split WHERE [--terms N] [--dir D] [--from A] [--to B]   work units out
 *   sum FILE... [--where W] [--complete] ...                result lines in
 *   verify FILE... [--sample K] [--seed S]                  lines recomputed
 *   chunk WHERE SRT END [--variant generic|pentium|fast]    one result line
 *   rounding WHERE SRT END [--exact]                        rounding measured
 *   bench [--where W] [--variant V] [--tier T] [--seconds S] kernel speed
 *   submit, check, compare, assimilate, status               a BOINC project
 */
#include <cstdio>
#include <cstring>

#include "args.h"
#include "bench.h"
#include "chunk_eval.h"
#include "measure.h"
#include "project.h"
#include "split.h"
#include "sum.h"
#include "verify.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: quarn-coord split WHERE [--terms N] [--dir D] [--from A] [--to B]\n"
               "       quarn-coord sum FILE... [--where W] [--complete] [--max-uncovered N] [--skip-bad]\n"
               "       quarn-coord verify FILE... [--sample K] [--seed S]\n"
               "       quarn-coord chunk WHERE SRT END [--variant generic|pentium|fast]\n"
               "       quarn-coord rounding WHERE SRT END [--exact]\n"
               "       quarn-coord bench [--where W] [--variant generic|pentium|fast]\n"
               "                         [--tier scalar|avx2|ifma] [--seconds S] [--unit]\n"
               "       quarn-coord submit WHERE --project DIR [--terms N] [--quorum Q] [--from A] [--to B]\n"
               "       quarn-coord check [--sample K] FILE...       (the validator's check of one result)\n"
               "       quarn-coord compare FILE...                  (the validator's comparison of two)\n"
               "       quarn-coord assimilate --campaign DIR WU_ID FILE...\n"
               "       quarn-coord status DIR [--where W]\n"
               "Numbers are decimal or 0x-prefixed hexadecimal; terms [SRT, END) exclude END.\n");
  return 2;
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
  if (!std::strcmp(argv[1], "split")) return split_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "sum")) return sum_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "verify")) return verify_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "rounding")) return rounding_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "chunk")) return chunk_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "bench")) return bench_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "submit")) return submit_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "check")) return check_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "compare")) return compare_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "assimilate")) return assimilate_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "status")) return status_main(argc - 2, argv + 2);
  return usage();
}
