#include "FaultPlan.h"

#include <charconv>

namespace zev::testserver {
namespace {

bool ParseUint(std::string_view text, uint64_t& out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    size_t pos = text.find(sep, start);
    parts.push_back(text.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start));
    if (pos == std::string_view::npos) return parts;
    start = pos + 1;
  }
}

bool ParseKind(std::string_view kind, std::string_view arg, FFault& out, std::string& error) {
  if (kind == "close") out.kind = fkClose;
  else if (kind == "silent") out.kind = fkSilent;
  else if (kind == "drip") out.kind = fkDrip;
  else if (kind == "reset-status") { out.kind = fkReset; out.resetPoint = rpStatus; }
  else if (kind == "reset-data") { out.kind = fkReset; out.resetPoint = rpData; }
  else if (kind == "error") {
    out.kind = fkError;
    std::vector<std::string_view> parts = Split(arg, '/');
    uint64_t code = 0;
    if (!ParseUint(parts[0], code) || code < 100 || code > 599) {
      error = "error needs a status code 100-599, e.g. error=430";
      return false;
    }
    out.code = static_cast<int>(code);
    if (parts.size() > 1) out.text = std::string(arg.substr(parts[0].size() + 1));
    return true;
  } else if (kind == "split") {
    out.kind = fkSplitEnd;
    out.splits.clear();
    for (std::string_view s : Split(arg, '/')) {
      uint64_t off = 0;
      if (!ParseUint(s, off) || off > 5) {
        error = "split offsets are 0..5 within \"\\r\\n.\\r\\n\", e.g. split=2 or split=1/3";
        return false;
      }
      out.splits.push_back(static_cast<int>(off));
    }
    return true;
  } else {
    error = "unknown fault kind '" + std::string(kind) + "'";
    return false;
  }
  if (!arg.empty()) {
    error = "fault kind '" + std::string(kind) + "' takes no '=' value";
    return false;
  }
  return true;
}

bool ParseOption(std::string_view item, FFault& out, std::string& error) {
  size_t eq = item.find('=');
  std::string_view key = item.substr(0, eq);
  uint64_t value = 0;
  if (eq == std::string_view::npos || !ParseUint(item.substr(eq + 1), value) || value > 0xFFFFFFFFull) {
    error = "option '" + std::string(item) + "' needs a number, e.g. conn=1";
    return false;
  }
  if (key == "conn") out.connection = static_cast<uint32_t>(value);
  else if (key == "skip") out.skip = static_cast<uint32_t>(value);
  else if (key == "times") out.times = static_cast<uint32_t>(value);
  else if (key == "bytes") out.bytes = value;
  else if (key == "delay") out.delayMs = static_cast<int>(value);
  else {
    error = "unknown fault option '" + std::string(key) + "'";
    return false;
  }
  return true;
}

}  // namespace

std::string DefaultErrorText(int code) {
  switch (code) {
    case 400: return "Service temporarily unavailable";
    case 411: return "No such group";
    case 412: return "Not in a newsgroup";
    case 420: return "No current article";
    case 423: return "No such article number";
    case 430: return "No such article";
    case 480: return "Authentication required for command";
    case 481: return "Authentication failed";
    case 482: return "Authentication commands issued out of sequence";
    case 500: return "What?";
    case 501: return "Syntax error";
    case 502: return "Service permanently unavailable";
    case 503: return "Feature not supported";
    default: return "Injected failure";
  }
}

bool ParseFault(std::string_view description, FFault& out, std::string& error) {
  out = FFault();
  size_t colon = description.find(':');
  if (colon == std::string_view::npos || colon == 0) {
    error = "a fault reads VERB:KIND[,key=value...], e.g. BODY:reset-data,conn=1";
    return false;
  }
  out.command.assign(description.substr(0, colon));
  for (char& c : out.command)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  std::vector<std::string_view> items = Split(description.substr(colon + 1), ',');
  size_t eq = items[0].find('=');
  std::string_view kind = items[0].substr(0, eq);
  std::string_view arg = eq == std::string_view::npos ? std::string_view() : items[0].substr(eq + 1);
  if (!ParseKind(kind, arg, out, error)) return false;
  for (size_t i = 1; i < items.size(); ++i)
    if (!ParseOption(items[i], out, error)) return false;
  return true;
}

void TFaultPlan::Add(const FFault& fault) {
  std::lock_guard lock(mutex_);
  rules_.push_back(FRule{fault});
}

void TFaultPlan::Clear() {
  std::lock_guard lock(mutex_);
  rules_.clear();
}

std::optional<FFault> TFaultPlan::Take(std::string_view command, uint32_t connection) {
  std::lock_guard lock(mutex_);
  for (FRule& rule : rules_) {
    const FFault& f = rule.fault;
    const bool commandMatches = f.command == command || (f.command == "*" && command != "CONNECT");
    if (!commandMatches || (f.connection != 0 && f.connection != connection)) continue;
    if (f.times != 0 && rule.fired >= f.times) continue;
    if (rule.seen++ < f.skip) continue;
    ++rule.fired;
    return f;
  }
  return std::nullopt;
}

}  // namespace zev::testserver
