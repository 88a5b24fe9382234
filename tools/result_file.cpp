/*
 * result_file.cpp: reading result files line by line, so that a damaged line
 * is named rather than summed.
 */
#include "result_file.h"

#include <cstdio>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

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
