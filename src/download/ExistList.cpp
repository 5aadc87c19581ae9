#include "download/ExistList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/Config.h"
#include "core/Format.h"
#include "core/TextUtil.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/SanitizeName.h"
#include "db/Article.h"
#include "platform/Paths.h"
#include "platform/ThreadName.h"

namespace zev {

TExistList* gExistList = nullptr;

namespace {

// Directory and CSV path of one record together.
constexpr size_t kMaxRecordText = 510;
constexpr size_t kRecordHead = 16;

void Store64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint64_t Load64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

TFileMatch ExactOf(TFileMatch base) {
  return base == fmDiskName ? fmDiskExact : base == fmCSVName ? fmCSVExact : base;
}

// The size rule: how well a file of `found` bytes matches an article of `query.size`.
// `bestDiff` is the difference of the best match so far; a worse difference loses at once.
TFileMatch Grade(TFileMatch base, const FExistQuery& query, uint64_t found, uint64_t bestDiff,
                 const FExistRules& rules, uint64_t& diff) {
  const uint64_t a = query.size;
  diff = a > found ? a - found : found - a;
  if (query.exactSize) return found <= UINT32_MAX && found == a ? ExactOf(base) : fmNone;
  if (diff > bestDiff) return fmNone;
  const unsigned __int128 larger = std::max(a, found);
  if (diff <= larger * rules.exactSizeDiff / 100) return ExactOf(base);
  if (diff <= larger * rules.nameSizeDiff / 100) return base;
  return fmNone;
}

bool FileSizeAt(const std::string& path, uint64_t& size) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

// The article's file in `dir`, looked for directly.
TFileMatch LookOnDisk(const FExistQuery& query, const std::string& dir, const FExistRules& rules, uint64_t& size) {
  if (dir.empty() || query.fileName.empty()) return fmNone;
  const std::string path = platform::WithSlash(dir) + SanitizeName(query.fileName, false);
  if (!FileSizeAt(path, size)) return fmNone;
  uint64_t diff = 0;
  return Grade(fmDiskName, query, size, UINT64_MAX, rules, diff);
}

std::string Describe(bool disk, uint64_t size, const std::string& dir, const std::string& csv) {
  const std::string bytes = FormatThousands(size);
  if (disk) return FormatText(Tr("Disk match in %s, %s bytes."), dir.c_str(), bytes.c_str());
  return FormatText(Tr("CSV match in \"%s\", %s, %s bytes."), csv.c_str(), dir.c_str(), bytes.c_str());
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string ResolveCsvDirectory(const std::string& csvPath, const std::string& entryDir) {
  const size_t slash = csvPath.rfind('/');
  const std::string csvDir = slash == std::string::npos ? std::string("./") : csvPath.substr(0, slash + 1);
  std::string rel = entryDir;
  std::replace(rel.begin(), rel.end(), '\\', '/');
  while (!rel.empty() && rel.front() == '/') rel.erase(0, 1);
  if (rel.empty()) return csvDir;
  // An inventory written on removable media names directories from the medium's root,
  // wherever it is mounted now: the nearest ancestor of the list where they exist wins.
  for (std::string base = csvDir; !base.empty();) {
    if (IsDirectory(base + rel)) return platform::WithSlash(base + rel);
    if (base == "/") break;
    const size_t up = base.rfind('/', base.size() - 2);
    base = up == std::string::npos ? std::string() : base.substr(0, up + 1);
  }
  return platform::WithSlash(csvDir + rel);
}

FExistRules CurrentExistRules() {
  FExistRules rules;
  if (!gConfig) return rules;
  rules.exactSizeDiff = gConfig->FCExactSizeDiff;
  rules.nameSizeDiff = gConfig->FCNameSizeDiff;
  rules.lookOnDisk = !gConfig->Has(cfSkipFileCheck);
  return rules;
}

const char* FileMatchLegend(TFileMatch match) {
  switch (match) {
    case fmCSVInfo: return Tr("Filename was found in a CSV file");
    case fmCSVName: return Tr("Name match with an existing file (in a CSV file)");
    case fmDiskName: return Tr("Name match with an existing file (on disk)");
    case fmCSVExact: return Tr("Exact match with an existing file (in a CSV file)");
    case fmDiskExact: return Tr("Exact match with an existing file (on disk)");
    case fmNone: break;
  }
  return "";
}

TExistList::TExistList(std::string fileName, TArticle* article) : fileName_(std::move(fileName)), article_(article) {
  std::lock_guard lock(lock_);
  OpenFresh();
}

TExistList::~TExistList() {
  StopCheck();
  std::lock_guard lock(lock_);
  if (fd_ >= 0) ::close(fd_);
  ::unlink(fileName_.c_str());
}

void TExistList::OpenFresh() {
  if (fd_ >= 0) ::close(fd_);
  entries_.clear();
  entries_.reserve(1024);
  byKey_.clear();
  fileEnd_ = 0;
  fd_ = ::open(fileName_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd_ < 0) LogError(FormatText("Cannot create \"%s\": %s", fileName_.c_str(), std::strerror(errno)), 1);
}

bool TExistList::AddEntry(const std::string& directory, const std::string& csvPath, uint64_t key, uint64_t size,
                          TExistSource source) {
  std::string csv = csvPath.substr(0, kMaxRecordText);
  std::string dir = directory.substr(0, kMaxRecordText - csv.size());
  std::string record(kRecordHead, '\0');
  Store64(reinterpret_cast<uint8_t*>(record.data()), size);
  Store64(reinterpret_cast<uint8_t*>(record.data()) + 8, key);
  record.append(dir.c_str()).push_back('\0');
  record.append(csv.c_str()).push_back('\0');
  std::lock_guard lock(lock_);
  if (fd_ < 0) return false;
  if (::pwrite(fd_, record.data(), record.size(), static_cast<off_t>(fileEnd_)) != static_cast<ssize_t>(record.size())) {
    LogError(FormatText("Cannot write \"%s\": %s", fileName_.c_str(), std::strerror(errno)), 1);
    return false;
  }
  byKey_[key].push_back(static_cast<uint32_t>(entries_.size()));
  entries_.push_back({key, fileEnd_, source, !csv.empty()});
  fileEnd_ += record.size();
  return true;
}

size_t TExistList::Count() const {
  std::lock_guard lock(lock_);
  return entries_.size();
}

bool TExistList::ReadRecord(const FEntry& entry, FRecord& record) const {
  uint8_t buffer[kRecordHead + kMaxRecordText + 2];
  const ssize_t got = ::pread(fd_, buffer, sizeof buffer, static_cast<off_t>(entry.position));
  if (got < static_cast<ssize_t>(kRecordHead + 2)) return false;
  record.size = Load64(buffer);
  const char* text = reinterpret_cast<const char*>(buffer + kRecordHead);
  const size_t room = static_cast<size_t>(got) - kRecordHead;
  const size_t dirLen = strnlen(text, room);
  record.directory.assign(text, dirLen);
  record.csvPath = dirLen < room ? std::string(text + dirLen + 1, strnlen(text + dirLen + 1, room - dirLen - 1)) : "";
  return true;
}

std::vector<TExistList::FGraded> TExistList::GradeEntries(const FExistQuery& query, const FExistRules& rules) {
  std::vector<FGraded> graded;
  if (query.key == 0 || fd_ < 0) return graded;
  auto it = byKey_.find(query.key);
  if (it == byKey_.end()) return graded;
  uint64_t bestDiff = UINT64_MAX;
  TFileMatch best = fmNone;
  for (uint32_t i : it->second) {
    const FEntry& e = entries_[i];
    FRecord record;
    if (!ReadRecord(e, record)) continue;
    const bool disk = !e.hasCsv;
    const TFileMatch base = disk ? fmDiskName : e.source == esFound ? fmCSVName : fmCSVInfo;
    uint64_t diff = 0;
    const TFileMatch match = Grade(base, query, record.size, bestDiff, rules, diff);
    if (match == fmNone) continue;
    if (match > best || (match == best && diff < bestDiff)) {
      best = match;
      bestDiff = diff;
    }
    graded.push_back({match, diff, std::move(record), disk});
  }
  // Best first: highest code, then the smallest difference.
  std::stable_sort(graded.begin(), graded.end(), [](const FGraded& a, const FGraded& b) {
    return a.match != b.match ? a.match > b.match : a.diff < b.diff;
  });
  return graded;
}

TFileMatch TExistList::Classify(const FExistQuery& query, const std::string& directory, bool checkDisk) {
  if (query.key == 0) return fmNone;
  const FExistRules rules = CurrentExistRules();
  {
    std::lock_guard lock(lock_);
    std::vector<FGraded> graded = GradeEntries(query, rules);
    if (!graded.empty()) return graded.front().match;
  }
  if (!checkDisk) return fmNone;
  uint64_t size = 0;
  TFileMatch match = LookOnDisk(query, directory, rules, size);
  if (match == fmNone && !query.ownDir.empty() && query.ownDir != directory)
    match = LookOnDisk(query, query.ownDir, rules, size);
  return match;
}

std::string TExistList::Report(const FExistQuery& query, const std::string& directory) {
  const FExistRules rules = CurrentExistRules();
  std::vector<FGraded> graded;
  {
    std::lock_guard lock(lock_);
    graded = GradeEntries(query, rules);
  }
  std::string text;
  for (size_t i = 0; i < graded.size(); ++i) {
    if (i == 1) text += "\r\n" + std::string(Tr("Other possible matches:"));
    if (i > 0) text += "\r\n";
    const FGraded& g = graded[i];
    text += Describe(g.disk, g.record.size, g.record.directory, g.record.csvPath);
  }
  if (!graded.empty() || !rules.lookOnDisk || query.key == 0) return text;
  for (int i = 0; i < 2; ++i) {
    const std::string& dir = i == 0 ? directory : query.ownDir;
    if (dir.empty() || (i == 1 && dir == directory)) continue;
    uint64_t size = 0;
    if (LookOnDisk(query, dir, rules, size) == fmNone) continue;
    if (!text.empty()) text += "\r\n";
    text += Describe(true, size, platform::WithSlash(dir), {});
  }
  return text;
}

std::string TExistList::FindOnDisk(const FExistQuery& query, const std::string& directory) {
  const FExistRules rules = CurrentExistRules();
  {
    std::lock_guard lock(lock_);
    auto it = query.key ? byKey_.find(query.key) : byKey_.end();
    std::string nearest;
    uint64_t nearestDiff = UINT64_MAX;
    if (it != byKey_.end() && fd_ >= 0)
      for (uint32_t i : it->second) {
        FRecord record;
        if (entries_[i].hasCsv || !ReadRecord(entries_[i], record)) continue;
        const uint64_t diff = record.size > query.size ? record.size - query.size : query.size - record.size;
        if (diff < nearestDiff) {
          nearestDiff = diff;
          nearest = record.directory;
        }
      }
    if (!nearest.empty()) return nearest;
  }
  if (!rules.lookOnDisk || query.fileName.empty()) return {};
  const std::string name = SanitizeName(query.fileName, false);
  uint64_t size = 0;
  for (const std::string& dir : {directory, query.ownDir})
    if (!dir.empty() && FileSizeAt(platform::WithSlash(dir) + name, size)) return platform::WithSlash(dir);
  return {};
}

TArticle* TExistList::Article() const { return article_ ? article_ : gArticle; }

FExistQuery TExistList::CurrentQuery() {
  FExistQuery q;
  TArticle* article = Article();
  if (!article || article->Offset() == 0) return q;
  const FMsgData& d = article->Data();
  q.key = d.FFileName;
  q.size = d.FFileSize;
  q.exactSize = HasFlag(d, afExactSize);
  q.fileName = article->GetFileName();
  q.ownDir = article->GetDownloadDir();
  return q;
}

TFileMatch TExistList::Classify(const std::string& directory, bool checkDisk) {
  return Classify(CurrentQuery(), directory, checkDisk);
}

std::string TExistList::Report(const std::string& directory) { return Report(CurrentQuery(), directory); }

std::string TExistList::FindOnDisk(const std::string& directory) { return FindOnDisk(CurrentQuery(), directory); }

TFileMatch TExistList::Classify(TArticleOffset offset, const std::string& directory) {
  TArticle* article = Article();
  if (!article) return fmNone;
  FExistQuery query;
  {
    TArticleLock lock(*article);
    if (!article->Read(offset)) return fmNone;
    query = CurrentQuery();
  }
  return Classify(query, directory, CurrentExistRules().lookOnDisk);
}

void TExistList::ListPaths(uint64_t key, std::vector<std::string>& paths) {
  std::lock_guard lock(lock_);
  auto it = byKey_.find(key);
  if (it == byKey_.end() || fd_ < 0) return;
  for (uint32_t i : it->second) {
    FRecord record;
    if (!ReadRecord(entries_[i], record)) continue;
    std::string path =
        entries_[i].hasCsv ? ResolveCsvDirectory(record.csvPath, record.directory) : record.directory;
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(std::move(path));
  }
}

std::string TExistList::NearestCSVInfo(uint64_t key, uint64_t size) {
  std::lock_guard lock(lock_);
  auto it = byKey_.find(key);
  if (it == byKey_.end() || fd_ < 0) return {};
  std::string text;
  uint64_t nearestDiff = UINT64_MAX;
  for (uint32_t i : it->second) {
    FRecord record;
    if (entries_[i].source != esScanCsv || !ReadRecord(entries_[i], record)) continue;
    const uint64_t diff = record.size > size ? record.size - size : size - record.size;
    if (diff >= nearestDiff) continue;
    nearestDiff = diff;
    text = Describe(false, record.size, record.directory, record.csvPath);
  }
  return text;
}

void TExistList::ForgetFile(const std::string& directory, uint64_t key) {
  std::lock_guard lock(lock_);
  auto it = byKey_.find(key);
  if (it == byKey_.end() || fd_ < 0) return;
  const std::string wanted = platform::WithSlash(directory);
  std::erase_if(it->second, [&](uint32_t i) {
    FRecord record;
    if (entries_[i].hasCsv || !ReadRecord(entries_[i], record) || platform::WithSlash(record.directory) != wanted)
      return false;
    entries_[i].key = 0;
    return true;
  });
  if (it->second.empty()) byKey_.erase(it);
}

void TExistList::StartCheck(FFileCheckSettings settings, std::unique_ptr<TFileNameIndex> names) {
  StopCheck();
  {
    std::lock_guard lock(lock_);
    OpenFresh();
  }
  stopCheck_ = false;
  checking_ = true;
  checkThread_ = std::thread(&TExistList::RunCheck, this, std::move(settings), std::move(names));
}

void TExistList::StopCheck() {
  RequestStop();
  WaitForCheck();
}

void TExistList::WaitForCheck() {
  if (checkThread_.joinable()) checkThread_.join();
}

void TExistList::RunCheck(FFileCheckSettings settings, std::unique_ptr<TFileNameIndex> names) {
  platform::NameThisThread("zev-existcheck");
  std::lock_guard runLock(checkLock_);
  try {
    SetStatus(Tr("Precaching file names..."));
    names->Prepare(stopCheck_);
    FFileCheckSink sink;
    sink.add = [this](const std::string& dir, const std::string& csv, uint64_t key, uint64_t size,
                      TExistSource source) { AddEntry(dir, csv, key, size, source); };
    sink.status = [this](const std::string& text) { SetStatus(text); };
    TFileCheck(std::move(settings), *names, std::move(sink), stopCheck_).Run();
  } catch (const std::exception& e) {
    LogException(e, "FileCheck", " StackTrace:");
  }
  SetStatus({});
  checking_ = false;
}

void TExistList::SetStatus(const std::string& text) {
  std::function<void(const std::string&)> listener;
  {
    std::lock_guard lock(statusLock_);
    status_ = text;
    listener = statusListener_;
  }
  if (listener) listener(text);
}

std::string TExistList::StatusText() const {
  std::lock_guard lock(statusLock_);
  return status_;
}

void TExistList::SetStatusListener(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(statusLock_);
  statusListener_ = std::move(listener);
}

}  // namespace zev
