#include "core/Config.h"

#include <ctime>
#include <limits>

#include "core/ColumnLayout.h"
#include "core/CommaText.h"
#include "core/ConfigNames.h"
#include "core/Intl.h"
#include "core/TextUtil.h"
#include "core/UiHost.h"
#include "core/ZevIniFile.h"

namespace zev {

TConfig* gConfig = nullptr;

namespace {

constexpr const char* kConfig = "Config";
constexpr const char* kColors = "Colors";
constexpr const char* kConfirmations = "Confirmations";
constexpr int64_t kSavedIniVersion = 6;
constexpr int64_t kFirstScanDate = 20010101;

constexpr const char* kDefaultColumns = "C:32,S:300,F:100,A:100,D:100,B:50,P:50,O:100";
constexpr const char* kDefaultQueueColumns = "S:32,Y:50,H:50,T:50,G:100,D:500,A:500";
constexpr const char* kDefaultServersColumns = "M:60C,T:60C,A:60C,C:60C,S:150L,R:200L,O:200L,G:200L";
constexpr const char* kDefaultGroupsColumns = "M:60C,W:60C,N:60C,O:150L,L:150L,R:50C,E:150L";
constexpr const char* kDefaultTrimChars = " -_,.";
constexpr const char* kDefaultInvalidChars = "\\/:*?\"<>|";

// The top byte of a stored foreground colour carries the entry's font style.
constexpr uint32_t kStyleBold = 0x01, kStyleItalic = 0x02, kStyleUnderline = 0x04, kStyleStrikeOut = 0x08;

struct FColorDefault {
  const char* name;
  uint32_t fg, bg;  // 0x00BBGGRR
};

constexpr FColorDefault kColorDefaults[kColorCount] = {
    {"New", 0x000000, 0x00FFFF},        {"Old", 0x000000, 0xFFFFFF},         {"Bad", 0xFFFFFF, 0x0000FF},
    {"Good", 0xFFFFFF, 0x008000},       {"Marked", 0xFFFFFF | kStyleBold << 24, 0xFF0000},
    {"Downloaded", 0xFFFFFF, 0x800000}, {"Wanted", 0xFFFFFF, 0x008000},      {"Killed", 0xFFFFFF, 0x0000FF},
    {"CSVInfo", 0x000000, 0x00FF00},    {"CSVName", 0xFFFFFF, 0x800000},     {"CSVExact", 0x00FFFF, 0x800000},
    {"DiskName", 0xFFFFFF, 0x000000},   {"DiskExact", 0x00FFFF, 0x000000},   {"Queued", 0x000000, 0xFFFFFF},
    {"Handled", 0x808080, 0xFFFFFF},    {"DecodeError", 0x0000FF, 0xFFFFFF}, {"BadPath", 0x800080, 0xFFFFFF},
    {"Delayed", 0xFF0000, 0xFFFFFF},    {"Scheduled", 0x800000, 0xFFFFFF},   {"Downloading", 0x008000, 0xFFFFFF}};

constexpr const char* kConfirmationNames[kConfirmationCount] = {
    "MarkIncomplete", "MarkExisting", "MarkDownloaded", "DeleteServer",
    "DeleteGroup",    "DeleteFile",   "DeleteROFile",   "Reload"};

// Loading reads DeleteGroup before DeleteServer; the order matters only for which keys a
// damaged file gets back first, but it is kept so files compare equal after a save.
constexpr TConfirmation kConfirmationLoadOrder[kConfirmationCount] = {
    cnMarkIncomplete, cnMarkExisting, cnMarkDownloaded, cnDeleteGroup,
    cnDeleteServer,   cnDeleteFile,   cnDeleteROFile,   cnReload};

template <typename T>
T ReadRanged(const TZevIniFile& ini, const char* key, T def) {
  int64_t v = ini.ReadInteger(kConfig, key, def);
  if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) return def;
  return static_cast<T>(v);
}

std::vector<std::string> ReadList(const TZevIniFile& ini, const char* key, const char* def) {
  std::vector<std::string> items = FromCommaText(ini.ReadString(kConfig, key, def));
  std::erase_if(items, [](const std::string& s) { return Trim(s).empty(); });
  return items;
}

// 32-bit values are stored as their four bytes, least significant first, whatever the
// machine's byte order.
uint32_t ReadHex32(const TZevIniFile& ini, std::string_view section, std::string_view key) {
  uint8_t b[4];
  ini.ReadHexBytes(section, key, 4, b);
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void WriteHex32(TZevIniFile& ini, std::string_view section, std::string_view key, uint32_t value) {
  uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                  static_cast<uint8_t>(value >> 24)};
  ini.WriteHexBytes(section, key, 4, b);
}

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::chrono::year_month_day LocalToday() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return std::chrono::year_month_day{std::chrono::year{tm.tm_year + 1900},
                                     std::chrono::month{static_cast<unsigned>(tm.tm_mon + 1)},
                                     std::chrono::day{static_cast<unsigned>(tm.tm_mday)}};
}

