#pragma once
// An article as the server sends it: headers and body kept once in wire form (CRLF line
// ends, dot-stuffed), so HEAD, BODY and ARTICLE are slices of one buffer that go out in a
// single large write.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zev::testserver {

struct FHeader {
  std::string name;
  std::string value;
};

struct FArticle {
  std::string messageId;          // with angle brackets
  std::vector<FHeader> headers;   // in order, values on one line
  std::string wire;               // stuffed header lines, empty line, stuffed body
  size_t headEnd = 0;             // end of the header lines (where the empty line starts)
  size_t bodyStart = 0;           // first byte of the body
  uint32_t lines = 0;             // body lines

  std::string_view Head() const { return std::string_view(wire).substr(0, headEnd); }
  std::string_view Body() const { return std::string_view(wire).substr(bodyStart); }
  std::string_view Whole() const { return wire; }
  // Case-insensitive header look-up; nullptr when absent.
  const std::string* Header(std::string_view name) const;
  // The article's size on the wire with its final ".\r\n", the overview's "Bytes".
  uint64_t Bytes() const { return wire.size() + 3; }
};

using TArticlePtr = std::shared_ptr<const FArticle>;

// Builds an article. The headers must hold a Message-ID; CR, LF and NUL in names or values
// become blanks so that a header can never break the framing. The body may use LF or CRLF
// line ends; a missing final line end is added.
TArticlePtr MakeArticle(std::vector<FHeader> headers, std::string_view body);

// Appends `text` as dot-stuffed CRLF lines; returns the number of lines written.
uint32_t AppendStuffedLines(std::string& out, std::string_view text);

// The overview line of RFC 3977 (Subject, From, Date, Message-ID, References, Bytes,
// Lines, Xref) for article number `number`, without its line end; tabs and line breaks in
// fields become blanks.
void AppendOverviewLine(std::string& out, uint64_t number, const FArticle& article,
                        std::string_view xref);

// Value of a header or an overview metadata item (":bytes", ":lines"); false when absent.
bool ArticleHeaderValue(const FArticle& article, std::string_view name, std::string_view xref,
                        std::string& value);

bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace zev::testserver
