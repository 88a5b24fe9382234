// state_grammar.cpp: the strict reading of a state file that the reliability tests and the kill soak share.
#include "state_grammar.h"

#include <set>

namespace {

bool is_hex16(const std::string &v) {
  if (v.size() != 16) return false;
  for (char c : v)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

bool is_int(const std::string &v) {
  std::size_t i = (!v.empty() && v[0] == '-') ? 1 : 0;
  if (i == v.size() || v.size() - i > 10) return false;
  for (; i < v.size(); ++i)
    if (v[i] < '0' || v[i] > '9') return false;
  return true;
}

// The values each key of each section may hold as the client writes them.
bool value_fits(bool main, const std::string &key, const std::string &v) {
  if (key == "where" || key == "cur_pos" || key == "end_pos") return is_hex16(v);
  if (main) {
    if (key == "srt_pos") return is_hex16(v);
    if (key == "output0" || key == "output1") return is_int(v);
    if (key == "current") return v == "0" || v == "1";
    if (key == "Trayicon" || key == "Autocontinue") return v == "0" || v == "8";
    if (key == "unit") return v.empty() || (v.size() > 9 && v.compare(0, 5, "Range") == 0);
    if (key == "Priority") return v == "Auto" || (v.size() == 1 && v[0] >= '1' && v[0] <= '5');
    return false;
  }
  return key == "outputf" && (v == "0" || v == "1");
}

}  // namespace

// The whole file by the grammar the client writes: CR LF after every line,
// section headers [Main] and [Thread<n>], known keys once each with sound
// values, blank lines only between sections.
bool parse_state(const std::string &text, std::vector<StateSection> *sections, std::string *why) {
  if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)) {
    *why = "the file does not end with a line end";
    return false;
  }
  std::set<std::string> names;
  std::size_t pos = 0;
  int number = 0;
  while (pos < text.size()) {
    std::size_t eol = text.find("\r\n", pos);
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 2;
    ++number;
    const std::string where = "line " + std::to_string(number) + " \"" + line + "\": ";
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
      *why = where + "a stray line-end or NUL byte";
      return false;
    }
    if (line.empty()) continue;
    if (line.front() == '[') {
      std::string name = line.substr(1, line.size() - 2);
      bool thread = name.size() > 6 && name.compare(0, 6, "Thread") == 0 &&
                    name.find_first_not_of("0123456789", 6) == std::string::npos;
      if (line.back() != ']' || (name != "Main" && !thread)) {
        *why = where + "not a section of the state file";
        return false;
      }
      if (!names.insert(name).second) {
        *why = where + "a second section of this name";
        return false;
      }
      sections->push_back(StateSection{name, {}});
      continue;
    }
    std::size_t eq = line.find('=');
    if (eq == std::string::npos || sections->empty()) {
      *why = where + "neither a section header nor a key in a section";
      return false;
    }
    StateSection &s = sections->back();
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (!value_fits(s.name == "Main", key, value)) {
      *why = where + "not a key of [" + s.name + "] with a sound value";
      return false;
    }
    if (!s.keys.emplace(key, value).second) {
      *why = where + "the key a second time";
      return false;
    }
  }
  return true;
}

