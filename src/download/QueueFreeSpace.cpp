#include "download/QueueFreeSpace.h"

#include <exception>

#include "core/Log.h"
#include "db/Group.h"
#include "download/QueueFileSet.h"
#include "platform/SystemInfo.h"

namespace zev {

TQueueFreeSpace::TQueueFreeSpace(TQueueArticles& articles)
    : articles_(articles), probe_(&platform::FreeDiskSpace) {}

FSpaceResult TQueueFreeSpace::Check(TQueueItem& item, const TGroup* group, const FQueueSettings& settings) {
  if (settings.noFreeSpaceCheck) return {};
  if (item.Data[0] <= kLastInvalidOffset) return {TSpaceVerdict::BadPath, {}};
  TQueueFileSet* set = item.FileSet;
  if (set && set->DelayCount > 0) {
    --set->DelayCount;
    return {TSpaceVerdict::Delayed, {}};
  }
  FSpaceResult result;
  try {
    result = Measure(item, group, settings, set ? set->TotalBytes : 0);
  } catch (const std::exception& e) {
    result.verdict = TSpaceVerdict::BadPath;
    LogException(e, "FreeSpaceCheck",
                 "Article Offset = " + std::to_string(item.Data[0]) + ", Group = \"" + (group ? group->Name() : "") +
                     "\", Download Directory = \"" + result.directory + "\"",
                 2);
  }
  if (result.verdict == TSpaceVerdict::BadPath) item.Flags |= qfBadPath;
  if (result.verdict == TSpaceVerdict::NoRoom && set) set->DelayCount = kDelayAttempts;
  return result;
}

FSpaceResult TQueueFreeSpace::Measure(TQueueItem& item, const TGroup* group, const FQueueSettings& settings,
                                      uint64_t needed) {
  FSpaceResult result;
  const bool appendSubject = group && group->Has(gfAppendSubject);
  FQueueArticle article;
  if (!articles_.Read(item.Data[0], article, atDownloadDir | (appendSubject ? atSubjectDir : atNone)))
    return {TSpaceVerdict::BadPath, {}};
  result.directory = article.DownloadDir;
  if (result.directory.empty() && group) {
    result.directory = group->EffectiveDecodeDir();
    if (appendSubject && !article.SubjectDir.empty()) result.directory += article.SubjectDir + "/";
  }
  if (needed == 0) needed = article.Size > kOversizedArticle ? kOversizedArticle : article.Size;
  uint64_t freeBytes = 0;
  if (result.directory.empty() || !probe_ || !probe_(result.directory, freeBytes)) {
    result.verdict = TSpaceVerdict::BadPath;
    return result;
  }
  const uint64_t wanted = settings.reserveBytes + needed;
  const bool overflow = wanted < needed;
  result.verdict = !overflow && freeBytes >= wanted ? TSpaceVerdict::Fits : TSpaceVerdict::NoRoom;
  return result;
}

}  // namespace zev
