// zevrin-cli: the engine without widgets, for scripts and headless use. It runs the same
// start-up and shutdown sequences, settings file and data directory as the window.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/CliHost.h"
#include "core/Startup.h"
#include "nntp/EngineParts.h"

using namespace zev;

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  cli::FCliRequest request;
  std::string error;
  if (!cli::ParseCliArguments(args, request, error)) {
    std::fprintf(stderr, "zevrin-cli: %s\n%s", error.c_str(), cli::UsageText());
    return cli::ecUsage;
  }
  if (request.help) {
    std::fputs(cli::UsageText(), stdout);
    return cli::ecOk;
  }
  if (request.version) {
    std::puts("zevrin-cli 2");
    return cli::ecOk;
  }
  TEngineParts engine;
  FStartupHooks hooks;
  engine.AddHooks(hooks);
  // Only what the command line asks for is refreshed.
  hooks.queueDueRefreshes = nullptr;
  cli::TCliHost host(request, engine);
  TStartup startup(host, hooks);
  const int code = startup.Run(request.startupArgs);
  if (!host.Ran()) {
    std::fprintf(stderr, "zevrin-cli: %s\n",
                 host.LastStatus().empty() ? "start-up failed" : host.LastStatus().c_str());
    return code == 0 ? cli::ecInterrupted : cli::ecFailure;
  }
  return code;
}
