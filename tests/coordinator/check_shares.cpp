// check_shares.cpp: checks the client's result files against pi with quarn-coord's own reading and summing of result lines: the stretches of one position must cover a range of terms, and their shares, completed by quarn-coord sum's arithmetic, must give the expected hexadecimal digits.
//
// Usage: check_shares WHERE SRT END DIGITS MAX_REPEATS FILE...
// WHERE, SRT, END decimal; DIGITS the hexadecimal digits of pi expected from
// position WHERE on ("-" to only print them); MAX_REPEATS how many lines may
// repeat a stretch that another line already covers (a kill between an
// append and the state write). Lines of other positions are passed over; a
// file that does not exist holds no lines.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "chunk_eval.h"
#include "result_line.h"
#include "sum.h"
#include "wide.h"

namespace {

int fail(const std::string &why) {
  std::fprintf(stderr, "check_shares: %s\n", why.c_str());
  return 1;
}

// Every line the client writes ends in CR LF, the last one included.
bool crlf_only(const char *path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (std::size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) return false;
  return bytes.empty() || bytes.back() == '\n';
}

std::string stretch(const ResultLine &l) {
  return std::to_string(l.srt) + "-" + std::to_string(l.end);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 6) return fail("usage: check_shares WHERE SRT END DIGITS MAX_REPEATS FILE...");
  const uint64_t where = std::strtoull(argv[1], nullptr, 10);
  const uint64_t srt = std::strtoull(argv[2], nullptr, 10);
  const uint64_t end = std::strtoull(argv[3], nullptr, 10);
  const std::string digits = argv[4];
  const std::size_t max_repeats = std::strtoul(argv[5], nullptr, 10);

  std::vector<SourceLine> lines;
  std::vector<BadLine> bad;
  for (int i = 6; i < argc; ++i) {
    if (!std::filesystem::exists(argv[i])) continue;  // a file that never got a line
    if (!crlf_only(argv[i])) return fail(std::string("a line without CR LF in ") + argv[i]);
    read_result_file(argv[i], uint32_t(i - 6), &lines, &bad);
  }
  if (!bad.empty()) return fail("not a result line: " + bad[0].why);

  const PositionCover cover = cover_position(lines, where);
  if (!cover.invalid.empty()) return fail("a line sum refuses: " + stretch(lines[cover.invalid[0]].line));
  if (!cover.conflicts.empty())
    return fail("lines that disagree: " + stretch(lines[cover.conflicts[0].line].line) + " and " +
                stretch(lines[cover.conflicts[0].other].line));
  for (std::size_t i : cover.used)
    if (lines[i].line.srt < srt || lines[i].line.end > end)
      return fail("stretch outside the range: " + stretch(lines[i].line));
  for (const Stretch &g : cover.gaps)
    if (g.srt < end && g.end > srt)
      return fail("the stretches leave terms " + std::to_string(g.srt) + "-" + std::to_string(g.end) +
                  " of the range uncovered");
  if (cover.repeated.size() > max_repeats)
    return fail(std::to_string(cover.repeated.size()) + " repeated stretches, more than " +
                std::to_string(max_repeats));

  // The terms outside the range, the tail, and the bounds: as quarn-coord
  // sum --complete does it.
  prepare_kernel();
  const Completion done = complete_position(cover);
  if (!done.ok) return fail("the kernel refused a term outside the range");
  char found[49];
  wide_hex(done.total.value, 32, found);
  std::printf("check_shares: %zu lines used (%zu repeats dropped), position %llu: %s (%d digits certain)\n",
              cover.used.size(), cover.repeated.size(), (unsigned long long)where, found,
              done.certain_digits);
  if (digits != "-" && (int(digits.size()) > done.certain_digits ||
                        std::string(found).compare(0, digits.size(), digits) != 0))
    return fail(std::string("digits ") + found + " do not start with " + digits);
  return 0;
}
