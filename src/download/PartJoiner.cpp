#include "download/PartJoiner.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "core/Crc32.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "download/DecodeFs.h"
#include "download/PartLedger.h"

namespace zev {

namespace {

std::string PartLabel(const FPartData& part) { return std::to_string(part.part) + "/" + std::to_string(part.total); }

}  // namespace

TPartJoiner::TFiles TPartJoiner::Scan(const std::string& dir, const std::string& name) {
  TFiles files;
  std::vector<std::string> names;
  if (!fs_.List(dir, names)) throw EDecodeIoError("Cannot read directory", dir, errno);
  for (const std::string& entry : names) {
    FPartFile file;
    if (!ParsePartFileName(entry, name, file.range)) continue;
    file.path = dir + entry;
    bool isDir = false;
    if (fs_.Stat(file.path, file.size, isDir) && !isDir) files.push_back(std::move(file));
  }
  return files;
}

FJoinResult TPartJoiner::Save(const FPartData& part) {
  FJoinResult result;
  TFiles files = Scan(part.dir, part.name);
  if (!AlreadyPresent(part, files, result)) {
    auto prev = std::find_if(files.begin(), files.end(),
                             [&](const FPartFile& f) { return part.part > 1 && f.range.last == part.part - 1; });
    size_t index = files.size();
    if (prev != files.end() && AppendPart(part, *prev)) index = static_cast<size_t>(prev - files.begin());
    if (index == files.size()) index = WriteSingle(part, files);
    result.written = true;
    MergeNeighbours(part, files, index);
  }
  FinishIfComplete(part, files, result);
  return result;
}

bool TPartJoiner::AlreadyPresent(const FPartData& part, TFiles& files, FJoinResult& result) {
  for (auto it = files.begin(); it != files.end(); ++it) {
    if (part.part < it->range.first || part.part > it->range.last) continue;
    if (it->range.first != it->range.last) return true;
    // A part file of its own: kept when it is larger (the new copy is damaged) or the same.
    if (it->size > part.size || SameContent(fs_, it->path, part.data, part.size)) return true;
    files.erase(it);
    return false;
  }
  // The file may be complete already: a part that matches it at its place is a duplicate.
  uint64_t size = 0;
  bool isDir = false;
  const std::string whole = part.dir + part.name;
  if (part.offset && part.fileSize && fs_.Stat(whole, size, isDir) && !isDir && size == *part.fileSize &&
      *part.offset + part.size <= size && RangeMatches(fs_, whole, *part.offset, part.data, part.size)) {
    result.duplicate = true;
    return true;
  }
  return false;
}

size_t TPartJoiner::WriteSingle(const FPartData& part, TFiles& files) {
  const std::string path = part.dir + PartFileName(part.name, {part.part, part.part}, part.total);
  TDecodeFile temp = CreateTempFile(fs_, part.dir, part.name);
  const std::string tempPath = temp.Path();
  try {
    temp.WriteAll(part.data, part.size, 0);
    temp.Close();
    if (fs_.Rename(tempPath, path, true) != 0) throw EDecodeIoError("Cannot rename to", path, errno);
  } catch (...) {
    temp.Close();
    fs_.Unlink(tempPath);
    throw;
  }
  ledger_.Note(path, part.size, part.crc);
  files.push_back({{part.part, part.part}, path, part.size});
  return files.size() - 1;
}

bool TPartJoiner::AppendPart(const FPartData& part, FPartFile& target) {
  const FPartRange range{target.range.first, part.part};
  const std::string path = part.dir + PartFileName(part.name, range, part.total);
  const std::optional<uint32_t> crc = ledger_.Crc(target.path, target.size);
  {
    TDecodeFile file = TDecodeFile::Open(fs_, target.path, O_WRONLY);
    try {
      file.WriteAll(part.data, part.size, target.size);
      RenameOrThrow(target.path, path);
    } catch (const std::exception& e) {
      file.CutBack(target.size);
      LogError(FormatText("Failed to append part %s to end of file \"%s\": %s", PartLabel(part).c_str(),
                          target.path.c_str(), e.what()),
               0);
      return false;
    }
  }
  ledger_.Forget(target.path);
  target = {range, path, target.size + part.size};
  if (crc) ledger_.Note(path, target.size, Crc32Combine(*crc, part.crc, part.size));
  return true;
}

size_t TPartJoiner::MergeNeighbours(const FPartData& part, TFiles& files, size_t index) {
  auto indexOf = [&](const std::string& path) {
    return static_cast<size_t>(
        std::find_if(files.begin(), files.end(), [&](const FPartFile& f) { return f.path == path; }) - files.begin());
  };
  for (;;) {
    FPartFile& x = files[index];
    auto next = std::find_if(files.begin(), files.end(), [&](const FPartFile& f) {
      return f.range.first == x.range.last + 1 && f.size <= x.size;
    });
    if (next != files.end() && JoinInto(part, x, *next)) {
      const std::string keep = x.path;
      files.erase(next);
      index = indexOf(keep);
      continue;
    }
    auto prev = std::find_if(files.begin(), files.end(), [&](const FPartFile& f) {
      return x.range.first > 1 && f.range.last == x.range.first - 1 && x.size <= f.size;
    });
    if (prev != files.end() && JoinInto(part, *prev, x)) {
      const std::string keep = prev->path;
      files.erase(files.begin() + static_cast<std::ptrdiff_t>(index));
      index = indexOf(keep);
      continue;
    }
    return index;
  }
}

bool TPartJoiner::JoinInto(const FPartData& part, FPartFile& target, FPartFile& source) {
  const FPartRange range{target.range.first, source.range.last};
  const std::string path = part.dir + PartFileName(part.name, range, part.total);
  const std::optional<uint32_t> crcT = ledger_.Crc(target.path, target.size);
  const std::optional<uint32_t> crcS = ledger_.Crc(source.path, source.size);
  try {
    TDecodeFile out = TDecodeFile::Open(fs_, target.path, O_WRONLY);
    try {
      TDecodeFile in = TDecodeFile::Open(fs_, source.path, O_RDONLY);
      out.AppendCopy(in, target.size, source.size);
      RenameOrThrow(target.path, path);
    } catch (...) {
      out.CutBack(target.size);
      throw;
    }
  } catch (const std::exception& e) {
    LogError(FormatText("Failed to merge files \"%s\" and \"%s\": %s", target.path.c_str(), source.path.c_str(),
                        e.what()),
             0);
    return false;
  }
  fs_.Unlink(source.path);
  ledger_.Forget(target.path);
  ledger_.Forget(source.path);
  if (crcT && crcS) ledger_.Note(path, target.size + source.size, Crc32Combine(*crcT, *crcS, source.size));
  target = {range, path, target.size + source.size};
  return true;
}

std::optional<uint32_t> TPartJoiner::CombinedCrc(const std::vector<FPartFile>& chain) const {
  uint32_t crc = 0;
  for (const FPartFile& f : chain) {
    const std::optional<uint32_t> piece = ledger_.Crc(f.path, f.size);
    if (!piece) return std::nullopt;
    crc = Crc32Combine(crc, *piece, f.size);
  }
  return crc;
}

void TPartJoiner::FinishIfComplete(const FPartData& part, TFiles& files, FJoinResult& result) {
  std::vector<FPartFile> chain;
  for (uint32_t next = 1; next <= part.total;) {
    const FPartFile* best = nullptr;
    for (const FPartFile& f : files)
      if (f.range.first == next && f.range.last <= part.total && (!best || f.range.last > best->range.last)) best = &f;
    if (!best) return;
    chain.push_back(*best);
    next = best->range.last + 1;
  }
  if (chain.empty()) return;
  result.fileCrc = CombinedCrc(chain);
  FPartFile& base = chain.front();
  uint64_t size = base.size;
  {
    TDecodeFile out = TDecodeFile::Open(fs_, base.path, O_WRONLY);
    const std::string joined = part.dir + PartFileName(part.name, {1, part.total}, part.total);
    try {
      for (size_t i = 1; i < chain.size(); ++i) {
        TDecodeFile in = TDecodeFile::Open(fs_, chain[i].path, O_RDONLY);
        out.AppendCopy(in, size, chain[i].size);
        size += chain[i].size;
      }
      if (base.path != joined) RenameOrThrow(base.path, joined);
    } catch (...) {
      out.CutBack(base.size);
      throw;
    }
    ledger_.Forget(base.path);
    base.path = joined;
  }
  for (size_t i = 1; i < chain.size(); ++i) {
    fs_.Unlink(chain[i].path);
    ledger_.Forget(chain[i].path);
  }
  const std::string whole = part.dir + part.name;
  if (FileCompare(fs_, whole, base.path)) {
    fs_.Unlink(base.path);
    result.duplicate = true;
    result.fileName = part.name;
  } else {
    result.fileName = MakeUniqueName(fs_, part.dir, part.name);
    RenameOrThrow(base.path, part.dir + result.fileName);
  }
  result.complete = true;
  result.fileSize = size;
}

void TPartJoiner::RenameOrThrow(const std::string& from, const std::string& to) {
  if (fs_.Rename(from, to, false) != 0) throw EDecodeIoError("Cannot rename to", to, errno);
}

void TPartJoiner::RenameParts(const std::string& dir, const std::string& oldName, const std::string& newName) {
  if (oldName == newName) return;
  std::vector<std::string> names;
  if (!fs_.List(dir, names)) return;
  FPartRange range;
  for (const std::string& entry : names) {
    if (!ParsePartFileName(entry, oldName, range)) continue;
    const std::string to = dir + newName + entry.substr(oldName.size());
    if (fs_.Rename(dir + entry, to, false) == 0) {
      ledger_.Forget(dir + entry);
    }
  }
}

}  // namespace zev
