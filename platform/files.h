/*
 * files.h: the file service: the current and Windows directories, searching,
 * deleting, renaming, appending a line, and reading and replacing whole files.
 * Implemented in win32/files.cpp and posix/files.cpp; the name matching both
 * share is match.cpp.
 */
#pragma once

#include <cstdint>

// The path separator used when composing "%s<sep>%s" ('\\' on Windows,
// '/' elsewhere; each platform's files.cpp defines it).
extern const char path_separator;

// The current directory into buf; false if it does not fit or cannot be read.
bool current_directory(char *buf, uint32_t size);
// The Windows directory into buf; false where there is none (Linux).
bool windows_directory(char *buf, uint32_t size);
// The first regular file in `dir` whose name matches `pattern` ('*' and '?',
// without regard to case as on Windows), in a stable order (byte order of the
// names); its name (not path) into name. False when there is none.
bool file_find_first(const char *dir, const char *pattern, char *name, uint32_t size);
// As file_find_first, among the names that come after `after` in that order
// (all of them when `after` is null): starting from a name found, it walks
// through every match once.
bool file_find_after(const char *dir, const char *pattern, const char *after, char *name,
                     uint32_t size);
// Whether a regular file exists at path.
bool file_exists(const char *path);
bool file_delete(const char *path);
// Renames, replacing an existing target.
bool file_rename(const char *from, const char *to);
// Appends `line` and a CR LF to the file (created if missing) and flushes it
// to disk before returning. False if any byte could not be written.
bool file_append_line(const char *path, const char *line);
// Reads a whole file into a newly allocated buffer (NUL-terminated, *size
// without the NUL); the caller frees it with std::free. False if the file is
// missing or unreadable; *missing tells which.
bool file_read_all(const char *path, char **data, uint32_t *size, bool *missing);
// Replaces the file with `data` atomically: a temporary file beside it is
// written, flushed to disk and renamed over it, so a reader (or a crash) sees
// either the old or the new contents, never a mix.
bool file_replace(const char *path, const char *data, uint32_t size);


// Whether `name` matches `pattern` ('*' any run, '?' one character), without
// regard to case; both platforms filter file searches through it so that they
// agree.
bool name_matches(const char *pattern, const char *name);
