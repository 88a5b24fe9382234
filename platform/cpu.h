/*
 * cpu.h: the processor service. Everything the program asks the processor
 * about itself (flags probe, CPUID, XGETBV) is read in one place, once per
 * start, into a CpuInfo; the x87 control word is set up here too. These are
 * instructions, not operating-system calls, so both builds share them.
 */
#pragma once

#include <cstdint>

// The processor's answers, as cpu_read found them.
struct CpuInfo {
  bool alignment_check;  // flags bit 18 toggles: a 486 or later
  bool cpuid;            // flags bit 21 toggles: CPUID exists
  uint32_t max_leaf;     // CPUID leaf 0, EAX
  char vendor[13];       // CPUID leaf 0, EBX EDX ECX, NUL-terminated ("" without CPUID)
  uint32_t leaf1_eax;    // family, model, stepping
  uint32_t leaf1_ecx;    // feature flags (FMA bit 12, OSXSAVE bit 27, AVX bit 28)
  uint32_t leaf1_edx;    // feature flags
  uint32_t leaf7_ebx;    // extended features (AVX2 bit 5, AVX-512F 16, IFMA 21); 0 below leaf 7
  uint64_t xcr0;         // register state the system saves (XGETBV 0); 0 without OSXSAVE
};

// Asks the processor. Run once per start of calculation.
CpuInfo cpu_read();

// Whether bit `bit` of the flags register can be flipped (bit 18, alignment
// check: a 486 or later; bit 21, identification: CPUID exists). Always true
// on x86-64.
bool cpu_flag_toggles(int bit);
// CPUID leaf `leaf` (sub-leaf 0): regs = EAX, EBX, ECX, EDX.
void cpu_cpuid(uint32_t leaf, uint32_t regs[4]);

// x87 control word: precision field bits 8-9 (3: 64-bit significand),
// rounding field bits 10-11 (1: toward minus infinity).
uint16_t x87_get_control_word();
void x87_set_control_word(uint16_t cw);
// The kernel's numeric environment: every exception masked, 64-bit
// significand, rounding toward minus infinity.
constexpr uint16_t x87_kernel_control_word = 0x077F;
// The control word `cw` with the kernel's precision and rounding and its own
// exception masks: what a thread that keeps its masks runs the kernel under.
constexpr uint16_t x87_kernel_mode_of(uint16_t cw) {
  return uint16_t((cw & ~0x0F00u) | (x87_kernel_control_word & 0x0F00u));
}
// Sets x87_kernel_control_word on the calling thread.
inline void x87_enter_kernel_mode() { x87_set_control_word(x87_kernel_control_word); }
