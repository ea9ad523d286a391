#include "UnitStuList.h"

#include "Agentcalls.h"
#include "AsciiText.h"
#include "CodePage.h"
#include "Outside.h"
#include "PowerRequest.h"
#include "QtGbk.h"
#include "Studentcalls.h"
#include "UiServices.h"
#include "UnitAddStu.h"
#include "UnitAdminBase.h"
#include "UnitAdminLogin.h"
#include "UnitUpdateInfo.h"
#include "UnitUserinfo.h"
#include "Unitdatafunc.h"
#include "Unitfunction.h"
#include "WinHttpClass.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <exception>

TFormStuList* FormStuList = nullptr;

namespace {

// The fields the window reads from a page.
const std::vector<std::string> PageFields{"Id",         "Name",    "Account",
                                          "verifycode", "RegDate", "DueDate"};

constexpr int HeartBeatInterval = 600000;
constexpr int FirstPowerRequest = 30000;
constexpr int PowerRequestInterval = 600000;

} // namespace

TFormStuList::TFormStuList(QWidget* parent) : TFormBase(parent), DataSource1(ClientDataSet1) {
    setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(size());
    FormStuList = this;

    // FormCreate: the session, the base URL, then the login window.
    FHttp = NewPreparedHttp();
    FServerUrl = GetServerBaseUrl();
    FLogin = std::make_unique<TFormAdminLogin>();
    FPower = std::make_unique<TPowerRequest>();

    // The column titles come up with the window: measuring them loads a
    // bold face that the login does not need.
    DBGridDB->horizontalHeader()->hide();
    SetUpStudentGrid(DBGridDB, &DataSource1, &FDelegate);
    cb_SearchType->setCurrentIndex(0);
    lblUpInfo->setStyleSheet(lblUpInfo->styleSheet() + " color: rgb(0, 73, 188);");
    UpdatePager(FCurPage);

    TimerHeartBeat.setInterval(HeartBeatInterval);
    TimerOnline.setInterval(FirstPowerRequest);
    TimerOnline.start();

    connect(BtnStuList, &QPushButton::clicked, this, &TFormStuList::BtnStuListClick);
    connect(BtnAdd, &QPushButton::clicked, this, &TFormStuList::BtnAddClick);
    connect(RzButton1, &QPushButton::clicked, this, &TFormStuList::RzButton1Click);
    connect(BtnDel, &QPushButton::clicked, this, &TFormStuList::BtnDelClick);
    connect(RzButton2, &QPushButton::clicked, this, &TFormStuList::RzButton2Click);
    connect(BtnLogout, &QPushButton::clicked, this, &TFormStuList::BtnLogoutClick);
    connect(RzToolbarBtnPageUp, &QToolButton::clicked, this, [this] { ChangePage(-1); });
    connect(RzToolbarBtnPageDown, &QToolButton::clicked, this, [this] { ChangePage(+1); });
    connect(DBGridDB, &QTableView::doubleClicked, this, &TFormStuList::RzButton1Click);
    connect(lblUpInfo, &TClickArea::clicked, this, &TFormStuList::lblUpInfoClick);
    connect(lblUpInfo, &TClickArea::entered, this, &TFormStuList::lblUpInfoMouseEnter);
    connect(lblUpInfo, &TClickArea::left, this, &TFormStuList::lblUpInfoMouseLeave);
    connect(&TimerHeartBeat, &QTimer::timeout, this, &TFormStuList::TimerHeartBeatTimer);
    connect(&TimerOnline, &QTimer::timeout, this, &TFormStuList::TimerOnlineTimer);
    connect(DBGridDB->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    ClientDataSet1.SetRecNo(current.row() + 1);
            });
}

