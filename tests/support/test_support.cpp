// test_support.cpp: scratch folders, whole files and the random generator of the tests.
#include "test_support.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <random>

#include "platform.h"

uint64_t random_next(TestRandom *r) {
  uint64_t z = (r->state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t random_range(TestRandom *r, uint64_t lo, uint64_t hi) {
  const uint64_t span = hi - lo + 1;
  return span == 0 ? random_next(r) : lo + random_next(r) % span;
}

void write_file(const std::filesystem::path &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::string read_file(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string profile_text(const char *section, const char *key, const std::string &path,
                         const char *def, uint32_t size) {
  char buf[256];
  const uint32_t n = profile_get_string(section, key, def, buf, size, path.c_str());
  return std::string(buf, n);
}

namespace {

// The test's full name as a folder name: parameterised tests carry '/'.
std::string folder_name() {
  const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("quarn-test-") + info->test_suite_name() + "-" + info->name();
  for (char &c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') c = '_';
  return name + "-" + std::to_string(std::random_device{}());
}

}  // namespace

void ScratchTest::SetUp() {
  fault_reset();
  dir = std::filesystem::temp_directory_path() / folder_name();
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  if (enter) {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir);
  }
}

void ScratchTest::TearDown() {
  fault_reset();
  if (!previous_.empty()) std::filesystem::current_path(previous_);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}
