#include "db/GroupSection.h"

#include <algorithm>
#include <limits>

#include "core/Log.h"
#include "core/SanitizeName.h"
#include "core/TextUtil.h"
#include "core/ZevIniFile.h"

namespace zev {

namespace {

constexpr uint32_t kDefaultMaxHeaders = 100000;
constexpr const char* kSortColumnNames[kSortColumnCount] = {
    "Offset", "Size", "DateTime", "Part", "FSet", "Subject", "Author",
    "Filename", "Date", "Time", "Directory", "Score", "Lines"};

uint32_t ReadU32(const TZevIniFile& ini, const std::string& section, const char* key, uint32_t def) {
  int64_t v = ini.ReadInteger(section, key, def);
  return v < 0 || v > std::numeric_limits<uint32_t>::max() ? def : static_cast<uint32_t>(v);
}

void WriteOrDelete(TZevIniFile& ini, const std::string& section, const char* key, bool write, int64_t value) {
  if (write) ini.WriteInteger(section, key, value);
  else ini.DeleteKey(section, key);
}

void ReadOwnSettings(const TZevIniFile& ini, const std::string& section, TGroup& node,
                     const FGroupSectionContext& context) {
  std::string dir = ini.ReadString(section, "DecodeDir", "");
  if (dir.empty()) dir = node.Parent() ? node.Parent()->EffectiveDecodeDir() : context.defaultDownloadDir;
  node.SetDecodeDir(CleanDecodeDir(dir));
  node.HeaderScore = static_cast<int8_t>(std::clamp<int64_t>(ini.ReadInteger(section, "HeaderScore", 0), -128, 127));
  node.MaxHeaders = ReadU32(ini, section, "MaxHeaders", kDefaultMaxHeaders);
}

void ReadSortOrder(const TZevIniFile& ini, const std::string& section, TGroup& node, bool extraColumns) {
  TGroup::FSortOrder order = node.OwnSortOrder();
  ParseSortColumn(ini.ReadString(section, "PrimarySort", "Subject"), extraColumns, order.primary,
                  order.primaryReverse);
  ParseSortColumn(ini.ReadString(section, "SecondarySort", "Filename"), extraColumns, order.secondary,
                  order.secondaryReverse);
  node.SetOwnSortOrder(order);
}

void WriteSortOrder(TZevIniFile& ini, const std::string& section, const TGroup& node) {
  if (!node.Has(gfCustomSort)) {
    ini.DeleteKey(section, "PrimarySort");
    ini.DeleteKey(section, "SecondarySort");
    return;
  }
  TGroup::FSortOrder order = node.OwnSortOrder();
  ini.WriteString(section, "PrimarySort", SortColumnText(order.primary, order.primaryReverse));
  ini.WriteString(section, "SecondarySort", SortColumnText(order.secondary, order.secondaryReverse));
}

}  // namespace

std::string GroupSectionName(int n) { return "Group:" + std::to_string(n); }

std::string SortColumnText(uint8_t column, bool reverse) {
  std::string name = column < kSortColumnCount ? kSortColumnNames[column] : std::to_string(column);
  return reverse ? "-" + name : name;
}

bool ParseSortColumn(const std::string& text, bool extraColumns, uint8_t& column, bool& reverse) {
  bool reversed = !text.empty() && text[0] == '-';
  std::string_view name = std::string_view(text).substr(reversed ? 1 : 0);
  int limit = extraColumns ? kSortColumnCount : kFirstTestSortColumn;
  for (int i = 0; i < limit; ++i) {
    if (!EqualsIgnoreCase(name, kSortColumnNames[i])) continue;
    column = static_cast<uint8_t>(i);
    reverse = reversed;
    return true;
  }
  return false;
}

std::string CleanDecodeDir(const std::string& dir) {
  std::string clean = SanitizeName(dir, true, kNameLimit);
  if (clean.empty() || clean.back() != '/') clean += '/';
  return clean;
}

FGroupSectionHead ReadGroupHead(const TZevIniFile& ini, const std::string& section) {
  FGroupSectionHead head;
  uint8_t type = 0;
  ini.ReadHexBytes(section, "Type", 1, &type);
  if (type > gnNewsgroup) {
    LogError(FormatText("Unknown group node type %u in [%s], read as a folder.", type, section.c_str()));
    type = gnFolder;
  }
  head.type = static_cast<TGroupNodeType>(type);
  head.parent = ini.ReadInteger(section, "Parent", 0);
  head.name = ini.ReadString(section, "Name", "<unnamed>");
  return head;
}

void ReadGroupSettings(const TZevIniFile& ini, const std::string& section, TGroup& node,
                       const FGroupSectionContext& context) {
  uint32_t flags = node.Parent() ? GroupFlagBit(gfInherit) : 0;
  if (ini.ValueExists(section, "Flags")) ini.ReadHexBytes(section, "Flags", sizeof flags, &flags);
  // A root's sort order and directory are where every inheriting node ends up.
  if (!node.Parent()) flags = (flags | GroupFlagBit(gfCustomSort)) & ~GroupFlagBit(gfInherit);
  node.Flags = flags;
  if (node.Has(gfInherit)) node.InheritFromParent();
  else ReadOwnSettings(ini, section, node, context);
  node.LastOpen = ReadU32(ini, section, "LastOpen", 0);
  if (context.maxHistory > 0) node.SetFilterHist(ini.ReadString(section, "FilterHist", ""));
  node.NewCount = ReadU32(ini, section, "NewCount", 0);
  node.WantCount = ReadU32(ini, section, "WantCount", 0);
  node.KillCount = ReadU32(ini, section, "KillCount", 0);
  if (node.Has(gfCustomSort)) ReadSortOrder(ini, section, node, context.extraSortColumns);
}

void WriteGroupSection(TZevIniFile& ini, const std::string& section, const TGroup& node, int parentIndex,
                       const FGroupSectionContext& context) {
  uint8_t type = node.Type();
  ini.WriteHexBytes(section, "Type", 1, &type);
  ini.WriteInteger(section, "Parent", parentIndex);
  ini.WriteString(section, "Name", node.Name());
  uint32_t flags = node.Flags.load();
  ini.WriteHexBytes(section, "Flags", sizeof flags, &flags);
  bool own = !node.Has(gfInherit);
  if (own) ini.WriteString(section, "DecodeDir", node.DecodeDir());
  else ini.DeleteKey(section, "DecodeDir");
  WriteOrDelete(ini, section, "HeaderScore", own && node.HeaderScore != 0, node.HeaderScore);
  WriteOrDelete(ini, section, "MaxHeaders", node.MaxHeaders != kDefaultMaxHeaders && node.Has(gfHeaderLimit),
                node.MaxHeaders);
  WriteOrDelete(ini, section, "LastOpen", node.LastOpen != 0, node.LastOpen);
  std::string history = node.FilterHist();
  if (context.maxHistory > 0 && !history.empty()) ini.WriteString(section, "FilterHist", history);
  else ini.DeleteKey(section, "FilterHist");
  uint64_t newCount = static_cast<uint64_t>(node.NewCount) + node.PendingNew;
  WriteOrDelete(ini, section, "NewCount", newCount != 0, static_cast<int64_t>(std::min<uint64_t>(newCount, UINT32_MAX)));
  WriteOrDelete(ini, section, "WantCount", node.WantCount != 0, node.WantCount);
  WriteOrDelete(ini, section, "KillCount", node.KillCount != 0, node.KillCount);
  WriteSortOrder(ini, section, node);
}

}  // namespace zev