std::chrono::year_month_day DateFromNumber(int64_t v) {
  return std::chrono::year_month_day{std::chrono::year{static_cast<int>(v / 10000 % 100000)},
                                     std::chrono::month{static_cast<unsigned>(v / 100 % 100)},
                                     std::chrono::day{static_cast<unsigned>(v % 100)}};
}

int64_t NumberFromDate(std::chrono::year_month_day d) {
  return static_cast<int>(d.year()) * 10000LL + static_cast<unsigned>(d.month()) * 100 + static_cast<unsigned>(d.day());
}

}  // namespace

const char* ColorRoleName(int role) { return role >= 0 && role < kColorCount ? kColorDefaults[role].name : ""; }
const char* ConfirmationName(int c) { return c >= 0 && c < kConfirmationCount ? kConfirmationNames[c] : ""; }

TConfig::TConfig(TZevIniFile& ini, std::string defaultDataDir, TUiHost* host)
    : ini_(ini), defaultDataDir_(WithSlash(defaultDataDir.empty() ? ini.Directory() : std::move(defaultDataDir))),
      host_(host) {
  DataStore = defaultDataDir_;
  Flags = kDefaultConfigFlags;
  Columns = FromCommaText(kDefaultColumns);
  QueueColumns = FromCommaText(kDefaultQueueColumns);
  ServersColumns = FromCommaText(kDefaultServersColumns);
  GroupsColumns = FromCommaText(kDefaultGroupsColumns);
  CaptionString = "Zevrin (Zev2)";
  TrimCharList = kDefaultTrimChars;
  InvalidCharList = kDefaultInvalidChars;
  for (int i = 0; i < kColorCount; ++i) {
    FGColors[i] = kColorDefaults[i].fg & 0xFFFFFF;
    BGColors[i] = kColorDefaults[i].bg;
  }
  BoldSet = 1u << crMarked;
}

void TConfig::Load() {
  int64_t iniVersion = ini_.ReadInteger(kConfig, "INIVersion", 0);
  LoadFlags(iniVersion);
  DataStore = WithSlash(ini_.ReadString(kConfig, "DataStore", defaultDataDir_));
  LoadNumbers();
  LoadLists();
  LoadLayoutsAndCaches();
  LoadNamesAndHistory();
  LoadConfirmations();
  LoadColors(iniVersion);
  Migrate(iniVersion);
  SetWarningsLevel(WarningsLevel());
}

void TConfig::LoadFlags(int64_t iniVersion) {
  if (ini_.ValueExists(kConfig, "Flags")) {
    Flags = ReadHex32(ini_, kConfig, "Flags");
  } else {
    // Checking free space on the root of the target drive is a workaround for old
    // systems without per-directory free space; Linux asks the target's own file system.
    Flags = kDefaultConfigFlags;
  }
  if (iniVersion < 6) Exclude(cfAuthorNamesOnly);
}

