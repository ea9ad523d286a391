#include "UnitAdminLogin.h"

#include "Agentcalls.h"
#include "Artwork.h"
#include "AsciiText.h"
#include "CodePage.h"
#include "Encryptpwd.h"
#include "Outside.h"
#include "QtGbk.h"
#include "UiServices.h"
#include "UnitUpdateInfo.h"
#include "Unitcommon.h"
#include "Unitdatafunc.h"
#include "WinHttpClass.h"

#include <exception>

TFormAdminLogin* FormAdminLogin = nullptr;

namespace {

// Enables the login button again when an attempt ends, whatever the outcome.
class TReenable {
public:
    explicit TReenable(QWidget* button) : FButton(button) {}
    ~TReenable() { FButton->setEnabled(true); }
    TReenable(const TReenable&) = delete;
    TReenable& operator=(const TReenable&) = delete;

private:
    QWidget* FButton;
};

} // namespace

TFormAdminLogin::TFormAdminLogin(QWidget* parent) : TFormAdminBase(parent) {
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    ImageTop->setPixmap(BannerPixmap(ImageTop->size()));
    PanelClose->setCursor(Qt::PointingHandCursor);
    BindNavKeys({EditUserName, EditPassword});
    connect(ButtonLogin, &QPushButton::clicked, this, &TFormAdminLogin::ButtonLoginClick);
    connect(PanelClose, &TClickArea::clicked, this, &TFormAdminLogin::PanelCloseClick);
    if (FormAdminLogin == nullptr)
        FormAdminLogin = this;
}

TFormAdminLogin::~TFormAdminLogin() {
    if (FormAdminLogin == this)
        FormAdminLogin = nullptr;
}

void TFormAdminLogin::ShowLoginDialog(std::string& account, std::string& session) {
    if (!account.empty()) {
        EditUserName->setText(ToQ(account));
        EditUserName->setReadOnly(true);
        QPalette face = EditUserName->palette();
        face.setColor(QPalette::Base, palette().color(QPalette::Button));
        EditUserName->setPalette(face);
        EditPassword->clear();
        EditPassword->setFocus();
    }
    CentreOn();
    exec();
    account = FUserName;
    session = FGUID;
    if (!session.empty()) {
        hide();
        return;
    }
    Shell::EndProcess();
}

void TFormAdminLogin::ButtonLoginClick() {
    ButtonLogin->setEnabled(false);
    const TReenable reenable(ButtonLogin);
    try {
        const std::string account =
            std::string(tarvo::ascii::TrimControls(FromQ(EditUserName->text())));
        const std::string password =
            std::string(tarvo::ascii::TrimControls(FromQ(EditPassword->text())));
        std::string message;
        if (account.empty())
            message = Gbk(u8"请输入手机号码");
        else if (!IsValidPhoneNumber(account))
            message = Gbk(u8"请输入有效的手机号码");
        if (!message.empty())
            FocusEdit(EditUserName);
        else if (password.empty()) {
            message = Gbk(u8"请输入登录密码");
            FocusEdit(EditPassword);
        }
        if (!message.empty()) {
            Shell::ShowWarning(message);
            return;
        }

        SUpdateInfo info;
        {
            const Shell::TWaitCursor wait;
            IsUsableOfAppVer_Intf(*FHttp, FServerUrl, 1, info);
        }
        if (info.Code == 1) {
            if (!info.Content.empty()) {
                if (!info.UpgradeURL.empty()) {
                    if (Shell::AskQuestion(info.Content))
                        ShowUpdateInfo(1, info.UpgradeURL, info.UpgradeCode);
                } else {
                    Shell::ShowWarning(info.Content);
                }
            }
            if (info.NeedUpgrade == 1)
                return;
        }

        std::string address;
        {
            const Shell::TWaitCursor wait;
            address = GetPublicIP(*FHttp, FServerUrl);
        }
        if (address.empty()) {
            const std::string failure = Gbk(u8"获取PC信息失败，请重新登录！");
            Shell::ShowWarning(failure);
            Log("TarvoAdmin", "ButtonLoginClick", "Content: " + failure);
            return;
        }
        DoLogin(account, password, address);
    } catch (const std::exception& e) {
        Log("TarvoAdmin", "DoLogout", std::string("Exception: ") + e.what());
    }
}

void TFormAdminLogin::DoLogin(const std::string& account, const std::string& password,
                              const std::string& address) {
    SLoginResult result;
    {
        const Shell::TWaitCursor wait;
        result = AgentLogin(SCallContext{*FHttp, FServerUrl, {}}, account,
                            EncryptPassword(account, password), address);
    }
    ButtonLogin->setEnabled(true);
    if (!result.SessionId.empty()) {
        FGUID = result.SessionId;
        FUserName = account;
        Log("TarvoAdmin", "DoLogin",
            Gbk(u8"登陆成功：FUserName: ") + FUserName + Gbk(u8"; FGUID：") + FGUID);
        accept();
    } else if (!result.Message.empty()) {
        Shell::ShowWarning(result.Message);
        Log("TarvoAdmin", "DoLogin", Gbk(u8"登陆失败：Content: ") + result.Message);
    }
}

void TFormAdminLogin::PanelCloseClick() {
    FUserName.clear();
    FGUID.clear();
    close();
}
