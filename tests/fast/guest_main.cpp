/*
 * guest_main.cpp: the fast tests as a static program that runs as /init of
 * an emulated machine (tests/fast/ifma-emu). It first makes sure the
 * processor and the operating system really give it AVX-512 IFMA, so it can
 * never pass by falling back to a slower tier, then runs the tests that the
 * dispatched tier decides, prints one verdict line and powers the machine
 * off.
 *
 * Anywhere else (a shell, ctest) it does the same minus the console set-up
 * and the power-off, so it can be tried on a processor with IFMA directly.
 */
#include <fcntl.h>
#include <sys/io.h>
#include <sys/mount.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cmath>

#include <immintrin.h>

#include "fast_tiers.h"
#include "kernel.h"
#include "platform.h"

namespace {

// The line the harness waits for; nothing else counts as a pass.
constexpr const char *verdict = "quarn guest verdict:";

// What runs by default: every test of the IFMA tier, the fallback from it,
// the start-up check, and the step and end-to-end tests, which run whatever
// the fast entries dispatch (here the IFMA tier); and the AVX2 tier's, which
// the emulated processor executes as well.
constexpr const char *default_filter =
    "*ifma*:*avx2*:IfmaModel.*:FastTierFallback.*:FastStepTest.*:FastEndToEnd.*:FastTierChoice.*:"
    "StartUpCheck.*";

// As process 1 there is no /dev and no open console: mount the kernel's
// device file system and take its console as standard input and output.
void open_console() {
  mkdir("/dev", 0755);
  mount("devtmpfs", "/dev", "devtmpfs", 0, nullptr);
  int fd = open("/dev/console", O_RDWR | O_NOCTTY);
  if (fd < 0) return;
  dup2(fd, 0);
  dup2(fd, 1);
  dup2(fd, 2);
  if (fd > 2) close(fd);
}

// The emulator powers off when "Shutdown" is written to its port 0x8900;
// the console is drained first, or the verdict line is cut.
void power_off() {
  std::fflush(stdout);
  std::fflush(stderr);
  tcdrain(1);
  if (ioperm(0x8900, 1, 1) == 0)
    for (const char *c = "Shutdown"; *c; ++c) outb(uint8_t(*c), 0x8900);
  sync();
  reboot(RB_POWER_OFF);
  for (;;) pause();  // process 1 must not exit
}

// Why the IFMA tier cannot run here, or nullptr when it can: the CPUID
// feature bits, the register state the operating system saves (XCR0), and
// the kernel's own probe must all say so.
const char *ifma_missing() {
  uint32_t r[4];
  cpu_cpuid(0, r);
  if (r[0] < 7) return "CPUID has no leaf 7";
  cpu_cpuid(1, r);
  if (!((r[2] >> 27) & 1)) return "CPUID.1:ECX.OSXSAVE is clear (no XGETBV)";
  uint32_t lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  if ((lo & 0xE6) != 0xE6) return "XCR0 lacks the AVX-512 state (bits 1, 2, 5, 6, 7)";
  cpu_cpuid(7, r);
  if (!((r[1] >> 16) & 1)) return "CPUID.7:EBX.AVX512F is clear";
  if (!((r[1] >> 21) & 1)) return "CPUID.7:EBX.AVX512IFMA is clear";
  kernel.fast_tiers = fast_probe();
  if (!fast_tier_supported(FastTier::ifma)) return "the kernel's probe does not offer the IFMA tier";
  if (fast_tier_in_force() != FastTier::ifma) return "the fast variant would not dispatch the IFMA tier";
  return nullptr;
}


// The instructions the vector tiers rest on, each on one case whose exact
// answer is known, so that a wrong result below can be told apart from a
// flaw of the emulated processor: a fused multiply-add must not round the
// product ((2^52 + 1)^2 - (2^104 + 2^53) = 1, 0 when rounded twice), and the
// 52-bit multiplies must split (2^52 - 1)^2 into 1 and 2^52 - 2.
__attribute__((target("avx2,fma"))) double fma_ymm(double a, double b, double c) {
  double out[4];
  _mm256_storeu_pd(out, _mm256_fmadd_pd(_mm256_set1_pd(a), _mm256_set1_pd(b), _mm256_set1_pd(c)));
  return out[3];
}
__attribute__((target("avx512f"))) double fma_zmm(double a, double b, double c) {
  double out[8];
  _mm512_storeu_pd(out, _mm512_fmadd_pd(_mm512_set1_pd(a), _mm512_set1_pd(b), _mm512_set1_pd(c)));
  return out[7];
}
__attribute__((target("avx512f,avx512ifma"))) void madd52_zmm(uint64_t a, uint64_t b, uint64_t out[2]) {
  uint64_t lo[8], hi[8];
  __m512i va = _mm512_set1_epi64(int64_t(a)), vb = _mm512_set1_epi64(int64_t(b));
  _mm512_storeu_si512(lo, _mm512_madd52lo_epu64(_mm512_setzero_si512(), va, vb));
  _mm512_storeu_si512(hi, _mm512_madd52hi_epu64(_mm512_setzero_si512(), va, vb));
  out[0] = lo[7];
  out[1] = hi[7];
}

__attribute__((target("avx2,fma"))) double fnmadd_ymm(double a, double b, double c) {
  double out[4];
  _mm256_storeu_pd(out, _mm256_fnmadd_pd(_mm256_set1_pd(a), _mm256_set1_pd(b), _mm256_set1_pd(c)));
  return out[3];
}
__attribute__((target("avx512f"))) double fnmadd_zmm(double a, double b, double c) {
  double out[8];
  _mm512_storeu_pd(out, _mm512_fnmadd_pd(_mm512_set1_pd(a), _mm512_set1_pd(b), _mm512_set1_pd(c)));
  return out[7];
}
// One digit of the tiers' long division, 2^32 / (2^48 - 1), as the IFMA
// tier forms it: y = v 2^40, d = round(y / m) through the reciprocal and a
// rounding bias, v' = y - d m. Exactly d = 2^24, v' = 2^24.
__attribute__((target("avx512f"))) void digit_zmm(double out[4]) {
  __m512d m = _mm512_set1_pd(281474976710655.0), bias = _mm512_set1_pd(6755399441055744.0);
  __m512d r = _mm512_div_pd(_mm512_set1_pd(1.0), m);
  __m512d y = _mm512_mul_pd(_mm512_set1_pd(4294967296.0), _mm512_set1_pd(1099511627776.0));
  __m512d b = _mm512_fmadd_pd(y, r, bias);
  __m512d d = _mm512_sub_pd(b, bias);
  __m512d v = _mm512_fnmadd_pd(d, m, y);
  double t[8];
  _mm512_storeu_pd(t, r); out[0] = t[7];
  _mm512_storeu_pd(t, b); out[1] = t[7];
  _mm512_storeu_pd(t, d); out[2] = t[7];
  _mm512_storeu_pd(t, v); out[3] = t[7];
}

__attribute__((target("avx512f,avx512ifma"))) void madd52_zmm_acc(uint64_t a, uint64_t b,
                                                                  uint64_t acc, uint64_t out[2]) {
  uint64_t lo[8], hi[8];
  __m512i va = _mm512_set1_epi64(int64_t(a)), vb = _mm512_set1_epi64(int64_t(b));
  __m512i vc = _mm512_set1_epi64(int64_t(acc));
  _mm512_storeu_si512(lo, _mm512_madd52lo_epu64(vc, va, vb));
  _mm512_storeu_si512(hi, _mm512_madd52hi_epu64(vc, va, vb));
  out[0] = lo[7];
  out[1] = hi[7];
}

// The digit step's y - d m with its operands in the upper sixteen vector
// registers, as the compiled tiers keep them: 2^72 - 2^24 (2^48 - 1) = 2^24.
__attribute__((target("avx512f"))) double fnmadd_high_registers() {
  double y = 4722366482869645213696.0, d = 16777216.0, m = 281474976710655.0, out[8];
  __asm__ volatile(
      "vbroadcastsd %1, %%zmm24\n\t"
      "vbroadcastsd %2, %%zmm21\n\t"
      "vbroadcastsd %3, %%zmm19\n\t"
      "vfnmadd132pd %%zmm24, %%zmm19, %%zmm21\n\t"
      "vmovupd %%zmm21, %0\n\t"
      : "=m"(out)
      : "m"(m), "m"(d), "m"(y)
      : "xmm19", "xmm21", "xmm24", "memory");
  return out[5];
}

// A 64-bit integer to double, as the tiers convert their moduli.
double to_double_sse(int64_t v) { return double(v); }
__attribute__((target("avx512f"))) double to_double_avx512(int64_t v) { return double(v); }

// Whether `rep movsb` copies n bytes exactly and leaves the bytes after
// them alone.
bool rep_movsb_exact(size_t n) {
  static unsigned char from[5000], to[5000];
  for (size_t i = 0; i < sizeof from; ++i) {
    from[i] = (unsigned char)(i * 7 + 1);
    to[i] = 0xA5;
  }
  void *d = to, *s = from;
  size_t c = n;
  __asm__ volatile("rep movsb" : "+D"(d), "+S"(s), "+c"(c) : : "memory");
  for (size_t i = 0; i < n; ++i)
    if (to[i] != from[i]) return false;
  for (size_t i = n; i < n + 64; ++i)
    if (to[i] != 0xA5) return false;
  return true;
}

// The first known-answer case the processor got wrong, named in the verdict.
char first_wrong[400];

void name_first_wrong(const char *format, ...) {
  if (first_wrong[0]) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(first_wrong, sizeof first_wrong, format, args);
  va_end(args);
}

__attribute__((target("fma"))) double fnmadd_xmm(double a, double b, double c) {
  return _mm_cvtsd_f64(_mm_fnmadd_sd(_mm_set_sd(a), _mm_set_sd(b), _mm_set_sd(c)));
}

// Bit length of a 128-bit magnitude.
int bit_length128(unsigned __int128 v) {
  uint64_t hi = uint64_t(v >> 64), lo = uint64_t(v);
  return hi ? 128 - __builtin_clzll(hi) : lo ? 64 - __builtin_clzll(lo) : 0;
}

// c - a b when the exact result is small next to the product: its leading
// bit lies 63 places below the product's. The digit step y - d m meets this
// whenever the remainder comes out near 2^-63 of y, as in this lane of the
// IFMA tier: d = 2^40 - 2^14, m = 281474976709243, y = d m - 23150592
// rounded to a double, and y - d m = -23150592 exactly. Then a sweep of
// random 20- to 52-bit factors with c the product cut to 53 bits, by how
// far below the product the result lies, each against exact integers.
// Returns the number of wrong forms.
int report_deep_cancellation() {
  volatile double d = 1099511611392.0, m = 281474976709243.0, y = 309485005208105440367345664.0;
  const double want = -23150592.0;
  const struct {
    const char *name;
    double got;
  } forms[] = {{"vfnmadd zmm", fnmadd_zmm(d, m, y)},
               {"vfnmadd ymm", fnmadd_ymm(d, m, y)},
               {"vfnmadd sd", fnmadd_xmm(d, m, y)},
               {"fma (library)", std::fma(-d, m, y)}};
  int wrong = 0;
  for (const auto &f : forms) {
    bool ok = f.got == want;
    wrong += !ok;
    std::printf("quarn guest: %s, result 63 bits below the product: %s (%a - %a * %a = %a, want "
                "%a)\n", f.name, ok ? "exact" : "WRONG", double(y), double(d), double(m), f.got,
                want);
    if (!ok)
      name_first_wrong("%s gives %a for %a - %a * %a, exactly %a", f.name, f.got, double(y),
                       double(d), double(m), want);
  }
  uint64_t state = 88172645463325252ull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  int tried[8] = {}, bad[8] = {};  // the result 60 to 67 bits below the product
  for (int n = 0; n < 300000; ++n) {
    int a_bits = 20 + int(next() % 33), b_bits = 20 + int(next() % 33);
    uint64_t a = (next() >> (64 - a_bits)) | (uint64_t(1) << (a_bits - 1));
    uint64_t b = (next() >> (64 - b_bits)) | (uint64_t(1) << (b_bits - 1));
    unsigned __int128 product = (unsigned __int128)a * b;
    int p_bits = bit_length128(product), cut = p_bits > 53 ? p_bits - 53 : 0;
    unsigned __int128 c = product >> cut << cut;
    uint64_t rest = uint64_t(product - c);  // below 2^cut, so below 2^53
    int below = p_bits - bit_length128(rest);
    if (rest == 0 || below < 60 || below > 67) continue;
    double got = fnmadd_zmm(double(a), double(b), double(c));
    ++tried[below - 60];
    if (got == -double(rest)) continue;
    if (!bad[below - 60]++)
      std::printf("quarn guest: vfnmadd zmm: %a - %a * %a gives %a, exactly %a\n", double(c),
                  double(a), double(b), got, -double(rest));
  }
  int bad_total = 0;
  std::printf("quarn guest: vfnmadd zmm, result 60 to 67 bits below the product, wrong of tried:");
  for (int k = 0; k < 8; ++k) {
    std::printf(" %d/%d", bad[k], tried[k]);
    bad_total += bad[k];
  }
  std::printf("\n");
  if (bad_total) name_first_wrong("vfnmadd zmm in %d cases of a sweep", bad_total);
  return wrong + (bad_total != 0);
}

// Prints one line per instruction; the number of wrong ones.
int report_instructions() {
  volatile double one52 = 4503599627370497.0;  // 2^52 + 1
  volatile double c = -(20282409603651670423947251286016.0 + 9007199254740992.0);
  int wrong = 0;
  double got[3] = {std::fma(one52, one52, c), fma_ymm(one52, one52, c), fma_zmm(one52, one52, c)};
  const char *names[3] = {"fma (library)", "vfmadd ymm", "vfmadd zmm"};
  for (int i = 0; i < 3; ++i) {
    bool ok = got[i] == 1.0;
    wrong += !ok;
    std::printf("quarn guest: %s: %s (got %.17g, want 1)\n", names[i], ok ? "exact" : "WRONG", got[i]);
  }
  volatile double c2 = 20282409603651670423947251286016.0 + 9007199254740992.0;
  double neg[2] = {fnmadd_ymm(one52, one52, c2), fnmadd_zmm(one52, one52, c2)};
  for (int i = 0; i < 2; ++i) {
    bool ok = neg[i] == -1.0;
    wrong += !ok;
    std::printf("quarn guest: vfnmadd %s: %s (got %.17g, want -1)\n", i ? "zmm" : "ymm",
                ok ? "exact" : "WRONG", neg[i]);
  }
  double dg[4];
  digit_zmm(dg);
  volatile double mm = 281474976710655.0;
  double r_want = 1.0 / mm;
  bool dok = dg[0] == r_want && dg[2] == 16777216.0 && dg[3] == 16777216.0;
  wrong += !dok;
  std::printf("quarn guest: digit step zmm: %s (1/m %a want %a, biased %a, d %a, rest %a)\n",
              dok ? "exact" : "WRONG", dg[0], r_want, dg[1], dg[2], dg[3]);
  std::printf("quarn guest: MXCSR %08X\n", unsigned(_mm_getcsr()));
  {
    // The digit step's signs as the tiers meet them: a negative residue
    // gives y = -2^72 and d = -2^24, and y - d m = -2^24.
    volatile double ny = -4722366482869645213696.0, nd = -16777216.0, md = 281474976710655.0;
    double s1 = std::fma(-nd, md, ny), s2 = fnmadd_zmm(nd, md, ny), s3 = fnmadd_ymm(nd, md, ny);
    bool sok = s1 == -16777216.0 && s2 == -16777216.0 && s3 == -16777216.0;
    wrong += !sok;
    std::printf("quarn guest: y - d m with y, d negative: %s (library %a, zmm %a, ymm %a, want "
                "-0x1p+24)\n", sok ? "exact" : "WRONG", s1, s2, s3);
    double h = fnmadd_high_registers();
    bool ok = h == 16777216.0;
    wrong += !ok;
    std::printf("quarn guest: vfnmadd132pd in zmm19, zmm21, zmm24: %s (got %a, want 0x1p+24)\n",
                ok ? "exact" : "WRONG", h);
    // The C library's copy of a block the size of a batch.
    static unsigned char from[4096], to[4096];
    for (size_t i = 0; i < sizeof from; ++i) from[i] = (unsigned char)(i * 13 + 5);
    size_t bad = 0;
    for (size_t step = 1; step <= 2048 && bad == 0; step += step < 700 ? 1 : 61) {
      volatile size_t size = step;  // a length the compiler cannot see through
      size_t n = size;
      std::memset(to, 0xA5, sizeof to);
      std::memcpy(to, from, n);
      if (std::memcmp(to, from, n) != 0 || to[n] != 0xA5) bad = n;
      for (size_t i = 0; i < n && bad == 0; ++i)
        if (to[i] != from[i]) bad = n;
    }
    wrong += bad != 0;
    std::printf("quarn guest: memcpy: %s (first wrong length %zu)\n", bad ? "WRONG" : "exact", bad);
  }
  {
    // Integers up to 2^53 convert exactly.
    volatile int64_t big = (int64_t(1) << 48) - 1, odd = (int64_t(1) << 50) - 3;
    double c1 = to_double_sse(big), c2 = to_double_avx512(big);
    double c3 = to_double_sse(odd), c4 = to_double_avx512(odd);
    bool ok = c1 == 281474976710655.0 && c2 == 281474976710655.0 && c3 == 1125899906842621.0 &&
              c4 == 1125899906842621.0;
    wrong += !ok;
    std::printf("quarn guest: cvtsi2sd of 2^48 - 1 and 2^50 - 3: %s (%a %a %a %a)\n",
                ok ? "exact" : "WRONG", c1, c2, c3, c4);
  }
  // Short string copies, which the C library uses for memcpy where the
  // processor reports fast ones (FSRM, ERMS).
  size_t bad_copy = 0;
  for (size_t n = 1; n <= 4096 && bad_copy == 0; n += (n < 600 ? 1 : 97))
    if (!rep_movsb_exact(n)) bad_copy = n;
  wrong += bad_copy != 0;
  std::printf("quarn guest: rep movsb: %s (first wrong length %zu)\n",
              bad_copy ? "WRONG" : "exact", bad_copy);
  {
    // The same digit step with the x87 unit in the kernel's mode (rounding
    // toward minus infinity), which must not touch vector arithmetic.
    uint16_t saved = x87_get_control_word();
    x87_enter_kernel_mode();
    double dk[4];
    digit_zmm(dk);
    double fk = fma_zmm(one52, one52, c);
    x87_set_control_word(saved);
    bool kok = dk[2] == 16777216.0 && dk[3] == 16777216.0 && fk == 1.0;
    wrong += !kok;
    std::printf("quarn guest: digit step zmm, x87 rounding down: %s (d %a, rest %a, fma %a)\n",
                kok ? "exact" : "WRONG", dk[2], dk[3], fk);
  }
  {
    // Factors with bits above 52, which the instructions must ignore, and an
    // accumulator: 5 + lo52(3 * 5) = 20, 7 + hi52((2^52 - 1)^2) = 2^52 + 5.
    uint64_t q[2];
    madd52_zmm_acc(0xFFF0000000000003ull, 5, 5, q);
    uint64_t q2[2];
    madd52_zmm_acc(0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 7, q2);
    bool ok2 = q[0] == 20 && q2[1] == (uint64_t(1) << 52) + 5;
    wrong += !ok2;
    std::printf("quarn guest: vpmadd52 with high bits and accumulator: %s (got %llu, %llu)\n",
                ok2 ? "exact" : "WRONG", (unsigned long long)q[0], (unsigned long long)q2[1]);
  }
  uint64_t m = (uint64_t(1) << 52) - 1, p[2];
  madd52_zmm(m, m, p);
  bool ok = p[0] == 1 && p[1] == (uint64_t(1) << 52) - 2;
  wrong += !ok;
  std::printf("quarn guest: vpmadd52luq/huq zmm: %s (got %llu, %llu)\n", ok ? "exact" : "WRONG",
              (unsigned long long)p[0], (unsigned long long)p[1]);
  return wrong;
}

}  // namespace

