#pragma once
// Column layouts of the four grids: comma text of entries "<letter>:<width>[<align>]",
// width in pixels or "A" for automatic, alignment "C", "L" or "R" (server and group trees).
// The entries' order is the column order; the letter identifies the column.
#include <string>
#include <string_view>

namespace zev {

enum class TColumnGrid { Articles, Queue, Servers, Groups };

struct FColumn {
  char letter = 0;
  int width = 100;        // pixels; ignored when autoWidth
  bool autoWidth = false;
  char align = 'L';       // 'C', 'L' or 'R'
};

FColumn ParseColumnEntry(TColumnGrid grid, std::string_view entry);
std::string ColumnEntryText(TColumnGrid grid, const FColumn& column);
// The column's caption, translated; "<letter> (unknown)" for a letter the grid lacks.
std::string ColumnCaption(TColumnGrid grid, char letter);
char DefaultColumnAlign(TColumnGrid grid, char letter);

}  // namespace zev
