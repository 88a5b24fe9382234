/*
 * settings.h: the shell's three settings ("Trayicon", "Autocontinue",
 * "Priority" in [Main]) and the encodings between their stored text, the
 * menu check flags, the priority dialog's radio buttons and the workers'
 * priority levels.
 */
#pragma once

#include <cstdint>

#include "../resources/quarn_ids.h"

// The menu check flag doubles as the stored value of an on/off setting.
constexpr int32_t setting_on = 8;
// A priority choice is the ID of the dialog's chosen radio button.
constexpr int32_t priority_choice_first = IDC_PRIORITY_1;
constexpr int32_t priority_choice_auto = IDC_PRIORITY_AUTO;

struct ShellSettings {
  int32_t tray_icon_flag;     // 0 or setting_on
  int32_t autocontinue_flag;  // 0 or setting_on
  int32_t priority_choice;    // 101..106
};

// Where the settings are kept: [Main] of the state file, reached through
// the front end's profile calls. A missing key yields `def`.
struct SettingsStore {
  int32_t (*get_int)(const char *key, int32_t def);
  void (*get_string)(const char *key, const char *def, char *buf, uint32_t size);
  void (*put_string)(const char *key, const char *value);
};

// A stored on/off value as a flag: any non-zero value is on and becomes
// setting_on, so that toggling by XOR with setting_on always turns it off.
int32_t decode_flag(int32_t stored);
// The flag flipped, as the menu command does.
inline int32_t toggle_flag(int32_t flag) { return flag ^ setting_on; }

// "Auto" (exactly) is 106; "1".."5" (a leading decimal number, as the
// profile reads integers) are 101..105; anything else falls back to Auto.
int32_t decode_priority(const char *stored);
// "Auto" for 106, otherwise the level's digit "1".."5". buf holds >= 12.
void encode_priority(int32_t choice, char *buf, uint32_t size);

// Level of a fixed choice 101..105: -3..1.
inline int32_t priority_level_for_choice(int32_t choice) { return choice - 104; }
// Win32 thread priority a worker gives itself for a level: -3 and below
// are the idle priority (-15); -2..1 are their own numbers.
inline int thread_priority_for_level(int32_t level) { return level <= -3 ? -15 : level; }

// The power rule of auto-continue: start at launch when there is no power
// information, or the battery is above 75 % (or unknown) with mains power
// on line (or unknown), so a machine without a battery qualifies.
// battery_percent < 0 means unknown.
bool power_allows_autostart(bool known, bool ac_online, int battery_percent);

// Reads the three settings, with the defaults off, off and Auto.
ShellSettings settings_load(const SettingsStore &store);
// Writes "Trayicon", then "Autocontinue", then "Priority".
void settings_save(const ShellSettings &settings, const SettingsStore &store);
