#include "nntp/OverviewParser.h"

#include "core/Error.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/GroupFileName.h"

namespace zev {

namespace {

constexpr bool IsFieldEnd(char c) { return c == '\t' || c == '\r' || c == '\n'; }

// Where the parse stands: the rest of the line and the number, for the messages.
struct FCursor {
  std::string_view rest;
  uint32_t number = 0;

  // The field up to the next tab, CR, LF or the end; `tab` tells whether a tab ends it.
  std::string_view Field(bool& tab) {
    // Fields are short: a plain loop beats a library search per field.
    size_t end = 0;
    while (end < rest.size() && !IsFieldEnd(rest[end])) ++end;
    std::string_view field = rest.substr(0, end);
    tab = end < rest.size() && rest[end] == '\t';
    rest.remove_prefix(tab ? end + 1 : end);
    if (!tab) rest = {};
    return field;
  }
};

std::string WithId(const std::string& text, uint32_t number) {
  return number ? text + FormatText(" [Article-ID = %u]", number) : text;
}

void Problem(const std::string& text, uint32_t number, int level = 1) { LogError(WithId(text, number), level); }

void NoTab(const char* field, std::string_view value, uint32_t number) {
  std::string what = std::string(field) + ": \"" + PrintableName(value) + "\"";
  Problem(FormatText("XOVER parse problem! No TAB character after %s! Skipping this header.", what.c_str()), number);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The leading decimal digits of `text`, saturating at the largest 64-bit value; their
// count goes to `digits`.
uint64_t Digits(std::string_view text, size_t& digits) {
  uint64_t value = 0;
  digits = 0;
  for (; digits < text.size() && IsDigit(text[digits]); ++digits) {
    const unsigned d = static_cast<unsigned>(text[digits] - '0');
    value = value > (UINT64_MAX - d) / 10 ? UINT64_MAX : value * 10 + d;
  }
  return value;
}

// A Message-ID that can be stored and sent back to a server: no control characters.
bool UsableIdText(std::string_view id) {
  for (char c : id)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return true;
}

bool ParseNumber(FCursor& c, FOverviewLine& out) {
  size_t digits = 0;
  const uint64_t n = Digits(c.rest, digits);
  if (digits == 0) {
    Problem("XOVER parse problem! Missing numeric Article-ID value, string value found instead! Skipping this header.",
            0);
    return false;
  }
  // Article numbers start at 1: a 0 would read as "no article" everywhere after.
  if (n == 0) {
    Problem("XOVER parse problem! Article-ID 0 is not an article number! Skipping this header.", 0);
    return false;
  }
  if (n > UINT32_MAX)
    throw EZevError(FormatText("Article-ID %s does not fit 32 bits", PrintableName(c.rest.substr(0, 24)).c_str()));
  c.number = static_cast<uint32_t>(n);
  c.rest.remove_prefix(digits);
  if (c.rest.empty() || c.rest.front() != '\t') {
    Problem(FormatText("XOVER parse problem! No TAB character after Article-ID: %u! Skipping this header.", c.number),
            c.number);
    return false;
  }
  c.rest.remove_prefix(1);
  out.number = c.number;
  return true;
}

bool ParseTexts(FCursor& c, FOverviewLine& out) {
  bool tab = false;
  out.subject = c.Field(tab);
  if (!tab) return NoTab("Subject", out.subject, c.number), false;
  out.author = c.Field(tab);
  if (!tab) return NoTab("Author", out.author, c.number), false;
  if (out.author.size() > kMaxHeaderText) out.author = out.author.substr(0, kMaxHeaderText);
  out.date = c.Field(tab);
  if (!tab) return NoTab("Date", out.date, c.number), false;
  return true;
}

bool ParseMessageId(FCursor& c, FOverviewLine& out, bool& tab) {
  std::string_view id = c.Field(tab);
  if (id.empty() || id.front() != '<') {
    Problem(FormatText("XOVER parse problem! ArtID=%u, Subject=\"%s\", Author=\"%s\", Date=\"%s\", MsgID=\"%s\"! "
                       "Skipping this header.",
                       c.number, PrintableName(out.subject).c_str(), PrintableName(out.author).c_str(),
                       PrintableName(out.date).c_str(), PrintableName(id).c_str()),
            c.number);
    return false;
  }
  if (id.size() < 2 || id.back() != '>') {
    Problem(FormatText("XOVER parse problem! Non-terminated Message-ID \"%s\"! Skipping this header.",
                       PrintableName(id).c_str()),
            c.number);
    return false;
  }
  id = id.substr(1, id.size() - 2);
  if (id.size() > kMaxHeaderText) {
    Problem(FormatText("Warning! Message-ID Too long \"%s\" cut!", PrintableName(id).c_str()), c.number);
    id = id.substr(0, kMaxHeaderText);
  }
  if (id.size() < 8 || !UsableIdText(id)) {
    Problem(FormatText("XOVER parse problem! Invalid Message-ID \"%s\"! Skipping this header.",
                       PrintableName(id).c_str()),
            c.number);
    return false;
  }
  out.messageId = id;
  return true;
}

void Recover(const char* field, uint32_t number) {
  Problem(FormatText("Warning! Missing numeric %s value, string value found instead! Trying to recover.", field),
          number, 0);
}

// Bytes and lines; false when the line must be skipped.
bool ParseSizes(FCursor& c, FOverviewLine& out) {
  size_t digits = 0;
  uint64_t bytes = Digits(c.rest, digits);
  bool tab = false;
  if (digits == 0) {
    Recover("Bytes", c.number);
    c.Field(tab);
    if (!tab) return true;
  } else {
    c.rest.remove_prefix(digits);
    if (c.rest.empty() || c.rest.front() != '\t') {
      Problem(FormatText("XOVER parse problem! No TAB character after %s! Skipping this header.", "Bytes"), c.number);
      return false;
    }
    c.rest.remove_prefix(1);
    out.bytes = static_cast<uint32_t>(std::min<uint64_t>(bytes, UINT32_MAX));
  }
  const uint64_t lines = Digits(c.rest, digits);
  if (digits == 0) Recover("Lines", c.number);
  else out.lines = static_cast<uint32_t>(std::min<uint64_t>(lines, UINT32_MAX));
  return true;
}

}  // namespace

bool ParseOverviewLine(std::string_view line, FOverviewLine& out) {
  out = FOverviewLine{};
  FCursor c{line};
  if (!ParseNumber(c, out) || !ParseTexts(c, out)) {
    out.number = 0;
    return false;
  }
  bool tab = false;
  if (!ParseMessageId(c, out, tab)) {
    out.number = 0;
    return false;
  }
  if (tab) {
    c.Field(tab);  // References
  }
  if (!tab) {
    Problem("XOVER parse problem! No TAB character after References! Skipping this header.", c.number, 0);
    return true;
  }
  if (!ParseSizes(c, out)) {
    out.number = 0;
    return false;
  }
  return true;
}

uint32_t OverviewLineCount(uint32_t lines, uint32_t bytes) {
  const uint32_t fromBytes = bytes / 62 + 2;
  if (lines == 0) return fromBytes;
  // More lines than any one part of a binary post has: a server that counts the whole
  // file, or a wrong field. The byte count decides unless it is too small to tell.
  if (lines > 33825 && (bytes >= 16384 || lines / 62 > bytes)) return fromBytes;
  return lines;
}

}  // namespace zev
