#include "NntpSession.h"

#include <cstdio>
#include <ctime>

#include "Article.h"
#include "DateText.h"
#include "Wildmat.h"

namespace zev::testserver {
namespace {

constexpr size_t kChunk = 256 * 1024;

std::string Code(int code, const std::string& text) { return std::to_string(code) + " " + text; }

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string JoinArgs(const std::vector<std::string>& args, size_t from) {
  std::string out;
  for (size_t i = from; i < args.size(); ++i) out += (i > from ? " " : "") + args[i];
  return out;
}

void AppendLine(std::string& out, std::string_view line) {
  if (!line.empty() && line[0] == '.') out.push_back('.');
  out.append(line).append("\r\n");
}

const std::vector<std::string>& DefaultHelp() {
  static const std::vector<std::string> help = {
      "Commands:", "  article [message-id|number]", "  authinfo user name|pass password",
      "  body [message-id|number]", "  capabilities", "  date", "  group newsgroup", "  hdr header [range]",
      "  head [message-id|number]", "  help", "  last", "  list [active|active.times|headers|newsgroups|overview.fmt]",
      "  listgroup [newsgroup [range]]", "  mode reader", "  newgroups [yy]yymmdd hhmmss [GMT]", "  next",
      "  over [range]", "  quit", "  stat [message-id|number]", "  xhdr header [range|message-id]",
      "  xover [range]", "  xpat header range|message-id pattern [pattern...]"};
  return help;
}

}  // namespace

TNntpSession::TNntpSession(const TArticleStore& store, const FSessionConfig& config, TFaultPlan& faults,
                           TTranscriptLog& log, const TStopSignal& stop, TServerStream& stream, uint32_t connection)
    : store_(store), config_(config), faults_(faults), log_(log), stream_(stream),
      connection_(connection), out_(stream, log, connection, stop) {}

const std::map<std::string, TNntpSession::FCommandInfo, std::less<>>& TNntpSession::Commands() {
  static const std::map<std::string, FCommandInfo, std::less<>> commands = {
      {"CAPABILITIES", {&TNntpSession::Capabilities, true}},
      {"MODE", {&TNntpSession::ModeReader, true}},
      {"AUTHINFO", {&TNntpSession::AuthInfo, true}},
      {"QUIT", {&TNntpSession::Quit, true}},
      {"DATE", {&TNntpSession::Date, true}},
      {"HELP", {&TNntpSession::Help, true}},
      {"GROUP", {&TNntpSession::Group, false}},
      {"LISTGROUP", {&TNntpSession::ListGroup, false}},
      {"OVER", {&TNntpSession::Over, false}},
      {"XOVER", {&TNntpSession::Over, false}},
      {"HDR", {&TNntpSession::Hdr, false}},
      {"XHDR", {&TNntpSession::Hdr, false}},
      {"XPAT", {&TNntpSession::XPat, false}},
      {"ARTICLE", {&TNntpSession::ArticleCommand, false}},
      {"HEAD", {&TNntpSession::ArticleCommand, false}},
      {"BODY", {&TNntpSession::ArticleCommand, false}},
      {"STAT", {&TNntpSession::ArticleCommand, false}},
      {"NEXT", {&TNntpSession::NextLast, false}},
      {"LAST", {&TNntpSession::NextLast, false}},
      {"LIST", {&TNntpSession::List, false}},
      {"NEWGROUPS", {&TNntpSession::NewGroups, false}},
      {"POST", {&TNntpSession::Post, false}},
  };
  return commands;
}

int64_t TNntpSession::Now() const {
  return config_.fixedNow != 0 ? config_.fixedNow : static_cast<int64_t>(std::time(nullptr));
}

void TNntpSession::RefuseFull(int code) {
  try {
    out_.Line(Code(code, "Too many connections, try again later"));
  } catch (const EConnectionGone&) {
  }
}

void TNntpSession::Run() {
  try {
    if (Greet()) Serve();
  } catch (const EConnectionGone&) {
    // The fault or the broken socket is already in the transcript.
  }
}

bool TNntpSession::Greet() {
  const std::string posting = config_.greetingCode == 200 ? "(posting ok)" : "(no posting)";
  const std::string greeting = Code(config_.greetingCode, config_.serverName + " ready " + posting);
  std::optional<FFault> fault = faults_.Take("CONNECT", connection_);
  if (!fault) {
    out_.Line(greeting);
    return true;
  }
  switch (fault->kind) {
    case fkClose:
      log_.Add(connection_, tkEvent, "closed without greeting");
      return false;
    case fkSilent:
      log_.Add(connection_, tkEvent, "silent");
      DrainUntilClosed();
      return false;
    case fkError:
      out_.Line(Code(fault->code, fault->text.empty() ? DefaultErrorText(fault->code) : fault->text));
      return false;
    case fkReset:
      if (fault->resetPoint == rpData) {
        log_.Add(connection_, tkEvent, "reset without greeting");
        stream_.Reset();
        return false;
      }
      [[fallthrough]];
    default:
      out_.SetFault(&*fault);
      out_.Line(greeting);
      out_.SetFault(nullptr);
      return true;
  }
}

void TNntpSession::DrainUntilClosed() {
  char buffer[4096];
  while (stream_.Read(buffer, sizeof buffer) > 0) {
  }
}

bool TNntpSession::ReadLine(std::string& line) {
  bool tooLong = false;
  while (true) {
    size_t nl = input_.find('\n', inputPos_);
    if (nl != std::string::npos) {
      line.assign(input_, inputPos_, nl - inputPos_);
      inputPos_ = nl + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (tooLong || line.size() > kMaxCommandLine) {
        out_.Line(Code(501, "Line too long"));
        tooLong = false;
        continue;
      }
      return true;
    }
    if (input_.size() - inputPos_ > kMaxCommandLine) {
      // Drop what we have of an endless line; the rest up to its end is dropped too.
      tooLong = true;
      input_.clear();
      inputPos_ = 0;
    }
    if (inputPos_ > 0) {
      input_.erase(0, inputPos_);
      inputPos_ = 0;
    }
    char buffer[8192];
    long n = stream_.Read(buffer, sizeof buffer);
    if (n <= 0) return false;
    input_.append(buffer, static_cast<size_t>(n));
  }
}

bool TNntpSession::ApplyCommandFault(const std::string& verb, FFault& fault) {
  std::optional<FFault> taken = faults_.Take(verb, connection_);
  if (!taken) return false;
  fault = *taken;
  return true;
}

void TNntpSession::Serve() {
  std::string line;
  FNntpCommand command;
  while (!quit_ && ReadLine(line)) {
    log_.Add(connection_, tkCommand, line);
    if (!ParseNntpCommand(line, command)) {
      out_.Line(Code(500, "What?"));
      continue;
    }
    FFault fault;
    if (!ApplyCommandFault(command.verb, fault)) {
      Dispatch(command);
      continue;
    }
    if (fault.kind == fkClose) {
      log_.Add(connection_, tkEvent, "closed without answer");
      return;
    }
    if (fault.kind == fkSilent) {
      log_.Add(connection_, tkEvent, "silent");
      return DrainUntilClosed();
    }
    if (fault.kind == fkError) {
      out_.Line(Code(fault.code, fault.text.empty() ? DefaultErrorText(fault.code) : fault.text));
      continue;
    }
    out_.SetFault(&fault);
    Dispatch(command);
    out_.SetFault(nullptr);
  }
}

void TNntpSession::Dispatch(const FNntpCommand& command) {
  auto it = Commands().find(command.verb);
  if (it == Commands().end()) return out_.Line(Code(500, "What?"));
  if (!it->second.allowedBeforeAuth && !MayRead())
    return out_.Line(Code(480, "Authentication required for command"));
  (this->*(it->second.handler))(command);
}

void TNntpSession::Capabilities(const FNntpCommand&) {
  std::string data;
  for (std::string_view line : {"VERSION 2", "READER", "HDR", "OVER", "XPAT",
                                "LIST ACTIVE ACTIVE.TIMES HEADERS NEWSGROUPS OVERVIEW.FMT"})
    AppendLine(data, line);
  AppendLine(data, "IMPLEMENTATION " + config_.serverName);
  if (!authenticated_) AppendLine(data, "AUTHINFO USER");
  out_.MultiLine(Code(101, "Capability list:"), data);
}

void TNntpSession::ModeReader(const FNntpCommand& command) {
  if (command.args.size() != 1 || Upper(command.args[0]) != "READER") return out_.Line(Code(501, "Syntax error"));
  const std::string posting = config_.greetingCode == 200 ? "(posting ok)" : "(no posting)";
  out_.Line(Code(config_.greetingCode, config_.serverName + " ready " + posting));
}

void TNntpSession::AuthInfo(const FNntpCommand& command) {
  if (command.args.size() < 2) return out_.Line(Code(501, "Syntax error"));
  const std::string sub = Upper(command.args[0]);
  if (sub != "USER" && sub != "PASS") return out_.Line(Code(501, "Syntax error"));
  if (authenticated_) return out_.Line(Code(502, "Already authenticated"));
  const std::string value = JoinArgs(command.args, 1);
  if (sub == "USER") {
    pendingUser_ = value;
    return out_.Line(Code(381, "Enter password"));
  }
  if (pendingUser_.empty()) return out_.Line(Code(482, "Authentication commands issued out of sequence"));
  auto it = config_.users.find(pendingUser_);
  const bool ok = config_.users.empty() || (it != config_.users.end() && it->second == value);
  pendingUser_.clear();
  if (!ok) return out_.Line(Code(481, "Authentication failed"));
  authenticated_ = true;
  out_.Line(Code(281, "Authentication succeeded"));
}

void TNntpSession::Quit(const FNntpCommand&) {
  quit_ = true;
  out_.Line(Code(205, "Bye!"));
}

void TNntpSession::Date(const FNntpCommand&) { out_.Line(Code(111, FormatNntpDate(Now()))); }

void TNntpSession::Help(const FNntpCommand&) {
  std::string data;
  for (const std::string& line : config_.helpLines.empty() ? DefaultHelp() : config_.helpLines)
    AppendLine(data, line);
  out_.MultiLine(Code(100, "Help text follows"), data);
}

bool TNntpSession::GroupVisible(const TNewsGroup& group) const {
  return !group.RequiresAuth() || authenticated_;
}

bool TNntpSession::ArticleVisible(const FArticle& article) const {
  if (authenticated_) return true;
  const std::string* groups = article.Header("Newsgroups");
  if (!groups) return true;
  size_t start = 0;
  while (start <= groups->size()) {
    size_t comma = groups->find(',', start);
    if (comma == std::string::npos) comma = groups->size();
    const TNewsGroup* group = store_.FindGroup(std::string_view(*groups).substr(start, comma - start));
    if (!group || !group->RequiresAuth()) return true;
    start = comma + 1;
  }
  return false;
}

const TNewsGroup* TNntpSession::SelectGroup(const std::string& name) {
  const TNewsGroup* group = store_.FindGroup(name);
  if (!group) {
    out_.Line(Code(411, "No such group " + name));
    return nullptr;
  }
  if (!GroupVisible(*group)) {
    out_.Line(Code(480, "Read access denied"));
    return nullptr;
  }
  groupName_ = name;
  current_ = group->Count() > 0 ? group->NextNumber(group->Low()) : 0;
  return group;
}

void TNntpSession::Group(const FNntpCommand& command) {
  if (command.args.size() != 1) return out_.Line(Code(501, "Syntax error"));
  std::string status;
  {
    auto lock = store_.ReadLock();
    const TNewsGroup* group = SelectGroup(command.args[0]);
    if (!group) return;
    status = Code(211, std::to_string(group->Count()) + " " + std::to_string(group->Low()) + " " +
                           std::to_string(group->High()) + " " + group->Name());
  }
  out_.Line(status);
}

void TNntpSession::ListGroup(const FNntpCommand& command) {
  if (command.args.size() > 2) return out_.Line(Code(501, "Syntax error"));
  FArticleRange range{0, kMaxArticleNumber};
  if (command.args.size() == 2 && !ParseArticleRange(command.args[1], range))
    return out_.Line(Code(501, "Syntax error"));
  std::string status, data;
  {
    auto lock = store_.ReadLock();
    const TNewsGroup* group = nullptr;
    if (!command.args.empty()) {
      if (!(group = SelectGroup(command.args[0]))) return;
    } else if (groupName_.empty() || !(group = store_.FindGroup(groupName_))) {
      return out_.Line(Code(412, "Not in a newsgroup"));
    } else {
      current_ = group->Count() > 0 ? group->NextNumber(group->Low()) : 0;
    }
    status = Code(211, std::to_string(group->Count()) + " " + std::to_string(group->Low()) + " " +
                           std::to_string(group->High()) + " " + group->Name() + " list follows");
    for (uint64_t n = group->NextNumber(std::max<uint64_t>(range.low, 1)); n != 0 && n <= range.high;
         n = n == kMaxArticleNumber ? 0 : group->NextNumber(n + 1))
      data.append(std::to_string(n)).append("\r\n");
  }
  out_.MultiLine(status, data);
}

bool TNntpSession::ResolveRange(const FNntpCommand& command, size_t argIndex, FArticleRange& range) {
  if (groupName_.empty() || !store_.FindGroup(groupName_)) {
    out_.Line(Code(412, "Not in a newsgroup"));
    return false;
  }
  if (command.args.size() <= argIndex) {
    if (current_ == 0) {
      out_.Line(Code(420, "No current article"));
      return false;
    }
    range = {current_, current_};
    return true;
  }
  if (!ParseArticleRange(command.args[argIndex], range)) {
    out_.Line(Code(501, "Syntax error"));
    return false;
  }
  return true;
}

void TNntpSession::Over(const FNntpCommand& command) {
  if (command.args.size() > 1) return out_.Line(Code(501, "Syntax error"));
  if (!command.args.empty() && IsMessageId(command.args[0])) {
    std::string data;
    {
      auto lock = store_.ReadLock();
      TArticlePtr article = store_.FindMessageId(command.args[0]);
      if (!article || !ArticleVisible(*article)) return out_.Line(Code(430, "No such article"));
      AppendOverviewLine(data, 0, *article, {});
      data.append("\r\n");
    }
    return out_.MultiLine(Code(224, "Overview information follows"), data);
  }
  FArticleRange range;
  uint64_t next = 0;
  {
    auto lock = store_.ReadLock();
    if (!ResolveRange(command, 0, range)) return;
    next = store_.FindGroup(groupName_)->NextNumber(std::max<uint64_t>(range.low, 1));
  }
  if (next == 0 || next > range.high) return out_.Line(Code(423, "No articles in that range"));
  out_.Begin(Code(224, "Overview information follows"));
  std::string chunk;
  while (next != 0 && next <= range.high) {
    chunk.clear();
    {
      // Produced a chunk at a time so that the store is never locked while a slow
      // client is being written to.
      auto lock = store_.ReadLock();
      const TNewsGroup* group = store_.FindGroup(groupName_);
      for (; next != 0 && next <= range.high && chunk.size() < kChunk;
           next = next == kMaxArticleNumber ? 0 : group->NextNumber(next + 1)) {
        group->AppendOverview(next, chunk);
        chunk.append("\r\n");
      }
    }
    out_.Data(chunk);
  }
  out_.End();
}

void TNntpSession::StreamHeaderLines(const std::string& header, const FArticleRange& range,
                                     const std::string* pattern, bool emptyAsNone) {
  uint64_t next = 0;
  {
    auto lock = store_.ReadLock();
    next = store_.FindGroup(groupName_)->NextNumber(std::max<uint64_t>(range.low, 1));
  }
  std::string chunk, value;
  while (next != 0 && next <= range.high) {
    chunk.clear();
    {
      auto lock = store_.ReadLock();
      const TNewsGroup* group = store_.FindGroup(groupName_);
      for (; next != 0 && next <= range.high && chunk.size() < kChunk;
           next = next == kMaxArticleNumber ? 0 : group->NextNumber(next + 1)) {
        const bool found = group->HeaderValue(next, header, value);
        if (pattern && (!found || !WildmatMatch(*pattern, value))) continue;
        std::string line = std::to_string(next) + " " + (found ? value : (emptyAsNone ? "(none)" : ""));
        AppendLine(chunk, line);
      }
    }
    out_.Data(chunk);
  }
  out_.End();
}

void TNntpSession::Hdr(const FNntpCommand& command) {
  const bool isHdr = command.verb == "HDR";
  if (command.args.empty() || command.args.size() > 2) return out_.Line(Code(501, "Syntax error"));
  const std::string& header = command.args[0];
  const std::string status = isHdr ? Code(225, "Headers follow")
                                   : Code(221, header + " fields follow");
  if (command.args.size() == 2 && IsMessageId(command.args[1])) {
    std::string data, value;
    {
      auto lock = store_.ReadLock();
      TArticlePtr article = store_.FindMessageId(command.args[1]);
      if (!article || !ArticleVisible(*article)) return out_.Line(Code(430, "No such article"));
      const bool found = ArticleHeaderValue(*article, header, {}, value);
      AppendLine(data, (isHdr ? "0 " : command.args[1] + " ") + (found ? value : (isHdr ? "" : "(none)")));
    }
    return out_.MultiLine(status, data);
  }
  FArticleRange range;
  {
    auto lock = store_.ReadLock();
    if (!ResolveRange(command, 1, range)) return;
    const uint64_t first = store_.FindGroup(groupName_)->NextNumber(std::max<uint64_t>(range.low, 1));
    if (first == 0 || first > range.high) return out_.Line(Code(423, "No articles in that range"));
  }
  out_.Begin(status);
  StreamHeaderLines(header, range, nullptr, !isHdr);
}

void TNntpSession::XPat(const FNntpCommand& command) {
  if (command.args.size() < 3) return out_.Line(Code(501, "Syntax error"));
  const std::string& header = command.args[0];
  // Like INN, the patterns after the range are one pattern joined by blanks, so that a
  // pattern may contain them.
  const std::string pattern = JoinArgs(command.args, 2);
  const std::string status = Code(221, header + " matches follow");
  if (IsMessageId(command.args[1])) {
    std::string data, value;
    {
      auto lock = store_.ReadLock();
      TArticlePtr article = store_.FindMessageId(command.args[1]);
      if (!article || !ArticleVisible(*article)) return out_.Line(Code(430, "No such article"));
      if (ArticleHeaderValue(*article, header, {}, value) && WildmatMatch(pattern, value))
        AppendLine(data, command.args[1] + " " + value);
    }
    return out_.MultiLine(status, data);
  }
  FArticleRange range;
  {
    auto lock = store_.ReadLock();
    if (!ResolveRange(command, 1, range)) return;
  }
  out_.Begin(status);
  StreamHeaderLines(header, range, &pattern, false);
}

void TNntpSession::ArticleCommand(const FNntpCommand& command) {
  if (command.args.size() > 1) return out_.Line(Code(501, "Syntax error"));
  static const std::map<std::string, std::pair<int, const char*>, std::less<>> kKinds = {
      {"ARTICLE", {220, "article"}}, {"HEAD", {221, "head"}}, {"BODY", {222, "body"}}, {"STAT", {223, "status"}}};
  const auto [code, word] = kKinds.at(command.verb);
  TArticlePtr article;
  uint64_t number = 0;
  {
    auto lock = store_.ReadLock();
    if (!command.args.empty() && IsMessageId(command.args[0])) {
      article = store_.FindMessageId(command.args[0]);
      if (!article) return out_.Line(Code(430, "No such article"));
      if (!ArticleVisible(*article)) return out_.Line(Code(480, "Read access denied for this article"));
    } else {
      const TNewsGroup* group = groupName_.empty() ? nullptr : store_.FindGroup(groupName_);
      if (!group) return out_.Line(Code(412, "Not in a newsgroup"));
      if (command.args.empty()) {
        if (current_ == 0) return out_.Line(Code(420, "No current article"));
        number = current_;
      } else if (!ParseArticleNumber(command.args[0], number)) {
        return out_.Line(Code(501, "Syntax error"));
      }
      article = group->Article(number);
      if (!article) return out_.Line(Code(423, "No such article number " + std::to_string(number)));
      current_ = number;
    }
  }
  const std::string status = Code(code, std::to_string(number) + " " + article->messageId + " " + word);
  switch (code) {
    case 220: return out_.MultiLine(status, article->Whole());
    case 221: return out_.MultiLine(status, article->Head());
    case 222: return out_.MultiLine(status, article->Body());
    default: return out_.Line(status);
  }
}

void TNntpSession::NextLast(const FNntpCommand& command) {
  const bool next = command.verb == "NEXT";
  std::string status;
  {
    auto lock = store_.ReadLock();
    const TNewsGroup* group = groupName_.empty() ? nullptr : store_.FindGroup(groupName_);
    if (!group) return out_.Line(Code(412, "Not in a newsgroup"));
    if (current_ == 0) return out_.Line(Code(420, "No current article"));
    uint64_t target = 0;
    if (next) {
      target = current_ == kMaxArticleNumber ? 0 : group->NextNumber(current_ + 1);
    } else {
      for (uint64_t n = group->NextNumber(group->Low()); n != 0 && n < current_; n = group->NextNumber(n + 1))
        target = n;
    }
    if (target == 0) return out_.Line(next ? Code(421, "No next article") : Code(422, "No previous article"));
    current_ = target;
    TArticlePtr article = group->Article(target);
    status = Code(223, std::to_string(target) + " " + (article ? article->messageId : "<>") + " status");
  }
  out_.Line(status);
}

void TNntpSession::ListActive(const std::string& pattern, bool descriptions) {
  std::string data;
  {
    auto lock = store_.ReadLock();
    char text[64];
    for (const TNewsGroup* group : store_.Groups()) {
      if (!GroupVisible(*group) || (!pattern.empty() && !WildmatMatch(pattern, group->Name()))) continue;
      if (descriptions) {
        AppendLine(data, group->Name() + "\t" + group->Description());
        continue;
      }
      std::snprintf(text, sizeof text, " %010llu %010llu y", static_cast<unsigned long long>(group->High()),
                    static_cast<unsigned long long>(group->Low()));
      AppendLine(data, group->Name() + text);
    }
  }
  out_.MultiLine(descriptions ? Code(215, "Newsgroup descriptions in form \"group description\"")
                              : Code(215, "Newsgroups in form \"group high low status\""),
                 data);
}

void TNntpSession::List(const FNntpCommand& command) {
  const std::string keyword = command.args.empty() ? "ACTIVE" : Upper(command.args[0]);
  const std::string pattern = command.args.size() > 1 ? command.args[1] : std::string();
  if (command.args.size() > 2) return out_.Line(Code(501, "Syntax error"));
  if (keyword == "ACTIVE") return ListActive(pattern, false);
  if (keyword == "NEWSGROUPS") return ListActive(pattern, true);
  std::string data;
  if (keyword == "OVERVIEW.FMT") {
    for (std::string_view field : {"Subject:", "From:", "Date:", "Message-ID:", "References:", "Bytes:", "Lines:",
                                   "Xref:full"})
      AppendLine(data, field);
    return out_.MultiLine(Code(215, "Order of fields in overview database"), data);
  }
  if (keyword == "HEADERS") {
    for (std::string_view field : {":", ":bytes", ":lines"}) AppendLine(data, field);
    return out_.MultiLine(Code(215, "Headers and metadata items supported"), data);
  }
  if (keyword == "ACTIVE.TIMES") {
    {
      auto lock = store_.ReadLock();
      for (const TNewsGroup* group : store_.Groups())
        if (GroupVisible(*group) && (pattern.empty() || WildmatMatch(pattern, group->Name())))
          AppendLine(data, group->Name() + " " + std::to_string(group->Created()) + " " + config_.serverName);
    }
    return out_.MultiLine(Code(215, "Group creations in form \"name time who\""), data);
  }
  out_.Line(Code(501, "Syntax error"));
}

void TNntpSession::NewGroups(const FNntpCommand& command) {
  int64_t since = 0;
  const bool gmtOk = command.args.size() == 2 || (command.args.size() == 3 && Upper(command.args[2]) == "GMT");
  if (!gmtOk || !ParseNewgroupsTime(command.args[0], command.args[1], YearOf(Now()), since))
    return out_.Line(Code(501, "Syntax error"));
  std::string data;
  {
    auto lock = store_.ReadLock();
    for (const TNewsGroup* group : store_.Groups())
      if (GroupVisible(*group) && group->Created() >= since)
        AppendLine(data, group->Name() + " " + std::to_string(group->High()) + " " + std::to_string(group->Low()) +
                             " y");
  }
  out_.MultiLine(Code(231, "New newsgroups follow"), data);
}

void TNntpSession::Post(const FNntpCommand&) { out_.Line(Code(440, "Posting not permitted")); }

}  // namespace zev::testserver
