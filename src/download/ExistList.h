#pragma once
// TExistList: the files found to exist for the current run, on disk in the download
// directories or listed in CSV inventories, and the answers built on them: how well an
// article's file matches (Classify), the description of the matches (Report), where the
// file lies (FindOnDisk, ListPaths, NearestCSVInfo).
//
// Entries are matched by file-name key: the record reference of the name in the article
// database's file-name list, so only names that some article carries are ever collected.
//
// "ExistLst.zev" in the data directory, created empty for every run and deleted when the
// list is destroyed, holds one record per entry, appended:
//   u64 LE  file size in bytes
//   u64 LE  file-name key (high half 0)
//   the directory, zero-terminated
//   the CSV inventory's path, zero-terminated (empty for a file on disk)
// Directory and CSV path together are at most 510 bytes (the directory is cut first). In
// memory only the key, the record's position, the source and whether it has a CSV path
// are kept; the texts are read back for the entries of the key asked about.
//
// Threads: every call takes the list's lock for its duration; the background check
// (TFileCheck) adds entries while queries from the windows and the decoder run. Calls
// that read the shared article accessor expect the caller to hold its lock; the list's own
// lock is always taken last.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "db/ExistingFileCheck.h"
#include "db/MsgData.h"
#include "download/FileCheck.h"

namespace zev {

class TArticle;

// What the checks need to know of an article.
struct FExistQuery {
  uint64_t key = 0;       // file-name key; 0 matches nothing
  uint64_t size = 0;      // the recorded file size
  bool exactSize = false; // afExactSize: the size is the real one, not an estimate
  std::string fileName;   // as recorded (cleaned before it is looked for on disk)
  std::string ownDir;     // the article's own download directory, or empty
};

// The size tolerances of the configuration (FCExactSizeDiff, FCNameSizeDiff, in percent)
// and whether files are looked for on disk when no entry matched (Flags bit 9 clear).
struct FExistRules {
  uint32_t exactSizeDiff = 5;
  uint32_t nameSizeDiff = 25;
  bool lookOnDisk = true;
};
// The rules of gConfig, or the defaults without one.
FExistRules CurrentExistRules();

// The directory an inventory line names, on this machine: the line's directory below the
// nearest ancestor of the inventory's own directory where it exists, else below the
// inventory's directory. Lines without a directory give the inventory's directory.
std::string ResolveCsvDirectory(const std::string& csvPath, const std::string& entryDir);

// The legend texts of the match codes (empty for fmNone).
const char* FileMatchLegend(TFileMatch match);

class TExistList : public TExistingFileCheck {
 public:
  // `fileName` is the path of "ExistLst.zev"; it is created empty. `article` is the
  // accessor the current-article calls and Classify(offset) read; null means the shared
  // one (gArticle), which start-up creates after this list.
  TExistList(std::string fileName, TArticle* article);
  // Stops a running check and deletes the file.
  ~TExistList() override;
  TExistList(const TExistList&) = delete;
  TExistList& operator=(const TExistList&) = delete;

  // Drops everything collected, starts the file anew and runs a check on its own thread.
  void StartCheck(FFileCheckSettings settings, std::unique_ptr<TFileNameIndex> names);
  // Asks a running check to end (any thread, also the check's own) ...
  void RequestStop() { stopCheck_ = true; }
  // ... and waits until it has (not from the check's own thread).
  void StopCheck();
  // Waits until a running check has finished by itself.
  void WaitForCheck();
  bool Checking() const { return checking_.load(); }
  // "Checking for files in %s ..." while a check runs, else empty.
  std::string StatusText() const;
  // Called on the check's thread whenever the status text changes.
  void SetStatusListener(std::function<void(const std::string&)> listener);

  // Appends an entry. False (with a log entry) when the file cannot take it.
  bool AddEntry(const std::string& directory, const std::string& csvPath, uint64_t key, uint64_t size,
                TExistSource source);
  size_t Count() const;

  TFileMatch Classify(const FExistQuery& query, const std::string& directory, bool checkDisk);
  std::string Report(const FExistQuery& query, const std::string& directory);
  std::string FindOnDisk(const FExistQuery& query, const std::string& directory);
  // The same for the current article of the shared accessor (its lock held by the caller).
  TFileMatch Classify(const std::string& directory, bool checkDisk);
  std::string Report(const std::string& directory);
  std::string FindOnDisk(const std::string& directory);
  // TExistingFileCheck: the article at `offset`, with the disk looked at unless the
  // configuration skips it.
  TFileMatch Classify(TArticleOffset offset, const std::string& directory) override;

  // Adds the directories of every entry of `key` (CSV entries resolved) that `paths` lacks.
  void ListPaths(uint64_t key, std::vector<std::string>& paths);
  // The description of the scanned-CSV entry of `key` whose size is nearest to `size`.
  std::string NearestCSVInfo(uint64_t key, uint64_t size);
  // The user deleted the file: disk entries of `key` in `directory` stop matching.
  void ForgetFile(const std::string& directory, uint64_t key);

 private:
  struct FEntry {
    uint64_t key;
    uint64_t position;
    TExistSource source;
    bool hasCsv;
  };
  struct FRecord {
    uint64_t size = 0;
    std::string directory, csvPath;
  };
  struct FGraded {
    TFileMatch match;
    uint64_t diff;
    FRecord record;
    bool disk;
  };

  void OpenFresh();
  bool ReadRecord(const FEntry& entry, FRecord& record) const;
  std::vector<FGraded> GradeEntries(const FExistQuery& query, const FExistRules& rules);
  FExistQuery CurrentQuery();
  TArticle* Article() const;
  void RunCheck(FFileCheckSettings settings, std::unique_ptr<TFileNameIndex> names);
  void SetStatus(const std::string& text);

  const std::string fileName_;
  TArticle* article_;

  mutable std::mutex lock_;  // the entries and the file
  int fd_ = -1;
  uint64_t fileEnd_ = 0;
  std::vector<FEntry> entries_;
  std::unordered_map<uint64_t, std::vector<uint32_t>> byKey_;

  std::mutex checkLock_;  // held by a running check for its whole run
  std::thread checkThread_;
  std::atomic<bool> checking_{false};
  std::atomic<bool> stopCheck_{false};
  mutable std::mutex statusLock_;
  std::string status_;
  std::function<void(const std::string&)> statusListener_;
};

extern TExistList* gExistList;

}  // namespace zev
