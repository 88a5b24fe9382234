/*
 * split.cpp: quarn-coord split: work units that cover the head of the
 * series at one position, or a stretch of it, without overlap.
 */
#include "split.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <vector>

#include "args.h"
#include "chunk_eval.h"
#include "platform.h"

namespace {

constexpr uint64_t chunk_terms = uint64_t(1) << 28;  // chunk ends fall on multiples of 2^28

enum { opt_terms, opt_dir, opt_from, opt_to, opt_count };

// The stretch and unit size of a split, checked; 0 when usable, else the
// exit status (the reason printed).
struct SplitPlan {
  uint64_t where, from, to, terms;
};

int plan_split(const CommandSyntax &syntax, const char *where_text, SplitPlan *p) {
  const CommandOption *o = syntax.options;
  if (!parse_u64(where_text, &p->where)) return command_usage(syntax);
  if (p->where == 0 || p->where >= where_limit) {
    std::fprintf(stderr, "quarn-coord split: WHERE must lie in [1, 2^56)\n");
    return 2;
  }
  const uint64_t head = head_end(p->where);
  p->to = o[opt_to].given ? o[opt_to].number : head;
  p->from = o[opt_from].number;
  p->terms = o[opt_terms].given ? o[opt_terms].number : default_unit_terms(p->where);
  if (p->to > head) {
    std::fprintf(stderr, "quarn-coord split: --to %llu lies past the head of the series, which ends at %llu\n",
                 (unsigned long long)p->to, (unsigned long long)head);
    return 2;
  }
  if (p->from >= p->to) {
    std::fprintf(stderr, "quarn-coord split: nothing to split: terms [%llu, %llu) are empty\n",
                 (unsigned long long)p->from, (unsigned long long)p->to);
    return 2;
  }
  // The generic kernel works on pairs of terms: even bounds inside the
  // stretch keep every unit in whole pairs.
  if (p->terms == 0 || (p->terms & 1) || (p->from & 1)) {
    std::fprintf(stderr, "quarn-coord split: --terms must be even and above 0, and --from even\n");
    return 2;
  }
  return 0;
}

}  // namespace

uint64_t default_unit_terms(uint64_t where) {
  // A term costs in proportion to the bit length of its exponents: one core
  // of a current processor evaluates about 250,000 terms a second at
  // position 10^8 (29-bit exponents), so a day is about 6.2e11 / bits terms.
  uint64_t bits = 64 - uint64_t(std::countl_zero(4 * where | 1));
  uint64_t day = uint64_t(622080000000ull) / bits;
  return day >= chunk_terms ? day / chunk_terms * chunk_terms : day & ~uint64_t(1);
}

std::string work_unit_name(uint64_t where, uint64_t index, int width) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Range%08lX%08lX-%0*llu.ini", (unsigned long)(where >> 32),
                (unsigned long)(uint32_t)where, width, (unsigned long long)index);
  return buf;
}

bool write_work_unit(const char *path, uint64_t where, uint64_t srt, uint64_t end) {
  std::FILE *f = std::fopen(path, "wb");
  if (!f) return false;
  int n = std::fprintf(f, "[Main]\r\nWhere=%08lX%08lX\r\nsrt_pos=%08lX%08lX\r\nend_pos=%08lX%08lX\r\n",
                       (unsigned long)(where >> 32), (unsigned long)(uint32_t)where,
                       (unsigned long)(srt >> 32), (unsigned long)(uint32_t)srt,
                       (unsigned long)(end >> 32), (unsigned long)(uint32_t)end);
  bool ok = n > 0;
  if (std::fclose(f) != 0) ok = false;
  return ok;
}

int split_main(int argc, char **argv) {
  CommandOption o[opt_count] = {
      {"--terms", OptionKind::number, "N: terms per unit (even; by default about a day of one core)", false, 0, nullptr},
      {"--dir", OptionKind::text, "D: the folder the units are written to (by default this one)", false, 0, nullptr},
      {"--from", OptionKind::number, "A: the first term (even; by default 0)", false, 0, nullptr},
      {"--to", OptionKind::number, "B: the end of the terms (by default the end of the head)", false, 0, nullptr},
  };
  CommandSyntax syntax = {"split", "split WHERE [--terms N] [--dir D] [--from A] [--to B]",
                      "Writes work units that cover terms [A, B) of the series at position WHERE once.", o,
                      opt_count, 1, 1};
  std::vector<const char *> operands;
  const ParseOutcome parsed = parse_command(&syntax, argc, argv, &operands);
  if (parsed != ParseOutcome::ok) return parse_exit_status(parsed);
  SplitPlan plan;
  if (int status = plan_split(syntax, operands[0], &plan)) return status;
  const uint64_t where = plan.where, from = plan.from, to = plan.to, terms = plan.terms;
  const char *dir = o[opt_dir].given ? o[opt_dir].text : ".";

  const uint64_t count = (to - from - 1) / terms + 1;
  int width = 6;
  for (uint64_t c = count / 1000000; c; c /= 10) ++width;
  std::vector<std::string> paths;
  for (uint64_t i = 1; i <= count; ++i) {
    std::string path = std::string(dir) + path_separator + work_unit_name(where, i, width);
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
      std::fclose(f);
      std::fprintf(stderr, "quarn-coord split: %s exists already; nothing written\n", path.c_str());
      return 1;
    }
    paths.push_back(path);
  }
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t srt = from + i * terms;
    uint64_t end = to - srt > terms ? srt + terms : to;
    if (!write_work_unit(paths[i].c_str(), where, srt, end)) {
      std::fprintf(stderr, "quarn-coord split: cannot write %s (%llu of %llu units written)\n",
                   paths[i].c_str(), (unsigned long long)i, (unsigned long long)count);
      return 1;
    }
  }
  std::printf("position %llu: terms [%llu, %llu) in %llu work unit(s) of up to %llu terms\n",
              (unsigned long long)where, (unsigned long long)from, (unsigned long long)to,
              (unsigned long long)count, (unsigned long long)terms);
  std::printf("  first: %s\n", paths.front().c_str());
  if (count > 1) std::printf("  last:  %s\n", paths.back().c_str());
  return 0;
}
