#include "download/PlacedParts.h"

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "core/Crc32.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "download/DecodeFs.h"
#include "download/DownloadNames.h"

namespace zev {

namespace {

constexpr size_t kRecord = 32;
constexpr char kFileMagic[8] = {'Z', 'E', 'V', 'P', 'A', 'R', 'T', '1'};
constexpr char kSlotMagic[4] = {'Z', 'P', 'R', 'T'};

void Put(uint8_t* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t Get(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | at[i];
  return value;
}

uint32_t Crc(const uint8_t* data, size_t len) { return UpdateCrc32(data, len, 0); }

struct FSlot {
  bool present = false;
  bool writing = false;
  uint64_t offset = 0, size = 0;
  uint32_t crc = 0;
};

std::array<uint8_t, kRecord> HeaderRecord(uint64_t fileSize, uint32_t total) {
  std::array<uint8_t, kRecord> r{};
  std::memcpy(r.data(), kFileMagic, 8);
  Put(r.data() + 8, fileSize, 8);
  Put(r.data() + 16, total, 4);
  Put(r.data() + 20, Crc(r.data(), 20), 4);
  return r;
}

std::array<uint8_t, kRecord> SlotRecord(uint32_t part, const FSlot& slot) {
  std::array<uint8_t, kRecord> r{};
  std::memcpy(r.data(), kSlotMagic, 4);
  Put(r.data() + 4, part, 4);
  Put(r.data() + 8, slot.offset, 8);
  Put(r.data() + 16, slot.size, 8);
  Put(r.data() + 24, slot.crc, 4);
  Put(r.data() + 28, Crc(r.data(), 28), 4);
  return r;
}

}  // namespace

struct TPlacedParts::FFile {
  FFile(TDecodeFile f, std::string d, std::string n, uint64_t s, uint32_t t)
      : file(std::move(f)), dir(std::move(d)), name(std::move(n)), size(s), total(t), slots(t) {}

  TDecodeFile file;
  const std::string dir, name;
  const uint64_t size;
  const uint32_t total;
  std::mutex lock;
  std::mutex writeLock;             // one write to the file at a time
  std::condition_variable settled;  // a part's write ended
  std::vector<FSlot> slots;         // part p at p - 1
  uint32_t present = 0;
  bool finishing = false;
};

bool PartHasPlace(const FPartData& part) {
  if (!part.offset || !part.fileSize || part.total < 2 || part.total > TPlacedParts::kMaxParts) return false;
  if (part.part < 1 || part.part > part.total || part.size == 0) return false;
  const uint64_t fileSize = *part.fileSize, offset = *part.offset;
  return fileSize <= TPlacedParts::kMaxFileSize && offset < fileSize && part.size <= fileSize - offset;
}

TPlacedParts::TPlacedParts(TDecodeFs& fs) : fs_(fs) {}

TPlacedParts::~TPlacedParts() = default;

TPlacedParts::TFileRef TPlacedParts::Open(const FPartData& part, bool& duplicate) {
  duplicate = false;
  if (!PartHasPlace(part)) return nullptr;
  const std::string path = part.dir + part.name + kSuffix;
  TFileRef file;
  uint64_t size = 0;
  bool isDir = false;
  const bool onDisk = fs_.Stat(path, size, isDir);
  if (auto it = open_.find(path); it != open_.end()) {
    // Removed behind our back: what was written to it is gone with it.
    if (onDisk) file = it->second;
    else open_.erase(it);
  }
  if (!file) {
    if (onDisk) {
      if (isDir) return nullptr;
      file = Load(part, path);
    } else if (WholeFileHolds(part)) {
      duplicate = true;
      return nullptr;
    } else if (!HasPartFiles(part)) {
      file = Create(part, path);
    }
    if (file) Remember(path, file);
  }
  // Another file of the same name is being put together: the part files keep them apart.
  if (!file || file->size != *part.fileSize || file->total != part.total) return nullptr;
  return file;
}

TPlacedParts::TFileRef TPlacedParts::Load(const FPartData& part, const std::string& path) {
  TDecodeFile f = TDecodeFile::Open(fs_, path, O_RDWR);
  const uint64_t fileSize = *part.fileSize;
  std::array<uint8_t, kRecord> header{};
  if (fs_.PRead(f.Fd(), header.data(), kRecord, fileSize) != static_cast<ssize_t>(kRecord) ||
      header != HeaderRecord(fileSize, part.total)) {
    LogError(FormatText("\"%s\" belongs to a different file than part %u/%u of \"%s\": the part is kept apart.",
                        path.c_str(), part.part, part.total, part.name.c_str()),
             0);
    return nullptr;
  }
  auto file = std::make_shared<FFile>(std::move(f), part.dir, part.name, fileSize, part.total);
  std::vector<uint8_t> slots(kRecord * part.total);
  const ssize_t n = fs_.PRead(file->file.Fd(), slots.data(), slots.size(), fileSize + kRecord);
  for (uint32_t p = 1; n > 0 && p * kRecord <= static_cast<size_t>(n); ++p) {
    const uint8_t* r = slots.data() + (p - 1) * kRecord;
    if (std::memcmp(r, kSlotMagic, 4) != 0 || Get(r + 4, 4) != p || Get(r + 28, 4) != Crc(r, 28)) continue;
    FSlot slot{true, false, Get(r + 8, 8), Get(r + 16, 8), static_cast<uint32_t>(Get(r + 24, 4))};
    if (slot.offset >= fileSize || slot.size > fileSize - slot.offset) continue;
    file->slots[p - 1] = slot;
    ++file->present;
  }
  return file;
}

TPlacedParts::TFileRef TPlacedParts::Create(const FPartData& part, const std::string& path) {
  const int fd = fs_.Open(path, O_RDWR | O_CREAT | O_EXCL, 0644);
  if (fd < 0) throw EDecodeIoError("Cannot create", path, errno);
  TDecodeFile f(fs_, path, fd);
  try {
    const auto header = HeaderRecord(*part.fileSize, part.total);
    f.WriteAll(header.data(), header.size(), *part.fileSize);
  } catch (...) {
    f.Close();
    fs_.Unlink(path);
    throw;
  }
  return std::make_shared<FFile>(std::move(f), part.dir, part.name, *part.fileSize, part.total);
}

bool TPlacedParts::HasPartFiles(const FPartData& part) {
  std::vector<std::string> names;
  if (!fs_.List(part.dir, names)) throw EDecodeIoError("Cannot read directory", part.dir, errno);
  FPartRange range;
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& entry) { return ParsePartFileName(entry, part.name, range); });
}

