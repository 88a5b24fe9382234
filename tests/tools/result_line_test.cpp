// result_line_test.cpp: result lines and files read back, damaged ones named by line number and never read past their end.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "result_file.h"

namespace {

const char good[] = "0000000005F5E100,0000000000000000,0000000001312C00,123456789ABCDEF000000000FFFFFFFF";

std::string write_temp(const std::string &name, const std::string &bytes) {
  std::filesystem::path p = std::filesystem::temp_directory_path() / ("quarn_tools_" + name);
  std::FILE *f = std::fopen(p.string().c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return p.string();
}

TEST(ResultLine, ParsesTheClientsFormatAndFormatsItBack) {
  ResultLine l{};
  const char *why = nullptr;
  ASSERT_TRUE(parse_result_line(good, std::strlen(good), &l, &why));
  EXPECT_EQ(l.where, 100000000u);
  EXPECT_EQ(l.srt, 0u);
  EXPECT_EQ(l.end, 19999744u);
  EXPECT_EQ(l.limbs[0], 0x12345678u);
  EXPECT_EQ(l.limbs[1], 0x9ABCDEF0u);
  EXPECT_EQ(l.limbs[2], 0u);
  EXPECT_EQ(l.limbs[3], 0xFFFFFFFFu);
  char buf[result_line_length + 1];
  format_result_line(l, buf);
  EXPECT_STREQ(buf, good);
  // High words, lower-case digits and a trailing CR are all accepted.
  const char high[] = "0000000100000000,00000000FFFFFFFE,0000000100000002,abcdef0123456789abcdef0123456789\r";
  ASSERT_TRUE(parse_result_line(high, std::strlen(high), &l, &why));
  EXPECT_EQ(l.where, uint64_t(1) << 32);
  EXPECT_EQ(l.srt, 0xFFFFFFFEu);
  EXPECT_EQ(l.end, (uint64_t(1) << 32) + 2);
  EXPECT_EQ(l.limbs[0], 0xABCDEF01u);
}

TEST(ResultLine, RefusesDamagedLinesWithAReason) {
  struct Case {
    std::string text;
    const char *reason_part;
  };
  const std::string g = good;
  auto changed = [&](std::size_t pos, char c) {
    std::string s = g;
    s[pos] = c;
    return s;
  };
  const Case cases[] = {
      {g.substr(0, 82), "truncated"},
      {g.substr(0, 40), "truncated"},
      {g + "0", "too long"},
      {changed(0, 'X'), "position"},
      {changed(20, 'G'), "start"},
      {changed(40, '-'), "end"},
      {changed(16, ';'), "comma"},
      {changed(82, 'Z'), "share"},
      {changed(60, ' '), "share"},
      {std::string(83, '\0'), "position"},
  };
  for (const Case &c : cases) {
    ResultLine l{};
    const char *why = nullptr;
    EXPECT_FALSE(parse_result_line(c.text.data(), c.text.size(), &l, &why)) << c.text;
    ASSERT_NE(why, nullptr);
    EXPECT_NE(std::strstr(why, c.reason_part), nullptr) << why;
  }
}

TEST(ResultLine, FilesWithEitherLineEndAndDamagedLinesAreReadLineByLine) {
  std::string g = good;
  std::string bytes = g + "\r\n" + "\r\n" + g.substr(0, 50) + "\r\n" + g + "\n" + "garbage here\n" +
                      std::string("\0\0\0", 3) + "\n" + g;  // no line end after the last
  std::string path = write_temp("mixed.txt", bytes);
  std::vector<SourceLine> lines;
  std::vector<BadLine> bad;
  ASSERT_TRUE(read_result_file(path.c_str(), 3, &lines, &bad));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].number, 1u);
  EXPECT_EQ(lines[1].number, 4u);
  EXPECT_EQ(lines[2].number, 7u);
  EXPECT_EQ(lines[2].file, 3u);
  ASSERT_EQ(bad.size(), 3u);
  EXPECT_EQ(bad[0].number, 3u);
  EXPECT_NE(bad[0].why.find("truncated"), std::string::npos);
  EXPECT_EQ(bad[1].number, 5u);
  EXPECT_EQ(bad[2].number, 6u);
  std::remove(path.c_str());

  lines.clear();
  bad.clear();
  EXPECT_FALSE(read_result_file((path + ".missing").c_str(), 0, &lines, &bad));
  ASSERT_EQ(bad.size(), 1u);
  EXPECT_EQ(bad[0].number, 0u);
}

}  // namespace
