#pragma once
// What a connection says after the server's greeting and before it takes work: "mode
// reader", the login, and on the first connection to a server the newsgroup-list update
// ("help" to learn the NEWGROUPS date form, then "list" or "newgroups", then "date").
// Each answer decides the next step; the connection carries the steps out.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"
#include "db/ConnState.h"

namespace zev {

class TServer;
class TNewsgroupFeed;

enum TStartupAction {
  saSend,   // send `command`, the slot moves to `next`
  saFail,   // the server refused a step: the status line becomes the error
  saRetry,  // the server is busy (400 greeting, with sfAutoRetry): reconnect later
  saReady,  // start-up is over: ask for work
};

struct FStartupStep {
  TStartupAction action = saFail;
  TConnState next = csError;
  std::string command;
  bool multiLine = false;
  bool toFeed = false;             // the answer to `command` goes to the newsgroup feed
  bool deliverToFeed = false;      // the answer just received goes to the newsgroup feed
  std::vector<std::string> notes;  // informational entries for the error log
};

class TStartupConversation {
 public:
  // `server` is the news server; `feed` may be null (no newsgroup list: no list update).
  TStartupConversation(TServer& server, TNewsgroupFeed* feed) : server_(server), feed_(feed) {}

  // The answer to the step of `state` is complete. `data` is its text after the status
  // line (the "help" text); `now` is the local clock for a server without a usable date.
  FStartupStep OnResponse(TConnState state, uint16_t code, std::string_view statusLine, std::string_view data,
                          TDateTime now);
  // 0 greeting 200 (posting allowed), 1 greeting 201, 2 another 2xx greeting.
  int PostingState() const { return postingState_; }

 private:
  FStartupStep Greeting(uint16_t code);
  FStartupStep ModeReader(uint16_t code);
  FStartupStep AfterLogin();
  FStartupStep NewsgroupsRequest(uint16_t code, std::string_view help);
  FStartupStep NewsgroupsAnswer(uint16_t code);
  FStartupStep DateAnswer(std::string_view statusLine, TDateTime now);
  std::string NonStandard(uint16_t code, const char* command) const;

  TServer& server_;
  TNewsgroupFeed* feed_;
  int postingState_ = 0;
};

// Whether a "help" text says NEWGROUPS takes a four-digit year: the line naming
// "newgroups" shows "yyyymmdd" or "[yy]yymmdd" (in any case).
bool HelpShowsFourDigitYear(std::string_view help);

}  // namespace zev
