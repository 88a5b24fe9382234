/*
 * state_file.h: where "Quarn.ini" lives, the text form of its 64-bit
 * positions, keyed reads and writes with the file's defaults, and the
 * one-time migration of an old copy from the Windows directory.
 */
#pragma once

#include <cstdint>

// Room for a directory and a file name. Longer paths are refused rather
// than cut, so no profile call ever goes to a truncated name.
constexpr uint32_t path_capacity = 1024;

// "%08lX%08lX": exactly 16 upper-case digits and the terminator.
constexpr uint32_t position_text_size = 17;

// Process-wide values of the state file.
struct StateFile {
  // Full path of "Quarn.ini", fixed once at start-up; empty before. Later
  // changes of the current directory do not move it.
  char ini_path[path_capacity];
};
extern StateFile state_file;

// Empties ini_path (tests).
void state_file_reset();

// Fixes ini_path to "<current directory>/Quarn.ini", first migrating an old
// copy from the Windows directory when the current one is not set up. False
// (ini_path left empty) when the current directory cannot be read or the
// path would not fit.
bool locate_state_file();

// The same with the directories given: `windows_dir` null means there is
// none (Linux). Lets a test put a directory in the Windows directory's place.
bool locate_state_file_in(const char *current_dir, const char *windows_dir);

// Copies every key=value entry of every section of `from` into `to` through
// the profile operations, then deletes `from`. Lines of any length are taken
// whole; entries before the first section header are ignored, as the profile
// operations ignore them. `from` is kept when it cannot be read or any write
// fails. False in those cases.
bool migrate_state_file(const char *from, const char *to);

// dir + separator + name into out; false when it would not fit.
bool compose_path(char *out, uint32_t size, const char *dir, const char *name);

// v as 16 upper-case hexadecimal digits, high 32 bits first.
void format_position(uint64_t v, char out[position_text_size]);

// Exactly 16 hexadecimal digits, either case, high half first. Anything else
// (shorter, longer, signs, spaces) is refused: a value split after its
// eighth character would otherwise be misread silently.
bool parse_position(const char *text, uint64_t *v);

// What a group of keyed reads met: set by any read that found its file
// present but unreadable, and so gave its default. One per reader.
struct StateReads {
  bool unreadable = false;
};

// Reads a position key of `path` (default: the state file); a missing key
// yields `def`. False, with *v untouched, when the stored text is not a
// position. Records an unreadable file in *reads when given.
bool read_position(const char *section, const char *key, uint64_t def, uint64_t *v,
                   const char *path = nullptr, StateReads *reads = nullptr);

// Whether every keyed read recorded in `reads` saw its file, and the file at
// `path` (default: the state file) can be read, or is missing. The keyed
// reads give their defaults for a file that exists but cannot be read (also
// for a moment, held by another program), so a reader that must not take
// such a file for an empty one asks this after its reads. A file saved as
// UTF-16 counts as unreadable: its keys would all read as missing.
bool state_readable(const StateReads &reads, const char *path = nullptr);

// Reads a small integer key ("%d"); a missing key yields `def`. Records an
// unreadable file in *reads when given.
int32_t read_int(const char *section, const char *key, int32_t def, const char *path = nullptr,
                 StateReads *reads = nullptr);

// Writes a position ("%08lX%08lX") or a small integer ("%d") to the state
// file. False when the file could not be replaced.
bool write_position(const char *section, const char *key, uint64_t v);
bool write_int(const char *section, const char *key, int32_t v);

// "Thread%d" of a worker's number into out (at least 16 bytes).
void thread_section(int32_t thread_number, char *out, uint32_t size);
