/*
 * sum.cpp: quarn-coord sum: result files in, coverage checked, shares
 * added, and with --complete the digits of pi out.
 */
#include "sum.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>

#include "args.h"
#include "chunk_eval.h"
#include "rounding.h"

namespace {

Wide line_share(const ResultLine &l) { return wide_from_limbs(l.limbs); }

bool zero_share(const ResultLine &l) { return !(l.limbs[0] | l.limbs[1] | l.limbs[2] | l.limbs[3]); }

// Whether two lines of the same stretch agree within their rounding: each
// lies below the true share by at most the bound, so they differ by at most
// that much either way.
bool shares_agree(const ResultLine &a, const ResultLine &b) {
  Wide bound = bound_from_units128(line_bound(a.end - a.srt));
  Wide diff = wide_sub(line_share(a), line_share(b));
  return !wide_less(bound, diff) || !wide_less(bound, wide_sub(Wide{}, diff));
}

}  // namespace

bool is_startup_line(const ResultLine &l) { return l.where == 0 && l.srt == 0 && l.end == 0 && zero_share(l); }

const char *line_problem(const ResultLine &l) {
  if (l.where == 0) return "position 0 with a stretch or a share";
  if (l.where >= where_limit) return "the position lies beyond those the kernel evaluates";
  if (l.srt > l.end) return "the stretch's start lies beyond its end";
  if (l.end > head_end(l.where)) return "the stretch reaches past the head of the series";
  if (l.srt == l.end && !zero_share(l)) return "a stretch of no terms with a non-zero share";
  return nullptr;
}

namespace {

// The share and the rounding bound of the used lines, added up.
void add_used_shares(const std::vector<SourceLine> &lines, PositionCover *c) {
  for (std::size_t i : c->used) {
    const ResultLine &l = lines[i].line;
    c->share = wide_add(c->share, line_share(l));
    c->rounding = wide_add_saturated(c->rounding, bound_from_units128(line_bound(l.end - l.srt)));
  }
}

}  // namespace

PositionCover cover_position(const std::vector<SourceLine> &lines, uint64_t where) {
  PositionCover c{};
  c.where = where;
  c.head_end = head_end(where);
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ResultLine &l = lines[i].line;
    if (l.where != where) continue;
    if (line_problem(l)) c.invalid.push_back(i);
    else if (l.srt == l.end) c.empty.push_back(i);
    else order.push_back(i);
  }
  auto key = [&](std::size_t i) {
    const SourceLine &s = lines[i];
    return std::make_tuple(s.line.srt, s.line.end, s.file, s.number);
  };
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
  std::vector<uint64_t> starts;
  for (std::size_t i : order) starts.push_back(lines[i].line.srt);
  auto is_start = [&](uint64_t x) { return std::binary_search(starts.begin(), starts.end(), x); };

  uint64_t pos = 0;
  for (std::size_t g = 0; g < order.size();) {
    const uint64_t s = lines[order[g]].line.srt;
    std::size_t g_end = g;
    while (g_end < order.size() && lines[order[g_end]].line.srt == s) ++g_end;
    if (s < pos) {
      // Starts inside the stretch of the last line used.
      for (std::size_t j = g; j < g_end; ++j) c.conflicts.push_back({order[j], c.used.back(), false});
      g = g_end;
      continue;
    }
    if (s > pos) c.gaps.push_back({pos, s});
    // A repeat from a kill ends where no other line starts (the position
    // it reached was never saved), so the line to use is the first whose
    // end some line continues from; without one, the longest.
    std::size_t chosen = order[g_end - 1];
    for (std::size_t j = g; j < g_end; ++j)
      if (is_start(lines[order[j]].line.end)) {
        chosen = order[j];
        break;
      }
    c.used.push_back(chosen);
    const ResultLine &kept = lines[chosen].line;
    for (std::size_t j = g; j < g_end; ++j) {
      std::size_t i = order[j];
      if (i == chosen) continue;
      const ResultLine &l = lines[i].line;
      if (l.end == kept.end && !shares_agree(l, kept)) c.conflicts.push_back({i, chosen, true});
      else c.repeated.push_back(i);
    }
    pos = kept.end;
    g = g_end;
  }
  if (pos < c.head_end) c.gaps.push_back({pos, c.head_end});
  add_used_shares(lines, &c);
  return c;
}

