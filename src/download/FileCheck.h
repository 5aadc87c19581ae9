#pragma once
// TFileCheck: one run of the existing-file check. It reads the configured CSV inventories
// and scans the directories, and hands every file whose name some article carries to the
// existing-file list (TExistList runs it on its own thread).
//
// Order of a run: the "already downloaded" inventories (FCCSV), the directories (with the
// CSV files met in them), the want inventories (WCSV), the kill inventories (KCSV). An
// error in one item is logged and the run goes on with the next. The run ends early when
// asked to stop.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

class TBTree;
class TConfig;
class TGroupTree;

// Where an entry came from.
enum TExistSource : uint8_t {
  esFound = 0,     // a file on disk, or a line of an "already downloaded" (FCCSV) inventory
  esWantCsv = 1,   // a line of a want inventory (WCSV)
  esKillCsv = 2,   // a line of a kill inventory (KCSV)
  esScanCsv = 3,   // a line of a CSV file met while scanning the directories
};

// Answers whether a file name is one the article database knows, and its key.
class TFileNameIndex {
 public:
  virtual ~TFileNameIndex() = default;
  // Runs first on the check's thread; may take long and should end early on `stop`.
  virtual void Prepare(const std::atomic<bool>& /*stop*/) {}
  virtual bool Empty() = 0;
  virtual bool Find(std::string_view name, uint64_t& key) = 0;
};

// The names of the file-name list, read in key order into one buffer of at most `budget`
// bytes; names beyond it are looked up in the list itself. Built on the check's thread,
// so the windows never wait for it.
class TFileNameCache : public TFileNameIndex {
 public:
  TFileNameCache(TBTree& fileList, size_t budget);
  // Reads the names ("Precaching file names...").
  void Prepare(const std::atomic<bool>& stop) override;
  bool Empty() override;
  bool Find(std::string_view name, uint64_t& key) override;

 private:
  TBTree& list_;
  size_t budget_;
  std::string text_;
  std::vector<std::pair<uint64_t, std::pair<uint32_t, uint32_t>>> index_;  // key, (start, length)
  bool complete_ = false;
  bool loaded_ = false;
};

struct FFileCheckSettings {
  std::vector<std::string> scanDirs;       // each with a trailing "/"
  std::vector<std::string> foundCsv;       // FCCSV patterns
  std::vector<std::string> wantCsv;        // WCSV patterns
  std::vector<std::string> killCsv;        // KCSV patterns
};

// Adds `dir` to the scan list unless a listed directory already contains it; listed
// directories inside it make way for it.
void AddScanDir(std::vector<std::string>& dirs, std::string dir);
// The configuration's ExtraDirs, the download directory of every newsgroup when Flags
// bit 0 is set, and the three inventory pattern lists.
FFileCheckSettings FileCheckSettingsFrom(const TConfig& config, const TGroupTree* groups);

// Where a run puts what it finds.
struct FFileCheckSink {
  std::function<void(const std::string& dir, const std::string& csv, uint64_t key, uint64_t size, TExistSource source)>
      add;
  std::function<void(const std::string& status)> status;
};

class TFileCheck {
 public:
  // Directories deeper than this below a scan directory are not entered: a loop of bind
  // mounts must not keep a run going.
  static constexpr int kMaxDepth = 64;

  TFileCheck(FFileCheckSettings settings, TFileNameIndex& names, FFileCheckSink sink,
             const std::atomic<bool>& stop);
  void Run();

  // One inventory file: every line whose name is known becomes an entry of `source`.
  void ReadCsv(const std::string& path, TExistSource source);
  // One directory and everything below it.
  void ScanDirectory(const std::string& dir, int depth);

 private:
  void ReadPatterns(const std::vector<std::string>& patterns, TExistSource source, const char* location);

  FFileCheckSettings settings_;
  TFileNameIndex& names_;
  FFileCheckSink sink_;
  const std::atomic<bool>& stop_;
};

}  // namespace zev
