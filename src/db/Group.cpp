#include "db/Group.h"

#include <cctype>

#include "core/SanitizeName.h"
#include "db/GroupFileName.h"
#include "db/SubscribedGroups.h"

namespace zev {

namespace {

const TDateTime gProgramStart = NowLocal();

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// One directory level below the decoding directory, whatever the text holds.
std::string SafeComponent(const std::string& text) {
  return IsSafeFileName(text) ? text : SanitizeName(text, false);
}

}  // namespace

TDateTime ProgramStartTime() { return gProgramStart; }

std::string AbbreviateGroupName(const std::string& name) {
  if (name.empty()) return {};
  std::string out(1, Upper(name[0]));
  for (size_t i = 1; i < name.size(); ++i) {
    if (name[i - 1] == '.') {
      if (IsAsciiLetter(name[i])) {
        out += Upper(name[i]);
        continue;
      }
      size_t end = i;
      while (end < name.size() && IsDigit(name[end])) ++end;
      out.append(name, i, end - i);
      if (end > i) i = end - 1;
    } else if (name[i] == '-') {
      out += '-';
      if (i + 1 < name.size() && IsAsciiLetter(name[i + 1])) out += Upper(name[++i]);
    }
  }
  return out;
}

TGroup::TGroup(TGroupNodeType type, std::string name, TGroup* parent, TSubscribedGroups* subscribed)
    : type_(type), parent_(parent), subscribed_(IsNewsgroup() ? subscribed : nullptr), name_(std::move(name)) {
  if (subscribed_) subscribed_->Add(this);
}

TGroup::~TGroup() {
  children_.clear();
  if (subscribed_) subscribed_->Remove(this);
}

std::string TGroup::Name() const {
  std::lock_guard lock(textLock_);
  return name_;
}

void TGroup::SetName(std::string name) {
  std::lock_guard lock(textLock_);
  name_ = std::move(name);
  abbreviation_.clear();
}

bool TGroup::NameIs(std::string_view name) const {
  std::lock_guard lock(textLock_);
  return name_ == name;
}

std::string TGroup::DecodeDir() const {
  std::lock_guard lock(textLock_);
  return decodeDir_;
}

void TGroup::SetDecodeDir(std::string dir) {
  std::lock_guard lock(textLock_);
  decodeDir_ = std::move(dir);
}

std::string TGroup::FilterHist() const {
  std::lock_guard lock(textLock_);
  return filterHist_;
}

void TGroup::SetFilterHist(std::string history) {
  std::lock_guard lock(textLock_);
  filterHist_ = std::move(history);
}

void TGroup::SetRefreshInterval(uint32_t interval) {
  uint32_t bits = (interval << kRefreshIntervalShift) & kRefreshIntervalMask;
  uint32_t old = Flags.load();
  while (!Flags.compare_exchange_weak(old, (old & ~kRefreshIntervalMask) | bits)) {
  }
}

const TGroup& TGroup::SortOwner() const {
  const TGroup* node = this;
  while (!node->Has(gfCustomSort) && node->parent_) node = node->parent_;
  return *node;
}

TGroup& TGroup::SortOwner() { return const_cast<TGroup&>(static_cast<const TGroup*>(this)->SortOwner()); }

void TGroup::SetPrimarySort(uint8_t column, bool reverse) {
  TGroup& owner = SortOwner();
  owner.primarySort_ = column;
  owner.primaryReverse_ = reverse;
}

void TGroup::SetSecondarySort(uint8_t column, bool reverse) {
  TGroup& owner = SortOwner();
  owner.secondarySort_ = column;
  owner.secondaryReverse_ = reverse;
}

TGroup::FSortOrder TGroup::OwnSortOrder() const {
  return {primarySort_.load(), secondarySort_.load(), primaryReverse_.load(), secondaryReverse_.load()};
}

void TGroup::SetOwnSortOrder(const FSortOrder& order) {
  primarySort_ = order.primary;
  secondarySort_ = order.secondary;
  primaryReverse_ = order.primaryReverse;
  secondaryReverse_ = order.secondaryReverse;
}

void TGroup::InheritFromParent() {
  if (!parent_) return;
  const TGroup& p = *parent_;
  Flags = (Flags.load() & kOwnGroupFlags) | (p.Flags.load() & ~kOwnGroupFlags);
  SetDecodeDir(p.DecodeDir());
  HeaderScore = p.HeaderScore.load();
  MaxHeaders = p.MaxHeaders.load();
  SetOwnSortOrder(p.OwnSortOrder());
  for (auto& child : children_)
    if (child->Has(gfInherit)) child->InheritFromParent();
}

std::string TGroup::GroupAbbreviation() const {
  std::lock_guard lock(textLock_);
  if (!IsNewsgroup()) return name_;
  if (abbreviation_.empty()) abbreviation_ = AbbreviateGroupName(name_);
  return abbreviation_;
}

std::string TGroup::EffectiveDecodeDir() const {
  std::string dir = DecodeDir();
  if (type_ == gnRoot) return dir;
  if (Has(gfAppendAbbr)) return dir + SafeComponent(GroupAbbreviation()) + "/";
  if (Has(gfAppendName)) return dir + SafeComponent(Name()) + "/";
  return dir;
}

TDateTime TGroup::RefreshThreshold(TDateTime now) const {
  static constexpr double kIntervalDays[] = {0, 1.0, 0.5, 0.25, 0.125, 1.0 / 24, 1.0 / 48};
  uint32_t i = RefreshInterval();
  if (i == riProgramStart) return ProgramStartTime();
  if (i < std::size(kIntervalDays)) return now - kIntervalDays[i];
  return 0;
}

}  // namespace zev
