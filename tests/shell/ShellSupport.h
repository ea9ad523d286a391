// What the window tests share: the development server as a child process
// with its request log, a scripted loopback server that plays the whole
// service, a driver for modal dialogs and message boxes, the debuglog file of
// one test, and child processes of this program for the paths that end the
// process.
#pragma once

#include "LoopbackServer.h"
#include "TempDir.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace shelltest {

using namespace std::chrono_literals;

// The demo agent of the development server.
inline constexpr char DemoAccount[] = "13800138000";
inline constexpr char DemoPassword[] = "tarvo123";

// A UTF-8 literal as the widgets show it.
inline QString Q(const char8_t* text) {
    return QString::fromUtf8(text);
}
// A UTF-8 literal as a GBK text, the form the system keeps.
std::string G(const char8_t* text);

// A control of `window` found by its object name; a missing one ends the
// test program with a message (the steps that look for controls run inside
// Qt's event loop, where no exception may pass).
template <class T> T* Child(const QObject& window, const char* name) {
    T* control = window.findChild<T*>(QString::fromLatin1(name));
    if (control == nullptr) {
        std::fprintf(stderr, "%s has no control %s\n", window.metaObject()->className(), name);
        std::abort();
    }
    return control;
}

// --- development server --------------------------------------------------

struct SServerRequest {
    std::string Method;
    std::string Path;
    int Status = 0;
};

// tarvo-devserver on a free port with an in-memory demo database; its
// request log ("METHOD PATH STATUS ms" on standard error) is kept in a file.
// The server logs a request before it answers, so the log is complete for
// every call that has returned.
class TDevServer {
public:
    explicit TDevServer(std::vector<std::string> extraArgs = {});
    ~TDevServer();
    TDevServer(const TDevServer&) = delete;
    TDevServer& operator=(const TDevServer&) = delete;

    // "http://127.0.0.1:PORT"
    const std::string& BaseUrl() const { return FBaseUrl; }
    // The requests logged so far, in order.
    std::vector<SServerRequest> Requests() const;
    // The paths of Requests().
    std::vector<std::string> Paths() const;

private:
    pid_t FPid = -1;
    testsupport::TempDir FDir{"shell-devserver"};
    std::string FLogPath;
    std::string FBaseUrl;
};

// Logs the demo agent in over the protocol layer with a session of its own;
// the session identifier.
std::string DemoSession(const std::string& baseUrl);
// Ends a session on the server with "/alogout" from a session of its own.
void DropSession(const std::string& baseUrl, const std::string& sessionId);
// True when the server still confirms the session ("/ahb").
bool SessionAlive(const std::string& baseUrl, const std::string& sessionId);

// --- scripted loopback server --------------------------------------------

// Answers by path; a path without an answer gets 404.
class TScriptedService {
public:
    using Answer = std::function<testsupport::Reply(const testsupport::ReceivedRequest&)>;

    TScriptedService();
    // Replaces the answer of `path`.
    void Set(const std::string& path, Answer answer);
    void SetJson(const std::string& path, const std::string& json);
    std::string BaseUrl() const { return FServer.Url(""); }
    std::vector<testsupport::ReceivedRequest> Requests() const { return FServer.Requests(); }
    std::vector<std::string> Paths() const;
    int Connections() const { return FServer.Connections(); }

private:
    struct SAnswers;
    std::shared_ptr<SAnswers> FAnswers;
    testsupport::ScriptedServer FServer;
};

// A 200 answer with `body` (GBK or ASCII), closing nothing.
testsupport::Reply JsonReply(const std::string& body);
// The version check's answer for a current client.
inline constexpr char CurrentVersionAnswer[] =
    R"({"Code":1,"Content":"","UpgradeURL":"","UpgradeCode":"","NeedUpgrade":0})";
// A fixed session identifier for scripted logins.
inline constexpr char ScriptedSid[] = "0f1e2d3c-4b5a-4968-8776-a5b4c3d2e1f0";
// A service that lets the demo agent in: a current version, the address
// 10.1.2.3, Code 1 with ScriptedSid for "/alogin", Code 1 for "/alogout".
void ScriptLogin(TScriptedService& service);

