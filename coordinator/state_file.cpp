// state_file.cpp: locating and migrating "Quarn.ini" and the text form of its keys.
#include "state_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hex_text.h"
#include "platform.h"

StateFile state_file{};

void state_file_reset() { state_file.ini_path[0] = '\0'; }

static const char *path_or_state(const char *path) { return path ? path : state_file.ini_path; }

bool compose_path(char *out, uint32_t size, const char *dir, const char *name) {
  int n = std::snprintf(out, size, "%s%c%s", dir, path_separator, name);
  if (n < 0 || static_cast<uint32_t>(n) >= size) {
    if (size > 0) out[0] = '\0';
    return false;
  }
  return true;
}

void format_position(uint64_t v, char out[position_text_size]) {
  std::snprintf(out, position_text_size, "%08lX%08lX", static_cast<unsigned long>(v >> 32),
                static_cast<unsigned long>(v & 0xFFFFFFFFu));
}

bool parse_position(const char *text, uint64_t *v) {
  uint64_t value = 0;
  // Stops at an early terminator: it is no digit.
  if (!read_hex(text, 16, &value) || text[16] != '\0') return false;
  *v = value;
  return true;
}

// Notes in *reads a read that met an unreadable file.
static void note_read(ProfileRead how, StateReads *reads) {
  if (reads && how == ProfileRead::unreadable) reads->unreadable = true;
}

bool read_position(const char *section, const char *key, uint64_t def, uint64_t *v,
                   const char *path, StateReads *reads) {
  char def_text[position_text_size];
  format_position(def, def_text);
  // Larger than a position so that an overlong value is seen, not cut.
  char text[40];
  ProfileRead how;
  profile_get_string(section, key, def_text, text, sizeof text, path_or_state(path), &how);
  note_read(how, reads);
  return parse_position(text, v);
}

bool state_readable(const StateReads &reads, const char *path) {
  if (reads.unreadable) return false;
  char *data = nullptr;
  uint32_t size = 0;
  bool missing = false;
  const bool read = file_read_all(path_or_state(path), &data, &size, &missing);
  // Saved as UTF-16 by an editor, its keys read as missing: the stored
  // range would be taken for none and written over.
  const bool utf16 = read && size >= 2 &&
                     ((data[0] == '\xFF' && data[1] == '\xFE') || (data[0] == '\xFE' && data[1] == '\xFF'));
  std::free(data);
  return (read && !utf16) || missing;
}

int32_t read_int(const char *section, const char *key, int32_t def, const char *path,
                 StateReads *reads) {
  ProfileRead how;
  const int32_t v = profile_get_int(section, key, def, path_or_state(path), &how);
  note_read(how, reads);
  return v;
}

bool write_position(const char *section, const char *key, uint64_t v) {
  char text[position_text_size];
  format_position(v, text);
  return profile_write_string(section, key, text, state_file.ini_path);
}

bool write_int(const char *section, const char *key, int32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(v));
  return profile_write_string(section, key, text, state_file.ini_path);
}

void thread_section(int32_t thread_number, char *out, uint32_t size) {
  std::snprintf(out, size, "Thread%d", static_cast<int>(thread_number));
}

// Copies [p, p+n) into a new NUL-terminated string with surrounding blanks
// removed (the profile operations trim names the same way).
static char *trimmed_copy(const char *p, size_t n) {
  while (n > 0 && (*p == ' ' || *p == '\t')) {
    ++p;
    --n;
  }
  while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\t' || p[n - 1] == '\r')) --n;
  char *s = static_cast<char *>(std::malloc(n + 1));
  if (!s) return nullptr;
  std::memcpy(s, p, n);
  s[n] = '\0';
  return s;
}

bool migrate_state_file(const char *from, const char *to) {
  char *data = nullptr;
  uint32_t size = 0;
  bool missing = false;
  if (!file_read_all(from, &data, &size, &missing)) return false;

  bool ok = true;
  char *section = nullptr;  // null until the first header
  const char *p = data;
  // A UTF-8 byte-order mark is no part of the first line, as for the
  // profile reads.
  if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) p += 3;
  const char *end = data + size;
  while (p < end) {
    const char *eol = p;
    while (eol < end && *eol != '\n') ++eol;
    size_t n = static_cast<size_t>(eol - p);
    if (n > 0 && p[n - 1] == '\r') --n;
    if (n > 0 && p[0] == '[') {
      // The name runs from after '[' to the first ']' (or the line's end).
      const char *close = static_cast<const char *>(std::memchr(p + 1, ']', n - 1));
      size_t len = close ? static_cast<size_t>(close - (p + 1)) : n - 1;
      std::free(section);
      section = trimmed_copy(p + 1, len);
      if (!section) ok = false;
    } else if (const char *eq = static_cast<const char *>(std::memchr(p, '=', n))) {
      char *key = trimmed_copy(p, static_cast<size_t>(eq - p));
      if (!key) ok = false;
      if (section && key && key[0] != '\0') {
        // The value cannot be longer than its line, so this buffer never
        // cuts it; it comes back in the form the profile read gives.
        uint32_t cap = static_cast<uint32_t>(n) + 1;
        char *value = static_cast<char *>(std::malloc(cap));
        if (value) {
          profile_get_string(section, key, "", value, cap, from);
          if (!profile_write_string(section, key, value, to)) ok = false;
          std::free(value);
        } else {
          ok = false;
        }
      }
      std::free(key);
    }
    p = eol < end ? eol + 1 : end;
  }
  std::free(section);
  std::free(data);
  // Only a complete copy may replace the original.
  if (ok) file_delete(from);
  return ok;
}

bool locate_state_file_in(const char *current_dir, const char *windows_dir) {
  state_file.ini_path[0] = '\0';
  char here[path_capacity];
  if (!compose_path(here, sizeof here, current_dir, "Quarn.ini")) return false;

  // 77 only marks a missing key: a file without "Trayicon" is not set up.
  constexpr int32_t unset = 77;
  if (windows_dir && profile_get_int("Main", "Trayicon", unset, here) == unset) {
    char old_copy[path_capacity];
    if (compose_path(old_copy, sizeof old_copy, windows_dir, "Quarn.ini") &&
        profile_get_int("Main", "Trayicon", unset, old_copy) != unset)
      migrate_state_file(old_copy, here);
  }
  std::memcpy(state_file.ini_path, here, sizeof here);
  return true;
}

bool locate_state_file() {
  char current_dir[path_capacity];
  if (!current_directory(current_dir, sizeof current_dir)) return false;
  char windows_dir[path_capacity];
  bool have_windows = windows_directory(windows_dir, sizeof windows_dir);
  return locate_state_file_in(current_dir, have_windows ? windows_dir : nullptr);
}
