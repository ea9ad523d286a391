#include "UiServices.h"

#include "CodePage.h"
#include "QtGbk.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

namespace Shell {

namespace {

QMessageBox::StandardButton Box(QMessageBox::Icon icon, const std::string& text,
                                QMessageBox::StandardButtons buttons, QWidget* owner) {
    QMessageBox box(icon, ToQ(Gbk(u8"提示")), ToQ(text), buttons, owner);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

void ShowWarning(const std::string& text, QWidget* owner) {
    Box(QMessageBox::Warning, text, QMessageBox::Ok, owner);
}

bool AskQuestion(const std::string& text, QWidget* owner) {
    return Box(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No, owner) ==
           QMessageBox::Yes;
}

void ShowInformation(const std::string& text, QWidget* owner) {
    Box(QMessageBox::Information, text, QMessageBox::Ok, owner);
}

void OpenLink(const std::string& url) {
    QDesktopServices::openUrl(QUrl::fromUserInput(ToQ(url)));
}

void CopyToClipboard(const std::string& text) {
    QGuiApplication::clipboard()->setText(ToQ(text));
}

void EndProcess() {
    std::fflush(nullptr);
    std::_Exit(0);
}

TWaitCursor::TWaitCursor() {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

TWaitCursor::~TWaitCursor() {
    QGuiApplication::restoreOverrideCursor();
}

} // namespace Shell
