#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

TEST(MimeGlobs, RegisteredExtensionsHaveALeadingDot) {
  for (const auto& ext : RegisteredExtensions()) {
    ASSERT_GE(ext.size(), 2u);
    EXPECT_EQ(ext[0], '.');
  }
}

}  // namespace
