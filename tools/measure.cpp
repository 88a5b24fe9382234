/*
 * measure.cpp: quarn-coord rounding: how far each variant's line falls
 * short of the true share, beside the bound that sum and verify use.
 */
#include "measure.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "args.h"
#include "chunk_eval.h"
#include "exact.h"
#include "rounding.h"
#include "wide.h"

int64_t shortfall(const uint32_t target[4], const uint32_t value[4]) {
  Wide d = wide_sub(wide_from_limbs(target), wide_from_limbs(value));
  bool negative = d.d[0] & 0x80000000u;
  Wide m = negative ? wide_sub(Wide{}, d) : d;
  uint64_t u = (m.d[0] || m.d[1] || (m.d[2] & 0x80000000u)) ? (uint64_t(1) << 63) - 1
                                                           : uint64_t(m.d[2]) << 32 | m.d[3];
  return negative ? -int64_t(u) : int64_t(u);
}

int rounding_main(int argc, char **argv) {
  CommandOption options[] = {
      {"--exact", OptionKind::flag, "also the exact share, to the bit (slow)", false, 0, nullptr},
  };
  CommandSyntax syntax = {"rounding", "rounding WHERE SRT END [--exact]",
                      "Shows how far each variant's line for terms [SRT, END) falls short of the others.",
                      options, 1, 3, 3};
  std::vector<const char *> pos;
  const ParseOutcome parsed = parse_command(&syntax, argc, argv, &pos);
  if (parsed != ParseOutcome::ok) return parse_exit_status(parsed);
  const bool exact = options[0].given;
  uint64_t v[3];
  for (int i = 0; i < 3; ++i)
    if (!parse_u64(pos[i], &v[i])) return command_usage(syntax);
  if (const char *problem = chunk_problem(v[0], v[1], v[2])) {
    std::fprintf(stderr, "quarn-coord rounding: %s\n", problem);
    return 2;
  }
  const uint64_t terms = v[2] - v[1];
  prepare_kernel();
  ChunkResult g = evaluate_chunk(v[0], v[1], v[2], int(Variant::generic));
  ChunkResult p = evaluate_chunk(v[0], v[1], v[2], int(Variant::pentium));
  if (!g.ok || !p.ok) {
    std::fprintf(stderr, "quarn-coord rounding: the kernel refused an exponent\n");
    return 1;
  }
  std::printf("generic  %s\npentium  %s\n", g.line, p.line);
  std::printf("pentium - generic: %lld units of 2^-128 (generic bound %llu, pentium bound %llu)\n",
              (long long)shortfall(p.limbs, g.limbs), (unsigned long long)generic_line_bound(terms),
              (unsigned long long)pentium_line_bound(terms));
  const Variant dispatched = kernel_variant();
  ChunkResult d = p;
  if (dispatched != Variant::generic && dispatched != Variant::pentium) {
    d = evaluate_chunk(v[0], v[1], v[2], -1);
    std::printf("%-8s %s\npentium - %s: %lld units of 2^-128 (bound %llu)\n", variant_name(dispatched),
                d.line, variant_name(dispatched), (long long)shortfall(p.limbs, d.limbs),
                (unsigned long long)fast_line_bound(terms));
  }
  if (exact) {
    // The exact share lies in [value, value + one unit of 2^-192 per part]:
    // its 128-bit floor is exact unless that interval crosses a unit of
    // 2^-128, which the report would show as a shortfall off by one.
    ShareBound s = exact_share(v[0], v[1], v[2]);
    uint32_t e[4] = {s.value.d[0], s.value.d[1], s.value.d[2], s.value.d[3]};
    std::printf("exact - generic: %lld, exact - pentium: %lld, exact - %s: %lld units of 2^-128\n",
                (long long)shortfall(e, g.limbs), (long long)shortfall(e, p.limbs),
                variant_name(dispatched), (long long)shortfall(e, d.limbs));
  }
  return 0;
}
