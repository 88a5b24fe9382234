// fault.cpp: the process-wide fault table that lets tests make any fallible platform service fail on cue.
#include "fault.h"

#include <atomic>

namespace {

constexpr int op_count = static_cast<int>(PlatformOp::count_);

// One row per service. `fail_at` is the call number (since the last reset)
// that fails, 0 for none; with `persist` every later call fails as well.
struct FaultTable {
  std::atomic<int> calls[op_count];
  std::atomic<int> fail_at[op_count];
  std::atomic<bool> persist[op_count];
  std::atomic<void (*)(const char *, const char *)> on_found;
};

FaultTable fault_table{};

int row(PlatformOp op) {
  int i = static_cast<int>(op);
  return (i >= 0 && i < op_count) ? i : -1;
}

}  // namespace

void fault_inject(PlatformOp op, int nth, bool persist) {
  int i = row(op);
  if (i < 0 || nth < 1) return;
  // persist first: a call racing with the injection sees either no fault or
  // the whole new one, never a target with a stale persist flag.
  fault_table.fail_at[i].store(0);
  fault_table.persist[i].store(persist);
  fault_table.fail_at[i].store(fault_table.calls[i].load() + nth);
}

void fault_reset() {
  for (int i = 0; i < op_count; ++i) {
    fault_table.fail_at[i].store(0);
    fault_table.persist[i].store(false);
    fault_table.calls[i].store(0);
  }
  fault_table.on_found.store(nullptr);
}

void fault_on_found(void (*seen)(const char *dir, const char *name)) {
  fault_table.on_found.store(seen);
}

void fault_found(const char *dir, const char *name) {
  if (auto seen = fault_table.on_found.load()) seen(dir, name);
}

int fault_calls(PlatformOp op) {
  int i = row(op);
  return i < 0 ? 0 : fault_table.calls[i].load();
}

bool fault_hit(PlatformOp op) {
  int i = row(op);
  if (i < 0) return false;
  int n = fault_table.calls[i].fetch_add(1) + 1;
  int target = fault_table.fail_at[i].load();
  if (target == 0) return false;
  return n == target || (n > target && fault_table.persist[i].load());
}
