#include "db/GroupFileName.h"

#include "core/TextUtil.h"

namespace zev {

namespace {
constexpr size_t kFileNameLimit = 255;
constexpr size_t kPrintableLimit = 200;

bool IsControlOrDel(char c) {
  auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}
}  // namespace

bool IsSafeFileName(std::string_view name) {
  if (name.empty() || name.size() > kFileNameLimit || name.front() == '.') return false;
  for (char c : name)
    if (c == '/' || c == '\\' || IsControlOrDel(c)) return false;
  return true;
}

const char* GroupFileNameProblem(std::string_view group) {
  if (group.empty()) return "empty name";
  if (group.front() == '.') return "name starts with \".\"";
  for (char c : group) {
    if (c == '/' || c == '\\') return "name contains a path separator";
    if (IsControlOrDel(c)) return "name contains a control character";
  }
  if (group.size() + kMapFileExtension.size() > kFileNameLimit) return "name too long";
  if (EqualsIgnoreCase(std::string(group) + std::string(kMapFileExtension), kGroupListFileName))
    return "name of the server's newsgroup-list file";
  return nullptr;
}

std::string PrintableName(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, kPrintableLimit)) {
    if (IsControlOrDel(c)) out += FormatText("\\x%02X", static_cast<unsigned char>(c));
    else out += c;
  }
  if (text.size() > kPrintableLimit) out += "...";
  return out;
}

}  // namespace zev
