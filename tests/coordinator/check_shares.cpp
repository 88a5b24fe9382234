// check_shares.cpp: checks result files against pi: their stretches must tile a range, and their shares, added to the rest of the head (evaluated here by the kernel) and the tail (summed exactly), must give the expected hexadecimal digits.
//
// Usage: check_shares WHERE SRT END DIGITS MAX_REPEATS FILE...
// WHERE, SRT, END decimal; DIGITS the hexadecimal digits of pi expected from
// position WHERE on ("-" to only print them); MAX_REPEATS how many lines may
// repeat a stretch that another line already covers. Lines of other
// positions are passed over.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kernel.h"
#include "platform.h"
#include "result_line.h"

namespace {

using u128 = unsigned __int128;

// A binary fraction of 256 bits, little-endian words: value / 2^256.
struct Fraction {
  uint64_t w[4];
};

void add(Fraction &a, const Fraction &b) {
  u128 carry = 0;
  for (int i = 0; i < 4; ++i) {
    u128 s = u128(a.w[i]) + b.w[i] + carry;
    a.w[i] = uint64_t(s);
    carry = s >> 64;
  }
}

Fraction negate(Fraction a) {
  for (uint64_t &x : a.w) x = ~x;
  add(a, Fraction{{1, 0, 0, 0}});
  return a;
}

// floor(num * 2^256 / m) for num < m, by long division.
Fraction divide(uint64_t num, uint64_t m) {
  Fraction f{};
  u128 rem = num;
  for (int i = 3; i >= 0; --i) {
    u128 n = rem << 64;
    f.w[i] = uint64_t(n / m);
    rem = n % m;
  }
  return f;
}

Fraction shift_right(Fraction f, int bits) {
  Fraction r{};
  const int words = bits / 64, rest = bits % 64;
  for (int i = 0; i < 4; ++i) {
    const int from = i + words;
    if (from >= 4) continue;
    uint64_t v = f.w[from] >> rest;
    if (rest && from + 1 < 4) v |= f.w[from + 1] << (64 - rest);
    r.w[i] = v;
  }
  return r;
}

uint64_t pow2_mod(uint64_t e, uint64_t m) {
  u128 result = 1 % m, base = 2 % m;
  for (; e; e >>= 1) {
    if (e & 1) result = result * base % m;
    base = base * base % m;
  }
  return uint64_t(result);
}

// weight * 2^e / m modulo 1, to 256 bits (truncated).
Fraction part(int64_t e, uint64_t m, int weight) {
  Fraction f{};
  if (e >= 0)
    f = divide(pow2_mod(uint64_t(e), m), m);
  else if (e > -256)
    f = shift_right(divide(1, m), int(-e));
  Fraction sum{};
  for (int i = 0; i < (weight < 0 ? -weight : weight); ++i) add(sum, f);
  return weight < 0 ? negate(sum) : sum;
}

// The sum of every term from `first` on, exactly (to 256 bits): the terms
// beyond the head, whose smallest exponents fall below 1.
Fraction tail(uint64_t where, uint64_t first) {
  Fraction total{};
  for (uint64_t k = first;; ++k) {
    const int64_t base = int64_t(4 * where) - int64_t(20 * k);
    if (base < -300) break;
    for (const TermPart &t : term_parts)
      add(total, part(base - t.a, uint64_t(t.modulus_step) * k + t.modulus_offset, t.weight));
  }
  return total;
}

void no_callback(WorkSlot *) {}

// The kernel's share of [srt, end) at `where`, as a 128-bit fraction.
u128 kernel_share(uint64_t where, uint64_t srt, uint64_t end) {
  if (srt >= end) return 0;
  alignas(16) static unsigned char block[slot_block_bytes];
  WorkSlot *slot = slot_in_block(block);
  *slot = WorkSlot{};
  slot->where = where;
  slot->srt_pos = slot->cur_pos = srt;
  slot->end_pos = end;
  while (slot->cur_pos != slot->end_pos) kernel_step(slot);
  kernel_finish(slot);
  uint32_t l[4];
  slot_limbs(slot, l);
  return u128(l[0]) << 96 | u128(l[1]) << 64 | u128(l[2]) << 32 | l[3];
}

std::string hex128(u128 v) {
  char text[40];
  std::snprintf(text, sizeof text, "%016llX%016llX", (unsigned long long)(v >> 64),
                (unsigned long long)v);
  return text;
}

u128 top128(const Fraction &f) { return u128(f.w[3]) << 64 | f.w[2]; }

int fail(const std::string &why) {
  std::fprintf(stderr, "check_shares: %s\n", why.c_str());
  return 1;
}

struct Line {
  uint64_t srt, cur;
  u128 share;
  std::string text;
};

}  // namespace

