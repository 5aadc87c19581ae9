#include "cli/CliHost.h"

#include "cli/CliCommands.h"

namespace zev::cli {

bool TCliHost::AskRetryIgnore(const std::string& caption, const std::string& text) {
  Complain(caption + ": " + text);
  return false;
}

int TCliHost::RunEventLoop() {
  ran_ = true;
  try {
    return TCliCommands(request_, engine_).Run();
  } catch (const std::exception& e) {
    Complain(e.what());
    return ecFailure;
  }
}

}  // namespace zev::cli
