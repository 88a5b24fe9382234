/*
 * verify.cpp: quarn-coord verify: all or a random sample of the lines of
 * result files evaluated again and compared.
 */
#include "verify.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "args.h"
#include "chunk_eval.h"
#include "rounding.h"
#include "sum.h"
#include "wide.h"

namespace {

// |a - b| in units of 2^-128, the difference taken in (-1/2, 1/2].
uint64_t distance(const uint32_t a[4], const uint32_t b[4]) {
  Wide d = wide_sub(wide_from_limbs(a), wide_from_limbs(b));
  if (d.d[0] & 0x80000000u) d = wide_sub(Wide{}, d);
  if (d.d[0] || d.d[1]) return UINT64_MAX;
  return uint64_t(d.d[2]) << 32 | d.d[3];
}

bool same(const uint32_t a[4], const uint32_t b[4]) { return !std::memcmp(a, b, 4 * sizeof a[0]); }

// The lines to check: every line of a stretch or that cannot be summed, or
// `sample` of them chosen with `seed` (or a seed of chance).
std::vector<std::size_t> lines_to_check(const std::vector<SourceLine> &lines, const CommandOption &sample,
                                        const CommandOption &seed) {
  std::vector<std::size_t> chosen;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ResultLine &l = lines[i].line;
    if (!is_startup_line(l) && (l.srt != l.end || line_problem(l))) chosen.push_back(i);
  }
  if (sample.given && sample.number < chosen.size()) {
    const uint64_t s = seed.given ? seed.number : std::random_device{}();
    const std::size_t all = chosen.size();
    std::mt19937_64 rng(s);
    std::shuffle(chosen.begin(), chosen.end(), rng);
    chosen.resize(std::size_t(sample.number));
    std::sort(chosen.begin(), chosen.end());
    std::printf("checking %llu of %zu line(s) chosen at random (--seed %llu repeats the choice)\n",
                (unsigned long long)sample.number, all, (unsigned long long)s);
  } else {
    std::printf("checking %zu line(s)\n", chosen.size());
  }
  return chosen;
}

// Checks one line and prints the outcome after the line's place.
CheckOutcome show_check(const ResultLine &l) {
  LineCheck c = check_line(l);
  const char *vname = variant_name(Variant(c.variant));
  switch (c.outcome) {
    case CheckOutcome::exact:
      std::printf("ok (%s variant, exact)\n", vname);
      break;
    case CheckOutcome::within_rounding:
      std::printf("ok within rounding (%llu units of 2^-128 from the %s variant)\n",
                  (unsigned long long)c.difference, vname);
      break;
    case CheckOutcome::mismatch: {
      std::printf("MISMATCH; the kernel gives\n");
      for (int t = 0; t < c.tried; ++t) {
        ResultLine r = l;
        std::memcpy(r.limbs, c.limbs[t], sizeof r.limbs);
        char text[result_line_length + 1];
        format_result_line(r, text);
        std::printf("    %s (%s variant)\n", text, variant_name(Variant(c.variants[t])));
      }
      break;
    }
    case CheckOutcome::refused:
      std::printf("refused: %s\n", line_problem(l) ? line_problem(l) : "the kernel cannot evaluate it");
      break;
  }
  return c.outcome;
}

}  // namespace

LineCheck check_line(const ResultLine &line) {
  LineCheck c{};
  if (chunk_problem(line.where, line.srt, line.end)) {
    c.outcome = CheckOutcome::refused;
    return c;
  }
  int saved = kernel.forced_variant;
  kernel.forced_variant = -1;
  const int dispatched = int(kernel_variant());
  kernel.forced_variant = saved;
  const int variants[3] = {dispatched, int(Variant::generic), int(Variant::pentium)};
  c.difference = UINT64_MAX;
  for (int i = 0; i < 3; ++i) {
    const int v = variants[i];
    if (i > 0 && v == dispatched) continue;
    ChunkResult r = evaluate_chunk(line.where, line.srt, line.end, v);
    if (!r.ok) {
      c.outcome = CheckOutcome::refused;
      return c;
    }
    c.variants[c.tried] = v;
    std::memcpy(c.limbs[c.tried++], r.limbs, sizeof r.limbs);
    uint64_t d = distance(line.limbs, r.limbs);
    if (d < c.difference || c.tried == 1) {
      c.difference = d;
      c.variant = v;
    }
    if (same(line.limbs, r.limbs)) {
      c.outcome = CheckOutcome::exact;
      return c;
    }
  }
  c.outcome = c.difference <= line_bound(line.end - line.srt) ? CheckOutcome::within_rounding
                                                                : CheckOutcome::mismatch;
  return c;
}

int verify_main(int argc, char **argv) {
  enum { opt_sample, opt_seed, opt_count };
  CommandOption options[opt_count] = {
      {"--sample", OptionKind::number, "K: check K lines chosen at random", false, 0, nullptr},
      {"--seed", OptionKind::number, "S: the seed of that choice (to repeat it)", false, 0, nullptr},
  };
  CommandSyntax syntax = {"verify", "verify FILE... [--sample K] [--seed S]",
                      "Evaluates the lines of result files again and compares them.", options, opt_count, 1,
                      -1};
  std::vector<const char *> files;
  const ParseOutcome parsed = parse_command(&syntax, argc, argv, &files);
  if (parsed != ParseOutcome::ok) return parse_exit_status(parsed);

  std::vector<SourceLine> lines;
  std::vector<BadLine> bad;
  for (std::size_t f = 0; f < files.size(); ++f) read_result_file(files[f], uint32_t(f), &lines, &bad);
  report_bad_lines(files, bad, false);
  const std::vector<std::size_t> chosen = lines_to_check(lines, options[opt_sample], options[opt_seed]);

  prepare_kernel();
  std::size_t tally[4] = {};  // by CheckOutcome
  for (std::size_t i : chosen) {
    const SourceLine &s = lines[i];
    const ResultLine &l = s.line;
    std::printf("%s:%lu: position %llu, terms [%llu, %llu): ", files[s.file], (unsigned long)s.number,
                (unsigned long long)l.where, (unsigned long long)l.srt, (unsigned long long)l.end);
    std::fflush(stdout);
    ++tally[int(show_check(l))];
    std::fflush(stdout);
  }
  const std::size_t mismatched = tally[int(CheckOutcome::mismatch)], refused = tally[int(CheckOutcome::refused)];
  std::printf("%zu exact, %zu within rounding, %zu mismatched, %zu refused, %zu unreadable\n",
              tally[int(CheckOutcome::exact)], tally[int(CheckOutcome::within_rounding)], mismatched, refused,
              bad.size());
  return mismatched || refused || !bad.empty() ? 1 : 0;
}
