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

// The user's folders (XDG user-dirs, falling back to the usual names below the home).
enum class TSpecialFolder { Home, Desktop, Documents, Downloads, Music, Pictures, Videos, Config, Data, Cache };
// Path with a trailing "/", or "" when the folder is unknown.
std::string SpecialFolderPath(TSpecialFolder folder);

// True when the directory exists and the current user may create files in it.
bool IsWritableDir(const std::string& dir);

// Appends "/" unless the text already ends with one (or is empty).
std::string WithSlash(std::string dir);

}  // namespace zev::platform
