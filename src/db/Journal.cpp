#include "db/Journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

#include "core/Crc32.h"
#include "core/Error.h"
#include "db/BTreeFormat.h"

namespace zev {
namespace {

// Journal header: magic, version, page size, device, inode, salt, CRC-32 of those.
constexpr char kMagic[8] = {'Z', 'E', 'V', 'J', 'R', 'N', 'L', '1'};
constexpr uint32_t kVersion = 1;
constexpr size_t kJournalHeaderSize = 48;
// Frame header: kind, page position, length, reserved, aux (commit: logical size), CRC-32
// chained over every frame before it (and the journal header), so a torn, stale or
// reordered frame breaks the chain.
constexpr size_t kFrameHeaderSize = 32;
constexpr uint32_t kFramePage = 1;
constexpr uint32_t kFrameCommit = 2;
constexpr uint32_t kFrameBase = 3;

bool ValidTreeSize(uint64_t size) {
  return size >= fmt::kNewFileSize && size < fmt::kSizeLimit && size % fmt::kPageSize == 0;
}

uint64_t NewSalt() {
  static std::atomic<uint64_t> counter{0};
  auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return now ^ (static_cast<uint64_t>(::getpid()) << 40) ^ (++counter * 0x9E3779B97F4A7C15ull);
}

void Put64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
uint64_t Get64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

}  // namespace

TJournal::TJournal(std::string path, uint64_t device, uint64_t inode)
    : path_(std::move(path)), device_(device), inode_(inode) {}

void TJournal::Open() {
  if (!file_.IsOpen()) {
    file_ = TFileHandle(path_, O_RDWR | O_CREAT | O_TRUNC);
    dirSynced_ = false;
  }
}

void TJournal::WriteHeader() {
  uint8_t h[kJournalHeaderSize] = {};
  std::memcpy(h, kMagic, 8);
  fmt::Store32(h + 8, kVersion);
  fmt::Store32(h + 12, fmt::kPageSize);
  Put64(h + 16, device_);
  Put64(h + 24, inode_);
  Put64(h + 32, NewSalt());
  chain_ = UpdateCrc32(h, 40, 0);
  fmt::Store32(h + 40, chain_);
  file_.WriteAt(0, h, sizeof h);
  end_ = sizeof h;
}

void TJournal::AppendFrame(uint32_t kind, uint32_t position, uint64_t aux, const uint8_t* data,
                           uint32_t length) {
  frame_.assign(kFrameHeaderSize + length, 0);
  uint8_t* h = frame_.data();
  fmt::Store32(h, kind);
  fmt::Store32(h + 4, position);
  fmt::Store32(h + 8, length);
  Put64(h + 16, aux);
  uint32_t sum = UpdateCrc32(h, 24, chain_);
  if (length) sum = UpdateCrc32(data, length, sum);
  fmt::Store32(h + 24, sum);
  if (length) std::memcpy(h + kFrameHeaderSize, data, length);
  file_.WriteAt(end_, frame_.data(), frame_.size());
  chain_ = sum;
  end_ += frame_.size();
}

uint64_t TJournal::Append(uint32_t position, const uint8_t* data, uint32_t length) {
  Open();
  if (end_ == 0) WriteHeader();
  uint64_t at = end_ + kFrameHeaderSize;
  AppendFrame(kFramePage, position, 0, data, length);
  return at;
}

void TJournal::SyncWithDirectory() {
  file_.SyncData();
  if (!dirSynced_) {
    SyncDirectoryOf(path_);
    dirSynced_ = true;
  }
}

void TJournal::MarkBase(uint64_t fileSize) {
  if (baseMarked_) return;
  Open();
  if (end_ == 0) WriteHeader();
  AppendFrame(kFrameBase, 0, fileSize, nullptr, 0);
  SyncWithDirectory();
  baseMarked_ = true;
}

void TJournal::Commit(uint64_t logicalSize) {
  Open();
  if (end_ == 0) WriteHeader();
  AppendFrame(kFrameCommit, 0, logicalSize, nullptr, 0);
  SyncWithDirectory();
  baseMarked_ = false;
}

void TJournal::Reset() {
  baseMarked_ = false;
  if (!file_.IsOpen()) return;
  file_.Truncate(0);
  end_ = 0;
}

void TJournal::ReadPage(uint64_t offset, uint8_t* data, uint32_t length) const {
  if (file_.ReadAt(offset, data, length) != length) throw EZevError("Journal \"" + path_ + "\" is truncated");
}

void TJournal::Remove() {
  if (file_.IsOpen()) file_.Close();
  ::unlink(path_.c_str());
  end_ = 0;
}

bool TJournal::ReadCommitted(const TFileHandle& journal, uint64_t device, uint64_t inode, TJournalIndex& pages,
                             uint64_t& logicalSize, uint64_t& unfinishedBase) {
  pages.clear();
  unfinishedBase = 0;
  uint8_t h[kJournalHeaderSize];
  if (journal.ReadAt(0, h, sizeof h) != sizeof h) return false;
  if (std::memcmp(h, kMagic, 8) != 0 || fmt::Load32(h + 8) != kVersion || fmt::Load32(h + 12) != fmt::kPageSize)
    return false;
  if (Get64(h + 16) != device || Get64(h + 24) != inode) return false;
  uint32_t chain = UpdateCrc32(h, 40, 0);
  if (chain != fmt::Load32(h + 40)) return false;

  uint64_t fileSize = journal.Size();
  uint64_t at = sizeof h;
  std::vector<uint8_t> data(fmt::kRootSize);
  TJournalIndex seen;
  bool committed = false;
  while (at + kFrameHeaderSize <= fileSize) {
    uint8_t f[kFrameHeaderSize];
    // The first frame that does not check out ends the journal: it was torn or is stale.
    if (journal.ReadAt(at, f, sizeof f) != sizeof f) break;
    uint32_t kind = fmt::Load32(f), position = fmt::Load32(f + 4), length = fmt::Load32(f + 8);
    bool isRoot = position == 0;
    if (kind == kFramePage && length != (isRoot ? fmt::kRootSize : fmt::kPageSize)) break;
    if (kind == kFramePage && (fmt::OffsetIn(position) != 0 || position >= fmt::kSizeLimit ||
                               (position != 0 && position < fmt::kFirstDataPage)))
      break;
    if (kind != kFramePage && ((kind != kFrameCommit && kind != kFrameBase) || length != 0)) break;
    if (at + sizeof f + length > fileSize) break;
    if (length && journal.ReadAt(at + sizeof f, data.data(), length) != length) break;
    uint32_t sum = UpdateCrc32(f, 24, chain);
    if (length) sum = UpdateCrc32(data.data(), length, sum);
    if (sum != fmt::Load32(f + 24)) break;
    chain = sum;
    if (kind == kFrameCommit) {
      uint64_t size = Get64(f + 16);
      if (!ValidTreeSize(size)) break;
      // A later commit (after a flush whose in-place writes failed) covers the earlier ones.
      pages = seen;
      logicalSize = size;
      committed = true;
      unfinishedBase = 0;
    } else if (kind == kFrameBase) {
      uint64_t size = Get64(f + 16);
      if (!ValidTreeSize(size)) break;
      if (unfinishedBase == 0) unfinishedBase = size;
    } else {
      seen[position] = TJournalFrame{length, at + sizeof f};
    }
    at += sizeof f + length;
  }
  return committed;
}

}  // namespace zev
