#include "download/QueueSettings.h"

#include "core/Config.h"

namespace zev {

FQueueSettings QueueSettingsFrom(const TConfig& config) {
  FQueueSettings s;
  s.sameGroupScore = config.SameGroupScore;
  s.queuedOrder = config.Has(cfQueuedOrder);
  s.noFreeSpaceCheck = config.Has(cfNoFreeSpaceCheck);
  s.lowerPriorityWhenOffline = config.Has(cfLowerPriorityWhenOffline);
  s.reserveBytes = static_cast<uint64_t>(config.ReserveSpace > 0 ? config.ReserveSpace : 0) * 1024;
  return s;
}

}  // namespace zev
