/*
 * result_line.h: the result line, the one record the client hands back:
 * "%08lX%08lX,%08lX%08lX,%08lX%08lX,%08lX%08lX%08lX%08lX", the position, the
 * stretch [srt, end) and the share as four 32-bit limbs. Written by the
 * coordinator, read back by quarn-coord and the tests.
 */
#pragma once

#include <cstddef>
#include <cstdint>

struct WorkSlot;

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

// The line of a finished slot (after kernel_finish): its position, the
// stretch [srt_pos, cur_pos) and its limbs.
ResultLine slot_result_line(const WorkSlot *slot);

// The line as the client writes it, without line end; buf holds 84 bytes.
void format_result_line(const ResultLine &line, char *buf);

// Parses one line (without its line feed; a carriage return and other
// trailing blanks are ignored). On failure returns false with *why set to a
// fixed text saying what is wrong; the stretch and the position are not
// judged here.
bool parse_result_line(const char *text, std::size_t length, ResultLine *out, const char **why);
