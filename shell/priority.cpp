/*
 * priority.cpp: putting the priority choice in force.
 */
#include "priority.h"

#include "settings.h"
#include "workers.h"

PriorityControl priority_control;

void priority_control_reset() {
  priority_control.priority_choice.store(priority_choice_auto);
  priority_control.start_governor_thread = nullptr;
  governor.active.store(false);
  governor.level_fixed.store(false);
  governor.ops = GovernorOps{};
}

bool governor_wanted() {
  return worker_state.running.load() != 0 &&
         priority_control.priority_choice.load() == priority_choice_auto;
}

void priority_install(uint32_t (*tick)(), void (*sleep)(uint32_t ms),
                      void (*set_own_priority)(int priority), bool (*start_governor_thread)()) {
  governor.ops = GovernorOps{tick, sleep, set_own_priority, governor_wanted,
                             &worker_state.priority_level};
  priority_control.start_governor_thread = start_governor_thread;
}

void apply_priority_choice(int32_t choice, bool calculating) {
  priority_control.priority_choice.store(choice);
  if (choice != priority_choice_auto) {
    governor_fix_level(&worker_state.priority_level, priority_level_for_choice(choice));
    return;
  }
  governor_release_level();
  // A second governor would restart the level at -3 and fight the first.
  if (!calculating || !governor_claim()) return;
  if (!priority_control.start_governor_thread || !priority_control.start_governor_thread())
    governor.active.store(false);
}
