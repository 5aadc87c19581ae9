#pragma once
// Helpers shared by the database tests.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/BTree.h"
#include "db/BTreeCheck.h"

namespace zev::test {

// Sizes of randomized tests are divided by this under the sanitizers, which run the engine
// ten to twenty times slower; the shapes the tests reach (tree depth, splits, merges) stay.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr int kSlowBuildDivisor = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr int kSlowBuildDivisor = 4;
#else
inline constexpr int kSlowBuildDivisor = 1;
#endif
#else
inline constexpr int kSlowBuildDivisor = 1;
#endif

// The root of this process's scratch directories. Each process has its own: the same test
// run from two build trees at once (a CI run beside a local one) must never remove or
// open the other's files. Removed when the process ends normally; forked children leave
// through _exit and never remove it.
inline const std::string& ScratchRoot() {
  struct TRoot {
    std::string path;
    pid_t owner = ::getpid();
    TRoot() {
      std::string pattern = ::testing::TempDir() + "zevdb_XXXXXX";
      if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create " + pattern);
      path = pattern + "/";
    }
    ~TRoot() {
      std::error_code ec;
      if (::getpid() == owner) std::filesystem::remove_all(path, ec);
    }
  };
  static TRoot root;
  return root.path;
}

// A fresh, empty directory for the running test, with a trailing "/".
inline std::string ScratchDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  for (char& c : name)
    if (c == '/') c = '_';
  std::string dir = ScratchRoot() + name + "/";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bytes.data()),
                                                                static_cast<std::streamsize>(bytes.size()));
}

// A Message-ID like the ones servers hand out: 20 to 60 characters.
inline std::string MessageId(std::mt19937_64& rng) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string id = "part" + std::to_string(rng() % 200 + 1) + "of" + std::to_string(rng() % 200 + 1) + ".";
  size_t n = 8 + rng() % 24;
  for (size_t i = 0; i < n; ++i) id += kChars[rng() % 62];
  id += "@news.example.net";
  return id.substr(0, 60);
}

inline void ExpectSound(TBTree& tree) {
  TCheckReport report = tree.Check();
  EXPECT_TRUE(report.Ok()) << report.Text();
}

}  // namespace zev::test
