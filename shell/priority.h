/*
 * priority.h: the user's priority choice (five fixed levels or Auto) and
 * how it is put in force on the workers: a fixed level at once, Auto by the
 * single priority governor while calculating.
 */
#pragma once

#include <atomic>
#include <cstdint>

#include "governor.h"

struct PriorityControl {
  // The chosen radio button's ID, 101..106 (106: Auto). Written by the UI
  // thread, read by the governor.
  std::atomic<int32_t> priority_choice{106};
  // Front end: starts a thread running governor_run at the highest
  // priority. False when no thread could be made.
  bool (*start_governor_thread)() = nullptr;
};
extern PriorityControl priority_control;

// Auto chosen again, no governor claimed, the front end's hooks and the
// governor's operations cleared (tests).
void priority_control_reset();

// Installs the governor's platform operations; its `wanted` and `level`
// are this module's (calculating with Auto; the workers' priority_level).
void priority_install(uint32_t (*tick)(), void (*sleep)(uint32_t ms),
                      void (*set_own_priority)(int priority), bool (*start_governor_thread)());

// Whether a governor should keep measuring: calculating, with Auto chosen.
bool governor_wanted();

// Makes `choice` the priority choice and puts it in force: a fixed choice
// 101..105 sets the workers' level to choice - 104 at once; Auto starts the
// governor when `calculating` and none runs yet (one that runs keeps its
// level). Start Calculating's last step and the dialog's OK.
void apply_priority_choice(int32_t choice, bool calculating);
