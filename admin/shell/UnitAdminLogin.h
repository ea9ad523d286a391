// The login dialog: the agent's account and password, the version check,
// the public address and the login call.
#pragma once

#include "UnitAdminBase.h"
#include "ui_UnitAdminLogin.h"

#include <string>

class TFormAdminLogin : public TFormAdminBase, public Ui::TFormAdminLogin {
    Q_OBJECT

public:
    explicit TFormAdminLogin(QWidget* parent = nullptr);
    ~TFormAdminLogin() override;

    // Runs the dialog modally. A non-empty `account` is a re-login: the
    // account is fixed. Returns with the dialog's pair copied into `account`
    // and `session`; without a session the process ends here.
    void ShowLoginDialog(std::string& account, std::string& session);

    void ButtonLoginClick();
    void DoLogin(const std::string& account, const std::string& password,
                 const std::string& address);
    void PanelCloseClick();
};

// The main window's login dialog while it exists.
extern TFormAdminLogin* FormAdminLogin;
