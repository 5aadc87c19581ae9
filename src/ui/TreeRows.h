#pragma once
// The snapshots of the server tree and the group tree that their views show: one row per
// node, in tree order, with the texts of the layout's columns.
#include <functional>
#include <vector>

#include "core/ColumnLayout.h"
#include "core/DateTime.h"
#include "ui/NodeTreeModel.h"

namespace zev {
class TGroup;
class TGroupTree;
class TServerTree;
}

namespace zev::ui {

// What the group columns need to know of the queue and the server-groups.
struct FGroupFigures {
  uint32_t queuedBodies = 0;   // "Marked"
  int pendingServers = 0;      // servers with header work queued for the group
  int servers = 0;             // servers that carry the group
  uint32_t articles = 0;       // "Total"
};

std::vector<FNodeRow> ServerTreeRows(const TServerTree& tree, const std::vector<FColumn>& columns, int64_t nowTick);
std::vector<FNodeRow> GroupTreeRows(const TGroupTree& tree, const std::vector<FColumn>& columns, TDateTime now,
                                    const std::function<FGroupFigures(const TGroup&)>& figures);

}  // namespace zev::ui
