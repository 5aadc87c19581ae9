// Header retrieval fed response blocks directly, as a connection hands them over: GROUP
// replies, malformed overview data, gap marking, numbers near 2^32, the XHDR passes with
// their narrowing rule, and the body handler's Message-ID check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ArtListHarness.h"
#include "download/BodyDecoder.h"

namespace zev::test {
namespace {

class ArtListHandlerTest : public TArtListHarness {
 protected:
  void SetUp() override {
    TArtListHarness::SetUp();
    AddServer();
    connection_ = std::make_unique<TRecordingConnection>(*server_->Children()[0]);
  }

  void Hand(const std::string& command, uint16_t code, const std::string& data, TBlockType type = btComplete) {
    const std::string status = std::to_string(code) + " ok";
    FResponseBlock block;
    block.type = type;
    block.code = code;
    block.statusLine = status;
    block.command = command;
    block.data = data;
    // As a connection does: the target may parse the block first, on another thread.
    std::unique_ptr<FPreparedBlock> prepared;
    if (prepare_) prepared = engine_->ArtList()->Prepare(block);
    block.prepared = prepared.get();
    engine_->ArtList()->HandleResponse(*connection_, block);
  }
  void HandStatus(const std::string& command, const std::string& status) {
    FResponseBlock block;
    block.code = static_cast<uint16_t>(std::stoi(status.substr(0, 3)));
    block.statusLine = status;
    block.command = command;
    engine_->ArtList()->HandleResponse(*connection_, block);
  }

  // A group whose map covers first..last with every number pending, selected on the slot.
  TGroup& Selected(const std::string& name, uint32_t first, uint32_t last) {
    TGroup& group = Subscribe(name);
    Pair(group)->AdjustServerFile(first, last, false);
    connection_->Slot().Status.Set(TSlotStatus::CurrentGroup, name);
    return group;
  }

  // Queues the article's body as automatic marking does: its number is noted while the
  // queue's list is held, so the queue knows at once which server has it.
  void Queue(TGroup& group, uint32_t number, TArticleOffset offset) {
    auto list = engine_->Queue()->LockList();
    engine_->Queue()->PutBodyCommand(list, &group, 0, nullptr, 0, offset);
    gQueueIndex->SetArtNo(*server_, group, number, offset);
  }

  std::string LastCommand() {
    auto commands = connection_->Commands();
    return commands.empty() ? std::string() : commands.back();
  }

  static std::string Overview(uint32_t n, const std::string& id, const std::string& subject = "file.bin",
                              const std::string& tail = "\t\t62000\t1000") {
    return std::to_string(n) + "\t" + subject + "\tposter <p@x>\tSat, 15 Jun 2024 12:00:00 +0000\t<" + id + ">" + tail +
           "\r\n";
  }

  std::unique_ptr<TRecordingConnection> connection_;
  bool prepare_ = false;
};

// Overview data stored as handed over, and parsed ahead by the target first.
class ArtListXoverTest : public ArtListHandlerTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    ArtListHandlerTest::SetUp();
    prepare_ = GetParam();
  }
};

INSTANTIATE_TEST_SUITE_P(ParsedAhead, ArtListXoverTest, ::testing::Bool());

TEST_P(ArtListXoverTest, MalformedOverviewLinesAreSkippedAndGapsMarked) {
  TGroup& group = Selected("alt.test", 1, 10);
  const std::string longId = std::string(300, 'L') + "@x";
  std::string data = Overview(1, "first.article@x") + "2 no tabs at all\r\n" + Overview(3, "short") +
                     Overview(4, "fourth.article@x") + "abc\tdef\r\n" + Overview(7, longId) +
                     Overview(8, "refs.end@example", "file.bin", "\treferences") +
                     "99999999999\tfar\tp <p@x>\tSat, 15 Jun 2024 12:00:00 +0000\t<too.far@x>\t\t1\t1\r\n";
  Hand("xover 1-10", 224, data);

  std::vector<uint32_t> map = MapOf(group);
  ASSERT_EQ(map.size(), 11u);
  for (uint32_t n = 1; n <= 10; ++n) {
    const bool stored = n == 1 || n == 4 || n == 7 || n == 8;
    EXPECT_EQ(map[n] >= kFirstArticleOffset, stored) << n;
    if (!stored) {
      EXPECT_EQ(map[n], mmMissing) << n;
    }
  }
  EXPECT_EQ(Record(map[8]).FLines, 2u);
  EXPECT_TRUE(log_->Contains("Message-ID Too long"));
  EXPECT_TRUE(log_->Contains("Invalid Message-ID \"short\""));
  EXPECT_TRUE(log_->Contains("does not fit 32 bits"));
  EXPECT_EQ(engine_->ArtList()->Stats().headersStored, 4u);
  EXPECT_EQ(engine_->ArtList()->Stats().linesSkipped, 4u);
  EXPECT_TRUE(Pair(group)->PendingRanges().Ranges().empty());
}

