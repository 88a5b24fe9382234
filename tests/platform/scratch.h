// scratch.h: a fresh folder per test and whole-file helpers for the platform tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform.h"

// Gives each test an empty folder of its own and a clean fault table.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fault_reset();
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("quarn-platform-") + info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    fault_reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  // The path of `name` inside the test's folder.
  std::string path(const std::string &name) const { return (dir_ / name).string(); }
  std::string dir() const { return dir_.string(); }

  std::filesystem::path dir_;
};

inline void put_file(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string get_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// profile_get_string into a 256-character buffer (or `size`).
inline std::string get(const char *section, const char *key, const std::string &path,
                       const char *def = "<def>", uint32_t size = 256) {
  char buf[256];
  uint32_t n = profile_get_string(section, key, def, buf, size, path.c_str());
  return std::string(buf, n);
}
