/*
 * project.cpp: the work generator, the validator's and the assimilator's
 * scripts, and the campaign status of a project run on a BOINC server.
 */
#include "project.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "args.h"
#include "chunk_eval.h"
#include "rounding.h"
#include "split.h"
#include "sum.h"
#include "verify.h"
#include "wide.h"

namespace fs = std::filesystem;

namespace {

// Exit statuses the validator reads from its scripts.
constexpr int valid_status = 0;
constexpr int invalid_status = 1;
constexpr int transient_status = 3;

const char *base_name(const char *path) {
  const char *b = path;
  for (const char *p = path; *p; ++p)
    if (*p == '/' || *p == '\\') b = p + 1;
  return b;
}

// Reads a decimal number up to `stop` (or the end); advances *p past it.
bool read_decimal(const char **p, char stop, uint64_t *v) {
  const char *s = *p;
  uint64_t x = 0;
  int n = 0;
  for (; *s >= '0' && *s <= '9'; ++s, ++n) {
    if (x > (UINT64_MAX - 9) / 10) return false;
    x = x * 10 + uint64_t(*s - '0');
  }
  if (n == 0 || *s != stop) return false;
  *p = stop ? s + 1 : s;
  *v = x;
  return true;
}

std::string shell_quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

// The lines of one result's files. A file that does not exist is an
// optional output the application did not write: no lines. False when a
// file exists but cannot be read (a transient fault of the server).
bool read_result_files(const std::vector<const char *> &files, std::vector<SourceLine> *lines,
                       std::vector<BadLine> *bad) {
  for (std::size_t f = 0; f < files.size(); ++f) {
    std::error_code ec;
    if (!fs::exists(files[f], ec) && !ec) continue;
    if (!read_result_file(files[f], uint32_t(f), lines, bad)) return false;
  }
  return true;
}

// How one result covers its unit.
struct UnitCover {
  PositionCover cover;
  std::string problem;  // empty when the lines cover the unit exactly once
};

// Sorts out a result's lines against its unit: every line (start-up lines
// aside) lies at the unit's position inside [srt, end), and the kept lines
// cover [srt, end) without gap or conflict. Repeats of a stretch (a kill)
// and stretches split by suspend and resume are allowed.
UnitCover cover_unit(const std::vector<SourceLine> &lines, const ProjectUnit &u) {
  UnitCover r{};
  char buf[200];
  for (const SourceLine &s : lines) {
    const ResultLine &l = s.line;
    if (is_startup_line(l)) continue;
    if (l.where != u.where || l.srt < u.srt || l.end > u.end) {
      std::snprintf(buf, sizeof buf, "line %lu lies outside the unit (position %llu, terms [%llu, %llu))",
                    (unsigned long)s.number, (unsigned long long)l.where, (unsigned long long)l.srt,
                    (unsigned long long)l.end);
      r.problem = buf;
      return r;
    }
  }
  r.cover = cover_position(lines, u.where);
  const PositionCover &c = r.cover;
  if (!c.invalid.empty()) {
    std::snprintf(buf, sizeof buf, "line %lu: %s", (unsigned long)lines[c.invalid[0]].number,
                  line_problem(lines[c.invalid[0]].line));
    r.problem = buf;
  } else if (!c.conflicts.empty()) {
    std::snprintf(buf, sizeof buf, "line %lu overlaps line %lu", (unsigned long)lines[c.conflicts[0].line].number,
                  (unsigned long)lines[c.conflicts[0].other].number);
    r.problem = buf;
  } else {
    // The only gaps allowed are the head outside the unit.
    for (const Stretch &g : c.gaps) {
      if ((g.srt == 0 && g.end == u.srt) || (g.srt == u.end && g.end == c.head_end)) continue;
      std::snprintf(buf, sizeof buf, "no line covers terms [%llu, %llu)", (unsigned long long)std::max(g.srt, u.srt),
                    (unsigned long long)std::min(g.end, u.end));
      r.problem = buf;
      break;
    }
  }
  return r;
}

// The unit of a result's files; all of them must name the same one.
bool unit_of_files(const std::vector<const char *> &files, ProjectUnit *u) {
  if (files.empty()) return false;
  for (std::size_t i = 0; i < files.size(); ++i) {
    ProjectUnit v;
    if (!project_unit_of_file(files[i], &v)) return false;
    if (i && (v.where != u->where || v.srt != u->srt || v.end != u->end)) return false;
    *u = v;
  }
  return true;
}

bool write_used_up_state(const char *path, uint64_t where) {
  std::FILE *f = std::fopen(path, "wb");
  if (!f) return false;
  int n = std::fprintf(f, "[Main]\r\nwhere=%016llX\r\nsrt_pos=0000000000000000\r\ncur_pos=0000000000000000\r\n"
                          "end_pos=0000000000000000\r\n",
                       (unsigned long long)where);
  return (std::fclose(f) == 0) & (n > 0);
}

}  // namespace

