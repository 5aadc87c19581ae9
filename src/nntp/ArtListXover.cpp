// TArtList: overview data. Each line becomes (or finds) an article record; a new one gets
// its texts, the subject analysis, the part check and the kill and want filters.
#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>

#include "core/Config.h"
#include "core/HeaderDate.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Article.h"
#include "db/Group.h"
#include "db/GroupFileName.h"
#include "db/SGLst.h"
#include "db/Server.h"
#include "download/PartCheck.h"
#include "filters/KillWant.h"
#include "filters/SubjectAnalysis.h"
#include "nntp/ArtListInternal.h"
#include "nntp/HeaderLineParser.h"
#include "nntp/OverviewParser.h"

namespace zev {

namespace {

constexpr uint32_t kMarked = FlagBit(afMarked);
constexpr uint32_t kWanted = FlagBit(afWanted);
constexpr uint32_t kKilled = FlagBit(afKilled);

// Header texts with control characters would upset the lists and every display; they
// are read as blanks.
const std::string& CleanText(std::string_view text, std::string& out) {
  out.assign(text);
  // Without a branch the compiler turns this into vector code: every header passes here.
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    c = u < 0x20 || u == 0x7F ? ' ' : c;
  }
  return out;
}

void InsertSorted(std::vector<TArticleOffset>& list, TArticleOffset offset) {
  auto it = std::lower_bound(list.begin(), list.end(), offset);
  if (it == list.end() || *it != offset) list.insert(it, offset);
}

// One overview line as the connection's thread parsed it.
struct FParsedLine {
  FOverviewLine line;  // number 0: a line to skip
  uint32_t date = 0;   // packed; only for lines inside the requested range
  std::exception_ptr failure;
};

struct FPreparedOverview : FPreparedBlock {
  std::vector<FParsedLine> lines;
};

}  // namespace

std::unique_ptr<FPreparedBlock> TArtList::Prepare(const FResponseBlock& block) {
  uint32_t low = 0, high = 0;
  if (block.code != 224 || !EqualsIgnoreCase(FirstWord(block.command), "xover") ||
      !ParseRequestRange(block.command, low, high))
    return nullptr;
  try {
    auto prepared = std::make_unique<FPreparedOverview>();
    ForEachLine(block.data, [&](std::string_view text) {
      FParsedLine& parsed = prepared->lines.emplace_back();
      try {
        if (ParseOverviewLine(text, parsed.line) && parsed.line.number >= low && parsed.line.number <= high)
          parsed.date = PackFileDate(ParseHeaderDate(parsed.line.date));
      } catch (...) {
        parsed.failure = std::current_exception();
      }
    });
    return prepared;
  } catch (const std::exception&) {
    return nullptr;  // out of memory: the handler parses the block itself
  }
}

void TArtList::HandleXover(TConnectionFace& connection, const FResponseBlock& block) {
  FPass pass(connection, block);
  const std::string group = connection.Slot().Status.Get(TSlotStatus::CurrentGroup);
  if (DumpEnabled()) DumpResponse("HandleXOVER", connection, group, block);
  if (pass.IsFinal()) AskForNextChunkEarly(pass, group);
  {
    SetProgress(connection, "Waiting for DB lock...");
    std::lock_guard header(gHeaderRetrievalLock);
    if (OpenPass(pass, group)) {
      std::lock_guard state(pass.sg->StateLock());
      TMapUse map(*pass.sg);
      SetProgress(connection, "Storing article headers...");
      if (!ParseRequestRange(block.command, pass.low, pass.high) || pass.low > pass.high) {
        LogError(FormatText("Unable to parse request \"%s\" in %s!, Group=\"%s\"", PrintableName(block.command).c_str(),
                            "HandleXOVER", PrintableName(group).c_str()),
                 1);
        // The queue built the command; without a range nothing can be stored, but the
        // connection must still go on.
        pass.follow.finishCurrent = pass.final;
        pass.follow.action = pass.final ? FFollowUp::faNext : FFollowUp::faNothing;
      } else {
        StoreXoverBlock(pass);
      }
    }
  }
  if (pass.askedEarly) {
    pass.follow.finishCurrent = false;  // done before the block was stored
    pass.follow.action = FFollowUp::faNothing;
  }
  RunFollowUp(connection, pass.follow);
}

