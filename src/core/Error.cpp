#include "core/Error.h"

#include <execinfo.h>

namespace zev {

std::vector<void*> CaptureFrames(int skip) {
  void* buf[64];
  int n = backtrace(buf, 64);
  std::vector<void*> frames;
  for (int i = skip + 1; i < n; ++i) frames.push_back(buf[i]);
  return frames;
}

EZevError::EZevError(const std::string& message)
    : std::runtime_error(message), frames_(CaptureFrames(1)) {}

}  // namespace zev
