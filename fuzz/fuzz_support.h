/*
 * fuzz_support.h: what the fuzz targets share: a scratch folder of their own
 * (in memory where the system offers one, so that the many file
 * replacements cost no disk flushes), made the current directory once, and
 * files written and read whole.
 */
#pragma once

#include <cstddef>
#include <string>

// Makes (once) and enters the scratch folder, $QUARN_FUZZ_SCRATCH when
// set; returns its path.
const std::string &fuzz_scratch();

// Writes `size` bytes as the file `name` in the current directory.
void fuzz_write_file(const char *name, const void *data, std::size_t size);
std::string fuzz_read_file(const char *name);

// Empties the scratch folder.
void fuzz_clear_scratch();

// The coordinator as at a start of `workers` workers, with the kernel left
// out (no term is evaluated): load_main_state's result.
bool fuzz_start_coordinator(int workers);

// Stops the run with a message when an invariant does not hold, so that
// libFuzzer keeps the input that broke it.
void fuzz_require(bool ok, const char *what);