TFormStuList::~TFormStuList() {
    // FormDestroy
    TimerHeartBeat.stop();
    TimerOnline.stop();
    DBGridDB->setItemDelegate(nullptr);
    DBGridDB->setModel(nullptr);
    FHttp.reset();
    FLogin.reset();
    FPower->Clear();
    Log("TarvoAdmin", "FormDestroy",
        Gbk(u8"结束程序，FUserName: ") + FUserName + Gbk(u8"; FGUID：") + FGUID);
    if (FormStuList == this)
        FormStuList = nullptr;
}

void TFormStuList::FormShow() {
    FLogin->ShowLoginDialog(FUserName, FGUID);
    DBGridDB->horizontalHeader()->show();
    if (!FGUID.empty())
        TimerHeartBeat.start();
    LabelUserAccount->setText(FUserName.empty() ? QStringLiteral("        ")
                                                : ToQ(Gbk(u8"在线用户：") + FUserName));
    BtnStuListClick();
}

void TFormStuList::closeEvent(QCloseEvent* event) {
    // FormCloseQuery: the logout's answer does not hold the window.
    TimerHeartBeat.stop();
    {
        const Shell::TWaitCursor wait;
        DoLogout(*FHttp, FGUID, FServerUrl);
    }
    event->accept();
}

void TFormStuList::reject() {
    // Esc does not close the main window.
}

std::string TFormStuList::SearchField() const {
    return cb_SearchType->currentIndex() == 1 ? "2" : "1";
}

void TFormStuList::BtnStuListClick() {
    if (FGUID.size() != 36)
        return;
    FCurPage = 1;
    BtnStuList->setEnabled(false);
    InitDBGrid();
    BtnStuList->setEnabled(true);
}

void TFormStuList::InitDBGrid() {
    ClientDataSet1.Close();
    DataSource1.Reload();
    const std::string findField = SearchField();
    const std::string findValue(tarvo::ascii::TrimControls(FromQ(EditCondition->text())));
    SStuListResult page;
    {
        const Shell::TWaitCursor wait;
        page = LoadStudentPage(SCallContext{*FHttp, FServerUrl, FGUID}, FCurPage, findField,
                               findValue);
    }
    if (page.Loaded) {
        try {
            ClientDataSet1.SetXMLData(page.Packet, PageFields);
        } catch (const std::exception& e) {
            Log("Tarvo", "InitDBGrid", std::string("Exception: ") + e.what());
        }
        DataSource1.Reload();
    }
    UpdatePager(FCurPage);
}

void TFormStuList::ChangePage(int step) {
    if (FCurPage > 1 || step == 1) {
        FCurPage += step;
        InitDBGrid();
    }
}

void TFormStuList::UpdatePager(int page) {
    RzToolbarBtnPageUp->setEnabled(page >= 2);
    RzToolbarBtnPageDown->setEnabled(ClientDataSet1.Active() &&
                                     ClientDataSet1.RecordCount() >= PageSize);
    LabelCurpage->setText(ToQ(Gbk(u8"第 ") + std::to_string(page) + Gbk(u8" 页")));
}

void TFormStuList::BtnAddClick() {
    BtnAdd->setEnabled(false);
    {
        TFormAddStu editor;
        editor.FMode = 0;
        editor.FGUID = FGUID;
        editor.FServerUrl = FServerUrl;
        if (editor.exec() == QDialog::Accepted)
            BtnStuListClick();
    }
    BtnAdd->setEnabled(true);
}

void TFormStuList::RzButton1Click() {
    if (!ClientDataSet1.Active() || ClientDataSet1.RecordCount() < 1)
        return;
    RzButton1->setEnabled(false);
    try {
        TFormAddStu editor;
        editor.FMode = 1;
        editor.FGUID = FGUID;
        editor.FServerUrl = FServerUrl;
        editor.FStuId = ClientDataSet1.FieldAsInteger("Id");
        editor.EditUserAccount->setText(ToQ(ClientDataSet1.FieldAsString("Account")));
        editor.EditName->setText(ToQ(ClientDataSet1.FieldAsString("Name")));
        editor.exec();
    } catch (const std::exception& e) {
        Log("Tarvo", "RzButton1Click", std::string("Exception: ") + e.what());
    }
    RzButton1->setEnabled(true);
}

