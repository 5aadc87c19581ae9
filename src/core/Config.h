#pragma once
// The typed view of the settings sections "Config", "Colors" and "Confirmations".
// Load reads every key with its default and converts files written by older versions;
// Save writes everything back in a fixed order. The sections of servers, groups and view
// filters belong to their own classes and are only touched here by the migrations.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Log.h"

namespace zev {

class TZevIniFile;
class TUiHost;

// Bits of the configuration's Flags, by bit number.
enum TConfigFlag : int {
  cfCheckAllDecodeDirs = 0,
  cfCheckAllCSVInfo = 1,
  cfInternalImageViewer = 2,
  cfInternalTextViewer = 3,
  cfQueuedOrder = 4,              // same-score download order "queued" (clear: "expiration")
  cfAuthorNamesOnly = 5,
  cfManualCacheSizes = 6,
  cfWarningsNone = 7,
  cfWarningsVerbose = 8,          // bits 7 and 8 both clear: "Normal"
  cfSkipFileCheck = 9,
  cfNewWhenAllPartsNew = 10,
  cfMarkReadWhenDownloaded = 11,
  cfMarkWhenAdjustingScore = 12,
  cfUseTrash = 13,
  cfIgnore411 = 14,
  cfStartInTray = 15,
  cfIgnoreMsgIdMismatch = 16,
  cfNoDelayedDisconnect = 17,
  cfSubjectInCsvComment = 18,
  cfAutoQuickFilter = 19,
  cfHideArticleGrid = 20,
  cfFlatToolbars = 21,
  cfNoFreeSpaceCheck = 22,
  cfFreeSpaceOnRoot = 23,         // kept as stored; on Linux the target's own file system is asked
  cfShowUnavailableMenus = 24,
  cfHideQueueGrid = 25,
  cfIgnore423 = 27,
  cfLowerPriorityWhenOffline = 28,
  cfMarkIncompleteWants = 30,
};

// Colour roles: 0..12 paint articles, 13..19 paint queue entries.
enum TColorRole : int {
  crNew, crOld, crBad, crGood, crMarked, crDownloaded, crWanted, crKilled, crCSVInfo, crCSVName,
  crCSVExact, crDiskName, crDiskExact, crQueued, crHandled, crDecodeError, crBadPath, crDelayed,
  crScheduled, crDownloading
};
constexpr int kColorCount = 20;
const char* ColorRoleName(int role);

enum TConfirmation : int {
  cnMarkIncomplete, cnMarkExisting, cnMarkDownloaded, cnDeleteServer, cnDeleteGroup, cnDeleteFile,
  cnDeleteROFile, cnReload
};
constexpr int kConfirmationCount = 8;
const char* ConfirmationName(int confirmation);

struct FWindowGeometry {
  int left = 0, top = 0, width = 640, height = 480;
  bool maximized = false;
};

class TConfig {
 public:
  // `defaultDataDir` is the data directory used when "DataStore" is absent, and the value
  // for which the key is deleted on save; empty means the settings file's directory.
  // `host` answers the Retry/Ignore question when the file cannot be written (no host:
  // Ignore).
  explicit TConfig(TZevIniFile& ini, std::string defaultDataDir = {}, TUiHost* host = nullptr);

  void Load();
  void Save();
  // Writes the settings file, asking Retry/Ignore while it fails. False when ignored.
  bool UpdateFileWithRetry();

  // The database scan is due when DeleteExpired days have passed since DBScanDate.
  bool DbScanDue() const;
  bool DbScanDue(std::chrono::year_month_day today) const;
  // Stores today (or, back-dated, today minus DeleteExpired days) as DBScanDate.
  void SetDbScanDate(bool backDate);
  void SetDbScanDate(bool backDate, std::chrono::year_month_day today);

