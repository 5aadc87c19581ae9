#pragma once
// Whether there is room for an article's download before it starts: the free space of its
// target directory (asked of the nearest existing directory, since deeper levels are made
// by the decoder) must cover the configured reserve plus the whole file's queued size.
//
// A check that cannot be made (no directory, the query fails, the article cannot be read)
// means "do not start": a download that might fill the disk is worse than one that waits.
// A file that does not fit is held back for kDelayAttempts scheduling attempts.
#include <cstdint>
#include <functional>
#include <string>

#include "download/QueueArticles.h"
#include "download/QueueItem.h"
#include "download/QueueSettings.h"

namespace zev {

class TGroup;

// Free bytes for the user on the file system of `path` (or its nearest existing parent).
using TDiskSpaceProbe = std::function<bool(const std::string& path, uint64_t& freeBytes)>;

enum class TSpaceVerdict : uint8_t {
  Fits,
  Delayed,   // the file set is still held back from an earlier result
  NoRoom,    // not enough free space: the file set is held back
  BadPath,   // no directory to check, or the query failed
};

struct FSpaceResult {
  TSpaceVerdict verdict = TSpaceVerdict::Fits;
  std::string directory;
  bool MayStart() const { return verdict == TSpaceVerdict::Fits; }
};

class TQueueFreeSpace {
 public:
  static constexpr int32_t kDelayAttempts = 30;

  explicit TQueueFreeSpace(TQueueArticles& articles);
  void SetProbe(TDiskSpaceProbe probe) { probe_ = std::move(probe); }

  // Sets qfBadPath on the item, or DelayCount on its file set, as the result requires.
  FSpaceResult Check(TQueueItem& item, const TGroup* group, const FQueueSettings& settings);

 private:
  FSpaceResult Measure(TQueueItem& item, const TGroup* group, const FQueueSettings& settings, uint64_t needed);

  TQueueArticles& articles_;
  TDiskSpaceProbe probe_;
};

}  // namespace zev
