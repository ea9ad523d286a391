// The session from the main window's side: the login at its first showing,
// the heartbeat and its re-login, closing the window, the logout button, and
// the paths that end the process (run in a child process).
#include "Json.h"
#include "ShellSupport.h"
#include "UnitAdminLogin.h"
#include "UnitStuList.h"
#include "Unitcommon.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTest>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace shelltest {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

const std::string EndLinePrefix = "TarvoAdmin FormDestroy: 结束程序，FUserName: ";

std::string EndLine(const std::string& account, const std::string& session) {
    return EndLinePrefix + account + "; FGUID：" + session;
}

class MainWindowTest : public ::testing::Test {
protected:
    // The main window shown against `url`; its login dialog answered with
    // the demo agent.
    void LogIn(const std::string& url) {
        Main = std::make_unique<TFormStuList>();
        Main->FServerUrl = url;
        Main->LoginDialog().FServerUrl = url;
        TModalScript script;
        script.On<TFormAdminLogin>([](TFormAdminLogin& dialog) {
            TypeAndLogIn(dialog, QString::fromLatin1(DemoAccount),
                         QString::fromLatin1(DemoPassword));
        });
        Main->show();
        ASSERT_TRUE(script.Done());
        ASSERT_THAT(script.Unexpected(), IsEmpty());
    }
    QLineEdit* LoginEdit(const char* name) const {
        return Child<QLineEdit>(Main->LoginDialog(), name);
    }

    TLogFile Log;
    std::unique_ptr<TFormStuList> Main;
};

TEST_F(MainWindowTest, SuccessfulLoginFillsTheMainWindow) {
    TDevServer server;
    LogIn(server.BaseUrl());

    EXPECT_EQ(Main->FUserName, DemoAccount);
    EXPECT_EQ(Main->FGUID.size(), 36U);
    EXPECT_EQ(Main->FGUID, Main->LoginDialog().FGUID);
    EXPECT_EQ(Main->LoginDialog().FUserName, DemoAccount);
    EXPECT_EQ(Main->LabelUserAccount->text(), Q(u8"在线用户：13800138000"));
    EXPECT_TRUE(Main->TimerHeartBeat.isActive());
    EXPECT_EQ(Main->TimerHeartBeat.interval(), 600000);
    EXPECT_TRUE(Main->isVisible());
    EXPECT_FALSE(Main->LoginDialog().isVisible());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr); // the wait cursor is gone
    // The first page of the demo agent's 45 students.
    EXPECT_EQ(Main->DataSource1.rowCount(), 30);
    EXPECT_EQ(Main->FCurPage, 1);
    EXPECT_THAT(server.Paths(),
                ElementsAre("/aupdateinfo", "/agetclientip", "/alogin", "/astulist"));
    EXPECT_THAT(Log.Lines(), ElementsAre(std::string("TarvoAdmin DoLogin: 登陆成功：FUserName: ") +
                                         DemoAccount + "; FGUID：" + Main->FGUID));
    EXPECT_TRUE(SessionAlive(server.BaseUrl(), Main->FGUID));
}

TEST_F(MainWindowTest, ConfirmedHeartbeatKeepsTheSession) {
    TDevServer server;
    LogIn(server.BaseUrl());
    const std::string session = Main->FGUID;
    TModalScript script; // no window may come up
    Main->TimerHeartBeatTimer();

    EXPECT_THAT(script.Unexpected(), IsEmpty());
    EXPECT_EQ(Main->FGUID, session);
    EXPECT_TRUE(Main->TimerHeartBeat.isActive());
    EXPECT_EQ(server.Paths().back(), "/ahb");
    EXPECT_EQ(server.Requests().back().Status, 200);
    EXPECT_THAT(Log.Texts("TarvoAdmin", "CheckUserLogin"), IsEmpty());
}

// What the re-login dialog showed when it came up.
struct SReloginSeen {
    bool HeartbeatStopped = false;
    QString Account;
    bool ReadOnly = false;
    bool FaceColour = false;
    QString Password;
};

enum class EReloginEnd { Escape, WrongPasswordThenEscape, LogInAgain };

struct SReloginCase {
    const char* Name;
    bool Outage; // the heartbeat finds no server at all
    EReloginEnd End;
};

class ReloginTest : public MainWindowTest, public ::testing::WithParamInterface<SReloginCase> {};