  bool Has(int bit) const { return bit >= 0 && bit < 32 && (Flags >> bit & 1u); }
  void Include(int bit) { if (bit >= 0 && bit < 32) Flags |= 1u << bit; }
  void Exclude(int bit) { if (bit >= 0 && bit < 32) Flags &= ~(1u << bit); }
  TWarningsLevel WarningsLevel() const;

  // Position of the first entry of Columns / QueueColumns with that letter, or -1.
  int ColumnIndex(char letter) const;
  int QueueColumnIndex(char letter) const;

  // Main window geometry ("Left", "Top", "Width", "Height"; a negative height means
  // maximized). Missing keys get the centred 640 x 480 default, written at once.
  FWindowGeometry ReadWindowGeometry(int screenWidth, int screenHeight);
  void WriteWindowGeometry(const FWindowGeometry& g);

  bool IsBold(int role) const { return BoldSet >> role & 1u; }
  bool IsItalic(int role) const { return ItalicSet >> role & 1u; }
  bool IsUnderline(int role) const { return UnderlineSet >> role & 1u; }
  bool IsStrikeOut(int role) const { return StrikeOutSet >> role & 1u; }

  TZevIniFile& Ini() const { return ini_; }
  const std::string& DefaultDataDir() const { return defaultDataDir_; }

  // The fields, in the order of the settings file.
  uint32_t Flags = 0;
  std::string DataStore;            // always ends with "/"
  int32_t SameGroupScore = 1;
  int32_t FirstPartScore = 1;
  int32_t AutoExpire = 7;
  int32_t DeleteExpired = 1;
  uint32_t FCExactSizeDiff = 5;
  uint32_t FCNameSizeDiff = 25;
  std::vector<std::string> ExtraDirs, FCCSV, WCSV, KCSV;
  uint32_t ArtListFontSize = 10;
  std::vector<std::string> Columns, QueueColumns, GroupsColumns, ServersColumns;
  uint8_t CaptionMode = 0;
  std::string CaptionString;        // UTF-8
  uint8_t StatusBarMode = 0;
  int32_t MaxHistory = 10;
  uint32_t FGColors[kColorCount] = {};
  uint32_t BGColors[kColorCount] = {};
  uint32_t BoldSet = 0, ItalicSet = 0, UnderlineSet = 0, StrikeOutSet = 0;
  int32_t DefaultStyle = 6;
  // Page cache sizes in bytes. The news store reads and adjusts these.
  int32_t GrpCacheSize = 524288;
  int32_t MsgCacheSize = 4194304;
  int32_t AuthCacheSize = 262144;
  int32_t SubjCacheSize = 524288;
  int32_t FileCacheSize = 524288;
  int32_t DirCacheSize = 262144;
  int32_t FileCheckCacheSize = 1048576;
  int32_t ReserveSpace = 10240;     // kB
  std::string TrimCharList;
  std::string InvalidCharList;
  uint8_t ShutdownMethod = 4;
  uint8_t QuickFilterMethod = 1;
  std::string NewsgroupsHistory;    // comma text
  bool ConfirmAnswer[kConfirmationCount] = {};
  bool ConfirmAuto[kConfirmationCount] = {};

 private:
  void LoadFlags(int64_t iniVersion);
  void LoadNumbers();
  void LoadLists();
  void LoadLayoutsAndCaches();
  void LoadNamesAndHistory();
  void LoadConfirmations();
  void LoadColors(int64_t iniVersion);
  void Migrate(int64_t iniVersion);
  void MigrateViewFilters();
  void MigrateServerLimits();
  void SaveLists();
  void SaveConfirmations();
  void SaveColors();

  TZevIniFile& ini_;
  std::string defaultDataDir_;
  TUiHost* host_;
};

extern TConfig* gConfig;

// The Flags of a file that has none: check existing files in all decode directories and
// in all CSV files.
constexpr uint32_t kDefaultConfigFlags = (1u << cfCheckAllDecodeDirs) | (1u << cfCheckAllCSVInfo);

}  // namespace zev
