/*
 * sum.h: adding the result lines of one digit position, checking that
 * they cover the head of the series once, and completing the sum into
 * digits of pi.
 */
#pragma once

#include <cstdint>
#include <vector>

#include "exact.h"
#include "result_file.h"
#include "wide.h"

// A stretch of terms [srt, end).
struct Stretch {
  uint64_t srt;
  uint64_t end;
};

// Two lines that claim the same terms in a way no run of the client can
// produce; `other` is the line kept in the sum that `line` overlaps.
struct Conflict {
  std::size_t line;
  std::size_t other;
  bool same_stretch;  // both cover the same terms but their shares differ
};

// The lines of one position sorted out. Indices refer to the lines given.
struct PositionCover {
  uint64_t where;
  uint64_t head_end;                 // terms [0, head_end) make the head
  std::vector<std::size_t> used;     // summed, in order of their terms
  std::vector<std::size_t> repeated; // reported again from the same start (a kill): dropped
  std::vector<std::size_t> empty;    // no terms and a zero share: nothing to add
  std::vector<std::size_t> invalid;  // outside the head, or empty with a share: refused
  std::vector<Conflict> conflicts;
  std::vector<Stretch> gaps;         // head terms no line covers, in order
  Wide share;                        // the sum of the used lines, modulo 1
  Wide rounding;                     // how far that sum may lie below the truth
};

// Sorts out the lines of position `where` among `lines` (others are not
// looked at). A kill between a line's append and the saving of the
// position makes the client evaluate a stretch again from the same start;
// of lines that share a start, the one whose end continues the coverage
// is used and the rest are dropped as repeats. Lines covering the same
// stretch count as repeats when their shares agree within rounding and as
// a conflict otherwise; a line that starts inside a used line's stretch is
// a conflict.
PositionCover cover_position(const std::vector<SourceLine> &lines, uint64_t where);

// Why a line of position `where` cannot be summed, or nullptr.
const char *line_problem(const ResultLine &line);

// Whether the line is the one a worker writes when it starts without a
// chunk: position 0, nothing covered, zero share.
bool is_startup_line(const ResultLine &line);

// The whole series at one position: the used lines, the head terms they
// leave uncovered (evaluated here with the kernel) and the tail.
struct Completion {
  ShareBound total;        // 2^(4*where - 4) * pi modulo 1, within its bounds
  uint64_t gap_terms;      // head terms evaluated here
  uint64_t tail_terms;     // tail terms summed exactly
  int certain_digits;      // leading hexadecimal digits of total that are sure
  bool ok;                 // false: the kernel refused a gap (never for valid input)
};

// Completes a cover without conflicts. The kernel (cpu_classify and
// kernel_init done) evaluates the gaps in this thread.
Completion complete_position(const PositionCover &cover);

// Prints the lines that could not be read, "FILE:LINE: error: why" (or
// "warning (skipped)"), the first 50 of them, to standard error.
void report_bad_lines(const std::vector<const char *> &files, const std::vector<BadLine> &bad, bool skipped);

// quarn-coord sum FILE... [--where W] [--complete] [--max-uncovered N] [--skip-bad]
int sum_main(int argc, char **argv);
