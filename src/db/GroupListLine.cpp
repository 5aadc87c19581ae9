#include "db/GroupListLine.h"

#include <algorithm>

#include "db/GroupFileName.h"

namespace zev {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void SkipBlanks(std::string_view& rest) {
  while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
}

// The decimal number at the front of `rest` (0 when there is none), saturating at the
// largest 64-bit value; `rest` moves past its digits.
uint64_t TakeNumber(std::string_view& rest) {
  uint64_t value = 0;
  while (!rest.empty() && rest.front() >= '0' && rest.front() <= '9') {
    const uint64_t digit = static_cast<uint64_t>(rest.front() - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
    rest.remove_prefix(1);
  }
  return value;
}

}  // namespace

const char* NewsgroupNameProblem(std::string_view name) {
  if (const char* problem = GroupFileNameProblem(name)) return problem;
  for (char c : name)
    if (c == ' ' || c == '!' || c == '*' || c == ',' || c == '?' || c == '[' || c == ']')
      return "name contains a character that newsgroup names must not have";
  return nullptr;
}

TListLineVerdict ParseListLine(std::string_view line, FListLine& out, const char*& problem) {
  problem = nullptr;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const size_t end = std::find_if(line.begin(), line.end(), IsBlank) - line.begin();
  if (end == line.size()) return TListLineVerdict::Ignored;
  const std::string_view name = line.substr(0, end);
  if ((problem = NewsgroupNameProblem(name))) return TListLineVerdict::Refused;
  std::string_view rest = line.substr(end);
  SkipBlanks(rest);
  const uint64_t high = TakeNumber(rest);
  SkipBlanks(rest);
  const uint64_t low = TakeNumber(rest);
  // An empty group reports low = high + 1; a group the server misnumbered may report
  // anything. Either way the server carries it, so the count is at least 1.
  const uint64_t count = high >= low ? std::min<uint64_t>(high - low, UINT32_MAX - 1) + 1 : 1;
  out.name = name;
  out.count = static_cast<uint32_t>(count);
  return TListLineVerdict::Stored;
}

}  // namespace zev
