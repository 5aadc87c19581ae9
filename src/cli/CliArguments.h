#pragma once
// The command line of zevrin-cli:
//   zevrin-cli [-ini PATH] [program switches] COMMAND [ARGUMENTS]
// The program's own switches ("-ini PATH", "-debug", ...) go to the start-up sequence as
// for the window; the command and its options are this program's.
#include <string>
#include <vector>

namespace zev::cli {

// The process exit codes.
enum TExitCode : int {
  ecOk = 0,
  ecFailure = 1,       // the engine could not start, or a file could not be written
  ecUsage = 2,         // the command line is wrong
  ecServer = 3,        // a server could not be reached or refused us
  ecNotFound = 4,      // no such group or server, or nothing to work on
  ecInterrupted = 130, // SIGINT or SIGTERM
};

struct FCliRequest {
  std::vector<std::string> startupArgs;  // for TStartup: "-ini", "PATH", "-debug", ...
  std::string command;                   // add-server, servers, groups, subscribe, refresh, list, get, run
  std::vector<std::string> operands;
  // add-server
  std::string user, passwordFile;
  bool tls = false;
  int connections = 0;  // 0: the default
  bool help = false, version = false;
};

// False with a message for a command line that cannot be run.
bool ParseCliArguments(const std::vector<std::string>& args, FCliRequest& out, std::string& error);

// "HOST", "HOST:PORT", "[IPv6]" or "[IPv6]:PORT". False for an empty host or a port that
// is not 1..65535.
bool ParseHostPort(const std::string& text, std::string& host, int& port);

const char* UsageText();

}  // namespace zev::cli
