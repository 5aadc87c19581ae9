#include "db/GroupListRows.h"

#include <algorithm>
#include <cstring>

#include "core/Busy.h"
#include "core/Log.h"
#include "db/Group.h"
#include "db/GroupList.h"
#include "db/GroupTree.h"

namespace zev {

namespace {

// Case-insensitive in ASCII, the bytes deciding among names that differ only in case, so
// the order is total and the same on every machine.
bool NameLess(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    const int fx = (x >= 'A' && x <= 'Z') ? x + 32 : x, fy = (y >= 'A' && y <= 'Z') ? y + 32 : y;
    if (fx != fy) return fx < fy;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace

TGroupListRows::TGroupListRows(TGroupList& list, const TGroupTree* groups) : list_(list), groups_(groups) {}

void TGroupListRows::SetServerColumns(std::vector<TServer*> servers) {
  columns_ = std::move(servers);
  columnCounts_.assign(columns_.size(), FColumnCounts{});
  if (sortColumn_ >= static_cast<int>(columns_.size())) {
    sortColumn_ = -1;
    sortDescending_ = false;
    ApplyFilter();
  } else if (sortColumn_ >= 0) {
    SortRows();
  }
}

TGroupListRows::TChange TGroupListRows::Update() {
  if (list_.IndexGeneration() != indexGeneration_) {
    Rebuild();
    return rcRows;
  }
  if (list_.SubscriptionGeneration() != subscriptionGeneration_) {
    ReadSubscriptions();
    if (subscribedOnly_) ApplyFilter();
    return rcRows;
  }
  // New counts are only painted: re-sorting would move the rows under the user's eyes.
  if (list_.CountsGeneration() != countsGeneration_) {
    countsGeneration_ = list_.CountsGeneration();
    return rcCounts;
  }
  return rcNone;
}

void TGroupListRows::Rebuild() {
  TBusyScope busy;
  indexGeneration_ = list_.IndexGeneration();
  countsGeneration_ = list_.CountsGeneration();
  text_.clear();
  starts_.clear();
  ids_.clear();
  const size_t expected = list_.GroupCount();
  starts_.reserve(expected + 1);
  ids_.reserve(expected);
  text_.reserve(expected * 32);
  list_.ForEachGroup([&](std::string_view name, uint32_t groupId) {
    starts_.push_back(static_cast<uint32_t>(text_.size()));
    text_.append(name);
    text_.push_back('\n');
    ids_.push_back(groupId);
  });
  starts_.push_back(static_cast<uint32_t>(text_.size()));
  text_.shrink_to_fit();
  ReadSubscriptions();
  ApplyFilter();
}

std::string_view TGroupListRows::Name(uint32_t index) const {
  return std::string_view(text_).substr(starts_[index], starts_[index + 1] - starts_[index] - 1);
}

uint32_t TGroupListRows::FindName(std::string_view name) const {
  uint32_t low = 0, high = static_cast<uint32_t>(ids_.size());
  while (low < high) {
    const uint32_t mid = low + (high - low) / 2;
    if (Name(mid) < name) low = mid + 1;
    else high = mid;
  }
  return low < ids_.size() && Name(low) == name ? low : static_cast<uint32_t>(ids_.size());
}

void TGroupListRows::ReadSubscriptions() {
  subscriptionGeneration_ = list_.SubscriptionGeneration();
  subscribedMark_.assign(ids_.size(), 0);
  subscribed_.clear();
  const TGroupTree* tree = groups_ ? groups_ : gGroups;
  if (!tree) return;
  tree->ForEachNode([&](TGroup& node) {
    if (!node.IsNewsgroup()) return;
    const uint32_t index = FindName(node.Name());
    if (index < ids_.size() && !subscribedMark_[index]) {
      subscribedMark_[index] = 1;
      subscribed_.push_back(index);
    }
  });
  std::sort(subscribed_.begin(), subscribed_.end());
}

void TGroupListRows::ApplyFilter() {
  if (list_.IndexGeneration() != indexGeneration_) return Rebuild();
  FilterSet(subscribedOnly_ ? &subscribed_ : nullptr);
  // Unlike a plain copy of the set, the rows keep the sort the header shows.
  if (sortColumn_ >= 0 || sortDescending_) SortRows();
}

// The rows of `set` (all names when null) whose name holds the filter text.
void TGroupListRows::FilterSet(const std::vector<uint32_t>* set) {
  rows_.clear();
  if (filter_.empty()) {
    if (set) {
      rows_ = *set;
    } else {
      rows_.resize(ids_.size());
      for (uint32_t i = 0; i < rows_.size(); ++i) rows_[i] = i;
    }
    return;
  }
  if (filter_.find('\n') != std::string::npos) return;
  if (set) {
    for (uint32_t index : *set)
      if (Name(index).find(filter_) != std::string_view::npos) rows_.push_back(index);
    return;
  }
  // One search through the whole block of names; a hit moves on to the next name, so
  // every name is matched once.
  TBusyScope busy;
  rows_.reserve(ids_.size() / (2 * filter_.size()) + 128);
  const char* base = text_.data();
  size_t from = 0;
  uint32_t index = 0;
  while (from < text_.size()) {
    const void* hit = memmem(base + from, text_.size() - from, filter_.data(), filter_.size());
    if (!hit) break;
    const auto at = static_cast<uint32_t>(static_cast<const char*>(hit) - base);
    index = static_cast<uint32_t>(std::upper_bound(starts_.begin() + index, starts_.end(), at) - starts_.begin() - 1);
    rows_.push_back(index);
    from = starts_[index + 1];
  }
}

bool TGroupListRows::SetFilter(std::string text) {
  if (text == filter_) return false;
  filter_ = std::move(text);
  ApplyFilter();
  return true;
}

bool TGroupListRows::SetSubscribedOnly(bool on) {
  if (on == subscribedOnly_) return false;
  subscribedOnly_ = on;
  ApplyFilter();
  return true;
}

bool TGroupListRows::Sort(int column, bool descending, bool force) {
  if (column < -1 || column >= static_cast<int>(columns_.size())) {
    LogError("Attempt to sort by invalid sort index.", 0);
    return false;
  }
  if (column != sortColumn_ || force) {
    sortColumn_ = column;
    sortDescending_ = descending;
    SortRows();
  } else if (descending != sortDescending_) {
    sortDescending_ = descending;
    std::reverse(rows_.begin(), rows_.end());
  }
  return true;
}

void TGroupListRows::SortRows() {
  if (sortColumn_ < 0) {
    std::stable_sort(rows_.begin(), rows_.end(), [this](uint32_t a, uint32_t b) { return NameLess(Name(a), Name(b)); });
  } else {
    const std::vector<uint32_t>& counts = ColumnCounts(static_cast<size_t>(sortColumn_));
    auto countOf = [&](uint32_t index) { return ids_[index] < counts.size() ? counts[ids_[index]] : 0u; };
    std::stable_sort(rows_.begin(), rows_.end(), [&](uint32_t a, uint32_t b) { return countOf(a) < countOf(b); });
  }
  if (sortDescending_) std::reverse(rows_.begin(), rows_.end());
}

void TGroupListRows::ClickColumn(int column) {
  const bool descending = column == sortColumn_ ? !sortDescending_ : column >= 0;
  Sort(column, descending, false);
}

std::string_view TGroupListRows::RowName(size_t row) const { return row < rows_.size() ? Name(rows_[row]) : ""; }

const std::vector<uint32_t>& TGroupListRows::ColumnCounts(size_t column) {
  FColumnCounts& entry = columnCounts_[column];
  const uint64_t generation = list_.CountsGeneration();
  if (entry.generation != generation) {
    entry.generation = generation;
    try {
      entry.counts = list_.ServerCounts(*columns_[column]);
    } catch (const std::exception& e) {
      entry.counts.clear();
      LogException(e, "TGroupListRows.ColumnCounts");
    }
  }
  return entry.counts;
}

uint32_t TGroupListRows::ArticleCount(size_t row, size_t column) {
  if (row >= rows_.size() || column >= columns_.size()) return 0;
  const std::vector<uint32_t>& counts = ColumnCounts(column);
  const uint32_t id = ids_[rows_[row]];
  return id < counts.size() ? counts[id] : 0;
}

bool TGroupListRows::IsSubscribedRow(size_t row) const {
  return row < rows_.size() && subscribedMark_[rows_[row]] != 0;
}

size_t TGroupListRows::RowOf(std::string_view name) const {
  const uint32_t index = FindName(name);
  if (index >= ids_.size()) return rows_.size();
  return static_cast<size_t>(std::find(rows_.begin(), rows_.end(), index) - rows_.begin());
}

bool TGroupListRows::ForceCount(size_t row, size_t column, uint32_t count) {
  if (row >= rows_.size() || column >= columns_.size()) return false;
  return list_.ForceCount(*columns_[column], std::string(RowName(row)), count);
}

}  // namespace zev
