#include "ShellSupport.h"

#include "Agentcalls.h"
#include "CodePage.h"
#include "Encryptpwd.h"
#include "Json.h"
#include "Unitcommon.h"
#include "WinHttpClass.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLineEdit>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace shelltest {

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The environment with `overrides` put in, as "NAME=value" texts.
std::vector<std::string> EnvironmentWith(const std::map<std::string, std::string>& overrides) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (!overrides.contains(text.substr(0, text.find('='))))
            env.push_back(text);
    }
    for (const auto& [name, value] : overrides)
        env.push_back(name + "=" + value);
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Reads `fd` until its end, a first line feed (`firstLine`) or `end`.
std::string ReadUntil(int fd, Clock::time_point end, bool firstLine) {
    std::string text;
    while (!(firstLine && text.find('\n') != std::string::npos) && Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// Waits for `pid` until `end`; false when it still runs.
bool WaitChild(pid_t pid, Clock::time_point end, int& status) {
    for (;;) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return true;
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
}

std::unique_ptr<Winhttpclass::THTTP> NewHttp() {
    auto http = std::make_unique<Winhttpclass::THTTP>("", "", "", "");
    PrepareHttp(*http);
    return http;
}

} // namespace

std::string G(const char8_t* text) {
    return Gbk(text);
}

// --- development server --------------------------------------------------

TDevServer::TDevServer(std::vector<std::string> extraArgs) {
    FLogPath = FDir / "requests.log";
    std::vector<std::string> args{TARVO_DEVSERVER_PATH, "--demo",   "--db",
                                  ":memory:",           "--listen", "127.0.0.1:0"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    auto argv = Pointers(args);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const int log = open(FLogPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, log, STDERR_FILENO);
    const int spawned = posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    close(log);
    if (spawned != 0) {
        close(fds[0]);
        FPid = -1;
        throw std::runtime_error("tarvo-devserver did not start");
    }
    const std::string line = ReadUntil(fds[0], Clock::now() + 20s, true);
    close(fds[0]);
    const std::string prefix = "listening on ";
    const auto eol = line.find('\n');
    if (line.rfind(prefix, 0) != 0 || eol == std::string::npos) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
        FPid = -1;
        throw std::runtime_error("tarvo-devserver said \"" + line + "\"");
    }
    FBaseUrl = "http://" + line.substr(prefix.size(), eol - prefix.size());
}

TDevServer::~TDevServer() {
    if (FPid > 0) {
        kill(FPid, SIGTERM);
        int status = 0;
        if (!WaitChild(FPid, Clock::now() + 10s, status)) {
            kill(FPid, SIGKILL);
            waitpid(FPid, &status, 0);
        }
    }
}

std::vector<SServerRequest> TDevServer::Requests() const {
    std::vector<SServerRequest> requests;
    for (const std::string& line : SplitLines(ReadWhole(FLogPath))) {
        std::istringstream fields(line);
        SServerRequest request;
        if (fields >> request.Method >> request.Path >> request.Status && !request.Path.empty() &&
            request.Path.front() == '/')
            requests.push_back(request);
    }
    return requests;
}

std::vector<std::string> TDevServer::Paths() const {
    std::vector<std::string> paths;
    for (const auto& request : Requests())
        paths.push_back(request.Path);
    return paths;
}

std::string DemoSession(const std::string& baseUrl) {
    const auto http = NewHttp();
    return AgentLogin(SCallContext{*http, baseUrl, {}}, DemoAccount,
                      EncryptPassword(DemoAccount, DemoPassword), "127.0.0.1")
        .SessionId;
}

void DropSession(const std::string& baseUrl, const std::string& sessionId) {
    const auto http = NewHttp();
    DoLogout(*http, sessionId, baseUrl);
}

bool SessionAlive(const std::string& baseUrl, const std::string& sessionId) {
    // Read here rather than through CheckUserLogin, which logs a refusal.
    const auto http = NewHttp();
    SetSessionCookie(*http, sessionId, SessionType);
    const std::string answer = http->Post(baseUrl + "/ahb", "", Winhttpclass::cpNone);
    if (!AnsweredOk(*http) || answer.empty())
        return false;
    return ReadCode(*Json::ParseJSON(answer)) == 1;
}

// --- scripted loopback server --------------------------------------------

struct TScriptedService::SAnswers {
    std::mutex Lock;
    std::map<std::string, Answer> ByPath;

    Answer Find(const std::string& path) {
        const std::lock_guard guard(Lock);
        const auto it = ByPath.find(path);
        return it == ByPath.end() ? Answer() : it->second;
    }
};

TScriptedService::TScriptedService()
    : FAnswers(std::make_shared<SAnswers>()),
      FServer([answers = FAnswers](const testsupport::ReceivedRequest& request) {
          const Answer answer = answers->Find(request.target.substr(0, request.target.find('?')));
          if (!answer)
              return testsupport::Reply{testsupport::HttpResponse(404, "Not Found", "Not Found")};
          return answer(request);
      }) {}

void TScriptedService::Set(const std::string& path, Answer answer) {
    const std::lock_guard guard(FAnswers->Lock);
    FAnswers->ByPath[path] = std::move(answer);
}

void TScriptedService::SetJson(const std::string& path, const std::string& json) {
    Set(path, [json](const testsupport::ReceivedRequest&) { return JsonReply(json); });
}

std::vector<std::string> TScriptedService::Paths() const {
    std::vector<std::string> paths;
    for (const auto& request : Requests())
        paths.push_back(request.target.substr(0, request.target.find('?')));
    return paths;
}

testsupport::Reply JsonReply(const std::string& body) {
    return testsupport::Reply{
        testsupport::HttpResponse(200, "OK", body, {{"Content-Type", "application/json"}})};
}

void ScriptLogin(TScriptedService& service) {
    service.SetJson("/aupdateinfo", CurrentVersionAnswer);
    service.Set("/agetclientip", [](const testsupport::ReceivedRequest&) {
        return testsupport::Reply{testsupport::HttpResponse(200, "OK", "10.1.2.3")};
    });
    service.SetJson("/alogin", std::string(R"({"Code":1,"SID":")") + ScriptedSid + "\"}");
    service.SetJson("/alogout", R"({"Code":1,"Content":""})");
}

std::vector<std::string> Collapsed(std::vector<std::string> paths) {
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
}

namespace {

std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

std::vector<std::pair<std::string, std::string>> FormFields(const std::string& body) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::istringstream in(body);
    for (std::string piece; std::getline(in, piece, '&');) {
        if (piece.empty())
            continue;
        const auto equals = piece.find('=');
        fields.emplace_back(PercentDecoded(piece.substr(0, equals)),
                            equals == std::string::npos ? std::string()
                                                        : PercentDecoded(piece.substr(equals + 1)));
    }
    return fields;
}

std::string RefusingUrl() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    // Bound but never listening: the port is taken by nobody else meanwhile
    // and refuses every connection.
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("no loopback port");
    const int port = ntohs(address.sin_port);
    close(fd);
    return "http://127.0.0.1:" + std::to_string(port);
}

