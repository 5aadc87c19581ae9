#include "db/ServerSection.h"

#include <algorithm>
#include <limits>

#include "core/Log.h"
#include "core/TextUtil.h"
#include "core/ZevIniFile.h"
#include "db/ResetSchedule.h"

namespace zev {

namespace {

constexpr size_t kPassBufferSize = 128;
constexpr uint8_t kPassShift = 13;
constexpr uint32_t kDefaultMaxHeaders = 100000, kDefaultChunkSize = 5000, kDefaultBandwidth = 1;
constexpr uint32_t kDefaultRetry = 5, kDefaultIdle = 240, kDefaultTimeOut = 60, kDefaultHdrBlock = 50;
constexpr const char* kModeNames[] = {"Normal", "Headers", "Articles", "Dormant"};

uint32_t ReadU32(const TZevIniFile& ini, const std::string& section, const char* key, uint32_t def) {
  int64_t v = ini.ReadInteger(section, key, def);
  return v < 0 || v > std::numeric_limits<uint32_t>::max() ? def : static_cast<uint32_t>(v);
}

int8_t ReadSignedByte(const TZevIniFile& ini, const std::string& section, const char* key, int8_t def) {
  return static_cast<int8_t>(std::clamp<int64_t>(ini.ReadInteger(section, key, def), -128, 127));
}

// Kilobytes in the file, bytes in memory.
uint64_t ReadKiloBytes(const TZevIniFile& ini, const std::string& section, const std::string& key) {
  int64_t kb = ini.ReadInteger(section, key, 0);
  return kb <= 0 ? 0 : static_cast<uint64_t>(std::min<int64_t>(kb, std::numeric_limits<int64_t>::max() / 1024)) * 1024;
}

// Ports above 32767 were once stored as negative 16-bit numbers; both forms read back.
uint16_t ReadPort(const TZevIniFile& ini, const std::string& section) {
  int64_t v = ini.ReadInteger(section, "Port", 119);
  if (v < 0 && v >= -32768) v += 65536;
  if (v >= 1 && v <= 65535) return static_cast<uint16_t>(v);
  LogError(FormatText("Invalid port %lld in [%s], using 119.", static_cast<long long>(v), section.c_str()));
  return 119;
}

uint32_t ReadFlags(const TZevIniFile& ini, const std::string& section, uint32_t def) {
  if (!ini.ValueExists(section, "Flags")) return def;
  uint32_t flags = 0;
  ini.ReadHexBytes(section, "Flags", sizeof flags, &flags);
  return flags;
}

// Control characters cannot be part of a host name; the settings file would turn some of
// them into blanks on the next save anyway.
std::string ReadHost(const TZevIniFile& ini, const std::string& section) {
  std::string host = ini.ReadString(section, "Host", "");
  for (char& c : host)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return std::string(Trim(host));
}

void ApplyFlagInvariants(TServer& node) {
  if (!node.Has(sfXHDR)) node.Exclude(sfXHDRLines);
  if (!node.Has(sfByMessageID)) node.Exclude(sfSkipGroup);
}

std::string ReadPassword(const TZevIniFile& ini, const std::string& section, bool scrambled) {
  if (!scrambled || !ini.ValueExists(section, "Pass")) return ini.ReadString(section, "Pass", "");
  char buffer[kPassBufferSize] = {};
  ini.ReadHexBytes(section, "Pass", sizeof buffer, buffer);
  return UnscramblePassword(std::string(buffer, sizeof buffer));
}

void ReadOwnSettings(const TZevIniFile& ini, const std::string& section, TServer& node) {
  int8_t derived = node.Has(sfPosPreference) ? 1 : node.Has(sfNegPreference) ? -1 : 0;
  node.SetPreference(ReadSignedByte(ini, section, "Preference", derived));
  node.MaxHeaders = ReadU32(ini, section, "MaxHeaders", kDefaultMaxHeaders);
  node.ChunkSize = ReadU32(ini, section, "ChunkSize", kDefaultChunkSize);
  node.Bandwidth = ReadU32(ini, section, "Bandwidth", kDefaultBandwidth);
  node.Retry = ReadU32(ini, section, "Retry", kDefaultRetry);
  node.Idle = ReadU32(ini, section, "Idle", kDefaultIdle);
  node.TimeOut = ReadU32(ini, section, "TimeOut", kDefaultTimeOut);
  node.HdrBlock = ReadU32(ini, section, "HdrBlock", kDefaultHdrBlock);
}

void ReadPeriod(const TZevIniFile& ini, const std::string& section, const std::string& prefix, TPeriodTotals& p,
                uint32_t defaultSchedule, TDateTime now) {
  p.Total = ReadKiloBytes(ini, section, prefix + "Total");
  p.Bodies = ReadKiloBytes(ini, section, prefix + "Bodies");
  std::string lastKey = prefix + "LastReset";
  p.LastReset = ini.ValueExists(section, lastKey) ? UnpackFileDate(ReadU32(ini, section, lastKey.c_str(), 0)) : now;
  p.Reset = ReadU32(ini, section, (prefix + "Reset").c_str(), defaultSchedule);
  p.Limit = ReadKiloBytes(ini, section, prefix + "Limit");
  p.ComputeNextReset();
}

uint32_t ReadMaxConn(const TZevIniFile& ini, const std::string& section) {
  int64_t v = ini.ReadInteger(section, "MaxConn", 1);
  if (v >= 1 && v <= kMaxConnections) return static_cast<uint32_t>(v);
  LogError(FormatText("Invalid MaxConn %lld in [%s], using %u.", static_cast<long long>(v), section.c_str(),
                      v < 1 ? 1u : kMaxConnections));
  return v < 1 ? 1 : kMaxConnections;
}

void WriteOrDelete(TZevIniFile& ini, const std::string& section, const std::string& key, bool write, int64_t value) {
  if (write) ini.WriteInteger(section, key, value);
  else ini.DeleteKey(section, key);
}

void WriteOwnSettings(TZevIniFile& ini, const std::string& section, const TServer& node) {
  bool own = !node.Has(sfInherit);
  auto put = [&](const char* key, uint32_t value, uint32_t def) {
    WriteOrDelete(ini, section, key, own && value != def, value);
  };
  WriteOrDelete(ini, section, "Preference", own && node.Preference() != 0, node.Preference());
  put("MaxHeaders", node.MaxHeaders, kDefaultMaxHeaders);
  put("ChunkSize", node.ChunkSize, kDefaultChunkSize);
  put("Bandwidth", node.Bandwidth, kDefaultBandwidth);
  put("Retry", node.Retry, kDefaultRetry);
  put("Idle", node.Idle, kDefaultIdle);
  put("TimeOut", node.TimeOut, kDefaultTimeOut);
  put("HdrBlock", node.HdrBlock, kDefaultHdrBlock);
}

void WritePeriod(TZevIniFile& ini, const std::string& section, const std::string& prefix, const TPeriodTotals& p) {
  ini.WriteInteger(section, prefix + "Total", static_cast<int64_t>(p.Total.load() / 1024));
  ini.WriteInteger(section, prefix + "Bodies", static_cast<int64_t>(p.Bodies.load() / 1024));
  ini.WriteInteger(section, prefix + "LastReset", PackFileDate(p.LastReset.load()));
  ini.WriteInteger(section, prefix + "Reset", p.Reset.load());
  uint64_t limitKb = p.Limit.load() / 1024;
  WriteOrDelete(ini, section, prefix + "Limit", limitKb != 0, static_cast<int64_t>(limitKb));
}

void WritePassword(TZevIniFile& ini, const std::string& section, const TServer& node) {
  std::string pass = node.Pass();
  if (pass.empty()) return ini.DeleteKey(section, "Pass");
  if (!node.Has(sfCryptPass)) return ini.WriteString(section, "Pass", pass);
  std::string stored = ScramblePassword(pass);
  ini.WriteHexBytes(section, "Pass", stored.size(), stored.data());
}

}  // namespace

std::string ServerSectionName(int n) { return "Server:" + std::to_string(n); }

std::string ScramblePassword(const std::string& pass) {
  std::string out = pass;
  for (char& c : out) c = static_cast<char>(static_cast<uint8_t>(c) - kPassShift);
  return out;
}

std::string UnscramblePassword(const std::string& stored) {
  std::string out = stored.substr(0, std::min(stored.find('\0'), kPassBufferSize));
  for (char& c : out) c = static_cast<char>(static_cast<uint8_t>(c) + kPassShift);
  return out;
}

std::string ServerModeName(uint32_t mode) {
  return mode < std::size(kModeNames) ? kModeNames[mode] : std::to_string(mode);
}

uint32_t ParseServerMode(const std::string& text) {
  for (uint32_t m = 0; m < std::size(kModeNames); ++m)
    if (EqualsIgnoreCase(text, kModeNames[m])) return m;
  int64_t v = 0;
  if (!ParseInt64(text, v) || v < 0 || v > std::numeric_limits<uint32_t>::max()) return smNormal;
  return static_cast<uint32_t>(v);
}

FServerSectionHead ReadServerHead(const TZevIniFile& ini, const std::string& section) {
  FServerSectionHead head;
  uint8_t type = 0;
  ini.ReadHexBytes(section, "Type", 1, &type);
  if (type > snNewsServer) {
    LogError(FormatText("Unknown server node type %u in [%s], read as a folder.", type, section.c_str()));
    type = snFolder;
  }
  head.type = static_cast<TServerNodeType>(type);
  head.parent = ini.ReadInteger(section, "Parent", 0);
  head.name = ini.ReadString(section, "Name", "<unnamed>");
  return head;
}

void ReadServerSettings(const TZevIniFile& ini, const std::string& section, TServer& node, TDateTime now) {
  node.SetHost(ReadHost(ini, section));
  node.Port = ReadPort(ini, section);
  node.UseTls = ini.ReadBool(section, "TLS", false);
  node.SetTlsFingerprint(std::string(Trim(ini.ReadString(section, "TLSFingerprint", ""))));
  node.Flags = ReadFlags(ini, section, node.Parent() ? ServerFlagBit(sfInherit) : 0);
  ApplyFlagInvariants(node);
  node.SetLogin(ini.ReadString(section, "User", ""), ReadPassword(ini, section, node.Has(sfCryptPass)));
  node.MaxConn = ReadMaxConn(ini, section);
  if (node.Has(sfInherit) && node.Parent()) node.InheritFromParent();
  else ReadOwnSettings(ini, section, node);
  ReadPeriod(ini, section, "Daily", node.Daily, kDefaultDailyReset, now);
  ReadPeriod(ini, section, "Monthly", node.Monthly, kDefaultMonthlyReset, now);
  node.ServerMode = ParseServerMode(ini.ReadString(section, "ServerMode", "Normal"));
  if (node.ServerMode == smArticles) node.Include(sfByMessageID);
}

void WriteServerSection(TZevIniFile& ini, const std::string& section, const TServer& node, int parentIndex) {
  uint8_t type = node.Type();
  ini.WriteHexBytes(section, "Type", 1, &type);
  ini.WriteInteger(section, "Parent", parentIndex);
  ini.WriteString(section, "Name", node.Name());
  if (node.IsNewsServer()) {
    ini.WriteString(section, "Host", node.Host());
    ini.WriteInteger(section, "Port", node.Port.load());
  } else {
    ini.DeleteKey(section, "Host");
    ini.DeleteKey(section, "Port");
  }
  // Absent keys read as a plain server: files from before TLS load unchanged.
  if (node.IsNewsServer() && node.UseTls) ini.WriteBool(section, "TLS", true);
  else ini.DeleteKey(section, "TLS");
  const std::string pin = node.IsNewsServer() ? node.TlsFingerprint() : std::string();
  if (pin.empty()) ini.DeleteKey(section, "TLSFingerprint");
  else ini.WriteString(section, "TLSFingerprint", pin);
  uint32_t flags = node.Flags.load();
  ini.WriteHexBytes(section, "Flags", sizeof flags, &flags);
  std::string user = node.User();
  if (user.empty()) ini.DeleteKey(section, "User");
  else ini.WriteString(section, "User", user);
  WritePassword(ini, section, node);
  WriteOrDelete(ini, section, "MaxConn", node.MaxConn != 1, node.MaxConn);
  WriteOwnSettings(ini, section, node);
  WritePeriod(ini, section, "Daily", node.Daily);
  WritePeriod(ini, section, "Monthly", node.Monthly);
  ini.WriteString(section, "ServerMode", ServerModeName(node.ServerMode));
}

}  // namespace zev