std::string project_unit_name(const ProjectUnit &u) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "quarn_%llu_%llu_%llu", (unsigned long long)u.where, (unsigned long long)u.srt,
                (unsigned long long)u.end);
  return buf;
}

bool project_unit_of_file(const char *path, ProjectUnit *unit) {
  const char *p = base_name(path);
  if (std::strncmp(p, "quarn_", 6)) return false;
  p += 6;
  uint64_t where, srt, end, k, r, n;
  if (!read_decimal(&p, '_', &where) || !read_decimal(&p, '_', &srt) || !read_decimal(&p, '_', &end) ||
      !read_decimal(&p, '_', &k) || *p++ != 'r' || !read_decimal(&p, '_', &r) || !read_decimal(&p, '\0', &n))
    return false;
  if (where == 0 || where >= where_limit || srt >= end || end > head_end(where)) return false;
  *unit = ProjectUnit{where, srt, end};
  return true;
}

int submit_main(int argc, char **argv) {
  enum { opt_project, opt_terms, opt_quorum, opt_from, opt_to, opt_app, opt_count };
  CommandOption o[opt_count] = {
      {"--project", OptionKind::text, "DIR: the BOINC project's folder (required)", false, 0, nullptr},
      {"--terms", OptionKind::number, "N: terms per unit (even; by default about a day of one core)", false, 0, nullptr},
      {"--quorum", OptionKind::number, "Q: results that must agree for a unit (1 to 10; default 1)", false, 0, nullptr},
      {"--from", OptionKind::number, "A: the first term (even; by default 0)", false, 0, nullptr},
      {"--to", OptionKind::number, "B: the end of the terms (by default the end of the head)", false, 0, nullptr},
      {"--app", OptionKind::text, "NAME: the project's application (default quarn)", false, 0, nullptr},
  };
  CommandSyntax syntax = {"submit",
                      "submit WHERE --project DIR [--terms N] [--quorum Q] [--from A] [--to B] [--app NAME]",
                      "Stages work units covering terms [A, B) at position WHERE and creates them in the "
                      "BOINC project DIR.",
                      o, opt_count, 1, 1};
  std::vector<const char *> operands;
  const ParseOutcome parsed = parse_command(&syntax, argc, argv, &operands);
  if (parsed != ParseOutcome::ok) return parse_exit_status(parsed);
  uint64_t where = 0;
  if (!o[opt_project].given || !parse_u64(operands[0], &where)) return command_usage(syntax);
  const char *project = o[opt_project].text;
  const char *app = o[opt_app].given ? o[opt_app].text : "quarn";
  const uint64_t quorum = o[opt_quorum].given ? o[opt_quorum].number : 1, from = o[opt_from].number;
  if (where == 0 || where >= where_limit) {
    std::fprintf(stderr, "quarn-coord submit: WHERE must lie in [1, 2^56)\n");
    return 2;
  }
  const uint64_t head = head_end(where);
  const uint64_t to = o[opt_to].given ? o[opt_to].number : head;
  const uint64_t terms = o[opt_terms].given ? o[opt_terms].number : default_unit_terms(where);
  if (to > head || from >= to || terms == 0 || (terms & 1) || (from & 1) || quorum < 1 || quorum > 10) {
    std::fprintf(stderr, "quarn-coord submit: need 0 <= --from < --to <= %llu (the head's end), --from and "
                         "--terms even, and a --quorum from 1 to 10\n",
                 (unsigned long long)head);
    return 2;
  }
  const std::string dir = project;
  for (const char *need : {"/bin/create_work", "/bin/stage_file", "/templates/quarn_in", "/templates/quarn_out"}) {
    std::error_code ec;
    if (!fs::exists(dir + need, ec)) {
      std::fprintf(stderr, "quarn-coord submit: %s%s not found: is %s a BOINC project set up for Quarn?\n",
                   project, need, project);
      return 1;
    }
  }
  const std::string staging = dir + "/tmp_quarn";
  std::error_code ec;
  fs::create_directories(staging, ec);
  uint64_t count = 0;
  for (uint64_t srt = from; srt < to; srt += terms) {
    ProjectUnit u{where, srt, to - srt > terms ? srt + terms : to};
    const std::string name = project_unit_name(u);
    // Each unit gets input files of its own: the server deletes a unit's
    // inputs once it is done, so they cannot be shared.
    const std::string range = staging + "/" + name + ".range", state = staging + "/" + name + ".state";
    if (!write_work_unit(range.c_str(), u.where, u.srt, u.end) || !write_used_up_state(state.c_str(), u.where)) {
      std::fprintf(stderr, "quarn-coord submit: cannot write the inputs of %s in %s\n", name.c_str(),
                   staging.c_str());
      return 1;
    }
    // The estimate is in floating-point operations: a term costs about
    // 10^4 of them at the positions a project runs.
    const double fpops = double(u.end - u.srt) * 1e4;
    char est[120];
    std::snprintf(est, sizeof est, " --rsc_fpops_est %.0f --rsc_fpops_bound %.0f --min_quorum %llu --target_nresults %llu",
                  fpops, fpops * 1000, (unsigned long long)quorum, (unsigned long long)quorum);
    const std::string cmd = "cd " + shell_quote(dir) + " && bin/stage_file --copy " + shell_quote(range) +
                            " >/dev/null && bin/stage_file --copy " + shell_quote(state) +
                            " >/dev/null && bin/create_work --appname " + shell_quote(app) + " --wu_name " + name +
                            " --wu_template templates/quarn_in --result_template templates/quarn_out" + est + " " +
                            name + ".range " + name + ".state";
    int rc = std::system(cmd.c_str());
    fs::remove(range, ec);
    fs::remove(state, ec);
    if (rc != 0) {
      std::fprintf(stderr, "quarn-coord submit: the server refused unit %s (%llu unit(s) submitted before it)\n",
                   name.c_str(), (unsigned long long)count);
      return 1;
    }
    ++count;
    std::printf("submitted %s\n", name.c_str());
  }
  std::printf("position %llu: terms [%llu, %llu) in %llu unit(s) of up to %llu terms, quorum %llu\n",
              (unsigned long long)where, (unsigned long long)from, (unsigned long long)to, (unsigned long long)count,
              (unsigned long long)terms, (unsigned long long)quorum);
  return 0;
}

