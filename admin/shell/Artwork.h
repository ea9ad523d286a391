// The program's own pictures: the login banner and the program icon.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

// The banner for `size` (its own 398 x 80, or scaled in proportion and
// centred), sharp on a high-density screen.
QPixmap BannerPixmap(QSize size);
QIcon ProgramIcon();
// Maps the font families the windows name to families Debian installs.
void InstallFontSubstitutes();
