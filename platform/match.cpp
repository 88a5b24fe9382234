// match.cpp: wildcard matching of file names and the first-match search, shared by both platforms' file searches.
#include "fault.h"
#include "files.h"
#include "fold.h"

bool name_matches(const char *pattern, const char *name) {
  if (!pattern || !name) return false;
  // Greedy scan with one back-tracking point (the last '*'): linear in
  // practice and never recursive, whatever the pattern.
  const char *star = nullptr;
  const char *resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || (*pattern && fold(*pattern) == fold(*name))) {
      ++pattern;
      ++name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

bool file_find_first(const char *dir, const char *pattern, char *name, uint32_t size) {
  if (!file_find_after(dir, pattern, nullptr, name, size)) return false;
  fault_found(dir, name);
  return true;
}
