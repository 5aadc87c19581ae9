#include "nntp/HeaderLineParser.h"

#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/GroupFileName.h"

namespace zev {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

enum TNumber { nbOk, nbMissing, nbTooLarge };

TNumber LeadingNumber(std::string_view& line, uint32_t& number) {
  if (line.empty() || !IsDigit(line.front())) return nbMissing;
  uint64_t value = 0;
  size_t i = 0;
  for (; i < line.size() && IsDigit(line[i]); ++i) {
    value = value * 10 + (line[i] - '0');
    if (value > UINT32_MAX) return nbTooLarge;
  }
  number = static_cast<uint32_t>(value);
  line.remove_prefix(i);
  return nbOk;
}

bool NumberProblem(TNumber result, const FHeaderLineContext& c) {
  if (result == nbTooLarge) {
    LogError(FormatText("%s parse problem! Invalid ArtID! Server=\"%s\", Group=\"%s\". Skipping this header.",
                        c.place.c_str(), PrintableName(c.server).c_str(), PrintableName(c.group).c_str()),
             1);
    return true;
  }
  if (result == nbMissing) {
    const std::string where = c.previous ? FormatText("Previous ArtID = %u", c.previous) : std::string("First Row");
    LogError(FormatText("%s parse problem! Missing ArtID! %s, Server=\"%s\", Group=\"%s\". Skipping this header.",
                        c.place.c_str(), where.c_str(), PrintableName(c.server).c_str(),
                        PrintableName(c.group).c_str()),
             1);
    return true;
  }
  return false;
}

}  // namespace

bool ParseHeaderLine(std::string_view line, FHeaderLineContext& context, FHeaderLine& out) {
  out = FHeaderLine{};
  if (NumberProblem(LeadingNumber(line, out.number), context)) return false;
  if (line.empty() || !IsBlank(line.front())) {
    LogError(FormatText("%s parse problem! Missing %s for ArtID=%u! Server=\"%s\", Group=\"%s\". Skipping this header.",
                        context.place.c_str(), "separator", out.number, PrintableName(context.server).c_str(),
                        PrintableName(context.group).c_str()),
             1);
    return false;
  }
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  out.value = line;
  context.previous = out.number;
  return true;
}

bool ParseNumberLine(std::string_view line, FHeaderLineContext& context, uint32_t& number) {
  number = 0;
  if (NumberProblem(LeadingNumber(line, number), context)) return false;
  context.previous = number;
  return true;
}

std::string_view MessageIdOfValue(std::string_view value, bool& bracketed) {
  bracketed = !value.empty() && value.front() == '<';
  if (bracketed) value.remove_prefix(1);
  size_t end = value.find('>');
  return end == std::string_view::npos ? value : value.substr(0, end);
}

bool ParseRequestRange(std::string_view command, uint32_t& low, uint32_t& high) {
  const size_t dash = command.rfind('-');
  if (dash == std::string_view::npos) return false;
  auto digitsAt = [&](size_t from, size_t to, uint32_t& out) {
    uint64_t v = 0;
    bool any = false;
    for (size_t i = from; i < to && IsDigit(command[i]); ++i) {
      v = v * 10 + (command[i] - '0');
      if (v > UINT32_MAX) return false;
      any = true;
    }
    out = static_cast<uint32_t>(v);
    return any;
  };
  size_t start = dash;
  while (start > 0 && IsDigit(command[start - 1])) --start;
  return digitsAt(start, dash, low) && digitsAt(dash + 1, command.size(), high);
}

}  // namespace zev
