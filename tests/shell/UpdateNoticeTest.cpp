// The update notice: its code row, the copy of the code, and the download
// question (Yes ends the process and runs in a child process).
#include "ShellSupport.h"
#include "UnitUpdateInfo.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace shelltest {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

const char Url[] = "https://pan.example.com/s/1tarvo";

// The notice as it was while shown.
struct SNoticeSeen {
    QString Title;
    QString Url;
    QString Code;
    bool CodeRowVisible = false;
    bool LabelVisible = false;
    bool CopyVisible = false;
    int ButtonTop = 0;
    int Height = 0;
};

SNoticeSeen Look(const TFormUpdateInfo& notice) {
    SNoticeSeen seen;
    seen.Title = notice.windowTitle();
    seen.Url = Child<QLineEdit>(notice, "edtUpgradeURL")->text();
    seen.Code = Child<QLineEdit>(notice, "edtUpgradeCode")->text();
    seen.CodeRowVisible = Child<QLineEdit>(notice, "edtUpgradeCode")->isVisible();
    seen.LabelVisible = Child<QLabel>(notice, "lblUpgradeCode")->isVisible();
    seen.CopyVisible = Child<QPushButton>(notice, "BitBtnCopy")->isVisible();
    seen.ButtonTop = Child<QPushButton>(notice, "ButtonLogin")->y();
    seen.Height = notice.height();
    return seen;
}

class UpdateNoticeTest : public ::testing::Test {
protected:
    // Shows the notice for `code`, runs `script`'s steps on it; what it
    // looked like when it came up.
    SNoticeSeen Show(const std::string& code, TModalScript& script) {
        ShowUpdateInfo(1, Url, code);
        EXPECT_TRUE(script.Done());
        EXPECT_THAT(script.Unexpected(), IsEmpty());
        return Seen;
    }
    // A first step that records the notice, then `action`.
    std::function<void(TFormUpdateInfo&)> LookThen(std::function<void(TFormUpdateInfo&)> action) {
        return [this, action](TFormUpdateInfo& notice) {
            Seen = Look(notice);
            action(notice);
        };
    }
    static void Close(TFormUpdateInfo& notice) { notice.reject(); }

    SNoticeSeen Seen;
};

TEST_F(UpdateNoticeTest, EmptyCodeHidesTheCodeRow) {
    TModalScript script;
    script.On<TFormUpdateInfo>(LookThen(Close));
    Show("", script);

    EXPECT_EQ(Seen.Title, Q(u8"版本更新信息"));
    EXPECT_EQ(Seen.Url, QString::fromLatin1(Url));
    EXPECT_FALSE(Seen.CodeRowVisible);
    EXPECT_FALSE(Seen.LabelVisible);
    EXPECT_FALSE(Seen.CopyVisible);
    EXPECT_EQ(Seen.ButtonTop, 68);
    // The designed 132 less the code row's 28: 135 in all with a caption.
    EXPECT_EQ(Seen.Height, 104);
}

TEST_F(UpdateNoticeTest, CodeKeepsTheDesignedLayout) {
    TModalScript script;
    script.On<TFormUpdateInfo>(LookThen(Close));
    Show("k3x9", script);

    EXPECT_EQ(Seen.Code, QStringLiteral("k3x9"));
    EXPECT_TRUE(Seen.CodeRowVisible);
    EXPECT_TRUE(Seen.LabelVisible);
    EXPECT_TRUE(Seen.CopyVisible);
    EXPECT_EQ(Seen.ButtonTop, 96);
    EXPECT_EQ(Seen.Height, 132);
}

