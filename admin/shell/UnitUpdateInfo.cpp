#include "UnitUpdateInfo.h"

#include "AsciiText.h"
#include "CodePage.h"
#include "QtGbk.h"
#include "UiServices.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <memory>

TFormUpdateInfo::TFormUpdateInfo(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    connect(BitBtnCopy, &QPushButton::clicked, this, &TFormUpdateInfo::BitBtnCopyClick);
    connect(ButtonLogin, &QPushButton::clicked, this, &TFormUpdateInfo::ButtonLoginClick);
}

void TFormUpdateInfo::showEvent(QShowEvent* event) {
    if (!FShown && !event->spontaneous()) {
        FShown = true;
        FormShow();
    }
    QDialog::showEvent(event);
}

void TFormUpdateInfo::FormShow() {
    edtUpgradeURL->setText(ToQ(FUpgradeURL));
    edtUpgradeURL->setCursorPosition(0);
    edtUpgradeCode->setText(ToQ(FUpgradeCode));
    if (FUpgradeCode.empty()) {
        lblUpgradeCode->hide();
        edtUpgradeCode->hide();
        BitBtnCopy->hide();
        ButtonLogin->move(ButtonLogin->x(), 68);
        // The code row's 28 pixels go with it: 135 pixels high in all with
        // the usual caption and borders, whatever the frame is known to be
        // at this point.
        const int rowsRemoved = 96 - 68;
        setFixedSize(width(), height() - rowsRemoved);
    }
}

void TFormUpdateInfo::BitBtnCopyClick() {
    if (tarvo::ascii::TrimControls(FromQ(edtUpgradeCode->text())).empty())
        return;
    edtUpgradeCode->selectAll();
    Shell::CopyToClipboard(FromQ(edtUpgradeCode->selectedText()));
    Shell::ShowInformation(Gbk(u8"复制成功"));
}

void TFormUpdateInfo::ButtonLoginClick() {
    if (!Shell::AskQuestion(Gbk(u8"立即下载并退出此程序？")))
        return;
    Shell::OpenLink(std::string(tarvo::ascii::TrimControls(FUpgradeURL)));
    Shell::EndProcess();
}

void ShowUpdateInfo(std::int16_t centreOnScreen, const std::string& url, const std::string& code) {
    auto form = std::make_unique<TFormUpdateInfo>();
    form->FUpgradeURL = url;
    form->FUpgradeCode = code;
    QRect area;
    if (centreOnScreen != 1 && QApplication::activeWindow() != nullptr)
        area = QApplication::activeWindow()->frameGeometry();
    else if (const QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid()) {
        QRect frame = form->frameGeometry();
        frame.moveCenter(area.center());
        form->move(frame.topLeft());
    }
    form->exec();
}
