// The login dialog on its own: the checks of what the agent typed, the
// version check, the public address, the login call's answers and the
// keyboard.
#include "Artwork.h"
#include "Encryptpwd.h"
#include "Json.h"
#include "ShellSupport.h"
#include "UnitAdminLogin.h"
#include "UnitUpdateInfo.h"
#include "Unitcommon.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace shelltest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class LoginDialogTest : public ::testing::Test {
protected:
    QLineEdit* Account() const { return Child<QLineEdit>(*Dialog, "EditUserName"); }
    QLineEdit* Password() const { return Child<QLineEdit>(*Dialog, "EditPassword"); }
    QPushButton* Button() const { return Child<QPushButton>(*Dialog, "ButtonLogin"); }

    void Type(const QString& account, const QString& password) {
        Account()->setText(account);
        Password()->setText(password);
    }
    // The dialog shown and active, as the agent has it in front of him.
    void ShowDialog() {
        Dialog->show();
        Dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Dialog.get()));
    }
    // Expects every step of `script` to have run and nothing else to have
    // come up.
    static void ExpectScriptDone(const TModalScript& script) {
        EXPECT_TRUE(script.Done());
        EXPECT_THAT(script.Unexpected(), IsEmpty());
    }
    static void ExpectWarning(const SBoxSeen& box, const QString& text) {
        EXPECT_EQ(box.Title, Q(u8"提示"));
        EXPECT_EQ(box.Icon, QMessageBox::Warning);
        EXPECT_EQ(box.Buttons, QMessageBox::Ok);
        EXPECT_EQ(box.Text, text);
    }

    TLogFile Log;
    std::unique_ptr<TFormAdminLogin> Dialog = std::make_unique<TFormAdminLogin>();
};

// --- what the agent typed ---------------------------------------------------

struct SValidationCase {
    const char* Name;
    const char8_t* Account;
    const char8_t* Password;
    const char8_t* Message;
    const char* Focus; // the box that gets the focus
};

class ValidationTest : public LoginDialogTest,
                       public ::testing::WithParamInterface<SValidationCase> {};

