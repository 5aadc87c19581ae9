#pragma once
// TArtList: header retrieval. It turns the responses of the queue's header and article
// commands into the article database: it adjusts a server-group's offset map to the range
// a "group" reply reports, plans the header commands a refresh needs next (a one-article
// check for renumbering, an existence check, "xover" ranges newest first, "xhdr" passes
// for missing fields) and hands them to the queue, parses overview and header data, stores
// new headers (record, texts, subject analysis, part check, kill and want filters), marks
// numbers the server no longer has, and hands downloaded bodies to the decoder.
//
// A refresh of one (server, group) pair is a chain of commands on one connection: "group"
// -> optional check -> header ranges -> done, each step planned when the previous command's
// last block is in. The queue may split a range into chunks that several connections
// fetch; the ranges planned and not yet answered are remembered here, so that no range is
// requested twice and the refresh ends exactly once, when the last of them is in.
//
// Threads: every connection's response-handler thread calls in at once. Header work is
// serialised by the header-retrieval lock (gHeaderRetrievalLock), then a server-group's
// StateLock, its map lock, the article accessor's lock. Queue calls are made after these
// are released.
#include <atomic>
#include <chrono>
#include <exception>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/DateTime.h"
#include "db/Map.h"
#include "db/MsgData.h"
#include "download/CommandSource.h"
#include "download/QueueHeaderObserver.h"
#include "download/QueueItem.h"
#include "nntp/MissingHeaders.h"

namespace zev {

class TArticle;
class TBodyDecoder;
class TExtList;
class TGroup;
class TGroupTree;
class TKillWant;
class TNewsStore;
class TPartCheck;
class TQueue;
class TServer;
class TServerTree;
class TSGLst;
class TSrvGrp;
struct FHeaderLine;
struct FOverviewLine;

// The parts of the engine header retrieval works with. Optional ones may be null.
struct FArtListParts {
  TArticle* article = nullptr;        // the shared accessor
  TNewsStore* store = nullptr;
  TSGLst* serverGroups = nullptr;
  TSGLst* queueIndex = nullptr;
  TQueue* queue = nullptr;
  TKillWant* filters = nullptr;       // optional
  TPartCheck* partCheck = nullptr;    // optional
  TBodyDecoder* decoder = nullptr;    // optional: bodies are then only counted
  const TExtList* extensions = nullptr;
};

// Figures for the status line and the tests.
struct FArtListStats {
  uint64_t headersStored = 0;    // new article records
  uint64_t headersSeen = 0;      // overview lines and Message-IDs accepted
  uint64_t linesSkipped = 0;     // malformed lines
  uint64_t refreshesEnded = 0;
  uint64_t bodies = 0;
};

class TArtList : public TResponseTarget, public TQueueHeaderObserver {
 public:
  explicit TArtList(const FArtListParts& parts);
  ~TArtList() override;
  TArtList(const TArtList&) = delete;
  TArtList& operator=(const TArtList&) = delete;

  // Every response block of the queue's header and article commands.
  void HandleResponse(TConnectionFace& connection, const FResponseBlock& block) override;
  // Overview lines are parsed on the connection's thread, beside the storing of the block
  // before.
  std::unique_ptr<FPreparedBlock> Prepare(const FResponseBlock& block) override;
  // The queue gave up on header work it had been handed: claims and bookkeeping go.
  void HeaderCommandFailed(TConnectionFace& connection, TQueueKind kind, const std::string& groupName) override;

  // --- Maintenance, on the user-interface thread ---
  // Drops every article of the pair and its map file when the map file is older than
  // `limit` (now + 1 day: always); the group's counters start again. True when dropped.
  bool ExpirePair(TServer& server, TGroup& group, TDateTime limit);
  // Removes every article of the newsgroups at and below `node` from every news server.
  void RemoveGroupArticles(TGroup& node, const TServerTree& servers);
  // Removes every article of every news server at and below `node`, and their data
  // directories' map files.
  void RemoveServerArticles(TServer& node, const TGroupTree& groups);
  // Queues the articles of `marked` (offset -> non-zero while not yet queued, sorted by
  // offset) that the newsgroups at and below `node` hold on servers in mode Normal.
  void QueueMarkedArticles(TGroup& node, TMap2& marked, const TServerTree& servers);
  // Deletes every map file ("*.zev" but "GrpLst.zev") in every news server's directory.
  static void DeleteOffsetMapFiles(const TServerTree& servers);

