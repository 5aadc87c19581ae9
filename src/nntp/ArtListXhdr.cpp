// TArtList: header data of servers without overview ("xhdr" passes), the one-article
// renumbering check, the existence check ("listgroup") and the pattern search ("xpat").
#include <algorithm>
#include <mutex>

#include "core/Config.h"
#include "core/DateTime.h"
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

enum TXhdrField { xfMessageId, xfSubject, xfBytes, xfLines, xfFrom, xfDate, kXhdrFields };
constexpr const char* kHeaderNames[kXhdrFields] = {"Message-ID", "Subject", "Bytes", "Lines", "From", "Date"};
constexpr const char* kPlaces[kXhdrFields] = {"XHDR|Message-ID", "XHDR|Subject", "XHDR|Size",
                                              "XHDR|Size",       "XHDR|Author",  "XHDR|Date"};
constexpr const char* kProgress[kXhdrFields] = {"Storing article headers...", "Updating article subjects...",
                                                "Updating article sizes...",  "Updating article sizes...",
                                                "Updating article authors...", "Updating article dates..."};
constexpr TQueueKind kKinds[kXhdrFields] = {qkMessageID, qkSubject, qkSize, qkSize, qkAuthor, qkDate};

int FieldOfCommand(std::string_view command) {
  for (int f = 0; f < kXhdrFields; ++f) {
    const size_t at = command.find(kHeaderNames[f]);
    if (at != std::string_view::npos && at >= 2) return f;
  }
  return -1;
}

uint32_t LeadingNumber(std::string_view text) {
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    v = std::min<uint64_t>(v * 10 + (c - '0'), UINT32_MAX);
  }
  return static_cast<uint32_t>(v);
}

}  // namespace

void TArtList::HandleXhdr(TConnectionFace& connection, const FResponseBlock& block) {
  FPass pass(connection, block);
  const std::string group = connection.Slot().Status.Get(TSlotStatus::CurrentGroup);
  if (DumpEnabled()) DumpResponse("HandleXHDR", connection, group, block);
  const int field = FieldOfCommand(block.command);
  {
    SetProgress(connection, "Waiting for DB lock...");
    std::lock_guard header(gHeaderRetrievalLock);
    if (field < 0) {
      LogError(FormatText("Unexpected request \"%s\" in HandleXHDR!", PrintableName(block.command).c_str()), 1);
      pass.final = pass.IsFinal();
      pass.follow.finishCurrent = pass.final;
      pass.follow.action = pass.final ? FFollowUp::faNext : FFollowUp::faNothing;
    } else if (OpenPass(pass, group)) {
      std::lock_guard state(pass.sg->StateLock());
      TMapUse map(*pass.sg);
      SetProgress(connection, kProgress[field]);
      if (!ParseRequestRange(block.command, pass.low, pass.high) || pass.low > pass.high) {
        LogError(FormatText("Unable to parse request \"%s\" in %s!", PrintableName(block.command).c_str(), "HandleXHDR"),
                 1);
        pass.follow.finishCurrent = pass.final;
        pass.follow.action = pass.final ? FFollowUp::faNext : FFollowUp::faNothing;
      } else {
        StoreXhdrBlock(pass, field);
      }
    }
  }
  RunFollowUp(connection, pass.follow);
}