// A middle block does not know where it starts: nothing before its first line is gone.
TEST_P(ArtListXoverTest, GapsAreMarkedOnlyWhereTheResponseShowsThem) {
  TGroup& group = Selected("alt.test", 5, 12);
  Hand("xover 5-10", 224, Overview(7, "seven.article@x"), btFirst);
  Hand("xover 5-10", 224, Overview(9, "nine.article@x"), btLast);
  std::vector<uint32_t> map = MapOf(group);
  // 5..6 are gone (the response started at 5); 8 is not known to be, since the last block
  // does not say where it starts; 10 is gone at the end; 11..12 were not asked for.
  EXPECT_EQ(map[1], mmMissing);
  EXPECT_EQ(map[2], mmMissing);
  EXPECT_GE(map[3], kFirstArticleOffset);
  EXPECT_EQ(map[4], mmNotFetched);
  EXPECT_GE(map[5], kFirstArticleOffset);
  EXPECT_EQ(map[6], mmMissing);
  EXPECT_EQ(map[7], mmNotFetched);
  EXPECT_EQ(map[8], mmNotFetched);
}

TEST_P(ArtListXoverTest, ArticleNumbersAtTheTopOfTheRange) {
  TGroup& group = Selected("alt.high", 4294967290u, 4294967295u);
  Hand("xover 4294967290-4294967295", 224,
       Overview(4294967290u, "low.end@x") + Overview(4294967295u, "very.top@x"));
  std::vector<uint32_t> map = MapOf(group);
  ASSERT_EQ(map.size(), 7u);
  EXPECT_EQ(map[0], 4294967290u);
  EXPECT_GE(map[1], kFirstArticleOffset);
  for (int i = 2; i <= 5; ++i) EXPECT_EQ(map[i], mmMissing) << i;
  EXPECT_GE(map[6], kFirstArticleOffset);
}

// Every GROUP reply either plans the first command or ends the refresh, and the map the
// refresh held is released exactly once: a reference the test holds outlives it, and
// nothing else is left holding the map. A log-in demanded at "group" leaves the refresh
// queued for when the connection is back.
TEST_F(ArtListHandlerTest, GroupRepliesPlanOrEndTheRefreshCleanly) {
  struct FCase {
    std::string reply;
    std::string planned;  // the command planned next, or "" when the refresh ended
    bool stillQueued;
    const char* logged;
  } cases[] = {
      {"211 0 0 0 %s", "", false, "Invalid first Article-ID (0)"},
      {"211 0 11 10 %s", "", false, nullptr},
      {"211 10 500 100 %s", "xover 90-100", false, nullptr},
      {"211 5 3000000000 3000000004 %s", "xover 3000000000-3000000004", false, nullptr},
      {"211 garbage", "", false, "Invalid response"},
      {"411 no such group", "", false, "no such group"},
      {"480 authentication required", "", true, "authentication required"},
  };
  int n = 0;
  for (const FCase& c : cases) {
    SCOPED_TRACE(c.reply);
    const std::string name = "alt.case" + std::to_string(n++);
    TGroup& group = Subscribe(name);
    auto sg = Pair(group);
    ASSERT_TRUE(sg);
    sg->LoadOffsMap();  // the test's own reference
    engine_->Queue()->ScheduleRefresh(group, false, rmPlain);
    engine_->Queue()->NextCommand(*connection_);
    ASSERT_EQ(LastCommand(), "group " + name);
    std::string reply = c.reply;
    if (auto at = reply.find("%s"); at != std::string::npos) reply.replace(at, 2, name);
    HandStatus("group " + name, reply);
    if (!c.planned.empty()) {
      EXPECT_EQ(LastCommand(), c.planned);
      EXPECT_TRUE(engine_->ArtList()->Refreshing(*sg));
      // The server has none of them after all: the refresh ends with that range.
      Hand(c.planned, 224, "");
    }
    EXPECT_EQ(sg->RefreshIdle.load(), !c.stillQueued);
    EXPECT_EQ(engine_->Queue()->CountPendingServers(group), c.stillQueued ? 1 : 0);
    EXPECT_FALSE(sg->IsUnused()) << "the map was released more than once";
    sg->ReleaseOffsMap();
    EXPECT_TRUE(sg->IsUnused()) << "the refresh still holds the map";
    if (c.logged) {
      EXPECT_TRUE(log_->Contains(c.logged)) << c.logged;
    }
    if (c.reply.rfind("411", 0) == 0) {
      EXPECT_FALSE(Pair(group)) << "411 removes the server-group";
    }
    if (c.stillQueued) {
      EXPECT_TRUE(connection_->Disconnected());
      EXPECT_EQ(connection_->Slot().State(), csError);
      engine_->Queue()->RemoveForNode(group);
      connection_->Slot().SetState(csIdle);
    }
  }
}