Completion complete_position(const PositionCover &cover) {
  Completion r{};
  r.ok = true;
  ShareBound t{};
  t.value = cover.share;
  t.above = cover.rounding;
  for (const Stretch &g : cover.gaps) {
    ChunkResult cr = evaluate_chunk(cover.where, g.srt, g.end, -1);
    if (!cr.ok) r.ok = false;
    t.value = wide_add(t.value, wide_from_limbs(cr.limbs));
    t.above = wide_add_saturated(t.above, bound_from_units128(line_bound(g.end - g.srt)));
    r.gap_terms += g.end - g.srt;
  }
  ShareBound tail = tail_share(cover.where, cover.head_end, &r.tail_terms);
  t.value = wide_add(t.value, tail.value);
  t.below = wide_add_saturated(t.below, tail.below);
  t.above = wide_add_saturated(t.above, tail.above);
  r.total = t;
  r.certain_digits = wide_certain_digits(t.value, t.below, t.above);
  return r;
}

namespace {

struct SumOptions {
  std::vector<const char *> files;
  bool has_where = false;
  uint64_t where = 0;
  bool complete = false;
  bool skip_bad = false;
  uint64_t max_uncovered = uint64_t(1) << 20;
};

constexpr std::size_t list_limit = 20;  // entries of one kind shown before "and N more"

std::string place(const std::vector<const char *> &files, const SourceLine &s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, ":%lu", (unsigned long)s.number);
  return std::string(files[s.file]) + buf;
}

std::string stretch_text(uint64_t srt, uint64_t end) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "terms [%llu, %llu)", (unsigned long long)srt, (unsigned long long)end);
  return buf;
}

// A bound as units of 2^-128, rounded up, for the report.
std::string units_text(const Wide &w) {
  if (w.d[0] || w.d[1]) return "2^64 or more";
  uint64_t u = uint64_t(w.d[2]) << 32 | w.d[3];
  if (w.d[4] | w.d[5]) ++u;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llu", (unsigned long long)u);
  return buf;
}

// Lists the lines of a cover that were dropped, refused or disagree.
void report_dropped(const SumOptions &o, const std::vector<SourceLine> &lines, const PositionCover &c) {
  std::size_t shown = 0;
  for (std::size_t i : c.repeated) {
    if (shown++ == list_limit) {
      std::printf("  ... and %zu more repeated\n", c.repeated.size() - list_limit);
      break;
    }
    std::printf("  repeated: %s %s, evaluated again after a kill; dropped\n",
                place(o.files, lines[i]).c_str(), stretch_text(lines[i].line.srt, lines[i].line.end).c_str());
  }
  for (std::size_t i : c.invalid)
    std::printf("  invalid: %s %s: %s\n", place(o.files, lines[i]).c_str(),
                stretch_text(lines[i].line.srt, lines[i].line.end).c_str(), line_problem(lines[i].line));
  for (const Conflict &k : c.conflicts) {
    const SourceLine &a = lines[k.line], &b = lines[k.other];
    if (k.same_stretch)
      std::printf("  conflict: %s and %s both cover %s with different shares (run verify on both)\n",
                  place(o.files, a).c_str(), place(o.files, b).c_str(),
                  stretch_text(a.line.srt, a.line.end).c_str());
    else
      std::printf("  conflict: %s %s overlaps %s %s\n", place(o.files, a).c_str(),
                  stretch_text(a.line.srt, a.line.end).c_str(), place(o.files, b).c_str(),
                  stretch_text(b.line.srt, b.line.end).c_str());
  }
}

