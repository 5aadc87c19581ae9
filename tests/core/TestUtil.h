#pragma once
// Helpers shared by the core tests: a scratch directory per test and whole-file reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace zev::test {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Removes, when the test program ends, the scratch directories it made.
class TScratchDirs {
 public:
  static TScratchDirs& Instance() {
    static TScratchDirs dirs;
    return dirs;
  }
  void Add(const std::string& dir) { dirs_.push_back(dir); }
  ~TScratchDirs() {
    std::error_code ignored;
    for (const std::string& dir : dirs_) std::filesystem::remove_all(dir, ignored);
  }

 private:
  std::vector<std::string> dirs_;
};

// A fresh, empty directory named after the running test, with a trailing "/". The
// process id keeps two runs of the same tests at once (a sanitizer build beside the
// plain one) out of each other's files.
inline std::string ScratchDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  for (char& c : name)
    if (c == '\\' || c == '/') c = '_';  // parameterised tests have "/" in their names
  const std::string dir = ::testing::TempDir() + "zev_" + std::to_string(::getpid()) + "_" + name + "/";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  TScratchDirs::Instance().Add(dir);
  return dir;
}

}  // namespace zev::test
