// Names from posts become file names only through SanitizeName: whatever the name and the
// user's character lists, the result must stay inside the directory it is meant for.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/SanitizeName.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void CheckComponent(std::string_view part) {
  Check(!part.empty() && part != "." && part != ".." && part.size() <= 255);
  for (char c : part) Check(static_cast<unsigned char>(c) >= 0x20 && c != '\\');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // First byte: how much of the rest forms the user's lists; the remainder is the name.
  size_t listLen = data[0] % 16 < size - 1 ? data[0] % 16 : 0;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string_view lists = rest.substr(0, listLen), name = rest.substr(listLen);
  std::string_view invalid = lists.substr(0, lists.size() / 2), trim = lists.substr(lists.size() / 2);
  std::string plain = zev::SanitizeName(name, false, zev::kNameLimit, invalid, trim);
  Check(plain.size() <= zev::kNameLimit);
  Check(plain.find('/') == std::string::npos);
  CheckComponent(plain);
  std::string path = zev::SanitizeName(name, true, zev::kNameLimit, invalid, trim);
  size_t start = 0;
  while (start < path.size()) {
    size_t slash = path.find('/', start);
    size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > start) CheckComponent(std::string_view(path).substr(start, end - start));
    start = end + 1;
  }
  return 0;
}
