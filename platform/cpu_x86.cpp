/*
 * cpu_x86.cpp: processor services (flags probe, CPUID, x87 control word).
 * They are instructions, not operating-system calls, so both builds share them.
 */
#include "platform.h"

#include <cpuid.h>

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