void TConfig::LoadNumbers() {
  SameGroupScore = ReadRanged<int32_t>(ini_, "SameGroupScore", 1);
  FirstPartScore = ReadRanged<int32_t>(ini_, "FirstPartScore", 1);
  AutoExpire = ReadRanged<int32_t>(ini_, "AutoExpire", 7);
  DeleteExpired = ReadRanged<int32_t>(ini_, "DeleteExpired", 1);
  FCExactSizeDiff = ReadRanged<uint32_t>(ini_, "FCExactSizeDiff", 5);
  FCNameSizeDiff = ReadRanged<uint32_t>(ini_, "FCNameSizeDiff", 25);
}

void TConfig::LoadLists() {
  ExtraDirs = ReadList(ini_, "ExtraDirs", "");
  FCCSV = ReadList(ini_, "FCCSV", "");
  WCSV = ReadList(ini_, "WCSV", "");
  KCSV = ReadList(ini_, "KCSV", "");
  ArtListFontSize = ReadRanged<uint32_t>(ini_, "ArtListFontSize", 10);
}

void TConfig::LoadLayoutsAndCaches() {
  Columns = FromCommaText(ini_.ReadString(kConfig, "Columns", kDefaultColumns));
  QueueColumns = FromCommaText(ini_.ReadString(kConfig, "QueueColumns", kDefaultQueueColumns));
  ServersColumns = FromCommaText(ini_.ReadString(kConfig, "ServersColumns", kDefaultServersColumns));
  GroupsColumns = FromCommaText(ini_.ReadString(kConfig, "GroupsColumns", kDefaultGroupsColumns));
  CaptionMode = static_cast<uint8_t>(ini_.ReadInteger(kConfig, "CaptionMode", 0));
  StatusBarMode = static_cast<uint8_t>(ini_.ReadInteger(kConfig, "StatusBarMode", 0));
  CaptionString = ini_.ReadString(kConfig, "CaptionString", "Zevrin (Zev2)");
  DefaultStyle = ReadRanged<int32_t>(ini_, "DefaultStyle", 6);
  GrpCacheSize = ReadRanged<int32_t>(ini_, "GrpCacheSize", 524288);
  MsgCacheSize = ReadRanged<int32_t>(ini_, "MsgCacheSize", 4194304);
  AuthCacheSize = ReadRanged<int32_t>(ini_, "AuthCacheSize", 262144);
  SubjCacheSize = ReadRanged<int32_t>(ini_, "SubjCacheSize", 524288);
  FileCacheSize = ReadRanged<int32_t>(ini_, "FileCacheSize", 524288);
  DirCacheSize = ReadRanged<int32_t>(ini_, "DirCacheSize", 262144);
  FileCheckCacheSize = ReadRanged<int32_t>(ini_, "FileCheckCacheSize", 1048576);
  ReserveSpace = ReadRanged<int32_t>(ini_, "ReserveSpace", 10240);
}

void TConfig::LoadNamesAndHistory() {
  TrimCharList = UnescapeCharList(ini_.ReadString(kConfig, "TrimCharList", EscapeCharList(kDefaultTrimChars)));
  InvalidCharList = UnescapeCharList(ini_.ReadString(kConfig, "InvalidCharList", EscapeCharList(kDefaultInvalidChars)));
  ShutdownMethod = ParseShutdownMethod(ini_.ReadString(kConfig, "ShutdownMethod", "Poweroff"));
  MaxHistory = ReadRanged<int32_t>(ini_, "MaxHistory", 10);
  if (MaxHistory < 0 || MaxHistory > 255) MaxHistory = 10;
  QuickFilterMethod = ParseQuickFilterMethod(ini_.ReadString(kConfig, "QuickFilterMethod", "Case Insensitive"));
  NewsgroupsHistory = MaxHistory > 0 ? ini_.ReadString(kConfig, "NewsgroupsHistory", "") : "";
}

