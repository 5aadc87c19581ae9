#pragma once
// The start-up decisions about stale database files: whether the article database or the
// per-server newsgroup lists are rebuilt from nothing, and the files that go with them.
// Failures to delete a file are ignored; the rebuild recreates what is missing.
#include <ctime>
#include <string>

namespace zev {

class TZevIniFile;

struct FRebuild {
  bool articles = false;    // "MsgLst.zev" missing, or older than AutoExpire days (then deleted)
  bool groupLists = false;  // "GrpLst.zev" missing
};

FRebuild DecideRebuilds(const std::string& dataDir, int autoExpireDays, std::time_t now);

// Deletes "NewCount", "WantCount" and "KillCount" of every "Group:<n>" section.
void ResetGroupCounters(TZevIniFile& ini);

// The directory of a news server's own files: data directory + host + "." + port + "/".
// The host is cleaned as a plain name, so a hostile or mistyped host can never point
// outside the data directory.
std::string ServerDirectory(const std::string& dataDir, const std::string& host, int port);

// For every news server ("Server:<n>" with Type 2): with `rebuild.groupLists` its
// "GrpLst.zev" is deleted, with `rebuild.articles` every other "*.zev" file. True when
// anything was visited (the caller then writes the settings file).
bool RemoveStaleServerFiles(const TZevIniFile& ini, const std::string& dataDir, const FRebuild& rebuild);

}  // namespace zev
