// profile_diff.cpp: checks our profile functions against the system's GetPrivateProfileStringA, GetPrivateProfileIntA and WritePrivateProfileStringA on the same files; exits non-zero on any difference.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"

namespace {

struct Tally {
  int compared = 0;
  int failed = 0;
};

Tally tally;

std::string shown(const char *s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 32 && c < 127) out += static_cast<char>(c);
    else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

// Ours and the system's reading of one key of one file, result and buffer.
void compare_string(const char *what, const char *section, const char *key, const char *def,
                    uint32_t size, const std::string &path) {
  char ours[300], theirs[300];
  std::memset(ours, 'X', sizeof ours);
  std::memset(theirs, 'X', sizeof theirs);
  uint32_t n_ours = profile_get_string(section, key, def, ours, size, path.c_str());
  DWORD n_theirs = GetPrivateProfileStringA(section, key, def, theirs, size, path.c_str());
  ++tally.compared;
  if (n_ours == n_theirs && std::memcmp(ours, theirs, n_ours + 1 < size ? n_ours + 1 : size) == 0)
    return;
  ++tally.failed;
  std::printf("DIFF %s: [%s] %s (default \"%s\", size %u): ours %u \"%s\", system %lu \"%s\"\n", what,
              section, key, def, size, n_ours, shown(ours, n_ours).c_str(),
              static_cast<unsigned long>(n_theirs),
              shown(theirs, n_theirs < sizeof theirs ? n_theirs : 0).c_str());
}

void compare_int(const char *what, const char *section, const char *key, int def,
                 const std::string &path) {
  int ours = profile_get_int(section, key, def, path.c_str());
  int theirs = static_cast<int>(GetPrivateProfileIntA(section, key, def, path.c_str()));
  ++tally.compared;
  if (ours == theirs) return;
  ++tally.failed;
  std::printf("DIFF %s: int [%s] %s (default %d): ours %d, system %d\n", what, section, key, def,
              ours, theirs);
}

std::string upper(const char *s) {
  std::string u(s);
  for (char &c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

struct Write {
  const char *section;
  const char *key;
  const char *value;
};

// What the program writes, and the awkward values it must survive: cases
// differing between writes, quotes, blanks, numbers with junk, '=' inside.
const Write writes[] = {
    {"Main", "where", "0000000005F5E100"},
    {"Main", "cur_pos", "0000000000000000"},
    {"Thread0", "where", "00000000000000FF"},
    {"MAIN", "Where", "0000000005F5E101"},
    {"Main", "output0", "-3"},
    {"Main", "output1", "12abc"},
    {"Thread1", "cur_pos", "0000000100000000"},
    {"Main", "spaced", "  7  "},
    {"Main", "quoted", "\"in quotes\""},
    {"Main", "single", "'x'"},
    {"Main", "half", "\"open"},
    {"thread0", "END_POS", "0000000001312C00"},
    {"Main", "Priority", "Auto"},
    {"Main", "Trayicon", "8"},
    {"Main", "empty", ""},
    {"Main", "eq", "a=b"},
    {"Main", "hex", "0x10"},
    {"Thread1", "outputf", "1"},
    {"Main", "output0", "-2"},
    {"Main", "cur_pos", "0000000010000000"},
};

// Every key written, in its own case and upper case, at a roomy and a tight
// size, as string and as integer; and keys and sections that are absent.
void compare_written(const char *what, const std::string &path) {
  for (const Write &w : writes) {
    std::string us = upper(w.section), uk = upper(w.key);
    compare_string(what, w.section, w.key, "dflt", 64, path);
    compare_string(what, us.c_str(), uk.c_str(), "dflt", 64, path);
    // The system's reader cuts quoted values one short near the limit; the
    // program reads no quoted value, so only unquoted ones are cut here.
    if (w.value[0] != '"' && w.value[0] != '\'') compare_string(what, w.section, w.key, "dflt", 5, path);
    compare_int(what, w.section, w.key, 55, path);
  }
  compare_string(what, "Main", "absent", "0000000005F5E100", 20, path);
  compare_string(what, "Absent", "where", "dflt", 64, path);
  compare_string(what, "Main", "absent", "long default", 5, path);
  compare_int(what, "Main", "absent", -1, path);
  compare_int(what, "Absent", "x", 77, path);
}

// Files as an editor or another program may leave them.
struct Raw {
  const char *text;
  size_t length;  // 0: up to the NUL
};

const Raw raws[] = {
    {"[Main]\r\n a = 1 \r\nA=2\r\nq1=\"quoted\"\r\nq2='single'\r\nq3=\"mismatch'\r\nq4=\"\r\n"
     "q5= \" spaced \" \r\nq6=\"\"\r\nnoeq\r\n=nameless\r\nempty=\r\nsp=  \t x y \t \r\n"
     "[main]\r\nb=3\r\na=9\r\n[ Sp ace ]\r\nk=v\r\n[bad\r\nk2=v2\r\n[x]y]\r\nk3=v3\r\n  [Ind]\r\nk4=v4\r\n",
     0},
    {"[I]\r\na=-3\r\nb=12abc\r\nc= 7\r\nd=abc\r\ne=\r\nf=+5\r\ng=\"42\"\r\nh=4294967297\r\n"
     "i=-2147483649\r\nj=0x10\r\nk=  -  4\r\nl=99999999999999999999999999999999999999\r\nm=--1\r\n"
     "n=007\r\no=1 2\r\np=\t8\r\nq=-\r\nr=2147483648\r\ns=0X1f\r\nt=0b101\r\nu=0o17\r\n",
     0},
    {"[Main]\nwhere=0000000005F5E100\ncur_pos=0000000000000010\n[Thread0]\nwhere=1", 0},
    {"[Main]\rwhere=2\rcur_pos=3\r\n[Thread0]\r\r\nwhere=4", 0},
    {"[Main]\r\nnul=1\0tail\r\nafter=ok\r\n[Thread0]\r\nwhere=5\r\n", 50},
    {"; comment\r\n\r\n[Main]\r\n; where=9\r\nwhere=6\r\n\r\n[Main]\r\nwhere=7\r\ncur_pos=8\r\n", 0},
};

const char *const raw_sections[] = {"Main", "MAIN", "main", "Sp ace", " Sp ace ", "bad", "x]y",
                                     "Ind", "I", "Thread0", "Absent"};
const char *const raw_keys[] = {"a",     "A",  "q1", "q2", "q3", "q4", "q5", "q6", "noeq", "",
                                "empty", "sp", "b",  "k",  "k2", "k3", "k4", "c",  "d",    "e",
                                "f",     "g",  "h",  "i",  "j",  "l",  "m",  "n",  "o",    "p",
                                "q",     "r",  "s",  "t",  "u",  "where", "cur_pos", "nul",
                                "after", "tail", "absent"};

void put(const std::string &path, const char *text, size_t length) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(text, 1, length, f);
  std::fclose(f);
}

}  // namespace

int main() {
  char cwd[MAX_PATH];
  GetCurrentDirectoryA(sizeof cwd, cwd);
  const std::string ours = std::string(cwd) + "\\profile_diff_ours.ini";
  const std::string theirs = std::string(cwd) + "\\profile_diff_system.ini";
  const std::string mixed = std::string(cwd) + "\\profile_diff_mixed.ini";
  const std::string raw = std::string(cwd) + "\\profile_diff_raw.ini";
  for (const std::string *p : {&ours, &theirs, &mixed, &raw}) DeleteFileA(p->c_str());

  // The same writes by each writer, and by both in turn on one file; every
  // file is then read by both readers.
  int turn = 0;
  for (const Write &w : writes) {
    profile_write_string(w.section, w.key, w.value, ours.c_str());
    WritePrivateProfileStringA(w.section, w.key, w.value, theirs.c_str());
    if (turn++ % 2) profile_write_string(w.section, w.key, w.value, mixed.c_str());
    else WritePrivateProfileStringA(w.section, w.key, w.value, mixed.c_str());
  }
  compare_written("written by ours", ours);
  compare_written("written by the system", theirs);
  compare_written("written by both", mixed);
  // Both writers must have stored the same values: our reader on each file.
  for (const Write &w : writes) {
    char a[64], b[64];
    profile_get_string(w.section, w.key, "", a, sizeof a, ours.c_str());
    profile_get_string(w.section, w.key, "", b, sizeof b, theirs.c_str());
    ++tally.compared;
    if (std::strcmp(a, b) != 0) {
      ++tally.failed;
      std::printf("DIFF writers: [%s] %s: ours wrote \"%s\", the system \"%s\"\n", w.section, w.key,
                  a, b);
    }
  }

  for (const Raw &r : raws) {
    put(raw, r.text, r.length ? r.length : std::strlen(r.text));
    for (const char *s : raw_sections)
      for (const char *k : raw_keys) {
        compare_string("hand-made file", s, k, "dflt", 64, raw);
        compare_int("hand-made file", s, k, 55, raw);
      }
  }

  for (const std::string *p : {&ours, &theirs, &mixed, &raw}) DeleteFileA(p->c_str());
  std::printf("profile_diff: %d comparisons, %d differences\n", tally.compared, tally.failed);
  return tally.failed == 0 ? 0 : 1;
}