TEST_P(ReloginTest, LostSessionBringsBackTheLoginWithTheAccountFixed) {
    const SReloginCase& c = GetParam();
    TDevServer server;
    LogIn(server.BaseUrl());
    const std::string session = Main->FGUID;
    if (c.Outage)
        Main->FServerUrl = RefusingUrl();
    else
        DropSession(server.BaseUrl(), session);

    SReloginSeen seen;
    SReloginSeen afterRefusal;
    const auto look = [this](TFormAdminLogin& dialog, SReloginSeen& into) {
        into.HeartbeatStopped = !Main->TimerHeartBeat.isActive();
        auto* account = Child<QLineEdit>(dialog, "EditUserName");
        into.Account = account->text();
        into.ReadOnly = account->isReadOnly();
        into.FaceColour =
            account->palette().color(QPalette::Base) == dialog.palette().color(QPalette::Button);
        into.Password = Child<QLineEdit>(dialog, "EditPassword")->text();
    };
    const auto escape = [](TFormAdminLogin& dialog) {
        QTest::keyClick(Child<QLineEdit>(dialog, "EditPassword"), Qt::Key_Escape);
    };
    TModalScript script;
    switch (c.End) {
    case EReloginEnd::Escape:
        script.On<TFormAdminLogin>([&](TFormAdminLogin& dialog) {
            look(dialog, seen);
            escape(dialog);
        });
        break;
    case EReloginEnd::WrongPasswordThenEscape:
        script
            .On<TFormAdminLogin>([&](TFormAdminLogin& dialog) {
                look(dialog, seen);
                TypeAndLogIn(dialog, {}, QStringLiteral("tarvo124"));
            })
            .Box(QMessageBox::Ok)
            .On<TFormAdminLogin>([&](TFormAdminLogin& dialog) {
                look(dialog, afterRefusal);
                escape(dialog);
            });
        break;
    case EReloginEnd::LogInAgain:
        script.On<TFormAdminLogin>([&](TFormAdminLogin& dialog) {
            look(dialog, seen);
            TypeAndLogIn(dialog, {}, QString::fromLatin1(DemoPassword));
        });
        break;
    }
    Main->TimerHeartBeatTimer();

    EXPECT_TRUE(script.Done());
    EXPECT_THAT(script.Unexpected(), IsEmpty());
    EXPECT_TRUE(seen.HeartbeatStopped);
    EXPECT_EQ(seen.Account, QString::fromLatin1(DemoAccount));
    EXPECT_TRUE(seen.ReadOnly);
    EXPECT_TRUE(seen.FaceColour);
    EXPECT_TRUE(seen.Password.isEmpty());
    EXPECT_FALSE(Main->LoginDialog().isVisible());
    EXPECT_TRUE(Main->TimerHeartBeat.isActive());
    EXPECT_EQ(Main->FUserName, DemoAccount);

    const auto heartbeat = Log.Texts("TarvoAdmin", "CheckUserLogin");
    ASSERT_EQ(heartbeat.size(), 1U);
    if (c.Outage)
        EXPECT_EQ(heartbeat[0], "CheckAgentLogin：");
    else
        EXPECT_EQ(heartbeat[0],
                  R"(CheckAgentLogin：{"Code":0,"Content":"登录已失效，请重新登录！"})");

    if (c.End == EReloginEnd::LogInAgain) {
        EXPECT_EQ(Main->FGUID.size(), 36U);
        EXPECT_NE(Main->FGUID, session);
        EXPECT_TRUE(SessionAlive(server.BaseUrl(), Main->FGUID));
    } else {
        EXPECT_EQ(Main->FGUID, session); // Esc keeps the pair the window had
    }
    if (c.End == EReloginEnd::WrongPasswordThenEscape) {
        ASSERT_EQ(script.Boxes().size(), 1U);
        EXPECT_EQ(script.Boxes()[0].Text, Q(u8"账号或密码错误！"));
        EXPECT_EQ(afterRefusal.Account, QString::fromLatin1(DemoAccount));
        EXPECT_TRUE(afterRefusal.ReadOnly);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Session, ReloginTest,
    ::testing::Values(SReloginCase{"EscKeepsThePair", false, EReloginEnd::Escape},
                      SReloginCase{"WrongPasswordThenEsc", false,
                                   EReloginEnd::WrongPasswordThenEscape},
                      SReloginCase{"LogInAgain", false, EReloginEnd::LogInAgain},
                      SReloginCase{"NetworkOutageThenEsc", true, EReloginEnd::Escape}),
    [](const ::testing::TestParamInfo<SReloginCase>& row) { return row.param.Name; });

TEST_F(MainWindowTest, ClosingLogsOutAndDestructionWritesTheLastLine) {
    TDevServer server;
    LogIn(server.BaseUrl());
    const std::string session = Main->FGUID;
    TModalScript script;
    EXPECT_TRUE(Main->close());

    EXPECT_THAT(script.Unexpected(), IsEmpty());
    EXPECT_FALSE(Main->isVisible());
    EXPECT_FALSE(Main->TimerHeartBeat.isActive());
    EXPECT_EQ(server.Paths().back(), "/alogout");
    EXPECT_EQ(server.Requests().back().Status, 200);
    // The server took the cookie and the payload: the session is gone.
    EXPECT_FALSE(SessionAlive(server.BaseUrl(), session));
    EXPECT_THAT(Log.Lines(), Not(Contains(StartsWith(EndLinePrefix))));

    Main.reset();
    ASSERT_FALSE(Log.Lines().empty());
    EXPECT_EQ(Log.Lines().back(), EndLine(DemoAccount, session));
}

struct SLogoutAnswerCase {
    const char* Name;
    testsupport::Reply Answer;
};

class LogoutRequestTest : public MainWindowTest,
                          public ::testing::WithParamInterface<SLogoutAnswerCase> {};

// The request as the server saw it; the window closes whatever the answer.
TEST_P(LogoutRequestTest, CarriesTheSessionCookieAndAnEmptyPayload) {
    TScriptedService service;
    ScriptLogin(service);
    service.Set("/alogout", [answer = GetParam().Answer](const testsupport::ReceivedRequest&) {
        return answer;
    });
    LogIn(service.BaseUrl());
    ASSERT_EQ(Main->FGUID, ScriptedSid);
    EXPECT_TRUE(Main->close());

    EXPECT_FALSE(Main->isVisible());
    const auto requests = service.Requests();
    ASSERT_FALSE(requests.empty());
    const testsupport::ReceivedRequest& logout = requests.back();
    EXPECT_EQ(logout.target, "/alogout");
    EXPECT_EQ(logout.method, "POST");
    EXPECT_EQ(logout.Header("Cookie"), std::string("SID=") + ScriptedSid + "; SType=1");
    const auto fields = FormFields(logout.body);
    ASSERT_EQ(fields.size(), 1U) << logout.body;
    EXPECT_EQ(fields[0].first, "data");
    std::string plainText;
    ASSERT_TRUE(DecryptPayload(fields[0].second, ScriptedSid, plainText));
    EXPECT_EQ(plainText, "{}");
}

INSTANTIATE_TEST_SUITE_P(
    Session, LogoutRequestTest,
    ::testing::Values(SLogoutAnswerCase{"Accepted", JsonReply(R"({"Code":1,"Content":""})")},
                      SLogoutAnswerCase{"Status500", testsupport::Reply{testsupport::HttpResponse(
                                                         500, "Internal Server Error", "")}},
                      SLogoutAnswerCase{"NoAnswer",
                                        testsupport::Reply{"", testsupport::After::Reset}}),
    [](const ::testing::TestParamInfo<SLogoutAnswerCase>& row) { return row.param.Name; });

class LogoutButtonTest : public MainWindowTest, public ::testing::WithParamInterface<bool> {};

// The button's line is written before the question; No keeps the program
// running, Yes ends its loop without "/alogout".
TEST_P(LogoutButtonTest, AsksAndEndsTheLoopOnYesOnly) {
    const bool yes = GetParam();
    TDevServer server;
    LogIn(server.BaseUrl());
    const std::string session = Main->FGUID;
    const std::string buttonLine = std::string("TarvoAdmin BtnLogoutClick: 用户退出，FUserName: ") +
                                   DemoAccount + "; FGUID：" + session;

    bool lineBeforeQuestion = false;
    TModalScript script;
    script.Box(yes ? QMessageBox::Yes : QMessageBox::No,
               [&] { lineBeforeQuestion = !Log.Texts("TarvoAdmin", "BtnLogoutClick").empty(); });
    // The loop ends with 0 when the button ends it, else with 7 from here.
    QTimer stillRunning;
    stillRunning.setSingleShot(true);
    QObject::connect(&stillRunning, &QTimer::timeout, [] { QApplication::exit(7); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QApplication::exit(99); });
    guard.start(30000);
    QTimer::singleShot(0, Main.get(), [&] {
        Main->BtnLogoutClick();
        stillRunning.start(0);
    });
    const int code = QApplication::exec();

    EXPECT_TRUE(script.Done());
    EXPECT_THAT(script.Unexpected(), IsEmpty());
    ASSERT_EQ(script.Boxes().size(), 1U);
    EXPECT_EQ(script.Boxes()[0].Icon, QMessageBox::Question);
    EXPECT_EQ(script.Boxes()[0].Text, Q(u8"是否确认退出！"));
    EXPECT_TRUE(lineBeforeQuestion);
    EXPECT_EQ(code, yes ? 0 : 7);
    EXPECT_TRUE(Main->isVisible());
    EXPECT_THAT(server.Paths(), Not(Contains("/alogout")));
    EXPECT_TRUE(SessionAlive(server.BaseUrl(), session));

    Main.reset();
    const auto lines = Log.Lines();
    ASSERT_GE(lines.size(), 2U);
    EXPECT_EQ(lines[lines.size() - 2], buttonLine);
    EXPECT_EQ(lines.back(), EndLine(DemoAccount, session));
}

INSTANTIATE_TEST_SUITE_P(Session, LogoutButtonTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& row) {
                             return row.param ? "Yes" : "No";
                         });

