#pragma once
// Plain messages and the name prompt, shown through the modal runner so that tests can
// read and answer them.
#include <string>

namespace zev::ui {

void ShowError(const std::string& text);
void ShowInfo(const std::string& text);
// Asks for a line of text; false when cancelled. `text` holds the initial value.
bool AskText(const std::string& caption, const std::string& prompt, std::string& text);

}  // namespace zev::ui
