// TGroupList: the group index and the filling of the per-server count files.
#include "db/GroupList.h"

#include <algorithm>
#include <shared_mutex>

#include "core/Error.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/BTree.h"
#include "db/BTreeCheck.h"
#include "db/GroupCountFile.h"
#include "db/GroupFileName.h"
#include "db/GroupListLine.h"
#include "db/Server.h"

namespace zev {

TGroupList* gGroupList = nullptr;

namespace {

// Lines of one response whose names are refused: the first few are logged one by one, the
// rest only counted, so a hostile list cannot flood the error log.
class TRefusedLines {
 public:
  explicit TRefusedLines(const TServer& server) : server_(server) {}
  ~TRefusedLines() {
    if (count_ > kLoggedOneByOne)
      LogError(FormatText("Skipped %u more newsgroups with unusable names listed by %s.", count_ - kLoggedOneByOne,
                          PrintableName(server_.NewsServer().Name()).c_str()));
  }
  void Note(std::string_view line, const char* problem) {
    if (++count_ > kLoggedOneByOne) return;
    const std::string_view name = line.substr(0, line.find_first_of(" \t"));
    LogError(FormatText("Skipped the newsgroup \"%s\" listed by %s: %s.", PrintableName(name).c_str(),
                        PrintableName(server_.NewsServer().Name()).c_str(), problem));
  }
  uint32_t Count() const { return count_; }

