// What the window tests share: the development server with its store read
// back, a log file per test, a driver for the modal windows a blocking call
// opens, and the login through the main window's login dialog.
#pragma once

#include "ServerProcess.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QImage>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TFormAddStu;
class TFormStuList;
class QWidget;
struct SStuInfo;
namespace Json {
class TJSONobject;
}
namespace testsupport {
struct ReceivedRequest;
}

namespace studentstest {

inline constexpr char DemoAccount[] = "13800138000";
inline constexpr char DemoPassword[] = "tarvo123";
inline constexpr int DemoStudents = 45;
inline constexpr int DemoQuota = 200;
// A 36-character session identifier for windows that talk to a loopback
// server and never log in.
inline constexpr char LoopbackSession[] = "0f8fad5b-d9cb-469f-a165-70867728950e";

// The UTF-8 of a text as the store keeps it and QString gives it.
std::string U8(std::u8string_view text);
QString Q(std::u8string_view text);

// A student as the development server stored him (texts in UTF-8).
struct SStoredStudent {
    long long Id = 0;
    std::string Account;
    std::string Name;
    std::string DeviceSerial;
    std::string IdCardNum;
    std::string Sex;
    std::string Nation;
    std::string Born;
    std::string Address;
    std::string GrantDept;
    std::string LifeBegin;
    std::string LifeEnd;
    std::string PhotoPath;
    std::optional<std::string> Photo;
};

// tarvo-devserver --demo on a free port with its store in a folder of its
// own; the store is read back through SQLite.
class TDemoServer {
public:
    explicit TDemoServer(const std::vector<std::string>& extraArgs = {});
    std::string BaseUrl() const { return FProcess->BaseUrl(); }

    long long StudentCount() const;
    std::optional<SStoredStudent> StudentByAccount(const std::string& account) const;
    std::optional<SStoredStudent> StudentById(long long id) const;

private:
    std::optional<SStoredStudent> FindStudent(const char* where, const std::string& key) const;

    devtest::TempDir FDir;
    std::string FDb;
    std::unique_ptr<devtest::ServerProcess> FProcess;
};

// The log file of one test: TARVO_LOG_FILE names it while the object lives.
class TLogFile {
public:
    TLogFile();
    ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    QStringList Lines() const;
    // Lines holding "<source> <where>: <text start>" after the time stamp.
    int Count(const QString& source, const QString& where, const QString& textStart) const;

private:
    QTemporaryDir FDir;
    QString FPath;
};

// A message box as the test saw it.
struct SBox {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
};

// Drives the modal windows that a blocking call opens. Each step waits for
// the next window of its kind to become the active modal widget: a message
// box is recorded and answered; any other window gets an action that runs
// from the event loop (it may block in a modal call of its own). A message
// box that no step expects is recorded as a problem and dismissed; a modal
// window left alone for ten seconds is rejected, so a broken test fails
// instead of hanging.
class TModalScript : public QObject {
    Q_OBJECT

public:
    TModalScript();
    ~TModalScript() override;

    // The next message box: recorded, `inspect` called, then `button` pressed.
    TModalScript& Box(QMessageBox::StandardButton button,
                      std::function<void(const SBox&)> inspect = {});
    // The next time a window of type T becomes the active modal window.
    template <typename T> TModalScript& On(std::function<void(T&)> action) {
        SStep step;
        step.Matches = [](QWidget* w) { return qobject_cast<T*>(w) != nullptr; };
        step.Run = [action](QWidget* w) { action(*qobject_cast<T*>(w)); };
        FSteps.push_back(std::move(step));
        return *this;
    }

    bool Finished() const { return FSteps.empty(); }
    std::vector<SBox> Boxes;
    QStringList Problems;

private:
    struct SStep {
        std::function<bool(QWidget*)> Matches;
        std::function<void(QWidget*)> Run;
        bool IsBox = false;
        QMessageBox::StandardButton Button = QMessageBox::NoButton;
        std::function<void(const SBox&)> Inspect;
    };
    void Poll();

    std::deque<SStep> FSteps;
    QPointer<QWidget> FLast;
    QTimer FTimer;
    QElapsedTimer FSince;
};

// Every step of the script ran and nothing unexpected came up; ends the
// test function otherwise.
#define CHECK_SCRIPT(script)                                                                       \
    do {                                                                                           \
        QVERIFY2((script).Problems.isEmpty(),                                                      \
                 qPrintable((script).Problems.join(QStringLiteral("; "))));                        \
        QVERIFY((script).Finished());                                                              \
    } while (false)

// The main window created and logged in through its login dialog (the demo
// agent typed into it), at `baseUrl`; page 1 is loaded when it returns.
std::unique_ptr<TFormStuList> OpenLoggedIn(const std::string& baseUrl);
// The main window pointed at `baseUrl` with the loopback session, not shown.
std::unique_ptr<TFormStuList> OpenUnshown(const std::string& baseUrl);

// A session of the demo agent, opened through the login call.
std::string LoginSession(const std::string& baseUrl);

// A field of a row of the page on screen, as text.
QString PageCell(const TFormStuList& form, int row, const char* field);
// Rows of the grid.
int GridRows(const TFormStuList& form);

// The payload of a request's form field "data", deciphered under `session`;
// nullptr when there is none.
std::unique_ptr<Json::TJSONobject> RequestPayload(const testsupport::ReceivedRequest& request,
                                                  const std::string& session);
// Requests whose path is `path`.
std::vector<testsupport::ReceivedRequest>
RequestsTo(const std::vector<testsupport::ReceivedRequest>& requests, const std::string& path);

// A page of `rows` students as the development server writes it, ids
// counting down from `firstId`; `withoutField` leaves that field out.
std::string PagePacket(int rows, int firstId, const std::string& withoutField = {});
// {"Code": code, "Content": content} as an HTTP answer with status 200.
std::string JsonReply(int code, const std::string& content);

// Sets an environment variable while the object lives.
class TEnvVar {
public:
    TEnvVar(const char* name, const QByteArray& value);
    ~TEnvVar();
    TEnvVar(const TEnvVar&) = delete;
    TEnvVar& operator=(const TEnvVar&) = delete;
    void Set(const QByteArray& value);

private:
    const char* FName;
    std::optional<QByteArray> FOld;
};

// The editor as its opener leaves it, before it is shown.
void HandOver(TFormAddStu& editor, std::int16_t mode, const std::string& url,
              const std::string& session, std::int32_t studentId = 0);
// The editor's visible fields: phone number, name, card number.
QStringList Fields(const TFormAddStu& editor);
bool PictureEmpty(const TFormAddStu& editor);
// The eleven texts of a card, for comparing.
std::vector<std::string> CardTexts(const SStuInfo& card);
// Runs the editor's reading until it took the card on the stand-in reader.
void ReadCard(TFormAddStu& editor);

// A base URL where nothing listens.
std::string DeadUrl();

// Bytes of a file, empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// The pixels of an image region that are dark (text), as a bounding box;
// empty (isNull) when there are none.
QRect DarkBox(const QImage& image, const QRect& area);

} // namespace studentstest