void TArtList::StoreXhdrBlock(FPass& pass, int field) {
  TSrvGrp& sg = *pass.sg;
  if (field == xfMessageId) sg.RemovePendingRange(pass.low, static_cast<uint32_t>(std::min<uint64_t>(
                                                                uint64_t{pass.high} - pass.low + 1, UINT32_MAX)));
  if (parts_.filters && field == xfSubject) parts_.filters->SelectForGroup(pass.groupName, kwSubjectPass);
  if (parts_.filters && field == xfFrom) parts_.filters->SelectForGroup(pass.groupName, kwAuthorPass);
  FHeaderLineContext context{kPlaces[field], pass.connection.Server().Name(), pass.groupName};
  const uint32_t first = sg.FirstArtNo(), last = sg.LastArtNo();
  pass.expected = pass.StartsResponse() ? int64_t{pass.low} : -1;
  ForEachLine(pass.block.data, [&](std::string_view text) {
    FHeaderLine line;
    if (!ParseHeaderLine(text, context, line)) {
      ++linesSkipped_;
      return;
    }
    if (line.number < first || line.number > last) {
      pass.expected = -1;
      return;
    }
    MarkGap(pass, line.number);
    try {
      if (field == xfMessageId) StoreXhdrMessageId(pass, line);
      else StoreXhdrField(pass, field, line);
    } catch (const std::exception& e) {
      ++linesSkipped_;
      LogException(e, "HandleXHDR", FormatText(", Group=\"%s\".  Skipping article", PrintableName(pass.groupName).c_str()));
    }
  });
  FinalGap(pass);
  CheckpointMap(sg, false);
  const TMissingKind list = field == xfSubject ? mkSubjects : field == xfFrom ? mkAuthors
                            : field == xfDate  ? mkDates    : mkSizes;
  missing_[list].Compact();
  std::sort(pass.follow.sizes.begin(), pass.follow.sizes.end());
  if (!pass.final) return;
  if (field == xfLines && sg.Server().Has(sfXHDRLines)) {
    sg.Validated = true;
    sg.ValidationQueued = false;
  }
  pass.follow.finishCurrent = true;
  RemoveInFlight(sg, kKinds[field], pass.low, pass.high);
  PlanOrEnd(pass.sg, pass.connection, pass.follow, kKinds[field], pass.low, pass.high);
}

