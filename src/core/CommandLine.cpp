#include "core/CommandLine.h"

#include <unistd.h>

#include <filesystem>

#include "core/Intl.h"
#include "core/TextUtil.h"
#include "core/UiHost.h"
#include "platform/Paths.h"

namespace zev {
namespace fs = std::filesystem;
namespace {

bool IsSwitch(const std::string& arg) { return !arg.empty() && arg[0] == '-'; }

bool IsDir(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::string DirPart(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FilePart(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FullPath(const std::string& path, const std::string& currentDir) {
  fs::path p(path);
  if (p.is_relative()) p = fs::path(currentDir) / p;
  std::string full = p.lexically_normal().string();
  return full;
}

}  // namespace

FSwitches ParseCommandLine(const std::vector<std::string>& args) {
  FSwitches sw;
  for (size_t i = 0; i < args.size(); ++i) {
    if (!IsSwitch(args[i])) continue;
    std::string name = LowerAscii(std::string_view(args[i]).substr(1));
    bool hasNext = i + 1 < args.size();
    if (name == "debug") sw.debug = true;
    else if (name == "scan") sw.scan = true;
    else if (name == "quick") sw.quick = true;
    else if (name == "pause") sw.pause = true;
    else if (name == "auto") sw.autoClose = true;
    else if (name == "test1") sw.test1 = true;
    else if (name == "test2") sw.test2 = true;
    else if (name == "ini" && hasNext) {
      sw.iniGiven = true;
      sw.iniArg = args[++i];
    } else if (name == "dump") {
      sw.dump = true;
      if (hasNext && !IsSwitch(args[i + 1])) sw.dumpArg = args[++i];
    } else if (name == "error") {
      if (hasNext && !IsSwitch(args[i + 1])) sw.errorArg = args[++i];
    }
  }
  return sw;
}

FPathEnvironment CurrentPathEnvironment() {
  FPathEnvironment env;
  env.programDir = platform::ProgramDir();
  env.programDirWritable = platform::IsWritableDir(env.programDir);
  env.configHome = platform::ConfigHome();
  env.dataHome = platform::DataHome();
  std::error_code ec;
  env.currentDir = platform::WithSlash(fs::current_path(ec).string());
  return env;
}

std::string DefaultIniPath(const FPathEnvironment& env) {
  if (env.programDirWritable) return env.programDir + kIniFileName;
  return env.configHome + "zevrin/" + kIniFileName;
}

std::string ResolveIniPath(const FSwitches& sw, const FPathEnvironment& env, TUiHost* host) {
  if (!sw.iniGiven || sw.iniArg.empty()) return DefaultIniPath(env);
  std::string path = FullPath(sw.iniArg, env.currentDir);
  // The extension test is case-sensitive on purpose: "X.INI" names a directory.
  bool looksLikeFile = fs::path(path).extension() == ".ini";
  if (IsDir(path) || (!Exists(path) && !looksLikeFile)) path = platform::WithSlash(path);
  if (path.back() == '/') path += kIniFileName;
  std::string dir = DirPart(path);
  if (IsDir(dir)) return path;
  if (host && host->AskYesNo(Tr("The specified INI file path does not exist. Attempt to create it? Choosing no "
                                "will revert to default INI path and filename"))) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (IsDir(dir)) return path;
  }
  return DefaultIniPath(env);
}

std::string DefaultDataDir(const std::string& iniPath, const FPathEnvironment& env) {
  std::string dir = DirPart(iniPath);
  if (dir == env.configHome + "zevrin/") return env.dataHome + "zevrin/";
  return dir.empty() ? env.currentDir : dir;
}

std::string ResolveLogPath(const std::string& given, const std::string& dataDir, const std::string& defaultName) {
  if (given.empty()) return dataDir + defaultName;
  if (IsDir(given)) return platform::WithSlash(given) + defaultName;
  std::string name = FilePart(given);
  if (name.empty()) name = defaultName;
  std::string dir = DirPart(given);
  if (dir.empty() || !IsDir(dir)) dir = dataDir;
  return dir + name;
}

}  // namespace zev