bool TPlacedParts::WholeFileHolds(const FPartData& part) {
  const std::string whole = part.dir + part.name;
  uint64_t size = 0;
  bool isDir = false;
  return fs_.Stat(whole, size, isDir) && !isDir && size == *part.fileSize &&
         RangeMatches(fs_, whole, *part.offset, part.data, part.size);
}

void TPlacedParts::Remember(const std::string& key, TFileRef file) {
  if (open_.size() >= kMaxOpenFiles)
    std::erase_if(open_, [](const auto& entry) { return entry.second.use_count() == 1; });
  open_[key] = std::move(file);
}

TPlaceOutcome TPlacedParts::Place(FFile& file, const FPartData& part) {
  FSlot& slot = file.slots[part.part - 1];
  {
    std::unique_lock lock(file.lock);
    // Two copies of one part at once: the second waits to see whether the first landed.
    file.settled.wait(lock, [&] { return !slot.writing; });
    if (slot.present) {
      if (file.present < file.total || file.finishing) return TPlaceOutcome::Duplicate;
      file.finishing = true;  // an earlier finish failed: this copy tries again
      return TPlaceOutcome::Completed;
    }
    slot.writing = true;
  }
  const FSlot written{true, false, *part.offset, part.size, part.crc};
  try {
    // The kernel takes the file's lock for every write anyway; waiting here sleeps where
    // waiting there would spin.
    std::lock_guard writing(file.writeLock);
    file.file.WriteAll(part.data, part.size, *part.offset);
    const auto record = SlotRecord(part.part, written);
    file.file.WriteAll(record.data(), record.size(), file.size + kRecord * part.part);
  } catch (...) {
    std::lock_guard lock(file.lock);
    slot.writing = false;
    file.settled.notify_all();
    throw;
  }
  std::lock_guard lock(file.lock);
  slot = written;
  file.settled.notify_all();
  if (++file.present < file.total || file.finishing) return TPlaceOutcome::Written;
  file.finishing = true;
  return TPlaceOutcome::Completed;
}

namespace {

// The file's CRC from its parts', when the parts cover it exactly once, in order.
std::optional<uint32_t> CoveringCrc(std::vector<FSlot> slots, uint64_t fileSize) {
  std::sort(slots.begin(), slots.end(), [](const FSlot& a, const FSlot& b) { return a.offset < b.offset; });
  uint64_t at = 0;
  uint32_t crc = 0;
  for (const FSlot& s : slots) {
    if (s.offset != at) return std::nullopt;
    crc = Crc32Combine(crc, s.crc, s.size);
    at += s.size;
  }
  if (at != fileSize) return std::nullopt;
  return crc;
}

}  // namespace

FJoinResult TPlacedParts::Finish(FFile& file) {
  const std::string path = file.dir + file.name + kSuffix;
  FJoinResult result;
  try {
    // The working file was removed behind our back (and may have been started again).
    if (auto it = open_.find(path); it == open_.end() || it->second.get() != &file)
      throw EDecodeIoError("Cannot finish", path, ENOENT);
    const std::optional<uint32_t> crc = CoveringCrc(file.slots, file.size);
    if (!crc)
      LogError(FormatText("The parts of \"%s\" overlap or leave gaps: the file is kept, but it is not what was posted.",
                          path.c_str()),
               1);
    result.fileCrc = crc;
    result.damaged = !crc;
    if (fs_.Truncate(file.file.Fd(), file.size) != 0) throw EDecodeIoError("Cannot truncate", path, errno);
    const std::string whole = file.dir + file.name;
    if (FileCompare(fs_, whole, path)) {
      fs_.Unlink(path);
      result.duplicate = true;
      result.fileName = file.name;
    } else {
      result.fileName = MakeUniqueName(fs_, file.dir, file.name);
      if (fs_.Rename(path, file.dir + result.fileName, false) != 0)
        throw EDecodeIoError("Cannot rename to", file.dir + result.fileName, errno);
    }
  } catch (...) {
    std::lock_guard lock(file.lock);
    file.finishing = false;
    throw;
  }
  file.file.Close();
  open_.erase(path);
  result.complete = true;
  result.fileSize = file.size;
  return result;
}

}  // namespace zev
