// profile.cpp: INI (private profile) reads and writes over file_read_all and file_replace, the same on both platforms.
#include "fault.h"
#include "files.h"
#include "fold.h"
#include "profile.h"
#include "threads.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Writes are read-modify-write of the whole file, so two threads writing at
// once would lose one key; the system's own profile functions hold a lock
// for the same reason. A spin on an atomic flag, because the Win32 build may
// not use std::mutex and writes are rare and short.
struct ProfileState {
  std::atomic_flag writing = ATOMIC_FLAG_INIT;
};

ProfileState profile_state;

// A piece of the file or of a caller's text; not NUL-terminated, may hold NULs.
struct Span {
  const char *p;
  uint32_t n;
};

// What the system's profile functions treat as white space around names and
// values (^Z included: files cut by old editors end with it).
bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1a';
}

Span trim(Span s) {
  while (s.n > 0 && is_blank(s.p[0])) {
    ++s.p;
    --s.n;
  }
  while (s.n > 0 && is_blank(s.p[s.n - 1])) --s.n;
  return s;
}

Span trimmed(const char *text) { return trim(Span{text, static_cast<uint32_t>(std::strlen(text))}); }


bool same_name(Span a, Span b) {
  if (a.n != b.n) return false;
  for (uint32_t i = 0; i < a.n; ++i)
    if (fold(a.p[i]) != fold(b.p[i])) return false;
  return true;
}

// Walks the lines of a file. A line ends at CR LF, LF or a lone CR (the
// system's reader accepts all three); the last line may have no end.
struct LineCursor {
  const char *data;
  uint32_t size;
  uint32_t pos;
};

bool next_line(LineCursor &c, Span &line) {
  if (c.pos >= c.size) return false;
  uint32_t i = c.pos;
  while (i < c.size && c.data[i] != '\n' && c.data[i] != '\r') ++i;
  line = Span{c.data + c.pos, i - c.pos};
  if (i < c.size && c.data[i] == '\r') ++i;
  if (i < c.size && c.data[i] == '\n') ++i;
  c.pos = i;
  return true;
}

enum class LineKind { blank, comment, header, entry, other };

struct ParsedLine {
  LineKind kind;
  Span name;   // section name (header) or key (entry), trimmed
  Span value;  // entry only, trimmed, quotes still on
};

ParsedLine parse_line(Span line) {
  Span t = trim(line);
  ParsedLine pl{LineKind::other, Span{t.p, 0}, Span{t.p, 0}};
  if (t.n == 0) {
    pl.kind = LineKind::blank;
    return pl;
  }
  if (t.p[0] == ';') {
    pl.kind = LineKind::comment;
    return pl;
  }
  if (t.p[0] == '[') {
    // The name runs to the last ']' of the line, as the system's reader
    // takes it; a '[' line without one is not a header.
    uint32_t close = t.n;
    while (close > 1 && t.p[close - 1] != ']') --close;
    if (close > 1) {
      pl.kind = LineKind::header;
      pl.name = trim(Span{t.p + 1, close - 2});
      return pl;
    }
  }
  const void *eq = std::memchr(t.p, '=', t.n);
  if (!eq) return pl;
  uint32_t k = static_cast<uint32_t>(static_cast<const char *>(eq) - t.p);
  pl.kind = LineKind::entry;
  pl.name = trim(Span{t.p, k});
  pl.value = trim(Span{t.p + k + 1, t.n - k - 1});
  return pl;
}

Span strip_quotes(Span v) {
  if (v.n >= 2 && (v.p[0] == '"' || v.p[0] == '\'') && v.p[v.n - 1] == v.p[0])
    return Span{v.p + 1, v.n - 2};
  return v;
}

// An editor's UTF-8 byte-order mark at the start of the file is no part of
// the first line: otherwise the first section's header would go unseen, its
// keys would read as missing and a write would add the section a second
// time. Writes keep the mark.
uint32_t bom_length(const char *data, uint32_t size) {
  return size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
}

// The value of the first `key` in the first section named `section`; lines
// before the first header belong to no section and are never found.
bool find_value(const char *data, uint32_t size, Span section, Span key, Span &value) {
  LineCursor c{data, size, bom_length(data, size)};
  Span line;
  bool in = false;
  while (next_line(c, line)) {
    ParsedLine pl = parse_line(line);
    if (pl.kind == LineKind::header) {
      if (in) return false;  // left the first matching section
      in = same_name(pl.name, section);
    } else if (in && pl.kind == LineKind::entry && same_name(pl.name, key)) {
      value = strip_quotes(pl.value);
      return true;
    }
  }
  return false;
}

void append(std::string &out, Span s) { out.append(s.p, s.n); }

}  // namespace