// With one connection to a server, the storing thread would wait at every chunk of a
// refresh for the next chunk's first lines, as the server starts on a chunk only when
// asked. So the last block of a chunk first finishes the chunk's item and asks for the
// next one, then is stored. Only when the usual follow-up would do just that: no range is
// left to plan and other chunks are still queued. With one connection nobody else can
// answer those meanwhile, so the last chunk still ends the refresh and plans the steps
// after the ranges with its connection. With several, their blocks fill the wait anyway.
void TArtList::AskForNextChunkEarly(FPass& pass, const std::string& group) {
  {
    std::lock_guard header(gHeaderRetrievalLock);
    if (pass.connection.Server().MaxConn.load() != 1) return;
    std::shared_ptr<TSrvGrp> sg = parts_.serverGroups->FindByName(pass.connection.Server(), group, false);
    uint32_t low = 0, high = 0;
    if (!sg || !ParseRequestRange(pass.block.command, low, high) || low > high) return;
    std::lock_guard state(sg->StateLock());
    if (!HasRangesInFlightBeyond(*sg, low, high)) return;
    TQueueKind kind = qkMessageID;
    uint32_t nextLow = low, nextHigh = high;
    if (PlanRanges(*sg, qkMessageID, low, HeaderLimit(*sg), kind, nextLow, nextHigh)) return;
    pass.askedEarly = true;
  }
  FFollowUp early;
  early.finishCurrent = true;
  early.action = FFollowUp::faNext;
  RunFollowUp(pass.connection, early);
}

void TArtList::StoreXoverBlock(FPass& pass) {
  TSrvGrp& sg = *pass.sg;
  sg.RemovePendingRange(pass.low, static_cast<uint32_t>(std::min<uint64_t>(uint64_t{pass.high} - pass.low + 1, UINT32_MAX)));
  if (parts_.filters) parts_.filters->SelectForGroup(pass.groupName, kwOverviewPass);
  pass.expected = pass.StartsResponse() ? int64_t{pass.low} : -1;
  try {
    // A line either comes parsed from the connection's thread or is parsed here, and then
    // goes the same way.
    auto store = [&](const FOverviewLine& line, const uint32_t* date) {
      if (line.number == 0) {
        ++linesSkipped_;
        return;
      }
      if (line.number < pass.low || line.number > pass.high) {
        pass.expected = -1;
        return;
      }
      MarkGap(pass, line.number);
      pass.connection.SetFirstArtNo(line.number);
      ++headersSeen_;
      if (TArticleOffset offset = StoreOverview(pass, line, date); offset >= kFirstArticleOffset)
        pass.stored.push_back(offset);
    };
    auto skipped = [&](const std::exception& e) {
      ++linesSkipped_;
      LogException(e, "HandleXOVER", FormatText(", Group=\"%s\".  Skipping article", PrintableName(pass.groupName).c_str()));
    };
    if (const auto* prepared = dynamic_cast<const FPreparedOverview*>(pass.block.prepared)) {
      for (const FParsedLine& parsed : prepared->lines) {
        try {
          if (parsed.failure) std::rethrow_exception(parsed.failure);
          store(parsed.line, &parsed.date);
        } catch (const std::exception& e) {
          skipped(e);
        }
      }
    } else {
      ForEachLine(pass.block.data, [&](std::string_view text) {
        FOverviewLine line;
        try {
          if (!ParseOverviewLine(text, line)) line.number = 0;
          store(line, nullptr);
        } catch (const std::exception& e) {
          skipped(e);
        }
      });
    }
    for (TArticleOffset offset : pass.stored) Resolve(offset);
  } catch (const std::exception& e) {
    LogException(e, "HandleXOVER", FormatText(", Group=\"%s\"", PrintableName(pass.groupName).c_str()));
  }
  FinalGap(pass);
  CheckpointMap(sg, false);
  for (TMissingHeaders& list : missing_) list.Compact();
  if (!pass.final) return;
  RemoveInFlight(sg, qkMessageID, pass.low, pass.high);
  if (pass.askedEarly) {
    // Only a connection count lowered during the refresh lets another connection answer
    // the last chunks first: the steps after the ranges then wait for the next refresh.
    if (!HasInFlight(sg)) EndRefresh(sg);
    return;
  }
  pass.follow.finishCurrent = true;
  PlanOrEnd(pass.sg, pass.connection, pass.follow, qkMessageID, pass.low, pass.high);
}

TArticleOffset TArtList::StoreOverview(FPass& pass, const FOverviewLine& line, const uint32_t* date) {
  TArticle& article = *parts_.article;
  const uint32_t old = pass.sg->GetEntry(line.number);
  TArticleOffset offset = 0;
  {
    TArticleLock lock(article);
    offset = StoreHeader(pass, line.number, old, line.messageId);
    if (offset < kFirstArticleOffset) return 0;
    FMsgData& r = article.Data();
    article.SetDate(date ? *date : PackFileDate(ParseHeaderDate(line.date)));
    if (HasFlag(r, afMarked) && parts_.queueIndex)
      parts_.queueIndex->SetArtNoByName(pass.connection.Server(), pass.groupName, line.number, offset);
    article.SetLines(OverviewLineCount(line.lines, line.bytes));
    int8_t score = r.FScore;
    std::string chosenDir;
    uint32_t actions = StoreTexts(pass, line.subject, line.author, score, chosenDir);
    if (HasFlag(r, afMultiPart) && !HasFlag(r, afGoodParts) && parts_.partCheck &&
        !parts_.partCheck->CheckItem(offset, true) && !(gConfig && gConfig->Has(cfMarkIncompleteWants)))
      actions &= ~kMarked;
    TakeActions(pass, offset, actions, score, chosenDir);
  }
  if (old != offset) pass.sg->SetEntry(line.number, offset);
  return offset;
}