// Reports one position; returns false when it has problems that make its
// sum unusable.
bool report_position(const SumOptions &o, const std::vector<SourceLine> &lines, uint64_t where,
                     bool lines_damaged) {
  PositionCover c = cover_position(lines, where);
  std::printf("position %llu (Where=%016llX): head of the series is terms [0, %llu)\n",
              (unsigned long long)where, (unsigned long long)where, (unsigned long long)c.head_end);
  std::printf("  %zu line(s) summed, %zu repeated stretch(es) dropped, %zu empty stretch(es)\n",
              c.used.size(), c.repeated.size(), c.empty.size());
  report_dropped(o, lines, c);
  uint64_t gap_terms = 0;
  std::size_t shown = 0;
  for (const Stretch &g : c.gaps) {
    gap_terms += g.end - g.srt;
    if (shown++ < list_limit)
      std::printf("  gap: %s (%llu terms): no line covers them\n", stretch_text(g.srt, g.end).c_str(),
                  (unsigned long long)(g.end - g.srt));
  }
  if (c.gaps.size() > list_limit) std::printf("  ... and %zu more gaps\n", c.gaps.size() - list_limit);
  char hex[49];
  wide_hex(c.share, 32, hex);
  std::printf("  sum of the lines: %s\n", hex);
  std::printf("  the lines may fall short of their true shares by up to %s units of 2^-128\n",
              units_text(c.rounding).c_str());
  if (c.gaps.empty()) std::printf("  coverage: the lines cover the whole head\n");
  else
    std::printf("  coverage: %llu head terms in %zu gap(s) not covered\n", (unsigned long long)gap_terms,
                c.gaps.size());

  bool usable = c.invalid.empty() && c.conflicts.empty();
  if (!o.complete) return usable;
  if (!usable || lines_damaged) {
    std::printf("  not completed: %s\n", usable ? "some lines could not be read" : "the lines disagree");
    return false;
  }
  if (gap_terms > o.max_uncovered) {
    std::printf("  not completed: %llu head terms are not covered (more than --max-uncovered %llu);\n"
                "  issue work units for the gaps, e.g. quarn-coord split %llu --from %llu --to %llu\n",
                (unsigned long long)gap_terms, (unsigned long long)o.max_uncovered,
                (unsigned long long)where, (unsigned long long)c.gaps[0].srt,
                (unsigned long long)c.gaps[0].end);
    return false;
  }
  Completion r = complete_position(c);
  if (!r.ok) {
    std::printf("  not completed: the kernel refused a term of a gap\n");
    return false;
  }
  std::printf("  evaluated here: %llu uncovered head terms; the tail, %llu terms from %llu, exactly\n",
              (unsigned long long)r.gap_terms, (unsigned long long)r.tail_terms,
              (unsigned long long)c.head_end);
  std::printf("  total error: from -%s to +%s units of 2^-128\n", units_text(r.total.below).c_str(),
              units_text(r.total.above).c_str());
  wide_hex(r.total.value, r.certain_digits, hex);
  std::printf("  digits of pi from position %llu: %s (%d hexadecimal digits certain)\n",
              (unsigned long long)where, r.certain_digits ? hex : "(none)", r.certain_digits);
  return true;
}

}  // namespace

void report_bad_lines(const std::vector<const char *> &files, const std::vector<BadLine> &bad, bool skipped) {
  // A binary file sent by mistake would otherwise flood the terminal.
  constexpr std::size_t shown = 50;
  for (std::size_t i = 0; i < bad.size() && i < shown; ++i) {
    const BadLine &b = bad[i];
    if (b.number == 0)
      std::fprintf(stderr, "%s: error: %s\n", files[b.file], b.why.c_str());
    else
      std::fprintf(stderr, "%s:%lu: %s: %s\n", files[b.file], (unsigned long)b.number,
                   skipped ? "warning (skipped)" : "error", b.why.c_str());
  }
  if (bad.size() > shown) std::fprintf(stderr, "... and %zu more unreadable lines\n", bad.size() - shown);
}

