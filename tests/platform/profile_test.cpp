// profile_test.cpp: the INI reader and writer against the private-profile behaviour the state file relies on.
#include "test_support.h"

#include "platform.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

class Profile : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    ini = path("Quarn.ini");
  }
  bool write(const char *section, const char *key, const char *value) {
    return profile_write_string(section, key, value, ini.c_str());
  }
  std::string ini;
};

TEST_F(Profile, NamesMatchWithoutCaseAndTrimmedAndTheFirstMatchWins) {
  write_file(ini,
           "[Main]\r\n a = 1 \r\nA=2\r\n\tsp =  \t x y \t \r\n"
           "[main]\r\nb=3\r\na=9\r\n"
           "  [ Thread0 ]\r\nwhere=5\r\n");
  EXPECT_EQ(profile_text("Main", "a", ini), "1");
  EXPECT_EQ(profile_text("MAIN", "A", ini), "1");
  EXPECT_EQ(profile_text(" Main ", " a ", ini), "1");
  EXPECT_EQ(profile_text("Main", "sp", ini), "x y");
  // Only the first [Main] is ever read: its duplicate's keys are invisible.
  EXPECT_EQ(profile_text("Main", "b", ini), "<def>");
  EXPECT_EQ(profile_text("thread0", "WHERE", ini), "5");
}

TEST_F(Profile, MatchingQuotesAreRemovedOthersKept) {
  write_file(ini,
           "[Q]\r\nd=\"in quotes\"\r\ns='single'\r\nmixed=\"mismatch'\r\nlone=\"\r\n"
           "empty=\"\"\r\nspaced= \" kept \" \r\ninner=a\"b\"\r\n");
  EXPECT_EQ(profile_text("Q", "d", ini), "in quotes");
  EXPECT_EQ(profile_text("Q", "s", ini), "single");
  EXPECT_EQ(profile_text("Q", "mixed", ini), "\"mismatch'");
  EXPECT_EQ(profile_text("Q", "lone", ini), "\"");
  EXPECT_EQ(profile_text("Q", "empty", ini), "");
  EXPECT_EQ(profile_text("Q", "spaced", ini), " kept ");
  EXPECT_EQ(profile_text("Q", "inner", ini), "a\"b\"");
}

TEST_F(Profile, CommentsUnknownLinesAndOddHeaders) {
  write_file(ini,
           "orphan=1\r\n[Main]\r\n;c=3\r\nnoeq\r\n=nameless\r\nv=a=b\r\n[bad\r\nafter=1\r\n"
           "[x]y]\r\nk=2\r\n[H] ; note\r\nh=3\r\n");
  EXPECT_EQ(profile_text("Main", ";c", ini), "<def>");      // a comment, not a key
  EXPECT_EQ(profile_text("Main", "noeq", ini), "<def>");    // no '=': not a key
  EXPECT_EQ(profile_text("Main", "", ini), "nameless");
  EXPECT_EQ(profile_text("Main", "v", ini), "a=b");         // split at the first '='
  EXPECT_EQ(profile_text("Main", "after", ini), "1");       // "[bad" opens no section
  EXPECT_EQ(profile_text("x]y", "k", ini), "2");            // the name runs to the last ']'
  EXPECT_EQ(profile_text("H", "h", ini), "3");
  EXPECT_EQ(profile_text("", "orphan", ini), "<def>");      // before any section: never found
}

TEST_F(Profile, DefaultsForMissingFileSectionAndKeyButNotForEmptyValues) {
  EXPECT_EQ(profile_text("Main", "where", ini, "0000000005F5E100"), "0000000005F5E100");
  EXPECT_FALSE(file_exists(ini.c_str()));  // reading creates nothing
  write_file(ini, "[Main]\r\nempty=\r\n");
  EXPECT_EQ(profile_text("Other", "empty", ini), "<def>");
  EXPECT_EQ(profile_text("Main", "missing", ini), "<def>");
  EXPECT_EQ(profile_text("Main", "empty", ini), "");
  EXPECT_EQ(profile_text("Main", "missing", ini, nullptr), "");
  EXPECT_EQ(profile_text("Main", "missing", ini, "def   "), "def");  // trailing blanks dropped
  EXPECT_EQ(profile_get_int("Main", "missing", -1, ini.c_str()), -1);
  EXPECT_EQ(profile_get_int("Nowhere", "x", 77, path("none.ini").c_str()), 77);
}

