// state_grammar_test.cpp: the strict reading that the soak and the sweeps trust to see a torn state file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state_grammar.h"

namespace {

const std::string whole =
    "[Main]\r\nwhere=00000000000F4240\r\nsrt_pos=0000000000000000\r\ncur_pos=FFFFFFFFFFFFFFFF\r\n"
    "end_pos=0000000000004E20\r\ncurrent=1\r\noutput0=-3\r\noutput1=2\r\nTrayicon=8\r\n"
    "Autocontinue=0\r\nPriority=Auto\r\n\r\n[Thread1]\r\ncur_pos=0000000000000100\r\n"
    "where=00000000000F4240\r\nend_pos=0000000000004E20\r\noutputf=1\r\n";

bool parses(const std::string &text, std::string *why = nullptr) {
  std::vector<StateSection> sections;
  std::string ignored;
  return parse_state(text, &sections, why ? why : &ignored);
}

}  // namespace

TEST(StateGrammar, TakesWhatTheClientWritesAndEveryPrefixEndingALine) {
  std::vector<StateSection> sections;
  std::string why;
  ASSERT_TRUE(parse_state(whole, &sections, &why)) << why;
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[1].name, "Thread1");
  EXPECT_EQ(sections[1].keys.at("outputf"), "1");
  EXPECT_TRUE(parses(""));
  for (std::size_t end = whole.find("\r\n"); end != std::string::npos; end = whole.find("\r\n", end + 2))
    EXPECT_TRUE(parses(whole.substr(0, end + 2))) << end;
}

TEST(StateGrammar, RefusesEveryCutInsideALineAndAnythingTheClientNeverWrites) {
  for (std::size_t cut = 1; cut < whole.size(); ++cut) {
    const bool at_line_end = cut >= 2 && whole.compare(cut - 2, 2, "\r\n") == 0;
    if (!at_line_end) {
      EXPECT_FALSE(parses(whole.substr(0, cut))) << "cut at " << cut;
    }
  }
  const char *const damaged[] = {
      "[Main]\r\nwhere=00000000000f4240\r\n",         // lower case: never written
      "[Main]\r\nwhere=000000000F4240\r\n",           // 14 digits
      "[Main]\r\ncurrent=2\r\n",
      "[Thread0]\r\nsrt_pos=0000000000000000\r\n",    // no such key there
      "[Main]\r\n[Main]\r\n",
      "[Main]\r\noutput0=1\r\noutput0=1\r\n",
      "where=00000000000F4240\r\n",                   // before any section
      "[Main]\r\nwhere=00000000000F4240\n",           // LF alone
  };
  for (const char *text : damaged) EXPECT_FALSE(parses(text)) << text;
  EXPECT_FALSE(parses(std::string("[Main]\r\ncurrent=0\0\r\n", 20)));
}