int check_main(int argc, char **argv) {
  enum { opt_sample, opt_count };
  CommandOption o[opt_count] = {
      {"--sample", OptionKind::number, "K: lines recomputed (default 2)", false, 0, nullptr},
  };
  CommandSyntax syntax = {"check", "check [--sample K] FILE...",
                      "The validator's check of one result's files (exit 0 valid, 3 transient, 1 invalid).",
                      o, opt_count, 1, -1};
  std::vector<const char *> files;
  const ParseOutcome parsed = parse_command(&syntax, argc, argv, &files);
  if (parsed != ParseOutcome::ok) return parse_exit_status(parsed);
  const uint64_t sample = o[opt_sample].given ? o[opt_sample].number : 2;
  ProjectUnit u{};
  if (!unit_of_files(files, &u)) {
    std::fprintf(stderr, "quarn-coord check: the files do not name one unit of the project "
                         "(quarn_WHERE_SRT_END_K_rR_N)\n");
    return invalid_status;
  }
  std::vector<SourceLine> lines;
  std::vector<BadLine> bad;
  if (!read_result_files(files, &lines, &bad)) {
    std::fprintf(stderr, "quarn-coord check: cannot read %s\n", files[bad.back().file]);
    return transient_status;
  }
  const std::string name = project_unit_name(u);
  if (!bad.empty()) {
    std::fprintf(stderr, "quarn-coord check: %s: invalid: %s:%lu: %s\n", name.c_str(), files[bad[0].file],
                 (unsigned long)bad[0].number, bad[0].why.c_str());
    return invalid_status;
  }
  UnitCover uc = cover_unit(lines, u);
  if (!uc.problem.empty()) {
    std::fprintf(stderr, "quarn-coord check: %s: invalid: %s\n", name.c_str(), uc.problem.c_str());
    return invalid_status;
  }
  // A sample of the kept lines recomputed: a faulty host or an altered
  // file shows there.
  std::vector<std::size_t> chosen = uc.cover.used;
  std::shuffle(chosen.begin(), chosen.end(), std::mt19937_64(std::random_device{}()));
  if (chosen.size() > sample) chosen.resize(std::size_t(sample));
  prepare_kernel();
  for (std::size_t i : chosen) {
    LineCheck c = check_line(lines[i].line);
    if (c.outcome == CheckOutcome::mismatch || c.outcome == CheckOutcome::refused) {
      std::fprintf(stderr, "quarn-coord check: %s: invalid: %s:%lu does not recompute\n", name.c_str(),
                   files[lines[i].file], (unsigned long)lines[i].number);
      return invalid_status;
    }
  }
  std::printf("%s: valid: %zu line(s) cover the unit, %zu recomputed\n", name.c_str(), uc.cover.used.size(),
              chosen.size());
  return valid_status;
}

