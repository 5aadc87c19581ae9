#include "cli/CliArguments.h"

#include <algorithm>

#include "core/TextUtil.h"

namespace zev::cli {

namespace {

const std::vector<std::string> kCommands = {"add-server", "servers", "groups", "subscribe",
                                            "refresh",    "list",    "get",    "run"};

// Program switches that take the next argument as their value.
bool TakesValue(const std::string& sw) {
  const std::string name = LowerAscii(sw.substr(1));
  return name == "ini" || name == "dump" || name == "error";
}

bool ParseCount(const std::string& text, int& out) {
  int64_t v = 0;
  if (!ParseInt64(text, v) || v < 1 || v > 100) return false;
  out = static_cast<int>(v);
  return true;
}

bool ParseCommandOptions(const std::vector<std::string>& args, size_t i, FCliRequest& out, std::string& error) {
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (out.command == "add-server" && a == "--tls") {
      out.tls = true;
    } else if (out.command == "add-server" && (a == "--user" || a == "--password-file" || a == "--connections")) {
      if (!hasValue) return error = a + " needs a value", false;
      const std::string& v = args[++i];
      if (a == "--user") out.user = v;
      else if (a == "--password-file") out.passwordFile = v;
      else if (!ParseCount(v, out.connections)) return error = "--connections takes a number from 1 to 100", false;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return error = "unknown option " + a + " for " + out.command, false;
    } else {
      out.operands.push_back(a);
    }
  }
  return true;
}

bool CheckOperands(FCliRequest& out, std::string& error) {
  const size_t n = out.operands.size();
  if (out.command == "add-server" && n != 1) return error = "add-server takes one HOST[:PORT]", false;
  if ((out.command == "servers" || out.command == "groups" || out.command == "run") && n != 0)
    return error = out.command + " takes no arguments", false;
  if ((out.command == "subscribe" || out.command == "list") && n != 1)
    return error = out.command + " takes one GROUP", false;
  if (out.command == "get" && n != 2) return error = "get takes a GROUP and a PATTERN", false;
  if (out.command == "add-server" && !out.passwordFile.empty() && out.user.empty())
    return error = "--password-file needs --user", false;
  return true;
}

}  // namespace

bool ParseCliArguments(const std::vector<std::string>& args, FCliRequest& out, std::string& error) {
  out = FCliRequest{};
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") return out.help = true, true;
    if (a == "--version") return out.version = true, true;
    if (a.size() < 2 || a[0] != '-') break;
    out.startupArgs.push_back(a);
    if (TakesValue(a)) {
      if (i + 1 >= args.size()) return error = a + " needs a value", false;
      out.startupArgs.push_back(args[++i]);
    }
  }
  if (i == args.size()) return error = "no command given", false;
  out.command = args[i];
  if (std::find(kCommands.begin(), kCommands.end(), out.command) == kCommands.end())
    return error = "unknown command " + out.command, false;
  return ParseCommandOptions(args, i + 1, out, error) && CheckOperands(out, error);
}

bool ParseHostPort(const std::string& text, std::string& host, int& port) {
  std::string rest;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') return false;
  } else {
    const size_t colon = text.find(':');
    // More than one colon without brackets is an IPv6 address without a port.
    if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
      host = text.substr(0, colon);
      rest = text.substr(colon);
    } else {
      host = text;
    }
  }
  if (host.empty() || host.find_first_of(" \t\r\n") != std::string::npos) return false;
  port = 0;
  if (rest.empty()) return true;
  int64_t v = 0;
  if (!ParseInt64(rest.substr(1), v) || v < 1 || v > 65535) return false;
  port = static_cast<int>(v);
  return true;
}

const char* UsageText() {
  return "usage: zevrin-cli [-ini PATH] COMMAND [ARGUMENTS]\n"
         "\n"
         "commands:\n"
         "  add-server HOST[:PORT] [--user U --password-file F] [--tls] [--connections N]\n"
         "                     add a news server (port 119, or 563 with --tls)\n"
         "  servers            list the news servers\n"
         "  groups             list the subscribed groups: name, new, wanted, killed, servers\n"
         "  subscribe GROUP    subscribe to a newsgroup\n"
         "  refresh [GROUP...] fetch new headers of the groups (all subscribed groups by default)\n"
         "  list GROUP         one line per file: subject, file name, parts present/total,\n"
         "                     size, flags (C complete, I incomplete, R read, D downloaded,\n"
         "                     M marked, W wanted, K killed)\n"
         "  get GROUP PATTERN  download the files whose subject or file name matches the\n"
         "                     wildcard PATTERN (\"*\" for all) and print each completed\n"
         "                     file: path, size, CRC-32 (\"damaged\" when it fails its post's\n"
         "                     checks)\n"
         "  run                download what is still marked, as get prints it\n"
         "\n"
         "Columns are separated by tabs. Exit codes: 0 success, 1 failure, 2 wrong usage,\n"
         "3 a server could not be reached or refused, or articles could be fetched from no\n"
         "server, 4 no such group or server, or nothing matched,\n"
         "130 interrupted.\n";
}

}  // namespace zev::cli