  // Start-up and shutdown only, while no connection runs.
  FArtListParts& Parts() { return parts_; }
  // The program ends: refreshes still under way let go of their maps.
  void EndAllRefreshes();

  FArtListStats Stats() const;
  // Whether a refresh of the pair is under way here (tests and the window).
  bool Refreshing(const TSrvGrp& sg) const;

 private:
  struct FItemFacts;
  struct FPass;
  struct FFollowUp;
  struct FInFlight {
    TQueueKind kind;
    uint32_t low, high;
    // An article range of the group (overview or search), as opposed to a later step.
    bool IsRange() const { return kind == qkMessageID || kind == qkXpat; }
  };
  struct FRefresh {
    std::shared_ptr<TSrvGrp> sg;
    bool holdsMap = false;
    std::vector<FInFlight> inFlight;
    std::chrono::steady_clock::time_point mapSaved{};
    std::chrono::steady_clock::duration flushTook{};  // what the last flush and map save took
  };
  enum TMissingKind { mkSubjects, mkAuthors, mkDates, mkSizes, kMissingKinds };

  // Dispatch (ArtList.cpp).
  void Dispatch(TConnectionFace& connection, const FResponseBlock& block);
  void DispatchBody(TConnectionFace& connection, const FResponseBlock& block);
  void DispatchGroup(TConnectionFace& connection, const FResponseBlock& block);
  void DispatchHeader(TConnectionFace& connection, const FResponseBlock& block, std::string_view word);
  void HeaderRefused(TConnectionFace& connection, const FResponseBlock& block, std::string_view word);
  void ValidationRefused(const std::shared_ptr<TSrvGrp>& sg, TConnectionFace& connection, const FItemFacts& item,
                         FFollowUp& follow);
  void AuthenticationFailure(TConnectionFace& connection, const FResponseBlock& block);
  void NoSuchGroup(TConnectionFace& connection, const FResponseBlock& block);
  FItemFacts CurrentItemFacts(TConnectionFace& connection);
  uint32_t ClaimerOf(const TConnectionFace& connection);
  void RunFollowUp(TConnectionFace& connection, FFollowUp& follow);
  void NotSentWhilePaused(TConnectionFace& connection, const FFollowUp& follow, TQueueKind kind, uint32_t low,
                          uint32_t high);

  // Refresh bookkeeping (ArtListRefresh.cpp), under the header-retrieval lock.
  FRefresh& RefreshOf(const std::shared_ptr<TSrvGrp>& sg);
  void HoldMap(const std::shared_ptr<TSrvGrp>& sg);
  void AddInFlight(const std::shared_ptr<TSrvGrp>& sg, TQueueKind kind, uint32_t low, uint32_t high);
  void RemoveInFlight(TSrvGrp& sg, TQueueKind kind, uint32_t low, uint32_t high);
  bool HasInFlight(TSrvGrp& sg) const;
  bool HasRangesInFlight(TSrvGrp& sg) const;
  // Ranges on their way other than (parts outside) low..high.
  bool HasRangesInFlightBeyond(TSrvGrp& sg, uint32_t low, uint32_t high) const;
  void EndRefresh(TSrvGrp& sg);
  // Plans the pair's next command after one of `kind` over low..high finished; without
  // one, the refresh ends when nothing else of it is under way.
  void PlanOrEnd(const std::shared_ptr<TSrvGrp>& sg, TConnectionFace& connection, FFollowUp& follow, TQueueKind kind,
                 uint32_t low, uint32_t high);

  // The "group" reply (ArtListGroup.cpp).
  void HandleGroup(TConnectionFace& connection, const FResponseBlock& block);
  void StartRefresh(TConnectionFace& connection, const std::shared_ptr<TSrvGrp>& sg, uint32_t count, uint32_t first,
                    uint32_t last, FFollowUp& follow);
  static uint32_t CheckNumber(TSrvGrp& sg, uint32_t first, uint32_t last);