int compare_main(int argc, char **argv) {
  CommandSyntax syntax = {"compare", "compare FILE...",
                      "The validator's comparison of two results of one unit: the files of the first, then "
                      "as many of the second (exit 0 when they agree).",
                      nullptr, 0, 2, -1};
  std::vector<const char *> operands;
  const ParseOutcome parsed = parse_command(&syntax, argc, argv, &operands);
  if (parsed != ParseOutcome::ok) return parse_exit_status(parsed);
  if (operands.size() % 2) return command_usage(syntax);
  std::vector<const char *> files[2];
  for (std::size_t i = 0; i < operands.size(); ++i) files[i < operands.size() / 2 ? 0 : 1].push_back(operands[i]);
  Wide sum[2], bound[2];
  ProjectUnit u[2]{};
  for (int k = 0; k < 2; ++k) {
    if (!unit_of_files(files[k], &u[k])) {
      std::fprintf(stderr, "quarn-coord compare: the files of result %d do not name one unit\n", k + 1);
      return invalid_status;
    }
  }
  if (u[0].where != u[1].where || u[0].srt != u[1].srt || u[0].end != u[1].end) {
    std::fprintf(stderr, "quarn-coord compare: the two results belong to different units\n");
    return invalid_status;
  }
  for (int k = 0; k < 2; ++k) {
    std::vector<SourceLine> lines;
    std::vector<BadLine> bad;
    if (!read_result_files(files[k], &lines, &bad)) return transient_status;
    UnitCover uc = cover_unit(lines, u[k]);
    if (!bad.empty() || !uc.problem.empty()) {
      std::fprintf(stderr, "quarn-coord compare: result %d does not cover its unit\n", k + 1);
      return invalid_status;
    }
    sum[k] = uc.cover.share;
    bound[k] = uc.cover.rounding;
  }
  // Each sum lies below the true share of the unit by at most its bound,
  // whatever the host's kernel variant and however its lines were split.
  Wide diff = wide_sub(sum[0], sum[1]);
  Wide neg = wide_sub(Wide{}, diff);
  Wide allowed = wide_add_saturated(bound[0], bound[1]);
  bool agree = !wide_less(allowed, diff) || !wide_less(allowed, neg);
  std::printf("%s: the two results %s\n", project_unit_name(u[0]).c_str(), agree ? "agree" : "DIFFER");
  return agree ? valid_status : invalid_status;
}

