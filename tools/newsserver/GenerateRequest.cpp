#include "GenerateRequest.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <stdexcept>

namespace zev::testserver {
namespace {

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() && out <= max;
}

class TArgs {
 public:
  explicit TArgs(const FGenerateRequest& request) {
    for (const auto& [k, v] : request.args) values_[k] = v;
  }
  std::string Text(const std::string& key, const std::string& fallback) {
    auto it = values_.find(key);
    if (it == values_.end()) return fallback;
    std::string v = it->second;
    values_.erase(it);
    return v;
  }
  uint64_t Size(const std::string& key, uint64_t fallback) {
    std::string text = Text(key, "");
    if (text.empty()) return fallback;
    uint64_t value = 0;
    if (!ParseSize(text, value)) throw std::runtime_error("--generate: " + key + "=" + text + " is not a size");
    return value;
  }
  void CheckAllUsed(const std::string& what) const {
    if (!values_.empty()) throw std::runtime_error("--generate " + what + ": unknown key " + values_.begin()->first);
  }

 private:
  std::map<std::string, std::string> values_;
};

uint32_t Narrow(uint64_t value, const char* what) {
  if (value == 0 || value > 0xFFFFFFFFull) throw std::runtime_error(std::string("--generate: ") + what + " out of range");
  return static_cast<uint32_t>(value);
}

}  // namespace

void GenerateContent(TArticleGenerator& generator, const FGenerateRequest& request) {
  TArgs args(request);
  if (request.what == "standard") {
    FStandardSetOptions o;
    o.files = Narrow(args.Size("files", o.files), "files");
    o.fileSize = args.Size("file-size", o.fileSize);
    o.partSize = Narrow(args.Size("part-size", o.partSize), "part-size");
    o.texts = static_cast<uint32_t>(args.Size("texts", o.texts));
    generator.PostStandardSet(o);
  } else if (request.what == "text") {
    std::string group = args.Text("group", "zevrin.test.text");
    generator.PostTextThreads(group, Narrow(args.Size("count", 30), "count"));
  } else if (request.what == "broken") {
    generator.PostBrokenFiles(args.Text("group", "zevrin.test.binaries.broken"));
  } else if (request.what == "bulk") {
    FBulkOptions o;
    o.name = args.Text("group", o.name);
    o.count = args.Size("count", 1000000);
    o.partSize = Narrow(args.Size("part-size", o.partSize), "part-size");
    generator.AddBulk(o);
  } else if (request.what == "bench") {
    std::string group = args.Text("group", "zevrin.test.bench");
    const uint64_t size = args.Size("size", 1ull << 30);
    generator.PostBenchSet(group, size, Narrow(args.Size("part-size", 750000), "part-size"));
  }
  args.CheckAllUsed(request.what);
}


bool ParseGenerate(const std::string& text, FGenerateRequest& out, std::string& error) {
  size_t colon = text.find(':');
  out.what = text.substr(0, colon);
  static const std::vector<std::string> kKinds = {"standard", "text", "bulk", "bench", "broken"};
  if (std::find(kKinds.begin(), kKinds.end(), out.what) == kKinds.end()) {
    error = "--generate: unknown content '" + out.what + "' (standard, text, bulk, bench, broken)";
    return false;
  }
  if (colon == std::string::npos) return true;
  size_t start = colon + 1;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string item = text.substr(start, comma - start);
    size_t eq = item.find('=');
    if (eq == std::string::npos || eq == 0) {
      error = "--generate: '" + item + "' is not key=value";
      return false;
    }
    out.args.emplace_back(item.substr(0, eq), item.substr(eq + 1));
    start = comma + 1;
  }
  return true;
}

bool ParseSize(const std::string& text, uint64_t& out) {
  if (text.empty()) return false;
  uint64_t unit = 1;
  std::string digits = text;
  switch (text.back()) {
    case 'K': case 'k': unit = 1024; break;
    case 'M': case 'm': unit = 1024 * 1024; break;
    case 'G': case 'g': unit = 1024ull * 1024 * 1024; break;
    default: break;
  }
  if (unit != 1) digits.pop_back();
  uint64_t value = 0;
  if (!ParseNumber(digits, (1ull << 50) / unit, value)) return false;
  out = value * unit;
  return true;
}

}  // namespace zev::testserver
