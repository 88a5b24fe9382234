/*
 * bench.cpp: terms per second of each kernel variant on one thread, at
 * digit positions of growing size (the cost of a term grows with the bit
 * length of its exponents).
 */
#include "bench.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "args.h"
#include "chunk_eval.h"

namespace {

double now_seconds() {
  using clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

// Terms per second for chunks from term 0 at `where`, doubling the chunk
// until one evaluation takes at least `seconds`.
double terms_per_second(uint64_t where, int variant, double seconds) {
  uint64_t terms = 256;
  uint64_t limit = head_end(where);
  for (;;) {
    if (terms > limit) terms = limit;
    double t0 = now_seconds();
    ChunkResult r = evaluate_chunk(where, 0, terms, variant);
    double dt = now_seconds() - t0;
    if (!r.ok) return 0;
    if (dt >= seconds || terms == limit) return double(terms) / dt;
    terms *= dt > 0.01 ? uint64_t(seconds / dt * 1.2) + 1 : 8;
  }
}

}  // namespace

int bench_main(int argc, char **argv) {
  uint64_t wheres[3] = {100000000ull, 10000000000ull, 1000000000000ull};
  int nwhere = 3;
  int variants[2] = {int(Variant::generic), int(Variant::pentium)};
  int nvariant = 2;
  double seconds = 1.0;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--where") && i + 1 < argc) {
      if (!parse_u64(argv[++i], &wheres[0]) || chunk_problem(wheres[0], 0, 1)) {
        std::fprintf(stderr, "quarn-coord bench: bad --where\n");
        return 2;
      }
      nwhere = 1;
    } else if (!std::strcmp(argv[i], "--variant") && i + 1 < argc) {
      ++i;
      if (!std::strcmp(argv[i], "generic")) variants[0] = int(Variant::generic);
      else if (!std::strcmp(argv[i], "pentium")) variants[0] = int(Variant::pentium);
      else {
        std::fprintf(stderr, "quarn-coord bench: unknown variant '%s'\n", argv[i]);
        return 2;
      }
      nvariant = 1;
    } else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
      if (!(seconds > 0 && seconds < 3600)) {
        std::fprintf(stderr, "quarn-coord bench: bad --seconds\n");
        return 2;
      }
    } else {
      std::fprintf(stderr, "usage: quarn-coord bench [--where W] [--variant generic|pentium] [--seconds S]\n");
      return 2;
    }
  }
  cpu_classify();
  std::printf("processor: %s family %u; dispatch chooses %s\n",
              kernel.cpu_vendor_string[0] ? kernel.cpu_vendor_string : "(unknown)",
              unsigned(kernel.cpu_family), variant_name(kernel_variant()));
  std::printf("%-10s %16s %16s\n", "variant", "where", "terms/s");
  for (int v = 0; v < nvariant; ++v) {
    kernel.forced_variant = variants[v];
    kernel_init();
    for (int w = 0; w < nwhere; ++w) {
      double tps = terms_per_second(wheres[w], variants[v], seconds);
      std::printf("%-10s %16llu %16.0f\n", variant_name(Variant(variants[v])),
                  (unsigned long long)wheres[w], tps);
      std::fflush(stdout);
    }
  }
  kernel.forced_variant = -1;
  return 0;
}
