// What the queue and the .newsrc export ask of a server-group's map.
#include <unordered_map>
#include <unordered_set>

#include "core/Config.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/BodyQueue.h"
#include "db/ExistingFileCheck.h"
#include "db/Group.h"
#include "db/GroupFileName.h"
#include "db/MapArticles.h"
#include "db/SGLst.h"
#include "db/Server.h"
#include "db/SrvGrp.h"

namespace zev {

TExistingFileCheck* gExistingFiles = nullptr;

namespace {

// A part chain longer than this is damaged (a loop the links do not show).
constexpr size_t kMaxChainParts = 65536;

void AppendRun(std::string& out, uint64_t first, uint64_t last) {
  if (!out.empty()) out += ',';
  out += std::to_string(first);
  if (last > first) out += "-" + std::to_string(last);
}

}  // namespace

std::string TSrvGrp::ReadRanges() {
  std::vector<uint32_t> map;
  {
    TMapUse use(*this);
    if (!use.Loaded()) return {};
    map = MapSnapshot();
  }
  if (!gMapArticles || map.size() < 2) return {};
  std::string out;
  uint64_t runStart = 0, runEnd = 0;
  bool inRun = false;
  FMsgData record{};
  for (size_t i = 1; i < map.size(); ++i) {
    uint64_t artNo = uint64_t{map[0]} + i - 1;
    bool read = map[i] >= kFirstArticleOffset && gMapArticles->Read(map[i], record) && HasFlag(record, afRead);
    if (read && inRun && artNo == runEnd + 1) {
      runEnd = artNo;
    } else if (read) {
      if (inRun) AppendRun(out, runStart, runEnd);
      runStart = runEnd = artNo;
      inRun = true;
    }
  }
  if (inRun) AppendRun(out, runStart, runEnd);
  return out;
}

std::unordered_map<TArticleOffset, uint32_t> TSrvGrp::FindArtNos(const std::vector<TArticleOffset>& offsets) const {
  std::unordered_map<TArticleOffset, uint32_t> found;
  for (TArticleOffset o : offsets) found.emplace(o, 0);
  {
    // One pass over the map for the whole file, however many parts it has.
    std::lock_guard lock(mapLock_);
    for (size_t i = 1; i < offsMap_.size(); ++i) {
      auto it = found.find(offsMap_[i]);
      if (it != found.end() && it->second == 0) it->second = static_cast<uint32_t>(offsMap_[0] + (i - 1));
    }
  }
  for (auto& [offset, artNo] : found)
    if (artNo == 0) artNo = GetReverse(offset);
  return found;
}

void TSrvGrp::NoteQueuedArticles(const std::vector<TArticleOffset>& offsets) {
  if (!gQueueIndex || offsets.empty()) return;
  for (auto [offset, artNo] : FindArtNos(offsets))
    if (artNo != 0) gQueueIndex->SetArtNo(*server_, *group_, artNo, offset);
  // Servers that serve articles only fetch by Message-ID: their "number" is 1.
  if (!gServerGroups) return;
  for (const auto& sg : gServerGroups->EntriesOf(*group_))
    if (sg->Server().ServerMode == smArticles)
      for (TArticleOffset offset : offsets) gQueueIndex->SetArtNo(sg->Server(), *group_, 1, offset);
}

void TSrvGrp::AutoMarkFile(TArticleOffset offset, TBodyQueue& queue) {
  if (!gMapArticles) return;
  std::string dir = gMapArticles->DownloadDir(offset);
  std::string target = dir.empty() ? group_->EffectiveDecodeDir() : dir;
  if (gExistingFiles && gExistingFiles->Classify(offset, target) >= fmCSVExact) {
    LogError(FormatText("Skipped auto-mark due to file \"%s\" already existing.",
                        PrintableName(gMapArticles->FileName(offset)).c_str()),
             0);
    return;
  }
  int firstPartScore = gConfig ? gConfig->FirstPartScore : 1;
  std::unordered_set<TArticleOffset> seen;
  std::vector<TArticleOffset> toFetch;
  FMsgData part{};
  for (TArticleOffset at = gMapArticles->FirstPart(offset);
       at >= kFirstArticleOffset && seen.size() < kMaxChainParts && seen.insert(at).second; at = part.FNextPart) {
    if (!gMapArticles->Read(at, part)) break;
    if (!HasFlag(part, afMarked) && !HasFlag(part, afDownloaded)) {
      gMapArticles->IncludeFlag(at, afMarked);
      int score = part.FScore + (HasFlag(part, afMultiPart) && part.FPartNo == 1 ? firstPartScore : 0);
      queue.PutBodyCommand(*group_, 0, score, at);
    }
    if (gMapArticles->DownloadDir(at) != dir) gMapArticles->SetDownloadDir(at, dir);
    if (!HasFlag(part, afDownloaded)) toFetch.push_back(at);
  }
  NoteQueuedArticles(toFetch);
}

void TSrvGrp::QueueMarked(TMap2& marked, TBodyQueue& queue) {
  struct FFound {
    TArticleOffset offset;
    uint32_t artNo;
    bool queue;
  };
  std::vector<FFound> found;
  {
    std::lock_guard lock(mapLock_);
    for (size_t i = 1; i < offsMap_.size(); ++i) {
      int64_t m = offsMap_[i] >= kFirstArticleOffset ? FindInMap2(marked, offsMap_[i]) : -1;
      if (m < 0) continue;
      FMapPair& pair = marked[static_cast<size_t>(m)];
      found.push_back({offsMap_[i], static_cast<uint32_t>(offsMap_[0] + (i - 1)), pair.value != 0});
      pair.value = 0;
    }
  }
  // The queue takes its own locks: it is called after the map lock is gone.
  for (const FFound& f : found) {
    if (f.queue) queue.PutBodyCommand(*group_, 0, -300, f.offset);
    if (gQueueIndex) gQueueIndex->SetArtNo(*server_, *group_, f.artNo, f.offset);
  }
}

}  // namespace zev