// --- modal windows -------------------------------------------------------

namespace {

constexpr auto StepLimit = 15s; // a handled window left open this long is closed

QString Describe(QWidget* window) {
    QString text = QString::fromLatin1(window->metaObject()->className()) + QStringLiteral(" \"") +
                   window->windowTitle() + QStringLiteral("\"");
    if (const auto* box = qobject_cast<QMessageBox*>(window))
        text += QStringLiteral(": ") + box->text();
    return text;
}

// Calls back when a watched window hides.
class THideWatch : public QObject {
public:
    explicit THideWatch(std::function<void(QObject*)> hidden) : FHidden(std::move(hidden)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide)
            FHidden(watched);
        return false;
    }

private:
    std::function<void(QObject*)> FHidden;
};

void CloseModal(QWidget* window) {
    if (auto* dialog = qobject_cast<QDialog*>(window))
        dialog->done(QDialog::Rejected);
    else
        window->close();
}

} // namespace

TModalScript::TModalScript()
    : FHideWatch(std::make_unique<THideWatch>([this](QObject* window) {
          // A window shown again later (the login dialog is) is a new step's.
          if (window == FHandled)
              FHandled = nullptr;
      })) {
    FTimer.setInterval(5);
    QObject::connect(&FTimer, &QTimer::timeout, &FTimer, [this] { Tick(); });
    FTimer.start();
}

TModalScript::~TModalScript() = default;

