#pragma once
// Newsgroup names come from servers, imports and the settings file; they become file and
// directory names (offset maps, download subdirectories) only after these checks.
#include <string>
#include <string_view>

namespace zev {

// The name of each server's newsgroup-list file, which lives beside the offset maps.
constexpr std::string_view kGroupListFileName = "GrpLst.zev";
constexpr std::string_view kMapFileExtension = ".zev";

// True when `name` can stand as one file name inside a directory without leaving it or
// hiding in it: not empty, at most 255 bytes, no "/", "\", control character or DEL, and
// not starting with ".".
bool IsSafeFileName(std::string_view name);

// Why `group` cannot name its offset-map file, or nullptr when it can. Besides the rules
// of IsSafeFileName, the map file must not take the place of the server's newsgroup-list
// file (compared without regard to case, for case-insensitive file systems).
const char* GroupFileNameProblem(std::string_view group);

// A name as it may appear in a log line: control characters and DEL shown as \xNN, cut
// at 200 bytes, so a hostile name cannot forge log lines.
std::string PrintableName(std::string_view text);

}  // namespace zev
