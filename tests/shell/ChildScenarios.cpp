// Scenarios run in a child process of the test program: each should end the
// process itself with exit code 0 (Shell::EndProcess). What they saw on the
// way goes to standard output; a scenario that returns reports why and
// gives a code other than 0. The server's base URL comes in TARVO_SHELL_URL.
#include "ShellSupport.h"
#include "SingleInstance.h"
#include "UnitAdminLogin.h"
#include "UnitStuList.h"
#include "UnitUpdateInfo.h"

#include <QLineEdit>
#include <QTest>
#include <QWindow>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

namespace shelltest {

namespace {

constexpr int Returned = 3;

void Say(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

std::string ServerUrl() {
    const char* url = std::getenv("TARVO_SHELL_URL");
    return url != nullptr ? url : "";
}

int ReportReturn(const TModalScript& script, const char* where) {
    Say(std::string("returned from ") + where);
    for (const QString& window : script.Unexpected())
        Say("unexpected: " + window.toStdString());
    return Returned;
}

void PointAt(TFormStuList& main, const std::string& url) {
    main.FServerUrl = url;
    main.LoginDialog().FServerUrl = url;
}

void ClickClosePanel(TFormAdminLogin& dialog) {
    QTest::mouseClick(Child<QWidget>(dialog, "PanelClose"), Qt::LeftButton);
}

// The login dialog at start, left with the close panel or Esc.
int LeaveLoginAtStart(bool escape) {
    TFormStuList main;
    PointAt(main, ServerUrl());
    TModalScript script;
    script.On<TFormAdminLogin>([&main, escape](TFormAdminLogin& dialog) {
        const QWindow* window = main.windowHandle();
        Say(std::string("login dialog up; main window visible: ") +
            (window != nullptr && window->isVisible() ? "yes" : "no"));
        if (escape)
            QTest::keyClick(Child<QLineEdit>(dialog, "EditUserName"), Qt::Key_Escape);
        else
            ClickClosePanel(dialog);
    });
    main.show();
    return ReportReturn(script, "the login dialog");
}

// Logged in, the session ended on the server, the heartbeat's re-login
// left with the close panel.
int CloseReloginAfterHeartbeat() {
    const std::string url = ServerUrl();
    TFormStuList main;
    PointAt(main, url);
    TModalScript script;
    script.On<TFormAdminLogin>([](TFormAdminLogin& dialog) {
        TypeAndLogIn(dialog, QString::fromLatin1(DemoAccount), QString::fromLatin1(DemoPassword));
    });
    main.show();
    if (main.FGUID.size() != 36)
        return ReportReturn(script, "a login that failed");
    DropSession(url, main.FGUID);
    Say("session dropped");
    script.On<TFormAdminLogin>([](TFormAdminLogin& dialog) {
        Say("re-login dialog up");
        ClickClosePanel(dialog);
    });
    main.TimerHeartBeatTimer();
    return ReportReturn(script, "the heartbeat");
}

// Answers the download question of an open update notice with Yes.
void DownloadFromNotice(TModalScript& script) {
    script
        .On<TFormUpdateInfo>([](TFormUpdateInfo& notice) {
            TModalScript::Press(Child<QAbstractButton>(notice, "ButtonLogin"));
        })
        .Box(QMessageBox::Yes);
}

// The update notice on its own: its download button, answered Yes.
int DownloadUpdate() {
    const TUrlCatcher catcher(QStringLiteral("https"), true);
    TModalScript script;
    DownloadFromNotice(script);
    ShowUpdateInfo(1, G(u8"  https://pan.example.com/s/1tarvo  "), "k3x9");
    return ReportReturn(script, "the update notice");
}

// The version check of a login offers the update; Yes, then the download.
int DownloadUpdateFromLogin() {
    const TUrlCatcher catcher(QStringLiteral("https"), true);
    TFormAdminLogin dialog;
    dialog.FServerUrl = ServerUrl();
    Child<QLineEdit>(dialog, "EditUserName")->setText(QString::fromLatin1(DemoAccount));
    Child<QLineEdit>(dialog, "EditPassword")->setText(QString::fromLatin1(DemoPassword));
    TModalScript script;
    script.Box(QMessageBox::Yes);
    DownloadFromNotice(script);
    dialog.show();
    dialog.ButtonLoginClick();
    return ReportReturn(script, "the login button");
}

// The first instance dies without a word (as in a crash): its lock goes
// with it, its socket file stays behind.
int CrashHoldingTheInstance() {
    TSingleInstance instance(QStringLiteral("TarvoAdmin"));
    Say(instance.Acquire() ? "held" : "not held");
    std::raise(SIGKILL);
    return Returned;
}

} // namespace

int RunChildScenario(const std::string& name) {
    static const std::map<std::string, std::function<int()>> scenarios{
        {"login-close-panel", [] { return LeaveLoginAtStart(false); }},
        {"login-escape", [] { return LeaveLoginAtStart(true); }},
        {"relogin-close-panel", CloseReloginAfterHeartbeat},
        {"update-download", DownloadUpdate},
        {"login-update-download", DownloadUpdateFromLogin},
        {"instance-crash", CrashHoldingTheInstance},
    };
    const auto it = scenarios.find(name);
    if (it == scenarios.end()) {
        Say("no scenario " + name);
        return 2;
    }
    return it->second();
}

} // namespace shelltest
