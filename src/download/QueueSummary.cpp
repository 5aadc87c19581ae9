// The queue's figures as the main window shows them.
#include "core/Format.h"
#include "core/Intl.h"
#include "core/TextUtil.h"
#include "download/Queue.h"

namespace zev {

std::string TQueue::SummaryText() const {
  return std::to_string(BodyCount()) + " (" + FormatSizeKB(TotalBytes() / 1024) + ")";
}

std::string TQueue::StatusHint(const std::string& eta) const {
  const int32_t count = BodyCount();
  if (count == 0) return Tr("No marked articles in queue");
  return FormatText(Tr("Marked %d articles totaling %s for download, ETA %s"), count,
                    FormatSizeKB(TotalBytes() / 1024).c_str(), eta.c_str());
}

}  // namespace zev