// Finds or adds the record of the Message-ID and accounts for the map entry it takes
// over. The caller holds the accessor's lock; the record is current afterwards.
TArticleOffset TArtList::StoreHeader(FPass& pass, uint32_t number, uint32_t old, std::string_view messageId) {
  TArticle& article = *parts_.article;
  TArticleOffset offset = 0;
  const bool added = article.New(messageId, offset);
  if (offset < kFirstArticleOffset) {
    LogError("WARNING: Could not add new article to database, skipping.", 0);
    return 0;
  }
  if (old == offset) return offset;
  if (old >= kFirstArticleOffset) MessageIdMismatch(pass, number, old, offset, messageId);
  if (added) {
    ++pass.sg->Group().PendingNew;
    ++headersStored_;
  } else {
    article.AdjustRefCount(1);
  }
  return offset;
}

// The number now names another article than before: the old one loses this pair's
// reference (unless the server only serves articles, where numbers mean nothing).
void TArtList::MessageIdMismatch(FPass& pass, uint32_t number, TArticleOffset old, TArticleOffset offset,
                                 std::string_view messageId) {
  TArticle& article = *parts_.article;
  if (!(gConfig && gConfig->Has(cfWarningsNone))) {
    std::string oldId = article.Read(old) ? article.GetMessageId() : std::string();
    TServer& server = pass.connection.Server();
    LogError(FormatText("Message-ID mismatch! ArticleID %u (on server %s, group %s) previously pointed to <%.5s...>, "
                        "now points to <%s>!",
                        number, PrintableName(server.Name()).c_str(), PrintableName(pass.groupName).c_str(),
                        PrintableName(oldId).c_str(), PrintableName(messageId).c_str()),
             1);
  }
  if (pass.connection.Server().ServerMode != smArticles) article.Expire(old);
  article.Read(offset);
}

// Stores the author and subject of an article that has none yet, with the filters'
// verdict on them. Returns the union of the filters' actions.
uint32_t TArtList::StoreTexts(FPass& pass, std::string_view subject, std::string_view author, int8_t& score,
                              std::string& chosenDir) {
  TArticle& article = *parts_.article;
  FMsgData& r = article.Data();
  uint32_t actions = 0;
  TKillWant* filters = parts_.filters;
  if (r.FAuthor == 0 && !author.empty()) {
    const std::string& text = CleanText(author, pass.texts.author);
    if (filters) actions |= filters->Apply(text, kwAuthor, score, chosenDir);
    article.SetAuthor(text);
  }
  if (r.FSubject == 0 && !subject.empty()) {
    std::string& text = pass.texts.subject;
    std::string& fileName = pass.texts.fileName;
    CleanText(subject.substr(0, 4 * kMaxHeaderText), text);
    fileName.clear();
    if (filters) actions |= filters->Apply(text, kwSubject, score, chosenDir);
    if (parts_.extensions) {
      pass.texts.analyzer.Analyze(r, text, fileName, *parts_.extensions);
      article.MarkDirty();
    } else if (text.size() > kMaxHeaderText) {
      text.resize(kMaxHeaderText);
    }
    article.SetSubject(text);
    if (!fileName.empty()) {
      if (filters) actions |= filters->Apply(fileName, kwFilename, score, chosenDir);
      article.SetFileName(fileName);
    } else {
      article.SetFileNamePointer(0);
    }
  }
  return actions;
}

void TArtList::TakeActions(FPass& pass, TArticleOffset offset, uint32_t actions, int8_t score,
                           const std::string& chosenDir) {
  TArticle& article = *parts_.article;
  const FMsgData& r = article.Data();
  TGroup& group = pass.sg->Group();
  if ((actions & kWanted) && !HasFlag(r, afWanted)) {
    ++group.WantCount;
    std::string dir = chosenDir;
    if (dir.empty() && (actions & kMarked) && !HasFlag(r, afMarked)) {
      dir = group.EffectiveDecodeDir();
      if (group.Has(gfAppendSubject)) dir += article.SubjectDirectory();
    }
    if (!dir.empty()) article.SetDownloadDir(dir);
  }
  if ((actions & kKilled) && !HasFlag(r, afKilled)) ++group.KillCount;
  for (int flag = 0; flag < 32; ++flag)
    if ((actions & ~kMarked) >> flag & 1u) article.Include(flag);
  article.SetScore(score);
  article.Write();
  if (actions & kMarked) InsertSorted(pass.follow.wanted, offset);
}

}  // namespace zev
