#include "download/CsvFile.h"

#include <cerrno>
#include <cstring>

#include "core/Error.h"
#include "core/TextUtil.h"

namespace zev {

std::vector<std::string> SplitCsvLine(std::string_view line) {
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"' && field.empty()) {
      quoted = true;
    } else if (c == ',') {
      fields.push_back(std::move(field));
      field.clear();
    } else {
      field += c;
    }
  }
  fields.push_back(std::move(field));
  return fields;
}

std::string CsvField(std::string_view text) {
  std::string plain(text);
  for (char& c : plain)
    if (c == '\r' || c == '\n') c = ' ';
  if (plain.find_first_of(",\"") == std::string::npos) return plain;
  std::string out = "\"";
  for (char c : plain) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

bool ParseInventoryLine(std::string_view line, FCsvInventoryLine& out) {
  std::vector<std::string> fields = SplitCsvLine(line);
  if (fields.size() < 4 || fields[0].empty()) return false;
  out.name = std::move(fields[0]);
  out.size = 0;
  for (char c : fields[1]) {
    if (c < '0' || c > '9') break;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (out.size > (UINT64_MAX - digit) / 10) {
      out.size = UINT64_MAX;
      break;
    }
    out.size = out.size * 10 + digit;
  }
  const std::string& dir = fields[3];
  const bool valid = dir.size() >= 1 && IsSeparator(dir.front()) && IsSeparator(dir.back());
  out.directory = valid ? dir : std::string();
  return true;
}

TCsvLineReader::TCsvLineReader(const std::string& path) : path_(path) {
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) throw EZevError(FormatText("Cannot open \"%s\": %s", path.c_str(), std::strerror(errno)));
}

TCsvLineReader::~TCsvLineReader() { std::fclose(file_); }

bool TCsvLineReader::Fill() {
  if (eof_) return false;
  end_ = std::fread(buffer_, 1, sizeof buffer_, file_);
  pos_ = 0;
  if (end_ == 0) {
    if (std::ferror(file_)) throw EZevError(FormatText("Cannot read \"%s\"", path_.c_str()));
    eof_ = true;
    return false;
  }
  return true;
}

bool TCsvLineReader::Next(std::string& line) {
  line.clear();
  bool any = false, tooLong = false;
  for (;;) {
    if (pos_ == end_ && !Fill()) break;
    any = true;
    const char* start = buffer_ + pos_;
    const void* lf = std::memchr(start, '\n', end_ - pos_);
    const size_t take = lf ? static_cast<size_t>(static_cast<const char*>(lf) - start) : end_ - pos_;
    if (!tooLong && line.size() + take <= kMaxLine) {
      line.append(start, take);
    } else {
      tooLong = true;
      line.clear();
    }
    pos_ += take;
    if (!lf) continue;
    ++pos_;
    if (!tooLong) break;
    tooLong = false;  // the over-long line is over; the next one counts
    any = false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any && !tooLong;
}

}  // namespace zev
