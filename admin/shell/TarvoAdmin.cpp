// TarvoAdmin: one instance per user and display, the main window, the loop.
#include "Application.h"
#include "Artwork.h"
#include "SingleInstance.h"
#include "UnitStuList.h"

#include <memory>

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    TSingleInstance instance(QStringLiteral("TarvoAdmin"));
    if (!instance.Acquire()) {
        instance.NotifyRunning();
        return 0;
    }

    InstallFontSubstitutes();
    QApplication::setApplicationName(QStringLiteral("TarvoAdmin"));
    QApplication::setWindowIcon(ProgramIcon());
    QApplication::setDesktopFileName(QStringLiteral("tarvo-admin"));

    auto mainWindow = std::make_unique<TFormStuList>();
    instance.OnKnock([window = mainWindow.get()] { window->BringToFront(); });
    mainWindow->show();
    const int code = app.exec();
    mainWindow.reset();
    return code;
}
