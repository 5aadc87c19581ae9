#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/Paths.h"
#include "platform/SystemInfo.h"

using namespace zev::platform;

TEST(Paths, XdgVariablesWinWhenAbsolute) {
  setenv("HOME", "/home/u", 1);
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(ConfigHome(), "/cfg/");
  setenv("XDG_CONFIG_HOME", "relative", 1);  // ignored by the XDG rules
  EXPECT_EQ(ConfigHome(), "/home/u/.config/");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(DataHome(), "/home/u/.local/share/");
  unsetenv("XDG_CONFIG_HOME");
}

TEST(SystemInfo, FreeSpaceWalksUpToAnExistingDirectory) {
  uint64_t free = 0;
  ASSERT_TRUE(FreeDiskSpace("/tmp/does/not/exist/at/all", free));
  EXPECT_GT(free, 0u);
  EXPECT_GT(TotalPhysicalMemory(), 0u);
}
