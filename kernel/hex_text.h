/*
 * hex_text.h: hexadecimal digits as every file of the program holds them
 * (positions in the state file and work units, the fields of result lines).
 */
#pragma once

#include <cstdint>

// The value of one hexadecimal digit of either case, or -1.
constexpr int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads `count` hexadecimal digits at text into *value; false, leaving
// *value alone, if any is not one (a terminator included).
inline bool read_hex(const char *text, int count, uint64_t *value) {
  uint64_t v = 0;
  for (int i = 0; i < count; ++i) {
    int d = hex_value(text[i]);
    if (d < 0) return false;
    v = v << 4 | uint64_t(d);
  }
  *value = v;
  return true;
}