void TConfig::LoadConfirmations() {
  for (TConfirmation c : kConfirmationLoadOrder) {
    std::string name = kConfirmationNames[c];
    if (ini_.ValueExists(kConfirmations, "Auto" + name)) {
      ConfirmAnswer[c] = ini_.ReadBool(kConfirmations, name, false);
      ConfirmAuto[c] = ini_.ReadBool(kConfirmations, "Auto" + name, false);
      continue;
    }
    // Older files kept both in one word.
    std::string word = UpperAscii(ini_.ReadString(kConfirmations, name, "Ask"));
    ConfirmAnswer[c] = word == "TRUE" || word == "YES";
    ConfirmAuto[c] = word == "YES" || word == "NO";
  }
}

void TConfig::LoadColors(int64_t iniVersion) {
  // Files without a version stored colours in a form this program cannot read.
  if (iniVersion == 0 && ini_.SectionExists(kColors)) {
    ini_.EraseSection(kColors);
    UpdateFileWithRetry();
  }
  BoldSet = ItalicSet = UnderlineSet = StrikeOutSet = 0;
  for (int i = 0; i < kColorCount; ++i) {
    std::string name = kColorDefaults[i].name;
    uint32_t fg = kColorDefaults[i].fg, bg = kColorDefaults[i].bg;
    if (ini_.ValueExists(kColors, name + "FG")) fg = ReadHex32(ini_, kColors, name + "FG");
    if (ini_.ValueExists(kColors, name + "BG")) bg = ReadHex32(ini_, kColors, name + "BG");
    uint32_t style = fg >> 24;
    if (style & kStyleBold) BoldSet |= 1u << i;
    if (style & kStyleItalic) ItalicSet |= 1u << i;
    if (style & kStyleUnderline) UnderlineSet |= 1u << i;
    if (style & kStyleStrikeOut) StrikeOutSet |= 1u << i;
    FGColors[i] = fg & 0xFFFFFF;
    BGColors[i] = bg;
  }
}

void TConfig::Migrate(int64_t iniVersion) {
  if (iniVersion >= 5) return;
  if (iniVersion < 2) {
    BoldSet = 1u << crMarked;
    ItalicSet = UnderlineSet = StrikeOutSet = 0;
  }
  if (iniVersion < 3) MigrateViewFilters();
  MigrateServerLimits();
}

void TConfig::MigrateViewFilters() {
  // View filter bits: 5/6 show/hide by subject, 7/8 by author, 9/10 by file name.
  constexpr uint32_t kShowAll = 1u << 5 | 1u << 7 | 1u << 9, kHideAll = 1u << 6 | 1u << 8 | 1u << 10;
  Include(cfMarkWhenAdjustingScore);
  for (int n = 0;; ++n) {
    std::string section = "ViewFilter:" + std::to_string(n);
    if (!ini_.SectionExists(section)) break;
    uint32_t flags = 0;
    if (ini_.ValueExists(section, "Flags")) flags = ReadHex32(ini_, section, "Flags");
    uint32_t old = flags;
    if (!ini_.ReadString(section, "ShowRE", "").empty() && (flags & kShowAll) != kShowAll) flags |= 1u << 5 | 1u << 9;
    if (!ini_.ReadString(section, "HideRE", "").empty() && (flags & kHideAll) != kHideAll) flags |= 1u << 6 | 1u << 10;
    if (flags != old) WriteHex32(ini_, section, "Flags", flags);
  }
}

void TConfig::MigrateServerLimits() {
  // Download limits were stored in kB; they are MB now.
  for (int n = 0;; ++n) {
    std::string section = "Server:" + std::to_string(n);
    if (!ini_.SectionExists(section)) break;
    for (const char* key : {"DailyLimit", "MonthlyLimit"}) {
      if (!ini_.ValueExists(section, key)) continue;
      int64_t v = ini_.ReadInteger(section, key, 0);
      if (v < 1024) ini_.DeleteKey(section, key);
      else ini_.WriteInteger(section, key, v / 1024);
    }
  }
  UpdateFileWithRetry();
}

