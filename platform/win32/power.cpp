// power.cpp: power information over the Win32 API.
#include "power.h"

#include <windows.h>

PowerStatus power_status() {
  PowerStatus st{false, true, -1};
  SYSTEM_POWER_STATUS sps;
  if (!GetSystemPowerStatus(&sps)) return st;
  st.known = true;
  // 255 is "unknown" in both bytes: an unknown line status counts as on
  // line, an unknown level as no battery.
  st.ac_online = sps.ACLineStatus != 0;
  st.battery_percent = sps.BatteryLifePercent <= 100 ? sps.BatteryLifePercent : -1;
  return st;
}
