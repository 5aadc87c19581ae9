#include "SpoolLoader.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "NntpCommand.h"

namespace zev::testserver {
namespace {

namespace fs = std::filesystem;

bool IsGroupName(const std::string& name) {
  if (name.empty() || name.size() > 200 || name[0] == '.') return false;
  for (char c : name)
    if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '/' || c == 0x7F) return false;
  return true;
}

bool ReadFile(const fs::path& path, std::string& text, std::string& error) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  if (ec) {
    error = ec.message();
    return false;
  }
  if (size > kMaxSpoolArticle) {
    error = "larger than " + std::to_string(kMaxSpoolArticle) + " bytes";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  text.resize(size);
  if (!in.read(text.data(), static_cast<std::streamsize>(size))) {
    error = "cannot read";
    return false;
  }
  return true;
}

std::string_view NextLine(std::string_view text, size_t& pos) {
  size_t nl = text.find('\n', pos);
  size_t end = nl == std::string_view::npos ? text.size() : nl;
  std::string_view line = text.substr(pos, end - pos);
  pos = nl == std::string_view::npos ? text.size() : nl + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::string Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

bool ParseArticleText(std::string_view text, std::vector<FHeader>& headers, std::string_view& body,
                      std::string& error) {
  headers.clear();
  size_t pos = 0;
  while (pos < text.size()) {
    std::string_view line = NextLine(text, pos);
    if (line.empty()) {
      body = text.substr(pos);
      return !headers.empty() || (error = "no headers", false);
    }
    if ((line[0] == ' ' || line[0] == '\t') && !headers.empty()) {
      headers.back().value += " " + Trim(line);
      continue;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
      error = "header line without a name: " + std::string(line.substr(0, 60));
      return false;
    }
    headers.push_back(FHeader{std::string(line.substr(0, colon)), Trim(line.substr(colon + 1))});
  }
  body = {};
  if (headers.empty()) error = "empty file";
  return !headers.empty();
}

FSpoolReport LoadSpool(const std::string& directory, TArticleStore& store) {
  FSpoolReport report;
  std::error_code ec;
  if (!fs::is_directory(directory, ec)) throw std::runtime_error("spool " + directory + " is not a directory");
  std::vector<fs::path> groups;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, ec))
    if (entry.is_directory() && !entry.is_symlink()) groups.push_back(entry.path());
  std::sort(groups.begin(), groups.end());
  for (const fs::path& groupDir : groups) {
    const std::string group = groupDir.filename().string();
    if (!IsGroupName(group)) {
      report.skipped.push_back(groupDir.string() + ": not a usable group name");
      continue;
    }
    store.AddGroup(group);
    std::vector<std::pair<uint64_t, fs::path>> numbered;
    std::vector<fs::path> others;
    for (const fs::directory_entry& entry : fs::directory_iterator(groupDir, ec)) {
      if (!entry.is_regular_file() || entry.is_symlink()) continue;
      uint64_t n = 0;
      if (ParseArticleNumber(entry.path().filename().string(), n) && n > 0 && n <= 0xFFFFFFFFull)
        numbered.emplace_back(n, entry.path());
      else
        others.push_back(entry.path());
    }
    std::sort(numbered.begin(), numbered.end());
    std::sort(others.begin(), others.end());
    uint64_t next = numbered.empty() ? 1 : numbered.back().first + 1;
    for (const fs::path& p : others) numbered.emplace_back(next++, p);
    for (const auto& [number, path] : numbered) {
      std::string text, error;
      std::vector<FHeader> headers;
      std::string_view body;
      if (!ReadFile(path, text, error) || !ParseArticleText(text, headers, body, error)) {
        report.skipped.push_back(path.string() + ": " + error);
        continue;
      }
      auto id = std::find_if(headers.begin(), headers.end(), [](const FHeader& h) { return EqualsNoCase(h.name, "Message-ID"); });
      if (id == headers.end() || !IsMessageId(id->value)) {
        if (id != headers.end()) headers.erase(id);
        headers.push_back(FHeader{"Message-ID", "<" + std::to_string(number) + "." + group + "@spool.zevrin-newsd.test>"});
      }
      store.PostNumbered(group, number, MakeArticle(std::move(headers), body));
      ++report.articles;
    }
  }
  return report;
}

}  // namespace zev::testserver
