// Header retrieval against a real server: INN 2.7 on loopback (scripts/inn-lab.sh), filled
// with a few thousand generated multi-part yEnc posts. A refresh must store every posted
// part and link each file's parts into one complete chain. Needs root (INN is installed
// and run as root); skipped without it, except in CI, where it must run.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "ArtListHarness.h"
#include "ArticleGenerator.h"
#include "GenerateRequest.h"

namespace zev::test {
namespace {

const char* const kGroup = "zevrin.test.binaries.yenc";
const char* const kContent = "standard:files=300,file-size=60000,part-size=4000,texts=10";

struct FInnLab {
  bool ready = false;
  std::string skipReason, dir;
  uint16_t port = 0;
};

FInnLab& Lab() {
  static FInnLab lab;
  return lab;
}

uint16_t FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t length = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  close(fd);
  return ntohs(addr.sin_port);
}

int Shell(const std::string& command) {
  const int rc = std::system(command.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

class TInnEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    FInnLab& lab = Lab();
    const bool ci = std::getenv("CI") != nullptr;
    if (geteuid() != 0) {
      lab.skipReason = "INN tests need root (INN is installed and run as root)";
      return;
    }
    const std::string script = std::string("bash ") + ZEV_INN_LAB_SCRIPT;
    if (Shell(script + " install") != 0) {
      if (ci) ADD_FAILURE() << "inn2 could not be installed in CI";
      lab.skipReason = "inn2 could not be installed";
      return;
    }
    lab.dir = "/tmp/zevrin-inn-artlist-" + std::to_string(getpid());
    lab.port = FreePort();
    std::ostringstream start;
    start << script << " start --dir " << lab.dir << " --port " << lab.port << " --auth-port " << FreePort()
          << " --tls-port " << FreePort() << " --feed-port " << FreePort();
    ASSERT_EQ(Shell(start.str()), 0) << "INN did not start; logs in " << lab.dir << "/log";
    started_ = true;
    ASSERT_EQ(Shell(script + " fill --dir " + lab.dir + " --feeder " + ZEV_INN_FEEDER + " -- --seed 7 --generate " +
                    kContent),
              0);
    lab.ready = true;
  }
  void TearDown() override {
    if (started_) Shell(std::string("bash ") + ZEV_INN_LAB_SCRIPT + " stop --purge --dir " + Lab().dir);
  }

 private:
  bool started_ = false;
};

const ::testing::Environment* const kInn = ::testing::AddGlobalTestEnvironment(new TInnEnvironment);

class ArtListInnTest : public TArtListHarness {
 protected:
  void SetUp() override {
    if (!Lab().ready) GTEST_SKIP() << Lab().skipReason;
    TArtListHarness::SetUp();
    // What the feeder posted, made again from the same seed.
    testserver::TArticleStore posted;
    testserver::TArticleGenerator generator(posted, 7);
    testserver::FGenerateRequest request;
    std::string error;
    ASSERT_TRUE(testserver::ParseGenerate(kContent, request, error)) << error;
    testserver::GenerateContent(generator, request);
    for (const auto& file : generator.Manifest().files) {
      if (std::find(file.groups.begin(), file.groups.end(), kGroup) == file.groups.end()) continue;
      size_t parts = 0;
      for (const auto& part : file.parts) parts += part.posted;
      posted_ += parts;
      if (file.broken.empty() && file.parts.size() > 1) files_[file.name] = static_cast<uint32_t>(file.parts.size());
    }
  }

  size_t posted_ = 0;
  std::map<std::string, uint32_t> files_;  // complete multi-part files: name -> parts
};

TEST_F(ArtListInnTest, RefreshStoresEveryPartAndLinksCompleteFiles) {
  AddServer(ServerFlagBit(sfChunks), 2, Lab().port);
  server_->ChunkSize = 1000;
  TGroup& group = Subscribe(kGroup);
  ASSERT_TRUE(Refresh(group));
  ASSERT_GT(files_.size(), 100u);

  std::vector<uint32_t> map = MapOf(group);
  size_t stored = 0;
  std::map<std::string, uint32_t> complete;
  TArticle& article = *engine_->Article();
  TArticleLock lock(article);
  for (size_t i = 1; i < map.size(); ++i) {
    if (map[i] < kFirstArticleOffset || !article.Read(map[i])) continue;
    ++stored;
    const FMsgData r = article.Data();
    if (!HasFlag(r, afMultiPart) || r.FNextPart != 0) continue;
    // The last part of a complete file stands for it; its chain goes back part by part.
    SCOPED_TRACE(article.GetFileName());
    EXPECT_TRUE(HasFlag(r, afGoodParts));
    EXPECT_FALSE(HasFlag(r, afHideIfCombined));
    uint32_t parts = 1, expected = r.FPartNo;
    TArticleOffset from = map[i];
    for (FMsgData p = r; p.FPrevPart != 0 && parts <= r.FPartTotal; ++parts) {
      const TArticleOffset at = p.FPrevPart;
      p = Record(at);
      EXPECT_EQ(p.FNextPart, from);
      EXPECT_EQ(p.FPartNo, --expected);
      EXPECT_TRUE(HasFlag(p, afGoodParts) && HasFlag(p, afHideIfCombined));
      from = at;
    }
    if (HasFlag(r, afGoodParts)) complete[article.GetFileName()] = parts;
  }
  EXPECT_EQ(stored, posted_);
  for (const auto& [name, parts] : files_) EXPECT_EQ(complete[name], parts) << name;
}

}  // namespace
}  // namespace zev::test