int main(int argc, char **argv) {
  if (argc < 6) return fail("usage: check_shares WHERE SRT END DIGITS MAX_REPEATS FILE...");
  const uint64_t where = std::strtoull(argv[1], nullptr, 10);
  const uint64_t srt = std::strtoull(argv[2], nullptr, 10);
  const uint64_t end = std::strtoull(argv[3], nullptr, 10);
  const std::string digits = argv[4];
  const long max_repeats = std::strtol(argv[5], nullptr, 10);

  cpu_classify();
  kernel_init();
  kernel.on_terms_done = no_callback;
  x87_enter_kernel_mode();

  // The arithmetic here first meets a published value: all of the series
  // at position 10.
  {
    u128 sum = kernel_share(10, 0, head_end(10)) + top128(tail(10, head_end(10)));
    if (hex128(sum).substr(0, 24) != "5A308D313198A2E03707344A")
      return fail("self-check at position 10 gives " + hex128(sum));
  }

  // The lines, each distinct text once: a line written twice is a stretch
  // reported twice with the same sum, which a kill between the append and
  // the state write may cause.
  std::set<std::string> seen;
  std::vector<Line> lines;
  long written_twice = 0;
  for (int i = 6; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) continue;  // a file that never got a line
    std::string text;
    while (std::getline(in, text)) {
      if (text.empty() || text.back() != '\r') return fail("line without CR LF in " + std::string(argv[i]));
      text.pop_back();
      ResultLine line;
      const char *why = nullptr;
      if (!parse_result_line(text.c_str(), text.size(), &line, &why))
        return fail("not a result line (" + std::string(why) + "): " + text);
      const uint64_t w = line.where, s = line.srt, c = line.end;
      const u128 share = u128(line.limbs[0]) << 96 | u128(line.limbs[1]) << 64 |
                         u128(line.limbs[2]) << 32 | line.limbs[3];
      if (s == c) {
        if (share != 0) return fail("empty stretch with a sum: " + text);
        continue;
      }
      if (w != where) continue;  // another position's lines are checked on their own
      if (s > c || s < srt || c > end) return fail("stretch outside the range: " + text);
      if (seen.insert(text).second)
        lines.push_back(Line{s, c, share, text});
      else
        ++written_twice;
    }
  }

  // One chain of stretches from srt to end; any other line repeats terms.
  std::multimap<uint64_t, const Line *> from;
  for (const Line &l : lines) from.emplace(l.srt, &l);
  std::map<uint64_t, const Line *> via;  // position reached -> line that reached it
  std::vector<uint64_t> todo{srt};
  via[srt] = nullptr;
  while (!todo.empty()) {
    uint64_t at = todo.back();
    todo.pop_back();
    auto [lo, hi] = from.equal_range(at);
    for (auto it = lo; it != hi; ++it)
      if (via.emplace(it->second->cur, it->second).second) todo.push_back(it->second->cur);
  }
  if (!via.count(end)) return fail("the stretches do not reach from srt to end without a gap");
  std::set<const Line *> chain;
  u128 sum = 0;
  std::map<uint64_t, u128> prefix;  // position on the chain -> sum of the chain before it
  std::vector<const Line *> order;
  for (uint64_t at = end; at != srt; at = via[at]->srt) order.insert(order.begin(), via[at]);
  prefix[srt] = 0;
  for (const Line *l : order) {
    chain.insert(l);
    sum += l->share;
    prefix[l->cur] = sum;
  }
  long repeats = 0;
  for (const Line &l : lines) {
    if (chain.count(&l)) continue;
    ++repeats;
    // A repeat between two chain positions must carry the same share.
    if (prefix.count(l.srt) && prefix.count(l.cur)) {
      const u128 expected = prefix[l.cur] - prefix[l.srt];
      if ((expected - l.share + (u128(1) << 40)) >> 41 != 0)
        return fail("a repeated stretch has another sum: " + l.text);
    }
  }
  if (written_twice + repeats > max_repeats)
    return fail(std::to_string(written_twice + repeats) + " repeated stretches, more than " +
                std::to_string(max_repeats));

  const u128 rest = kernel_share(where, 0, srt) + kernel_share(where, end, head_end(where));
  const u128 pi = sum + rest + top128(tail(where, head_end(where)));
  const std::string found = hex128(pi);
  std::printf("check_shares: %zu lines (%ld written twice, %ld other repeats), position %llu: %s\n",
              lines.size(), written_twice, repeats, (unsigned long long)where, found.c_str());
  if (digits != "-" && found.compare(0, digits.size(), digits) != 0)
    return fail("digits " + found + " do not start with " + digits);
  return 0;
}
