// TArtList: planning the next header command of a refresh. The steps run in a fixed order
// (header ranges, the existence check, the missing-field passes) and each only when the
// command that just finished was not of a later step.
#include <algorithm>
#include <optional>

#include "db/Group.h"
#include "db/Server.h"
#include "download/Queue.h"
#include "nntp/ArtListInternal.h"

namespace zev {

namespace {

struct FSpan {
  uint64_t low, high;
};

// The highest part of `spans` (ascending, disjoint) that none of `busy` covers.
std::optional<FSpan> HighestFree(const std::vector<FSpan>& spans, std::vector<FSpan> busy) {
  std::sort(busy.begin(), busy.end(), [](const FSpan& a, const FSpan& b) { return a.high > b.high; });
  for (auto s = spans.rbegin(); s != spans.rend(); ++s) {
    uint64_t high = s->high;
    for (const FSpan& b : busy) {
      if (b.low > high || b.high < s->low) continue;
      if (b.high >= high) {
        if (b.low <= s->low) {
          high = 0;
          break;
        }
        high = b.low - 1;
      } else {
        // The free part above this busy span is the highest there is.
        return FSpan{b.high + 1, high};
      }
    }
    if (high >= s->low && high != 0) return FSpan{s->low, high};
  }
  return std::nullopt;
}

}  // namespace

uint64_t TArtList::HeaderLimit(const TSrvGrp& sg) {
  uint64_t limit = 0x7FFFFFFF;
  if (sg.Server().Has(sfHeaderLimit)) limit = sg.Server().MaxHeaders;
  if (sg.Group().Has(gfHeaderLimit)) limit = std::min<uint64_t>(limit, sg.Group().MaxHeaders);
  return limit;
}

bool TArtList::PlanNextCommand(TSrvGrp& sg, TConnectionFace& connection, TQueueKind& kind, uint32_t& low,
                               uint32_t& high) {
  const TQueueKind in = kind;
  const uint32_t inLow = low;
  const uint64_t limit = HeaderLimit(sg);
  TServer& server = sg.Server();
  if (in <= qkMessageID) {
    if (PlanRanges(sg, in, inLow, limit, kind, low, high)) return true;
    // Later steps look at what the ranges fill in: they wait until every range is in.
    if (HasRangesInFlight(sg)) return false;
  }
  if (in <= qkSize) {
    const uint8_t refreshKind = sg.RefreshKind;
    const bool checkDue = !sg.Validated && !sg.ValidationQueued &&
                          (refreshKind == rkNewAndMissing || (refreshKind == rkPlain && !server.Has(sfSkipListgroup)));
    if (checkDue && sg.ArtCount() > 0) {
      low = sg.FirstArtNo();
      high = sg.LastArtNo();
      if (!server.Has(sfXHDRLines)) {
        kind = qkListgroup;
        sg.ValidationQueued = true;
        return true;
      }
      kind = qkSize;
      if (uint64_t{high} - low > limit) low = static_cast<uint32_t>(high - limit);
      return true;
    }
    if (server.Has(sfXHDR)) {
      SetProgress(connection, "Looking for missing sizes...");
      if (PlanMissingPass(sg, connection, missing_[mkSizes], 20, qkSize, in, inLow, limit, low, high))
        return kind = qkSize, true;
    }
  }
  if (!server.Has(sfXHDR)) return false;
  struct FStep {
    TQueueKind kind;
    TMissingKind list;
    uint32_t weight;
    const char* progress;
  } steps[] = {
      {qkSubject, mkSubjects, 80, "Looking for missing subjects..."},
      {qkAuthor, mkAuthors, 50, "Looking for missing authors..."},
      {qkDate, mkDates, 30, "Looking for missing dates..."},
  };
  for (const FStep& step : steps) {
    if (in > step.kind) continue;
    SetProgress(connection, step.progress);
    if (PlanMissingPass(sg, connection, missing_[step.list], step.weight, step.kind, in, inLow, limit, low, high))
      return kind = step.kind, true;
  }
  return false;
}

// Newest first: the highest pending range that is not already on its way (the queue may
// be fetching other chunks of an earlier plan), cut to the header limit.
bool TArtList::PlanRanges(TSrvGrp& sg, TQueueKind inKind, uint32_t inLow, uint64_t limit, TQueueKind& kind,
                          uint32_t& low, uint32_t& high) {
  (void)inKind;
  const uint8_t refreshKind = sg.RefreshKind;
  const uint32_t first = sg.FirstArtNo(), last = sg.LastArtNo();
  std::vector<FSpan> busy;
  if (auto it = refreshes_.find(&sg); it != refreshes_.end())
    for (const FInFlight& f : it->second.inFlight)
      if (f.IsRange()) busy.push_back({f.low, f.high});
  std::vector<FSpan> spans;
  bool xpat = false;
  if ((refreshKind == rkXpat || refreshKind == rkAll) && inLow == 0) {
    if (first == 0 || last < first) return false;
    spans.push_back({first, last});
    xpat = refreshKind == rkXpat;
  } else {
    for (const FArticleRange& r : sg.PendingRanges().Ranges())
      if (r.count > 0) spans.push_back({r.start, r.End() - 1});
  }
  std::optional<FSpan> found = HighestFree(spans, busy);
  if (!found) return false;
  low = static_cast<uint32_t>(found->low);
  high = static_cast<uint32_t>(found->high);
  if (xpat) {
    kind = qkXpat;
    return true;
  }
  if (uint64_t{high} - low > limit) low = static_cast<uint32_t>(high - limit);
  kind = qkMessageID;
  return true;
}

// A pass of "xhdr" over the articles whose field `list` still misses, from the newest
// downwards. A long run of complete articles between needed ones is not worth fetching
// again: the range is narrowed to the part above the longest run (weighed by how much a
// line of this header costs), and the part below follows in the next pass.
bool TArtList::PlanMissingPass(TSrvGrp& sg, TConnectionFace& connection, TMissingHeaders& list, uint32_t weight,
                               TQueueKind stepKind, TQueueKind inKind, uint32_t inLow, uint64_t limit, uint32_t& low,
                               uint32_t& high) {
  const uint32_t first = sg.FirstArtNo();
  if (first == 0) return false;
  uint64_t lo = first, hi = sg.LastArtNo();
  if (hi - lo > limit) lo = hi - limit;
  if (inKind == stepKind && inLow != 0) {
    if (inLow - 1 < lo) return false;
    hi = inLow - 1;
  }
  const uint64_t hdrBlock = sg.Server().HdrBlock;
  for (;;) {
    if (list.Empty()) return false;
    uint64_t firstNeeded = 0, lastNeeded = 0, run = 0, totalGap = 0, longest = 0, longestEnd = 0;
    bool any = false;
    for (uint64_t n = lo; n <= hi; ++n) {
      const uint32_t entry = sg.GetEntry(static_cast<uint32_t>(n));
      if (entry < kFirstArticleOffset) continue;
      if (!list.IsNeeded(entry)) {
        if (any) ++run;
        continue;
      }
      if (!any) firstNeeded = n;
      if (any && run > 0) {
        totalGap += run;
        if (run > longest) {
          longest = run;
          longestEnd = n - 1;
        }
      }
      any = true;
      lastNeeded = n;
      run = 0;
    }
    if (!any) return false;
    if (totalGap > 0 && (weight * longest > hdrBlock * 500 || weight * longest > hdrBlock * totalGap)) {
      lo = longestEnd + 1;
      hi = lastNeeded;
      continue;
    }
    low = static_cast<uint32_t>(firstNeeded);
    high = static_cast<uint32_t>(lastNeeded);
    if (!parts_.queue->IsPaused()) {
      const uint32_t claimer = ClaimerOf(connection);
      for (uint64_t n = firstNeeded; n <= lastNeeded; ++n) {
        const uint32_t entry = sg.GetEntry(static_cast<uint32_t>(n));
        if (entry >= kFirstArticleOffset) list.Claim(entry, claimer);
      }
    }
    return true;
  }
}

}  // namespace zev