 private:
  static constexpr uint32_t kLoggedOneByOne = 5;
  const TServer& server_;
  uint32_t count_ = 0;
};

}  // namespace

TGroupList::TGroupList(const std::string& dataDir, int64_t cacheSize, uint8_t extraOptions) {
  std::string dir = dataDir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  index_ = std::make_unique<TBTree>(dir + std::string(kGroupIndexFileName),
                                    static_cast<uint8_t>(boSequenceNumbers | extraOptions), cacheSize,
                                    sizeof(FGroupHeader));
}

TGroupList::~TGroupList() {
  if (gGroupList == this) gGroupList = nullptr;
}

void TGroupList::HandleListResponse(TServer& server, std::string_view data, bool finalBlock) {
  while (!data.empty() && (data.front() == '\r' || data.front() == '\n')) data.remove_prefix(1);
  if (!data.empty()) {
    std::vector<std::string_view> lines;
    lines.reserve(std::max<size_t>(6000, data.size() / 32));
    for (size_t start = 0; start < data.size();) {
      size_t end = data.find('\n', start);
      if (end == std::string_view::npos) end = data.size();
      std::string_view line = data.substr(start, end - start);
      // Lines come as the server sent them: a leading dot is doubled on the wire.
      if (line.starts_with("..")) line.remove_prefix(1);
      lines.push_back(line);
      start = end + 1;
    }
    StoreLines(server, lines);
  }
  if (!finalBlock) return;
  // A list cut short by a broken connection leaves LastUpdate at 0, so the next connection
  // asks for the whole list again instead of only for groups newer than a partial one.
  TGroupCountFile file = TGroupCountFile::Of(server);
  {
    std::unique_lock lock(CountFileLock(server));
    if (file.Exists() && file.LastUpdate() == 0) file.SetLastUpdate(NowLocal());
  }
  server.NewsServer().ServerGroupsDirty = true;
  GroupListsChanged = true;
}

FListStoreResult TGroupList::StoreLines(const TServer& server, std::vector<std::string_view>& lines) {
  if (!std::is_sorted(lines.begin(), lines.end())) std::sort(lines.begin(), lines.end());
  return StoreSorted(server, lines);
}

FListStoreResult TGroupList::StoreStrings(const TServer& server, const std::vector<std::string>& lines) {
  std::vector<std::string_view> views(lines.begin(), lines.end());
  return StoreLines(server, views);
}

FListStoreResult TGroupList::StoreSorted(const TServer& server, const std::vector<std::string_view>& lines) {
  FListStoreResult result;
  const TGroupCountFile file = TGroupCountFile::Of(server);
  if (file.Path().empty()) return result;
  std::lock_guard store(storeLock_);
  std::unique_lock fileLock(CountFileLock(server));
  std::vector<uint32_t> counts = file.Counts();
  uint32_t first = UINT32_MAX, last = 0;
  TRefusedLines refused(server);
  for (std::string_view line : lines) {
    FListLine parsed;
    const char* problem = nullptr;
    const TListLineVerdict verdict = ParseListLine(line, parsed, problem);
    if (verdict == TListLineVerdict::Refused) refused.Note(line, problem);
    if (verdict != TListLineVerdict::Stored) continue;
    FGroupHeader header{0, 1};
    TDataPointer dp = 0;
    const bool added = index_->Insert(parsed.name, &header, dp);
    if (!added && dp == 0) throw EZevError("The newsgroup index \"" + index_->FileName() + "\" is full");
    if (header.GroupId == 0) continue;
    if (counts.size() <= header.GroupId) counts.resize(size_t{header.GroupId} + 1, 0);
    uint32_t& slot = counts[header.GroupId];
    // A server that names a group again (a repeated "newgroups" line, the same group twice)
    // is still one carrier.
    if (added) ++result.added;
    else if (slot == 0) AddCarrier(dp, +1);
    if (slot != parsed.count) {
      slot = parsed.count;
      first = std::min(first, header.GroupId);
      last = std::max(last, header.GroupId);
    }
    ++result.stored;
  }
  result.refused = refused.Count();
  // The names go to disk before the counts that refer to them by GroupId.
  index_->Flush(true, true);
  if (first <= last) file.WriteCounts(counts, first, last);
  if (result.added) indexGeneration_.fetch_add(1);
  countsGeneration_.fetch_add(1);
  return result;
}

bool TGroupList::AddCarrier(TDataPointer dp, int32_t delta) {
  const int32_t deltas[2] = {0, delta};
  return index_->AddToRecord(dp, deltas);
}

bool TGroupList::FindGroup(std::string_view name, FGroupHeader& header) {
  TDataPointer dp = 0;
  return index_->Find(name, dp) && index_->ReadRecord(dp, &header) && header.GroupId != 0;
}

uint32_t TGroupList::GroupCount() { return index_->RecordCount(); }

TCheckReport TGroupList::CheckIndex() { return index_->Check(); }

void TGroupList::SetArticleCount(const TServer& server, std::string_view name, uint32_t count) {
  const TGroupCountFile file = TGroupCountFile::Of(server);
  if (file.Path().empty() || (count == 0 && !file.Exists())) return;
  TDataPointer dp = 0;
  FGroupHeader header;
  if (!index_->Find(name, dp) || !index_->ReadRecord(dp, &header) || header.GroupId == 0) return;
  {
    std::unique_lock lock(CountFileLock(server));
    const uint32_t old = file.Count(header.GroupId);
    const uint32_t now = std::max<uint32_t>(count, 1);
    if (old == now) return;
    file.SetCount(header.GroupId, now);
    if (old == 0) AddCarrier(dp, +1);
  }
  countsGeneration_.fetch_add(1);
}

TDateTime TGroupList::LastUpdate(const TServer& server) {
  std::shared_lock lock(CountFileLock(server));
  return TGroupCountFile::Of(server).LastUpdate();
}

void TGroupList::SetLastUpdate(const TServer& server, TDateTime value) {
  {
    std::unique_lock lock(CountFileLock(server));
    TGroupCountFile::Of(server).SetLastUpdate(value);
  }
  countsGeneration_.fetch_add(1);
}

uint32_t TGroupList::ArticleCountByName(const TServer& server, std::string_view name) {
  try {
    const TGroupCountFile file = TGroupCountFile::Of(server);
    if (!file.Exists()) return 0;
    FGroupHeader header;
    if (!FindGroup(name, header)) return 0;
    std::shared_lock lock(CountFileLock(server));
    return file.Count(header.GroupId);
  } catch (const std::exception& e) {
    LogException(e, "TGroupList.ArticleCountByName", PrintableName(name));
    return 0;
  }
}

void TGroupList::MarkNotCarried(const TServer& server, std::string_view name) {
  TDataPointer dp = 0;
  FGroupHeader header;
  if (!index_->Find(name, dp) || !index_->ReadRecord(dp, &header) || header.GroupId == 0) return;
  const TGroupCountFile file = TGroupCountFile::Of(server);
  {
    std::unique_lock lock(CountFileLock(server));
    if (file.Count(header.GroupId) == 0) return;
    file.SetCount(header.GroupId, 0);
    AddCarrier(dp, -1);
  }
  countsGeneration_.fetch_add(1);
}

std::vector<uint32_t> TGroupList::ServerCounts(const TServer& server) {
  std::shared_lock lock(CountFileLock(server));
  return TGroupCountFile::Of(server).Counts();
}

std::vector<std::pair<std::string, uint32_t>> TGroupList::CountsForServer(const TServer& server) {
  const std::vector<uint32_t> counts = ServerCounts(server);
  std::vector<std::pair<std::string, uint32_t>> out;
  if (counts.empty()) return out;
  ForEachGroup([&](std::string_view name, uint32_t groupId) {
    if (groupId < counts.size() && counts[groupId] != 0) out.emplace_back(std::string(name), counts[groupId]);
  });
  return out;
}

void TGroupList::ForEachGroup(const std::function<void(std::string_view, uint32_t)>& visit) {
  std::string name;
  for (const auto& [dp, groupId] : index_->GetMap2(offsetof(FGroupHeader, GroupId))) {
    name = index_->ReadKeyText(dp);
    if (!name.empty() && groupId != 0) visit(name, groupId);
  }
}

}  // namespace zev
