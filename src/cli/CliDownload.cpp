#include "cli/CliDownload.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "cli/CliArguments.h"
#include "cli/CliCommands.h"
#include "core/ChangeQueue.h"
#include "core/Format.h"
#include "core/TerminationSignal.h"
#include "core/TextUtil.h"
#include "db/Article.h"
#include "db/Group.h"
#include "db/GroupTree.h"
#include "db/SGLst.h"
#include "db/Server.h"
#include "db/ServerTree.h"
#include "download/Decoder.h"
#include "download/Queue.h"
#include "filters/Matcher.h"
#include "nntp/ConnMgr.h"
#include "nntp/ConnectionPool.h"
#include "nntp/EngineParts.h"

namespace zev::cli {

namespace {

// States in which a connection is, or is about to be, at work.
constexpr TConnStateSet kWorking{csConnected, csModeReader, csAuthUser, csAuthPass, csCheckCommands, csNewsgroups,
                                 csDate,      csGroup,      csHeaders,  csArticle,  csReady,         csConnecting};
// At work on a command, not merely connected and waiting for one.
constexpr TConnStateSet kBusy = kWorking.Without(csReady);
// A score below -199 lets the queue take the article's own.
constexpr int kOwnScore = -200;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool NotDownloaded(const FMsgData& d) { return !HasFlag(d, afDownloaded); }
bool MarkedNotDownloaded(const FMsgData& d) { return HasFlag(d, afMarked) && !HasFlag(d, afDownloaded); }

std::string Bytes(uint64_t n) { return FormatSizeKB(n / 1024); }

// Wakes the command's loop from the decoding threads; the loop also wakes on SIGINT and
// SIGTERM.
class TWakePipe {
 public:
  TWakePipe() {
    if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) fds_[0] = fds_[1] = -1;
  }
  ~TWakePipe() {
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  TWakePipe(const TWakePipe&) = delete;
  TWakePipe& operator=(const TWakePipe&) = delete;

  void Raise() {
    const char byte = 1;
    // A full pipe already holds a wake-up.
    if (fds_[1] >= 0 && write(fds_[1], &byte, 1) < 0) return;
  }
  // Blocks until raised, a signal arrives or `timeoutMs` passes; true when a signal asked to stop.
  bool Wait(int timeoutMs) {
    pollfd fds[2] = {{TTerminationSignal::WakeupFd(), POLLIN, 0}, {fds_[0], POLLIN, 0}};
    if (!TTerminationSignal::Requested() && poll(fds, 2, timeoutMs) > 0 && (fds[1].revents & POLLIN)) {
      char buffer[64];
      while (read(fds_[0], buffer, sizeof buffer) > 0) {
      }
    }
    return TTerminationSignal::Requested();
  }

 private:
  int fds_[2] = {-1, -1};
};

}  // namespace

void TCliDownload::Collect(TGroup& group, const std::vector<TArticleOffset>& offsets, bool (*wanted)(const FMsgData&),
                           const std::string& pattern, std::vector<FFile>& files) {
  TMatcher matcher;
  if (!pattern.empty()) matcher.AddPattern(pattern);
  TArticle& article = *engine_.Article();
  TArticleLock lock(article);
  std::unordered_set<TArticleOffset> seen;
  std::vector<TArticleOffset> parts;
  for (TArticleOffset offset : offsets) {
    if (seen.count(offset) || !article.Read(offset)) continue;
    const bool matches = pattern.empty() || matcher.Matches(article.GetSubject()) ||
                         matcher.Matches(article.GetFileName());
    article.PartMap(parts);
    std::erase(parts, TArticleOffset{0});
    if (parts.empty()) parts.push_back(offset);
    FFile file{&group, {}};
    for (TArticleOffset part : parts) {
      if (!seen.insert(part).second || !matches || !article.Read(part)) continue;
      if (wanted(article.Data())) file.parts.push_back(part);
    }
    matched_ += matches;
    if (!file.parts.empty()) files.push_back(std::move(file));
  }
}

size_t TCliDownload::Enqueue(const std::vector<FFile>& files) {
  TQueue& queue = *engine_.Queue();
  TArticle& article = *engine_.Article();
  auto list = queue.LockList();
  for (const FFile& file : files) {
    const size_t id = filesQueued_++;
    for (TArticleOffset part : file.parts) fileOfPart_[part] = id;
    TQueueFileSet* set = queue.FindOrCreateSet(list, file.parts.front());
    for (TArticleOffset part : file.parts) {
      queue.PutBodyCommand(list, file.group, 0, set, kOwnScore, part);
      TArticleLock lock(article);
      if (article.Read(part)) {
        article.Include(afMarked);
        article.Write();
      }
    }
  }
  // The queue files the new items by the servers that carry them when the list is let go:
  // the servers' numbers must be known by then.
  std::unordered_map<TGroup*, std::unordered_set<TArticleOffset>> byGroup;
  for (const FFile& file : files) byGroup[file.group].insert(file.parts.begin(), file.parts.end());
  for (auto& [group, parts] : byGroup) NoteArticleNumbers(*group, parts);
  return files.size();
}

// The queue asks each server for an article by its number there: one pass over each
// server's map of the group, however many files were queued.
void TCliDownload::NoteArticleNumbers(TGroup& group, const std::unordered_set<TArticleOffset>& parts) {
  if (!gServerGroups || !gQueueIndex || parts.empty()) return;
  for (const auto& sg : gServerGroups->EntriesOf(group)) {
    TServer& server = sg->Server();
    // Servers that serve articles only fetch by Message-ID: their "number" is 1.
    if (server.ServerMode == smArticles) {
      for (TArticleOffset offset : parts) gQueueIndex->SetArtNo(server, group, 1, offset);
      continue;
    }
    TMapUse use(*sg);
    const std::vector<uint32_t> map = sg->MapSnapshot();
    for (size_t i = 1; i < map.size(); ++i)
      if (parts.count(map[i])) gQueueIndex->SetArtNo(server, group, static_cast<uint32_t>(map[0] + (i - 1)), map[i]);
  }
}

size_t TCliDownload::QueueMatching(TGroup& group, const std::string& pattern) {
  std::vector<FFile> files;
  Collect(group, GroupArticleOffsets(group), NotDownloaded, pattern, files);
  if (matched_ == 0) Complain("no file of " + group.Name() + " matches " + pattern);
  else if (files.empty()) Complain("every matching file is downloaded already");
  return Enqueue(files);
}

size_t TCliDownload::QueueMarked() {
  std::vector<FFile> files;
  engine_.Groups()->ForEachNode([&](TGroup& group) {
    if (group.IsNewsgroup()) Collect(group, GroupArticleOffsets(group), MarkedNotDownloaded, {}, files);
  });
  return Enqueue(files);
}

int TCliDownload::Run() {
  TQueue& queue = *engine_.Queue();
  TServerTree& servers = *engine_.Servers();
  TDecoder* decoder = engine_.Decoder();
  TWakePipe wake;
  if (decoder)
    decoder->SetCompletionListener([this, &wake](const FCompletedFile& f) {
      {
        std::lock_guard lock(completedLock_);
        completed_.push_back(f);
      }
      wake.Raise();
    });
  TChangeQueue changes;
  gChangeQueue = &changes;
  TConnectionPool pool;
  gConnectionPool = &pool;
  auto manager = std::make_unique<TConnMgr>(servers, pool, &queue);
  gConnMgr = manager.get();
  StartConnections(pool);
  terminal_ = isatty(STDERR_FILENO) == 1;
  bytesAtStart_ = queue.TotalBytes();
  startMs_ = NowMs();
  int code = ecOk, stalled = 0, stuck = 0;
  // The window's half-second beat drives the connections; a completed file wakes the loop
  // in between, so that the end of the work is seen at once.
  for (int64_t nextTick = startMs_;;) {
    const bool tick = NowMs() >= nextTick;
    if (tick) {
      nextTick = NowMs() + kTickMs;
      manager->Kick();
      for (const FChangeNote& note : gChangeQueue->Drain())
        if (note.what == TChange::SurplusSlots)
          servers.ForEachNode([&](TServer& node) {
            if (&node == note.subject && node.IsNewsServer()) servers.AdjustSlots(node);
          });
      servers.TakeRateSamples();
    }
    PrintCompleted();
    if (tick) ShowProgress(false);
    if (queue.BodyCount() == 0 || (filesFinished_.size() == filesQueued_ && !AnyConnection(kBusy))) break;
    if (tick) {
      stalled = AnyConnection(kWorking) ? 0 : stalled + 1;
      // What is left is with no server: every one that had the articles failed them.
      stuck = !AnyConnection(kBusy) && !AnyServerHasWork() ? stuck + 1 : 0;
      if (stuck > kStuckTicks || stalled > kStallTicks) {
        code = ecServer;
        break;
      }
    }
    if (wake.Wait(static_cast<int>(std::max<int64_t>(nextTick - NowMs(), 0)))) {
      code = ecInterrupted;
      break;
    }
  }
  gConnMgr = nullptr;
  manager.reset();
  for (const auto& root : servers.Roots()) pool.StopSlots(*root, false, true);
  if (!pool.WaitAllEnded(std::chrono::seconds(30))) pool.TerminateAll(true);
  pool.WaitAllEnded(std::chrono::seconds(30));
  gConnectionPool = nullptr;
  gChangeQueue = nullptr;
  if (decoder) decoder->SetCompletionListener({});
  PrintCompleted();
  ShowProgress(true);
  if (code == ecServer)
    Complain(FormatText("%d article(s) could not be fetched from any server", queue.BodyCount()));
  if (code == ecInterrupted) Complain("interrupted; `zevrin-cli run` goes on where this stopped");
  if (code == ecOk && filesDamaged_ > 0) code = ecFailure;
  return code;
}

// The connection manager opens one connection per beat, as suits a window that is open for
// hours; a command-line run wants every connection its servers allow from the start. A
// slot is opened while the queue has more work for its server than the connections opened
// so far will take.
void TCliDownload::StartConnections(TConnectionPool& pool) {
  TQueue& queue = *engine_.Queue();
  std::vector<TServer*> slots;
  engine_.Servers()->ForEachNode([&](TServer& node) {
    if (node.IsSlot() && node.State() == csIdle) slots.push_back(&node);
  });
  int32_t budget = queue.BodyCount();
  for (TServer* slot : slots)
    if (budget > 0 && queue.WorkAvailable(*slot)) budget -= pool.StartSlot(*slot, true, 1);
}

bool TCliDownload::AnyConnection(TConnStateSet states) const {
  bool any = false;
  engine_.Servers()->ForEachNode([&](TServer& node) { any |= node.IsSlot() && states.Contains(node.State()); });
  return any;
}

bool TCliDownload::AnyServerHasWork() const {
  bool work = false;
  engine_.Servers()->ForEachNode([&](TServer& node) {
    if (!work && node.IsSlot()) work = engine_.Queue()->WorkAvailable(node);
  });
  return work;
}

void TCliDownload::PrintCompleted() {
  std::vector<FCompletedFile> done;
  {
    std::lock_guard lock(completedLock_);
    done.swap(completed_);
  }
  for (const FCompletedFile& f : done) {
    if (terminal_ && progressWidth_ > 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(progressWidth_), "");
    std::printf("%s%s\t%llu\t%08X%s\n", f.dir.c_str(), f.name.c_str(), static_cast<unsigned long long>(f.size), f.crc,
                f.damaged ? "\tdamaged" : "");
    ++filesDone_;
    filesDamaged_ += f.damaged;
    if (auto it = fileOfPart_.find(f.offset); it != fileOfPart_.end()) filesFinished_.insert(it->second);
  }
  if (!done.empty()) std::fflush(stdout);
}

void TCliDownload::ShowProgress(bool final) {
  if (!terminal_) return;
  const uint64_t left = engine_.Queue()->TotalBytes();
  const uint64_t done = bytesAtStart_ > left ? bytesAtStart_ - left : 0;
  const double seconds = std::max<int64_t>(NowMs() - startMs_, 1) / 1000.0;
  const double rate = done / seconds;
  const std::string eta = rate > 0 && left > 0 ? FormatTimeSpan(static_cast<int64_t>(left / rate)) : "-";
  std::string text = FormatText("%zu/%zu files, %s of %s, %s/s, %s left", filesDone_, filesQueued_, Bytes(done).c_str(),
                                Bytes(bytesAtStart_).c_str(), Bytes(static_cast<uint64_t>(rate)).c_str(), eta.c_str());
  const size_t width = text.size();
  if (width < progressWidth_) text.append(progressWidth_ - width, ' ');
  progressWidth_ = width;
  std::fprintf(stderr, "\r%s%s", text.c_str(), final ? "\n" : "");
  std::fflush(stderr);
}

}  // namespace zev::cli
