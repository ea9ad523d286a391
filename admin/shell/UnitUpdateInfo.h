// The update notice: where the new version can be downloaded and the
// extraction code of the share; the download ends the program.
#pragma once

#include "ui_UnitUpdateInfo.h"

#include <QDialog>
#include <cstdint>
#include <string>

class TFormUpdateInfo : public QDialog, public Ui::TFormUpdateInfo {
    Q_OBJECT

public:
    explicit TFormUpdateInfo(QWidget* parent = nullptr);

    std::string FUpgradeURL;
    std::string FUpgradeCode;

    void FormShow();
    void BitBtnCopyClick();
    void ButtonLoginClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool FShown = false;
};

// Shows the notice modally for `url` and `code`, centred on the screen when
// `centreOnScreen` is 1, else on the main window.
void ShowUpdateInfo(std::int16_t centreOnScreen, const std::string& url, const std::string& code);