void TFormStuList::BtnDelClick() {
    if (!ClientDataSet1.Active() || ClientDataSet1.RecordCount() < 1)
        return;
    try {
        const std::string name = ClientDataSet1.FieldAsString("Name");
        const std::string id = ClientDataSet1.FieldAsString("Id");
        if (!Shell::AskQuestion(Gbk(u8"删除学员“") + name + Gbk(u8"”，是否继续？")))
            return;
        SDeleteResult result;
        {
            const Shell::TWaitCursor wait;
            result = DeleteStudent(SCallContext{*FHttp, FServerUrl, FGUID}, id);
        }
        if (result.Failed)
            return;
        std::string message;
        if (result.Code == 1) {
            message = Gbk(u8"删除成功！");
            BtnStuListClick();
        } else {
            message = Gbk(u8"删除失败！");
        }
        Shell::ShowWarning(message);
    } catch (const std::exception& e) {
        Log("Tarvo", "BtnDelClick", std::string("Exception: ") + e.what());
    }
}

void TFormStuList::RzButton2Click() {
    TFormUserinfo info;
    info.FGUID = FGUID;
    info.FServerUrl = FServerUrl;
    info.exec();
}

void TFormStuList::lblUpInfoClick() {
    SUpdateInfo info;
    {
        const Shell::TWaitCursor wait;
        IsUsableOfAppVer_Intf(*FHttp, FServerUrl, 1, info);
    }
    if (info.Code != 1) {
        Shell::ShowWarning(info.Content);
        return;
    }
    if (info.Content.empty())
        Shell::ShowWarning(Gbk(u8"已是最新版本，不需要更新！"));
    else if (info.UpgradeURL.empty())
        Shell::ShowWarning(info.Content);
    else if (Shell::AskQuestion(info.Content))
        ShowUpdateInfo(1, info.UpgradeURL, info.UpgradeCode);
}

void TFormStuList::lblUpInfoMouseEnter() {
    lblUpInfo->setCursor(Qt::PointingHandCursor);
}

void TFormStuList::lblUpInfoMouseLeave() {
    const QColor text = palette().color(QPalette::WindowText);
    lblUpInfo->setStyleSheet(QStringLiteral("font-family: \"Tahoma\"; font-size: 12px; "
                                            "text-decoration: underline; color: %1;")
                                 .arg(text.name()));
    lblUpInfo->unsetCursor();
}

void TFormStuList::BtnLogoutClick() {
    Log("TarvoAdmin", "BtnLogoutClick",
        Gbk(u8"用户退出，FUserName: ") + FUserName + Gbk(u8"; FGUID：") + FGUID);
    if (Shell::AskQuestion(Gbk(u8"是否确认退出！")))
        QApplication::exit(0); // ends the loop without closing the windows: no logout call
}

void TFormStuList::TimerHeartBeatTimer() {
    TimerHeartBeat.stop();
    bool confirmed = false;
    {
        const Shell::TWaitCursor wait;
        confirmed = CheckUserLogin(*FHttp, FGUID, FServerUrl);
    }
    if (!confirmed)
        FLogin->ShowLoginDialog(FUserName, FGUID);
    TimerHeartBeat.start();
}

void TFormStuList::TimerOnlineTimer() {
    TimerOnline.stop();
    try {
        FPower->Request();
    } catch (const std::exception& e) {
        Log("Tarvo", "SetThreadExecutionState", std::string("Exception: ") + e.what());
    }
    TimerOnline.setInterval(PowerRequestInterval);
    TimerOnline.start();
}

void TFormStuList::BringToFront() {
    if (FLogin && FLogin->isVisible()) {
        FLogin->raise();
        FLogin->activateWindow();
        return;
    }
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}
