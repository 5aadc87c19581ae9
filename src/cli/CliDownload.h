#pragma once
// `zevrin-cli get GROUP PATTERN` and `zevrin-cli run`: queue files and work the queue
// until it is empty, as the window would with the user watching.
//
// get: every file of the group whose subject or file name matches the wildcard PATTERN
//      is marked and queued (its parts that are not downloaded yet).
// run: the articles that are marked but not downloaded in the subscribed groups (an
//      interrupted get, marks made in the window) are queued.
// Both then let the connection manager open connections on the half-second beat of the
// window's timer. Each completed file is printed on standard output as
// "PATH<TAB>SIZE<TAB>CRC32", with "<TAB>damaged" for a joined file that fails its post's
// checks; on a terminal a progress line on standard error shows files, bytes, speed and
// the time left. The run ends when the queue is empty, when what is left can be fetched
// from no server, when no connection can work for a while, or on SIGINT or SIGTERM.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "db/ConnState.h"
#include "db/MsgData.h"
#include "download/Decoder.h"

namespace zev {
class TConnectionPool;
class TEngineParts;
class TGroup;
}  // namespace zev

namespace zev::cli {

class TCliDownload {
 public:
  static constexpr int kTickMs = 500;
  // Ticks without a working connection, or with work no server can take, before giving up.
  static constexpr int kStallTicks = 60;
  static constexpr int kStuckTicks = 6;

  explicit TCliDownload(TEngineParts& engine) : engine_(engine) {}

  // Return the number of files queued.
  size_t QueueMatching(TGroup& group, const std::string& pattern);
  size_t Matched() const { return matched_; }
  size_t QueueMarked();
  // Returns the exit code.
  int Run();

 private:
  struct FFile {
    TGroup* group;
    std::vector<TArticleOffset> parts;  // not downloaded yet
  };

  void Collect(TGroup& group, const std::vector<TArticleOffset>& offsets, bool (*wanted)(const FMsgData&),
               const std::string& pattern, std::vector<FFile>& files);
  size_t Enqueue(const std::vector<FFile>& files);
  static void NoteArticleNumbers(TGroup& group, const std::unordered_set<TArticleOffset>& parts);
  void StartConnections(TConnectionPool& pool);
  bool AnyConnection(TConnStateSet states) const;
  bool AnyServerHasWork() const;
  void PrintCompleted();
  void ShowProgress(bool final);

  TEngineParts& engine_;
  size_t filesQueued_ = 0;
  size_t matched_ = 0;  // files whose subject or name matched, downloaded or not
  std::mutex completedLock_;
  std::vector<FCompletedFile> completed_;
  size_t filesDone_ = 0, filesDamaged_ = 0;
  // Each queued part's file, and the files that completed: once every queued file has,
  // the run is over.
  std::unordered_map<TArticleOffset, size_t> fileOfPart_;
  std::unordered_set<size_t> filesFinished_;
  uint64_t bytesAtStart_ = 0;
  int64_t startMs_ = 0;
  bool terminal_ = false;
  size_t progressWidth_ = 0;
};

}  // namespace zev::cli
