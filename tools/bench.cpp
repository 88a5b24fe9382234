/*
 * bench.cpp: terms per second of each kernel variant (and of each tier of
 * the fast variant) on one thread, at digit positions of growing size (the
 * cost of a term grows with the bit length of its exponents), with clock
 * cycles per term from a clock calibrated in the same run and the ratio of
 * each to the generic variant.
 */
#include "bench.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "args.h"
#include "chunk_eval.h"
#include "clock.h"

namespace {

// Terms per second for chunks from term 0 at `where`, doubling the chunk
// until one evaluation takes at least `seconds`.
double terms_per_second(uint64_t where, int variant, double seconds) {
  uint64_t terms = 256;
  uint64_t limit = head_end(where);
  for (;;) {
    if (terms > limit) terms = limit;
    double t0 = process_seconds();
    ChunkResult r = evaluate_chunk(where, 0, terms, variant);
    double dt = process_seconds() - t0;
    if (!r.ok) return 0;
    if (dt >= seconds || terms == limit) return double(terms) / dt;
    terms *= dt > 0.01 ? uint64_t(seconds / dt * 1.2) + 1 : 8;
  }
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

}  // namespace

int bench_main(int argc, char **argv) {
  uint64_t wheres[3] = {100000000ull, 10000000000ull, 1000000000000ull};
  int nwhere = 3;
  int chosen_variant = -1, chosen_tier = -1;
  double seconds = 1.0;
  bool unit = false;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--where") && i + 1 < argc) {
      if (!parse_u64(argv[++i], &wheres[0]) || chunk_problem(wheres[0], 0, 1)) {
        std::fprintf(stderr, "quarn-coord bench: bad --where\n");
        return 2;
      }
      nwhere = 1;
    } else if (!std::strcmp(argv[i], "--variant") && i + 1 < argc) {
      if (!parse_variant(argv[++i], &chosen_variant)) {
        std::fprintf(stderr, "quarn-coord bench: unknown variant '%s'\n", argv[i]);
        return 2;
      }
    } else if (!std::strcmp(argv[i], "--tier") && i + 1 < argc) {
      if (!parse_tier(argv[++i], &chosen_tier)) {
        std::fprintf(stderr, "quarn-coord bench: unknown tier '%s'\n", argv[i]);
        return 2;
      }
    } else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
      if (!(seconds > 0 && seconds < 3600)) {
        std::fprintf(stderr, "quarn-coord bench: bad --seconds\n");
        return 2;
      }
    } else if (!std::strcmp(argv[i], "--unit")) {
      unit = true;
    } else {
      std::fprintf(stderr,
                   "usage: quarn-coord bench [--where W] [--variant generic|pentium|fast]\n"
                   "                         [--tier scalar|avx2|ifma] [--seconds S] [--unit]\n");
      return 2;
    }
  }
  cpu_classify();
  Variant chosen = kernel_variant();
  std::printf("processor: %s family %u; dispatch chooses %s%s%s\n",
              kernel.cpu_vendor_string[0] ? kernel.cpu_vendor_string : "(unknown)",
              unsigned(kernel.cpu_family), variant_name(chosen),
              chosen == Variant::fast ? " tier " : "",
              chosen == Variant::fast ? fast_tier_name(fast_tier_in_force()) : "");
  if (unit) return time_work_unit();
  double hz = clock_hz();
  std::printf("clock: %.0f MHz (a chain of dependent adds, one per cycle)\n", hz / 1e6);

  // Generic first: every other row is compared with it.
  Subject subjects[2 + fast_tier_count];
  int nsubject = 0;
  subjects[nsubject++] = {Variant::generic, -1};
  subjects[nsubject++] = {Variant::pentium, -1};
  for (int t = 0; t < fast_tier_count; ++t) subjects[nsubject++] = {Variant::fast, t};

  std::printf("%-10s %16s %16s %12s %10s  %s\n", "variant", "where", "terms/s", "cycles/term",
              "x generic", "tier");
  int saved_tier = kernel.forced_fast_tier;
  for (int w = 0; w < nwhere; ++w) {
    double generic_tps = 0;
    for (int s = 0; s < nsubject; ++s) {
      const Subject &sub = subjects[s];
      bool shown = (chosen_variant < 0 || chosen_variant == int(sub.variant)) &&
                   (chosen_tier < 0 || sub.tier < 0 || chosen_tier == sub.tier);
      // The generic variant is measured even when not shown: the ratios need it.
      if (!shown && sub.variant != Variant::generic) continue;
      if (sub.tier >= 0 && !fast_tier_supported(FastTier(sub.tier))) {
        std::printf("%-10s %16llu %16s %12s %10s  %s: not run, the processor or system lacks it\n",
                    variant_name(sub.variant), (unsigned long long)wheres[w], "-", "-", "-",
                    tier_text(sub));
        continue;
      }
      kernel.forced_variant = int(sub.variant);
      kernel.forced_fast_tier = sub.tier;
      kernel_init();
      double tps = terms_per_second(wheres[w], int(sub.variant), seconds);
      if (sub.variant == Variant::generic) generic_tps = tps;
      if (!shown) continue;
      std::printf("%-10s %16llu %16.0f %12.1f %10.2f  %s\n", variant_name(sub.variant),
                  (unsigned long long)wheres[w], tps, tps > 0 ? hz / tps : 0.0,
                  generic_tps > 0 ? tps / generic_tps : 0.0, tier_text(sub));
      std::fflush(stdout);
    }
  }
  kernel.forced_variant = -1;
  kernel.forced_fast_tier = saved_tier;
  return 0;
}
