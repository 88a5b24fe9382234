/*
 * result_line.cpp: the result line written and read strictly, so that a
 * damaged file is named rather than summed.
 */
#include "result_line.h"

#include <cstdio>

#include "hex_text.h"
#include "kernel.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

ResultLine slot_result_line(const WorkSlot *slot) {
  ResultLine line{slot->where, slot->srt_pos, slot->cur_pos, {}};
  slot_limbs(slot, line.limbs);
  return line;
}

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