// Without overview the XHDR passes fill the records in: Message-IDs first, then sizes,
// then subjects, where a long run of complete articles is not fetched again.
TEST_F(ArtListHandlerTest, XhdrPassesNarrowAroundLongRunsOfCompleteArticles) {
  server_->Include(sfXHDR);
  server_->HdrBlock = 50;
  TGroup& group = Selected("alt.noxover", 1, 1000);
  Pair(group)->RefreshIdle = false;
  std::string overview;
  for (uint32_t n = 101; n <= 500; ++n) overview += Overview(n, "article" + std::to_string(n) + "@x");
  Hand("xover 101-500", 224, overview);
  std::string ids;
  for (uint32_t n = 1; n <= 1000; ++n) ids += std::to_string(n) + " <article" + std::to_string(n) + "@x>\r\n";
  Hand("xhdr Message-ID 1-1000", 221, ids);
  EXPECT_EQ(LastCommand(), "xhdr Lines 1-1000");
  std::string lines;
  for (uint32_t n = 1; n <= 1000; ++n) lines += std::to_string(n) + " 1000\r\n";
  Hand("xhdr Lines 1-1000", 221, lines);
  // 80 x 400 > 50 x 500: the 400 complete articles in the middle are not asked for again.
  EXPECT_EQ(LastCommand(), "xhdr Subject 501-1000");
  std::string subjects;
  for (uint32_t n = 501; n <= 1000; ++n) subjects += std::to_string(n) + " subject " + std::to_string(n) + "\r\n";
  Hand("xhdr Subject 501-1000", 221, subjects);
  EXPECT_EQ(LastCommand(), "xhdr Subject 1-100");
  FMsgData r = Record(MapOf(group)[700]);
  EXPECT_NE(r.FSubject, 0u);
  EXPECT_EQ(r.FLines, 1000u);
}

TEST_F(ArtListHandlerTest, BodiesAreCheckedAgainstTheirMessageId) {
  TGroup& group = Selected("alt.bodies", 1, 3);
  Hand("xover 1-3", 224,
       Overview(1, "body.one@example") + Overview(2, "body.two@example") + Overview(3, "body.three@example"));
  std::vector<uint32_t> map = MapOf(group);
  struct FCase {
    uint32_t number;
    std::string status;
    bool accepted;
  } cases[] = {
      {1, "222 1 <body.one@example> body", true},
      {2, "222 2 <someone.else@example> body", false},
      {3, "222 body follows", true},
  };
  // Bodies that pass go to the decoder: a counter stands in for it.
  TBodyCounter counting;
  TBodyCounter* counter = &counting;
  TBodyDecoder* decoder = engine_->ArtList()->Parts().decoder;
  engine_->ArtList()->Parts().decoder = counter;
  for (const FCase& c : cases) {
    SCOPED_TRACE(c.status);
    const TArticleOffset offset = map[c.number];
    Queue(group, c.number, offset);
    engine_->Queue()->NextCommand(*connection_);
    ASSERT_EQ(LastCommand(), "body " + std::to_string(c.number));
    const uint64_t before = counter->Bodies();
    const std::string command = "body " + std::to_string(c.number);
    FResponseBlock block;
    block.code = 222;
    block.statusLine = c.status;
    block.command = command;
    block.data = "line\r\n";
    engine_->ArtList()->HandleResponse(*connection_, block);
    EXPECT_EQ(counter->Bodies() - before, c.accepted ? 1u : 0u);
    // Nothing is saved yet, so nothing counts as downloaded.
    EXPECT_FALSE(HasFlag(Record(offset), afDownloaded));
  }
  engine_->ArtList()->Parts().decoder = decoder;
  EXPECT_TRUE(log_->Contains("Message-ID mismatch!"));
  EXPECT_TRUE(log_->Contains("Possible Message-ID mismatch!"));
}

TEST_F(ArtListHandlerTest, MissingArticleLosesItsNumberAndReference) {
  TGroup& group = Selected("alt.missing", 1, 2);
  Hand("xover 1-2", 224, Overview(1, "gone.article@example") + Overview(2, "kept.article@example"));
  const TArticleOffset offset = MapOf(group)[1];
  Queue(group, 1, offset);
  engine_->Queue()->NextCommand(*connection_);
  ASSERT_EQ(LastCommand(), "body 1");
  HandStatus("body 1", "430 no such article");
  EXPECT_EQ(MapOf(group)[1], mmMissing);
  EXPECT_EQ(Record(offset).FRefCount, 0u);
  EXPECT_EQ(engine_->Queue()->BodyCount(), 0);
}

}  // namespace
}  // namespace zev::test
