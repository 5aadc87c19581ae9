#include "core/ZevIniFile.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/Error.h"
#include "core/TextUtil.h"

namespace zev {
namespace {

std::string Clean(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return out;
}

std::string CleanName(std::string_view text) { return std::string(Trim(Clean(text))); }

void CreateDirectoryOf(const std::string& fileName) {
  auto dir = std::filesystem::path(fileName).parent_path();
  if (dir.empty()) return;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir, ec)) throw EFCreateError("Could not create directory for .ini file.");
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

}  // namespace

TZevIniFile::TZevIniFile(std::string fileName, TFileOps& ops) : fileName_(std::move(fileName)), ops_(ops) {
  if (fileName_.empty()) return;
  CreateDirectoryOf(fileName_);
  std::ifstream in(fileName_, std::ios::binary);
  if (!in) {
    std::error_code ec;
    if (std::filesystem::exists(fileName_, ec)) throw EZevError("Unable to read " + fileName_);
    return;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  Parse(ss.str());
}

std::string TZevIniFile::Directory() const {
  auto slash = fileName_.rfind('/');
  return slash == std::string::npos ? "./" : fileName_.substr(0, slash + 1);
}

void TZevIniFile::Parse(std::string_view text) {
  sections_.clear();
  index_.clear();
  TSection* current = nullptr;
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view trimmed = Trim(line);
    if (trimmed.empty()) continue;
    if (trimmed.front() == '[' && trimmed.back() == ']' && trimmed.size() >= 2) {
      current = &FindOrAdd(Trim(trimmed.substr(1, trimmed.size() - 2)));
      continue;
    }
    if (!current) current = &FindOrAdd("");
    size_t eq = line.find('=');
    std::string_view key = eq == std::string_view::npos ? std::string_view{} : Trim(line.substr(0, eq));
    bool isComment = trimmed.front() == ';' || trimmed.front() == '#';
    if (key.empty() || isComment)
      current->entries.push_back({std::string(trimmed), {}, false});
    else if (!FindKey(*current, key))
      current->entries.push_back({std::string(key), std::string(line.substr(eq + 1)), true});
  }
}

void TZevIniFile::Reindex() {
  index_.clear();
  for (size_t i = 0; i < sections_.size(); ++i) index_.emplace(LowerAscii(sections_[i].name), i);
}

TZevIniFile::TSection* TZevIniFile::Find(std::string_view section) {
  auto it = index_.find(LowerAscii(section));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

const TZevIniFile::TSection* TZevIniFile::Find(std::string_view section) const {
  auto it = index_.find(LowerAscii(section));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

TZevIniFile::TSection& TZevIniFile::FindOrAdd(std::string_view section) {
  if (TSection* s = Find(section)) return *s;
  index_.emplace(LowerAscii(section), sections_.size());
  sections_.push_back({std::string(section), {}});
  return sections_.back();
}

const TZevIniFile::TEntry* TZevIniFile::FindKey(const TSection& s, std::string_view key) {
  for (const TEntry& e : s.entries)
    if (e.hasValue && EqualsIgnoreCase(e.key, key)) return &e;
  return nullptr;
}

const std::string* TZevIniFile::Lookup(std::string_view section, std::string_view key) const {
  const TSection* s = Find(section);
  const TEntry* e = s ? FindKey(*s, key) : nullptr;
  return e ? &e->value : nullptr;
}

std::string TZevIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  std::lock_guard lock(lock_);
  const std::string* v = Lookup(section, key);
  return v ? *v : std::string(def);
}

int64_t TZevIniFile::ReadInteger(std::string_view section, std::string_view key, int64_t def) const {
  std::lock_guard lock(lock_);
  const std::string* v = Lookup(section, key);
  if (!v) return def;
  int64_t value = 0;
  return ParseInt64(*v, value) ? value : def;
}

bool TZevIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TZevIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  std::string name = CleanName(key);
  std::lock_guard lock(lock_);
  TSection& s = FindOrAdd(CleanName(section));
  for (TEntry& e : s.entries)
    if (e.hasValue && EqualsIgnoreCase(e.key, name)) {
      e.value = Clean(value);
      return;
    }
  s.entries.push_back({name, Clean(value), true});
}

void TZevIniFile::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void TZevIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TZevIniFile::ReadHexBytes(std::string_view section, std::string_view key, size_t size, void* buffer) const {
  auto* out = static_cast<unsigned char*>(buffer);
  std::string text = ReadString(section, key, "");
  for (size_t i = 0; i < size; ++i) {
    size_t at = 2 * i;
    out[i] = at + 1 < text.size() ? static_cast<unsigned char>(HexDigit(text[at]) * 16 + HexDigit(text[at + 1])) : 0;
  }
}

void TZevIniFile::WriteHexBytes(std::string_view section, std::string_view key, size_t size, const void* buffer) {
  static const char kDigits[] = "0123456789ABCDEF";
  const auto* in = static_cast<const unsigned char*>(buffer);
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[in[i] >> 4];
    text += kDigits[in[i] & 15];
  }
  WriteString(section, key, text);
}

bool TZevIniFile::SectionExists(std::string_view section) const {
  std::lock_guard lock(lock_);
  return Find(section) != nullptr;
}

bool TZevIniFile::ValueExists(std::string_view section, std::string_view key) const {
  std::lock_guard lock(lock_);
  return Lookup(section, key) != nullptr;
}

void TZevIniFile::EraseSection(std::string_view section) {
  std::lock_guard lock(lock_);
  auto it = index_.find(LowerAscii(section));
  if (it == index_.end()) return;
  sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(it->second));
  Reindex();
}

void TZevIniFile::DeleteKey(std::string_view section, std::string_view key) {
  std::lock_guard lock(lock_);
  TSection* s = Find(section);
  if (!s) return;
  std::erase_if(s->entries, [&](const TEntry& e) { return e.hasValue && EqualsIgnoreCase(e.key, key); });
}

std::vector<std::string> TZevIniFile::Sections() const {
  std::lock_guard lock(lock_);
  std::vector<std::string> out;
  for (const TSection& s : sections_)
    if (!s.name.empty()) out.push_back(s.name);
  return out;
}

std::vector<std::string> TZevIniFile::Keys(std::string_view section) const {
  std::lock_guard lock(lock_);
  std::vector<std::string> out;
  if (const TSection* s = Find(section))
    for (const TEntry& e : s->entries)
      if (e.hasValue) out.push_back(e.key);
  return out;
}

std::string TZevIniFile::Text() const {
  std::lock_guard lock(lock_);
  std::string out;
  // Lines without a section header can only stand at the very top of the file.
  std::vector<const TSection*> order;
  for (const TSection& s : sections_)
    if (s.name.empty()) order.insert(order.begin(), &s);
    else order.push_back(&s);
  for (const TSection* sp : order) {
    const TSection& s = *sp;
    if (!s.name.empty()) out += "[" + s.name + "]\n";
    for (const TEntry& e : s.entries) {
      out += e.key;
      if (e.hasValue) out += "=" + e.value;
      out += '\n';
    }
    out += '\n';
  }
  return out;
}

void TZevIniFile::SetText(std::string_view text) {
  std::lock_guard lock(lock_);
  Parse(text);
}

void TZevIniFile::UpdateFile() {
  if (fileName_.empty()) throw EFCreateError("The settings have no file name.");
  WriteFileAtomically(fileName_, Text(), ops_);
}

}  // namespace zev
