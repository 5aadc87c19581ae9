// The scheduler's choices, as the command a connection of server A is given. The
// connection has selected alt.a; a "group" it is sent to reach another group is not
// answered here.
#include <functional>

#include "QueueTestSupport.h"

using namespace zev;
using zev::test::TQueueWorld;

namespace {

// An article queued in the case: carried by the servers named in `on` ("AB": A and B),
// where server X numbers it offset * 10 + (X - 'A' + 1).
struct FArt {
  TArticleOffset offset;
  std::string on = "A";
  int score = 0;
  uint32_t date = 1000;
  char group = 'a';
  char target = 0;
};

struct FTable : TQueueWorld {
  FTable() {
    for (char name : std::string("ABC")) server[name] = AddServer(std::string(1, name));
    group['a'] = AddGroup("alt.a");
    group['b'] = AddGroup("alt.b");
    SlotOf(server['A']).Status.Set(TSlotStatus::CurrentGroup, "alt.a");
  }
  void Queue(const FArt& art) {
    AddArticle(art.offset, 1000, art.date, static_cast<int8_t>(art.score));
    for (char s : art.on) serverGroups.Carry(art.offset, server[s], group[art.group], art.offset * 10 + (s - 'A' + 1));
    ASSERT_TRUE(Enqueue(art.offset, group[art.group], art.score));
    if (art.target) {
      auto list = queue.LockList();
      for (size_t i = 0; i < list.Count(); ++i)
        if (list.Item(i)->Data[0] == art.offset) queue.Retarget(list, list.Item(i), server[art.target]);
    }
  }
  void Settings(const std::function<void(FQueueSettings&)>& change) {
    FQueueSettings s = queue.Settings();
    change(s);
    queue.ApplySettings(s);
  }
  std::map<char, TServer*> server;
  std::map<char, TGroup*> group;
};

struct FCase {
  const char* name;
  std::vector<FArt> articles;
  std::string expect;  // "" when A is given nothing
  std::function<void(FTable&)> arrange = nullptr;
};

const std::vector<FCase> kCases = {
    {"the higher score wins", {{100, "A", 0}, {200, "A", 5}}, "body 2001"},
    {"equal scores: the older article first", {{100, "A", 0, 20}, {200, "A", 0, 10}}, "body 2001"},
    {"equal scores in queued order: list order",
     {{100, "A", 0, 20}, {200, "A", 0, 10}},
     "body 1001",
     [](FTable& t) { t.Settings([](FQueueSettings& s) { s.queuedOrder = true; }); }},
    {"an item targeted at the server first, whatever its score",
     {{100, "A", 9}, {200, "A", 0, 1000, 'a', 'A'}},
     "body 2001"},
    {"an item targeted at another server is not taken", {{100, "AB", 0, 1000, 'a', 'B'}}, ""},
    {"the selected group's items get SameGroupScore",
     {{100, "A", 0, 10, 'a'}, {200, "A", 0, 20, 'b'}},
     "body 2001",
     [](FTable& t) { t.SlotOf(t.server['A']).Status.Set(TSlotStatus::CurrentGroup, "alt.b"); }},
    {"another group wins with SameGroupScore more",
     {{100, "A", 1, 10, 'a'}, {200, "A", 0, 20, 'b'}},
     "group alt.a",
     [](FTable& t) { t.SlotOf(t.server['A']).Status.Set(TSlotStatus::CurrentGroup, "alt.b"); }},
    {"another group loses when SameGroupScore is larger",
     {{100, "A", 1, 10, 'a'}, {200, "A", 0, 20, 'b'}},
     "body 2001",
     [](FTable& t) {
       t.Settings([](FQueueSettings& s) { s.sameGroupScore = 2; });
       t.SlotOf(t.server['A']).Status.Set(TSlotStatus::CurrentGroup, "alt.b");
     }},
    {"a more preferred server carries it: A gives way",
     {{100, "AB"}},
     "",
     [](FTable& t) { t.server['B']->SetPreference(1); }},
    {"a less preferred server does not count",
     {{100, "AB"}},
     "body 1001",
     [](FTable& t) { t.server['B']->SetPreference(-1); }},
    {"equal scores: an article only A has before a shared one", {{100, "AB", 0, 10}, {200, "A", 0, 20}}, "body 2001"},
    {"not on this server", {{100, "B"}}, ""},
    {"no room on the disk: nothing starts", {{100, "A"}}, "", [](FTable& t) { t.freeBytes = 0; }},
    {"the free space cannot be checked: nothing starts", {{100, "A"}}, "", [](FTable& t) { t.diskReadable = false; }},
    {"paused queue", {{100, "A"}}, "", [](FTable& t) { t.queue.SetPaused(true); }},
    {"paused slot", {{100, "A"}}, "", [](FTable& t) { t.SlotOf(t.server['A']).Paused = true; }},
    {"daily limit reached",
     {{100, "A"}},
     "",
     [](FTable& t) {
       t.server['A']->Include(sfDailyLimit);
       t.server['A']->Daily.Limit = 100;
       t.server['A']->Daily.AddReceived(100);
     }},
    {"monthly limit not reached yet",
     {{100, "A"}},
     "body 1001",
     [](FTable& t) {
       t.server['A']->Include(sfMonthlyLimit);
       t.server['A']->Monthly.Limit = 100;
       t.server['A']->Monthly.AddReceived(99);
     }},
    {"a server for headers only takes no bodies",
     {{100, "A"}},
     "",
     [](FTable& t) { t.server['A']->ServerMode = smHeaders; }},
    {"a server for articles only fetches by Message-ID",
     {{100, "A"}},
     "body <part100@example.net>",
     [](FTable& t) { t.server['A']->ServerMode = smArticles; }},
    {"a hostile Message-ID is never sent",
     {{100, "A"}},
     "",
     [](FTable& t) {
       t.server['A']->ServerMode = smArticles;
       t.articles.records[100].MessageId = "x@y>\r\nquit";
     }},
    {"equal scores: a body before header work",
     {{100, "A"}},
     "body 1001",
     [](FTable& t) {
       t.serverGroups.pairs[{t.server['A'], t.group['a']}];
       t.queue.ScheduleRefresh(*t.group['a'], false, rmPlain);
     }},
    {"header work with a higher score first",
     {{100, "A"}},
     "group alt.a",
     [](FTable& t) {
       t.group['a']->HeaderScore = 5;
       t.serverGroups.pairs[{t.server['A'], t.group['a']}];
       t.queue.ScheduleRefresh(*t.group['a'], false, rmPlain);
     }},
};

}  // namespace

TEST(QueueScheduler, ChoosesAsTheRulesSay) {
  for (const FCase& c : kCases) {
    SCOPED_TRACE(c.name);
    FTable t;
    for (const FArt& art : c.articles) t.Queue(art);
    if (c.arrange) c.arrange(t);
    EXPECT_EQ(t.Connect(t.server['A']).Ask(0), c.expect);
  }
}
