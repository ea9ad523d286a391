// The program's own pictures: the login banner and the program icon.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

// The banner drawn to fit `size`, centred and scaled in proportion.
QPixmap BannerPixmap(QSize size);
QIcon ProgramIcon();
// Maps the font families the windows name to families Debian installs.
void InstallFontSubstitutes();
