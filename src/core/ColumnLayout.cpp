#include "core/ColumnLayout.h"

#include <cctype>
#include <cstring>

#include "core/Intl.h"
#include "core/TextUtil.h"

namespace zev {
namespace {

struct FCaption {
  char letter;
  const char* caption;
};

constexpr FCaption kArticleCaptions[] = {
    {'A', "Author"}, {'B', "Size"},     {'C', "Score"},     {'D', "Date/Time"},          {'F', "FileName"},
    {'L', "Lines"},  {'M', "MessageID"}, {'N', "Files"},    {'O', "Download Directory"}, {'P', "Parts"},
    {'S', "Subject"}, {'T', "Time"},    {'Y', "Date"}};
constexpr FCaption kQueueCaptions[] = {{'A', "ArticleIDs"}, {'D', "Data"},   {'G', "Group"}, {'H', "Handler"},
                                       {'S', "Score"},      {'T', "Target"}, {'Y', "Type"}};
constexpr FCaption kServerCaptions[] = {{'A', "Avg kB/s"},     {'C', "Cur kB/s"},      {'G', "Newsgroup"},
                                        {'M', "Month"},        {'O', "Last Command"}, {'R', "Last Response"},
                                        {'S', "Status"},       {'T', "Today"}};
constexpr FCaption kGroupCaptions[] = {{'E', "Next Refresh"}, {'K', "Killed"}, {'L', "Last Refresh"},
                                       {'M', "Marked"},       {'N', "New"},    {'O', "Last Open"},
                                       {'R', "Ready"},        {'T', "Total"},  {'W', "Wanted"}};

template <size_t N>
const char* Find(const FCaption (&table)[N], char letter) {
  for (const FCaption& c : table)
    if (c.letter == letter) return c.caption;
  return nullptr;
}

bool IsAlign(char c) { return c == 'C' || c == 'L' || c == 'R'; }

}  // namespace

char DefaultColumnAlign(TColumnGrid grid, char letter) {
  if (grid == TColumnGrid::Servers && std::strchr("ACMT", letter) && letter) return 'C';
  if (grid == TColumnGrid::Groups && std::strchr("KMNRTW", letter) && letter) return 'C';
  return 'L';
}

FColumn ParseColumnEntry(TColumnGrid grid, std::string_view entry) {
  FColumn col;
  if (entry.empty()) return col;
  col.letter = entry.front();
  char last = static_cast<char>(std::toupper(static_cast<unsigned char>(entry.back())));
  col.align = IsAlign(last) ? last : DefaultColumnAlign(grid, col.letter);
  std::string_view rest = entry.size() > 2 ? entry.substr(2) : std::string_view{};
  bool single_a = rest.size() == 1 && (rest[0] == 'A' || rest[0] == 'a');
  if (!rest.empty() && !std::isdigit(static_cast<unsigned char>(rest.back())) && !single_a) rest.remove_suffix(1);
  if (rest.size() == 1 && (rest[0] == 'A' || rest[0] == 'a')) {
    col.autoWidth = true;
    return col;
  }
  int64_t width = 0;
  col.width = ParseInt64(rest, width) && width >= 0 && width <= 100000 ? static_cast<int>(width) : 100;
  return col;
}

std::string ColumnEntryText(TColumnGrid grid, const FColumn& column) {
  std::string text(1, column.letter);
  text += ':';
  text += column.autoWidth ? std::string("A") : std::to_string(column.width);
  if (grid == TColumnGrid::Servers || grid == TColumnGrid::Groups) text += column.align;
  return text;
}

std::string ColumnCaption(TColumnGrid grid, char letter) {
  const char* caption = nullptr;
  switch (grid) {
    case TColumnGrid::Articles: caption = Find(kArticleCaptions, letter); break;
    case TColumnGrid::Queue: caption = Find(kQueueCaptions, letter); break;
    case TColumnGrid::Servers: caption = Find(kServerCaptions, letter); break;
    case TColumnGrid::Groups: caption = Find(kGroupCaptions, letter); break;
  }
  if (caption) return Tr(caption);
  return std::string(1, letter) + " (" + Tr("unknown") + ")";
}

}  // namespace zev
