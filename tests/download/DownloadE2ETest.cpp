// zevrin-cli end to end against the test news server and against INN on loopback: yEnc
// multi-part files (parts in any order, one part corrupted on the first server and good on
// a second), uuencode, base64 and plain text come out byte-identical to the originals;
// duplicates are not written twice; the existing-file check classifies the results;
// hostile names stay inside the download directory.
//
// The program runs as a separate process with its settings, database and downloads in a
// scratch directory; the servers run in this process (INN is started by scripts/inn-lab.sh
// and needs root: without it that test is skipped, except in CI).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "Article.h"
#include "ArticleGenerator.h"
#include "DecoderTestSupport.h"
#include "InnLab.h"
#include "NewsServer.h"
#include "core/Log.h"
#include "db/Article.h"
#include "db/NwsStore.h"
#include "download/ExistList.h"
#include "download/FileCheck.h"

using namespace zev;
using namespace zev::test;
using namespace zev::testserver;
namespace fs = std::filesystem;

namespace {

constexpr const char* kOwnGroup = "zevrin.test.e2e";
constexpr const char* kYencGroup = "zevrin.test.binaries.yenc";
constexpr const char* kMiscGroup = "zevrin.test.binaries.misc";
constexpr const char* kTextGroup = "zevrin.test.text";

struct FCli {
  int code = -1;
  std::string out, err;
};

// zevrin-cli with its settings file, data and downloads in `work`.
FCli RunCli(const std::string& work, const std::vector<std::string>& args) {
  const std::string outFile = work + "/cli.out", errFile = work + "/cli.err";
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_CONFIG_HOME", work.c_str(), 1);
    setenv("XDG_DATA_HOME", work.c_str(), 1);
    setenv("XDG_DOWNLOAD_DIR", (work + "/dl").c_str(), 1);
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<std::string> all = {ZEV_CLI_PATH, "-ini", work + "/Zev2.ini"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(outFile), ReadAll(errFile)};
}

// Every regular file below `dir`, by name (the first one found for a name).
std::map<std::string, std::string> FilesBelow(const std::string& dir) {
  std::map<std::string, std::string> files;
  if (!fs::exists(dir)) return files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files.emplace(e.path().filename().string(), e.path().string());
  return files;
}

std::vector<FHeader> Headers(const std::string& group, const std::string& subject, const std::string& id) {
  return {{"From", "poster <p@zevrin.test>"},
          {"Newsgroups", group},
          {"Subject", subject},
          {"Date", "Sat, 15 Jun 2024 12:00:00 +0000"},
          {"Message-ID", id}};
}

// A body as a poster hands it to the server (CR LF lines, not dot-stuffed yet).
std::string PlainYenc(const std::string& name, const std::string& file, uint32_t part, uint32_t total) {
  TYencPostInfo info;
  info.name = name;
  info.fileSize = file.size();
  info.part = part;
  info.total = total;
  size_t begin = 0, size = file.size();
  if (part != 0) {
    const size_t partSize = (file.size() + total - 1) / total;
    begin = (part - 1) * partSize;
    size = std::min(partSize, file.size() - begin);
  }
  info.begin = begin + 1;
  return YencEncodeArticle(Bytes(file.substr(begin, size)), info);
}

// Flips one bit of a plain data character well inside the data, keeping the line structure
// and the CRCs the post states: the decoder must notice by itself.
void CorruptOneByte(std::string& body) {
  size_t at = body.find("=ypart") + 200;
  while (at < body.size() && !(body[at] >= 'a' && body[at] <= 'w' && body[at - 1] != '=')) ++at;
  ASSERT_LT(at, body.size());
  body[at] ^= 0x01;
}

struct FOwnContent {
  std::map<std::string, std::string> files;  // name -> original bytes
  std::string corruptId;                     // the part the first server corrupts
};

// Our own posts: an 8-part yEnc file whose parts are posted in shuffled order, a file posted
// twice, and names that try to leave the download directory.
FOwnContent OwnContent() {
  FOwnContent c;
  c.files["shuffled.bin"] = RandomBytes(8 * 20000 - 77, 21);
  c.files["twice.bin"] = RandomBytes(5000, 22);
  c.files["escape.bin"] = RandomBytes(3000, 23);
  c.corruptId = "<shuffled.3@zevrin.test>";
  return c;
}

void PostOwn(TArticleStore& store, const FOwnContent& c, bool corrupt) {
  store.AddGroup(kOwnGroup);
  const std::string& file = c.files.at("shuffled.bin");
  std::vector<uint32_t> order = {1, 2, 3, 4, 5, 6, 7, 8};
  std::shuffle(order.begin(), order.end(), std::mt19937(5));
  for (uint32_t p : order) {
    std::string body = PlainYenc("shuffled.bin", file, p, 8);
    const std::string id = "<shuffled." + std::to_string(p) + "@zevrin.test>";
    if (corrupt && id == c.corruptId) CorruptOneByte(body);
    store.Post(kOwnGroup, Headers(kOwnGroup, "[1/1] - \"shuffled.bin\" yEnc (" + std::to_string(p) + "/8)", id), body);
  }
  const std::string& twice = c.files.at("twice.bin");
  for (const char* tag : {"first", "repost"})
    store.Post(kOwnGroup,
               Headers(kOwnGroup, std::string(tag) + " - \"twice.bin\" yEnc (1/1)",
                       std::string("<twice.") + tag + "@zevrin.test>"),
               PlainYenc("twice.bin", twice, 0, 0));
  store.Post(kOwnGroup, Headers(kOwnGroup, "\"escape.bin\" yEnc (1/1)", "<escape@zevrin.test>"),
             PlainYenc("../../escape.bin", c.files.at("escape.bin"), 0, 0));
}

// The generator's standard set; one part of one yEnc file corrupted when asked (its
// Message-ID goes to `corruptId`).
FManifest PostStandard(TArticleStore& store, bool corrupt, std::string& corruptId) {
  TArticleGenerator generator(store, 1, true);
  generator.PostStandardSet({});
  FManifest manifest = generator.Manifest();
  if (!corrupt) return manifest;
  for (const FManifestFile& f : manifest.files) {
    if (f.encoding != "yenc" || !f.broken.empty() || f.parts.size() < 2 || f.groups[0] != kYencGroup) continue;
    const FManifestPart& part = f.parts[1];
    TArticlePtr original;
    {
      auto lock = store.ReadLock();
      original = store.FindMessageId(part.messageId);
    }
    // The stored body is in wire form: undo the stuffing before posting it again.
    const std::string_view wire = original->Body();
    std::string plain;
    for (size_t pos = 0; pos < wire.size();) {
      const size_t lf = wire.find('\n', pos);
      const size_t end = lf == std::string_view::npos ? wire.size() : lf + 1;
      const size_t skip = wire[pos] == '.' ? 1 : 0;
      plain.append(wire.substr(pos + skip, end - pos - skip));
      pos = end;
    }
    CorruptOneByte(plain);
    store.PostNumbered(kYencGroup, part.numbers[0].second, MakeArticle(original->headers, plain));
    corruptId = part.messageId;
    break;
  }
  return manifest;
}

class DownloadE2ETest : public ::testing::Test {
 protected:
  // The process id keeps two builds' runs of this test apart.
  void SetUp() override {
    work_ = Scratch(("zeve2e_" + std::to_string(getpid()) + "_").c_str());
    work_.pop_back();
    dl_ = work_ + "/dl";
  }
  // A failed run keeps its directory (settings, logs, downloads) for a look.
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(work_);
  }
  std::shared_ptr<TArticleStore> Store(bool corrupt) {
    auto store = std::make_shared<TArticleStore>();
    std::string corruptId;
    manifest_ = PostStandard(*store, corrupt, corruptId);
    if (corrupt) corruptStandardId_ = corruptId;
    PostOwn(*store, own_, corrupt);
    return store;
  }
  std::unique_ptr<TNewsServer> Start(std::shared_ptr<TArticleStore> store) {
    FServerOptions options;
    options.bindAddresses = {"127.0.0.1"};
    auto server = std::make_unique<TNewsServer>(std::move(store), options);
    server->Start();
    return server;
  }
  FCli Cli(std::vector<std::string> args) {
    FCli r = RunCli(work_, args);
    lastErr_ = r.err;
    return r;
  }
  void AddServer(uint16_t port) {
    ASSERT_EQ(Cli({"add-server", "127.0.0.1:" + std::to_string(port), "--connections", "4"}).code, 0) << lastErr_;
  }
  void Subscribe(const std::vector<std::string>& groups) {
    for (const std::string& g : groups) ASSERT_EQ(Cli({"subscribe", g}).code, 0) << lastErr_;
    ASSERT_EQ(Cli({"refresh"}).code, 0) << lastErr_;
  }
  // The expected files of the standard set (whole, not broken).
  std::map<std::string, std::string> StandardFiles(const FManifest& manifest, const std::string& group) {
    std::map<std::string, std::string> files;
    for (const FManifestFile& f : manifest.files)
      if (f.broken.empty() && std::find(f.groups.begin(), f.groups.end(), group) != f.groups.end())
        files[f.name] = f.data;
    return files;
  }
  void ExpectFiles(const std::map<std::string, std::string>& expected) {
    const std::map<std::string, std::string> found = FilesBelow(dl_);
    for (const auto& [name, data] : expected) {
      auto it = found.find(name);
      ASSERT_NE(it, found.end()) << name << " missing";
      EXPECT_TRUE(ReadAll(it->second) == data) << name << " differs from the original";
    }
  }
  // After the program has ended: a check of the download directory, and the match code of
  // the article with this Message-ID.
  TFileMatch ClassifyDownloaded(const std::string& messageId) {
    SetErrorLogPath(work_ + "/e2e-error.log");
    TNewsStore store([] { return uint64_t{1} << 30; });
    store.SetPath(work_ + "/");
    store.SetActive(true);
    TArticle article(store);
    TExistList list(work_ + "/e2e-ExistLst.zev", &article);
    FFileCheckSettings settings;
    settings.scanDirs = {dl_ + "/"};
    list.StartCheck(settings, std::make_unique<TFileNameCache>(*store.FileLst(), 1 << 20));
    list.WaitForCheck();
    TDataPointer dp = 0;
    if (!store.MsgLst()->Find(messageId.substr(1, messageId.size() - 2), dp)) return fmNone;
    TArticleLock lock(article);
    if (!article.Read(dp)) return fmNone;
    return list.Classify("/nowhere/", false);
  }

