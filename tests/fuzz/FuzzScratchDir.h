#pragma once
// A fuzz target's scratch directory: in memory when /dev/shm is writable (the targets sync
// what they write, and would wait on the disk), removed with everything in it when the
// object goes, which for a static one is when the fuzzer ends.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

class TFuzzScratchDir {
 public:
  explicit TFuzzScratchDir(const char* prefix) {
    path_ = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : "/tmp/") + prefix + "XXXXXX";
    if (!mkdtemp(path_.data())) abort();
    path_ += "/";
  }
  ~TFuzzScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TFuzzScratchDir(const TFuzzScratchDir&) = delete;
  TFuzzScratchDir& operator=(const TFuzzScratchDir&) = delete;

  // With a trailing "/".
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};
