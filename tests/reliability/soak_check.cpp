// soak_check.cpp: the kill soak's judge: whether a state file left by a killed client is whole and loadable, and what the result files cost in repeated and lost terms.
//
// Usage:
//   soak_check state QUARN_INI [RESULT_FILE...]
//     Exit 0 when every line of the state file is one the client writes and
//     every value reads back through the client's own readers; prints
//     "window WHERE START" for each [Thread<n>] section whose stored
//     position is the start of a stretch already reported (the kill fell
//     between a line's append and the position's save, so that stretch
//     will be reported again). Exit 1, naming the line, when the file is
//     torn or damaged.
//   soak_check counters QUARN_INI
//     For a state file the client left when it stopped cleanly: exit 0,
//     printing "counters A B", when [Main] "output0" and "output1" are
//     settled and equal the number of [Thread<n>] sections holding a chunk
//     of output0.txt and of output1.txt (a section's "outputf", 0 when
//     missing). A counter a start got wrong stays wrong by the same amount
//     through every chunk end, so it shows here. Exit 1 on a mismatch.
//   soak_check figures [--windows FILE] RESULT_FILE...
//     Sorts the lines of every position out as quarn-coord sum does and
//     prints, per position and in total, the lines, the repeated stretches,
//     the terms they cover again and the head terms no line covers. Exit 1
//     on an unreadable line, a conflict, an invalid line or a lost term,
//     and with --windows (the "window" lines the state checks printed) on
//     a repeated stretch whose start no kill was seen to leave in the
//     write window.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "kernel.h"
#include "range.h"
#include "result_file.h"
#include "state_file.h"
#include "state_grammar.h"
#include "sum.h"

namespace {

int fail(const std::string &why) {
  std::printf("soak_check: %s\n", why.c_str());
  return 1;
}

// A non-empty stretch already reported, by position and start.
using Starts = std::set<std::pair<uint64_t, uint64_t>>;

Starts reported_starts(const std::vector<const char *> &files) {
  Starts starts;
  for (uint32_t f = 0; f < files.size(); ++f) {
    std::vector<SourceLine> lines;
    std::vector<BadLine> bad;
    read_result_file(files[f], f, &lines, &bad);
    for (const SourceLine &s : lines)
      if (s.line.srt != s.line.end) starts.insert({s.line.where, s.line.srt});
  }
  return starts;
}

// Reads and parses the state file at path; false with *why otherwise.
bool load_state(const char *path, std::vector<StateSection> *sections, std::string *why) {
  std::FILE *f = std::fopen(path, "rb");
  if (!f) {
    *why = std::string(path) + " cannot be opened";
    return false;
  }
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  if (parse_state(text, sections, why)) return true;
  *why = std::string(path) + ": " + *why;
  return false;
}

int check_state(const char *path, const std::vector<const char *> &results) {
  std::vector<StateSection> sections;
  std::string why;
  if (!load_state(path, &sections, &why)) return fail(why);

  // The same values once more through the client's own readers, and the
  // ranges the client would refuse to load.
  const Starts starts = reported_starts(results);
  for (const StateSection &s : sections) {
    const bool main = s.name == "Main";
    uint64_t where = 0, cur = 0, end = 0, srt = 0;
    if (!read_position(s.name.c_str(), "where", main ? 100000000 : 0, &where, path) ||
        !read_position(s.name.c_str(), "cur_pos", 0, &cur, path) ||
        !read_position(s.name.c_str(), "end_pos", main ? 19999744 : 0, &end, path) ||
        !read_position(s.name.c_str(), "srt_pos", 0, &srt, path))
      return fail(std::string(path) + ": [" + s.name + "] does not read back as positions");
    if (cur > end && cur != no_chunk_marker)
      return fail(std::string(path) + ": [" + s.name + "] cur_pos lies beyond end_pos");
    if (cur < end) {
      if (const char *fault = range_fault(where, cur, end))
        return fail(std::string(path) + ": [" + s.name + "] holds a range the client refuses: " + fault);
    }
    if (!main && cur < end && starts.count({where, cur}))
      std::printf("window %016llX %016llX\n", (unsigned long long)where, (unsigned long long)cur);
  }
  return 0;
}

int check_counters(const char *path) {
  std::vector<StateSection> sections;
  std::string why;
  if (!load_state(path, &sections, &why)) return fail(why);
  long held[2] = {0, 0}, stored[2] = {-1, -1};
  bool have[2] = {false, false};
  for (const StateSection &s : sections) {
    if (s.name == "Main") {
      for (int f = 0; f < 2; ++f) {
        auto k = s.keys.find(f == 0 ? "output0" : "output1");
        if (k != s.keys.end()) stored[f] = std::strtol(k->second.c_str(), nullptr, 10), have[f] = true;
      }
      continue;
    }
    auto k = s.keys.find("outputf");
    const long outputf = k == s.keys.end() ? 0 : std::strtol(k->second.c_str(), nullptr, 10);
    if (outputf != 0 && outputf != 1) return fail(std::string(path) + ": [" + s.name + "] outputf is neither 0 nor 1");
    ++held[outputf];
  }
  if (!have[0] || !have[1] || stored[0] < 0 || stored[1] < 0 || stored[0] != held[0] ||
      stored[1] != held[1]) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "COUNTER MISMATCH: [Main] output0=%s output1=%s, but the [Thread<n>] sections "
                  "hold %ld chunk(s) of output0.txt and %ld of output1.txt",
                  have[0] ? std::to_string(stored[0]).c_str() : "(missing)",
                  have[1] ? std::to_string(stored[1]).c_str() : "(missing)", held[0], held[1]);
    return fail(std::string(path) + ": " + text);
  }
  std::printf("counters %ld %ld\n", held[0], held[1]);
  return 0;
}