TModalScript& TModalScript::Box(QMessageBox::StandardButton button, std::function<void()> probe) {
    FSteps.push_back(SStep{[](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
                           [this, button, probe](QWidget* w) {
                               auto* box = qobject_cast<QMessageBox*>(w);
                               FBoxes.push_back(SBoxSeen{box->windowTitle(), box->text(),
                                                         box->icon(), box->standardButtons()});
                               if (probe)
                                   probe();
                               if (QAbstractButton* pressed = box->button(button))
                                   Press(pressed);
                               else {
                                   FUnexpected.push_back(QStringLiteral("no such button on ") +
                                                         Describe(box));
                                   CloseModal(box);
                               }
                           }});
    return *this;
}

void TModalScript::Press(QAbstractButton* button) {
    QTimer::singleShot(0, button, [button] { button->click(); });
}

void TModalScript::Tick() {
    QWidget* top = QApplication::activeModalWidget();
    if (top == nullptr || !top->isVisible())
        return;
    if (top == FHandled) {
        // Its step is under way; a window its step left open is closed in time.
        if (Clock::now() - FHandledAt > StepLimit) {
            FUnexpected.push_back(QStringLiteral("left open: ") + Describe(top));
            FHandled = nullptr;
            CloseModal(top);
        }
        return;
    }
    FHandled = top;
    FHandledAt = Clock::now();
    top->installEventFilter(FHideWatch.get());
    if (!FSteps.empty() && FSteps.front().Matches(top)) {
        const SStep step = std::move(FSteps.front());
        FSteps.pop_front();
        step.Run(top);
        return;
    }
    FUnexpected.push_back(Describe(top));
    CloseModal(top);
}

void TypeAndLogIn(QWidget& loginDialog, const QString& account, const QString& password) {
    if (!account.isNull())
        Child<QLineEdit>(loginDialog, "EditUserName")->setText(account);
    Child<QLineEdit>(loginDialog, "EditPassword")->setText(password);
    TModalScript::Press(Child<QAbstractButton>(loginDialog, "ButtonLogin"));
}

TUrlCatcher::TUrlCatcher(const QString& scheme, bool print) : FScheme(scheme), FPrint(print) {
    QDesktopServices::setUrlHandler(FScheme, this, "Open");
}

TUrlCatcher::~TUrlCatcher() {
    QDesktopServices::unsetUrlHandler(FScheme);
}

void TUrlCatcher::Open(const QUrl& url) {
    FOpened.push_back(url.toString());
    if (FPrint) {
        std::printf("opened: %s\n", url.toString().toUtf8().constData());
        std::fflush(stdout);
    }
}

// --- debuglog --------------------------------------------------------------

TLogFile::TLogFile() : FPath(FDir / "tarvo.log") {
    setenv("TARVO_LOG_FILE", FPath.c_str(), 1);
}

TLogFile::~TLogFile() {
    unsetenv("TARVO_LOG_FILE");
}

std::vector<std::string> TLogFile::Lines() const {
    std::vector<std::string> lines;
    for (std::string line : SplitLines(ReadWhole(FPath))) {
        // "YYYY-MM-DD HH:MM:SS.mmm " before the source
        if (line.size() > 24 && line[4] == '-' && line[10] == ' ' && line[19] == '.' &&
            line[23] == ' ')
            line.erase(0, 24);
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> TLogFile::Texts(const std::string& source,
                                         const std::string& where) const {
    const std::string prefix = source + " " + where + ": ";
    std::vector<std::string> texts;
    for (const std::string& line : Lines())
        if (line.rfind(prefix, 0) == 0)
            texts.push_back(line.substr(prefix.size()));
    return texts;
}

// --- child processes -------------------------------------------------------

SChildResult RunChild(const std::string& scenario, const std::map<std::string, std::string>& env,
                      std::chrono::seconds limit) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<std::string> args{self, "--shell-child=" + scenario};
    auto argv = Pointers(args);
    std::vector<std::string> environment = EnvironmentWith(env);
    auto envp = Pointers(environment);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    SChildResult result;
    if (spawned != 0) {
        close(fds[0]);
        result.Output = "spawn failed";
        return result;
    }
    const auto end = Clock::now() + limit;
    result.Output = ReadUntil(fds[0], end, false);
    close(fds[0]);
    int status = 0;
    if (!WaitChild(pid, end, status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        result.Output += "\n(killed after the time limit)";
        return result;
    }
    result.Exited = WIFEXITED(status);
    result.ExitCode = result.Exited ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace shelltest
