// Tests of the shell settings: flag and priority encodings, the mapping to
// levels and thread priorities, and load/save through a fake profile.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "settings.h"

namespace {

TEST(SettingsFlags, AnyNonZeroIsOnAndTogglesOff) {
  EXPECT_EQ(decode_flag(0), 0);
  for (int32_t stored : {8, 1, 9, -1, 12345}) {
    const int32_t flag = decode_flag(stored);
    EXPECT_EQ(flag, 8) << stored;
    // A stored 1 used as-is would toggle to 9 and could never be turned off.
    EXPECT_EQ(toggle_flag(flag), 0) << stored;
  }
  EXPECT_EQ(toggle_flag(0), 8);
}

TEST(SettingsPriority, DecodesAutoAndLevelsOneToFive) {
  EXPECT_EQ(decode_priority("Auto"), 106);
  const char *levels[] = {"1", "2", "3", "4", "5"};
  for (int n = 1; n <= 5; ++n) EXPECT_EQ(decode_priority(levels[n - 1]), 100 + n);
  // A leading number is read as the profile reads integers.
  EXPECT_EQ(decode_priority("3abc"), 103);
  EXPECT_EQ(decode_priority("+4"), 104);
}

TEST(SettingsPriority, EverythingElseFallsBackToAuto) {
  for (const char *stored : {"auto", "AUTO", "Auto ", "", "0", "6", "-3", "12", "x",
                             "99999999999", "0x3", "-0"})
    EXPECT_EQ(decode_priority(stored), 106) << '"' << stored << '"';
}

TEST(SettingsPriority, EncodingRoundTrips) {
  char buf[12];
  for (int32_t choice = 101; choice <= 106; ++choice) {
    encode_priority(choice, buf, sizeof buf);
    EXPECT_EQ(decode_priority(buf), choice) << buf;
  }
  encode_priority(106, buf, sizeof buf);
  EXPECT_STREQ(buf, "Auto");
  encode_priority(103, buf, sizeof buf);
  EXPECT_STREQ(buf, "3");
}

TEST(SettingsPriority, ChoicesMapToLevelsAndThreadPriorities) {
  // Radio button 101..105 -> level -3..1 -> idle, lowest, below normal,
  // normal, above normal; levels below -3 (never set) are idle as well.
  const int expected_priority[] = {-15, -2, -1, 0, 1};
  for (int32_t choice = 101; choice <= 105; ++choice) {
    const int32_t level = priority_level_for_choice(choice);
    EXPECT_EQ(level, choice - 104);
    EXPECT_EQ(thread_priority_for_level(level), expected_priority[choice - 101]);
  }
  EXPECT_EQ(thread_priority_for_level(-7), -15);
}

TEST(SettingsPower, AutostartNeedsMainsAndAFullBattery) {
  EXPECT_TRUE(power_allows_autostart(false, false, 10));  // no power information
  EXPECT_TRUE(power_allows_autostart(true, true, -1));    // no battery
  EXPECT_TRUE(power_allows_autostart(true, true, 76));
  EXPECT_FALSE(power_allows_autostart(true, true, 75));
  EXPECT_FALSE(power_allows_autostart(true, true, 50));
  EXPECT_FALSE(power_allows_autostart(true, false, 100));  // on battery
  EXPECT_FALSE(power_allows_autostart(true, false, -1));
}

// --- load and save through a fake profile ---

std::map<std::string, std::string> profile;
std::vector<std::string> writes;

int32_t fake_get_int(const char *key, int32_t def) {
  auto it = profile.find(key);
  return it == profile.end() ? def : static_cast<int32_t>(std::atol(it->second.c_str()));
}
void fake_get_string(const char *key, const char *def, char *buf, uint32_t size) {
  auto it = profile.find(key);
  std::snprintf(buf, size, "%s", it == profile.end() ? def : it->second.c_str());
}
void fake_put_string(const char *key, const char *value) {
  profile[key] = value;
  writes.push_back(std::string(key) + "=" + value);
}
const SettingsStore fake_store = {fake_get_int, fake_get_string, fake_put_string};

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    profile.clear();
    writes.clear();
  }
};

TEST_F(SettingsStoreTest, MissingKeysGiveOffOffAuto) {
  const ShellSettings s = settings_load(fake_store);
  EXPECT_EQ(s.tray_icon_flag, 0);
  EXPECT_EQ(s.autocontinue_flag, 0);
  EXPECT_EQ(s.priority_choice, 106);
  settings_save(s, fake_store);
  const std::vector<std::string> expected = {"Trayicon=0", "Autocontinue=0", "Priority=Auto"};
  EXPECT_EQ(writes, expected);
}

TEST_F(SettingsStoreTest, SavedSettingsLoadBackUnchanged) {
  for (int32_t tray : {0, 8})
    for (int32_t autocontinue : {0, 8})
      for (int32_t choice = 101; choice <= 106; ++choice) {
        const ShellSettings s = {tray, autocontinue, choice};
        settings_save(s, fake_store);
        const ShellSettings back = settings_load(fake_store);
        EXPECT_EQ(back.tray_icon_flag, tray);
        EXPECT_EQ(back.autocontinue_flag, autocontinue);
        EXPECT_EQ(back.priority_choice, choice);
      }
}

TEST_F(SettingsStoreTest, OddStoredValuesAreNormalisedOnLoad) {
  profile = {{"Trayicon", "1"}, {"Autocontinue", "-5"}, {"Priority", "7"}};
  const ShellSettings s = settings_load(fake_store);
  EXPECT_EQ(s.tray_icon_flag, 8);
  EXPECT_EQ(s.autocontinue_flag, 8);
  EXPECT_EQ(s.priority_choice, 106);
  settings_save(s, fake_store);
  EXPECT_EQ(profile["Trayicon"], "8");
  EXPECT_EQ(profile["Priority"], "Auto");
}

}  // namespace
