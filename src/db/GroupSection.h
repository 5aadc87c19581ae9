#pragma once
// One "Group:N" section of the settings file: the stored form of a group-tree node.
#include <cstdint>
#include <string>

#include "db/Group.h"

namespace zev {

class TZevIniFile;

struct FGroupSectionHead {
  TGroupNodeType type = gnRoot;
  int64_t parent = 0;  // section number of the parent, negative for a root
  std::string name;
};

// What reading and writing a section needs from outside the node.
struct FGroupSectionContext {
  std::string defaultDownloadDir;  // a root's decoding directory when none is stored
  int maxHistory = 10;             // the configuration's "MaxHistory": 0 keeps no filter history
  bool extraSortColumns = false;   // the "test1" switch: sort columns 8..12 may be read
};

std::string GroupSectionName(int n);

// "Type", "Parent" and "Name"; a type this program does not know reads as a folder.
FGroupSectionHead ReadGroupHead(const TZevIniFile& ini, const std::string& section);
// Everything else, into a node already placed in the tree.
void ReadGroupSettings(const TZevIniFile& ini, const std::string& section, TGroup& node,
                       const FGroupSectionContext& context);
void WriteGroupSection(TZevIniFile& ini, const std::string& section, const TGroup& node, int parentIndex,
                       const FGroupSectionContext& context);

// "Subject", "-Filename", ...: the column name, "-" first for reversed order.
std::string SortColumnText(uint8_t column, bool reverse);
// False (and nothing changed) for an unknown name, or a test column without the switch.
bool ParseSortColumn(const std::string& text, bool extraColumns, uint8_t& column, bool& reverse);

// A decoding directory as stored: cleaned as a path of at most 260 characters, with a
// trailing "/".
std::string CleanDecodeDir(const std::string& dir);

}  // namespace zev
