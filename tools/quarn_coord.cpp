/*
 * quarn_coord.cpp: the project coordinator's companion tool. Commands:
 *   split WHERE [--terms N] [--dir D] [--from A] [--to B]   work units out
 *   sum FILE... [--where W] [--complete] ...                result lines in
 *   verify FILE... [--sample K] [--seed S]                  lines recomputed
 *   chunk WHERE SRT END [--variant generic|pentium|fast]    one result line
 *   rounding WHERE SRT END [--exact]                        rounding measured
 *   bench [--where W[,W...]] [--variant V] [--tier T] [--seconds S] kernel speed
 *   submit, check, compare, assimilate, status              a BOINC project
 * Options go by their full names, before or after the operands; each
 * command's --help lists its own.
 */
#include <cstdio>
#include <cstring>

#include "args.h"
#include "bench.h"
#include "chunk_eval.h"
#include "measure.h"
#include "project.h"
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
    "bench [--where W[,W...]] [--variant generic|pentium|fast] [--tier scalar|avx2|ifma] [--seconds S] [--unit]",
    "submit WHERE --project DIR [--terms N] [--quorum Q] [--from A] [--to B] [--app NAME]",
    "check [--sample K] FILE...",
    "compare FILE...",
    "assimilate --campaign DIR WU_ID FILE...",
    "status DIR [--where W]",
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
      "Each command's --help tells more (quarn-coord sum --help).\n"
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
      "  submit     stage work units of WHERE for a BOINC project in DIR and create them\n"
      "  check      the validator's check of one result: its lines cover its unit\n"
      "             once, and a sample of them recomputes\n"
      "  compare    the validator's comparison of two results of one unit: the files\n"
      "             of the first, then those of the second\n"
      "  assimilate copy a unit's canonical result into the campaign folder DIR\n"
      "  status     per position in a campaign folder: results, terms covered, gaps\n"
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
  if (!std::strcmp(argv[1], "submit")) return submit_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "check")) return check_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "compare")) return compare_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "assimilate")) return assimilate_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "status")) return status_main(argc - 2, argv + 2);
  std::fprintf(stderr, "quarn-coord: unknown command '%s'\n", argv[1]);
  return usage();
}