TEST_F(Profile, ValuesAndDefaultsAreCutToTheBuffer) {
  write_file(ini, "[Main]\r\nv=abcdef\r\nq=\"quoted\"\r\n");
  char buf[8];
  std::memset(buf, 'X', sizeof buf);
  EXPECT_EQ(profile_get_string("Main", "v", "", buf, 4, ini.c_str()), 3u);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(buf[4], 'X');  // nothing written past the size given
  EXPECT_EQ(profile_get_string("Main", "q", "", buf, 7, ini.c_str()), 6u);
  EXPECT_STREQ(buf, "quoted");
  EXPECT_EQ(profile_get_string("Main", "v", "", buf, 1, ini.c_str()), 0u);
  EXPECT_STREQ(buf, "");
  buf[0] = 'X';
  EXPECT_EQ(profile_get_string("Main", "v", "", buf, 0, ini.c_str()), 0u);
  EXPECT_EQ(buf[0], 'X');
  EXPECT_EQ(profile_get_string("Main", "none", "default", buf, 4, ini.c_str()), 3u);
  EXPECT_STREQ(buf, "def");
}

// The expected numbers are what GetPrivateProfileIntA returns for the same
// values under Wine.
TEST_F(Profile, IntegersParseTheLeadingNumberLikeTheSystem) {
  struct Case {
    const char *value;
    int32_t expected;
  };
  const Case cases[] = {
      {"-3", -3},          {"12abc", 12},       {" 7", 7},           {"abc", 0},
      {"+5", 5},           {"\"42\"", 42},      {"007", 7},          {"1 2", 1},
      {"--1", 0},          {"-", 0},            {"-  4", 0},         {"+-1", 0},
      {"4294967297", 1},   {"2147483648", INT_MIN}, {"-2147483649", INT_MAX},
      {"0x10", 16},        {"0X1f", 0},         {"-0x10", -16},      {"0b101", 5},
      {"0o17", 15},        {"0o8", 0},          {"0xFFFFFFFF", -1},  {"1e3", 1},
      // only the first 29 characters are parsed
      {"123456789012345678901234567890", 1849262357},
      {"99999999999999999999999999999999999999", -1610612737},
  };
  auto key = [](size_t i) {
    char k[16];
    std::snprintf(k, sizeof k, "k%u", static_cast<unsigned>(i));
    return std::string(k);
  };
  std::string text = "[I]\r\n";
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    text += key(i);
    text += '=';
    text += cases[i].value;
    text += "\r\n";
  }
  text += "empty=\r\n";
  write_file(ini, text);
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
    EXPECT_EQ(profile_get_int("I", key(i).c_str(), 55, ini.c_str()), cases[i].expected)
        << "value " << cases[i].value;
  EXPECT_EQ(profile_get_int("I", "empty", 55, ini.c_str()), 55);  // empty: the default
  EXPECT_EQ(profile_get_int("I", "missing", 55, ini.c_str()), 55);
}

TEST_F(Profile, LfAndLoneCrLinesAndNoFinalNewlineRead) {
  write_file(ini, "[A]\nx=1\n[B]\ry=2\rz=3");
  EXPECT_EQ(profile_text("A", "x", ini), "1");
  EXPECT_EQ(profile_text("B", "y", ini), "2");
  EXPECT_EQ(profile_text("B", "z", ini), "3");
}

TEST_F(Profile, FirstWritesCreateFileSectionsAndKeysInPlace) {
  EXPECT_TRUE(write("Main", "k1", "v1"));
  EXPECT_EQ(read_file(ini), "[Main]\r\nk1=v1\r\n");
  EXPECT_TRUE(write("Thread0", "where", "0000000000000001"));
  EXPECT_TRUE(write("main", "k2", "  v2"));
  EXPECT_TRUE(write("MAIN", "K1", "new"));  // replaced, keeping the file's spelling
  EXPECT_EQ(read_file(ini),
            "[Main]\r\nk1=new\r\nk2=v2\r\n\r\n[Thread0]\r\nwhere=0000000000000001\r\n");
}

