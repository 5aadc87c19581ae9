#include "NntpCommand.h"

namespace zev::testserver {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

int Digits(std::string_view text, size_t pos, size_t count) {
  int value = 0;
  for (size_t i = pos; i < pos + count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

}  // namespace

bool ParseNntpCommand(std::string_view line, FNntpCommand& out) {
  out.verb.clear();
  out.args.clear();
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i == start) break;
    std::string word(line.substr(start, i - start));
    if (out.verb.empty()) {
      for (char& c : word)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      out.verb = std::move(word);
    } else {
      out.args.push_back(std::move(word));
    }
  }
  return !out.verb.empty();
}

bool ParseArticleNumber(std::string_view text, uint64_t& out) {
  if (!AllDigits(text) || text.size() > 19) return false;
  uint64_t value = 0;
  for (char c : text) value = value * 10 + static_cast<uint64_t>(c - '0');
  if (value > kMaxArticleNumber) return false;
  out = value;
  return true;
}

bool ParseArticleRange(std::string_view text, FArticleRange& out) {
  size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    if (!ParseArticleNumber(text, out.low)) return false;
    out.high = out.low;
    return true;
  }
  if (!ParseArticleNumber(text.substr(0, dash), out.low)) return false;
  std::string_view rest = text.substr(dash + 1);
  if (rest.empty()) {
    out.high = kMaxArticleNumber;
    return true;
  }
  return ParseArticleNumber(rest, out.high);
}

bool IsMessageId(std::string_view text) {
  if (text.size() < 3 || text.size() > 250 || text.front() != '<' || text.back() != '>') return false;
  for (char c : text)
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) return false;
  return true;
}

int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
  // Days from civil (proleptic Gregorian), after H. Hinnant's algorithm.
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = era * 146097 + doe - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

bool ParseNewgroupsTime(std::string_view date, std::string_view time, int nowYear, int64_t& out) {
  if (!AllDigits(date) || !AllDigits(time) || time.size() != 6) return false;
  int year;
  size_t pos;
  if (date.size() == 8) {
    year = Digits(date, 0, 4);
    pos = 4;
  } else if (date.size() == 6) {
    int yy = Digits(date, 0, 2);
    int century = nowYear / 100 * 100;
    year = century + yy;
    if (year > nowYear) year -= 100;
    pos = 2;
  } else {
    return false;
  }
  int month = Digits(date, pos, 2), day = Digits(date, pos + 2, 2);
  int hour = Digits(time, 0, 2), minute = Digits(time, 2, 2), second = Digits(time, 4, 2);
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return false;
  out = UtcSeconds(year, month, day, hour, minute, second);
  return true;
}

}  // namespace zev::testserver
