/*
 * result_file.h: the client's result files read back, line by line.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "result_line.h"

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