uint32_t profile_get_string(const char *section, const char *key, const char *def, char *buf,
                            uint32_t size, const char *path, ProfileRead *how) {
  if (how) *how = ProfileRead::missing;
  if (!buf || size == 0) return 0;
  char *data = nullptr;
  uint32_t data_size = 0;
  bool missing = false;
  Span value{"", 0};
  bool found = false;
  if (section && key && path) {
    if (file_read_all(path, &data, &data_size, &missing))
      found = find_value(data, data_size, trimmed(section), trimmed(key), value);
    else if (!missing && how)
      *how = ProfileRead::unreadable;
    if (found && how) *how = ProfileRead::found;
  }
  if (!found) {
    // The default loses its trailing blanks, as the system's function does.
    value = Span{def ? def : "", def ? static_cast<uint32_t>(std::strlen(def)) : 0u};
    while (value.n > 0 && value.p[value.n - 1] == ' ') --value.n;
  }
  // A NUL inside the line ends the value: the caller gets a C string.
  if (const void *nul = std::memchr(value.p, 0, value.n))
    value.n = static_cast<uint32_t>(static_cast<const char *>(nul) - value.p);
  uint32_t n = value.n < size - 1 ? value.n : size - 1;
  std::memcpy(buf, value.p, n);
  buf[n] = 0;
  std::free(data);
  return n;
}

int32_t profile_get_int(const char *section, const char *key, int32_t def, const char *path,
                        ProfileRead *how) {
  // The system reads the value into 30 characters and parses what it got:
  // an empty value gives the default, anything else its leading number.
  char buf[30];
  if (profile_get_string(section, key, "", buf, sizeof buf, path, how) == 0 || buf[0] == 0) return def;
  const unsigned char *s = reinterpret_cast<const unsigned char *>(buf);
  while (*s && *s <= ' ') ++s;
  bool minus = false;
  if (*s == '+') {
    ++s;
  } else if (*s == '-') {
    minus = true;
    ++s;
  }
  // Lower-case "0x", "0o" and "0b" select another base, as in the system's
  // parser; decimal otherwise.
  uint32_t base = 10;
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'o' || s[1] == 'b')) {
    base = s[1] == 'x' ? 16 : s[1] == 'o' ? 8 : 2;
    s += 2;
  }
  uint32_t total = 0;  // wraps modulo 2^32 like the system's parser
  for (;; ++s) {
    uint32_t digit;
    if (*s >= '0' && *s <= '9') digit = *s - '0';
    else if (*s >= 'a' && *s <= 'z') digit = *s - 'a' + 10;
    else if (*s >= 'A' && *s <= 'Z') digit = *s - 'A' + 10;
    else break;
    if (digit >= base) break;
    total = total * base + digit;
  }
  return static_cast<int32_t>(minus ? 0u - total : total);
}

bool profile_write_string(const char *section, const char *key, const char *value,
                          const char *path) {
  if (fault_hit(PlatformOp::profile_write_string)) return false;
  if (!section || !path) return false;

  while (profile_state.writing.test_and_set(std::memory_order_acquire)) thread_yield();

  char *data = nullptr;
  uint32_t size = 0;
  bool missing = false;
  if (!file_read_all(path, &data, &size, &missing) && !missing) {
    // Unreadable but present: rewriting it from nothing would lose it.
    profile_state.writing.clear(std::memory_order_release);
    return false;
  }

  Span want_section = trimmed(section);
  Span want_key = key ? trimmed(key) : Span{"", 0};
  // The value is written from its first non-blank character and ends at a
  // line break, so that it stays one line and reads back as written.
  Span new_value{"", 0};
  if (value) {
    while (is_blank(*value)) ++value;
    new_value = Span{value, static_cast<uint32_t>(std::strcspn(value, "\r\n"))};
  }

  // Every line is kept as it is (with CR LF as its end) except the one key
  // line replaced or removed; a null key removes the whole section.
  std::string out;
  out.reserve(size + want_section.n + want_key.n + new_value.n + 16);
  LineCursor c{data, size, bom_length(data, size)};
  out.append(data, c.pos);
  Span line;
  bool in = false;       // inside the first section named `section`
  bool seen = false;     // that section has been met
  bool done = false;     // the key line has been replaced or removed
  bool last_blank = true;
  size_t insert_at = 0;  // after the section's header or its last key line
  while (next_line(c, line)) {
    ParsedLine pl = parse_line(line);
    if (pl.kind == LineKind::header) {
      in = !seen && same_name(pl.name, want_section);
      seen = seen || in;
    }
    if (in && !key) continue;
    if (in && pl.kind == LineKind::entry && !done && same_name(pl.name, want_key)) {
      done = true;
      if (!value) continue;
      append(out, pl.name);
      out += '=';
      append(out, new_value);
      out += "\r\n";
      insert_at = out.size();
      last_blank = false;
      continue;
    }
    append(out, line);
    out += "\r\n";
    last_blank = pl.kind == LineKind::blank;
    if (in && (pl.kind == LineKind::header || pl.kind == LineKind::entry)) insert_at = out.size();
  }

  if (key && value && !done) {
    std::string entry(want_key.p, want_key.n);
    entry += '=';
    append(entry, new_value);
    entry += "\r\n";
    if (seen) {
      out.insert(insert_at, entry);
    } else {
      // A new section goes at the end, after a blank line unless the file
      // is empty or already ends with one.
      if (!out.empty() && !last_blank) out += "\r\n";
      out += '[';
      append(out, want_section);
      out += "]\r\n";
      out += entry;
    }
  }

  bool ok = true;
  if (out.size() != size || (size > 0 && std::memcmp(out.data(), data, size) != 0))
    ok = file_replace(path, out.data(), static_cast<uint32_t>(out.size()));
  std::free(data);
  profile_state.writing.clear(std::memory_order_release);
  return ok;
}
