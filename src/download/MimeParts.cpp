#include "download/MimeParts.h"

#include "core/TextUtil.h"

namespace zev {

namespace {

constexpr size_t kNpos = std::string_view::npos;
constexpr std::string_view kEncodingHeader = "content-transfer-encoding:";

size_t LineStart(std::string_view t, size_t pos) {
  if (pos == 0) return 0;
  const size_t lf = t.rfind('\n', pos - 1);
  return lf == kNpos ? 0 : lf + 1;
}

size_t NextLine(std::string_view t, size_t pos) {
  const size_t lf = t.find('\n', pos);
  return lf == kNpos ? t.size() : lf + 1;
}

bool IsBlankLine(std::string_view t, size_t pos) {
  return pos < t.size() && (t[pos] == '\n' || (t[pos] == '\r' && pos + 1 < t.size() && t[pos + 1] == '\n'));
}

// Back from the encoding header to the part's boundary line (or the body's start).
size_t HeaderStart(std::string_view t, size_t headerLine) {
  size_t pos = headerLine;
  while (pos > 0) {
    const size_t previous = LineStart(t, pos - 1);
    if (IsBlankLine(t, previous)) break;
    pos = previous;
    if (t[pos] == '-') break;
  }
  return pos;
}

std::string NameIn(std::string_view header) {
  size_t at = PosIgnoreCase("name=", header);
  if (at == kNpos) return {};
  std::string_view rest = header.substr(at + 5);
  if (!rest.empty() && rest.front() == '"') {
    rest.remove_prefix(1);
    return std::string(rest.substr(0, rest.find_first_of("\"\r\n")));
  }
  return std::string(Trim(rest.substr(0, rest.find_first_of(";\r\n"))));
}

}  // namespace

std::vector<FMimePart> FindMimeParts(std::string_view body, std::string_view encoding) {
  std::vector<FMimePart> parts;
  for (size_t pos = 0; pos < body.size(); pos = NextLine(body, pos)) {
    // Nearly every line is data: its first letter settles it without a full comparison.
    if ((body[pos] | 0x20) != 'c' || body.size() - pos < kEncodingHeader.size() ||
        !EqualsIgnoreCase(body.substr(pos, kEncodingHeader.size()), kEncodingHeader))
      continue;
    size_t value = pos + kEncodingHeader.size();
    while (value < body.size() && (body[value] == ' ' || body[value] == '\t')) ++value;
    if (body.size() - value < encoding.size() || !EqualsIgnoreCase(body.substr(value, encoding.size()), encoding))
      continue;
    const size_t headerBegin = HeaderStart(body, pos);
    size_t content = pos;
    while (content < body.size() && !IsBlankLine(body, content)) content = NextLine(body, content);
    content = NextLine(body, content);
    size_t end = content;
    while (end < body.size() && body.compare(end, 2, "--") != 0) end = NextLine(body, end);
    FMimePart part;
    part.name = NameIn(body.substr(headerBegin, content - headerBegin));
    part.contentBegin = content;
    part.contentEnd = end;
    parts.push_back(std::move(part));
    if (end >= body.size()) break;
    pos = end;
  }
  return parts;
}

size_t SkipBodyHeaders(std::string_view body) {
  size_t blank = body.find("\r\n\r\n");
  size_t skip = blank == kNpos ? kNpos : blank + 4;
  if (blank == kNpos) {
    blank = body.find("\n\n");
    skip = blank == kNpos ? kNpos : blank + 2;
  }
  if (skip == kNpos || blank >= body.size() - skip) return 0;
  return skip;
}

}  // namespace zev
