#pragma once
// One client's conversation: greeting, then one command at a time until QUIT or until
// the client goes. Implements the reader commands a newsreader uses, with the answers
// and codes of RFC 3977 and the XOVER/XHDR/XPAT extensions as INN gives them.
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ArticleStore.h"
#include "FaultPlan.h"
#include "NntpCommand.h"
#include "Responder.h"
#include "ServerStream.h"
#include "StopSignal.h"
#include "TranscriptLog.h"

namespace zev::testserver {

struct FSessionConfig {
  std::string serverName = "zevrin-newsd";
  int greetingCode = 200;                    // 200 posting allowed, 201 not
  std::map<std::string, std::string> users;  // empty: any AUTHINFO is accepted
  bool requireAuth = false;                  // everything but a few commands needs a login
  std::vector<std::string> helpLines;        // empty: the built-in help text
  int64_t fixedNow = 0;                      // DATE answer (Unix seconds); 0 for the clock
};

class TNntpSession {
 public:
  TNntpSession(const TArticleStore& store, const FSessionConfig& config, TFaultPlan& faults,
               TTranscriptLog& log, const TStopSignal& stop, TServerStream& stream, uint32_t connection);

  // Runs the conversation; returns when it is over. Never throws for what a client does.
  void Run();
  // Sends the refusal of a server that is full, then the caller closes.
  void RefuseFull(int code);

 private:
  using THandler = void (TNntpSession::*)(const FNntpCommand&);
  struct FCommandInfo {
    THandler handler;
    bool allowedBeforeAuth;
  };
  static const std::map<std::string, FCommandInfo, std::less<>>& Commands();

  bool Greet();
  bool ReadLine(std::string& line);
  void Serve();
  bool ApplyCommandFault(const std::string& verb, FFault& fault);
  void DrainUntilClosed();
  void Dispatch(const FNntpCommand& command);
  int64_t Now() const;
  bool MayRead() const { return authenticated_ || !config_.requireAuth; }

  // Command handlers.
  void Capabilities(const FNntpCommand&);
  void ModeReader(const FNntpCommand&);
  void AuthInfo(const FNntpCommand&);
  void Quit(const FNntpCommand&);
  void Date(const FNntpCommand&);
  void Help(const FNntpCommand&);
  void Group(const FNntpCommand&);
  void ListGroup(const FNntpCommand&);
  void Over(const FNntpCommand&);
  void Hdr(const FNntpCommand&);
  void XPat(const FNntpCommand&);
  void ArticleCommand(const FNntpCommand&);
  void NextLast(const FNntpCommand&);
  void List(const FNntpCommand&);
  void NewGroups(const FNntpCommand&);
  void Post(const FNntpCommand&);

  // Helpers.
  const TNewsGroup* SelectGroup(const std::string& name);
  bool ResolveRange(const FNntpCommand& command, size_t argIndex, FArticleRange& range);
  void ListActive(const std::string& pattern, bool descriptions);
  bool GroupVisible(const TNewsGroup& group) const;
  bool ArticleVisible(const FArticle& article) const;
  void StreamHeaderLines(const std::string& header, const FArticleRange& range, const std::string* pattern,
                         bool emptyAsNone);

  const TArticleStore& store_;
  const FSessionConfig& config_;
  TFaultPlan& faults_;
  TTranscriptLog& log_;
  TServerStream& stream_;
  uint32_t connection_;
  TResponder out_;

  std::string input_;
  size_t inputPos_ = 0;
  std::string pendingUser_;
  bool authenticated_ = false;
  bool quit_ = false;
  std::string groupName_;   // selected group ("" none)
  uint64_t current_ = 0;    // current article number, 0 none
};

}  // namespace zev::testserver