int figures(const std::vector<const char *> &files, const char *windows_file) {
  // The stretches kills were seen to leave in the write window.
  Starts windows;
  if (windows_file) {
    std::FILE *w = std::fopen(windows_file, "r");
    if (!w) return fail(std::string(windows_file) + " cannot be opened");
    unsigned long long where, start;
    while (std::fscanf(w, " window %llx %llx", &where, &start) == 2) windows.insert({where, start});
    std::fclose(w);
  }
  std::vector<SourceLine> lines;
  std::vector<BadLine> bad;
  for (uint32_t f = 0; f < files.size(); ++f) read_result_file(files[f], f, &lines, &bad);
  bool ok = true;
  for (const BadLine &b : bad) {
    // A file that never got a line is no fault; a torn line is.
    if (b.number == 0) continue;
    std::printf("unreadable: %s:%u: %s\n", files[b.file], b.number, b.why.c_str());
    ok = false;
  }
  std::set<uint64_t> wheres;
  for (const SourceLine &s : lines)
    if (!is_startup_line(s.line)) wheres.insert(s.line.where);

  uint64_t total_lines = 0, repeated = 0, recomputed = 0, lost = 0;
  for (uint64_t w : wheres) {
    if (w == 0 || w >= where_limit) {
      std::printf("invalid: lines of position %llu\n", (unsigned long long)w);
      ok = false;
      continue;
    }
    const PositionCover c = cover_position(lines, w);
    uint64_t again = 0, gaps = 0;
    for (std::size_t i : c.repeated) {
      const SourceLine &l = lines[i];
      again += l.line.end - l.line.srt;
      if (windows_file && !windows.count({l.line.where, l.line.srt})) {
        std::printf("  unexplained repeat: %s:%u: no kill was seen in the write window of this stretch\n",
                    files[l.file], l.number);
        ok = false;
      }
    }
    for (const Stretch &g : c.gaps) gaps += g.end - g.srt;
    std::printf("position %llu: %zu lines, %zu repeated, %llu terms again, %llu terms lost, "
                "%zu conflicts, %zu invalid\n",
                (unsigned long long)w, c.used.size() + c.repeated.size(), c.repeated.size(),
                (unsigned long long)again, (unsigned long long)gaps, c.conflicts.size(),
                c.invalid.size());
    if (!c.conflicts.empty() || !c.invalid.empty() || gaps != 0) ok = false;
    for (std::size_t n = 0; n < c.invalid.size() && n < 10; ++n) {
      const SourceLine &l = lines[c.invalid[n]];
      std::printf("  invalid: %s:%u: %s\n", files[l.file], l.number, line_problem(l.line));
    }
    for (std::size_t n = 0; n < c.conflicts.size() && n < 10; ++n) {
      const SourceLine &a = lines[c.conflicts[n].line], &b = lines[c.conflicts[n].other];
      std::printf("  conflict: %s:%u with %s:%u\n", files[a.file], a.number, files[b.file], b.number);
    }
    for (std::size_t n = 0; n < c.gaps.size() && n < 10; ++n)
      std::printf("  gap: terms [%llu, %llu)\n", (unsigned long long)c.gaps[n].srt,
                  (unsigned long long)c.gaps[n].end);
    total_lines += c.used.size() + c.repeated.size();
    repeated += c.repeated.size();
    recomputed += again;
    lost += gaps;
  }
  std::printf("total: %zu positions, %llu lines, %llu repeated, %llu terms again, %llu terms lost\n",
              wheres.size(), (unsigned long long)total_lines, (unsigned long long)repeated,
              (unsigned long long)recomputed, (unsigned long long)lost);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 3 && std::strcmp(argv[1], "state") == 0)
    return check_state(argv[2], std::vector<const char *>(argv + 3, argv + argc));
  if (argc == 3 && std::strcmp(argv[1], "counters") == 0) return check_counters(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "figures") == 0) {
    if (argc >= 5 && std::strcmp(argv[2], "--windows") == 0)
      return figures(std::vector<const char *>(argv + 4, argv + argc), argv[3]);
    return figures(std::vector<const char *>(argv + 2, argv + argc), nullptr);
  }
  std::fprintf(stderr, "usage: soak_check state QUARN_INI [RESULT_FILE...]\n"
                       "       soak_check counters QUARN_INI\n"
                       "       soak_check figures [--windows FILE] RESULT_FILE...\n");
  return 2;
}