TEST_F(Profile, RewriteKeepsEveryOtherLineAndAppendsAfterTheLastKey) {
  write_file(ini,
           "; written by hand\nstray line\n[Main]\n  a = 1  \n; about Main\n\n"
           "junk without equals\n[Main]\nb=2\n[Two]\nc=3");
  EXPECT_TRUE(write("Main", "n", "new"));
  EXPECT_EQ(read_file(ini),
            "; written by hand\r\nstray line\r\n[Main]\r\n  a = 1  \r\nn=new\r\n; about Main\r\n"
            "\r\njunk without equals\r\n[Main]\r\nb=2\r\n[Two]\r\nc=3\r\n");
  EXPECT_TRUE(write("Main", "b", "first"));  // the first [Main] takes it
  EXPECT_EQ(profile_text("Main", "b", ini), "first");
  EXPECT_NE(read_file(ini).find("[Main]\r\nb=2\r\n"), std::string::npos);
}

TEST_F(Profile, NewSectionGetsOneBlankLineBeforeIt) {
  write_file(ini, "[Main]\r\na=1\r\n\r\n");
  EXPECT_TRUE(write("Z", "z", "1"));
  EXPECT_EQ(read_file(ini), "[Main]\r\na=1\r\n\r\n[Z]\r\nz=1\r\n");
  write_file(ini, "[Main]\r\na=1");
  EXPECT_TRUE(write("Z", "z", "1"));
  EXPECT_EQ(read_file(ini), "[Main]\r\na=1\r\n\r\n[Z]\r\nz=1\r\n");
  write_file(ini, "");
  EXPECT_TRUE(write("Z", "z", "1"));
  EXPECT_EQ(read_file(ini), "[Z]\r\nz=1\r\n");
}

TEST_F(Profile, ValuesStayOneLineAndRoundTrip) {
  EXPECT_TRUE(write("Main", "k", "line1\r\nline2=x"));
  EXPECT_EQ(profile_text("Main", "k", ini), "line1");
  EXPECT_EQ(profile_text("Main", "line2", ini), "<def>");
  EXPECT_TRUE(write("Main", "q", "\"quoted\""));
  EXPECT_EQ(profile_text("Main", "q", ini), "quoted");
  EXPECT_TRUE(write("Main", "neg", "-3"));
  EXPECT_EQ(profile_get_int("Main", "neg", 0, ini.c_str()), -3);
  EXPECT_TRUE(write("Main", "empty", ""));
  EXPECT_EQ(profile_text("Main", "empty", ini), "");
}

TEST_F(Profile, NullValueRemovesTheKeyNullKeyTheSection) {
  write_file(ini, "[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n[A]\r\nx=4\r\n");
  EXPECT_TRUE(write("a", "X", nullptr));
  EXPECT_EQ(read_file(ini), "[A]\r\ny=2\r\n[B]\r\nz=3\r\n[A]\r\nx=4\r\n");
  EXPECT_TRUE(write("A", nullptr, nullptr));
  EXPECT_EQ(read_file(ini), "[B]\r\nz=3\r\n[A]\r\nx=4\r\n");
}

