// profile_fuzz.cpp: any bytes as Quarn.ini, then reads and writes of keys through the profile operations; a value written must read back as written and leave every other key as it was.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform.h"

namespace {

const char *const ini = "Quarn.ini";

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1a';
}

// What a read gives back of a value written: from its first non-blank
// character to its line break, its trailing blanks dropped, matching
// quotes removed.
std::string as_read_back(const std::string &value) {
  std::size_t b = 0;
  while (b < value.size() && is_blank(value[b])) ++b;
  std::size_t e = value.find_first_of("\r\n", b);
  if (e == std::string::npos) e = value.size();
  while (e > b && is_blank(value[e - 1])) --e;
  std::string v = value.substr(b, e - b);
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
  return v;
}

// Names the profile format can hold: no brackets, equals signs, blanks or
// line breaks to change how the line is read.
std::string clean_name(FuzzedDataProvider &in, const char *const *known, std::size_t count) {
  const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, count);
  if (pick < count) return known[pick];
  std::string s = in.ConsumeRandomLengthString(12);
  std::string out;
  for (char c : s)
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') out += c;
  return out.empty() ? "k" : out;
}

std::string get(const std::string &section, const std::string &key) {
  std::vector<char> buf(1 << 16);
  profile_get_string(section.c_str(), key.c_str(), "\x01missing", buf.data(), uint32_t(buf.size()), ini);
  return buf.data();
}

bool same_name(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

const char *const sections[] = {"Main", "Thread0", "Thread1", "main"};
const char *const keys[] = {"where", "cur_pos", "end_pos", "output0", "Trayicon", "Priority"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz_scratch();
  FuzzedDataProvider in(data, size);
  const std::string file = in.ConsumeRandomLengthString(1 << 16);
  fuzz_write_file(ini, file.data(), file.size());

  for (int op = 0; op < 8 && in.remaining_bytes() > 0; ++op) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
      case 0: {  // a read into a buffer of any size: cut, and always terminated
        const std::string s = in.ConsumeRandomLengthString(16), k = in.ConsumeRandomLengthString(16);
        const uint32_t cap = in.ConsumeIntegralInRange<uint32_t>(1, 80);
        std::vector<char> buf(cap + 8, '\x7f');
        const uint32_t n = profile_get_string(s.c_str(), k.c_str(), "dflt", buf.data(), cap, ini);
        fuzz_require(n < cap && buf[n] == '\0' && std::strlen(buf.data()) == n,
                     "a read is cut to its buffer and terminated");
        fuzz_require(buf[cap] == '\x7f', "a read stays inside its buffer");
        break;
      }
      case 1: {
        const std::string s = in.ConsumeRandomLengthString(16), k = in.ConsumeRandomLengthString(16);
        (void)profile_get_int(s.c_str(), k.c_str(), in.ConsumeIntegral<int32_t>(), ini);
        break;
      }
      case 2: {  // any names and value: only that nothing breaks
        const std::string s = in.ConsumeRandomLengthString(16), k = in.ConsumeRandomLengthString(16);
        const std::string v = in.ConsumeRandomLengthString(64);
        (void)profile_write_string(s.c_str(), k.c_str(), v.c_str(), ini);
        break;
      }
      case 3: {  // a key of the client: reads back, and nothing else changes
        const std::string s = clean_name(in, sections, 4), k = clean_name(in, keys, 6);
        const std::string v = in.ConsumeRandomLengthString(64);
        const std::string os = clean_name(in, sections, 4), ok = clean_name(in, keys, 6);
        const std::string other = get(os, ok);
        if (!profile_write_string(s.c_str(), k.c_str(), v.c_str(), ini)) break;
        fuzz_require(get(s, k) == as_read_back(std::string(v.c_str())), "a written value reads back");
        if (!(same_name(s, os) && same_name(k, ok)))
          fuzz_require(get(os, ok) == other, "a write changes no other key");
        break;
      }
    }
  }
  return 0;
}
