#include "db/SrvGrp.h"

#include <sys/stat.h>

#include "core/Error.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Group.h"
#include "db/GroupFileName.h"
#include "db/MapArticles.h"
#include "db/OffsMapFile.h"
#include "db/SGLst.h"
#include "db/Server.h"

namespace zev {

TMapArticles* gMapArticles = nullptr;

TSrvGrp::TSrvGrp(TServer* server, TGroup* group) : server_(server), group_(group) {
  if (!server || !group) throw EZevError("Cannot create a server-group with a nil server or group");
}

TSrvGrp::~TSrvGrp() = default;

std::string TSrvGrp::MapFileName() const { return TSGLst::MapFileName(*server_, *group_); }

bool TSrvGrp::LoadOffsMap() {
  std::lock_guard lock(mapLock_);
  ++loadCount_;
  if (!offsMap_.empty()) return true;
  std::string path = MapFileName();
  if (path.empty()) return false;
  dirty_ = false;
  try {
    if (ReadMapFile(path, offsMap_) == TMapFileRead::TooLarge) {
      LogError(FormatText("The map file \"%s\" holds more than %llu article numbers and is ignored.",
                          PrintableName(path).c_str(), static_cast<unsigned long long>(gMaxMapEntries.load())));
      offsMap_.clear();
    }
    // Article numbers end at 2^32 - 1; a map reaching beyond that is cut there.
    if (!offsMap_.empty()) {
      uint64_t room = (uint64_t{1} << 32) - offsMap_[0];
      if (offsMap_.size() - 1 > room) offsMap_.resize(room + 1);
    }
  } catch (const std::exception& e) {
    LogException(e, "TSrvGrp.LoadOffsMap",
                 FormatText(" Server=\"%s\", Group=\"%s\", Count=%zu\r\n", PrintableName(server_->Name()).c_str(),
                            PrintableName(group_->Name()).c_str(), offsMap_.size()));
    offsMap_.clear();
  }
  return !offsMap_.empty();
}

void TSrvGrp::SaveOffsMap() {
  std::lock_guard lock(mapLock_);
  if (!dirty_ || offsMap_.empty()) return;
  std::string path = MapFileName();
  if (path.empty()) return;
  try {
    WriteMapFile(path, offsMap_);
    dirty_ = false;
  } catch (const std::exception& e) {
    LogException(e, "TSrvGrp.SaveOffsMap");
  }
}

void TSrvGrp::ReleaseOffsMap() {
  std::lock_guard lock(mapLock_);
  if (loadCount_ > 1) {
    --loadCount_;
    return;
  }
  // Whatever a user changed and did not save yet would be lost with the memory.
  if (dirty_) SaveOffsMap();
  std::vector<uint32_t>().swap(offsMap_);
  dirty_ = false;
  loadCount_ = 0;
}

bool TSrvGrp::IsUnused() const {
  std::lock_guard lock(mapLock_);
  return loadCount_ <= 0;
}

uint32_t TSrvGrp::FirstArtNo() const {
  std::lock_guard lock(mapLock_);
  return offsMap_.empty() ? 0 : offsMap_[0];
}

uint32_t TSrvGrp::LastArtNo() const {
  std::lock_guard lock(mapLock_);
  return offsMap_.size() < 2 ? 0 : static_cast<uint32_t>(offsMap_[0] + (offsMap_.size() - 2));
}

uint32_t TSrvGrp::ArtCount() const {
  std::lock_guard lock(mapLock_);
  return offsMap_.empty() ? 0 : static_cast<uint32_t>(offsMap_.size() - 1);
}

uint32_t TSrvGrp::GetEntry(uint32_t artNo) const {
  std::lock_guard lock(mapLock_);
  if (offsMap_.size() < 2 || artNo < offsMap_[0]) return 0;
  uint64_t pos = uint64_t{artNo} - offsMap_[0] + 1;
  return pos < offsMap_.size() ? offsMap_[pos] : 0;
}

void TSrvGrp::SetEntry(uint32_t artNo, uint32_t value) {
  std::lock_guard lock(mapLock_);
  if (offsMap_.size() < 2 || artNo < offsMap_[0]) return;
  uint64_t pos = uint64_t{artNo} - offsMap_[0] + 1;
  if (pos >= offsMap_.size()) return;
  offsMap_[pos] = value;
  dirty_ = true;
}

std::vector<uint32_t> TSrvGrp::MapSnapshot() const {
  std::lock_guard lock(mapLock_);
  return offsMap_;
}

void TSrvGrp::SetReverse(TArticleOffset offset, uint32_t artNo) {
  std::lock_guard lock(reverseLock_);
  if (artNo != 0) {
    PutInMap2(reverse_, offset, artNo);
    return;
  }
  int64_t i = FindInMap2(reverse_, offset);
  if (i >= 0) reverse_[static_cast<size_t>(i)].value = 0;
}

uint32_t TSrvGrp::GetReverse(TArticleOffset offset) const {
  std::lock_guard lock(reverseLock_);
  int64_t i = FindInMap2(reverse_, offset);
  return i < 0 ? 0 : reverse_[static_cast<size_t>(i)].value;
}

TDateTime TSrvGrp::GetLastRefresh() {
  if (lastRefresh_.load() != 0) return lastRefresh_;
  std::string path = MapFileName();
  struct stat st {};
  if (!path.empty() && stat(path.c_str(), &st) == 0) lastRefresh_ = LocalDateTimeFromUnix(st.st_mtime);
  return lastRefresh_;
}

void TSrvGrp::ResetState() {
  std::lock_guard state(stateLock_);
  if (!IsUnused()) return;
  {
    std::lock_guard lock(reverseLock_);
    reverse_.clear();
  }
  lastRefresh_ = 0;
  RefreshIdle = true;
  Validated = false;
  ValidationQueued = false;
  FirstRefresh = true;
}

}  // namespace zev