  std::string work_, dl_, lastErr_, corruptStandardId_;
  FManifest manifest_;
  FOwnContent own_ = OwnContent();
};

TEST_F(DownloadE2ETest, TestServerFilesComeOutIdentical) {
  auto bad = Start(Store(true));
  auto good = Start(Store(false));
  const FManifest& manifest = manifest_;

  // First only the server with the corrupted part: everything else completes, that file
  // waits with its other parts on disk.
  AddServer(bad->Port());
  Subscribe({kOwnGroup, kYencGroup, kMiscGroup, kTextGroup});
  FCli get = Cli({"get", kOwnGroup, "*"});
  EXPECT_EQ(get.code, 3) << get.err;
  EXPECT_NE(get.err.find("could not be fetched"), std::string::npos) << get.err;
  EXPECT_EQ(FilesBelow(dl_).count("shuffled.bin"), 0u);
  ExpectFiles({{"twice.bin", own_.files.at("twice.bin")}, {"escape.bin", own_.files.at("escape.bin")}});

  // The second server has it: `run` goes on with what is still marked.
  AddServer(good->Port());
  ASSERT_EQ(Cli({"refresh"}).code, 0) << lastErr_;
  FCli run = Cli({"run"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("shuffled.bin\t159923\t"), std::string::npos) << run.out;
  ExpectFiles(own_.files);

  for (const char* group : {kYencGroup, kMiscGroup}) {
    FCli g = Cli({"get", group, "*"});
    EXPECT_EQ(g.code, 0) << group << ": " << g.err;
    ExpectFiles(StandardFiles(manifest, group));
  }
  FCli texts = Cli({"get", kTextGroup, "*"});
  EXPECT_EQ(texts.code, 0) << texts.err;
  size_t textFiles = 0;
  for (const auto& [name, path] : FilesBelow(dl_))
    if (name.size() > 4 && name.substr(name.size() - 4) == ".txt") {
      ++textFiles;
      EXPECT_NE(ReadAll(path).find("Line one of article"), std::string::npos) << name;
    }
  EXPECT_GT(textFiles, 0u);

  // Hostile names: nothing outside the download directory, nothing executable.
  EXPECT_FALSE(fs::exists(work_ + "/escape.bin"));
  EXPECT_FALSE(fs::exists(fs::path(work_).parent_path() / "escape.bin"));
  for (const auto& [name, path] : FilesBelow(dl_)) EXPECT_EQ(fs::status(path).permissions() & fs::perms::owner_exec, fs::perms::none) << name;

  // Everything again: nothing new is written.
  const auto before = FilesBelow(dl_);
  FCli again = Cli({"get", kOwnGroup, "*"});
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(FilesBelow(dl_), before);
  for (const char* copy : {"twice(2).bin", "shuffled(2).bin", "escape(2).bin"}) EXPECT_EQ(before.count(copy), 0u) << copy;

  EXPECT_EQ(ClassifyDownloaded("<shuffled.1@zevrin.test>"), fmDiskExact);
  EXPECT_EQ(ClassifyDownloaded("<escape@zevrin.test>"), fmDiskExact);
}

// ---------------------------------------------------------------- INN

// INN fed with the standard set of seed 1: the good copy of the part our server corrupts.
TEST_F(DownloadE2ETest, InnServesWhatTheTestServerCorrupted) {
  FInnLab inn;
  StartInnLab(inn, "e2e", "--seed 1 --generate standard");
  struct FStop {
    FInnLab& lab;
    ~FStop() { StopInnLab(lab); }
  } stop{inn};
  if (HasFatalFailure()) return;
  if (!inn.ready) GTEST_SKIP() << inn.skipReason;

  auto store = std::make_shared<TArticleStore>();
  const FManifest manifest = PostStandard(*store, true, corruptStandardId_);
  auto bad = Start(store);
  AddServer(bad->Port());
  Subscribe({kYencGroup, kMiscGroup, kTextGroup});
  FCli first = Cli({"get", kYencGroup, "*"});
  EXPECT_EQ(first.code, 3) << first.err;

  AddServer(inn.port);
  ASSERT_EQ(Cli({"refresh"}).code, 0) << lastErr_;
  FCli run = Cli({"run"});
  EXPECT_EQ(run.code, 0) << run.err;
  ExpectFiles(StandardFiles(manifest, kYencGroup));
  FCli misc = Cli({"get", kMiscGroup, "*"});
  EXPECT_EQ(misc.code, 0) << misc.err;
  ExpectFiles(StandardFiles(manifest, kMiscGroup));
  FCli texts = Cli({"get", kTextGroup, "*"});
  EXPECT_EQ(texts.code, 0) << texts.err;

  const auto before = FilesBelow(dl_);
  FCli again = Cli({"get", kYencGroup, "*"});
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(FilesBelow(dl_), before) << "nothing is written twice";
  EXPECT_EQ(ClassifyDownloaded(corruptStandardId_), fmDiskExact);
}

}  // namespace
