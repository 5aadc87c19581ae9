#include <gtest/gtest.h>

#include <fstream>
#include <regex>
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

TEST(Log, LineFormatAndTheReportCut) {
  std::string path = ::testing::TempDir() + "zev_log_format.log";
  std::remove(path.c_str());
  SetErrorLogPath(path);
  SetWarningsLevel(TWarningsLevel::Normal);
  TakePendingReport();
  LogError("verbose only", 0);
  std::string entry(1000, 'x');
  for (int i = 0; i < 100; ++i) LogError(entry, 1);
  std::string text = ReadAll(path);
  EXPECT_EQ(text.find("verbose only"), std::string::npos);
  std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \(Version \d+\.\d+\.\d+\.\d+( \(Beta\))?\): x{1000}\r)");
  std::istringstream lines(text);
  std::string l;
  int count = 0;
  while (std::getline(lines, l)) {
    EXPECT_TRUE(std::regex_match(l, line)) << l;
    ++count;
  }
  EXPECT_EQ(count, 100) << "the log file keeps every entry";
  std::string report = TakePendingReport();
  const std::string cut = "[Too many errors, see error log for full report]\r\n";
  EXPECT_LT(report.size(), 65536u + 1100 + cut.size());
  EXPECT_GE(report.size(), 65536u);
  EXPECT_EQ(report.find(cut), report.size() - cut.size()) << "exactly one cut line, at the end";
  EXPECT_EQ(report.find(cut), report.rfind(cut));
  LogError("after the report was taken", 1);
  EXPECT_NE(TakePendingReport().find("after the report was taken"), std::string::npos);
}

TEST(Log, DumpLogAndUnhandledExceptions) {
  std::string dump = ::testing::TempDir() + "zev_dump.log";
  std::string err = ::testing::TempDir() + "zev_unhandled.log";
  std::remove(dump.c_str());
  std::remove(err.c_str());
  SetDumpLogPath("");
  LogDump("not written");
  SetDumpLogPath(dump);
  EXPECT_TRUE(DumpEnabled());
  SetWarningsLevel(TWarningsLevel::None);  // the dump log has no level test
  LogDump("dumped");
  SetDumpLogPath("");
  EXPECT_NE(ReadAll(dump).find("): dumped\r\n"), std::string::npos);
  EXPECT_EQ(ReadAll(dump).find("not written"), std::string::npos);
  SetWarningsLevel(TWarningsLevel::Normal);
  SetErrorLogPath(err);
  LogUnhandledException("bad thing");
  EXPECT_NE(ReadAll(err).find("): An unhandled exception  \"bad thing\" was caught!\r\nStack trace:\r\n"),
            std::string::npos);
  TakePendingReport();
}