// `paths` with runs of the same path made one: a request that met a reset
// on a kept-alive connection is sent once more on a fresh one.
std::vector<std::string> Collapsed(std::vector<std::string> paths);

// The fields of a URL-encoded form body, decoded, in order.
std::vector<std::pair<std::string, std::string>> FormFields(const std::string& body);

// A base URL on which nothing listens: connections are refused at once.
std::string RefusingUrl();

// --- modal windows -------------------------------------------------------

struct SBoxSeen {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons Buttons;
};

// Drives the modal windows that the code under test opens, one step per
// window in the order they come. A step runs on the active modal window when
// it is of the step's kind; it must not block (buttons that open windows are
// pressed through Press). A modal window that no step is waiting for is
// recorded and closed, so a wrong path fails instead of hanging.
class TModalScript {
public:
    TModalScript();
    ~TModalScript();
    TModalScript(const TModalScript&) = delete;
    TModalScript& operator=(const TModalScript&) = delete;

    // The next message box: records it, runs `probe`, presses `button`.
    TModalScript& Box(QMessageBox::StandardButton button, std::function<void()> probe = {});
    // The next modal window of class T (not a message box).
    template <class T> TModalScript& On(std::function<void(T&)> action) {
        FSteps.push_back(SStep{[](QWidget* w) { return dynamic_cast<T*>(w) != nullptr; },
                               [action](QWidget* w) { action(*dynamic_cast<T*>(w)); }});
        return *this;
    }

    // Every step ran.
    bool Done() const { return FSteps.empty(); }
    // The message boxes answered, in order.
    const std::vector<SBoxSeen>& Boxes() const { return FBoxes; }
    // Modal windows no step was waiting for: class and text.
    const std::vector<QString>& Unexpected() const { return FUnexpected; }

    // Clicks a button once control is back in the event loop.
    static void Press(QAbstractButton* button);

private:
    struct SStep {
        std::function<bool(QWidget*)> Matches;
        std::function<void(QWidget*)> Run;
    };
    void Tick();

    QTimer FTimer;
    std::deque<SStep> FSteps;
    std::vector<SBoxSeen> FBoxes;
    std::vector<QString> FUnexpected;
    QPointer<QWidget> FHandled; // the window of the last step until it hides
    std::chrono::steady_clock::time_point FHandledAt;
    std::unique_ptr<QObject> FHideWatch;
};

// Types `account` and `password` into the login dialog and presses its
// button.
void TypeAndLogIn(QWidget& loginDialog, const QString& account, const QString& password);

// Takes the links handed to the desktop for one URL scheme while it lives
// (QDesktopServices::setUrlHandler) and writes each to standard output as
// "opened: URL" when `print` is set.
class TUrlCatcher : public QObject {
    Q_OBJECT

public:
    explicit TUrlCatcher(const QString& scheme, bool print = false);
    ~TUrlCatcher() override;
    const QStringList& Opened() const { return FOpened; }

public slots:
    void Open(const QUrl& url);

private:
    QString FScheme;
    bool FPrint;
    QStringList FOpened;
};

// --- debuglog --------------------------------------------------------------

// A fresh log file named by TARVO_LOG_FILE while the object lives.
class TLogFile {
public:
    TLogFile();
    ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    const std::string& Path() const { return FPath; }
    // The lines without their time stamps: "source where: text" (UTF-8).
    std::vector<std::string> Lines() const;
    // The lines of one where-name: their "text" parts.
    std::vector<std::string> Texts(const std::string& source, const std::string& where) const;

private:
    testsupport::TempDir FDir{"shell-log"};
    std::string FPath;
};

// --- child processes -------------------------------------------------------

struct SChildResult {
    bool Exited = false; // ended by itself, not killed or timed out
    int ExitCode = -1;
    std::string Output; // standard output and error
};

// Runs this program as a child with "--shell-child=<scenario>" and the
// environment plus `env`; at most `limit`.
SChildResult RunChild(const std::string& scenario, const std::map<std::string, std::string>& env,
                      std::chrono::seconds limit = 60s);

// Runs the scenario named by a "--shell-child=" argument in this process;
// its exit code. A scenario that returns did not end the process itself.
int RunChildScenario(const std::string& name);

} // namespace shelltest
