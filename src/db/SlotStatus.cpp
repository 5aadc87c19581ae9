#include "db/SlotStatus.h"

#include "core/TextUtil.h"

namespace zev {

std::string TSlotStatus::Get(TText which) const {
  std::lock_guard lock(lock_);
  return texts_[which];
}

void TSlotStatus::Set(TText which, std::string value) {
  std::lock_guard lock(lock_);
  texts_[which] = std::move(value);
}

void TSlotStatus::SetCommand(const std::string& command) {
  // The status bar and the server tree are on screen: a password never is.
  Set(LastCommandText, ContainsIgnoreCase(command, "authinfo pass") ? "authinfo pass ****" : command);
}

void TSlotStatus::ClearAll() {
  std::lock_guard lock(lock_);
  for (std::string& t : texts_) t.clear();
  Progress = 0;
  ProgressTotal = 0;
}

}  // namespace zev
