/*
 * settings.cpp: decoding and encoding of the shell's three settings.
 */
#include "settings.h"

#include <cstdio>
#include <cstring>

int32_t decode_flag(int32_t stored) { return stored != 0 ? setting_on : 0; }

// The leading decimal number of s, as the profile's integer read takes it;
// `ok` is false when there is none.
static long leading_number(const char *s, bool *ok) {
  while (*s == ' ' || *s == '\t') ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  long n = 0;
  *ok = *s >= '0' && *s <= '9';
  // The bound keeps n small; any such value is out of range anyway.
  for (; *s >= '0' && *s <= '9' && n < 1000000; ++s) n = n * 10 + (*s - '0');
  return negative ? -n : n;
}

int32_t decode_priority(const char *stored) {
  if (std::strcmp(stored, "Auto") == 0) return priority_choice_auto;
  bool ok;
  const long n = leading_number(stored, &ok);
  // Unchecked values would make a choice that no radio button shows and a
  // level the workers cannot apply.
  if (!ok || n < 1 || n > 5) return priority_choice_auto;
  return static_cast<int32_t>(100 + n);
}

void encode_priority(int32_t choice, char *buf, uint32_t size) {
  if (choice == priority_choice_auto)
    std::snprintf(buf, size, "Auto");
  else
    std::snprintf(buf, size, "%d", static_cast<int>(choice - 100));
}

bool power_allows_autostart(bool known, bool ac_online, int battery_percent) {
  if (!known) return true;
  return ac_online && (battery_percent < 0 || battery_percent > 75);
}

ShellSettings settings_load(const SettingsStore &store) {
  ShellSettings s;
  s.tray_icon_flag = decode_flag(store.get_int("Trayicon", 0));
  s.autocontinue_flag = decode_flag(store.get_int("Autocontinue", 0));
  char priority[40];
  store.get_string("Priority", "Auto", priority, sizeof priority);
  s.priority_choice = decode_priority(priority);
  return s;
}

void settings_save(const ShellSettings &settings, const SettingsStore &store) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(settings.tray_icon_flag));
  store.put_string("Trayicon", text);
  std::snprintf(text, sizeof text, "%d", static_cast<int>(settings.autocontinue_flag));
  store.put_string("Autocontinue", text);
  encode_priority(settings.priority_choice, text, sizeof text);
  store.put_string("Priority", text);
}
