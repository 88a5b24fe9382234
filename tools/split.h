/*
 * split.h: cutting the head of the series at one position into work units
 * for the clients.
 */
#pragma once

#include <cstdint>
#include <string>

// Terms in a work unit that keeps one processor busy for about a day at
// position where: a multiple of 2^28 (the client's chunk size) when that
// large, and always even.
uint64_t default_unit_terms(uint64_t where);

// The file name of unit `index` (1-based) of position where, padded to
// `width` digits: "Range<where as 16 hex digits>-<index>.ini", so that the
// client, which takes units in byte order of their names, takes them in
// order of position and then of terms.
std::string work_unit_name(uint64_t where, uint64_t index, int width);

// Writes a work unit file as the client reads it ([Main] Where, srt_pos,
// end_pos as 16 upper-case hexadecimal digits, CR LF line ends). False if
// the file could not be written whole.
bool write_work_unit(const char *path, uint64_t where, uint64_t srt, uint64_t end);

// quarn-coord split WHERE [--terms N] [--dir D] [--from A] [--to B]
int split_main(int argc, char **argv);
