// power.cpp: power information from sysfs on Linux.
#include "posix_only.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The first line of a small sysfs file, without its end; empty if unreadable.
std::string read_word(const std::string &path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  char buf[64];
  ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return std::string();
  buf[n] = 0;
  buf[std::strcspn(buf, "\r\n")] = 0;
  return std::string(buf);
}

}  // namespace

PowerStatus power_status_at(const char *supply_dir) {
  PowerStatus st{false, true, -1};
  DIR *d = supply_dir ? ::opendir(supply_dir) : nullptr;
  if (!d) return st;
  bool mains_seen = false, mains_online = false, discharging = false;
  std::string battery;  // the battery with the smallest name gives the level
  while (dirent *e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::string dir = std::string(supply_dir) + "/" + e->d_name + "/";
    std::string type = read_word(dir + "type");
    if (type == "Mains" || type == "USB") {
      mains_seen = true;
      if (read_word(dir + "online") == "1") mains_online = true;
    } else if (type == "Battery") {
      // Mice and keyboards report batteries too; only the system's count.
      if (read_word(dir + "scope") == "Device" || read_word(dir + "present") == "0") continue;
      if (battery.empty() || battery > e->d_name) battery = e->d_name;
      if (read_word(dir + "status") == "Discharging") discharging = true;
    }
  }
  ::closedir(d);
  if (!mains_seen && battery.empty()) return st;
  st.known = true;
  // Without a mains supply to ask, a battery that is not discharging means
  // the machine is on line.
  st.ac_online = mains_seen ? mains_online : !discharging;
  if (!battery.empty()) {
    std::string cap = read_word(std::string(supply_dir) + "/" + battery + "/capacity");
    char *end = nullptr;
    long v = std::strtol(cap.c_str(), &end, 10);
    if (!cap.empty() && *end == 0 && v >= 0 && v <= 100) st.battery_percent = static_cast<int>(v);
  }
  return st;
}

PowerStatus power_status() { return power_status_at("/sys/class/power_supply"); }
