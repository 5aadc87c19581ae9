#pragma once
// The pieces the source files of TArtList share: the state of one handler call and what
// it leaves for the queue once its locks are released.
#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/SrvGrp.h"
#include "filters/SubjectAnalysis.h"
#include "nntp/ArtList.h"

namespace zev {

// The connection's current queue item, read under the queue's lock.
struct TArtList::FItemFacts {
  bool present = false;
  TQueueKind kind = qkGroup;
  uint32_t flags = 0;
  std::array<uint32_t, 4> data{};
  uint8_t count = 0;
};

// What a handler asks of the queue after it let go of its locks, in this order.
struct TArtList::FFollowUp {
  enum TAction : uint8_t { faNext, faEnqueue, faValidate, faReleaseItem, faNothing };
  bool finishCurrent = false;
  TAction action = faNext;
  TQueueKind kind = qkGroup;
  uint32_t low = 0, high = 0, check = 0;
  TGroup* group = nullptr;
  std::shared_ptr<TSrvGrp> sg;       // for automatic marking
  std::vector<TArticleOffset> wanted;  // sorted, without duplicates
  std::vector<std::pair<TArticleOffset, uint64_t>> sizes;
};

// One handler call over one response block.
struct TArtList::FPass {
  FPass(TConnectionFace& c, const FResponseBlock& b) : connection(c), block(b) {}
  TConnectionFace& connection;
  const FResponseBlock& block;
  std::shared_ptr<TSrvGrp> sg;
  std::string groupName;
  uint32_t low = 0, high = 0;
  int64_t expected = -1;  // the next number expected, -1 unknown
  bool final = false;
  bool askedEarly = false;  // the chunk's follow-up went out before its last block was stored
  uint32_t claimer = 0;
  std::vector<TArticleOffset> stored;
  FFollowUp follow;
  // Texts of the line being stored, kept across the block's lines so that their buffers
  // are allocated once per block instead of once per header.
  struct FTexts {
    std::string author, subject, fileName;
    TSubjectAnalyzer analyzer;
  } texts;

  bool IsFinal() const { return block.type == btLast || block.type == btComplete; }
  bool StartsResponse() const { return block.type == btFirst || block.type == btComplete; }
};

// The command word of a command line ("xover 1-5" gives "xover").
std::string_view FirstWord(std::string_view command);
// Progress texts of the slot.
void SetProgress(TConnectionFace& connection, const char* text);
// With the dump log on: the block as it came, for finding what a server sent.
void DumpResponse(const char* handler, TConnectionFace& connection, const std::string& group,
                  const FResponseBlock& block);

}  // namespace zev
