#pragma once
// One "Server:N" section of the settings file: the stored form of a server-tree node.
// Connection slots are never stored; a news server's slots follow from its MaxConn.
#include <cstdint>
#include <string>

#include "core/DateTime.h"
#include "db/Server.h"

namespace zev {

class TZevIniFile;

// A news server offers at most this many simultaneous connections; a stored MaxConn
// above it is lowered so that a damaged file cannot create millions of slots.
constexpr uint32_t kMaxConnections = 100;

struct FServerSectionHead {
  TServerNodeType type = snRoot;
  int64_t parent = 0;  // section number of the parent, negative for a root
  std::string name;
};

std::string ServerSectionName(int n);

// "Type", "Parent" and "Name"; a type this program does not know reads as a folder.
FServerSectionHead ReadServerHead(const TZevIniFile& ini, const std::string& section);
// Everything else, into a node already placed in the tree (its parent's settings are
// final, so an inheriting node copies them). `now` is the last reset of a period that
// has none stored.
void ReadServerSettings(const TZevIniFile& ini, const std::string& section, TServer& node, TDateTime now);
// Writes every key of the node; keys that hold their default are deleted.
void WriteServerSection(TZevIniFile& ini, const std::string& section, const TServer& node, int parentIndex);

// The stored form of a password with sfCryptPass: each byte lowered by 13. It hides the
// password from a casual look at the file and nothing more.
std::string ScramblePassword(const std::string& pass);
std::string UnscramblePassword(const std::string& stored);

// "Normal", "Headers", "Articles", "Dormant", or the decimal number of another mode.
std::string ServerModeName(uint32_t mode);
uint32_t ParseServerMode(const std::string& text);

}  // namespace zev
