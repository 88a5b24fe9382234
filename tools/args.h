/*
 * args.h: parsing the companion tool's numbers and options.
 */
#pragma once

#include <cstdint>

// A number in decimal or with a 0x prefix in hexadecimal; false for
// anything else (empty, a sign, stray characters, more than 64 bits).
bool parse_u64(const char *text, uint64_t *value);

// A kernel variant's name ("generic", "pentium" or "fast") as its Variant
// value; false for any other text.
bool parse_variant(const char *text, int *variant);
