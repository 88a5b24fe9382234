// state_file_test.cpp: positions in their text form, keyed reads, and the location and migration of Quarn.ini.
#include <cstring>
#include <filesystem>
#include <string>

#include "platform.h"
#include "state_file.h"
#include "support.h"

namespace fs = std::filesystem;

TEST(Positions, AreWrittenAsSixteenUpperCaseDigitsHighWordFirst) {
  char text[position_text_size];
  format_position(100000000, text);
  EXPECT_STREQ(text, "0000000005F5E100");
  format_position(uint64_t(1) << 32, text);
  EXPECT_STREQ(text, "0000000100000000");
  format_position(0xFEDCBA9876543210ull, text);
  EXPECT_STREQ(text, "FEDCBA9876543210");
}

TEST(Positions, ReadBackOnlyFromExactlySixteenHexDigits) {
  uint64_t v = 0;
  ASSERT_TRUE(parse_position("000000010000000A", &v));
  EXPECT_EQ(v, (uint64_t(1) << 32) + 10);
  ASSERT_TRUE(parse_position("00000000abcdef01", &v));
  EXPECT_EQ(v, 0xABCDEF01u);
  // Each of these would be split after its eighth character and misread.
  for (const char *bad : {"", "5F5E100", "00000000005F5E100", "00000000 5F5E100",
                          "-000000005F5E100", "000000005F5E10G0", "0x000000005F5E10"}) {
    v = 77;
    EXPECT_FALSE(parse_position(bad, &v)) << bad;
    EXPECT_EQ(v, 77u) << bad;
  }
}

TEST_F(CoordinatorTest, KeyedReadsGiveDefaultsForMissingKeysAndRefuseDamage) {
  write_file(dir / "Quarn.ini",
             "[Main]\r\noutput0=-3\r\ncur_pos=12345\r\nend_pos=0000000000000010\r\n");
  uint64_t v = 0;
  EXPECT_TRUE(read_position("Main", "where", 100000000, &v));
  EXPECT_EQ(v, 100000000u);
  EXPECT_TRUE(read_position("main", "END_POS", 0, &v));  // names match without case
  EXPECT_EQ(v, 16u);
  v = 5;
  EXPECT_FALSE(read_position("Main", "cur_pos", 0, &v));
  EXPECT_EQ(v, 5u);
  EXPECT_EQ(read_int("Main", "output0", -1), -3);
  EXPECT_EQ(read_int("Main", "output1", -1), -1);
  ASSERT_TRUE(write_position("Thread2", "cur_pos", uint64_t(1) << 32));
  EXPECT_EQ(ini("Thread2", "cur_pos"), "0000000100000000");
}

// A directory stands in for the Windows directory.
class Migration : public CoordinatorTest {
 protected:
  void SetUp() override {
    CoordinatorTest::SetUp();
    windows = dir / "windows";
    here = dir / "here";
    fs::create_directories(windows);
    fs::create_directories(here);
  }
  bool locate() { return locate_state_file_in(here.string().c_str(), windows.string().c_str()); }
  fs::path windows, here;
};

TEST_F(Migration, NoFileAnywhereMigratesNothing) {
  ASSERT_TRUE(locate());
  EXPECT_EQ(fs::path(state_file.ini_path), here / "Quarn.ini");
  EXPECT_FALSE(fs::exists(here / "Quarn.ini"));
}

TEST_F(Migration, CopiesEveryEntryOfEverySectionAndDeletesTheOldCopy) {
  const std::string long_value(150, 'v');
  write_file(windows / "Quarn.ini",
             "stray=before any section\r\n"
             "[Main]\r\nTrayicon=8\r\nwhere=0000000005F5E100\r\ncomment line without equals\r\n"
             "[Thread1]\r\ncur_pos = 0000000000001000\r\nnote=" +
                 long_value + "\r\n[Extra]\nlast=unterminated");
  ASSERT_TRUE(locate());
  EXPECT_EQ(fs::path(state_file.ini_path), here / "Quarn.ini");
  EXPECT_FALSE(fs::exists(windows / "Quarn.ini"));
  EXPECT_EQ(ini("Main", "Trayicon"), "8");
  EXPECT_EQ(ini("Main", "where"), "0000000005F5E100");
  EXPECT_EQ(ini("Thread1", "cur_pos"), "0000000000001000");
  // A line longer than 79 characters is copied whole, not split or cut.
  EXPECT_EQ(ini("Thread1", "note"), long_value);
  EXPECT_EQ(ini("Extra", "last"), "unterminated");
  EXPECT_EQ(read_file(here / "Quarn.ini").find("stray"), std::string::npos);
}

TEST_F(Migration, RunsWhenOnlyTheOldCopyHasTrayiconAndOverwritesSharedKeys) {
  write_file(here / "Quarn.ini", "[Main]\r\nwhere=0000000000000064\r\nkeep=1\r\n");
  write_file(windows / "Quarn.ini", "[Main]\r\nTrayicon=0\r\nwhere=0000000000000065\r\n");
  ASSERT_TRUE(locate());
  EXPECT_EQ(ini("Main", "where"), "0000000000000065");
  EXPECT_EQ(ini("Main", "keep"), "1");
  EXPECT_EQ(ini("Main", "Trayicon"), "0");
  EXPECT_FALSE(fs::exists(windows / "Quarn.ini"));
}

TEST_F(Migration, BothSetUpMeansNothingIsCopied) {
  write_file(here / "Quarn.ini", "[Main]\r\nTrayicon=0\r\n");
  write_file(windows / "Quarn.ini", "[Main]\r\nTrayicon=8\r\nwhere=0000000000000065\r\n");
  ASSERT_TRUE(locate());
  EXPECT_EQ(ini("Main", "where"), "<missing>");
  EXPECT_TRUE(fs::exists(windows / "Quarn.ini"));
}

TEST_F(Migration, TrayiconOfSeventySevenCountsAsNotSetUp) {
  write_file(here / "Quarn.ini", "[Main]\r\nTrayicon=77\r\n");
  write_file(windows / "Quarn.ini", "[Main]\r\nTrayicon=8\r\n");
  ASSERT_TRUE(locate());
  EXPECT_EQ(ini("Main", "Trayicon"), "8");
}

TEST_F(Migration, AFailedWriteKeepsTheOldCopy) {
  write_file(windows / "Quarn.ini", "[Main]\r\nTrayicon=8\r\nwhere=0000000000000065\r\n");
  fault_inject(PlatformOp::profile_write_string, 2, false);
  ASSERT_TRUE(locate());
  EXPECT_TRUE(fs::exists(windows / "Quarn.ini"));
  EXPECT_EQ(ini("Main", "Trayicon"), "8");  // the first write went through
}

TEST_F(Migration, ADirectoryTooLongForAPathIsRefusedWithoutOverflow) {
  const std::string long_dir(2 * path_capacity, 'd');
  EXPECT_FALSE(locate_state_file_in(long_dir.c_str(), nullptr));
  EXPECT_STREQ(state_file.ini_path, "");
  // An unusable Windows directory only means there is nothing to migrate.
  EXPECT_TRUE(locate_state_file_in(here.string().c_str(), long_dir.c_str()));
  EXPECT_EQ(fs::path(state_file.ini_path), here / "Quarn.ini");
}
