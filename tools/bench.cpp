/*
 * bench.cpp: terms per second of each kernel variant (and of each tier of
 * the fast variant) on one thread, at digit positions of growing size (the
 * cost of a term grows with the bit length of its exponents), at the start,
 * middle and end of each position's head and on average over the whole head,
 * with clock cycles per term from a clock calibrated in the same run and the
 * ratio of each to the generic variant.
 */
#include "bench.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "args.h"
#include "chunk_eval.h"
#include "clock.h"

namespace {

// Terms per second for a chunk of the head around term `centre` (kept
// inside the head, starting on an even term), doubling the chunk until one
// evaluation takes at least `seconds`.
double terms_per_second(uint64_t where, uint64_t centre, int variant, double seconds) {
  uint64_t terms = 256;
  uint64_t limit = head_end(where);
  for (;;) {
    if (terms > limit) terms = limit;
    uint64_t srt = centre > terms / 2 ? centre - terms / 2 : 0;
    if (srt > limit - terms) srt = limit - terms;
    srt &= ~uint64_t(1);
    double t0 = process_seconds();
    ChunkResult r = evaluate_chunk(where, srt, srt + terms, variant);
    double dt = process_seconds() - t0;
    if (!r.ok) return 0;
    if (dt >= seconds || terms == limit) return double(terms) / dt;
    terms *= dt > 0.01 ? uint64_t(seconds / dt * 1.2) + 1 : 8;
  }
}

// A term's cost changes along the head: its exponents shrink from 4 where
// to 1 while its moduli grow from 1 to about 4 where, and a block leaves a
// vector tier's quick path (or the tier) once its largest modulus passes
// the limit. A unit sees the head's average, taken here from `samples`
// chunks at the midpoints of equal stretches of the head: the terms per
// second of the whole head, with the first terms, the middle and the last
// terms shown beside it.
constexpr int samples = 8;
struct HeadRates {
  double start, middle, end, average;
};

HeadRates head_rates(uint64_t where, int variant, double seconds) {
  HeadRates h{};
  uint64_t head = head_end(where);
  double share = seconds / samples;
  h.start = terms_per_second(where, 0, variant, share);
  h.middle = terms_per_second(where, head / 2, variant, share);
  h.end = terms_per_second(where, head, variant, share);
  double time_per_term = 0;
  for (int i = 0; i < samples; ++i) {
    uint64_t centre = uint64_t(double(head) * (i + 0.5) / samples);
    double tps = terms_per_second(where, centre, variant, share);
    if (tps <= 0) return HeadRates{};
    time_per_term += 1 / tps / samples;
  }
  h.average = 1 / time_per_term;
  return h;
}

// One benchmarked kernel: a variant, and for the fast variant a tier.
struct Subject {
  Variant variant;
  int tier;  // FastTier, or -1
};

const char *tier_text(const Subject &s) {
  return s.tier < 0 ? "" : fast_tier_name(FastTier(s.tier));
}

bool parse_tier(const char *name, int *tier) {
  for (int t = 0; t < fast_tier_count; ++t)
    if (!std::strcmp(name, fast_tier_name(FastTier(t)))) {
      *tier = t;
      return true;
    }
  return false;
}

// The default work unit: where 100,000,000 from term 0, 19,999,744 terms.
int time_work_unit() {
  const uint64_t where = 100000000ull, terms = 19999744ull;
  kernel_init();
  Variant v = kernel_variant();
  double t0 = process_seconds();
  ChunkResult r = evaluate_chunk(where, 0, terms, -1);
  double dt = process_seconds() - t0;
  if (!r.ok) {
    std::fprintf(stderr, "quarn-coord bench: the kernel refused the work unit\n");
    return 1;
  }
  std::printf("work unit: where %llu, %llu terms in %.2f s with %s%s%s\n%s\n",
              (unsigned long long)where, (unsigned long long)terms, dt, variant_name(v),
              v == Variant::fast ? " tier " : "",
              v == Variant::fast ? fast_tier_name(fast_tier_in_force()) : "", r.line);
  return 0;
}

// What quarn-coord bench was asked for.
struct BenchOptions {
  // From the default work unit's position to those where records are checked.
  static constexpr int max_wheres = 8;
  uint64_t wheres[max_wheres] = {100000000ull, 1000000000000ull, 100000000000000ull,
                                 1000000000000000ull, 10000000000000000ull};
  int nwhere = 5;
  int variant = -1, tier = -1;
  double seconds = 1.0;
  bool unit = false;
};

// Reads quarn-coord bench's arguments into b; false, with the exit status,
// when the command is to end here (after --help or a usage error).
bool parse_bench_options(int argc, char **argv, BenchOptions *b, int *status) {
  enum { opt_where, opt_variant, opt_tier, opt_seconds, opt_unit, opt_count };
  CommandOption o[opt_count] = {
      {"--where", OptionKind::text,
       "W[,W...]: only these positions (by default 10^8, 10^12, 10^14, 10^15 and 10^16)", false, 0, nullptr},
      {"--variant", OptionKind::text, "V: only variant V (generic, pentium or fast)", false, 0, nullptr},
      {"--tier", OptionKind::text, "T: of the fast variant only tier T (scalar, avx2 or ifma)", false, 0,
       nullptr},
      {"--seconds", OptionKind::text, "S: time each row over at least S seconds (default 1)", false, 0, nullptr},
      {"--unit", OptionKind::flag, "time the default work unit instead", false, 0, nullptr},
  };
  CommandSyntax syntax = {"bench",
                      "bench [--where W[,W...]] [--variant generic|pentium|fast]\n"
                      "                         [--tier scalar|avx2|ifma] [--seconds S] [--unit]",
                      "Measures each kernel's terms per second on one thread.", o, opt_count, 0, 0};
  std::vector<const char *> operands;
  const ParseOutcome parsed = parse_command(&syntax, argc, argv, &operands);
  if (parsed != ParseOutcome::ok) {
    *status = parse_exit_status(parsed);
    return false;
  }
  if (o[opt_where].given) {
    // A comma-separated list of positions.
    b->nwhere = 0;
    for (const char *p = o[opt_where].text; p;) {
      const char *comma = std::strchr(p, ',');
      std::string one = comma ? std::string(p, comma) : std::string(p);
      uint64_t w = 0;
      if (b->nwhere == BenchOptions::max_wheres || !parse_u64(one.c_str(), &w) || chunk_problem(w, 0, 1)) {
        std::fprintf(stderr, "quarn-coord bench: bad --where '%s' (at most %d positions)\n", one.c_str(),
                     BenchOptions::max_wheres);
        *status = 2;
        return false;
      }
      b->wheres[b->nwhere++] = w;
      p = comma ? comma + 1 : nullptr;
    }
  }
  if (o[opt_variant].given && !parse_variant(o[opt_variant].text, &b->variant)) {
    std::fprintf(stderr, "quarn-coord bench: unknown variant '%s'\n", o[opt_variant].text);
    *status = 2;
    return false;
  }
  if (o[opt_tier].given && !parse_tier(o[opt_tier].text, &b->tier)) {
    std::fprintf(stderr, "quarn-coord bench: unknown tier '%s'\n", o[opt_tier].text);
    *status = 2;
    return false;
  }
  if (o[opt_seconds].given) {
    b->seconds = std::atof(o[opt_seconds].text);
    if (!(b->seconds > 0 && b->seconds < 3600)) {
      std::fprintf(stderr, "quarn-coord bench: bad --seconds\n");
      *status = 2;
      return false;
    }
  }
  b->unit = o[opt_unit].given;
  return true;
}

// One row per kernel and position: terms per second at the head's start,
// middle and end and over the whole head, cycles per term and the ratio to
// the generic variant (both from the whole head's figure).
void bench_table(const BenchOptions &b, double hz) {
  // Generic first: every other row is compared with it.
  Subject subjects[2 + fast_tier_count];
  int nsubject = 0;
  subjects[nsubject++] = {Variant::generic, -1};
  subjects[nsubject++] = {Variant::pentium, -1};
  for (int t = 0; t < fast_tier_count; ++t) subjects[nsubject++] = {Variant::fast, t};

  std::printf("terms per second at the head's start, middle and end, and over the whole head\n"
              "(%d chunks spread across it); cycles/term and x generic from the whole head's figure\n",
              samples);
  std::printf("%-10s %18s %11s %11s %11s %11s %11s %9s  %s\n", "variant", "where", "start",
              "middle", "end", "head", "cycles/term", "x generic", "tier");
  int saved_tier = kernel.forced_fast_tier;
  for (int w = 0; w < b.nwhere; ++w) {
    double generic_tps = 0;
    for (int s = 0; s < nsubject; ++s) {
      const Subject &sub = subjects[s];
      bool shown = (b.variant < 0 || b.variant == int(sub.variant)) &&
                   (b.tier < 0 || sub.tier < 0 || b.tier == sub.tier);
      // The generic variant is measured even when not shown: the ratios need it.
      if (!shown && sub.variant != Variant::generic) continue;
      if (sub.tier >= 0 && !fast_tier_supported(FastTier(sub.tier))) {
        std::printf("%-10s %18llu %11s %11s %11s %11s %11s %9s  %s: not run, the processor or "
                    "system lacks it\n",
                    variant_name(sub.variant), (unsigned long long)b.wheres[w], "-", "-", "-", "-",
                    "-", "-", tier_text(sub));
        continue;
      }
      kernel.forced_variant = int(sub.variant);
      kernel.forced_fast_tier = sub.tier;
      kernel_init();
      HeadRates h = head_rates(b.wheres[w], int(sub.variant), b.seconds);
      double tps = h.average;
      if (sub.variant == Variant::generic) generic_tps = tps;
      if (!shown) continue;
      std::printf("%-10s %18llu %11.0f %11.0f %11.0f %11.0f %11.1f %9.2f  %s\n",
                  variant_name(sub.variant), (unsigned long long)b.wheres[w], h.start, h.middle,
                  h.end, tps, tps > 0 ? hz / tps : 0.0, generic_tps > 0 ? tps / generic_tps : 0.0,
                  tier_text(sub));
      std::fflush(stdout);
    }
  }
  kernel.forced_variant = -1;
  kernel.forced_fast_tier = saved_tier;
}

}  // namespace

int bench_main(int argc, char **argv) {
  BenchOptions b;
  int status = 0;
  if (!parse_bench_options(argc, argv, &b, &status)) return status;
  cpu_classify();
  Variant chosen = kernel_variant();
  std::printf("processor: %s family %u; dispatch chooses %s%s%s\n",
              kernel.cpu_vendor_string[0] ? kernel.cpu_vendor_string : "(unknown)",
              unsigned(kernel.cpu_family), variant_name(chosen),
              chosen == Variant::fast ? " tier " : "",
              chosen == Variant::fast ? fast_tier_name(fast_tier_in_force()) : "");
  // The start-up check cpu_classify ran, once more to time it.
  auto check_start = std::chrono::steady_clock::now();
  kernel_check();
  std::chrono::duration<double, std::milli> check_ms = std::chrono::steady_clock::now() - check_start;
  std::printf("start-up check: %s (%.3f ms)\n", kernel.check_text, check_ms.count());
  if (b.unit) return time_work_unit();
  double hz = clock_hz();
  std::printf("clock: %.0f MHz (a chain of dependent adds, one per cycle)\n", hz / 1e6);
  bench_table(b, hz);
  return 0;
}
