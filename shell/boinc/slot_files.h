/*
 * slot_files.h: the BOINC slot's logical files as the coordinator wants
 * them: the work unit "Range.ini" and the state "Quarn.ini" as plain files
 * in the slot, the result files "output0.txt" and "output1.txt" handed back
 * where the client looks for them. Call slot_files_stage after boinc_init
 * and before the state file is located; slot_files_deliver once the unit is
 * done, before boinc_finish.
 */
#pragma once

#include <cstdint>

// The coordinator's names, which are also the application's logical names.
constexpr const char *slot_unit_name = "Range.ini";
constexpr const char *slot_state_name = "Quarn.ini";

// How a logical name reached the slot. The client writes a link file (a
// "<soft_link>" line naming the real path) unless the file is a copy, and
// never writes over a file that already exists.
// Returns the path the link names, or null for a plain file or none.
// `out` has room for `size` bytes.
const char *slot_link_target(const char *name, char *out, uint32_t size);

// Brings the logical inputs into the slot as plain files: a linked unit or
// state is copied over its link; without any state, a state whose range is
// used up is written, so that the first chunk end imports the unit and no
// built-in default range is computed first. A linked result file is moved
// aside to "<name>.link" (the client then leaves the slot's own file alone)
// and the results are appended to a plain file in its place. A unit whose
// range the state has taken already (given again at a restart) is deleted,
// so that the state's positions go on and nothing is computed twice.
// False, with a message in `error` (room for `size` bytes), when a file
// cannot be read or written.
bool slot_files_stage(char *error, uint32_t size);

// Copies each result file whose logical name was a link to the path the
// link names, and makes sure both result files exist (an empty one for a
// unit whose lines all went to the other). False, with a message, when a
// copy fails.
bool slot_files_deliver(char *error, uint32_t size);
