/*
 * import.h: taking the next "Range*.ini" work unit of the current
 * directory as the shared range.
 */
#pragma once

enum class ImportResult { imported, none_found, failed };

// Takes the first "Range*.ini" of the current directory as the new range
// and deletes it. Units the kernel cannot evaluate (including a missing or
// zero Where) are renamed to "<name>.bad" with an error text, also handed
// to front_end.message, and the search goes on; a unit equal to the range
// already taken is deleted, one gone since the search is passed over and
// one that cannot be read is kept (failed, "cannot read"). none_found sets
// "Error: Range.ini not found" (unless a refused unit's text stands);
// neither text replaces that of a worker that failed this run. failed
// means a state write, read, rename or deletion failed (error text set).
// Called by finish_chunk only, under coordinator_lock.
ImportResult import_work_unit();
