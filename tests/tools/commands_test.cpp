// commands_test.cpp: the split, sum and verify commands as a coordinator runs them: the files they write, their reports, and their exit status on damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "chunk_eval.h"
#include "measure.h"
#include "split.h"
#include "sum.h"
#include "test_support.h"
#include "verify.h"

namespace fs = std::filesystem;

namespace {

const uint64_t W = 1000000;  // head: terms [0, 199999)

struct Outcome {
  int status;
  std::string out, err;
};

// Runs a command's main with the given arguments, capturing its output.
Outcome run(int (*main_fn)(int, char **), std::vector<std::string> args) {
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Outcome r;
  r.status = main_fn(int(argv.size()), argv.data());
  std::fflush(stdout);
  r.out = testing::internal::GetCapturedStdout();
  r.err = testing::internal::GetCapturedStderr();
  return r;
}

std::string line_of(uint64_t where, uint64_t srt, uint64_t end) {
  return evaluate_chunk(where, srt, end, -1).line;
}

class Commands : public ScratchTest {
 protected:
  static void SetUpTestSuite() { prepare_kernel(); }
};

TEST_F(Commands, SplitWritesUnitsInTakingOrderThatCoverTheHeadOnce) {
  Outcome r = run(split_main, {"1000000", "--terms", "40000", "--dir", dir.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> names;
  for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ(names[0], "Range00000000000F4240-000001.ini");
  EXPECT_EQ(names[4], "Range00000000000F4240-000005.ini");
  EXPECT_EQ(read_file(dir / names[0]),
            "[Main]\r\nWhere=00000000000F4240\r\nsrt_pos=0000000000000000\r\nend_pos=0000000000009C40\r\n");
  // Each unit starts where the one before it ended; the last ends the head.
  uint64_t expected_srt = 0;
  for (const std::string &n : names) {
    std::string text = read_file(dir / n);
    unsigned long long srt = 0, end = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + text.find("srt_pos=") + 8, "%16llX", &srt), 1);
    ASSERT_EQ(std::sscanf(text.c_str() + text.find("end_pos=") + 8, "%16llX", &end), 1);
    EXPECT_EQ(srt, expected_srt);
    EXPECT_EQ(end % 2 == 0 || end == 199999, true);
    expected_srt = end;
  }
  EXPECT_EQ(expected_srt, head_end(W));

  // Never over existing units; bad sizes and stretches are refused.
  std::string before = read_file(dir / names[2]);
  r = run(split_main, {"1000000", "--terms", "50000", "--dir", dir.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("exists already"), std::string::npos);
  EXPECT_EQ(read_file(dir / names[2]), before);
  EXPECT_EQ(run(split_main, {"1000000", "--terms", "4001", "--dir", dir.string()}).status, 2);
  EXPECT_EQ(run(split_main, {"1000000", "--to", "200000", "--dir", dir.string()}).status, 2);
  EXPECT_EQ(run(split_main, {"0", "--dir", dir.string()}).status, 2);

  // A stretch of the head, as for a gap, in units of the default size.
  fs::path sub = dir / "gap";
  fs::create_directories(sub);
  r = run(split_main, {"1000000", "--from", "120000", "--to", "120500", "--dir", sub.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(sub / "Range00000000000F4240-000001.ini"),
            "[Main]\r\nWhere=00000000000F4240\r\nsrt_pos=000000000001D4C0\r\nend_pos=000000000001D6B4\r\n");
}

TEST_F(Commands, DefaultUnitsAreEvenAndWholeChunksWhenLarge) {
  // The whole head at the client's default position is less than a day.
  EXPECT_GE(default_unit_terms(100000000), head_end(100000000));
  for (uint64_t w : {uint64_t(1000), uint64_t(100000000000ull), uint64_t(1) << 55}) {
    uint64_t n = default_unit_terms(w);
    EXPECT_EQ(n % 2, 0u);
    if (n >= (uint64_t(1) << 28)) {
      EXPECT_EQ(n % (uint64_t(1) << 28), 0u) << w;
    }
  }
  EXPECT_LT(default_unit_terms(uint64_t(1) << 55), default_unit_terms(1000));
}

TEST_F(Commands, SumReportsDamagedLinesByFileAndLineAndRefusesToComplete) {
  std::string a = line_of(W, 0, 100000), b = line_of(W, 100000, 199999);
  write_file(dir / "out0.txt", a + "\r\n" + a.substr(0, 60) + "\r\n");
  write_file(dir / "out1.txt", "not a result line\n" + b + "\n");
  Outcome r = run(sum_main, {path("out0.txt"), path("out1.txt"), "--complete"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("out0.txt:2: error: truncated"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("out1.txt:1: error:"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("not completed"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("digits of pi"), std::string::npos);

  // Skipping them, the good lines complete to the published digits.
  r = run(sum_main, {path("out0.txt"), path("out1.txt"), "--complete", "--skip-bad"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("out0.txt:2: warning (skipped)"), std::string::npos);
  EXPECT_NE(r.out.find("digits of pi from position 1000000: 26C65E52CB4593"), std::string::npos) << r.out;

  // A file that is not there.
  r = run(sum_main, {path("missing.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.txt: error: cannot be opened"), std::string::npos);
}

TEST_F(Commands, SumNamesRepeatsConflictsGapsAndOtherPositions) {
  std::string a = line_of(W, 0, 100000), b = line_of(W, 100000, 150000);
  std::string other = line_of(10000000, 0, 1000);
  const std::string startup = "0000000000000000,0000000000000000,0000000000000000,00000000000000000000000000000000";
  write_file(dir / "out0.txt", startup + "\r\n" + a + "\r\n" + a + "\r\n" + b + "\r\n" + other + "\r\n");
  Outcome r = run(sum_main, {path("out0.txt"), "--where", "1000000"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("1 start-up line(s) of no chunk ignored"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("other position: " + path("out0.txt") + ":5 is for position 10000000"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2 line(s) summed, 1 repeated"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("gap: terms [150000, 199999) (49999 terms)"), std::string::npos) << r.out;

  // Completing evaluates a gap only up to --max-uncovered terms.
  r = run(sum_main, {path("out0.txt"), "--where", "1000000", "--complete", "--max-uncovered", "1000"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("quarn-coord split 1000000 --from 150000 --to 199999"), std::string::npos) << r.out;
  r = run(sum_main, {path("out0.txt"), "--where", "1000000", "--complete"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("26C65E52CB4593"), std::string::npos) << r.out;

  // A line that starts inside another is refused, both named.
  std::string c = line_of(W, 90000, 199999);
  write_file(dir / "out1.txt", c + "\n");
  r = run(sum_main, {path("out0.txt"), path("out1.txt"), "--where", "1000000", "--complete"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("conflict: " + path("out1.txt") + ":1 terms [90000, 199999) overlaps " +
                       path("out0.txt") + ":2 terms [0, 100000)"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("digits of pi"), std::string::npos);
}

TEST_F(Commands, VerifyFindsAlteredSharesAndAcceptsRounding) {
  ResultLine l{};
  const char *why = nullptr;
  std::string text = line_of(W, 1000, 3000);
  ASSERT_TRUE(parse_result_line(text.c_str(), text.size(), &l, &why));
  EXPECT_EQ(check_line(l).outcome, CheckOutcome::exact);
  ResultLine low = l;
  low.limbs[3] -= 1;  // as if the last bit had been rounded otherwise
  LineCheck c = check_line(low);
  EXPECT_EQ(c.outcome, CheckOutcome::within_rounding);
  EXPECT_EQ(c.difference, 1u);
  ResultLine bad = l;
  bad.limbs[1] ^= 1;
  EXPECT_EQ(check_line(bad).outcome, CheckOutcome::mismatch);
  ResultLine past = l;
  past.end = head_end(W) + 2;
  EXPECT_EQ(check_line(past).outcome, CheckOutcome::refused);

  std::string lines;
  for (uint64_t s = 0; s < 8000; s += 2000) lines += line_of(W, s, s + 2000) + "\r\n";
  write_file(dir / "out0.txt", lines);
  Outcome r = run(verify_main, {path("out0.txt"), "--sample", "2", "--seed", "5"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("checking 2 of 4 line(s)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2 exact, 0 within rounding, 0 mismatched"), std::string::npos) << r.out;

  char altered[result_line_length + 1];
  format_result_line(bad, altered);
  write_file(dir / "out1.txt", lines + altered + "\r\n");
  r = run(verify_main, {path("out1.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(path("out1.txt") + ":5: position 1000000, terms [1000, 3000): MISMATCH"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find(text), std::string::npos);  // the recomputed line is shown
}

}  // namespace

// Every command reads its options through one parser: by full name only,
// with --help of its own and an error that names what it did not know.
TEST_F(Commands, EveryCommandNamesWhatItDoesNotKnowAndExplainsItself) {
  struct Case {
    int (*main_fn)(int, char **);
    std::string name, synopsis, number_option;
  };
  const Case cases[] = {
      {split_main, "split", "split WHERE [--terms N]", "--terms"},
      {sum_main, "sum", "sum FILE... [--where W]", "--max-uncovered"},
      {verify_main, "verify", "verify FILE... [--sample K]", "--seed"},
      {chunk_main, "chunk", "chunk WHERE SRT END [--variant", ""},
      {rounding_main, "rounding", "rounding WHERE SRT END [--exact]", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Outcome help = run(c.main_fn, {"1000000", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: quarn-coord " + c.synopsis), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--help"), std::string::npos);
    EXPECT_EQ(help.err, "");

    Outcome unknown = run(c.main_fn, {"1000000", "0", "2", "--bogus"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("quarn-coord " + c.name + ": unknown option --bogus\n"), std::string::npos)
        << unknown.err;
    EXPECT_NE(unknown.err.find("usage: quarn-coord " + c.synopsis), std::string::npos) << unknown.err;
    EXPECT_EQ(unknown.out, "");

    if (c.number_option.empty()) continue;
    Outcome bad = run(c.main_fn, {"1000000", c.number_option, "12x"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find(c.number_option + " needs a number"), std::string::npos) << bad.err;
  }

  // No abbreviations, and an option at the end without its value.
  Outcome abbreviated = run(split_main, {"1000000", "--ter", "40000", "--dir", dir.string()});
  EXPECT_EQ(abbreviated.status, 2);
  EXPECT_NE(abbreviated.err.find("unknown option --ter\n"), std::string::npos) << abbreviated.err;
  Outcome no_value = run(split_main, {"1000000", "--dir"});
  EXPECT_EQ(no_value.status, 2);
  EXPECT_NE(no_value.err.find("--dir needs a value"), std::string::npos) << no_value.err;
  EXPECT_TRUE(fs::is_empty(dir));

  // Options before the operands work as after them.
  Outcome first = run(split_main, {"--terms", "100000", "--dir", dir.string(), "1000000"});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}
