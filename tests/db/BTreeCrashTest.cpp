// A child process changes a tree and is killed (SIGKILL) in the middle; the file must then
// open, pass the checker and hold exactly the state of a completed flush.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <stdexcept>
#include <thread>

#include "db/BTree.h"
#include "db/BTreeFormat.h"
#include "db/PageCache.h"
#include "DbTestUtil.h"

using namespace zev;

namespace {

constexpr int kFlushEvery = 400;

// The same seed gives the same operations and the same model in the child and the parent.
class TWorkload {
 public:
  explicit TWorkload(uint64_t seed) : rng_(seed) {}
  struct TOp {
    bool insert;
    std::string key;
    uint32_t tag;
  };
  TOp Next() {
    if (model_.size() > 50 && rng_() % 100 < 20) {
      auto it = model_.lower_bound(test::MessageId(rng_));
      if (it == model_.end()) it = model_.begin();
      TOp op{false, it->first, 0};
      model_.erase(it);
      return op;
    }
    TOp op{true, test::MessageId(rng_), static_cast<uint32_t>(rng_())};
    model_.emplace(op.key, op.tag);  // a repeated key keeps its first record, as in the tree
    return op;
  }
  const std::map<std::string, uint32_t>& Model() const { return model_; }

 private:
  std::mt19937_64 rng_;
  std::map<std::string, uint32_t> model_;
};

struct TTreeKind {
  uint8_t options;
  uint32_t sizeParam;
};
const TTreeKind kKinds[] = {{boKeepCount | boKeysInNodes, 77}, {boKeepCount | boCaseInsensitive, 8}};

// Runs in the child: applies operations, flushing every kFlushEvery and reporting each
// completed flush through the pipe. Never returns.
[[noreturn]] void ChildWork(const std::string& path, TTreeKind kind, uint64_t seed, int reportFd, int maxOps) {
  try {
    TBTree tree(path, kind.options, 64 << 20, kind.sizeParam);
    TWorkload work(seed);
    std::vector<uint8_t> record(kind.sizeParam, 0);
    for (int i = 1; i <= maxOps; ++i) {
      TWorkload::TOp op = work.Next();
      TDataPointer dp;
      if (op.insert) {
        std::memcpy(record.data(), &op.tag, 4);
        tree.Insert(op.key, record.data(), dp);
      } else {
        tree.DeleteKey(op.key, true);
      }
      if (i % kFlushEvery == 0) {
        try {
          tree.Flush(true, true);
        } catch (const std::runtime_error&) {
          // A failure the test injected after the commit: the flush still counts.
        }
        if (::write(reportFd, &i, sizeof i) != sizeof i) ::_exit(3);
      }
    }
  } catch (...) {
    ::_exit(2);
  }
  ::_exit(0);
}

// Last flush the child reported.
int LastReported(int fd) {
  int last = 0, n;
  while (::read(fd, &n, sizeof n) == sizeof n) last = n;
  return last;
}

std::map<std::string, uint32_t> ModelAt(uint64_t seed, int ops) {
  TWorkload work(seed);
  for (int i = 0; i < ops; ++i) work.Next();
  return work.Model();
}

// The tree's content must be the model after `candidates[k]` operations for some k.
void ExpectOneOf(const std::string& path, TTreeKind kind, uint64_t seed, std::vector<int> candidates) {
  TBTree tree(path, kind.options, 8 << 20, kind.sizeParam);
  test::ExpectSound(tree);
  std::vector<uint8_t> record(kind.sizeParam);
  for (int ops : candidates) {
    auto model = ModelAt(seed, ops);
    if (tree.RecordCount() != model.size()) continue;
    bool same = true;
    for (auto& [key, tag] : model) {
      TDataPointer dp;
      if (!tree.Find(key, dp) || !tree.ReadRecord(dp, record.data()) || fmt::Load32(record.data()) != tag) {
        same = false;
        break;
      }
    }
    if (same) return;
  }
  ADD_FAILURE() << "the reopened tree matches no completed flush among " << ::testing::PrintToString(candidates)
                << " (" << tree.RecordCount() << " records)";
}

TEST(BTreeCrash, KilledAtRandomMomentsKeepsTheLastFlush) {
  std::mt19937 timing(7);
  for (int round = 0; round < 10; ++round) {
    TTreeKind kind = kKinds[round % 2];
    std::string path = test::ScratchDir() + "crash" + std::to_string(round) + ".zev";
    uint64_t seed = 1000 + round;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(fds[0]);
      ChildWork(path, kind, seed, fds[1], 1 << 30);
    }
    ::close(fds[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + timing() % 400));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself with " << WEXITSTATUS(status);
    int last = LastReported(fds[0]);
    ::close(fds[0]);
    if (!test::FileExists(path)) continue;  // killed before the file was created
    ExpectOneOf(path, kind, seed, {last, last + kFlushEvery});
  }
}

