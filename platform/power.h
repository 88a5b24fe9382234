/*
 * power.h: the power service: what the power supply says. Implemented in
 * win32/power.cpp and posix/power.cpp.
 */
#pragma once

#include <cstdint>

struct PowerStatus {
  bool known;            // false: no power information
  bool ac_online;        // true also when the line status is unknown
  int battery_percent;   // 0..100, or -1 unknown (no battery)
};
PowerStatus power_status();
