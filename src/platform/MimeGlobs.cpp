#include "platform/MimeGlobs.h"

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/Paths.h"

namespace zev::platform {

namespace {

// Longer "extensions" in these files are descriptive names rather than suffixes of
// posted files; the cap also keeps a damaged file from feeding us megabyte-long words.
constexpr size_t kMaxExtensionLength = 16;

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsSimpleExtension(const std::string& ext) {
  if (ext.empty() || ext.size() > kMaxExtensionLength) return false;
  for (char c : ext)
    if (!IsAsciiAlnum(c)) return false;
  return true;
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Adds ".ext" unless an extension equal to it ignoring case was collected already.
struct TExtensionCollector {
  std::vector<std::string> list;
  std::set<std::string> seen;
  void Add(const std::string& ext) {
    if (!IsSimpleExtension(ext)) return;
    if (seen.insert(LowerAscii(ext)).second) list.push_back("." + ext);
  }
  void AddAll(const std::vector<std::string>& dotted) {
    for (const auto& e : dotted) Add(e.substr(1));
  }
};

// The glob is the field after the type: the second of two fields (globs) or the third
// of three or four (globs2).
std::string GlobField(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, ':')) fields.push_back(field);
  if (fields.size() == 2) return fields[1];
  if (fields.size() >= 3) return fields[2];
  return {};
}

std::vector<std::string> DataDirs() {
  std::vector<std::string> dirs{DataHome()};
  const char* v = std::getenv("XDG_DATA_DIRS");
  std::string list = (v && *v) ? v : "/usr/local/share:/usr/share";
  std::istringstream in(list);
  std::string dir;
  while (std::getline(in, dir, ':'))
    if (!dir.empty() && dir[0] == '/') dirs.push_back(WithSlash(dir));
  return dirs;
}

}  // namespace

std::vector<std::string> ReadMimeGlobs(const std::string& path) {
  TExtensionCollector out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::string glob = GlobField(line);
    if (glob.size() > 2 && glob[0] == '*' && glob[1] == '.') out.Add(glob.substr(2));
  }
  return out.list;
}

std::vector<std::string> ReadMimeTypes(const std::string& path) {
  TExtensionCollector out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::string type, ext;
    if (!(words >> type)) continue;
    while (words >> ext) out.Add(ext);
  }
  return out.list;
}

std::vector<std::string> RegisteredExtensions() {
  TExtensionCollector all;
  for (const auto& dir : DataDirs()) {
    // globs2 carries everything globs does plus weights; read the older file only
    // where the newer one is missing.
    auto fromGlobs2 = ReadMimeGlobs(dir + "mime/globs2");
    all.AddAll(fromGlobs2.empty() ? ReadMimeGlobs(dir + "mime/globs") : fromGlobs2);
  }
  all.AddAll(ReadMimeTypes("/etc/mime.types"));
  return all.list;
}

}  // namespace zev::platform
