// TArtList: what every header handler does around its lines: finding the server-group,
// marking the numbers the server no longer has, and flushing the database.
#include <algorithm>
#include <chrono>

#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Article.h"
#include "db/BTree.h"
#include "db/GroupFileName.h"
#include "db/NwsStore.h"
#include "db/SGLst.h"
#include "db/Server.h"
#include "nntp/ArtListInternal.h"

namespace zev {

bool TArtList::OpenPass(FPass& pass, const std::string& groupName) {
  pass.groupName = groupName;
  pass.final = pass.IsFinal();
  TServer& server = pass.connection.Server();
  pass.sg = parts_.serverGroups->FindByName(server, groupName, false);
  if (!pass.sg) {
    LogError(FormatText("Assertion failed, could not find Server-Group: Server=\"%s\", Group=\"%s\"",
                        PrintableName(server.Name()).c_str(), PrintableName(groupName).c_str()));
    pass.follow.finishCurrent = pass.final;
    pass.follow.action = pass.final ? FFollowUp::faNext : FFollowUp::faNothing;
    return false;
  }
  pass.claimer = ClaimerOf(pass.connection);
  pass.follow.action = FFollowUp::faNothing;
  pass.follow.sg = pass.sg;
  return true;
}

// Numbers in [from, to) that the server did not list are gone: their articles lose this
// pair's reference, and numbers never fetched are noted as missing, so nothing asks for
// them again.
void TArtList::MarkGone(FPass& pass, uint64_t from, uint64_t to) {
  TSrvGrp& sg = *pass.sg;
  const uint64_t first = sg.FirstArtNo(), last = sg.LastArtNo();
  if (first == 0) return;
  from = std::max(from, first);
  to = std::min(to, last + 1);
  for (uint64_t n = from; n < to; ++n) {
    const uint32_t number = static_cast<uint32_t>(n);
    const uint32_t entry = sg.GetEntry(number);
    if (entry == mmNotFetched) {
      sg.SetEntry(number, mmMissing);
      continue;
    }
    if (entry < kFirstArticleOffset) continue;
    const bool lastReference = parts_.article->Expire(entry);
    sg.SetEntry(number, mmMissing);
    for (TMissingHeaders& list : missing_) {
      if (lastReference) list.ReleaseOffset(entry);
      else list.ReleaseClaimOf(entry, pass.claimer);
    }
  }
}

void TArtList::MarkGap(FPass& pass, uint32_t number) {
  if (pass.expected >= 0 && pass.expected < number && pass.expected < pass.high)
    MarkGone(pass, static_cast<uint64_t>(pass.expected), number);
  pass.expected = int64_t{number} + 1;
}

void TArtList::FinalGap(FPass& pass) {
  if (pass.final && pass.expected >= 0 && pass.expected <= pass.high)
    MarkGone(pass, static_cast<uint64_t>(pass.expected), uint64_t{pass.high} + 1);
}

// Makes everything the headers stored so far durable: a checkpoint of each list they fill.
void TArtList::FlushDatabase() {
  if (!parts_.store || !parts_.store->Active()) return;
  for (TBTree* tree : {parts_.store->MsgLst(), parts_.store->SubjLst(), parts_.store->AuthLst(), parts_.store->FileLst()})
    if (tree) tree->Flush(true, true);
}

// The map file names records by their place in the database, so it may only be written
// right after the database made those records durable: otherwise a crash leaves it
// pointing at records the database rolled back. It is rewritten whole each time, so a
// refresh saves it every half minute, not after every block; whatever a crash loses in
// between is still pending in the older map and simply fetched again. A flush writes
// every page changed since the last one that the file held before it twice, and new
// headers land all over the Message-ID index: in a large group one flush can take
// seconds, so the pause grows with it and flushing never takes more than a tenth of a
// refresh.
void TArtList::CheckpointMap(TSrvGrp& sg, bool force) {
  using TClock = std::chrono::steady_clock;
  constexpr TClock::duration kInterval = std::chrono::seconds(30);
  constexpr int kWorkPerFlush = 10;
  const auto now = TClock::now();
  auto it = refreshes_.find(&sg);
  if (!force && it != refreshes_.end() &&
      now - it->second.mapSaved < std::max(kInterval, kWorkPerFlush * it->second.flushTook))
    return;
  FlushDatabase();
  sg.SaveOffsMap();
  if (it != refreshes_.end()) {
    it->second.mapSaved = TClock::now();
    it->second.flushTook = it->second.mapSaved - now;
  }
}

void TArtList::Resolve(TArticleOffset offset) {
  for (TMissingHeaders& list : missing_) list.Resolve(offset);
}

}  // namespace zev
