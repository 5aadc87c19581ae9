#pragma once
// Where the program and the user's files live on Linux.
#include <string>

namespace zev::platform {

// Directory of the running executable, with a trailing "/".
std::string ProgramDir();

// XDG base directories with a trailing "/": $XDG_CONFIG_HOME or ~/.config, and so on.
std::string ConfigHome();
std::string DataHome();
// The user's download folder (XDG user-dirs "DOWNLOAD"), or ~/Downloads, with a trailing "/".
std::string DownloadDir();
std::string HomeDir();

// True when the directory exists and the current user may create files in it.
bool IsWritableDir(const std::string& dir);

// Appends "/" unless the text already ends with one (or is empty).
std::string WithSlash(std::string dir);

}  // namespace zev::platform
