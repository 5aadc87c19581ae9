#pragma once
// The per-connection log a server with sfLog keeps: one file per slot ("#1.log") in the
// server's data directory, a line per event, the command lines as sent except that a
// password never appears.
#include <string>

namespace zev {

class TConnectionLog {
 public:
  // `path` is the log file; its directory is created on the first write.
  explicit TConnectionLog(std::string path) : path_(std::move(path)) {}
  // Appends "<date time>: <text>" and CR LF. A failure goes to the error log and is
  // otherwise ignored: the connection does not depend on its log.
  void Write(const std::string& text) const;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The command as it may be shown or logged: "authinfo pass ****" for a password command.
std::string LoggableCommand(const std::string& command);

}  // namespace zev
