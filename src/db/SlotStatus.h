#pragma once
// The progress a connection shows for its slot in the status bar and the server tree.
// The connection thread writes, the user-interface thread reads: texts are copied under a
// lock, counters are atomic.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace zev {

class TSlotStatus {
 public:
  enum TText { StatusMessage, LastCommandText, LastResponseText, CurrentGroup, ProgressText, kTextCount };

  std::string Get(TText which) const;
  void Set(TText which, std::string value);
  // Sets LastCommandText, hiding the password of an "authinfo pass" command.
  void SetCommand(const std::string& command);
  void ClearAll();

  std::atomic<int64_t> Progress{0};       // bytes of an article or lines of a header block so far
  std::atomic<int64_t> ProgressTotal{0};  // the expected amount

 private:
  mutable std::mutex lock_;
  std::string texts_[kTextCount];
};

}  // namespace zev
