#pragma once
// A node of the group tree (TGroupTree): the root, a folder or a subscribed newsgroup.
// Folders pass decoding directory, limits, flags and sort order down to the nodes that
// inherit.
//
// The tree is built and changed on the user-interface thread. Connection threads and the
// decoder read a group's settings and update its counters at any time, so numbers are
// atomic and texts are copied in and out under the node's lock.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"
#include "db/GroupFlags.h"

namespace zev {

class TSubscribedGroups;

class TGroup {
 public:
  // A newsgroup enters `subscribed` (when given) at once and leaves it when destroyed.
  TGroup(TGroupNodeType type, std::string name, TGroup* parent, TSubscribedGroups* subscribed = nullptr);
  ~TGroup();
  TGroup(const TGroup&) = delete;
  TGroup& operator=(const TGroup&) = delete;

  // --- Tree position (UI thread) ---
  TGroupNodeType Type() const { return type_; }
  bool IsNewsgroup() const { return type_ == gnNewsgroup; }
  TGroup* Parent() const { return parent_; }
  const std::vector<std::unique_ptr<TGroup>>& Children() const { return children_; }
  // 16 for newsgroups, 0 for the root and folders.
  int IconIndex() const { return IsNewsgroup() ? 16 : 0; }

  // --- Texts (any thread) ---
  std::string Name() const;
  void SetName(std::string name);
  bool NameIs(std::string_view name) const;  // exact comparison, without copying the name
  // With a trailing "/".
  std::string DecodeDir() const;
  void SetDecodeDir(std::string dir);
  std::string FilterHist() const;
  void SetFilterHist(std::string history);

  // --- Settings and counters ---
  std::atomic<uint32_t> Flags{0};
  std::atomic<int8_t> HeaderScore{0};
  std::atomic<uint32_t> MaxHeaders{100000};
  std::atomic<uint32_t> LastOpen{0};           // packed file date, 0 = never
  std::atomic<TDateTime> LastRefresh{0};       // run time only
  std::atomic<uint32_t> PendingNew{0};
  std::atomic<uint32_t> NewCount{0};
  std::atomic<uint32_t> WantCount{0};
  std::atomic<uint32_t> KillCount{0};
  std::atomic<uint32_t> RefreshChanged{0};     // run time only; exchanged back to 0 by the tree view

  bool Has(TGroupFlag f) const { return (Flags.load() & GroupFlagBit(f)) != 0; }
  void Include(TGroupFlag f) { Flags.fetch_or(GroupFlagBit(f)); }
  void Exclude(TGroupFlag f) { Flags.fetch_and(~GroupFlagBit(f)); }
  void SetFlag(TGroupFlag f, bool on) { on ? Include(f) : Exclude(f); }
  uint32_t RefreshInterval() const { return (Flags.load() & kRefreshIntervalMask) >> kRefreshIntervalShift; }
  void SetRefreshInterval(uint32_t interval);

  // Sort settings. A node without gfCustomSort reads and writes those of its nearest
  // ancestor that has its own (the root always has).
  uint8_t PrimarySort() const { return SortOwner().primarySort_; }
  uint8_t SecondarySort() const { return SortOwner().secondarySort_; }
  bool PrimaryReverse() const { return SortOwner().primaryReverse_; }
  bool SecondaryReverse() const { return SortOwner().secondaryReverse_; }
  void SetPrimarySort(uint8_t column, bool reverse);
  void SetSecondarySort(uint8_t column, bool reverse);
  // This node's own sort fields, whether or not it uses them (the stored form).
  struct FSortOrder {
    uint8_t primary, secondary;
    bool primaryReverse, secondaryReverse;
  };
  FSortOrder OwnSortOrder() const;
  void SetOwnSortOrder(const FSortOrder& order);

  // Copies the parent's decoding directory, header score, limit, sort fields and flags
  // (all but kOwnGroupFlags), then does the same for every child that inherits.
  void InheritFromParent();

  // A short form of a newsgroup's name for directory names: alt.binaries.e-book gives
  // ABE-B. For other nodes the name.
  std::string GroupAbbreviation() const;
  // Where downloads of this group go: DecodeDir, plus the abbreviation or the name as a
  // subdirectory when the group asks for it. The added component is always one safe
  // directory name, whatever the group is called.
  std::string EffectiveDecodeDir() const;
  // Articles refreshed before this moment are due for an automatic refresh.
  TDateTime RefreshThreshold(TDateTime now = NowLocal()) const;

 private:
  friend class TGroupTree;
  const TGroup& SortOwner() const;
  TGroup& SortOwner();

  const TGroupNodeType type_;
  TGroup* parent_;
  std::vector<std::unique_ptr<TGroup>> children_;
  TSubscribedGroups* subscribed_;

  mutable std::mutex textLock_;
  std::string name_, decodeDir_, filterHist_;
  mutable std::string abbreviation_;

  std::atomic<uint8_t> primarySort_{scSubject}, secondarySort_{scFilename};
  std::atomic<bool> primaryReverse_{false}, secondaryReverse_{false};
};

// The moment this program started: the threshold of groups that refresh once per start.
TDateTime ProgramStartTime();

// The abbreviation rule on its own: the upper-cased first character, then after each "."
// the next letter upper-cased or the digits that follow it, and after each "-" a "-" and
// the next letter upper-cased.
std::string AbbreviateGroupName(const std::string& name);

}  // namespace zev
