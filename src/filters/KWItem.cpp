#include "filters/KWItem.h"

#include "db/MsgData.h"

namespace zev {

TKWItem::TKWItem() = default;

uint32_t TKWItem::Action() const {
  const uint8_t flags = Flags();
  uint32_t action = FlagBit((flags & kwKill) ? afKilled : afWanted);
  if (flags & kwAutoMark) action |= FlagBit(afMarked);
  return action;
}

bool TKWItem::AppliesToGroup(std::string_view group) const {
  return Groups.Pattern().empty() || Groups.Matches(group);
}

bool TKWItem::ExpireBy(TDateTime now) {
  if (!Has(kwActive)) {
    SetExpiry(0);
    return false;
  }
  const TDateTime expiry = Expiry();
  // Values up to 1.0 are not dates (0 is "never"), whatever the clock says.
  if (expiry > 1.0 && expiry < now) {
    Exclude(kwActive);
    SetExpiry(0);
    return false;
  }
  return true;
}

std::unique_ptr<TKWItem> TKWItem::Clone() const {
  auto copy = std::make_unique<TKWItem>();
  for (auto [from, to] : {std::pair{&Expression, &copy->Expression}, std::pair{&Groups, &copy->Groups}}) {
    try {
      to->SetPattern(from->Pattern());
    } catch (const EPerlRe&) {
      // The text stays, uncompiled, as it was in the original.
    }
  }
  copy->SetFlags(Flags());
  copy->Score = Score;
  copy->SetExpiry(Expiry());
  copy->DownloadDir = DownloadDir;
  return copy;
}

}  // namespace zev
