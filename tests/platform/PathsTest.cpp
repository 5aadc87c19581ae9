#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

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

TEST(Paths, SpecialFoldersFollowUserDirs) {
  std::string home = ::testing::TempDir() + "zev_home/";
  std::filesystem::create_directories(home + "cfg");
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "cfg").c_str(), 1);
  unsetenv("XDG_DOCUMENTS_DIR");
  std::ofstream(home + "cfg/user-dirs.dirs") << "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n";
  EXPECT_EQ(SpecialFolderPath(TSpecialFolder::Documents), home + "Docs/");
  EXPECT_EQ(SpecialFolderPath(TSpecialFolder::Music), home + "Music/");
  EXPECT_EQ(SpecialFolderPath(TSpecialFolder::Config), home + "cfg/");
  unsetenv("XDG_CONFIG_HOME");
}

TEST(SystemInfo, FileSize32) {
  std::string path = ::testing::TempDir() + "zev_size32";
  std::ofstream(path) << "12345";
  EXPECT_EQ(FileSize32(path), 5u);
  EXPECT_EQ(FileSize32(path + ".missing"), 0u);
  EXPECT_EQ(FileSize32(::testing::TempDir()), 0u) << "a directory has no file size";
}
