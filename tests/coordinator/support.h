/*
 * support.h: what the coordinator tests share: a fresh working directory
 * per test, a stand-in kernel step that records its work in the sums, and
 * small readers of the files the coordinator writes.
 */
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

struct WorkSlot;

// The stand-in kernel: each step calls on_terms_done, then advances the
// slot by up to `block` terms and adds their number to limb 3, so a result
// line's last limb is the count of terms it covers.
struct FakeKernel {
  std::atomic<uint64_t> block{uint64_t(1) << 20};
  // kernel_error is set by the block that covers this term.
  std::atomic<uint64_t> error_at{~uint64_t(0)};
  // Steps that would have evaluated an empty block (the real kernel cannot).
  std::atomic<int> empty_blocks{0};
  // Each step gives up the processor first, so stops land mid-chunk.
  std::atomic<bool> yield_each{false};
};
extern FakeKernel fake_kernel;

void fake_step(WorkSlot *slot);
void fake_finish(WorkSlot *slot);
void fake_nothing();
// Puts the stand-in into the coordinator and resets it.
void use_fake_kernel();

// A result line taken apart.
struct Line {
  uint64_t where, srt_pos, cur_pos;
  uint32_t limbs[4];
  std::string text;
};

// Each test runs in a scratch folder of its own as its working folder, with
// Quarn.ini located there and the coordinator, report and fault table reset.
class CoordinatorTest : public ScratchTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  uint16_t mode = 0;  // x87 control word of the test thread
};

// The value of a key of the state file, or "<missing>".
std::string ini(const char *section, const char *key);
// A work unit: [Main] Where, srt_pos, end_pos as 16-digit values.
void write_unit(const std::filesystem::path &path, uint64_t where, uint64_t srt_pos,
                uint64_t end_pos);
// The lines of a result file (CR LF stripped; each must be well-formed).
std::vector<Line> read_lines(const std::filesystem::path &path);
std::string hex16(uint64_t v);
// Polls `done` until it holds or `seconds` times wait_scale() pass: callers
// state the time the wait needs on an idle machine, and the limit lies far
// above it, so a slow or busy machine (or a sanitizer) never fails a test.
bool wait_for(bool (*done)(), double seconds);
// 20, or 100 under a sanitizer.
double wait_scale();
