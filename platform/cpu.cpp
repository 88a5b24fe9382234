/*
 * cpu.cpp: processor services (flags probe, CPUID, XGETBV, x87 control word).
 * They are instructions, not operating-system calls, so both builds share them.
 */
#include "cpu.h"

#include <cpuid.h>

#include <cstring>

bool cpu_flag_toggles(int bit) {
#if defined(__x86_64__)
  (void)bit;
  return true;
#else
  uint32_t before, after;
  uint32_t mask = uint32_t(1) << bit;
  __asm__ volatile(
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl %2, %1\n\t"
      "pushl %1\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %1\n\t"
      "pushl %0\n\t"
      "popfl\n\t"
      : "=&r"(before), "=&r"(after)
      : "r"(mask)
      : "cc");
  return ((before ^ after) & mask) != 0;
#endif
}

void cpu_cpuid(uint32_t leaf, uint32_t regs[4]) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid_count(leaf, 0, a, b, c, d);
  regs[0] = a;
  regs[1] = b;
  regs[2] = c;
  regs[3] = d;
}

uint16_t x87_get_control_word() {
  uint16_t cw;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

void x87_set_control_word(uint16_t cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); }

namespace {

// XCR0, the register state the operating system saves: bits 1 and 2 for the
// SSE and AVX halves, 5 to 7 for the AVX-512 mask and upper registers. Only
// valid when CPUID reports OSXSAVE.
uint64_t read_xcr0() {
  uint32_t lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (uint64_t(hi) << 32) | lo;
}

}  // namespace

CpuInfo cpu_read() {
  CpuInfo id{};
  id.alignment_check = cpu_flag_toggles(18);
  if (!id.alignment_check) return id;  // a 386: no identification flag either
  id.cpuid = cpu_flag_toggles(21);
  if (!id.cpuid) return id;
  uint32_t r[4];
  cpu_cpuid(0, r);
  id.max_leaf = r[0];
  std::memcpy(id.vendor + 0, &r[1], 4);
  std::memcpy(id.vendor + 4, &r[3], 4);
  std::memcpy(id.vendor + 8, &r[2], 4);
  id.vendor[12] = 0;
  cpu_cpuid(1, r);
  id.leaf1_eax = r[0];
  id.leaf1_ecx = r[2];
  id.leaf1_edx = r[3];
  if (id.max_leaf >= 7) {
    cpu_cpuid(7, r);
    id.leaf7_ebx = r[1];
  }
  if ((id.leaf1_ecx >> 27) & 1) id.xcr0 = read_xcr0();
  return id;
}
