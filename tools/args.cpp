/*
 * args.cpp: number parsing for the companion tool.
 */
#include "args.h"

#include <cstring>

#include "hex_text.h"
#include "kernel.h"

bool parse_u64(const char *text, uint64_t *value) {
  if (!text || !*text) return false;
  unsigned base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text += 2;
    if (!*text) return false;
  }
  uint64_t v = 0;
  for (; *text; ++text) {
    const int h = hex_value(*text);
    if (h < 0 || unsigned(h) >= base) return false;
    const unsigned d = unsigned(h);
    if (v > (UINT64_MAX - d) / base) return false;
    v = v * base + d;
  }
  *value = v;
  return true;
}

bool parse_variant(const char *text, int *variant) {
  static const Variant variants[] = {Variant::generic, Variant::pentium, Variant::fast};
  for (Variant v : variants) {
    if (text && std::strcmp(text, variant_name(v)) == 0) {
      *variant = int(v);
      return true;
    }
  }
  return false;
}
