#include "db/GroupCountFile.h"

#include <fcntl.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "core/Error.h"
#include "db/FileHandle.h"
#include "db/GroupFileName.h"
#include "db/Server.h"

namespace zev {

namespace {

constexpr uint64_t kHeaderSize = 8;
// Group ids are sequence numbers of the group index; no server lists this many groups.
// A larger id can only come from a damaged index, and must not grow a file (or a vector
// read back from it) to gigabytes.
constexpr uint32_t kMaxGroupId = 1u << 24;
// 9999-12-31, the last day a date-time can name.
constexpr TDateTime kLastValidDate = 2958465.0;

uint64_t SlotOffset(uint32_t groupId) { return kHeaderSize + 4ull * groupId; }

void CheckGroupId(uint32_t groupId, const std::string& path) {
  if (groupId > kMaxGroupId)
    throw EZevError("Group id " + std::to_string(groupId) + " is out of range for \"" + path + "\"");
}

// The file for writing, created with its directory when missing. A file shorter than its
// header gets a zero header, and a torn last slot is cut off, so that every slot stays at
// its place.
TFileHandle OpenForWriting(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  TFileHandle file(path, O_RDWR | O_CREAT, 0644);
  const uint64_t size = file.Size();
  if (size < kHeaderSize) {
    const uint8_t zero[kHeaderSize] = {};
    file.WriteAt(0, zero, sizeof zero);
  } else if ((size - kHeaderSize) % 4 != 0) {
    file.Truncate(size - (size - kHeaderSize) % 4);
  }
  return file;
}

}  // namespace

// The lock guards the file rather than the node, so a const node may take it.
std::shared_mutex& CountFileLock(const TServer& server) {
  return const_cast<TServer&>(server.NewsServer()).GroupListLock();
}

TGroupCountFile TGroupCountFile::Of(const TServer& server) {
  const TServer& news = server.NewsServer();
  if (news.Host().empty()) return TGroupCountFile({});
  return TGroupCountFile(ServerDataDir(news) + std::string(kGroupListFileName));
}

bool TGroupCountFile::Exists() const { return !path_.empty() && FileExists(path_); }

TDateTime TGroupCountFile::LastUpdate() const {
  if (!Exists()) return 0;
  TFileHandle file(path_, O_RDONLY);
  uint8_t bytes[kHeaderSize];
  if (file.ReadAt(0, bytes, sizeof bytes) != sizeof bytes) return 0;
  TDateTime value;
  std::memcpy(&value, bytes, sizeof value);
  if (!std::isfinite(value) || value < 0 || value > kLastValidDate) return 0;
  return value;
}

uint32_t TGroupCountFile::Count(uint32_t groupId) const {
  if (groupId > kMaxGroupId || !Exists()) return 0;
  TFileHandle file(path_, O_RDONLY);
  uint8_t bytes[4];
  if (file.ReadAt(SlotOffset(groupId), bytes, sizeof bytes) != sizeof bytes) return 0;
  uint32_t count;
  std::memcpy(&count, bytes, sizeof count);
  return count;
}

std::vector<uint32_t> TGroupCountFile::Counts() const {
  std::vector<uint32_t> counts;
  if (!Exists()) return counts;
  TFileHandle file(path_, O_RDONLY);
  const uint64_t size = file.Size();
  if (size <= kHeaderSize) return counts;
  const uint64_t slots = std::min<uint64_t>((size - kHeaderSize) / 4, uint64_t{kMaxGroupId} + 1);
  counts.resize(slots);
  const size_t read = file.ReadAt(kHeaderSize, counts.data(), slots * 4);
  counts.resize(read / 4);
  return counts;
}

void TGroupCountFile::SetLastUpdate(TDateTime value) const {
  if (path_.empty()) return;
  TFileHandle file = OpenForWriting(path_);
  file.WriteAt(0, &value, sizeof value);
}

void TGroupCountFile::SetCount(uint32_t groupId, uint32_t count) const {
  if (path_.empty()) return;
  CheckGroupId(groupId, path_);
  TFileHandle file = OpenForWriting(path_);
  file.WriteAt(SlotOffset(groupId), &count, sizeof count);
}

void TGroupCountFile::WriteCounts(const std::vector<uint32_t>& counts, uint32_t first, uint32_t last) const {
  if (path_.empty() || first > last || last >= counts.size()) return;
  CheckGroupId(last, path_);
  TFileHandle file = OpenForWriting(path_);
  file.WriteAt(SlotOffset(first), counts.data() + first, (uint64_t{last} - first + 1) * 4);
}

bool TGroupCountFile::Remove() const {
  std::error_code ec;
  return !path_.empty() && std::filesystem::remove(path_, ec);
}

}  // namespace zev
