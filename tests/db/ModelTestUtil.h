#pragma once
// Helpers shared by the server, group and map tests.
#include <string>

#include "../core/TestUtil.h"
#include "core/DateTime.h"
#include "core/Log.h"

namespace zev::test {

inline TDateTime MakeDateTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  TDateTime date = 0, time = 0;
  TryEncodeDate(y, mo, d, date);
  TryEncodeTime(h, mi, s, time);
  return date + time;
}

// Sends the error log to a scratch file for the life of the object.
class TCapturedLog {
 public:
  explicit TCapturedLog(const std::string& dir) : path_(dir + "error.log"), old_(ErrorLogPath()) {
    SetErrorLogPath(path_);
  }
  ~TCapturedLog() { SetErrorLogPath(old_); }
  std::string Text() const { return ReadFile(path_); }
  bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }

 private:
  std::string path_, old_;
};

}  // namespace zev::test
