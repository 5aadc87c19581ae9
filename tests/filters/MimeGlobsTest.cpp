#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdlib.h>

#include "platform/MimeGlobs.h"

using namespace zev::platform;

namespace {

std::string Scratch(const std::string& name, const std::string& text) {
  std::string path = ::testing::TempDir() + "zev_mimeglobs_" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(MimeGlobs, ReadsSimpleSuffixGlobsOfBothLayouts) {
  std::string path = Scratch("globs2",
                             "# comment\n"
                             "50:image/jpeg:*.jpg\n"
                             "50:image/x:*.JPG\n"                // same ignoring case
                             "60:application/x-sharedlib:*.so.[0-9]*\n"
                             "50:text/x-scons:sconscript.*\n"
                             "50:application/x-gz:*.tar.gz\n"
                             "10:audio/flac:*.flac:cs\n"
                             "image/png:*.png\n"                 // old "globs" layout
                             "garbage without colons\n"
                             "50:bad:*.c++\n");
  EXPECT_EQ(ReadMimeGlobs(path), (std::vector<std::string>{".jpg", ".flac", ".png"}));
}

TEST(MimeGlobs, ReadsMimeTypesWithComments) {
  std::string path = Scratch("mime.types",
                             "# type exts\n"
                             "image/jpeg\t\tjpeg jpg jpe\n"
                             "text/plain txt # trailing comment words\n"
                             "application/only-a-type\n");
  EXPECT_EQ(ReadMimeTypes(path), (std::vector<std::string>{".jpeg", ".jpg", ".jpe", ".txt"}));
}

TEST(MimeGlobs, MissingFilesGiveNothing) {
  EXPECT_TRUE(ReadMimeGlobs("/nonexistent/globs2").empty());
  EXPECT_TRUE(ReadMimeTypes("/nonexistent/mime.types").empty());
}

TEST(MimeGlobs, SearchesTheXdgDataDirectoriesInOrder) {
  namespace fs = std::filesystem;
  std::string root = ::testing::TempDir() + "zev_mimeglobs_xdg/";
  fs::remove_all(root);
  fs::create_directories(root + "home/mime");
  fs::create_directories(root + "sys/mime");
  fs::create_directories(root + "old/mime");
  std::ofstream(root + "home/mime/globs2") << "50:x/home:*.zevhome\n";
  std::ofstream(root + "sys/mime/globs2") << "50:x/sys:*.zevsys\n50:x/dup:*.ZEVHOME\n";
  std::ofstream(root + "old/mime/globs") << "x/old:*.zevold\n";  // no globs2 here
  setenv("XDG_DATA_HOME", (root + "home").c_str(), 1);
  setenv("XDG_DATA_DIRS", (root + "sys:relative/ignored:" + root + "old").c_str(), 1);
  auto all = RegisteredExtensions();
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_DATA_DIRS");
  ASSERT_GE(all.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 3),
            (std::vector<std::string>{".zevhome", ".zevsys", ".zevold"}));
}

TEST(MimeGlobs, RegisteredExtensionsHaveALeadingDot) {
  for (const auto& ext : RegisteredExtensions()) {
    ASSERT_GE(ext.size(), 2u);
    EXPECT_EQ(ext[0], '.');
  }
}

}  // namespace