void TConfig::Save() {
  ini_.WriteInteger(kConfig, "INIVersion", kSavedIniVersion);
  WriteHex32(ini_, kConfig, "Flags", Flags);
  DataStore = WithSlash(DataStore);
  if (DataStore != defaultDataDir_) ini_.WriteString(kConfig, "DataStore", DataStore);
  else ini_.DeleteKey(kConfig, "DataStore");
  ini_.WriteInteger(kConfig, "SameGroupScore", SameGroupScore);
  ini_.WriteInteger(kConfig, "FirstPartScore", FirstPartScore);
  ini_.WriteInteger(kConfig, "AutoExpire", AutoExpire);
  ini_.WriteInteger(kConfig, "DeleteExpired", DeleteExpired);
  ini_.WriteInteger(kConfig, "FCExactSizeDiff", FCExactSizeDiff);
  ini_.WriteInteger(kConfig, "FCNameSizeDiff", FCNameSizeDiff);
  SaveLists();
  ini_.WriteString(kConfig, "Columns", ToCommaText(Columns));
  ini_.WriteString(kConfig, "QueueColumns", ToCommaText(QueueColumns));
  ini_.WriteString(kConfig, "ServersColumns", ToCommaText(ServersColumns));
  ini_.WriteString(kConfig, "GroupsColumns", ToCommaText(GroupsColumns));
  ini_.WriteInteger(kConfig, "ArtListFontSize", ArtListFontSize);
  ini_.WriteInteger(kConfig, "CaptionMode", CaptionMode);
  ini_.WriteInteger(kConfig, "StatusBarMode", StatusBarMode);
  ini_.WriteString(kConfig, "CaptionString", CaptionString);
  ini_.WriteInteger(kConfig, "DefaultStyle", DefaultStyle);
  ini_.WriteInteger(kConfig, "GrpCacheSize", GrpCacheSize);
  ini_.WriteInteger(kConfig, "MsgCacheSize", MsgCacheSize);
  ini_.WriteInteger(kConfig, "AuthCacheSize", AuthCacheSize);
  ini_.WriteInteger(kConfig, "SubjCacheSize", SubjCacheSize);
  ini_.WriteInteger(kConfig, "FileCacheSize", FileCacheSize);
  ini_.WriteInteger(kConfig, "DirCacheSize", DirCacheSize);
  ini_.WriteInteger(kConfig, "FileCheckCacheSize", FileCheckCacheSize);
  ini_.WriteInteger(kConfig, "ReserveSpace", ReserveSpace);
  ini_.WriteString(kConfig, "TrimCharList", EscapeCharList(TrimCharList));
  ini_.WriteString(kConfig, "InvalidCharList", EscapeCharList(InvalidCharList));
  ini_.WriteString(kConfig, "ShutdownMethod", ShutdownMethodName(ShutdownMethod));
  ini_.WriteInteger(kConfig, "MaxHistory", MaxHistory);
  ini_.WriteString(kConfig, "QuickFilterMethod", QuickFilterMethodName(QuickFilterMethod));
  if (MaxHistory > 0 && !NewsgroupsHistory.empty()) ini_.WriteString(kConfig, "NewsgroupsHistory", NewsgroupsHistory);
  else ini_.DeleteKey(kConfig, "NewsgroupsHistory");
  SaveConfirmations();
  SaveColors();
  UpdateFileWithRetry();
}

void TConfig::SaveLists() {
  auto save = [this](const char* key, const std::vector<std::string>& items) {
    if (!items.empty()) ini_.WriteString(kConfig, key, ToCommaText(items) + ",");
    else if (ini_.ValueExists(kConfig, key)) ini_.DeleteKey(kConfig, key);
  };
  save("ExtraDirs", ExtraDirs);
  save("FCCSV", FCCSV);
  save("WCSV", WCSV);
  save("KCSV", KCSV);
}

void TConfig::SaveConfirmations() {
  for (int c = 0; c < kConfirmationCount; ++c) ini_.WriteBool(kConfirmations, kConfirmationNames[c], ConfirmAnswer[c]);
  for (int c = 0; c < kConfirmationCount; ++c)
    ini_.WriteBool(kConfirmations, std::string("Auto") + kConfirmationNames[c], ConfirmAuto[c]);
}

