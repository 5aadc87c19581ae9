#pragma once
// The program's icon and the themed icons of its actions. Theme icons come from the
// desktop's icon theme; where the theme lacks one, the standard icon of the widget style
// stands in, so that no tool button is ever blank.
#include <QIcon>
#include <QStyle>

namespace zev::ui {

QIcon AppIcon();
QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback);
QIcon ThemeIcon(const char* name);
// Without a desktop session Qt knows no icon theme; a present freedesktop theme is used then.
void ChooseIconTheme();

}  // namespace zev::ui