// --- paths that end the process ----------------------------------------------

class ProcessEndTest : public ::testing::TestWithParam<const char*> {
protected:
    TLogFile Log;
};

// Closing the login dialog at start ends the process before the main window
// appears: nothing is posted and no end-of-program line is written.
TEST_P(ProcessEndTest, LeavingTheLoginAtStartEndsTheProcess) {
    TScriptedService service;
    ScriptLogin(service);
    const SChildResult child = RunChild(
        GetParam(), {{"TARVO_SHELL_URL", service.BaseUrl()}, {"TARVO_LOG_FILE", Log.Path()}});

    EXPECT_TRUE(child.Exited) << child.Output;
    EXPECT_EQ(child.ExitCode, 0) << child.Output;
    EXPECT_THAT(child.Output, HasSubstr("login dialog up; main window visible: no"));
    EXPECT_THAT(child.Output, Not(HasSubstr("returned")));
    EXPECT_THAT(service.Requests(), IsEmpty());
    EXPECT_THAT(Log.Lines(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Session, ProcessEndTest,
                         ::testing::Values("login-close-panel", "login-escape"),
                         [](const ::testing::TestParamInfo<const char*>& row) {
                             return std::string(row.param) == "login-escape" ? "Escape"
                                                                             : "ClosePanel";
                         });

// The close panel of the heartbeat's re-login ends the process: nothing is
// posted after the heartbeat, no end-of-program line.
TEST(SessionEnd, ClosePanelOfTheReloginEndsTheProcess) {
    const TLogFile log;
    const TDevServer server;
    const SChildResult child =
        RunChild("relogin-close-panel",
                 {{"TARVO_SHELL_URL", server.BaseUrl()}, {"TARVO_LOG_FILE", log.Path()}});

    EXPECT_TRUE(child.Exited) << child.Output;
    EXPECT_EQ(child.ExitCode, 0) << child.Output;
    EXPECT_THAT(child.Output, HasSubstr("session dropped"));
    EXPECT_THAT(child.Output, HasSubstr("re-login dialog up"));
    EXPECT_THAT(child.Output, Not(HasSubstr("returned")));
    // The login, the first page, the session ended from outside, the heartbeat.
    EXPECT_THAT(server.Paths(), ElementsAre("/aupdateinfo", "/agetclientip", "/alogin", "/astulist",
                                            "/alogout", "/ahb"));
    EXPECT_EQ(log.Texts("TarvoAdmin", "CheckUserLogin").size(), 1U);
    EXPECT_THAT(log.Lines(), Not(Contains(StartsWith(EndLinePrefix))));
}

} // namespace
} // namespace shelltest
