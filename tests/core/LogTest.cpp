#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "core/Error.h"
#include "core/Log.h"

using namespace zev;

namespace {
std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}
}  // namespace

TEST(Log, ManyThreadsNeverTearLines) {
  std::string path = ::testing::TempDir() + "zev_log_threads.log";
  std::remove(path.c_str());
  SetErrorLogPath(path);
  SetWarningsLevel(TWarningsLevel::Normal);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) LogError("thread " + std::to_string(t) + " entry " + std::to_string(i), 1);
    });
  for (auto& th : threads) th.join();
  std::istringstream lines(ReadAll(path));
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ASSERT_NE(line.find("): thread "), std::string::npos) << line;
    ++count;
  }
  EXPECT_EQ(count, 1600);
  TakePendingReport();
}

TEST(Log, LevelsFollowTheWarningsLevel) {
  std::string path = ::testing::TempDir() + "zev_log_levels.log";
  std::remove(path.c_str());
  SetErrorLogPath(path);
  SetWarningsLevel(TWarningsLevel::None);
  LogError("normal entry", 1);
  LogError("always entry", 2);
  std::string text = ReadAll(path);
  EXPECT_EQ(text.find("normal entry"), std::string::npos);
  EXPECT_NE(text.find("always entry"), std::string::npos);
  TakePendingReport();
}

TEST(Log, ExceptionEntryCarriesTheStackOfItsOrigin) {
  std::string path = ::testing::TempDir() + "zev_log_exc.log";
  std::remove(path.c_str());
  SetErrorLogPath(path);
  SetWarningsLevel(TWarningsLevel::Normal);
  try {
    throw EZevError("boom");
  } catch (const std::exception& e) {
    LogException(e, "TTest.Method");
  }
  std::string text = ReadAll(path);
  EXPECT_NE(text.find("Exception boom in TTest.Method!\r\nStack trace:"), std::string::npos) << text;
  TakePendingReport();
}
