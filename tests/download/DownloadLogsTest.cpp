// The lines of the three download logs, and appending them.
#include <gtest/gtest.h>

#include "core/Log.h"
#include "DecoderTestSupport.h"
#include "download/DownloadLogs.h"

using namespace zev;
using namespace zev::test;

namespace {

TEST(DownloadLogs, LineFormats) {
  struct FCase {
    FDownloadLogLine line;
    bool subjectInCsv;
    const char* csv;
    const char* log;
    const char* descript;
  };
  const FCase cases[] = {
      {{"a,b.jpg", 3, 0x352441C2, "/dl/", "pics, \"best\"", "ABT"}, false,
       "\"a,b.jpg\",3,352441C2,/dl/,\r\n", "a,b.jpg\tpics, \"best\"\tABT\r\n", "a,b.jpg pics, \"best\"\r\n"},
      {{"my file.bin", 10, 0xAB, "/d,x/", "sub\r\nject\tx", "G"}, true,
       "my file.bin,10,000000AB,\"/d,x/\",sub  ject x\r\n", "my file.bin\tsub  ject x\tG\r\n",
       "\"my file.bin\" sub  ject x\r\n"},
  };
  for (const FCase& c : cases) {
    EXPECT_EQ(CsvLogLine(c.line, c.subjectInCsv), c.csv);
    EXPECT_EQ(ZevLogLine(c.line), c.log);
    EXPECT_EQ(DescriptIonLine(c.line), c.descript);
  }
}

TEST(DownloadLogs, AppendsOnlyTheLogsAskedFor) {
  const std::string dir = Scratch("zevlogs_");
  SetErrorLogPath(dir + "error.log");
  FDownloadLogTargets targets;
  targets.csv = true;
  targets.descriptIon = true;
  targets.dataDir = dir + "data/";
  std::filesystem::create_directories(targets.dataDir);
  const FDownloadLogLine line{"x.bin", 1, 1, dir, "s", "G"};
  WriteDownloadLogs(targets, line);
  WriteDownloadLogs(targets, line);
  EXPECT_EQ(ReadAll(targets.dataDir + "Zev.csv"), CsvLogLine(line, false) + CsvLogLine(line, false));
  EXPECT_EQ(ReadAll(dir + "descript.ion"), DescriptIonLine(line) + DescriptIonLine(line));
  EXPECT_FALSE(std::filesystem::exists(dir + "Zev.log"));
  // A log that cannot be written is tried four times and logged, and the decode goes on.
  targets.dataDir = dir + "missing/";
  WriteDownloadLogs(targets, line);
  EXPECT_NE(ReadAll(dir + "error.log").find("(Attempt 4 of 4)"), std::string::npos);
}

}  // namespace
