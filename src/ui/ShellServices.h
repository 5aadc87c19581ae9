#pragma once
// What the program asks of the desktop: the folder picker, the trash, and opening a file
// with the program the desktop associates with it.
#include <string>

namespace zev::ui {

// The folder picker, starting at `folder`; on OK `folder` is the chosen one.
bool ChooseFolder(const std::string& caption, std::string& folder);
// Moves the file to the desktop's trash (freedesktop.org trash). False when it cannot.
bool MoveToTrash(const std::string& path);
// Opens the file with the desktop's program for its type. False when none took it.
bool OpenWithAssociated(const std::string& path);

}  // namespace zev::ui