// Ends the process at the n-th time `step` is reached during the given flush; with
// gFailFlush set, that flush first fails once its first page is to go in place.
int gKillFlush = 0, gKillStep = -1, gKillAt = 0, gFlush = 0, gSeen = 0, gFailFlush = 0;
void KillAtStep(TCheckpointStep step) {
  if (step == TCheckpointStep::Began) ++gFlush;
  if (gFlush == gFailFlush && step == TCheckpointStep::PageInPlace) {
    gFailFlush = 0;
    throw std::runtime_error("injected write failure");
  }
  if (gFlush == gKillFlush && static_cast<int>(step) == gKillStep && ++gSeen == gKillAt) ::raise(SIGKILL);
}

TEST(BTreeCrash, KilledAtEachStepOfAFlush) {
  struct TCase {
    TCheckpointStep step;
    int occurrence;   // within the third flush
    int flushesDone;  // flushes whose content must survive
    bool secondFails = false;  // the second flush fails after its commit
  };
  // New pages go in place before the commit; a crash then must cut them off again. A flush
  // that failed once committed leaves the tree taking no changes: the retry writes the same
  // pages again, and a crash during it keeps that flush.
  const TCase cases[] = {{TCheckpointStep::NewPageInPlace, 1, 2},
                         {TCheckpointStep::NewPageInPlace, 2, 2},
                         {TCheckpointStep::JournalWritten, 1, 2},
                         {TCheckpointStep::Committed, 1, 3},
                         {TCheckpointStep::PageInPlace, 1, 3},
                         {TCheckpointStep::PageInPlace, 4, 3},
                         {TCheckpointStep::InPlaceSynced, 1, 3},
                         {TCheckpointStep::JournalWritten, 1, 2, true},
                         {TCheckpointStep::Committed, 1, 2, true}};
  int round = 0;
  for (const TCase& c : cases) {
    for (TTreeKind kind : kKinds) {
      std::string path = test::ScratchDir() + "step" + std::to_string(round++) + ".zev";
      int fds[2];
      ASSERT_EQ(::pipe(fds), 0);
      pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        ::close(fds[0]);
        gKillFlush = 3;
        gKillStep = static_cast<int>(c.step);
        gKillAt = c.occurrence;
        gFailFlush = c.secondFails ? 2 : 0;
        gCheckpointHook = KillAtStep;
        ChildWork(path, kind, 77, fds[1], 3 * kFlushEvery);
      }
      ::close(fds[1]);
      int status = 0;
      ::waitpid(child, &status, 0);
      ::close(fds[0]);
      ASSERT_TRUE(WIFSIGNALED(status)) << "step " << static_cast<int>(c.step) << " was never reached";
      EXPECT_TRUE(test::FileExists(path + "-journal"));
      ExpectOneOf(path, kind, 77, {c.flushesDone * kFlushEvery});
      EXPECT_FALSE(test::FileExists(path + "-journal")) << "a replayed journal is removed";
    }
  }
}

}  // namespace