namespace {

// Reads quarn-coord sum's arguments into o; false, with the exit status,
// when the command is to end here (after --help or a usage error).
bool parse_sum_options(int argc, char **argv, SumOptions *o, int *status) {
  enum { opt_where, opt_complete, opt_max_uncovered, opt_skip_bad, opt_count };
  CommandOption options[opt_count] = {
      {"--where", OptionKind::number, "W: sum only position W (its lines missing: all gaps)", false, 0, nullptr},
      {"--complete", OptionKind::flag, "evaluate the uncovered head terms and the tail: digits of pi", false, 0,
       nullptr},
      {"--max-uncovered", OptionKind::number, "N: complete only with at most N head terms uncovered", false, 0,
       nullptr},
      {"--skip-bad", OptionKind::flag, "pass over unreadable lines with a warning", false, 0, nullptr},
  };
  CommandSyntax syntax = {"sum", "sum FILE... [--where W] [--complete] [--max-uncovered N] [--skip-bad]",
                      "Adds up the result lines of each position and shows what they cover.", options,
                      opt_count, 1, -1};
  const ParseOutcome parsed = parse_command(&syntax, argc, argv, &o->files);
  if (parsed != ParseOutcome::ok) {
    *status = parse_exit_status(parsed);
    return false;
  }
  o->has_where = options[opt_where].given;
  o->where = options[opt_where].number;
  o->complete = options[opt_complete].given;
  o->skip_bad = options[opt_skip_bad].given;
  if (options[opt_max_uncovered].given) o->max_uncovered = options[opt_max_uncovered].number;
  if (o->has_where && (o->where == 0 || o->where >= where_limit)) {
    std::fprintf(stderr, "quarn-coord sum: --where must lie in [1, 2^56)\n");
    *status = 2;
    return false;
  }
  return true;
}

// The positions to sum: those of the lines, or only --where; the start-up
// lines and (with --where) the lines of other positions are counted out.
std::vector<uint64_t> positions_to_sum(const SumOptions &o, const std::vector<SourceLine> &lines,
                                       std::size_t *startup, std::vector<std::size_t> *foreign) {
  std::vector<uint64_t> wheres;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ResultLine &l = lines[i].line;
    if (is_startup_line(l)) ++*startup;
    else if (o.has_where && l.where != o.where) foreign->push_back(i);
    else wheres.push_back(l.where);
  }
  if (o.has_where) wheres.push_back(o.where);
  std::sort(wheres.begin(), wheres.end());
  wheres.erase(std::unique(wheres.begin(), wheres.end()), wheres.end());
  return wheres;
}

void report_foreign(const SumOptions &o, const std::vector<SourceLine> &lines,
                    const std::vector<std::size_t> &foreign) {
  if (foreign.empty()) return;
  std::printf("%zu line(s) of other positions ignored:\n", foreign.size());
  for (std::size_t n = 0; n < foreign.size() && n < list_limit; ++n) {
    const SourceLine &s = lines[foreign[n]];
    std::printf("  other position: %s is for position %llu\n", place(o.files, s).c_str(),
                (unsigned long long)s.line.where);
  }
  if (foreign.size() > list_limit) std::printf("  ... and %zu more\n", foreign.size() - list_limit);
}

}  // namespace

int sum_main(int argc, char **argv) {
  SumOptions o;
  int status = 0;
  if (!parse_sum_options(argc, argv, &o, &status)) return status;

  std::vector<SourceLine> lines;
  std::vector<BadLine> bad;
  for (std::size_t f = 0; f < o.files.size(); ++f) read_result_file(o.files[f], uint32_t(f), &lines, &bad);
  report_bad_lines(o.files, bad, o.skip_bad);
  bool damaged = false;
  for (const BadLine &b : bad)
    if (b.number == 0 || !o.skip_bad) damaged = true;

  std::size_t startup = 0;
  std::vector<std::size_t> foreign;
  const std::vector<uint64_t> wheres = positions_to_sum(o, lines, &startup, &foreign);
  std::printf("read %zu result line(s) from %zu file(s)", lines.size(), o.files.size());
  if (!bad.empty()) std::printf(", %zu unreadable", bad.size());
  if (startup) std::printf(", %zu start-up line(s) of no chunk ignored", startup);
  std::printf("\n");
  report_foreign(o, lines, foreign);
  if (wheres.empty()) {
    std::printf("no result lines to sum\n");
    return 1;
  }
  if (o.complete) prepare_kernel();
  bool ok = !damaged;
  for (uint64_t w : wheres) {
    if (w == 0 || w >= where_limit) {
      // Every line of such a position is invalid; name them.
      for (const SourceLine &s : lines)
        if (s.line.where == w && !is_startup_line(s.line))
          std::printf("invalid: %s: %s\n", place(o.files, s).c_str(), line_problem(s.line));
      ok = false;
      continue;
    }
    if (!report_position(o, lines, w, damaged)) ok = false;
  }
  return ok ? 0 : 1;
}