TEST_F(UpdateNoticeTest, CopyPutsTheCodeOnTheClipboard) {
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QString onClipboard;
    TModalScript script;
    script
        .On<TFormUpdateInfo>(LookThen([](TFormUpdateInfo& notice) {
            TModalScript::Press(Child<QPushButton>(notice, "BitBtnCopy"));
        }))
        .Box(QMessageBox::Ok, [&] { onClipboard = QGuiApplication::clipboard()->text(); })
        .On<TFormUpdateInfo>(Close);
    Show("k3x9", script);

    EXPECT_EQ(onClipboard, QStringLiteral("k3x9"));
    ASSERT_EQ(script.Boxes().size(), 1U);
    const SBoxSeen& box = script.Boxes()[0];
    EXPECT_EQ(box.Title, Q(u8"提示"));
    EXPECT_EQ(box.Icon, QMessageBox::Information);
    EXPECT_EQ(box.Text, Q(u8"复制成功"));
    EXPECT_EQ(box.Buttons, QMessageBox::Ok);
}

TEST_F(UpdateNoticeTest, CopyOfSpacesDoesNothing) {
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    bool openAfterCopy = false;
    TModalScript script; // no box may come up
    script.On<TFormUpdateInfo>(LookThen([&](TFormUpdateInfo& notice) {
        TModalScript::Press(Child<QPushButton>(notice, "BitBtnCopy"));
        QTimer::singleShot(0, &notice, [&] {
            openAfterCopy = notice.isVisible();
            Close(notice);
        });
    }));
    Show("   ", script);

    EXPECT_TRUE(Seen.CodeRowVisible);
    EXPECT_TRUE(Seen.CopyVisible);
    EXPECT_TRUE(openAfterCopy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
}

TEST_F(UpdateNoticeTest, NoKeepsTheNoticeOpen) {
    const TUrlCatcher catcher(QStringLiteral("https"));
    bool openAfterNo = false;
    TModalScript script;
    script
        .On<TFormUpdateInfo>(LookThen([](TFormUpdateInfo& notice) {
            TModalScript::Press(Child<QPushButton>(notice, "ButtonLogin"));
        }))
        .Box(QMessageBox::No)
        .On<TFormUpdateInfo>([&](TFormUpdateInfo& notice) {
            openAfterNo = notice.isVisible();
            Close(notice);
        });
    Show("k3x9", script);

    EXPECT_TRUE(openAfterNo);
    EXPECT_THAT(catcher.Opened(), IsEmpty());
    ASSERT_EQ(script.Boxes().size(), 1U);
    const SBoxSeen& box = script.Boxes()[0];
    EXPECT_EQ(box.Title, Q(u8"提示"));
    EXPECT_EQ(box.Icon, QMessageBox::Question);
    EXPECT_EQ(box.Text, Q(u8"立即下载并退出此程序？"));
    EXPECT_EQ(box.Buttons, QMessageBox::Yes | QMessageBox::No);
}

// Yes hands the trimmed link to the desktop and ends the process at once.
TEST(UpdateDownload, YesOpensTheLinkAndEndsTheProcess) {
    const SChildResult child = RunChild("update-download", {});

    EXPECT_TRUE(child.Exited) << child.Output;
    EXPECT_EQ(child.ExitCode, 0) << child.Output;
    EXPECT_THAT(child.Output, HasSubstr(std::string("opened: ") + Url + "\n"));
    EXPECT_THAT(child.Output, Not(HasSubstr("returned")));
}

// From the login's version check: the download ends the process before the
// login goes on.
TEST(UpdateDownload, YesFromTheLoginPostsNothingMore) {
    const TLogFile log;
    const TDevServer server(
        {"--latest-version", "9.0.0.0", "--upgrade-url", Url, "--upgrade-code", "k3x9"});
    const SChildResult child =
        RunChild("login-update-download",
                 {{"TARVO_SHELL_URL", server.BaseUrl()}, {"TARVO_LOG_FILE", log.Path()}});

    EXPECT_TRUE(child.Exited) << child.Output;
    EXPECT_EQ(child.ExitCode, 0) << child.Output;
    EXPECT_THAT(child.Output, HasSubstr(std::string("opened: ") + Url + "\n"));
    EXPECT_THAT(child.Output, Not(HasSubstr("returned")));
    EXPECT_THAT(server.Paths(), ::testing::ElementsAre("/aupdateinfo"));
    EXPECT_THAT(log.Lines(), IsEmpty());
}

} // namespace
} // namespace shelltest
