// TArtList: the "group" reply. It brings the server-group's map in line with the range the
// server reports and plans the refresh's first command.
#include <mutex>

#include "core/DateTime.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Group.h"
#include "db/GroupFileName.h"
#include "db/NewsgroupCatalog.h"
#include "db/SGLst.h"
#include "db/Server.h"
#include "nntp/ArtListInternal.h"

namespace zev {

namespace {

struct FGroupReply {
  uint32_t count = 0, first = 0, last = 0;
  std::string name;
};

// The next blank-terminated decimal token of `rest`; false when no blank ends it. A token
// that is not a number reads as 0; one beyond 64 bits as the largest value.
bool Token(std::string_view& rest, uint64_t& value, std::string_view& text) {
  size_t blank = rest.find(' ');
  if (blank == std::string_view::npos) {
    text = rest;
    return false;
  }
  text = rest.substr(0, blank);
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      value = 0;
      break;
    }
    value = value > (UINT64_MAX - 9) / 10 ? UINT64_MAX : value * 10 + (c - '0');
  }
  rest.remove_prefix(blank + 1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  return true;
}

// "211 count first last name". Each problem is logged (level 0) and makes the reply unusable.
bool ParseGroupReply(std::string_view status, const std::string& server, const std::string& group,
                     FGroupReply& reply) {
  std::string_view rest = status.size() > 4 ? status.substr(4) : std::string_view();
  const std::string s = PrintableName(server), g = PrintableName(group);
  uint64_t count = 0, first = 0, last = 0;
  std::string_view text;
  if (!Token(rest, count, text)) {
    LogError(FormatText("%s: Invalid response \"%s\", Server=\"%s\", Group=\"%s\"!", "HandleGroup",
                        PrintableName(status).c_str(), s.c_str(), g.c_str()),
             0);
    return false;
  }
  if (!Token(rest, first, text)) {
    LogError(FormatText("Missing first Article-ID, Value=\"%s\", Server=\"%s\", Group=\"%s\"!",
                        PrintableName(text).c_str(), s.c_str(), g.c_str()),
             0);
    return false;
  }
  if (first == 0 || first > UINT32_MAX) {
    LogError(FormatText("Invalid first Article-ID (0), Server=\"%s\", Group=\"%s\"!", s.c_str(), g.c_str()), 0);
    return false;
  }
  if (!Token(rest, last, text)) {
    LogError(FormatText("Missing last Article-ID, Value=\"%s\", Server=\"%s\", Group=\"%s\"!",
                        PrintableName(text).c_str(), s.c_str(), g.c_str()),
             0);
    return false;
  }
  if (last == 0 || last > UINT32_MAX) {
    LogError(FormatText("Invalid last Article-ID (0), Server=\"%s\", Group=\"%s\"!", s.c_str(), g.c_str()), 0);
    return false;
  }
  reply.count = static_cast<uint32_t>(std::min<uint64_t>(count, UINT32_MAX));
  reply.first = static_cast<uint32_t>(first);
  reply.last = static_cast<uint32_t>(last);
  if (reply.last < reply.first) reply.first = reply.count < reply.last ? reply.last - reply.count : 1;
  std::string_view name = Trim(rest);
  reply.name = std::string(name.substr(0, name.find_first_of(" \t")));
  return true;
}

}  // namespace

void TArtList::HandleGroup(TConnectionFace& connection, const FResponseBlock& block) {
  TServer& server = connection.Server();
  const std::string asked = std::string(Trim(block.command.substr(std::min<size_t>(6, block.command.size()))));
  FGroupReply reply;
  const bool parsed = ParseGroupReply(block.statusLine, server.Name(), asked, reply);
  if (parsed) connection.Slot().Status.Set(TSlotStatus::CurrentGroup, reply.name);
  FFollowUp follow;
  follow.finishCurrent = true;
  const FItemFacts item = CurrentItemFacts(connection);
  // A "group" on the way to another command only selects the group.
  if (item.present && item.kind == qkGroup) {
    const std::string name = parsed ? reply.name : asked;
    std::shared_ptr<TSrvGrp> sg = parts_.serverGroups->FindByName(server, name, false);
    if (!sg) {
      LogError(FormatText("Assertion failed, could not find Server-Group: Server=\"%s\", Group=\"%s\"",
                          PrintableName(server.Name()).c_str(), PrintableName(name).c_str()));
    } else {
      SetProgress(connection, "Waiting for DB lock...");
      std::lock_guard header(gHeaderRetrievalLock);
      SetProgress(connection, "Determining missing headers...");
      if (!parsed) {
        // A reply that cannot be read ends the refresh like a refused "group".
        if (!HasInFlight(*sg)) EndRefresh(*sg);
      } else if (sg->Group().NameIs(reply.name)) {
        std::lock_guard state(sg->StateLock());
        if (!sg->RefreshIdle) StartRefresh(connection, sg, reply.count, reply.first, reply.last, follow);
      }
    }
  }
  // The newsgroup list learns the count; an empty group counts 1, so that it stays carried.
  if (parsed && item.present && item.kind == qkGroup && gNewsgroupCatalog)
    gNewsgroupCatalog->SetArticleCount(server, reply.name, reply.count ? reply.count : 1);
  const TConnState state = connection.Slot().State();
  if (state == csError || state == csRetrying) {
    follow.finishCurrent = false;
    follow.action = FFollowUp::faReleaseItem;
    follow.wanted.clear();
  }
  RunFollowUp(connection, follow);
}

void TArtList::StartRefresh(TConnectionFace& connection, const std::shared_ptr<TSrvGrp>& sg, uint32_t count,
                            uint32_t first, uint32_t last, FFollowUp& follow) {
  HoldMap(sg);
  // An empty group ("211 0 0 0", "211 0 n+1 n") has nothing to fetch; its map stays as it
  // is rather than being emptied by what may be a passing server fault.
  if (count == 0) {
    sg->SetLastRefresh(NowLocal());
    if (!HasInFlight(*sg)) EndRefresh(*sg);
    return;
  }
  if (const uint32_t check = CheckNumber(*sg, first, last)) {
    AddInFlight(sg, qkValidate, check, check);
    follow.action = FFollowUp::faValidate;
    follow.check = check;
    follow.low = first;
    follow.high = last;
    follow.group = &sg->Group();
    follow.sg = sg;
    return;
  }
  sg->AdjustServerFile(first, last, false);
  sg->SetLastRefresh(NowLocal());
  PlanOrEnd(sg, connection, follow, qkGroup, 0, 0);
}

// The article whose Message-ID tells whether the server renumbered the group: the newest
// one we know within the range both sides still share, when the reply gives reason to
// doubt (the range moved back, or shrank at its end). 0: no check.
uint32_t TArtList::CheckNumber(TSrvGrp& sg, uint32_t first, uint32_t last) {
  try {
    const uint32_t mapFirst = sg.FirstArtNo(), mapLast = sg.LastArtNo();
    if (mapFirst == 0) return 0;
    uint32_t from, to;
    if (first < mapFirst) {
      if (last < mapFirst) return 0;
      from = mapFirst;
      to = std::min(mapLast, last);
    } else {
      if (last >= mapLast || last < mapFirst) return 0;
      from = first;
      to = last;
    }
    for (uint64_t n = to; n >= from && n > 0; --n)
      if (sg.GetEntry(static_cast<uint32_t>(n)) >= kFirstArticleOffset) return static_cast<uint32_t>(n);
    return 0;
  } catch (const std::exception& e) {
    LogException(e, "TArtList.HandleGROUP|lDoValidate");
    return 0;
  }
}

}  // namespace zev