int assimilate_main(int argc, char **argv) {
  enum { opt_campaign, opt_error, opt_count };
  CommandOption o[opt_count] = {
      {"--campaign", OptionKind::text, "DIR: the campaign folder (required)", false, 0, nullptr},
      {"--error", OptionKind::number, "N: the unit failed with error mask N; the operands are then "
                                      "WU_NAME WU_ID BATCH", false, 0, nullptr},
  };
  CommandSyntax syntax = {"assimilate",
                      "assimilate --campaign DIR WU_ID FILE... | --campaign DIR --error N WU_NAME WU_ID BATCH",
                      "The assimilator's step: copies a unit's canonical result into DIR/<position>/.", o,
                      opt_count, 1, -1};
  std::vector<const char *> operands;
  const ParseOutcome parsed = parse_command(&syntax, argc, argv, &operands);
  if (parsed != ParseOutcome::ok) return parse_exit_status(parsed);
  if (!o[opt_campaign].given) return command_usage(syntax);
  const std::string campaign = o[opt_campaign].text;
  std::error_code ec;
  if (o[opt_error].given) {
    // The unit failed on the server (too many errors or no agreement): it
    // stays a gap that status names and that can be submitted again.
    if (operands.size() != 3) return command_usage(syntax);
    fs::create_directories(campaign, ec);
    std::FILE *f = std::fopen((campaign + "/errors.txt").c_str(), "ab");
    if (!f) return 1;
    std::fprintf(f, "%s failed (error mask %llu)\n", operands[0], (unsigned long long)o[opt_error].number);
    return std::fclose(f) == 0 ? 0 : 1;
  }
  int copied = 0;
  for (std::size_t i = 1; i < operands.size(); ++i) {  // operands[0] is the unit's id
    const char *file = operands[i];
    ProjectUnit u;
    if (!project_unit_of_file(file, &u)) {
      std::fprintf(stderr, "quarn-coord assimilate: %s is not an output of a project unit\n", file);
      return 1;
    }
    if (!fs::exists(file, ec)) continue;  // an optional output not written
    const std::string dir = campaign + "/" + std::to_string(u.where);
    fs::create_directories(dir, ec);
    const std::string dest = dir + "/" + base_name(file), part = dest + ".part";
    // Copied under another name and renamed, so that sum never reads half
    // a file.
    fs::copy_file(file, part, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(part, dest, ec);
    if (ec) {
      std::fprintf(stderr, "quarn-coord assimilate: cannot copy %s to %s: %s\n", file, dest.c_str(),
                   ec.message().c_str());
      return 1;
    }
    ++copied;
  }
  std::printf("assimilated %d file(s) into %s\n", copied, campaign.c_str());
  return 0;
}

int status_main(int argc, char **argv) {
  enum { opt_where, opt_count };
  CommandOption o[opt_count] = {
      {"--where", OptionKind::number, "W: only position W", false, 0, nullptr},
  };
  CommandSyntax syntax = {"status", "status DIR [--where W]",
                      "Per position in a campaign folder: results, head terms covered, what is missing "
                      "(exit 0 when every position is complete).",
                      o, opt_count, 1, 1};
  std::vector<const char *> operands;
  const ParseOutcome parsed = parse_command(&syntax, argc, argv, &operands);
  if (parsed != ParseOutcome::ok) return parse_exit_status(parsed);
  const char *dir = operands[0];
  const uint64_t only = o[opt_where].given ? o[opt_where].number : 0;
  std::error_code ec;
  std::map<uint64_t, std::vector<std::string>> positions;
  if (!fs::exists(dir, ec) && !ec) {
    std::printf("%s: no results yet\n", dir);
    return 1;
  }
  for (const fs::directory_entry &e : fs::directory_iterator(dir, ec)) {
    uint64_t where;
    std::string name = e.path().filename().string();
    if (!e.is_directory() || !parse_u64(name.c_str(), &where) || (only && where != only)) continue;
    for (const fs::directory_entry &f : fs::directory_iterator(e.path(), ec))
      if (f.is_regular_file() && f.path().extension() != ".part") positions[where].push_back(f.path().string());
  }
  if (ec) {
    std::fprintf(stderr, "quarn-coord status: cannot read %s: %s\n", dir, ec.message().c_str());
    return 1;
  }
  if (positions.empty()) {
    std::printf("%s: no results yet\n", dir);
    return 1;
  }
  bool complete = true;
  for (auto &[where, paths] : positions) {
    std::sort(paths.begin(), paths.end());
    std::vector<SourceLine> lines;
    std::vector<BadLine> bad;
    std::map<std::string, int> results;  // result name -> files
    for (std::size_t f = 0; f < paths.size(); ++f) {
      read_result_file(paths[f].c_str(), uint32_t(f), &lines, &bad);
      std::string b = base_name(paths[f].c_str());
      results[b.substr(0, b.rfind("_r"))]++;
    }
    PositionCover c = cover_position(lines, where);
    uint64_t missing = 0;
    for (const Stretch &g : c.gaps) missing += g.end - g.srt;
    const uint64_t covered = c.head_end - missing;
    std::printf("position %llu: %zu result(s), %zu line(s); %llu of %llu head terms covered (%.2f%%)\n",
                (unsigned long long)where, results.size(), c.used.size(), (unsigned long long)covered,
                (unsigned long long)c.head_end, c.head_end ? 100.0 * double(covered) / double(c.head_end) : 100.0);
    std::size_t shown = 0;
    for (const Stretch &g : c.gaps)
      if (shown++ < 10)
        std::printf("  missing: terms [%llu, %llu)\n", (unsigned long long)g.srt, (unsigned long long)g.end);
    if (c.gaps.size() > 10) std::printf("  ... and %zu more gap(s)\n", c.gaps.size() - 10);
    if (!c.conflicts.empty() || !bad.empty() || !c.invalid.empty())
      std::printf("  %zu conflict(s), %zu unreadable and %zu invalid line(s): run quarn-coord sum on %s/%llu\n",
                  c.conflicts.size(), bad.size(), c.invalid.size(), dir, (unsigned long long)where);
    if (c.gaps.empty() && c.conflicts.empty() && bad.empty() && c.invalid.empty())
      std::printf("  complete: quarn-coord sum %s/%llu/* --complete gives the digits\n", dir,
                  (unsigned long long)where);
    else
      complete = false;
  }
  return complete ? 0 : 1;
}
