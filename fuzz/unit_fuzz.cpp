// unit_fuzz.cpp: any bytes as a work unit, imported by the coordinator; it is taken whole (and the stored range reloads as taken) or set aside unchanged with its reason, never half of each.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz_support.h"
#include "import.h"
#include "kernel.h"
#include "range.h"
#include "state_file.h"
#include "workers.h"

namespace {

// The import never evaluates a term, nor looks at workers' sections.
bool start_coordinator() { return fuzz_start_coordinator(0); }

const char used_up[] =
    "[Main]\r\nwhere=00000000000F4240\r\nsrt_pos=0000000000000000\r\ncur_pos=0000000000000000\r\n"
    "end_pos=0000000000000000\r\ncurrent=0\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool located = locate_state_file_in(fuzz_scratch().c_str(), nullptr);
  fuzz_require(located, "the state file has a place");
  fuzz_clear_scratch();
  fuzz_write_file("Quarn.ini", used_up, sizeof used_up - 1);
  fuzz_write_file("Range1.ini", data, size);
  fuzz_require(start_coordinator(), "a used-up range loads");

  const ImportResult r = import_work_unit();
  fuzz_require(r != ImportResult::failed, "nothing fails without a fault");
  const std::string error = coordinator.error_text;
  if (r == ImportResult::imported) {
    fuzz_require(!std::filesystem::exists("Range1.ini"), "a unit taken is deleted");
    fuzz_require(range_fault(range.where, range.srt_pos, range.end_pos) == nullptr,
                 "only a range the kernel can evaluate is taken");
    fuzz_require(range.cur_pos == range.srt_pos && range.current == 1, "a unit is taken whole");
    const uint64_t where = range.where, srt = range.srt_pos, end = range.end_pos;
    fuzz_require(start_coordinator(), "the range taken reloads");
    fuzz_require(range.where == where && range.srt_pos == srt && range.cur_pos == srt &&
                     range.end_pos == end && range.current == 1,
                 "the stored range is the one taken");
  } else {
    fuzz_require(!std::filesystem::exists("Range1.ini"), "a refused unit is set aside");
    const std::string kept = fuzz_read_file("Range1.ini.bad");
    fuzz_require(kept.size() == size && std::memcmp(kept.data(), data, size) == 0,
                 "a refused unit is kept unchanged");
    fuzz_require(error.rfind("Error: Range1.ini is not a valid work unit (", 0) == 0,
                 "a refused unit is named with its reason");
    fuzz_require(std::string(fuzz_read_file("Quarn.ini")) == used_up, "a refusal writes nothing");
  }
  coordinator_reset();
  return 0;
}
