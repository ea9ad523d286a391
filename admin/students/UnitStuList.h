// The main window: the agent's students a page at a time, the search, and
// the start of every other action.
#pragma once

#include "ClientDataSet.h"
#include "StuGrid.h"
#include "UnitBase.h"
#include "ui_UnitStuList.h"

#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>

namespace Winhttpclass {
class THTTP;
}
class TFormAdminLogin;
class TPowerRequest;

class TFormStuList : public TFormBase, public Ui::TFormStuList {
    Q_OBJECT

public:
    explicit TFormStuList(QWidget* parent = nullptr);
    ~TFormStuList() override;

    std::unique_ptr<Winhttpclass::THTTP> FHttp;
    std::string FServerUrl;
    std::int32_t FCurPage = 1;

    TClientDataSet ClientDataSet1;
    TStuListModel DataSource1;
    QTimer TimerHeartBeat;
    QTimer TimerOnline;

    // The login dialog, kept from creation to destruction.
    TFormAdminLogin& LoginDialog() { return *FLogin; }

    void FormShow() override;
    void BtnStuListClick();
    void InitDBGrid();
    void ChangePage(int step);
    void UpdatePager(int page);
    void BtnAddClick();
    void RzButton1Click();
    void BtnDelClick();
    void RzButton2Click();
    void lblUpInfoClick();
    void BtnLogoutClick();
    void TimerHeartBeatTimer();
    void TimerOnlineTimer();

    // Brings the window, or the login dialog while that is up, to the front.
    void BringToFront();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void lblUpInfoMouseEnter();
    void lblUpInfoMouseLeave();
    // The search type's value: "1" phone number, "2" name.
    std::string SearchField() const;

    std::unique_ptr<TFormAdminLogin> FLogin;
    std::unique_ptr<TPowerRequest> FPower;
    TStuGridDelegate FDelegate;
};

// The main window while it exists.
extern TFormStuList* FormStuList;
