/*
 * profile.h: the profile (INI) file service, with the Win32 private-profile
 * semantics, over the file service. One portable implementation, profile.cpp.
 */
#pragma once

#include <cstdint>

// Sections and keys match without regard to case, the first match wins,
// names and values are trimmed, a value in matching quotes loses them.

// What one read found. A file that exists but cannot be read (also for a
// moment, held by another program) gives the default like a missing key:
// only `how` tells the two apart.
enum class ProfileRead : int {
  found,       // the key, in its section of a file that was read
  missing,     // no such file, section or key: the default
  unreadable,  // the file exists but could not be read: the default
};

// Copies the value (or `def` when the file, section or key is missing), cut
// to size - 1 characters; returns the number of characters copied and, when
// `how` is given, what the read found.
uint32_t profile_get_string(const char *section, const char *key, const char *def, char *buf,
                            uint32_t size, const char *path, ProfileRead *how = nullptr);
// The value's leading decimal number (as GetPrivateProfileIntA), or `def`;
// `how` as for profile_get_string.
int32_t profile_get_int(const char *section, const char *key, int32_t def, const char *path,
                        ProfileRead *how = nullptr);
// Replaces or adds the key, creating section and file as needed; the file is
// replaced atomically. False when the new file could not be written.
bool profile_write_string(const char *section, const char *key, const char *value,
                          const char *path);
