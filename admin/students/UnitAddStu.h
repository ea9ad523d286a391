// The student editor: adds students (typed, or read from an identity card)
// or changes a student's phone number.
#pragma once

#include "UnitBase.h"
#include "Unitidcardreader.h"
#include "ui_UnitAddStu.h"

#include <QTimer>
#include <cstdint>
#include <string>

class TFormAddStu : public TFormBase, public Ui::TFormAddStu {
    Q_OBJECT

public:
    explicit TFormAddStu(QWidget* parent = nullptr);
    ~TFormAddStu() override;

    std::string FDeviceSerial;
    SStuInfo FCard;
    std::int32_t FReadState = 0; // 0 idle, 1 reading, 2 read
    std::int16_t FMode = 0;      // 0 add, 1 change of phone number
    std::int32_t FStuId = 0;
    std::string FServerUrl;
    QTimer TimerRead;

    void FormShow() override;
    void ToolbarBtnReadClick();
    void TimerReadTimer();
    void ReadIDCard();
    void BtnAddClick();
    void BtnModifyClick();
    void LoadPic();

private:
    // The trimmed phone number, or the message that refuses it.
    std::string CheckedAccount(std::string& message) const;
    void ClearPicture();
};

// The editor while it is open.
extern TFormAddStu* FormAddStu;
