#pragma once
// The command line and the paths it decides: the settings file, the error log and the
// dump log. A switch is an argument beginning with "-" (only that character); its name
// is compared without regard to case, in any order and position.
#include <string>
#include <vector>

namespace zev {

class TUiHost;

struct FSwitches {
  bool debug = false;   // extra checks; the database scan is made due; cleared after queue restore
  bool scan = false;    // run the database scan on this start
  bool quick = false;   // skip the database scan and the queue rebuild
  bool pause = false;   // leave the queue paused after start-up
  bool autoClose = false;  // "auto": close when the queue is finished
  bool test1 = false;   // the extra article-list columns
  bool test2 = false;   // busy-wait locks do not pause between attempts
  bool iniGiven = false;
  std::string iniArg;
  bool dump = false;
  std::string dumpArg;  // may be empty: the default name in the data directory
  std::string errorArg;
};

FSwitches ParseCommandLine(const std::vector<std::string>& args);  // without the program name

// Where the program runs and where the user's XDG directories are; taken from the system
// by CurrentPathEnvironment(), given directly by tests.
struct FPathEnvironment {
  std::string programDir;       // with trailing "/"
  bool programDirWritable = false;  // a portable install: settings and data beside the program
  std::string configHome;       // $XDG_CONFIG_HOME with trailing "/"
  std::string dataHome;         // $XDG_DATA_HOME with trailing "/"
  std::string currentDir;       // with trailing "/"
};
FPathEnvironment CurrentPathEnvironment();

constexpr const char* kIniFileName = "Zev2.ini";

// Beside the program for a portable install, else $XDG_CONFIG_HOME/zevrin/Zev2.ini.
std::string DefaultIniPath(const FPathEnvironment& env);

// The settings file chosen by the "ini" switch. A directory that does not exist is created
// after asking (Yes); on No, or when it cannot be created, the default path is used.
std::string ResolveIniPath(const FSwitches& sw, const FPathEnvironment& env, TUiHost* host);

// The data directory used when the settings name none: $XDG_DATA_HOME/zevrin/ for the
// settings file in its XDG place, otherwise the settings file's own directory (a portable
// install or a settings file given on the command line keeps its data beside it).
std::string DefaultDataDir(const std::string& iniPath, const FPathEnvironment& env);

// A log path from the "error" or "dump" switch, resolved against the data directory.
std::string ResolveLogPath(const std::string& given, const std::string& dataDir, const std::string& defaultName);

}  // namespace zev
