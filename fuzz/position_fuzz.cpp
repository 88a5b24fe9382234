// position_fuzz.cpp: any text as a 64-bit position, parsed directly and through the state file; only exactly 16 hexadecimal digits may be taken, and they must format back to themselves.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "platform.h"
#include "state_file.h"

namespace {

bool is_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

char upper(char c) { return (c >= 'a' && c <= 'f') ? char(c - 'a' + 'A') : c; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz_scratch();
  const std::string text(reinterpret_cast<const char *>(data), size);
  const char *c = text.c_str();  // up to the first NUL, as every reader sees it
  const std::size_t n = std::strlen(c);

  bool sixteen = n == 16;
  for (std::size_t i = 0; sixteen && i < 16; ++i) sixteen = is_hex(c[i]);
  uint64_t v = 0x5A5A5A5A5A5A5A5Au;
  const bool taken = parse_position(c, &v);
  fuzz_require(taken == sixteen, "exactly sixteen hexadecimal digits are a position");
  if (taken) {
    char back[position_text_size];
    format_position(v, back);
    for (int i = 0; i < 16; ++i) fuzz_require(back[i] == upper(c[i]), "a position formats back");
  } else {
    fuzz_require(v == 0x5A5A5A5A5A5A5A5Au, "a refused text leaves the value alone");
  }

  // The same text as a stored value (one line of it): the profile trims it
  // and removes matching quotes, so it is taken when what is left is.
  std::string line = c;
  line = line.substr(0, line.find_first_of("\r\n"));
  const std::string file = "[Main]\r\ncur_pos=" + line + "\r\n";
  fuzz_write_file("Quarn.ini", file.data(), file.size());
  char stored[64];
  profile_get_string("Main", "cur_pos", "", stored, sizeof stored, "Quarn.ini");
  uint64_t via_file = 1, direct = 2;
  const bool file_taken = read_position("Main", "cur_pos", 7, &via_file, "Quarn.ini");
  fuzz_require(file_taken == parse_position(stored, &direct), "the keyed read judges what it read");
  if (file_taken) fuzz_require(via_file == direct, "the keyed read gives the parsed value");
  (void)profile_get_int("Main", "cur_pos", -1, "Quarn.ini");
  return 0;
}
