#pragma once
// The rows of the Newsgroups grid: one row per newsgroup of the group list, one column per
// news server showing that server's article count. The rows can be limited to subscribed
// newsgroups, filtered by a substring of the name and sorted by name or by a server's
// counts.
//
// All names are read once into one block of text (a list of 150,000 groups takes about
// 5 MB), so that filtering and sorting never touch the index; a server's counts are read
// from its count file when a cell or a sort first needs them after a change.
//
// User-interface thread only: the subscribed newsgroups come from the group tree.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

class TGroupList;
class TGroupTree;
class TServer;

class TGroupListRows {
 public:
  // What Update found.
  enum TChange { rcNone, rcCounts, rcRows };

  // `groups` is the tree whose newsgroups count as subscribed (nullptr: gGroups).
  explicit TGroupListRows(TGroupList& list, const TGroupTree* groups = nullptr);

  // The news servers shown as columns, in the server tree's order.
  void SetServerColumns(std::vector<TServer*> servers);
  const std::vector<TServer*>& ServerColumns() const { return columns_; }

  // Catches up with the list: new names rebuild the rows, changed subscriptions renew the
  // marks (and, in subscribed-only mode, the rows), changed counts only need a repaint.
  TChange Update();
  // Reads every name from the index anew, then filters and sorts.
  void Rebuild();
  // Rows from the chosen set (all or subscribed newsgroups), filtered, in the current sort.
  void ApplyFilter();
  // Both return whether anything changed.
  bool SetFilter(std::string text);
  bool SetSubscribedOnly(bool on);
  const std::string& FilterText() const { return filter_; }
  bool SubscribedOnly() const { return subscribedOnly_; }

  // `column` -1 sorts by name (case-insensitive), otherwise by the counts of server column
  // `column`, ascending before `descending` reverses them. The same column and direction
  // again do nothing unless `force`. False for a column that does not exist.
  bool Sort(int column, bool descending, bool force);
  // The header was clicked: the current column turns its direction; another server column
  // starts descending (most articles first), the name column ascending.
  void ClickColumn(int column);
  int SortColumn() const { return sortColumn_; }
  bool SortDescending() const { return sortDescending_; }

  size_t RowCount() const { return rows_.size(); }
  // Newsgroups in the index, whatever the filter shows.
  size_t TotalGroups() const { return ids_.size(); }
  // Rows count from 0; "" for a row that does not exist.
  std::string_view RowName(size_t row) const;
  // The count of server column `column` for the row; 0 when not carried or out of range.
  uint32_t ArticleCount(size_t row, size_t column);
  bool IsSubscribedRow(size_t row) const;
  // The row showing `name`, or RowCount() when none does.
  size_t RowOf(std::string_view name) const;
  // Force Exist (1) and Force NonExist (0) for the row and server column.
  bool ForceCount(size_t row, size_t column, uint32_t count);

 private:
  struct FColumnCounts {
    std::vector<uint32_t> counts;
    uint64_t generation = 0;
  };

  std::string_view Name(uint32_t index) const;
  uint32_t FindName(std::string_view name) const;  // ids_.size() when absent
  void ReadSubscriptions();
  void FilterSet(const std::vector<uint32_t>* set);
  void SortRows();
  const std::vector<uint32_t>& ColumnCounts(size_t column);

  TGroupList& list_;
  const TGroupTree* groups_;
  std::vector<TServer*> columns_;
  std::vector<FColumnCounts> columnCounts_;

  // Every name of the index in key order, each followed by "\n" (no name holds one), with
  // the start of each and one more start past the end, and the names' GroupIds.
  std::string text_;
  std::vector<uint32_t> starts_;
  std::vector<uint32_t> ids_;
  std::vector<uint8_t> subscribedMark_;  // per name
  std::vector<uint32_t> subscribed_;     // indexes of the subscribed names, in key order
  std::vector<uint32_t> rows_;           // indexes of the names shown

  std::string filter_;
  bool subscribedOnly_ = false;
  int sortColumn_ = -1;
  bool sortDescending_ = false;
  uint64_t indexGeneration_ = 0, subscriptionGeneration_ = 0, countsGeneration_ = 0;
};

}  // namespace zev