void TConfig::SaveColors() {
  for (int i = 0; i < kColorCount; ++i) {
    uint32_t style = (IsBold(i) ? kStyleBold : 0) | (IsItalic(i) ? kStyleItalic : 0) |
                     (IsUnderline(i) ? kStyleUnderline : 0) | (IsStrikeOut(i) ? kStyleStrikeOut : 0);
    uint32_t fg = (FGColors[i] & 0xFFFFFF) | style << 24;
    std::string name = kColorDefaults[i].name;
    WriteHex32(ini_, kColors, name + "FG", fg);
    WriteHex32(ini_, kColors, name + "BG", BGColors[i]);
  }
}

bool TConfig::UpdateFileWithRetry() {
  for (;;) {
    try {
      ini_.UpdateFile();
      return true;
    } catch (const std::exception& e) {
      LogError(e.what(), 1);
      std::string text = FormatText(
          Tr("Unable to write %s! Make sure it is not in use by another program and then click \"Retry\"."),
          ini_.FileName().c_str());
      if (!host_ || !host_->AskRetryIgnore(Tr("Error"), text)) return false;
    }
  }
}

bool TConfig::DbScanDue() const { return DbScanDue(LocalToday()); }

bool TConfig::DbScanDue(std::chrono::year_month_day today) const {
  if (DeleteExpired < 0) return false;
  auto last = DateFromNumber(ini_.ReadInteger(kConfig, "DBScanDate", kFirstScanDate));
  // A damaged date would otherwise postpone the scan forever.
  if (!last.ok()) return true;
  return std::chrono::sys_days(today) - std::chrono::days(DeleteExpired) >= std::chrono::sys_days(last);
}

void TConfig::SetDbScanDate(bool backDate) { SetDbScanDate(backDate, LocalToday()); }

void TConfig::SetDbScanDate(bool backDate, std::chrono::year_month_day today) {
  std::chrono::sys_days date = today;
  if (backDate && DeleteExpired >= 0) date -= std::chrono::days(DeleteExpired);
  ini_.WriteInteger(kConfig, "DBScanDate", NumberFromDate(std::chrono::year_month_day(date)));
  UpdateFileWithRetry();
}

TWarningsLevel TConfig::WarningsLevel() const {
  if (Has(cfWarningsNone)) return TWarningsLevel::None;
  if (Has(cfWarningsVerbose)) return TWarningsLevel::Verbose;
  return TWarningsLevel::Normal;
}

static int FirstWithLetter(const std::vector<std::string>& layout, char letter) {
  for (size_t i = 0; i < layout.size(); ++i)
    if (!layout[i].empty() && layout[i][0] == letter) return static_cast<int>(i);
  return -1;
}

int TConfig::ColumnIndex(char letter) const { return FirstWithLetter(Columns, letter); }
int TConfig::QueueColumnIndex(char letter) const { return FirstWithLetter(QueueColumns, letter); }

FWindowGeometry TConfig::ReadWindowGeometry(int screenWidth, int screenHeight) {
  FWindowGeometry def;
  def.left = screenWidth >= 640 ? (screenWidth - 640) / 2 : 0;
  def.top = screenHeight >= 480 ? (screenHeight - 480) / 2 : 0;
  auto read = [this](const char* key, int d) {
    if (!ini_.ValueExists(kConfig, key)) ini_.WriteInteger(kConfig, key, d);
    return ReadRanged<int32_t>(ini_, key, d);
  };
  FWindowGeometry g;
  g.left = read("Left", def.left);
  g.top = read("Top", def.top);
  g.width = read("Width", def.width);
  int height = read("Height", def.height);
  g.maximized = height < 0;
  g.height = height < 0 ? (height < -100000 ? 480 : -height) : height;
  return g;
}

void TConfig::WriteWindowGeometry(const FWindowGeometry& g) {
  ini_.WriteInteger(kConfig, "Left", g.left);
  ini_.WriteInteger(kConfig, "Top", g.top);
  ini_.WriteInteger(kConfig, "Width", g.width);
  ini_.WriteInteger(kConfig, "Height", g.maximized ? -g.height : g.height);
}

}  // namespace zev
