#include "nntp/StartupConversation.h"

#include "core/Intl.h"
#include "core/TextUtil.h"
#include "db/Server.h"
#include "download/CommandSource.h"
#include "nntp/ServerDate.h"

namespace zev {
namespace {

FStartupStep Send(TConnState next, std::string command, bool multiLine = false) {
  FStartupStep step;
  step.action = saSend;
  step.next = next;
  step.command = std::move(command);
  step.multiLine = multiLine;
  return step;
}

FStartupStep Finish(TStartupAction action) {
  FStartupStep step;
  step.action = action;
  step.next = action == saReady ? csReady : action == saRetry ? csRetrying : csError;
  return step;
}

bool Is2xx(uint16_t code) { return code >= 200 && code < 300; }

}  // namespace

FStartupStep TStartupConversation::OnResponse(TConnState state, uint16_t code, std::string_view statusLine,
                                              std::string_view data, TDateTime now) {
  switch (state) {
    case csConnected: return Greeting(code);
    case csModeReader: return ModeReader(code);
    case csAuthUser:
      // RFC 4643 lets a server accept the user without a password (281).
      if (code == 281) return AfterLogin();
      if (code == 381) return Send(csAuthPass, "authinfo pass " + server_.Pass());
      return Finish(saFail);
    case csAuthPass: {
      if (!Is2xx(code)) return Finish(saFail);
      FStartupStep step = AfterLogin();
      if (code != 281) step.notes.push_back(NonStandard(code, "authinfo pass"));
      return step;
    }
    case csCheckCommands: return NewsgroupsRequest(code, data);
    case csNewsgroups: return NewsgroupsAnswer(code);
    case csDate: return DateAnswer(statusLine, now);
    default: return Finish(saFail);
  }
}

FStartupStep TStartupConversation::Greeting(uint16_t code) {
  if (code == 400 && server_.Has(sfAutoRetry)) return Finish(saRetry);
  if (!Is2xx(code)) return Finish(saFail);
  FStartupStep step = Send(csModeReader, "mode reader");
  postingState_ = code == 200 ? 0 : code == 201 ? 1 : 2;
  if (postingState_ == 2)
    step.notes.push_back(FormatText(Tr("Informational: %s responded with non-standard connection response code %d, "
                                       "expecting 200 or 201."),
                                    server_.Name().c_str(), code));
  return step;
}

FStartupStep TStartupConversation::ModeReader(uint16_t code) {
  if (!Is2xx(code) && code != 480 && code != 500) return Finish(saFail);
  if (code == 200 || code == 201) postingState_ = code - 200;
  FStartupStep step =
      server_.Has(sfNeedAuth) ? Send(csAuthUser, "authinfo user " + server_.User()) : AfterLogin();
  if (code != 200 && code != 201 && code != 480) step.notes.push_back(NonStandard(code, "mode reader"));
  return step;
}

FStartupStep TStartupConversation::AfterLogin() {
  // One connection per server updates the newsgroup list; the others go straight to work.
  if (!feed_ || server_.CommandsChecked.exchange(1) == 1) return Finish(saReady);
  return Send(csCheckCommands, "help", true);
}

FStartupStep TStartupConversation::NewsgroupsRequest(uint16_t code, std::string_view help) {
  const TDateTime last = feed_ ? feed_->LastUpdate(server_) : 0;
  FStartupStep step = last != 0 ? Send(csNewsgroups, "newgroups " + NewgroupsTime(last, code == 100 &&
                                                                                         HelpShowsFourDigitYear(help)),
                                       true)
                                : Send(csNewsgroups, "list", true);
  step.toFeed = true;
  return step;
}

FStartupStep TStartupConversation::NewsgroupsAnswer(uint16_t code) {
  if (Is2xx(code)) {
    FStartupStep step = Send(csDate, "date");
    step.deliverToFeed = true;
    if (code != 215 && code != 231) step.notes.push_back(NonStandard(code, "newsgroups"));
    return step;
  }
  if (code >= 500 && code < 600) {
    FStartupStep step = Send(csDate, "date");
    step.notes.push_back(
        FormatText(Tr("Informational: %s does not support the newgroups command."), server_.Name().c_str()));
    return step;
  }
  return Finish(saFail);
}

FStartupStep TStartupConversation::DateAnswer(std::string_view statusLine, TDateTime now) {
  // A server without DATE, or with a garbled answer, costs nothing worse than our own
  // clock as the time of this update.
  TDateTime serverTime = now;
  ParseServerDate(statusLine, serverTime);
  if (feed_) feed_->SetLastUpdate(server_, serverTime);
  return Finish(saReady);
}

std::string TStartupConversation::NonStandard(uint16_t code, const char* command) const {
  return FormatText(Tr("Informational: %s responded with non-standard connection response code %d to command %s."),
                    server_.Name().c_str(), code, command);
}

bool HelpShowsFourDigitYear(std::string_view help) {
  const size_t at = PosIgnoreCase("newgroups", help);
  if (at == std::string_view::npos) return false;
  const size_t lineEnd = help.find('\n', at);
  const std::string_view line = help.substr(at, lineEnd == std::string_view::npos ? help.npos : lineEnd - at);
  // RFC 3977 servers (INN among them) write the optional century as "[yy]yymmdd".
  return ContainsIgnoreCase(line, "yyyymmdd") || ContainsIgnoreCase(line, "[yy]yymmdd");
}

}  // namespace zev
