/*
 * chunk_end.h: the kernel's callback at every step and the end of a
 * worker's chunk: its result line, then the next chunk of the range, or of
 * the next work unit.
 */
#pragma once

struct WorkSlot;

// The kernel step's callback, on the worker's thread, at the start of every
// step: under coordinator_lock, retires the slot on a kernel error, counts
// 16 terms and ends the slot's chunk when it is complete.
void on_terms_done(WorkSlot *slot);

// Ends the slot's completed chunk: its result line, then the next chunk (or
// the next work unit first). On return the slot holds a fresh chunk or is
// retired. Called by on_terms_done only.
void finish_chunk(WorkSlot *slot);
