#include "download/PartLedger.h"

namespace zev {

void TPartLedger::Note(const std::string& path, uint64_t size, uint32_t crc) {
  if (pieces_.size() >= kMaxEntries) pieces_.clear();
  pieces_[path] = {size, crc};
}

std::optional<uint32_t> TPartLedger::Crc(const std::string& path, uint64_t size) const {
  auto it = pieces_.find(path);
  if (it == pieces_.end() || it->second.size != size) return std::nullopt;
  return it->second.crc;
}

void TPartLedger::Forget(const std::string& path) { pieces_.erase(path); }

void TPartLedger::NoteExpected(const std::string& file, std::optional<uint64_t> size, std::optional<uint32_t> crc) {
  if (!size && !crc) return;
  if (expected_.size() >= kMaxEntries) expected_.clear();
  FExpected& e = expected_[file];
  if (size) e.size = size;
  if (crc) e.crc = crc;
}

TPartLedger::FExpected TPartLedger::Expected(const std::string& file) const {
  auto it = expected_.find(file);
  return it == expected_.end() ? FExpected{} : it->second;
}

void TPartLedger::ForgetExpected(const std::string& file) { expected_.erase(file); }

}  // namespace zev