TEST_P(ValidationTest, WarnsFocusesAndSendsNothing) {
    const SValidationCase& c = GetParam();
    TScriptedService service; // records anything sent, answers nothing useful
    Dialog->FServerUrl = service.BaseUrl();
    ShowDialog();
    Type(Q(c.Account), Q(c.Password));
    Button()->setFocus();

    bool enabledDuringBox = true;
    TModalScript script;
    script.Box(QMessageBox::Ok, [&] { enabledDuringBox = Button()->isEnabled(); });
    Dialog->ButtonLoginClick();

    ExpectScriptDone(script);
    ASSERT_EQ(script.Boxes().size(), 1U);
    ExpectWarning(script.Boxes()[0], Q(c.Message));
    auto* focused = Child<QLineEdit>(*Dialog, c.Focus);
    EXPECT_EQ(Dialog->focusWidget(), focused);
    EXPECT_EQ(focused->selectedText(), focused->text());
    EXPECT_FALSE(enabledDuringBox);
    EXPECT_TRUE(Button()->isEnabled());
    EXPECT_EQ(Account()->text(), Q(c.Account));
    EXPECT_EQ(Password()->text(), Q(c.Password));
    EXPECT_THAT(service.Requests(), IsEmpty());
    EXPECT_THAT(Log.Lines(), IsEmpty());
    EXPECT_TRUE(Dialog->FGUID.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Login, ValidationTest,
    ::testing::Values(
        SValidationCase{"BothEmpty", u8"", u8"", u8"请输入手机号码", "EditUserName"},
        SValidationCase{"AccountEmpty", u8"", u8"tarvo123", u8"请输入手机号码", "EditUserName"},
        SValidationCase{"AccountOnlySpaces", u8"   ", u8"tarvo123", u8"请输入手机号码",
                        "EditUserName"},
        SValidationCase{"TenDigitsPasswordEmpty", u8"1380013800", u8"", u8"请输入有效的手机号码",
                        "EditUserName"},
        SValidationCase{"TenDigitsAfterSpace", u8" 1380013800", u8"tarvo123",
                        u8"请输入有效的手机号码", "EditUserName"},
        SValidationCase{"SecondDigitTwo", u8"12800138000", u8"tarvo123", u8"请输入有效的手机号码",
                        "EditUserName"},
        SValidationCase{"LetterLast", u8"1380013800a", u8"tarvo123", u8"请输入有效的手机号码",
                        "EditUserName"},
        SValidationCase{"PasswordEmpty", u8"13800138000", u8"", u8"请输入登录密码", "EditPassword"},
        SValidationCase{"PasswordOnlySpaces", u8"13800138000", u8"    ", u8"请输入登录密码",
                        "EditPassword"}),
    [](const ::testing::TestParamInfo<SValidationCase>& row) { return row.param.Name; });

// Spaces around the password are cut before it is enciphered: the body of
// "/alogin" carries the account in plain text, then the payload enciphered
// under the enciphered password, which is also its "password" value.
TEST_F(LoginDialogTest, SendsTrimmedAccountAndPasswordInTheLoginBody) {
    TScriptedService service;
    ScriptLogin(service);
    Dialog->FServerUrl = service.BaseUrl();
    Type(QString::fromLatin1(DemoAccount), QStringLiteral("  tarvo123 "));
    TModalScript script;
    Dialog->show();
    Dialog->ButtonLoginClick();

    ExpectScriptDone(script);
    EXPECT_THAT(service.Paths(), ElementsAre("/aupdateinfo", "/agetclientip", "/alogin"));
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 3U);
    const testsupport::ReceivedRequest& login = requests[2];
    EXPECT_EQ(login.method, "POST");
    // No session cookie of its own: the header goes out empty.
    EXPECT_EQ(login.Header("Cookie"), "");
    const auto fields = FormFields(login.body);
    ASSERT_EQ(fields.size(), 2U) << login.body;
    EXPECT_EQ(fields[0], std::make_pair(std::string("username"), std::string(DemoAccount)));
    EXPECT_EQ(fields[1].first, "data");
    const std::string& cipherText = fields[1].second;
    const std::string password = EncryptPassword(DemoAccount, DemoPassword);
    std::string plainText;
    ASSERT_TRUE(DecryptPayload(cipherText, password, plainText));
    const auto payload = Json::ParseJSON(plainText);
    ASSERT_EQ(payload->Count(), 2U);
    EXPECT_EQ(payload->Item(0), payload->Member("password"));
    EXPECT_EQ(payload->Member("password")->Value().AsString(), password);
    EXPECT_EQ(payload->Member("ip")->Value().AsString(), "10.1.2.3");

    EXPECT_EQ(Dialog->FGUID, ScriptedSid);
    EXPECT_EQ(Dialog->FUserName, DemoAccount);
    EXPECT_EQ(Dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(Dialog->isVisible());
    EXPECT_THAT(Log.Lines(), ElementsAre(std::string("TarvoAdmin DoLogin: 登陆成功：FUserName: ") +
                                         DemoAccount + "; FGUID：" + ScriptedSid));
}

// --- the version check --------------------------------------------------------

const std::vector<std::string> Link{"--upgrade-url", "https://pan.example.com/s/1tarvo",
                                    "--upgrade-code", "k3x9"};
const std::vector<std::string> Required{"--latest-version", "9.0.0.0", "--oldest-version",
                                        "9.0.0.0"};
const std::vector<std::string> Offered{"--latest-version", "9.0.0.0"};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct SVersionCase {
    const char* Name;
    std::vector<std::string> ServerArgs;
    QMessageBox::Icon Icon; // NoIcon: no box at all
    const char8_t* Text;
    QMessageBox::StandardButton Answer;
    bool NoticeOpens;
    bool LoginAttempted;
};

class VersionCheckTest : public LoginDialogTest,
                         public ::testing::WithParamInterface<SVersionCase> {};

TEST_P(VersionCheckTest, AsksWarnsAndStopsAsTheServerSays) {
    const SVersionCase& c = GetParam();
    TDevServer server(c.ServerArgs);
    Dialog->FServerUrl = server.BaseUrl();
    Type(QString::fromLatin1(DemoAccount), QString::fromLatin1(DemoPassword));

    bool enabledDuringBox = true;
    TModalScript script;
    if (c.Icon != QMessageBox::NoIcon)
        script.Box(c.Answer, [&] { enabledDuringBox = Button()->isEnabled(); });
    QString noticeUrl;
    QString noticeCode;
    if (c.NoticeOpens)
        script.On<TFormUpdateInfo>([&](TFormUpdateInfo& notice) {
            noticeUrl = Child<QLineEdit>(notice, "edtUpgradeURL")->text();
            noticeCode = Child<QLineEdit>(notice, "edtUpgradeCode")->text();
            notice.reject(); // its close box
        });
    Dialog->show();
    Dialog->ButtonLoginClick();

    ExpectScriptDone(script);
    if (c.Icon != QMessageBox::NoIcon) {
        ASSERT_EQ(script.Boxes().size(), 1U);
        const SBoxSeen& box = script.Boxes()[0];
        EXPECT_EQ(box.Title, Q(u8"提示"));
        EXPECT_EQ(box.Icon, c.Icon);
        EXPECT_EQ(box.Text, Q(c.Text));
        EXPECT_FALSE(enabledDuringBox); // the attempt is still under way
        EXPECT_EQ(box.Buttons, c.Icon == QMessageBox::Question
                                   ? QMessageBox::Yes | QMessageBox::No
                                   : QMessageBox::StandardButtons(QMessageBox::Ok));
    }
    if (c.NoticeOpens) {
        EXPECT_EQ(noticeUrl, QStringLiteral("https://pan.example.com/s/1tarvo"));
        EXPECT_EQ(noticeCode, QStringLiteral("k3x9"));
    }
    if (c.LoginAttempted) {
        EXPECT_THAT(server.Paths(), ElementsAre("/aupdateinfo", "/agetclientip", "/alogin"));
        EXPECT_EQ(Dialog->FGUID.size(), 36U);
    } else {
        EXPECT_THAT(server.Paths(), ElementsAre("/aupdateinfo"));
        EXPECT_TRUE(Dialog->FGUID.empty());
        EXPECT_TRUE(Button()->isEnabled());
        EXPECT_THAT(Log.Lines(), IsEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Login, VersionCheckTest,
    ::testing::Values(
        SVersionCase{"Current", {}, QMessageBox::NoIcon, u8"", QMessageBox::NoButton, false, true},
        SVersionCase{"RequiredWithoutLink", Required, QMessageBox::Warning,
                     u8"当前版本已停止使用，必须更新到最新版本 9.0.0.0。", QMessageBox::Ok, false,
                     false},
        SVersionCase{"RequiredLinkDeclined", Join(Required, Link), QMessageBox::Question,
                     u8"当前版本已停止使用，必须更新到最新版本 9.0.0.0。是否现在下载？",
                     QMessageBox::No, false, false},
        SVersionCase{"RequiredLinkAccepted", Join(Required, Link), QMessageBox::Question,
                     u8"当前版本已停止使用，必须更新到最新版本 9.0.0.0。是否现在下载？",
                     QMessageBox::Yes, true, false},
        SVersionCase{"OfferedWithoutLink", Offered, QMessageBox::Warning, u8"发现新版本 9.0.0.0。",
                     QMessageBox::Ok, false, true},
        SVersionCase{"OfferedLinkDeclined", Join(Offered, Link), QMessageBox::Question,
                     u8"发现新版本 9.0.0.0，是否现在下载？", QMessageBox::No, false, true},
        SVersionCase{"OfferedLinkAccepted", Join(Offered, Link), QMessageBox::Question,
                     u8"发现新版本 9.0.0.0，是否现在下载？", QMessageBox::Yes, true, true}),
    [](const ::testing::TestParamInfo<SVersionCase>& row) { return row.param.Name; });

// Version check answers the development server does not give.
struct SVersionAnswerCase {
    const char* Name;
    testsupport::Reply Answer;
    bool LoginAttempted;
};

class VersionAnswerTest : public LoginDialogTest,
                          public ::testing::WithParamInterface<SVersionAnswerCase> {};

TEST_P(VersionAnswerTest, GoesOnOrStopsWithoutAMessage) {
    const SVersionAnswerCase& c = GetParam();
    TScriptedService service;
    ScriptLogin(service);
    service.Set("/aupdateinfo", [&c](const testsupport::ReceivedRequest&) { return c.Answer; });
    Dialog->FServerUrl = service.BaseUrl();
    Type(QString::fromLatin1(DemoAccount), QString::fromLatin1(DemoPassword));
    TModalScript script;
    Dialog->show();
    Dialog->ButtonLoginClick();

    ExpectScriptDone(script);
    if (c.LoginAttempted) {
        EXPECT_THAT(service.Paths(), ElementsAre("/aupdateinfo", "/agetclientip", "/alogin"));
        EXPECT_EQ(Dialog->FGUID, ScriptedSid);
    } else {
        EXPECT_THAT(service.Paths(), ElementsAre("/aupdateinfo"));
        EXPECT_TRUE(Dialog->FGUID.empty());
        EXPECT_TRUE(Button()->isEnabled());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Login, VersionAnswerTest,
    ::testing::Values(
        SVersionAnswerCase{
            "NeedUpgradeWithoutContent",
            JsonReply(
                R"({"Code":1,"Content":"","UpgradeURL":"","UpgradeCode":"","NeedUpgrade":1})"),
            false},
        SVersionAnswerCase{
            "CodeNotOne",
            JsonReply(
                R"({"Code":0,"Content":"x","UpgradeURL":"","UpgradeCode":"","NeedUpgrade":1})"),
            true},
        SVersionAnswerCase{"Status500",
                           testsupport::Reply{testsupport::HttpResponse(
                               500, "Internal Server Error", "Internal Server Error")},
                           true}),
    [](const ::testing::TestParamInfo<SVersionAnswerCase>& row) { return row.param.Name; });

// --- the public address ---------------------------------------------------------

struct SAddressCase {
    const char* Name;
    bool ServerDown;
    testsupport::Reply Answer; // of "/agetclientip"
};

class PublicAddressTest : public LoginDialogTest,
                          public ::testing::WithParamInterface<SAddressCase> {};

TEST_P(PublicAddressTest, WarnsLogsAndDoesNotLogIn) {
    const SAddressCase& c = GetParam();
    TScriptedService service;
    ScriptLogin(service);
    service.Set("/agetclientip", [&c](const testsupport::ReceivedRequest&) { return c.Answer; });
    Dialog->FServerUrl = c.ServerDown ? RefusingUrl() : service.BaseUrl();
    Type(QString::fromLatin1(DemoAccount), QString::fromLatin1(DemoPassword));
    TModalScript script;
    script.Box(QMessageBox::Ok);
    Dialog->show();
    Dialog->ButtonLoginClick();

    ExpectScriptDone(script);
    ASSERT_EQ(script.Boxes().size(), 1U);
    ExpectWarning(script.Boxes()[0], Q(u8"获取PC信息失败，请重新登录！"));
    EXPECT_THAT(Log.Lines(),
                ElementsAre("TarvoAdmin ButtonLoginClick: Content: 获取PC信息失败，请重新登录！"));
    if (!c.ServerDown) {
        EXPECT_THAT(Collapsed(service.Paths()), ElementsAre("/aupdateinfo", "/agetclientip"));
    }
    EXPECT_TRUE(Button()->isEnabled());
    EXPECT_EQ(Account()->text(), QString::fromLatin1(DemoAccount));
    EXPECT_EQ(Password()->text(), QString::fromLatin1(DemoPassword));
    EXPECT_TRUE(Dialog->FGUID.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Login, PublicAddressTest,
    ::testing::Values(SAddressCase{"EmptyAnswer", false, JsonReply("")},
                      SAddressCase{"ConnectionReset", false,
                                   testsupport::Reply{"", testsupport::After::Reset}},
                      SAddressCase{"ServerDown", true, {}}),
    [](const ::testing::TestParamInfo<SAddressCase>& row) { return row.param.Name; });

// --- the login call's answers ------------------------------------------------

TEST_F(LoginDialogTest, WrongPasswordShowsTheServersContentAndKeepsTheFields) {
    TDevServer server;
    Dialog->FServerUrl = server.BaseUrl();
    ShowDialog();
    Type(QString::fromLatin1(DemoAccount), QStringLiteral("tarvo124"));
    TModalScript script;
    script.Box(QMessageBox::Ok);
    Dialog->ButtonLoginClick();

    ExpectScriptDone(script);
    ASSERT_EQ(script.Boxes().size(), 1U);
    ExpectWarning(script.Boxes()[0], Q(u8"账号或密码错误！"));
    // The server refuses with Code 0: the message goes under "DoLogout" too.
    EXPECT_THAT(Log.Lines(),
                ElementsAre("TarvoAdmin DoLogout: 账号或密码错误！",
                            "TarvoAdmin DoLogin: 登陆失败：Content: 账号或密码错误！"));
    EXPECT_THAT(server.Paths(), ElementsAre("/aupdateinfo", "/agetclientip", "/alogin"));
    EXPECT_EQ(Account()->text(), QString::fromLatin1(DemoAccount));
    EXPECT_EQ(Password()->text(), QStringLiteral("tarvo124"));
    EXPECT_TRUE(Button()->isEnabled());
    EXPECT_TRUE(Dialog->isVisible());
    EXPECT_TRUE(Dialog->FGUID.empty());
    EXPECT_TRUE(Dialog->FUserName.empty());
}

struct SLoginAnswerCase {
    const char* Name;
    testsupport::Reply Answer;       // of "/alogin"
    const char8_t* Box;              // nullptr: no box
    std::vector<const char8_t*> Log; // the lines' beginnings, in order
};

class LoginAnswerTest : public LoginDialogTest,
                        public ::testing::WithParamInterface<SLoginAnswerCase> {};

TEST_P(LoginAnswerTest, ShowsAndLogsAndKeepsTheDialogOpen) {
    const SLoginAnswerCase& c = GetParam();
    TScriptedService service;
    ScriptLogin(service);
    service.Set("/alogin", [&c](const testsupport::ReceivedRequest&) { return c.Answer; });
    Dialog->FServerUrl = service.BaseUrl();
    ShowDialog();
    Type(QString::fromLatin1(DemoAccount), QString::fromLatin1(DemoPassword));
    TModalScript script;
    if (c.Box != nullptr)
        script.Box(QMessageBox::Ok);
    Dialog->ButtonLoginClick();

    ExpectScriptDone(script);
    if (c.Box != nullptr) {
        ASSERT_EQ(script.Boxes().size(), 1U);
        EXPECT_EQ(script.Boxes()[0].Icon, QMessageBox::Warning);
        EXPECT_TRUE(script.Boxes()[0].Text.startsWith(Q(c.Box)))
            << script.Boxes()[0].Text.toStdString();
    }
    const auto lines = Log.Lines();
    ASSERT_EQ(lines.size(), c.Log.size()) << ::testing::PrintToString(lines);
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].rfind(reinterpret_cast<const char*>(c.Log[i]), 0), 0U) << lines[i];
    EXPECT_THAT(Collapsed(service.Paths()),
                ElementsAre("/aupdateinfo", "/agetclientip", "/alogin"));
    EXPECT_TRUE(Dialog->isVisible());
    EXPECT_TRUE(Dialog->FGUID.empty());
    EXPECT_TRUE(Button()->isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr); // the wait cursor is gone
    EXPECT_EQ(Account()->text(), QString::fromLatin1(DemoAccount));
    EXPECT_EQ(Password()->text(), QString::fromLatin1(DemoPassword));
}

INSTANTIATE_TEST_SUITE_P(
    Login, LoginAnswerTest,
    ::testing::Values(
        // Not Code 0: the "DoLogout" line is left out.
        SLoginAnswerCase{"RefusedWithCode2",
                         JsonReply(G(u8R"({"Code":2,"Content":"账号已停用"})")),
                         u8"账号已停用",
                         {u8"TarvoAdmin DoLogin: 登陆失败：Content: 账号已停用"}},
        SLoginAnswerCase{"NoAnswer",
                         testsupport::Reply{"", testsupport::After::Reset},
                         u8"访问服务器失败，请稍后重试！",
                         {u8"TarvoAdmin DoLogout: 访问服务器失败，请稍后重试！",
                          u8"TarvoAdmin DoLogin: 登陆失败：Content: 访问服务器失败，请稍后重试！"}},
        SLoginAnswerCase{
            "Status500",
            testsupport::Reply{
                testsupport::HttpResponse(500, "Internal Server Error", "Internal Server Error")},
            u8"aHTTP->RawHeader HTTP/1.1 500 Internal Server Error\r\n",
            {u8"TarvoAdmin DoLogout: aHTTP->RawHeader HTTP/1.1 500 Internal Server Error\\r\\n",
             u8"TarvoAdmin DoLogin: 登陆失败：Content: aHTTP->RawHeader HTTP/1.1 500 "
             u8"Internal Server Error\\r\\n"}},
        // Read errors after a 200 answer: CheckHttpResult gives nothing to show.
        SLoginAnswerCase{"NotJson", JsonReply("<html></html>"), nullptr, {}},
        SLoginAnswerCase{"SuccessWithoutSid", JsonReply(R"({"Code":1})"), nullptr, {}},
        SLoginAnswerCase{"EmptyAnswer", JsonReply(""), nullptr, {}}),
    [](const ::testing::TestParamInfo<SLoginAnswerCase>& row) { return row.param.Name; });

// --- the keyboard -------------------------------------------------------------------

struct SNavCase {
    const char* Name;
    const char* From; // the control with the focus
    Qt::Key Key;
    const char* To; // nullptr: the dialog closed
};

class NavKeyTest : public LoginDialogTest, public ::testing::WithParamInterface<SNavCase> {};

TEST_P(NavKeyTest, MovesTheFocusOrClosesWithoutLoggingIn) {
    const SNavCase& c = GetParam();
    TScriptedService service;
    ScriptLogin(service);
    Dialog->FServerUrl = service.BaseUrl();
    ShowDialog();
    Type(QString::fromLatin1(DemoAccount), QString::fromLatin1(DemoPassword));
    auto* from = Child<QWidget>(*Dialog, c.From);
    from->setFocus();
    TModalScript script;
    if (qobject_cast<QLineEdit*>(from) != nullptr)
        QTest::keyClick(from, c.Key);
    else // keys on the button do not pass through HandleNavKey
        Dialog->HandleNavKey(from, c.Key, Qt::NoModifier);

    ExpectScriptDone(script);
    if (c.To == nullptr) {
        EXPECT_FALSE(Dialog->isVisible());
        EXPECT_EQ(Dialog->result(), QDialog::Rejected);
    } else {
        EXPECT_TRUE(Dialog->isVisible());
        EXPECT_EQ(Dialog->focusWidget(), Child<QWidget>(*Dialog, c.To));
    }
    EXPECT_THAT(service.Requests(), IsEmpty());
    EXPECT_EQ(Account()->text(), QString::fromLatin1(DemoAccount));
}

INSTANTIATE_TEST_SUITE_P(
    Login, NavKeyTest,
    ::testing::Values(SNavCase{"EnterOnAccount", "EditUserName", Qt::Key_Return, "EditPassword"},
                      SNavCase{"KeypadEnterOnAccount", "EditUserName", Qt::Key_Enter,
                               "EditPassword"},
                      SNavCase{"DownOnAccount", "EditUserName", Qt::Key_Down, "EditPassword"},
                      SNavCase{"EnterOnPassword", "EditPassword", Qt::Key_Return, "ButtonLogin"},
                      SNavCase{"DownOnPassword", "EditPassword", Qt::Key_Down, "ButtonLogin"},
                      SNavCase{"UpOnPassword", "EditPassword", Qt::Key_Up, "EditUserName"},
                      SNavCase{"UpOnAccountWraps", "EditUserName", Qt::Key_Up, "ButtonLogin"},
                      SNavCase{"DownOnButtonWraps", "ButtonLogin", Qt::Key_Down, "EditUserName"},
                      SNavCase{"LeftOnPasswordStays", "EditPassword", Qt::Key_Left, "EditPassword"},
                      SNavCase{"EscOnAccount", "EditUserName", Qt::Key_Escape, nullptr},
                      SNavCase{"EscOnPassword", "EditPassword", Qt::Key_Escape, nullptr}),
    [](const ::testing::TestParamInfo<SNavCase>& row) { return row.param.Name; });

TEST_F(LoginDialogTest, OtherKeysReachTheBox) {
    ShowDialog();
    Account()->setFocus();
    QTest::keyClicks(Account(), QStringLiteral("138"));
    EXPECT_EQ(Account()->text(), QStringLiteral("138"));
    EXPECT_EQ(Dialog->focusWidget(), Account());
}

TEST_F(LoginDialogTest, EnterOnTheFocusedButtonPressesIt) {
    TScriptedService service;
    Dialog->FServerUrl = service.BaseUrl();
    ShowDialog();
    Button()->setFocus();
    TModalScript script;
    script.Box(QMessageBox::Ok);
    QTest::keyClick(Button(), Qt::Key_Return);

    ExpectScriptDone(script);
    ASSERT_EQ(script.Boxes().size(), 1U);
    ExpectWarning(script.Boxes()[0], Q(u8"请输入手机号码"));
    EXPECT_EQ(Dialog->focusWidget(), Account());
}

// The agent logs in with the keyboard alone: Enter moves from the account to
// the password and on to the button, and Enter on the button logs in.
TEST_F(LoginDialogTest, KeyboardAloneLogsIn) {
    TDevServer server;
    Dialog->FServerUrl = server.BaseUrl();
    TModalScript script;
    script.On<TFormAdminLogin>([](TFormAdminLogin& dialog) {
        auto* account = Child<QLineEdit>(dialog, "EditUserName");
        auto* password = Child<QLineEdit>(dialog, "EditPassword");
        account->setFocus();
        QTest::keyClicks(account, QString::fromLatin1(DemoAccount));
        QTest::keyClick(account, Qt::Key_Return);
        QTest::keyClicks(password, QString::fromLatin1(DemoPassword));
        QTest::keyClick(password, Qt::Key_Return);
        QWidget* button = dialog.focusWidget();
        QTimer::singleShot(0, button, [button] { QTest::keyClick(button, Qt::Key_Return); });
    });
    const int result = Dialog->exec();

    ExpectScriptDone(script);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(Dialog->FUserName, DemoAccount);
    EXPECT_EQ(Dialog->FGUID.size(), 36U);
    EXPECT_THAT(server.Paths(), ElementsAre("/aupdateinfo", "/agetclientip", "/alogin"));
}

// --- artwork -----------------------------------------------------------------

// The banner and the icon are PNGs drawn at build time: a missing or blank
// picture would show as an empty header or no icon.
TEST_F(LoginDialogTest, BannerAndIconArePainted) {
    const QPixmap banner = BannerPixmap(QSize(398, 80));
    ASSERT_FALSE(banner.isNull());
    EXPECT_EQ(banner.deviceIndependentSize().toSize(), QSize(398, 80));
    const QImage image = banner.toImage();
    // The banner's sky is blue: sample its left part, where no drawing is.
    const QColor sky = image.pixelColor(image.width() / 20, image.height() / 4);
    EXPECT_GT(sky.blue(), sky.red() + 60) << sky.name().toStdString();

    const QPixmap fitted = BannerPixmap(QSize(200, 80));
    EXPECT_EQ(fitted.deviceIndependentSize().toSize(), QSize(200, 80));

    const QIcon icon = ProgramIcon();
    for (const int side : {16, 32, 256}) {
        SCOPED_TRACE(side);
        const QImage drawn = icon.pixmap(QSize(side, side)).toImage();
        ASSERT_EQ(drawn.size(), QSize(side, side));
        EXPECT_GT(qAlpha(drawn.pixel(side / 2, side / 2)), 0);
    }
}

} // namespace
} // namespace shelltest
