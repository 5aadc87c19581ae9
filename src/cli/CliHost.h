#pragma once
// The command-line program's side of the start-up sequence: no splash, no message boxes.
// Status texts are kept (the last one is what the user sees when start-up fails); the only
// question start-up asks, whether to create the directory of a settings file named on the
// command line, is answered yes; a settings file that cannot be written is not retried.
// The "event loop" is the command.
#include <string>

#include "cli/CliArguments.h"
#include "core/UiHost.h"

namespace zev {
class TEngineParts;
}

namespace zev::cli {

class TCliHost : public TUiHost {
 public:
  TCliHost(const FCliRequest& request, TEngineParts& engine) : request_(request), engine_(engine) {}

  void ShowStatus(const std::string& text) override { lastStatus_ = text; }
  bool AskYesNo(const std::string&) override { return true; }
  bool AskRetryIgnore(const std::string& caption, const std::string& text) override;
  void ProcessEvents() override {}
  void Linger(int) override {}
  int RunEventLoop() override;

  const std::string& LastStatus() const { return lastStatus_; }
  bool Ran() const { return ran_; }

 private:
  const FCliRequest& request_;
  TEngineParts& engine_;
  std::string lastStatus_;
  bool ran_ = false;
};

}  // namespace zev::cli
