#pragma once
// Helpers shared by the database tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "db/BTree.h"
#include "db/BTreeCheck.h"

namespace zev::test {

// A fresh, empty directory for the running test, with a trailing "/".
inline std::string ScratchDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  for (char& c : name)
    if (c == '/') c = '_';
  std::string dir = ::testing::TempDir() + "zevdb_" + name + "/";
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
