/*
 * quarn_coord.cpp: the project coordinator's companion tool. Commands:
 *   chunk WHERE SRT END [--variant generic|pentium]   one result line
 *   bench [--where W] [--variant V] [--seconds S]      kernel speed
 */
#include <cstdio>
#include <cstring>

#include "args.h"
#include "bench.h"
#include "chunk_eval.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: quarn-coord chunk WHERE SRT END [--variant generic|pentium]\n"
               "       quarn-coord bench [--where W] [--variant generic|pentium] [--seconds S]\n"
               "Numbers are decimal or 0x-prefixed hexadecimal.\n");
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
      ++i;
      if (!std::strcmp(argv[i], "generic")) variant = int(Variant::generic);
      else if (!std::strcmp(argv[i], "pentium")) variant = int(Variant::pentium);
      else {
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
  if (!std::strcmp(argv[1], "chunk")) return chunk_main(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "bench")) return bench_main(argc - 2, argv + 2);
  return usage();
}
