#pragma once
// Comma text: a list stored as one string. An item containing a blank, a comma or a
// double quote is written in double quotes with inner double quotes doubled; when reading,
// blanks outside quotes separate items too, and a comma at the very end adds one empty
// item (which is why lists are saved with a trailing comma and read back without empties).
#include <string>
#include <string_view>
#include <vector>

namespace zev {

std::string ToCommaText(const std::vector<std::string>& items);
std::vector<std::string> FromCommaText(std::string_view text);

}  // namespace zev
