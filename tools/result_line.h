/*
 * result_line.h: the client's result lines read back, and the result files
 * that hold them.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One result line: the share of terms [srt, end) at digit position where,
// a 128-bit fraction in four 32-bit limbs, L0 the most significant.
struct ResultLine {
  uint64_t where;
  uint64_t srt;
  uint64_t end;
  uint32_t limbs[4];
};

// The length of a result line without its line end.
constexpr std::size_t result_line_length = 83;

// Parses one line (without its line feed; a carriage return and other
// trailing blanks are ignored). On failure returns false with *why set to a
// fixed text saying what is wrong; the stretch and the position are not
// judged here.
bool parse_result_line(const char *text, std::size_t length, ResultLine *out, const char **why);

// The line as the client writes it, without line end; buf holds 84 bytes.
void format_result_line(const ResultLine &line, char *buf);

// A line of a result file, with where it came from.
struct SourceLine {
  ResultLine line;
  uint32_t file;    // index into the list of file names
  uint32_t number;  // 1-based line number in that file
};

// A line of a result file that could not be read as a result line.
struct BadLine {
  uint32_t file;
  uint32_t number;  // 0 when the file itself could not be read
  std::string why;
};

// Reads every line of a result file (CR LF or LF line ends; blank lines are
// skipped) into lines, and each malformed one into bad. False only when the
// file cannot be read at all (recorded in bad with number 0).
bool read_result_file(const char *path, uint32_t file_index, std::vector<SourceLine> *lines,
                      std::vector<BadLine> *bad);
