#include "Article.h"

#include <cstring>
#include <stdexcept>

namespace zev::testserver {
namespace {

std::string Clean(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return out;
}

void AppendField(std::string& out, std::string_view field) {
  for (char c : field) out.push_back(c == '\t' || c == '\r' || c == '\n' ? ' ' : c);
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

const std::string* FArticle::Header(std::string_view name) const {
  for (const FHeader& h : headers)
    if (EqualsNoCase(h.name, name)) return &h.value;
  return nullptr;
}

uint32_t AppendStuffedLines(std::string& out, std::string_view text) {
  uint32_t lines = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const void* hit = std::memchr(text.data() + pos, '\n', text.size() - pos);
    size_t end = hit ? static_cast<size_t>(static_cast<const char*>(hit) - text.data()) : text.size();
    size_t lineEnd = end;
    if (lineEnd > pos && text[lineEnd - 1] == '\r') --lineEnd;
    if (text[pos] == '.') out.push_back('.');
    out.append(text.data() + pos, lineEnd - pos);
    out.append("\r\n");
    ++lines;
    pos = end + 1;
  }
  return lines;
}

TArticlePtr MakeArticle(std::vector<FHeader> headers, std::string_view body) {
  auto article = std::make_shared<FArticle>();
  for (FHeader& h : headers) {
    h.name = Clean(h.name);
    h.value = Clean(h.value);
  }
  article->headers = std::move(headers);
  const std::string* id = article->Header("Message-ID");
  if (!id || id->empty()) throw std::invalid_argument("article without Message-ID");
  article->messageId = *id;
  std::string& wire = article->wire;
  wire.reserve(body.size() + body.size() / 64 + 1024);
  for (const FHeader& h : article->headers) {
    if (h.name.starts_with(".")) wire.push_back('.');
    wire.append(h.name).append(": ").append(h.value).append("\r\n");
  }
  article->headEnd = wire.size();
  wire.append("\r\n");
  article->bodyStart = wire.size();
  article->lines = AppendStuffedLines(wire, body);
  return article;
}

void AppendOverviewLine(std::string& out, uint64_t number, const FArticle& article,
                        std::string_view xref) {
  static constexpr const char* kFields[] = {"Subject", "From", "Date", "Message-ID", "References"};
  out.append(std::to_string(number));
  for (const char* field : kFields) {
    out.push_back('\t');
    if (const std::string* value = article.Header(field)) AppendField(out, *value);
  }
  out.push_back('\t');
  out.append(std::to_string(article.Bytes()));
  out.push_back('\t');
  out.append(std::to_string(article.lines));
  out.push_back('\t');
  if (!xref.empty()) {
    out.append("Xref: ");
    AppendField(out, xref);
  }
}

bool ArticleHeaderValue(const FArticle& article, std::string_view name, std::string_view xref,
                        std::string& value) {
  if (EqualsNoCase(name, ":bytes") || EqualsNoCase(name, "Bytes")) {
    value = std::to_string(article.Bytes());
    return true;
  }
  if (EqualsNoCase(name, ":lines") || EqualsNoCase(name, "Lines")) {
    value = std::to_string(article.lines);
    return true;
  }
  if (EqualsNoCase(name, "Xref") && !xref.empty()) {
    value = std::string(xref);
    return true;
  }
  const std::string* found = article.Header(name);
  if (!found) return false;
  value.clear();
  AppendField(value, *found);
  return true;
}

}  // namespace zev::testserver
