/*
 * test_support.h: what every test program may share: a fresh scratch folder
 * per test, whole-file helpers, and one deterministic random generator.
 */
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

// A deterministic 64-bit generator (splitmix64), the same on every platform,
// so a failing case can be found again from its seed.
struct TestRandom {
  uint64_t state;
};
uint64_t random_next(TestRandom *r);
// Uniform enough in [lo, hi], both included; lo = 0, hi = 2^64 - 1 gives
// any value.
uint64_t random_range(TestRandom *r, uint64_t lo, uint64_t hi);

// Writes `bytes` as the whole file, as they are.
void write_file(const std::filesystem::path &path, const std::string &bytes);
// The whole file, or "" when it cannot be read.
std::string read_file(const std::filesystem::path &path);

// profile_get_string into a 256-character buffer (or `size`), with `def`
// as the default.
std::string profile_text(const char *section, const char *key, const std::string &path,
                         const char *def = "<def>", uint32_t size = 256);

// Gives each test an empty folder of its own under the temporary folder,
// named after the test, and removes it afterwards with all it holds. With
// `enter` set before SetUp, the test runs with that folder as its working
// folder (the one it started in is restored at the end). The platform's
// fault table starts and ends clean.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The path of `name` inside the test's folder.
  std::string path(const std::string &name) const { return (dir / name).string(); }

  std::filesystem::path dir;
  bool enter = false;

 private:
  std::filesystem::path previous_;
};
