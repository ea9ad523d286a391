#include "UnitAddStu.h"

#include "AsciiText.h"
#include "CodePage.h"
#include "Outside.h"
#include "QtGbk.h"
#include "Studentcalls.h"
#include "UiServices.h"
#include "UnitAdminBase.h"
#include "Unitcommon.h"
#include "WinHttpClass.h"

#include <QPixmap>

TFormAddStu* FormAddStu = nullptr;

namespace {

constexpr int ReadInterval = 1000;

std::string Trimmed(const QString& text) {
    return std::string(tarvo::ascii::TrimControls(FromQ(text)));
}

} // namespace

TFormAddStu::TFormAddStu(QWidget* parent) : TFormBase(parent) {
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    // FormCreate
    FReadState = 0;
    FMode = 0;
    FStuId = 0;
    TimerRead.setInterval(ReadInterval);
    connect(ToolbarBtnRead, &QToolButton::clicked, this, &TFormAddStu::ToolbarBtnReadClick);
    connect(&TimerRead, &QTimer::timeout, this, &TFormAddStu::TimerReadTimer);
    connect(BtnAdd, &QPushButton::clicked, this, &TFormAddStu::BtnAddClick);
    connect(BtnModify, &QPushButton::clicked, this, &TFormAddStu::BtnModifyClick);
    FormAddStu = this;
}

TFormAddStu::~TFormAddStu() {
    TimerRead.stop();
    if (FormAddStu == this)
        FormAddStu = nullptr;
}

void TFormAddStu::FormShow() {
    if (FMode == 1) {
        const QString title = ToQ(Gbk(u8"修改学员"));
        setWindowTitle(title);
        lb_title->setText(title);
        EditName->setReadOnly(true);
        ToolbarBtnRead->setEnabled(false);
        ToolbarBtnRead->hide();
        BtnAdd->hide();
        BtnModify->show();
        LoadPic();
    } else {
        BtnModify->hide();
        ToolbarBtnRead->show();
    }
}

void TFormAddStu::ToolbarBtnReadClick() {
    if (FReadState == 1)
        return;
    if (FReadState == 2) {
        EditName->clear();
        EditIDCardNum->clear();
        ClearPicture();
        FCard = SStuInfo{};
    }
    FReadState = 1;
    TimerRead.start();
    ToolbarBtnRead->setText(ToQ(Gbk(u8"身份证读取中")));
}

void TFormAddStu::TimerReadTimer() {
    ReadIDCard();
}

void TFormAddStu::ReadIDCard() {
    IDCardRecord record{};
    PrepareIDCardLibs();
    if (ReadIDCardData(record, FDeviceSerial) != 0)
        return;
    const SStuInfo card = DecodeIDCardRecord(record);
    // A box of this step holds the timer: no pile of boxes, one a second.
    const auto warn = [this](const std::string& text) {
        TimerRead.stop();
        Shell::ShowWarning(text);
        if (FReadState == 1 && isVisible())
            TimerRead.start();
    };
    if (card.Name.empty()) {
        warn(Gbk(u8"失败"));
        return;
    }
    FCard = card;
    EditName->setText(ToQ(FCard.Name));
    EditIDCardNum->setText(ToQ(FCard.IDCardNum));
    QPixmap photo;
    if (!photo.load(ToQ(FCard.PhotoFile))) {
        warn(Gbk(u8"无法显示照片：") + FCard.PhotoFile);
        return;
    }
    ImageHead->setPixmap(photo);
    ToolbarBtnRead->setText(ToQ(Gbk(u8"重新读取")));
    FReadState = 2;
    TimerRead.stop();
}

std::string TFormAddStu::CheckedAccount(std::string& message) const {
    std::string account = Trimmed(EditUserAccount->text());
    if (account.empty())
        message = Gbk(u8"请输入手机号码");
    else if (!IsValidPhoneNumber(account))
        message = Gbk(u8"请输入有效的手机号码");
    return account;
}

void TFormAddStu::BtnAddClick() {
    std::string message;
    SNewStudent student;
    student.Account = CheckedAccount(message);
    student.Name = Trimmed(EditName->text());
    if (student.Name.empty())
        message = Gbk(u8"姓名不能为空！");
    if (!message.empty()) {
        Shell::ShowWarning(message);
        return;
    }
    student.DeviceSerial = FDeviceSerial;
    student.IDCardNum = FCard.IDCardNum;
    student.Sex = FCard.Sex;
    student.Nation = FCard.Nation;
    student.Born = FCard.Born;
    student.Address = FCard.Address;
    student.GrantDept = FCard.GrantDept;
    student.UserLifeBegin = FCard.UserLifeBegin;
    student.UserLifeEnd = FCard.UserLifeEnd;
    student.PhotoFile = FCard.PhotoFile;

    SEditResult result;
    {
        const Shell::TWaitCursor wait;
        const auto http = NewPreparedHttp();
        result = AddStudent(SCallContext{*http, FServerUrl, FGUID}, student);
    }
    if (result.Failed)
        return;
    if (!result.Message.empty())
        Shell::ShowWarning(result.Message);
    if (result.Code != 1)
        return;
    EditUserAccount->clear();
    EditName->clear();
    EditIDCardNum->clear();
    ClearPicture();
    FCard = SStuInfo{};
    if (!Shell::AskQuestion(Gbk(u8"是否继续添加！")))
        accept();
}

void TFormAddStu::BtnModifyClick() {
    std::string message;
    const std::string account = CheckedAccount(message);
    if (!message.empty()) {
        Shell::ShowWarning(message);
        return;
    }
    SEditResult result;
    {
        const Shell::TWaitCursor wait;
        const auto http = NewPreparedHttp();
        result = ModifyStudent(SCallContext{*http, FServerUrl, FGUID}, account, FStuId);
    }
    if (result.Failed)
        return;
    if (!result.Message.empty())
        Shell::ShowWarning(result.Message);
    if (result.Code == 1)
        accept();
}

void TFormAddStu::LoadPic() {
    SPictureResult picture;
    {
        const Shell::TWaitCursor wait;
        const auto http = NewPreparedHttp();
        picture = LoadStudentPicture(SCallContext{*http, FServerUrl, FGUID}, FStuId);
    }
    if (picture.Failed)
        return;
    if (picture.Bytes.empty()) {
        ClearPicture();
        return;
    }
    QPixmap photo;
    if (!photo.loadFromData(picture.Bytes.data(), static_cast<uint>(picture.Bytes.size()), "BMP")) {
        Log("Tarvo", "LoadPic", "Exception: the photo is not a BMP image");
        return;
    }
    ImageHead->setPixmap(photo);
}

void TFormAddStu::ClearPicture() {
    ImageHead->setPixmap(QPixmap());
}
