// fuzz_support.cpp: the fuzz targets' scratch folder and file helpers.
#include "fuzz_support.h"

#include "range.h"
#include "workers.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

const std::string &fuzz_scratch() {
  static const std::string dir = [] {
    // fuzz/fuzz-run names it, so that it can remove it after a run that
    // ended in a finding (and so without the exit handler below).
    fs::path d;
    if (const char *given = std::getenv("QUARN_FUZZ_SCRATCH")) {
      d = given;
    } else {
      std::error_code ec;
      const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
      std::random_device seed;
      d = base / ("quarn-fuzz-" + std::to_string(seed()));
    }
    fs::create_directories(d);
    fs::current_path(d);
    // The folder goes with the process, whichever way it ends normally.
    std::atexit([] { std::error_code ignored; fs::remove_all(fs::current_path(), ignored); });
    return d.string();
  }();
  return dir;
}

void fuzz_write_file(const char *name, const void *data, std::size_t size) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
}

std::string fuzz_read_file(const char *name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void fuzz_clear_scratch() {
  for (const auto &e : fs::directory_iterator(fuzz_scratch())) {
    std::error_code ignored;
    fs::remove_all(e.path(), ignored);
  }
}

void fuzz_require(bool ok, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

namespace {
void no_kernel() {}
void no_slot(WorkSlot *) {}
}  // namespace

bool fuzz_start_coordinator(int workers) {
  coordinator_reset();
  coordinator_kernel = CoordinatorKernel{no_kernel, no_kernel, no_slot, no_slot};
  return load_main_state(workers);  // the sections it checks
}
