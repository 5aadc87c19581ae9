// zevrin-innfeed: posts the test server's generated content into a real INN, e.g.
//   zevrin-innfeed --port 11118 --seed 1 --generate standard --manifest /tmp/manifest.json
//   zevrin-innfeed --seed 1 --generate standard --list-groups     (the groups to create first)
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "ArticleGenerator.h"
#include "GenerateRequest.h"
#include "StreamFeeder.h"

using namespace zev::testserver;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: zevrin-innfeed [--host H] [--port FEED_PORT] [--seed N] --generate WHAT[:k=v,...]...\n"
               "                      [--manifest FILE] [--list-groups]\n"
               "Generates the same content as zevrin-newsd for the seed and feeds it to innd with\n"
               "MODE STREAM, CHECK and TAKETHIS. --list-groups prints the group names and feeds nothing.\n");
  return 2;
}

// Every article once (a cross-post sits in several groups), groups in name order and
// articles in number order, so that INN numbers them as we do.
std::vector<TArticlePtr> AllArticles(const TArticleStore& store) {
  std::vector<TArticlePtr> out;
  std::set<const FArticle*> seen;
  auto lock = store.ReadLock();
  for (const TNewsGroup* group : store.Groups())
    for (uint64_t n = group->NextNumber(group->Low()); n != 0 && n <= group->High(); n = group->NextNumber(n + 1))
      if (TArticlePtr a = group->Article(n); a && seen.insert(a.get()).second) out.push_back(a);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1", manifest;
  int port = 119;
  uint64_t seed = 1;
  bool listGroups = false;
  std::vector<FGenerateRequest> requests;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--list-groups") {
      listGroups = true;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    const std::string v = argv[++i];
    std::string error;
    if (a == "--host") host = v;
    else if (a == "--port") port = std::stoi(v);
    else if (a == "--seed") seed = std::stoull(v);
    else if (a == "--manifest") manifest = v;
    else if (a == "--generate") {
      FGenerateRequest request;
      if (!ParseGenerate(v, request, error)) {
        std::fprintf(stderr, "zevrin-innfeed: %s\n", error.c_str());
        return 2;
      }
      requests.push_back(request);
    } else {
      return Usage();
    }
  }
  try {
    TArticleStore store;
    TArticleGenerator generator(store, seed);
    for (const FGenerateRequest& r : requests) GenerateContent(generator, r);
    if (listGroups) {
      auto lock = store.ReadLock();
      for (const TNewsGroup* g : store.Groups()) std::printf("%s%s\n", g->Name().c_str(), g->RequiresAuth() ? " private" : "");
      return 0;
    }
    if (!manifest.empty()) std::ofstream(manifest, std::ios::binary | std::ios::trunc) << generator.Manifest().ToJson();
    const std::vector<TArticlePtr> articles = AllArticles(store);
    TStreamFeeder feeder(host, static_cast<uint16_t>(port));
    const FFeedResult result = feeder.Feed(articles);
    std::printf("zevrin-innfeed: %zu articles: %llu accepted, %llu already there, %llu rejected\n", articles.size(),
                static_cast<unsigned long long>(result.accepted), static_cast<unsigned long long>(result.duplicates),
                static_cast<unsigned long long>(result.rejected));
    for (const std::string& r : result.rejections) std::fprintf(stderr, "zevrin-innfeed: rejected: %s\n", r.c_str());
    return result.rejected == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zevrin-innfeed: %s\n", e.what());
    return 1;
  }
}
