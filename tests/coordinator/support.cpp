// support.cpp: the coordinator tests' working directories, stand-in kernel and file readers.
#include "support.h"

#include <bit>
#include <chrono>
#include <cstdio>
#include <sstream>

#include "chunk_end.h"
#include "kernel.h"
#include "platform.h"
#include "range.h"
#include "report.h"
#include "result_line.h"
#include "state_file.h"
#include "workers.h"

FakeKernel fake_kernel;

void fake_step(WorkSlot *slot) {
  kernel.on_terms_done(slot);
  if (slot->thread_number == -1) return;
  if (fake_kernel.yield_each.load()) thread_yield();
  uint64_t n = slot->end_pos - slot->cur_pos;
  if (n > fake_kernel.block.load()) n = fake_kernel.block.load();
  if (n == 0) {
    fake_kernel.empty_blocks.fetch_add(1);
    return;
  }
  const uint64_t error_at = fake_kernel.error_at.load();
  if (slot->cur_pos <= error_at && error_at < slot->cur_pos + n) kernel.kernel_error.store(1);
  slot->cur_pos += n;
  slot->sums[3] = std::bit_cast<uint64_t>(std::bit_cast<double>(slot->sums[3]) + double(n));
}

void fake_finish(WorkSlot *) {}
void fake_nothing() {}

void use_fake_kernel() {
  fake_kernel.block.store(uint64_t(1) << 20);
  fake_kernel.error_at.store(~uint64_t(0));
  fake_kernel.empty_blocks.store(0);
  fake_kernel.yield_each.store(false);
  coordinator_kernel = CoordinatorKernel{fake_nothing, fake_nothing, fake_step, fake_finish};
  kernel.check_text[0] = '\0';  // no start-up check ran: no line for it
  worker_state.start_pause_ms = 0;
}

void CoordinatorTest::SetUp() {
  mode = x87_get_control_word();
  enter = true;
  ScratchTest::SetUp();
  coordinator_reset();
  report_reset();
  state_file_reset();
  ASSERT_TRUE(locate_state_file_in(dir.string().c_str(), nullptr));
  use_fake_kernel();
}

void CoordinatorTest::TearDown() {
  fault_reset();
  coordinator_reset();
  x87_set_control_word(mode);
  ScratchTest::TearDown();
}

std::string ini(const char *section, const char *key) {
  char buf[256];
  profile_get_string(section, key, "<missing>", buf, sizeof buf, state_file.ini_path);
  return buf;
}

std::string hex16(uint64_t v) {
  char text[17];
  format_position(v, text);
  return text;
}

void write_unit(const std::filesystem::path &path, uint64_t where, uint64_t srt_pos,
                uint64_t end_pos) {
  write_file(path, "[Main]\r\nWhere=" + hex16(where) + "\r\nsrt_pos=" + hex16(srt_pos) +
                       "\r\nend_pos=" + hex16(end_pos) + "\r\n");
}

std::vector<Line> read_lines(const std::filesystem::path &path) {
  std::vector<Line> lines;
  std::istringstream in(read_file(path));
  std::string text;
  while (std::getline(in, text)) {
    EXPECT_TRUE(!text.empty() && text.back() == '\r') << "line without CR LF: " << text;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    Line line{};
    line.text = text;
    ResultLine parsed{};
    const char *why = "";
    // Exactly a line as written: nothing trailing, which the parser forgives.
    const bool ok = text.size() == result_line_length &&
                    parse_result_line(text.c_str(), text.size(), &parsed, &why);
    EXPECT_TRUE(ok) << "not a result line (" << why << "): " << text;
    line.where = parsed.where;
    line.srt_pos = parsed.srt;
    line.cur_pos = parsed.end;
    for (int i = 0; i < 4; ++i) line.limbs[i] = parsed.limbs[i];
    lines.push_back(line);
  }
  return lines;
}

double wait_scale() {
  // Sanitizers slow a run ten-fold or more; a busy machine does the rest.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define QUARN_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__) || defined(QUARN_SANITIZED)
  double scale = 100;
#else
  double scale = 20;
#endif
  return scale;
}

bool wait_for(bool (*done)(), double seconds) {
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * wait_scale());
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    thread_sleep(2);
  }
  return true;
}
