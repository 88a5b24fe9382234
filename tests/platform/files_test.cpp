// files_test.cpp: file search, appends, whole-file reads and replacement, renames and directories.
#include "test_support.h"

#include "platform.h"

#include <cstdlib>

namespace {

class Files : public ScratchTest {};

TEST(NameMatches, WildcardsWithoutRegardToCase) {
  EXPECT_TRUE(name_matches("Range*.ini", "RANGE.INI"));
  EXPECT_TRUE(name_matches("Range*.ini", "range42.Ini"));
  EXPECT_FALSE(name_matches("Range*.ini", "Range1.ini.bak"));
  EXPECT_FALSE(name_matches("Range*.ini", "MyRange1.ini"));
  EXPECT_TRUE(name_matches("output?.txt", "output1.txt"));
  EXPECT_FALSE(name_matches("output?.txt", "output.txt"));
  EXPECT_FALSE(name_matches("output?.txt", "output12.txt"));
  EXPECT_TRUE(name_matches("*a*b", "xxaxxb"));
  EXPECT_FALSE(name_matches("*a*b", "xxaxxbx"));
  EXPECT_TRUE(name_matches("*", ""));
  EXPECT_TRUE(name_matches("**?*", "x"));
  EXPECT_FALSE(name_matches("", "x"));
}

TEST_F(Files, FindFirstTakesTheSmallestMatchingRegularFile) {
  for (const char *n : {"Range2.ini", "range1.INI", "Range10.ini", "Rangefoo.txt", "other.ini"})
    write_file(path(n), "[Main]\r\n");
  std::filesystem::create_directory(path("Range0.ini"));  // a folder never counts
  char name[64];
  ASSERT_TRUE(file_find_first(dir.string().c_str(), "Range*.ini", name, sizeof name));
  EXPECT_STREQ(name, "Range10.ini");  // byte order: '1' < '2', 'R' < 'r'
  ASSERT_TRUE(file_delete(path(name).c_str()));
  ASSERT_TRUE(file_find_first(dir.string().c_str(), "Range*.ini", name, sizeof name));
  EXPECT_STREQ(name, "Range2.ini");
  EXPECT_FALSE(file_find_first(dir.string().c_str(), "Range*.dat", name, sizeof name));
  EXPECT_STREQ(name, "");
  EXPECT_FALSE(file_find_first(path("missing").c_str(), "*", name, sizeof name));
}

TEST_F(Files, AppendLineAddsCrLfAndCreatesTheFile) {
  std::string out = path("output0.txt");
  EXPECT_TRUE(file_append_line(out.c_str(), "0000000000000000,0000000000000001"));
  EXPECT_TRUE(file_append_line(out.c_str(), ""));
  EXPECT_TRUE(file_append_line(out.c_str(), "last"));
  EXPECT_EQ(read_file(out), "0000000000000000,0000000000000001\r\n\r\nlast\r\n");
  std::filesystem::create_directory(path("adir"));
  EXPECT_FALSE(file_append_line(path("adir").c_str(), "x"));
}

TEST_F(Files, ReadAllTellsMissingFromUnreadable) {
  char *data = nullptr;
  uint32_t size = 7;
  bool missing = false;
  EXPECT_FALSE(file_read_all(path("none").c_str(), &data, &size, &missing));
  EXPECT_TRUE(missing);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(size, 0u);
  std::filesystem::create_directory(path("adir"));
  EXPECT_FALSE(file_read_all(path("adir").c_str(), &data, &size, &missing));
  EXPECT_FALSE(missing);
  EXPECT_EQ(data, nullptr);

  std::string bytes("a\0b\r\nc", 6);
  write_file(path("f"), bytes);
  ASSERT_TRUE(file_read_all(path("f").c_str(), &data, &size, &missing));
  EXPECT_EQ(std::string(data, size), bytes);
  EXPECT_EQ(data[size], 0);
  std::free(data);
  write_file(path("empty"), "");
  ASSERT_TRUE(file_read_all(path("empty").c_str(), &data, &size, &missing));
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(data[0], 0);
  std::free(data);
}

TEST_F(Files, ReplaceSwapsTheWholeFileAndLeavesNoTemporary) {
  std::string f = path("Quarn.ini");
  EXPECT_TRUE(file_replace(f.c_str(), "new file", 8));
  EXPECT_EQ(read_file(f), "new file");
  write_file(f, "a much longer old content that must vanish entirely");
  EXPECT_TRUE(file_replace(f.c_str(), "short", 5));
  EXPECT_EQ(read_file(f), "short");
  EXPECT_TRUE(file_replace(f.c_str(), "", 0));
  EXPECT_EQ(read_file(f), "");
  EXPECT_FALSE(file_exists((f + ".tmp").c_str()));
  std::filesystem::create_directory(path("adir"));
  EXPECT_FALSE(file_replace(path("adir").c_str(), "x", 1));
  EXPECT_TRUE(std::filesystem::is_directory(path("adir")));
  EXPECT_FALSE(file_exists(path("adir.tmp").c_str()));
}

TEST_F(Files, RenameReplacesDeleteRemovesExistsSeesRegularFilesOnly) {
  write_file(path("a"), "A");
  write_file(path("b"), "B");
  EXPECT_TRUE(file_rename(path("a").c_str(), path("b").c_str()));
  EXPECT_FALSE(file_exists(path("a").c_str()));
  EXPECT_EQ(read_file(path("b")), "A");
  EXPECT_FALSE(file_rename(path("a").c_str(), path("c").c_str()));
  EXPECT_TRUE(file_delete(path("b").c_str()));
  EXPECT_FALSE(file_exists(path("b").c_str()));
  EXPECT_FALSE(file_delete(path("b").c_str()));
  std::filesystem::create_directory(path("adir"));
  EXPECT_FALSE(file_exists(path("adir").c_str()));
}

TEST(Directories, CurrentDirectoryAndItsBuffer) {
  char buf[1024];
  ASSERT_TRUE(current_directory(buf, sizeof buf));
  EXPECT_EQ(std::filesystem::path(buf), std::filesystem::current_path());
  EXPECT_FALSE(current_directory(buf, 2));
  char win[260];
#if defined(_WIN32)
  ASSERT_TRUE(windows_directory(win, sizeof win));
  EXPECT_TRUE(std::filesystem::is_directory(win));
#else
  EXPECT_FALSE(windows_directory(win, sizeof win));
  EXPECT_STREQ(win, "");
#endif
}

}  // namespace