void TArtList::StoreXhdrMessageId(FPass& pass, const FHeaderLine& line) {
  bool bracketed = false;
  std::string_view id = MessageIdOfValue(line.value, bracketed);
  if (id.size() > kMaxHeaderText) id = id.substr(0, kMaxHeaderText);
  const bool usable = bracketed && id.size() >= 8 &&
                      std::none_of(id.begin(), id.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
  if (!usable) {
    if (line.value.find("(none)") == std::string_view::npos) {
      LogError(FormatText("%s parse problem! Invalid MsgID \"%s\" for ArtID=%u\"! Server=\"%s\", Group=\"%s\". "
                          "Skipping this header.",
                          "XHDR|Message-ID", PrintableName(line.value).c_str(), line.number,
                          PrintableName(pass.connection.Server().Name()).c_str(), PrintableName(pass.groupName).c_str()),
               1);
      pass.expected = -1;
    }
    return;
  }
  TArticle& article = *parts_.article;
  const uint32_t old = pass.sg->GetEntry(line.number);
  TArticleOffset offset = 0;
  {
    TArticleLock lock(article);
    offset = StoreHeader(pass, line.number, old, id);
    if (offset < kFirstArticleOffset) return;
    ++headersSeen_;
    const FMsgData& r = article.Data();
    if (HasFlag(r, afMarked) && parts_.queueIndex)
      parts_.queueIndex->SetArtNoByName(pass.connection.Server(), pass.groupName, line.number, offset);
    // Until its date arrives an article counts as posted now.
    if (r.FDate == 0) {
      article.SetDate(PackFileDate(NowLocal()));
      missing_[mkDates].Add(offset);
    }
    if (r.FSubject == 0) missing_[mkSubjects].Add(offset);
    if (r.FAuthor == 0) missing_[mkAuthors].Add(offset);
    if (r.FLines == 0) missing_[mkSizes].Add(offset);
    article.Write();
  }
  if (old != offset) pass.sg->SetEntry(line.number, offset);
}

void TArtList::StoreXhdrField(FPass& pass, int field, const FHeaderLine& line) {
  TSrvGrp& sg = *pass.sg;
  const uint32_t entry = sg.GetEntry(line.number);
  if (entry == mmMissing) {
    // The server has the article after all: fetch its header again.
    sg.AddPendingRange(line.number, 1);
    return;
  }
  if (entry < kFirstArticleOffset) return;
  TArticle& article = *parts_.article;
  TArticleLock lock(article);
  if (!article.Read(entry)) return;
  const FMsgData& r = article.Data();
  switch (field) {
    case xfSubject: {
      missing_[mkSubjects].Resolve(entry);
      if (r.FSubject != 0) return;
      int8_t score = r.FScore;
      std::string chosenDir;
      uint32_t actions = StoreTexts(pass, line.value.substr(0, kMaxHeaderText), {}, score, chosenDir);
      if (HasFlag(r, afMultiPart) && !HasFlag(r, afGoodParts) && parts_.partCheck &&
          !parts_.partCheck->CheckItem(entry, true) && !(gConfig && gConfig->Has(cfMarkIncompleteWants)))
        actions &= ~FlagBit(afMarked);
      return TakeActions(pass, entry, actions, score, chosenDir);
    }
    case xfFrom: {
      missing_[mkAuthors].Resolve(entry);
      if (r.FAuthor != 0) return;
      int8_t score = r.FScore;
      std::string chosenDir;
      uint32_t actions = StoreTexts(pass, {}, line.value.substr(0, kMaxHeaderText), score, chosenDir);
      // The author alone never marks an incomplete file.
      if (HasFlag(r, afMultiPart) && !HasFlag(r, afGoodParts)) actions &= ~FlagBit(afMarked);
      return TakeActions(pass, entry, actions, score, chosenDir);
    }
    case xfDate:
      missing_[mkDates].Resolve(entry);
      article.SetDate(PackFileDate(ParseHeaderDate(line.value)));
      return article.Write();
    default: {
      missing_[mkSizes].Resolve(entry);
      uint32_t lines = LeadingNumber(line.value);
      if (field == xfBytes) lines = lines / 62 + 2;
      const uint32_t oldLines = r.FLines;
      article.SetLines(lines);
      if (HasFlag(r, afMarked) && oldLines < lines) pass.follow.sizes.emplace_back(entry, uint64_t{lines} * 62);
      return article.Write();
    }
  }
}

void TArtList::HandleValidate(TConnectionFace& connection, const FResponseBlock& block, const FItemFacts& item) {
  FPass pass(connection, block);
  const std::string group = connection.Slot().Status.Get(TSlotStatus::CurrentGroup);
  if (DumpEnabled()) DumpResponse("HandleValidate", connection, group, block);
  {
    SetProgress(connection, "Waiting for DB lock...");
    std::lock_guard header(gHeaderRetrievalLock);
    if (OpenPass(pass, group)) {
      std::lock_guard state(pass.sg->StateLock());
      TMapUse map(*pass.sg);
      FHeaderLineContext context{"TArtList.HandleValidate", connection.Server().Name(), group};
      ForEachLine(block.data, [&](std::string_view text) {
        FHeaderLine line;
        if (!ParseHeaderLine(text, context, line)) return;
        bool bracketed = false;
        const std::string_view id = MessageIdOfValue(line.value, bracketed);
        if (bracketed && id.size() >= 8) {
          const uint32_t entry = pass.sg->GetEntry(line.number);
          TArticleLock lock(*parts_.article);
          if (entry >= kFirstArticleOffset && parts_.article->Read(entry) &&
              !EqualsIgnoreCase(parts_.article->GetMessageId(), id))
            renumbered_.insert(pass.sg.get());
        } else if (line.value.find("(none)") == std::string_view::npos) {
          LogError(FormatText("%s parse problem! Invalid MsgID \"%s\" for ArtID=%u\"! Server=\"%s\", Group=\"%s\". "
                              "Skipping this header.",
                              "TArtList.HandleValidate", PrintableName(line.value).c_str(), line.number,
                              PrintableName(connection.Server().Name()).c_str(), PrintableName(group).c_str()),
                   1);
        }
      });
      if (pass.final) FinishValidation(pass, item);
    }
  }
  RunFollowUp(connection, pass.follow);
}

// A renumbered group keeps nothing of its old numbering: the map is rebuilt and every
// number fetched again.
void TArtList::FinishValidation(FPass& pass, const FItemFacts& item) {
  TSrvGrp& sg = *pass.sg;
  const uint32_t first = item.count >= 2 ? item.data[0] : sg.FirstArtNo();
  const uint32_t last = item.count >= 2 ? item.data[1] : sg.LastArtNo();
  RemoveInFlight(sg, qkValidate, 0, UINT32_MAX);
  if (renumbered_.erase(&sg)) {
    LogError(FormatText("Newsgroup \"%s\" on \"%s\" was renumbered; its headers are fetched again.",
                        PrintableName(pass.groupName).c_str(), PrintableName(sg.Server().Name()).c_str()),
             1);
    sg.RebuildServerFile(first, last);
  } else if (first != 0 && first <= last) {
    sg.AdjustServerFile(first, last, false);
  }
  sg.SetLastRefresh(NowLocal());
  pass.follow.finishCurrent = true;
  PlanOrEnd(pass.sg, pass.connection, pass.follow, qkValidate, 0, last);
}

void TArtList::HandleListgroup(TConnectionFace& connection, const FResponseBlock& block, const FItemFacts& item) {
  FPass pass(connection, block);
  std::string group = std::string(Trim(block.command.substr(std::min<size_t>(10, block.command.size()))));
  // The server selected the group it lists.
  connection.Slot().Status.Set(TSlotStatus::CurrentGroup, group);
  {
    SetProgress(connection, "Waiting for DB lock...");
    std::lock_guard header(gHeaderRetrievalLock);
    if (OpenPass(pass, group)) {
      std::lock_guard state(pass.sg->StateLock());
      TMapUse map(*pass.sg);
      SetProgress(connection, "Removing expired articles...");
      TSrvGrp& sg = *pass.sg;
      const uint32_t first = sg.FirstArtNo(), last = sg.LastArtNo();
      pass.low = item.count >= 2 ? std::max(item.data[0], first) : first;
      pass.high = item.count >= 2 ? std::min(item.data[1], last) : last;
      pass.expected = pass.StartsResponse() ? int64_t{pass.low} : -1;
      FHeaderLineContext context{"HandleLISTGROUP", connection.Server().Name(), group};
      ForEachLine(block.data, [&](std::string_view text) {
        uint32_t n = 0;
        if (!ParseNumberLine(text, context, n)) return;
        if (first == 0 || n < first || n > last) {
          pass.expected = -1;
          return;
        }
        if (pass.expected >= 0 && pass.expected < n) MarkGap(pass, n);
        else if (sg.GetEntry(n) == mmMissing) sg.AddPendingRange(n, 1);
        pass.expected = int64_t{n} + 1;
      });
      FinalGap(pass);
      CheckpointMap(sg, false);
      if (pass.final) {
        sg.Validated = true;
        sg.ValidationQueued = false;
        pass.follow.finishCurrent = true;
        RemoveInFlight(sg, qkListgroup, 0, UINT32_MAX);
        PlanOrEnd(pass.sg, connection, pass.follow, qkMessageID, 0, 0);
      }
    }
  }
  RunFollowUp(connection, pass.follow);
}

void TArtList::HandleXpat(TConnectionFace& connection, const FResponseBlock& block) {
  FPass pass(connection, block);
  const std::string group = connection.Slot().Status.Get(TSlotStatus::CurrentGroup);
  {
    std::lock_guard header(gHeaderRetrievalLock);
    if (OpenPass(pass, group)) {
      std::lock_guard state(pass.sg->StateLock());
      TMapUse map(*pass.sg);
      SetProgress(connection, "Storing article headers...");
      TSrvGrp& sg = *pass.sg;
      const uint32_t first = sg.FirstArtNo(), last = sg.LastArtNo();
      FHeaderLineContext context{"HandleXPAT", connection.Server().Name(), group};
      ForEachLine(block.data, [&](std::string_view text) {
        uint32_t n = 0;
        if (ParseNumberLine(text, context, n) && first != 0 && n >= first && n <= last &&
            sg.GetEntry(n) < kFirstArticleOffset)
          sg.AddPendingRange(n, 1);
      });
      if (pass.final) {
        pass.follow.finishCurrent = true;
        RemoveInFlight(sg, qkXpat, 0, UINT32_MAX);
        PlanOrEnd(pass.sg, connection, pass.follow, qkMessageID, first, last);
      }
    }
  }
  RunFollowUp(connection, pass.follow);
}

}  // namespace zev
