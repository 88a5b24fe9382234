// cover_test.cpp: sorting out the lines of a position (gaps, the repeats a kill leaves, real overlaps, invalid lines) and completing sums into digits of pi.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "chunk_eval.h"
#include "rounding.h"
#include "sum.h"

namespace {

const uint64_t W = 1000000;  // head: terms [0, 199999)

// A line with a made-up share: srt in L0 and `low` in L3 (all zero for an
// empty stretch with low 0).
SourceLine make(uint64_t srt, uint64_t end, uint32_t low = 1, uint64_t where = W, uint32_t number = 0) {
  static uint32_t counter = 0;
  SourceLine s{};
  s.line.where = where;
  s.line.srt = srt;
  s.line.end = end;
  s.line.limbs[0] = srt == end && low == 0 ? 0 : uint32_t(srt);
  s.line.limbs[3] = low;
  s.file = 0;
  s.number = number ? number : ++counter;
  return s;
}

std::vector<uint64_t> ends_of(const std::vector<SourceLine> &lines, const std::vector<std::size_t> &idx) {
  std::vector<uint64_t> r;
  for (std::size_t i : idx) r.push_back(lines[i].line.end);
  return r;
}

TEST(Cover, LinesInAnyOrderCoverTheHeadAndAddUp) {
  std::vector<SourceLine> lines = {make(100000, 199999), make(0, 50000), make(50000, 100000)};
  PositionCover c = cover_position(lines, W);
  EXPECT_EQ(c.head_end, 199999u);
  EXPECT_EQ(ends_of(lines, c.used), (std::vector<uint64_t>{50000, 100000, 199999}));
  EXPECT_TRUE(c.gaps.empty());
  EXPECT_TRUE(c.conflicts.empty() && c.repeated.empty() && c.invalid.empty());
  Wide expected{};
  Wide bound{};
  for (const SourceLine &s : lines) {
    expected = wide_add(expected, wide_from_limbs(s.line.limbs));
    bound = wide_add(bound, bound_from_units128(line_bound(s.line.end - s.line.srt)));
  }
  EXPECT_EQ(c.share, expected);
  EXPECT_EQ(c.rounding, bound);
}

TEST(Cover, GapsAtTheStartInsideAndAtTheEndAreReported) {
  std::vector<SourceLine> lines = {make(10, 50000), make(60000, 100000)};
  PositionCover c = cover_position(lines, W);
  ASSERT_EQ(c.gaps.size(), 3u);
  EXPECT_EQ(c.gaps[0].srt, 0u);
  EXPECT_EQ(c.gaps[0].end, 10u);
  EXPECT_EQ(c.gaps[1].srt, 50000u);
  EXPECT_EQ(c.gaps[1].end, 60000u);
  EXPECT_EQ(c.gaps[2].srt, 100000u);
  EXPECT_EQ(c.gaps[2].end, 199999u);
  // No lines at all: the whole head is one gap.
  PositionCover none = cover_position({}, W);
  ASSERT_EQ(none.gaps.size(), 1u);
  EXPECT_EQ(none.gaps[0].end, 199999u);
}

TEST(Cover, TheRepeatsAKillLeavesAreDropped) {
  // The same stretch twice with the same share: killed after the append.
  {
    std::vector<SourceLine> lines = {make(0, 100000), make(100000, 199999), make(0, 100000)};
    PositionCover c = cover_position(lines, W);
    EXPECT_EQ(c.used.size(), 2u);
    EXPECT_EQ(c.repeated.size(), 1u);
    EXPECT_TRUE(c.conflicts.empty() && c.gaps.empty());
  }
  // A Stop's partial line [0, 30000) whose position was never saved; the
  // restart went on from 0 to the chunk's end.
  {
    std::vector<SourceLine> lines = {make(0, 30000), make(0, 100000), make(100000, 199999)};
    PositionCover c = cover_position(lines, W);
    EXPECT_EQ(ends_of(lines, c.used), (std::vector<uint64_t>{100000, 199999}));
    EXPECT_EQ(ends_of(lines, c.repeated), (std::vector<uint64_t>{30000}));
    EXPECT_TRUE(c.conflicts.empty() && c.gaps.empty());
  }
  // The whole chunk reported, then killed; the restart was stopped at
  // 30000 (saved) and went on from there: the long line is the repeat.
  {
    std::vector<SourceLine> lines = {make(0, 100000), make(0, 30000), make(30000, 100000),
                                     make(100000, 199999)};
    PositionCover c = cover_position(lines, W);
    EXPECT_EQ(ends_of(lines, c.used), (std::vector<uint64_t>{30000, 100000, 199999}));
    EXPECT_EQ(ends_of(lines, c.repeated), (std::vector<uint64_t>{100000}));
    EXPECT_TRUE(c.conflicts.empty() && c.gaps.empty());
  }
  // The same stretch from another machine, its last bits rounded otherwise.
  {
    std::vector<SourceLine> lines = {make(0, 199999, 5), make(0, 199999, 9)};
    PositionCover c = cover_position(lines, W);
    EXPECT_EQ(c.repeated.size(), 1u);
    EXPECT_TRUE(c.conflicts.empty());
  }
}

TEST(Cover, RealOverlapsAreConflictsNamingBothLines) {
  {
    std::vector<SourceLine> lines = {make(0, 100000), make(50000, 199999)};
    PositionCover c = cover_position(lines, W);
    ASSERT_EQ(c.conflicts.size(), 1u);
    EXPECT_EQ(lines[c.conflicts[0].line].line.srt, 50000u);
    EXPECT_EQ(lines[c.conflicts[0].other].line.srt, 0u);
    EXPECT_FALSE(c.conflicts[0].same_stretch);
  }
  {
    // Same stretch, shares far apart: one of them is wrong.
    SourceLine a = make(0, 199999), b = make(0, 199999);
    b.line.limbs[1] ^= 0x100;
    std::vector<SourceLine> lines = {a, b};
    PositionCover c = cover_position(lines, W);
    ASSERT_EQ(c.conflicts.size(), 1u);
    EXPECT_TRUE(c.conflicts[0].same_stretch);
    EXPECT_TRUE(c.repeated.empty());
  }
}

TEST(Cover, OtherPositionsEmptyAndInvalidLinesAreSetApart) {
  std::vector<SourceLine> lines = {
      make(0, 199999),
      make(0, 100, 1, 10000000),      // another position: not looked at
      make(500, 500, 0),              // a stop right at a chunk's start
      make(600, 600, 7),              // no terms but a share
      make(100000, 200000),           // one term past the head
      make(300, 200),                 // start beyond end
  };
  PositionCover c = cover_position(lines, W);
  EXPECT_EQ(c.used.size(), 1u);
  EXPECT_EQ(c.empty.size(), 1u);
  EXPECT_EQ(c.invalid.size(), 3u);
  EXPECT_TRUE(c.conflicts.empty() && c.gaps.empty());
  ResultLine startup{};
  EXPECT_TRUE(is_startup_line(startup));
  EXPECT_EQ(line_problem(startup), std::string("position 0 with a stretch or a share"));
}

class Complete : public testing::Test {
 protected:
  static void SetUpTestSuite() { prepare_kernel(); }
};

std::string digits(const Completion &r) {
  char buf[49];
  wide_hex(r.total.value, r.certain_digits, buf);
  return buf;
}

TEST_F(Complete, KernelLinesGapsAndTailGiveTheDigitsOfPi) {
  // Digits 1.. of pi; from digit 10 the 32 given by position 10's series.
  const std::string pi = "243F6A8885A308D313198A2E03707344A40938222";
  for (uint64_t where = 1; where + 23 <= pi.size(); ++where) {
    uint64_t head = head_end(where);
    std::vector<SourceLine> lines;
    if (head > 0) {
      ChunkResult r = evaluate_chunk(where, 0, head, -1);
      SourceLine s{};
      const char *why = nullptr;
      ASSERT_TRUE(parse_result_line(r.line, std::strlen(r.line), &s.line, &why));
      lines.push_back(s);
    }
    PositionCover c = cover_position(lines, where);
    Completion r = complete_position(c);
    ASSERT_TRUE(r.ok);
    ASSERT_GE(r.certain_digits, 24) << where;
    EXPECT_EQ(digits(r).substr(0, 24), pi.substr(where - 1, 24)) << where;
  }
}

TEST_F(Complete, UncoveredHeadTermsAreEvaluatedHere) {
  // Position 1,000,000 with a hole in the middle and at the end; the digits
  // published for it start 26C65E52CB4593.
  std::vector<SourceLine> lines;
  for (auto [srt, end] : {std::pair<uint64_t, uint64_t>{0, 120000}, {120500, 199000}}) {
    ChunkResult r = evaluate_chunk(W, srt, end, -1);
    SourceLine s{};
    const char *why = nullptr;
    ASSERT_TRUE(parse_result_line(r.line, std::strlen(r.line), &s.line, &why));
    lines.push_back(s);
  }
  PositionCover c = cover_position(lines, W);
  ASSERT_EQ(c.gaps.size(), 2u);
  Completion r = complete_position(c);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.gap_terms, 500u + 999u);
  EXPECT_GE(r.tail_terms, 10u);
  ASSERT_GE(r.certain_digits, 14);
  EXPECT_EQ(digits(r).substr(0, 14), "26C65E52CB4593");
  // A line altered in a high bit changes the digits from there on.
  lines[1].line.limbs[0] ^= 0x00100000;
  Completion wrong = complete_position(cover_position(lines, W));
  EXPECT_EQ(digits(wrong).substr(0, 2), "26");
  EXPECT_NE(digits(wrong).substr(0, 14), "26C65E52CB4593");
}

}  // namespace
