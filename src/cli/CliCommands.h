#pragma once
// The commands of zevrin-cli, run once start-up has created the engine. Lists go to
// standard output as tab-separated lines; messages to standard error.
#include <string>
#include <vector>

#include "cli/CliArguments.h"
#include "db/MsgData.h"

namespace zev {
class TEngineParts;
class TGroup;
}

namespace zev::cli {

class TCliCommands {
 public:
  TCliCommands(const FCliRequest& request, TEngineParts& engine) : request_(request), engine_(engine) {}
  int Run();

 private:
  int AddServer();
  int Servers();
  int Groups();
  int Subscribe();
  int List();
  int Refresh();
  int Get();
  int RunQueue();
  bool SaveSettings();

  const FCliRequest& request_;
  TEngineParts& engine_;
};

// "zevrin-cli: <text>" on standard error.
void Complain(const std::string& text);

// The articles of the group on every server that carries it, each once, in ascending order.
std::vector<TArticleOffset> GroupArticleOffsets(TGroup& group);

}  // namespace zev::cli