  // Planning (ArtListPlan.cpp).
  bool PlanNextCommand(TSrvGrp& sg, TConnectionFace& connection, TQueueKind& kind, uint32_t& low, uint32_t& high);
  bool PlanRanges(TSrvGrp& sg, TQueueKind inKind, uint32_t inLow, uint64_t limit, TQueueKind& kind, uint32_t& low,
                  uint32_t& high);
  bool PlanMissingPass(TSrvGrp& sg, TConnectionFace& connection, TMissingHeaders& list, uint32_t weight,
                       TQueueKind stepKind, TQueueKind inKind, uint32_t inLow, uint64_t limit, uint32_t& low,
                       uint32_t& high);
  static uint64_t HeaderLimit(const TSrvGrp& sg);

  // The frame of the header handlers (ArtListFrame.cpp).
  bool OpenPass(FPass& pass, const std::string& groupName);
  void MarkGone(FPass& pass, uint64_t from, uint64_t to);
  void MarkGap(FPass& pass, uint32_t number);
  void FinalGap(FPass& pass);
  void FlushDatabase();
  void CheckpointMap(TSrvGrp& sg, bool force);
  void Resolve(TArticleOffset offset);

  // Overview data (ArtListXover.cpp).
  void HandleXover(TConnectionFace& connection, const FResponseBlock& block);
  void AskForNextChunkEarly(FPass& pass, const std::string& group);
  void StoreXoverBlock(FPass& pass);
  // `date`: the line's date, packed, when it was parsed already.
  TArticleOffset StoreOverview(FPass& pass, const FOverviewLine& line, const uint32_t* date);
  TArticleOffset StoreHeader(FPass& pass, uint32_t number, uint32_t old, std::string_view messageId);
  void MessageIdMismatch(FPass& pass, uint32_t number, TArticleOffset old, TArticleOffset offset,
                         std::string_view messageId);
  uint32_t StoreTexts(FPass& pass, std::string_view subject, std::string_view author, int8_t& score,
                      std::string& chosenDir);
  void TakeActions(FPass& pass, TArticleOffset offset, uint32_t actions, int8_t score, const std::string& chosenDir);

  // Header data (ArtListXhdr.cpp).
  void HandleXhdr(TConnectionFace& connection, const FResponseBlock& block);
  void StoreXhdrBlock(FPass& pass, int field);
  void StoreXhdrMessageId(FPass& pass, const FHeaderLine& line);
  void StoreXhdrField(FPass& pass, int field, const FHeaderLine& line);
  void HandleValidate(TConnectionFace& connection, const FResponseBlock& block, const FItemFacts& item);
  void FinishValidation(FPass& pass, const FItemFacts& item);
  void HandleListgroup(TConnectionFace& connection, const FResponseBlock& block, const FItemFacts& item);
  void HandleXpat(TConnectionFace& connection, const FResponseBlock& block);

  // Bodies (ArtListBody.cpp).
  void HandleBody(TConnectionFace& connection, const FResponseBlock& block);
  bool AcceptBody(TConnectionFace& connection, const FResponseBlock& block, TArticleOffset offset,
                  std::string& subject);
  TGroup* GroupOfBody(TConnectionFace& connection, TArticleOffset offset);
  void SavingFailed(TConnectionFace& connection, const std::exception& e, TArticleOffset offset, TGroup* group);
  void HandleArticleMissing(TConnectionFace& connection, const FResponseBlock& block);

  FArtListParts parts_;
  TMissingHeaders missing_[kMissingKinds];
  std::unordered_map<const TSrvGrp*, FRefresh> refreshes_;
  std::unordered_map<const TConnectionFace*, uint32_t> claimers_;
  std::unordered_set<const TSrvGrp*> renumbered_;
  uint32_t nextClaimer_ = 1;

  std::atomic<uint64_t> headersStored_{0}, headersSeen_{0}, linesSkipped_{0}, refreshesEnded_{0}, bodies_{0};
};

// Created by start-up before the queue.
extern TArtList* gArtList;

}  // namespace zev
