// result_line_fuzz.cpp: any bytes as a result line and as a result file, read as quarn-coord sum reads them; a line taken must format back to itself, and each position's cover must tile its head with used lines and gaps.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "kernel.h"
#include "result_file.h"
#include "sum.h"

namespace {

char upper(char c) { return (c >= 'a' && c <= 'f') ? char(c - 'a' + 'A') : c; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz_scratch();
  // The bytes as one line, read straight from the fuzzer's buffer, so that
  // a read past its end is caught.
  const char *text = reinterpret_cast<const char *>(data);
  ResultLine line{};
  const char *why = nullptr;
  if (parse_result_line(text, size, &line, &why)) {
    char back[result_line_length + 1];
    format_result_line(line, back);
    for (std::size_t i = 0; i < result_line_length; ++i)
      fuzz_require(back[i] == upper(text[i]), "a line taken formats back to itself");
    for (std::size_t i = result_line_length; i < size; ++i)
      fuzz_require(text[i] == ' ' || text[i] == '\t' || text[i] == '\r', "only blanks follow a line");
  } else {
    fuzz_require(why != nullptr && why[0] != '\0', "a refused line has a reason");
  }

  // The bytes as a file of lines.
  fuzz_write_file("output0.txt", data, size);
  std::vector<SourceLine> lines;
  std::vector<BadLine> bad;
  fuzz_require(read_result_file("output0.txt", 0, &lines, &bad), "a file that exists is read");
  std::set<uint64_t> wheres;
  for (const SourceLine &s : lines)
    if (s.line.where != 0 && s.line.where < where_limit) wheres.insert(s.line.where);
  for (uint64_t w : wheres) {
    const PositionCover c = cover_position(lines, w);
    std::vector<std::pair<uint64_t, uint64_t>> pieces;
    for (std::size_t i : c.used) pieces.emplace_back(lines[i].line.srt, lines[i].line.end);
    for (const Stretch &g : c.gaps) pieces.emplace_back(g.srt, g.end);
    std::sort(pieces.begin(), pieces.end());
    uint64_t at = 0;
    for (const auto &[srt, end] : pieces) {
      fuzz_require(srt == at && end > srt, "used lines and gaps follow each other");
      at = end;
    }
    fuzz_require(at == c.head_end, "used lines and gaps reach the end of the head");
    const auto of_w = std::count_if(lines.begin(), lines.end(),
                                    [w](const SourceLine &s) { return s.line.where == w; });
    fuzz_require(std::size_t(of_w) == c.used.size() + c.repeated.size() + c.empty.size() +
                                          c.invalid.size() + c.conflicts.size(),
                 "every line of the position is sorted out once");
  }
  return 0;
}