// Each read says what it found, so a reader can tell a key that is not
// there from a file it could not read: both give the default.
TEST_F(Profile, ReadsSayWhetherTheKeyWasFoundMissingOrTheFileUnreadable) {
  char buf[32];
  ProfileRead how = ProfileRead::found;
  profile_get_string("Main", "a", "d", buf, sizeof buf, ini.c_str(), &how);
  EXPECT_EQ(how, ProfileRead::missing) << "no file";
  write_file(ini, "[Main]\r\na=1\r\nempty=\r\n");
  EXPECT_EQ(profile_get_int("Main", "a", 0, ini.c_str(), &how), 1);
  EXPECT_EQ(how, ProfileRead::found);
  profile_get_string("Main", "empty", "d", buf, sizeof buf, ini.c_str(), &how);
  EXPECT_EQ(how, ProfileRead::found) << "an empty value is a value";
  profile_get_string("Main", "b", "d", buf, sizeof buf, ini.c_str(), &how);
  EXPECT_EQ(how, ProfileRead::missing) << "no key";
  profile_get_string("Other", "a", "d", buf, sizeof buf, ini.c_str(), &how);
  EXPECT_EQ(how, ProfileRead::missing) << "no section";
  // A read that fails once (the file held for a moment) gives the default,
  // and says so; the next read finds the key again.
  fault_inject(PlatformOp::file_read_all, 1, false);
  EXPECT_EQ(profile_get_int("Main", "a", 7, ini.c_str(), &how), 7);
  EXPECT_EQ(how, ProfileRead::unreadable);
  EXPECT_EQ(profile_get_int("Main", "a", 7, ini.c_str(), &how), 1);
  EXPECT_EQ(how, ProfileRead::found);
  // A directory in the file's place cannot be read either.
  const std::string folder = path("folder.ini");
  std::filesystem::create_directory(folder);
  profile_get_string("Main", "a", "d", buf, sizeof buf, folder.c_str(), &how);
  EXPECT_EQ(how, ProfileRead::unreadable);
}

TEST_F(Profile, ADirectoryReadsAsDefaultsAndIsNotReplaced) {
  std::filesystem::create_directory(ini);
  EXPECT_EQ(profile_text("Main", "a", ini), "<def>");
  EXPECT_EQ(profile_get_int("Main", "a", 9, ini.c_str()), 9);
  EXPECT_FALSE(write("Main", "a", "1"));
  EXPECT_TRUE(std::filesystem::is_directory(ini));
}

TEST_F(Profile, NulBytesAndHugeLinesAreHandled) {
  std::string huge(100 * 1024, 'h');
  std::string text = std::string("[Main]\r\nnul=1\0tail\r\nbig=", 24) + huge + "\r\n" + huge +
                     "\r\nafter=ok\r\n";
  write_file(ini, text);
  EXPECT_EQ(profile_text("Main", "nul", ini), "1");  // the caller's C string ends at the NUL
  EXPECT_EQ(profile_text("Main", "big", ini, "", 11), std::string(10, 'h'));
  EXPECT_EQ(profile_text("Main", "after", ini), "ok");
  EXPECT_TRUE(write("Main", "new", "1"));
  std::string now = read_file(ini);
  EXPECT_EQ(now.find(std::string("nul=1\0tail\r\n", 12)), 8u);
  EXPECT_NE(now.find("\r\n" + huge + "\r\n"), std::string::npos);
  EXPECT_EQ(profile_text("Main", "new", ini), "1");
}

TEST_F(Profile, AFailedReplacementLeavesTheOldFile) {
  write_file(ini, "[Main]\r\ncur_pos=0000000000000010\r\n");
  // The temporary file's name taken by a folder: the new file cannot be
  // written, so nothing may change.
  std::filesystem::create_directory(ini + ".tmp");
  EXPECT_FALSE(write("Main", "cur_pos", "0000000000000020"));
  EXPECT_EQ(read_file(ini), "[Main]\r\ncur_pos=0000000000000010\r\n");
  std::filesystem::remove(ini + ".tmp");
  EXPECT_TRUE(write("Main", "cur_pos", "0000000000000020"));
  EXPECT_EQ(profile_text("Main", "cur_pos", ini), "0000000000000020");
  EXPECT_FALSE(file_exists((ini + ".tmp").c_str()));
}

TEST_F(Profile, AWriteThatChangesNothingDoesNotRewrite) {
  write_file(ini, "[Main]\r\na=1\r\n");
  fault_inject(PlatformOp::file_replace, 1, true);
  EXPECT_TRUE(write("Main", "a", "1"));
  EXPECT_EQ(fault_calls(PlatformOp::file_replace), 0);
  EXPECT_FALSE(write("Main", "a", "2"));
  EXPECT_EQ(profile_text("Main", "a", ini), "1");
}

}  // namespace