int main(int argc, char **argv) {
  bool as_init = getpid() == 1;
  if (as_init) open_console();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  uint32_t r[4];
  cpu_cpuid(7, r);
  std::printf("quarn guest: CPUID.7 EBX %08X ECX %08X EDX %08X\n", unsigned(r[1]), unsigned(r[2]),
              unsigned(r[3]));
  const char *tunables = getenv("GLIBC_TUNABLES");
  std::printf("quarn guest: GLIBC_TUNABLES %s\n", tunables ? tunables : "(unset)");
  int status = 1;
  if (const char *why = ifma_missing()) {
    std::printf("quarn guest: FAIL: no AVX-512 IFMA here: %s\n", why);
    std::printf("%s FAIL (IFMA unavailable)\n", verdict);
  } else {
    int wrong = report_instructions() + report_deep_cancellation();
    {
      // One lane, 2^128 mod (2^48 - 1) over the modulus, by each tier.
      kernel.fast_tiers = fast_probe();
      for (FastTier t : {FastTier::scalar, FastTier::avx2, FastTier::ifma}) {
        FastBatch b{};
        b.count = 1;
        for (int q = 0; q < 14; ++q) b.run[q] = FastRun{1, 1, 0, 0, 0, 0};
        b.run[5] = FastRun{(uint64_t(1) << 48) - 1, 128, 20, 20, 0, 0};
        if (t == FastTier::scalar) fast::evaluate_scalar(&b);
        else if (t == FastTier::avx2) fast::evaluate_avx2(&b);
        else fast::evaluate_ifma(&b);
        std::printf("quarn guest: one lane by the %s tier: %lld %lld %lld %lld\n", fast_tier_name(t),
                    (long long)b.digits[0], (long long)b.digits[1], (long long)b.digits[2],
                    (long long)b.digits[3]);
      }
    }
    cpu_classify();
    std::printf("quarn guest: start-up check: %s\n", kernel.check_text);
    if (wrong) std::printf("quarn guest: %d of the instructions above are wrong here\n", wrong);
    // The kernel command line passes no arguments to init: the default
    // filter applies unless one is given.
    bool filtered = false;
    for (int i = 1; i < argc; ++i)
      if (std::strncmp(argv[i], "--gtest_filter", 14) == 0) filtered = true;
    if (!filtered) ::testing::GTEST_FLAG(filter) = default_filter;
    ::testing::InitGoogleTest(&argc, argv);
    int failed = RUN_ALL_TESTS();
    const ::testing::UnitTest &u = *::testing::UnitTest::GetInstance();
    int passed = u.successful_test_count(), skipped = u.skipped_test_count();
    // A skipped test here means a tier went missing: that is no pass either.
    status = failed != 0 || skipped != 0 || passed == 0 ? 1 : 0;
    // An emulator that gets a known-answer instruction wrong can vouch for
    // nothing: neither a pass nor a failure of the tiers counts.
    const char *word = wrong != 0 ? "SKIP" : status == 0 ? "PASS" : "FAIL";
    std::printf("%s %s (%d passed, %d failed, %d skipped, tier %s%s%s)\n", verdict, word, passed,
                u.failed_test_count(), skipped, fast_tier_name(fast_tier_in_force()),
                wrong != 0 ? "; the emulated processor is wrong: " : "",
                wrong == 0 ? "" : first_wrong[0] ? first_wrong : "see above");
  }
  if (as_init) power_off();
  return status;
}
