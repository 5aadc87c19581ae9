#include "filters/ExtList.h"

#include <cstring>

#include "platform/MimeGlobs.h"

namespace zev {

const TExtList* gExtList = nullptr;

namespace {

constexpr size_t kMaxNodes = 32768;  // node indices are 16-bit signed values
constexpr size_t kInitialNodes = 100;
// Blanks and closing brackets this close to the dot belong to the name ("my file.jpg").
constexpr size_t kNearDot = 6;

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAlnum(unsigned char c) { return IsDigit(c) || IsLetter(c); }

bool InvalidInName(unsigned char c) { return c < 32 || (c != 0 && std::strchr("*/:<>?\\|", c)); }
bool MayBeginName(unsigned char c) { return c == '!' || c == '#' || c == '(' || c == '[' || IsAlnum(c); }
bool EndsNameFarFromDot(unsigned char c) { return c == ' ' || c == ')' || c == ',' || c == ']' || c == '}'; }

// What may follow a three-character extension that is not in the tree.
bool EndsGuessedExtension(unsigned char c) { return c <= 45 || (c != 0 && std::strchr("[\\]`{|}", c)); }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

const std::vector<std::string>& TExtList::BuiltInExtensions() {
  static const std::vector<std::string> list{".csv", ".mp3", ".enc", ".jpg", ".jpeg", ".zip",
                                             ".mov", ".rm",  ".par", ".par2", ".rar"};
  return list;
}

TExtList::TExtList() {
  nodes_.reserve(kInitialNodes);
  nodes_.emplace_back();
  nodes_[0].fill(kNoEdge);
}

TExtList TExtList::Create(const std::vector<std::string>& registered) {
  TExtList list;
  for (const auto& ext : registered)
    if (!EqualIgnoringCase(ext, ".com")) list.AddExtension(ext);
  for (const auto& ext : BuiltInExtensions()) list.AddExtension(ext);
  return list;
}

TExtList TExtList::CreateFromPlatform() {
  // One-letter suffixes of the desktop's database (".c", ".s", ".m" ...) would turn
  // abbreviations such as "U.S." or "St. Louis" in subject lines into file names.
  std::vector<std::string> registered;
  for (auto& ext : platform::RegisteredExtensions())
    if (ext.size() > 2) registered.push_back(std::move(ext));
  return Create(registered);
}

void TExtList::AddExtension(std::string_view text) {
  // An empty extension would make every dot end one.
  if (text.size() < 2) return;
  std::string_view chars = text.substr(1);
  size_t node = 0, i = 0;
  while (i < chars.size()) {
    int16_t next = nodes_[node][static_cast<unsigned char>(chars[i]) & 0x7F];
    if (next < 0) break;
    node = static_cast<size_t>(next);
    ++i;
  }
  if (nodes_.size() + (chars.size() - i) > kMaxNodes) return;
  for (; i < chars.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(chars[i]) & 0x7F;
    int16_t fresh = static_cast<int16_t>(nodes_.size());
    nodes_.emplace_back();
    nodes_.back().fill(kNoEdge);
    nodes_[node][c] = fresh;
    if (c >= 'a' && c <= 'z') nodes_[node][c - 'a' + 'A'] = fresh;
    if (c >= 'A' && c <= 'Z') nodes_[node][c - 'A' + 'a'] = fresh;
    node = static_cast<size_t>(fresh);
  }
  for (unsigned c = 0; c < 128; ++c)
    if (!IsAlnum(static_cast<unsigned char>(c))) nodes_[node][c] = kEnds;
}

// Index just past a known extension that starts at `dot`, or 0 when there is none. The
// text's end reads as a zero byte, which ends every extension.
size_t TExtList::KnownExtensionEnd(std::string_view text, size_t dot) const {
  size_t node = 0;
  for (size_t j = dot + 1;; ++j) {
    unsigned char c = j < text.size() ? static_cast<unsigned char>(text[j]) & 0x7F : 0;
    int16_t v = nodes_[node][c];
    if (v == kEnds) return j;
    if (v < 0 || j >= text.size()) return 0;
    node = static_cast<size_t>(v);
  }
}

// Three letters or digits followed by a separator look like an extension even when the
// tree does not know them; ".com" does not (case-sensitively), it is usually a web address.
bool TExtList::IsThreeCharExtension(std::string_view text, size_t dot) {
  auto at = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0; };
  if (!IsAlnum(at(dot + 1)) || !IsAlnum(at(dot + 2)) || !IsAlnum(at(dot + 3))) return false;
  if (!EndsGuessedExtension(at(dot + 4))) return false;
  return text.substr(dot, 4) != ".com";
}

// Where the name that ends at `dot` begins; `quoted` when a double quote follows it, in
// which case blanks and brackets anywhere belong to the name.
size_t TExtList::NameStartBefore(std::string_view text, size_t dot, bool quoted) {
  size_t k = dot - 1;
  while (k > 0) {
    unsigned char c = static_cast<unsigned char>(text[k]);
    if (InvalidInName(c) || c == '"') break;
    if (!quoted && dot - k >= kNearDot && EndsNameFarFromDot(c)) break;
    --k;
  }
  while (k < text.size() && !MayBeginName(static_cast<unsigned char>(text[k]))) ++k;
  return k;
}

std::optional<FNamePosition> TExtList::FindFileName(std::string_view text) const {
  if (auto zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  for (size_t dot = text.size(); dot-- > 1;) {
    if (text[dot] != '.') continue;
    size_t end = KnownExtensionEnd(text, dot);
    if (end == 0 && IsThreeCharExtension(text, dot)) end = dot + 4;
    if (end == 0) continue;
    bool quoted = end < text.size() && text[end] == '"';
    size_t start = NameStartBefore(text, dot, quoted);
    if (start > dot - 1) return std::nullopt;
    return FNamePosition{start, end - start};
  }
  return std::nullopt;
}

}  // namespace zev
