#pragma once
// The only guard between names taken from posts and the file system. Whatever the
// user-editable character lists say, the result never contains "/" (except as the path
// separator of a path), "\", NUL or control characters, is never "", "." or "..", has no
// path component "." or "..", and no component longer than 255 bytes.
#include <cstddef>
#include <string>
#include <string_view>

namespace zev {

constexpr size_t kNameLimit = 260;

// `invalidChars` become "_"; `trimChars` are removed from both ends (and, in a path, around
// every separator). A control character ends the text. Cuts never split a UTF-8 sequence.
std::string SanitizeName(std::string_view text, bool isPath, size_t limit, std::string_view invalidChars,
                         std::string_view trimChars);
// The same with the configured lists (gConfig), or their defaults before it exists.
std::string SanitizeName(std::string_view text, bool isPath, size_t limit = kNameLimit);

}  // namespace zev
