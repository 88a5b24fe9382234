/*
 * dispatch.cpp: processor identification, the choice of kernel variant for
 * every entry, and the progress figures shown to the user.
 */
#include <bit>
#include <cstring>
#include <initializer_list>

#include "fast_tiers.h"
#include "kernel.h"
#include "cpu.h"

KernelGlobals kernel;

void cpu_identify_from(const CpuInfo &id) {
  if (!id.alignment_check) {  // no alignment-check flag: a 386
    kernel.cpu_family = 3;
    return;
  }
  kernel.cpu_family = 4;
  if (!id.cpuid) return;  // no identification flag: the vendor string stays
  std::memcpy(kernel.cpu_vendor_string, id.vendor, sizeof kernel.cpu_vendor_string);
  kernel.cpu_family = uint8_t((id.leaf1_eax >> 8) & 0xF);
  kernel.cpu_features = id.leaf1_edx;
}

void cpu_identify() { cpu_identify_from(cpu_read()); }

int32_t cpu_vendor_code(const char *vendor_string) {
  static const char *const vendors[] = {"GenuineIntel", "AuthenticAMD", "CyrixInstead",
                                        "CentaurHauls"};
  for (int32_t i = 0; i < 4; ++i)
    if (std::strcmp(vendor_string, vendors[i]) == 0) return i;
  return -1;
}

void cpu_classify() {
  // The processor is asked once; the variant and the fast tiers both follow
  // from its answers.
  const CpuInfo id = cpu_read();
  cpu_identify_from(id);
  kernel.cpu_vendor = cpu_vendor_code(kernel.cpu_vendor_string);
  kernel.fast_tiers = fast_tiers_of(id);
  kernel_check();
}

// Whether the processor runs the variant: the x87 ones run on every
// processor; the fast one only pays with a vector tier, which a start-up
// check may also withdraw.
static bool variant_runs(Variant v) { return v != Variant::fast || fast_tier_preferred(); }

Variant kernel_variant() {
  if (kernel.forced_variant >= 0) return Variant(kernel.forced_variant);
  if (kernel.chosen_variant >= 0 && variant_runs(Variant(kernel.chosen_variant)))
    return Variant(kernel.chosen_variant);
  // Only Intel's family-5 processors run the all-floating-point variant.
  if (kernel.cpu_vendor == 0 && kernel.cpu_family == 5) return Variant::pentium;
  // Today's processors run the fast variant wherever one of its tiers pays.
  if (fast_tier_preferred()) return Variant::fast;
  return Variant::generic;
}

const char *variant_name(Variant v) {
  switch (v) {
    case Variant::generic: return "generic";
    case Variant::pentium: return "pentium";
    case Variant::fast: return "fast";
  }
  return "?";
}

// Equal in ASCII, letters of either case alike.
static bool same_name(const char *a, const char *b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  for (; *a && *b; ++a, ++b)
    if (lower(*a) != lower(*b)) return false;
  return *a == *b;
}

KernelChoice kernel_choose(const char *name) {
  kernel.chosen_variant = -1;
  if (!name[0] || same_name(name, "Auto")) return KernelChoice::applied;
  for (Variant v : {Variant::generic, Variant::pentium, Variant::fast}) {
    if (!same_name(name, variant_name(v))) continue;
    if (!variant_runs(v)) return KernelChoice::unsupported;
    kernel.chosen_variant = int(v);
    return KernelChoice::applied;
  }
  return KernelChoice::unknown;
}

void kernel_init() {
  kernel_check();
  switch (kernel_variant()) {
    case Variant::pentium: pentium::kernel_init(); break;
    case Variant::fast: fast::kernel_init(); break;
    default: generic::kernel_init(); break;
  }
}

void kernel_step(WorkSlot *slot) {
  switch (kernel_variant()) {
    case Variant::pentium: pentium::kernel_step(slot); break;
    case Variant::fast: fast::kernel_step(slot); break;
    default: generic::kernel_step(slot); break;
  }
}

void kernel_finish(WorkSlot *slot) {
  switch (kernel_variant()) {
    case Variant::pentium: pentium::kernel_finish(slot); break;
    case Variant::fast: fast::kernel_finish(slot); break;
    default: generic::kernel_finish(slot); break;
  }
}

void kernel_progress(uint64_t where, uint64_t srt_pos, uint64_t end_pos, int64_t done_count) {
  long double done = (long double)(done_count - int64_t(srt_pos));
  long double range = (long double)(int64_t(end_pos) - int64_t(srt_pos));
  // An empty range has nothing left to do: shown as done rather than as
  // the infinity or NaN a division by zero gives.
  kernel.percent_done = range == 0 ? 100.0f : float(done / range * 100.0L);
  // x follows the size of the current exponents (4x - 4 for a term's first part).
  float x = float(int64_t(where) - 5 * done_count);
  uint32_t e = (std::bit_cast<uint32_t>(x) >> 23) - 127;
  if (kernel_variant() == Variant::fast) {
    // The largest modulus of the current terms is about 20 * done_count.
    uint64_t k = done_count > 0 ? uint64_t(done_count) : 0;
    kernel.term_cost = fast::term_cost(e, 20 * k + 20 * fast::max_lanes);
  } else {
    kernel.term_cost = int32_t((e * 109011u + 108409u) >> 8);
  }
}
