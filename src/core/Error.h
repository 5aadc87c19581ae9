#pragma once
// The program's exception type. Failures travel as exceptions; every thread body, timer
// handler and UI handler catches them at its own boundary and logs one entry with
// LogException (see Log.h). The call stack is captured where the exception is made,
// because by the time a handler runs the stack has already unwound.
#include <stdexcept>
#include <string>
#include <vector>

namespace zev {

class EZevError : public std::runtime_error {
 public:
  explicit EZevError(const std::string& message);
  // Return addresses of the frames at the point of construction, innermost first.
  const std::vector<void*>& Frames() const { return frames_; }

 private:
  std::vector<void*> frames_;
};

// Raised when a file or directory cannot be created or written.
class EFCreateError : public EZevError {
 public:
  using EZevError::EZevError;
};

// Captures the current call stack (innermost first, this function excluded).
std::vector<void*> CaptureFrames(int skip = 1);

}  // namespace zev
