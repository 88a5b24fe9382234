/*
 * quarn_coord.cpp: the project coordinator's companion tool. Commands:
 *   split WHERE [--terms N] [--dir D] [--from A] [--to B]   work units out
 *   sum FILE... [--where W] [--complete] ...                result lines in
 *   verify FILE... [--sample K] [--seed S]                  lines recomputed
 *   chunk WHERE SRT END [--variant generic|pentium|fast]    one result line
 *   rounding WHERE SRT END [--exact]                        rounding measured
 *   bench [--where W]... [--variant V] [--tier T] [--seconds S] kernel speed
 * Options go by their full names, before or after the operands; each
 * command's --help lists its own.
 */
#include <cstdio>
#include <cstring>

#include "args.h"
#include "bench.h"
#include "chunk_eval.h"
#include "measure.h"
#include "split.h"
#include "sum.h"
#include "verify.h"

namespace {

int usage(std::FILE *to = stderr) {
  std::fprintf(to,
               "usage: quarn-coord split WHERE [--terms N] [--dir D] [--from A] [--to B]\n"
               "       quarn-coord sum FILE... [--where W] [--complete] [--max-uncovered N] [--skip-bad]\n"
               "       quarn-coord verify FILE... [--sample K] [--seed S]\n"
               "       quarn-coord chunk WHERE SRT END [--variant generic|pentium|fast]\n"
               "       quarn-coord rounding WHERE SRT END [--exact]\n"
               "       quarn-coord bench [--where W]... [--variant generic|pentium|fast]\n"
               "                         [--tier scalar|avx2|ifma] [--seconds S] [--unit]\n"
               "Numbers are decimal or 0x-prefixed hexadecimal; terms [SRT, END) exclude END.\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && !std::strcmp(argv[1], "--help")) {
    usage(stdout);
    std::printf("Each command's --help tells more (quarn-coord sum --help).\n");
    return 0;
  }
  if (argc < 2) return usage();
  if (!std::strcmp(argv[1], "split")) return split_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "sum")) return sum_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "verify")) return verify_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "rounding")) return rounding_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "chunk")) return chunk_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "bench")) return bench_main(argc - 2, argv + 2);
  std::fprintf(stderr, "quarn-coord: unknown command '%s'\n", argv[1]);
  return usage();
}
