#include "Application.h"

#include "CodePage.h"
#include "Outside.h"
#include "QtGbk.h"

#include <QMessageBox>
#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        Log("TarvoAdmin", "Application", std::string("Exception: ") + e.what());
        QMessageBox::critical(nullptr, ToQ(Gbk(u8"Quorvi管理系统")),
                              QString::fromLocal8Bit(e.what()));
    } catch (...) {
        Log("TarvoAdmin", "Application", "Exception: ");
        QMessageBox::critical(nullptr, ToQ(Gbk(u8"Quorvi管理系统")), QString());
    }
    return false;
}
