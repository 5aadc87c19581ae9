#include "cli/CliCommands.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "core/Error.h"
#include "core/TextUtil.h"
#include "db/Article.h"
#include "db/BTree.h"
#include "db/GroupFileName.h"
#include "db/GroupTree.h"
#include "db/NwsStore.h"
#include "db/SGLst.h"
#include "db/ServerTree.h"
#include "cli/CliDownload.h"
#include "cli/CliRefresh.h"
#include "nntp/EngineParts.h"

namespace zev::cli {

namespace {

const char* ModeName(uint32_t mode) {
  switch (mode) {
    case smHeaders: return "headers";
    case smArticles: return "articles";
    case smDormant: return "dormant";
    default: return "normal";
  }
}

std::string HostPort(const std::string& host, uint16_t port) {
  return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool ReadPassword(const std::string& path, std::string& password) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::getline(in, password);
  while (!password.empty() && (password.back() == '\r' || password.back() == '\n')) password.pop_back();
  return true;
}

// One file of a group, as `list` shows it.
struct FFileRow {
  std::string subject, fileName, flags;
  uint32_t present = 1, total = 1;
  uint64_t size = 0;
};

std::string FlagText(const FMsgData& r) {
  std::string f;
  if (HasFlag(r, afMultiPart)) f += HasFlag(r, afGoodParts) ? 'C' : 'I';
  const std::pair<TArticleFlag, char> letters[] = {
      {afRead, 'R'}, {afDownloaded, 'D'}, {afMarked, 'M'}, {afWanted, 'W'}, {afKilled, 'K'}};
  for (auto [flag, letter] : letters)
    if (HasFlag(r, flag)) f += letter;
  return f;
}

}  // namespace

void Complain(const std::string& text) { std::fprintf(stderr, "zevrin-cli: %s\n", text.c_str()); }

std::vector<TArticleOffset> GroupArticleOffsets(TGroup& group) {
  std::vector<TArticleOffset> offsets;
  if (!gServerGroups) return offsets;
  for (const auto& sg : gServerGroups->EntriesOf(group)) {
    TMapUse use(*sg);
    // Entry 0 of a map is its header, not an article.
    const std::vector<uint32_t> map = sg->MapSnapshot();
    for (size_t i = 1; i < map.size(); ++i)
      if (map[i] >= kFirstArticleOffset) offsets.push_back(map[i]);
  }
  std::sort(offsets.begin(), offsets.end());
  offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
  return offsets;
}

int TCliCommands::Run() {
  const std::string& c = request_.command;
  if (c == "add-server") return AddServer();
  if (c == "servers") return Servers();
  if (c == "groups") return Groups();
  if (c == "subscribe") return Subscribe();
  if (c == "list") return List();
  if (c == "refresh") return Refresh();
  if (c == "get") return Get();
  if (c == "run") return RunQueue();
  return ecUsage;
}

bool TCliCommands::SaveSettings() {
  try {
    engine_.Servers()->WriteServers();
    engine_.Groups()->SaveGroups();
    return true;
  } catch (const std::exception& e) {
    Complain(std::string("the settings could not be written: ") + e.what());
    return false;
  }
}

int TCliCommands::AddServer() {
  std::string host, password;
  int port = 0;
  if (!ParseHostPort(request_.operands[0], host, port)) {
    Complain("not a HOST[:PORT]: " + request_.operands[0]);
    return ecUsage;
  }
  if (port == 0) port = request_.tls ? kDefaultTlsPort : 119;
  if (!request_.passwordFile.empty() && !ReadPassword(request_.passwordFile, password)) {
    Complain("cannot read the password file " + request_.passwordFile);
    return ecFailure;
  }
  TServerTree& tree = *engine_.Servers();
  if (tree.FindServerByHost(host, static_cast<uint16_t>(port))) {
    Complain("a server for " + HostPort(host, static_cast<uint16_t>(port)) + " exists already");
    return ecFailure;
  }
  TServer* server = tree.CreateServerNode(host, snNewsServer, tree.Roots()[0].get());
  server->Exclude(sfInherit);
  server->SetHost(host);
  server->Port = static_cast<uint16_t>(port);
  server->UseTls = request_.tls;
  if (!request_.user.empty()) {
    server->SetLogin(request_.user, password);
    server->Include(sfNeedAuth);
  }
  if (request_.connections > 0) server->MaxConn = static_cast<uint32_t>(request_.connections);
  tree.AdjustSlots(*server);
  if (gServerGroups) gServerGroups->AddServer(*server, *engine_.Groups());
  return SaveSettings() ? ecOk : ecFailure;
}

int TCliCommands::Servers() {
  engine_.Servers()->ForEachNode([](TServer& s) {
    if (!s.IsNewsServer()) return;
    std::printf("%s\t%s\t%s\t%u\t%s\t%s\n", s.Name().c_str(), HostPort(s.Host(), s.Port).c_str(),
                s.UseTls ? "tls" : "plain", s.MaxConn.load(), ModeName(s.ServerMode), s.User().c_str());
  });
  return ecOk;
}

int TCliCommands::Groups() {
  engine_.Groups()->ForEachNode([](TGroup& g) {
    if (!g.IsNewsgroup()) return;
    std::string servers;
    if (gServerGroups)
      for (const auto& sg : gServerGroups->EntriesOf(g)) {
        if (!servers.empty()) servers += ',';
        servers += sg->Server().Name();
      }
    std::printf("%s\t%u\t%u\t%u\t%s\n", g.Name().c_str(), g.NewCount.load() + g.PendingNew.load(), g.WantCount.load(),
                g.KillCount.load(), servers.c_str());
  });
  return ecOk;
}

int TCliCommands::Subscribe() {
  const std::string& name = request_.operands[0];
  if (const char* problem = GroupFileNameProblem(name); problem || name.find(' ') != std::string::npos) {
    Complain("not a newsgroup name: " + PrintableName(name));
    return ecUsage;
  }
  TGroupTree& groups = *engine_.Groups();
  if (groups.FindGroupByName(name)) return ecOk;
  TGroup* group = groups.CreateGroupNode(gnNewsgroup, name, groups.Roots()[0].get());
  if (gServerGroups) gServerGroups->AddGroup(*group, *engine_.Servers());
  return SaveSettings() ? ecOk : ecFailure;
}

int TCliCommands::List() {
  TGroup* group = engine_.Groups()->FindGroupByName(request_.operands[0]);
  if (!group) {
    Complain("not subscribed: " + PrintableName(request_.operands[0]));
    return ecNotFound;
  }
  const std::vector<TArticleOffset> offsets = GroupArticleOffsets(*group);
  std::vector<FFileRow> rows;
  TArticle& article = *engine_.Article();
  TBTree& msgLst = *engine_.Store()->MsgLst();
  TArticleLock lock(article);
  for (TArticleOffset offset : offsets) {
    if (!article.Read(offset)) continue;
    const FMsgData r = article.Data();
    FFileRow row;
    if (HasFlag(r, afMultiPart) && r.FPartTotal > 1) {
      // A file is shown by the last part of its chain; the others follow its links back.
      if (r.FNextPart != 0) continue;
      row.total = r.FPartTotal;
      row.size = r.FPartSize;
      FMsgData p = r;
      for (uint32_t steps = 0; steps < r.FPartTotal && p.FPrevPart > 16 && msgLst.ReadRecord(p.FPrevPart, &p); ++steps) {
        ++row.present;
        row.size += p.FPartSize;
      }
      if (HasFlag(r, afGoodParts)) row.size = r.FFileSize;
    } else {
      row.size = r.FFileSize ? r.FFileSize : r.FPartSize;
    }
    row.subject = article.GetSubject();
    row.fileName = article.GetFileName();
    row.flags = FlagText(r);
    rows.push_back(std::move(row));
  }
  std::sort(rows.begin(), rows.end(), [](const FFileRow& a, const FFileRow& b) { return a.subject < b.subject; });
  for (const FFileRow& row : rows)
    std::printf("%s\t%s\t%u/%u\t%llu\t%s\n", row.subject.c_str(), row.fileName.c_str(), row.present, row.total,
                static_cast<unsigned long long>(row.size), row.flags.c_str());
  return ecOk;
}

int TCliCommands::Refresh() {
  std::vector<TGroup*> groups;
  for (const std::string& name : request_.operands) {
    TGroup* group = engine_.Groups()->FindGroupByName(name);
    if (!group) {
      Complain("not subscribed: " + PrintableName(name));
      return ecNotFound;
    }
    if (std::find(groups.begin(), groups.end(), group) == groups.end()) groups.push_back(group);
  }
  if (request_.operands.empty())
    engine_.Groups()->ForEachNode([&](TGroup& g) {
      if (g.IsNewsgroup()) groups.push_back(&g);
    });
  if (groups.empty()) {
    Complain("no subscribed groups; subscribe to one first");
    return ecNotFound;
  }
  const int code = TCliRefresh(engine_, groups).Run();
  // The groups' counters changed.
  return SaveSettings() || code != ecOk ? code : ecFailure;
}

int TCliCommands::Get() {
  TGroup* group = engine_.Groups()->FindGroupByName(request_.operands[0]);
  if (!group) {
    Complain("not subscribed: " + PrintableName(request_.operands[0]));
    return ecNotFound;
  }
  TCliDownload download(engine_);
  download.QueueMatching(*group, request_.operands[1]);
  if (download.Matched() == 0) return ecNotFound;
  return download.Run();
}

int TCliCommands::RunQueue() {
  TCliDownload download(engine_);
  download.QueueMarked();
  return download.Run();
}

}  // namespace zev::cli
