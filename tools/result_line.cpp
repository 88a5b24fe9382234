/*
 * result_line.cpp: reading result lines strictly, so that a damaged file is
 * named rather than summed.
 */
#include "result_line.h"

#include <cstdio>

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads `count` hexadecimal digits at text; false if any is not one.
bool read_hex(const char *text, int count, uint64_t *value) {
  uint64_t v = 0;
  for (int i = 0; i < count; ++i) {
    int d = hex_value(text[i]);
    if (d < 0) return false;
    v = v << 4 | uint64_t(d);
  }
  *value = v;
  return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

bool parse_result_line(const char *text, std::size_t length, ResultLine *out, const char **why) {
  while (length > 0 && is_blank(text[length - 1])) --length;
  if (length < result_line_length) {
    *why = "truncated: a result line has 83 characters";
    return false;
  }
  if (length > result_line_length) {
    *why = "too long: a result line has 83 characters";
    return false;
  }
  // Fields: where, srt, end (16 digits each, comma after), share (32 digits).
  uint64_t field[3];
  for (int f = 0; f < 3; ++f) {
    if (!read_hex(text + 17 * f, 16, &field[f])) {
      *why = f == 0 ? "the position (first field) is not 16 hexadecimal digits"
             : f == 1 ? "the stretch's start (second field) is not 16 hexadecimal digits"
                      : "the stretch's end (third field) is not 16 hexadecimal digits";
      return false;
    }
    if (text[17 * f + 16] != ',') {
      *why = "a field is not followed by a comma";
      return false;
    }
  }
  uint64_t share[2];
  if (!read_hex(text + 51, 16, &share[0]) || !read_hex(text + 67, 16, &share[1])) {
    *why = "the share (fourth field) is not 32 hexadecimal digits";
    return false;
  }
  out->where = field[0];
  out->srt = field[1];
  out->end = field[2];
  out->limbs[0] = uint32_t(share[0] >> 32);
  out->limbs[1] = uint32_t(share[0]);
  out->limbs[2] = uint32_t(share[1] >> 32);
  out->limbs[3] = uint32_t(share[1]);
  return true;
}

void format_result_line(const ResultLine &l, char *buf) {
  std::snprintf(buf, result_line_length + 1, "%08lX%08lX,%08lX%08lX,%08lX%08lX,%08lX%08lX%08lX%08lX",
                (unsigned long)(l.where >> 32), (unsigned long)(uint32_t)l.where,
                (unsigned long)(l.srt >> 32), (unsigned long)(uint32_t)l.srt,
                (unsigned long)(l.end >> 32), (unsigned long)(uint32_t)l.end,
                (unsigned long)l.limbs[0], (unsigned long)l.limbs[1], (unsigned long)l.limbs[2],
                (unsigned long)l.limbs[3]);
}

bool read_result_file(const char *path, uint32_t file_index, std::vector<SourceLine> *lines,
                      std::vector<BadLine> *bad) {
  std::FILE *f = std::fopen(path, "rb");
  if (!f) {
    bad->push_back({file_index, 0, "cannot be opened"});
    return false;
  }
  std::string text;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    bad->push_back({file_index, 0, "cannot be read"});
    return false;
  }
  uint32_t number = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    ++number;
    const char *start = text.data() + pos;
    std::size_t length = eol - pos;
    pos = eol + 1;
    std::size_t visible = length;
    while (visible > 0 && is_blank(start[visible - 1])) --visible;
    if (visible == 0) continue;
    SourceLine s{};
    s.file = file_index;
    s.number = number;
    const char *why = nullptr;
    if (parse_result_line(start, length, &s.line, &why)) lines->push_back(s);
    else bad->push_back({file_index, number, why});
  }
  return true;
}
