// The power request against stand-in screen saver and login services, each on
// a private message bus of its own that the test starts and ends.
#include "PowerRequest.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const QString ScreenSaverName = QStringLiteral("org.freedesktop.ScreenSaver");
const QString LoginName = QStringLiteral("org.freedesktop.login1");

// Bounds each wait on something outside the test's thread: a daemon starting
// or ending, descriptor copies still on their way out of the message
// machinery. A descriptor never closed fails its check when the wait runs out.
constexpr int WaitBoundMs = 10000;

class TFd {
public:
    explicit TFd(int fd) : F(fd) {}
    ~TFd() {
        if (F >= 0)
            ::close(F);
    }
    TFd(TFd&& other) noexcept : F(std::exchange(other.F, -1)) {}
    TFd& operator=(TFd&&) = delete;
    int Get() const { return F; }

private:
    int F;
};

// Whether every copy of a pipe's write end is closed, seen from its read end.
bool WriterClosed(int readEnd, int waitMs) {
    pollfd p{readEnd, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0)
        return false;
    char byte = 0;
    return ::read(readEnd, &byte, 1) == 0;
}

bool IsAscii(const QString& text) {
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    return true;
}

// Sets an environment variable for the test's lifetime.
class TEnvVar {
public:
    explicit TEnvVar(const char* name) : FName(name) {
        if (const char* old = std::getenv(name))
            FOld = old;
    }
    ~TEnvVar() {
        if (FOld)
            ::setenv(FName, FOld->c_str(), 1);
        else
            ::unsetenv(FName);
    }
    TEnvVar(const TEnvVar&) = delete;
    TEnvVar& operator=(const TEnvVar&) = delete;
    void Set(const QString& value) const { ::setenv(FName, value.toLocal8Bit().constData(), 1); }

private:
    const char* FName;
    std::optional<std::string> FOld;
};

// One private dbus-daemon, ended with the object; its socket lies in a
// folder of its own that goes with it.
class TBusDaemon {
public:
    TBusDaemon() {
        if (!FFolder.isValid())
            throw std::runtime_error("no folder for the bus socket");
        FProcess.setProgram(QStringLiteral(TARVO_DBUS_DAEMON));
        FProcess.setArguments({QStringLiteral("--config-file=" TARVO_TEST_BUS_CONF),
                               QStringLiteral("--address=unix:dir=") + FFolder.path(),
                               QStringLiteral("--print-address"), QStringLiteral("--nofork")});
        FProcess.setStandardErrorFile(QProcess::nullDevice());
        FProcess.start();
        if (!FProcess.waitForStarted())
            throw std::runtime_error("dbus-daemon did not start");
        while (!FProcess.canReadLine())
            if (!FProcess.waitForReadyRead(WaitBoundMs))
                throw std::runtime_error("dbus-daemon printed no address");
        FAddress = QString::fromUtf8(FProcess.readLine()).trimmed();
    }
    ~TBusDaemon() {
        FProcess.terminate();
        if (!FProcess.waitForFinished(WaitBoundMs)) {
            FProcess.kill();
            FProcess.waitForFinished();
        }
    }
    TBusDaemon(const TBusDaemon&) = delete;
    TBusDaemon& operator=(const TBusDaemon&) = delete;
    const QString& Address() const { return FAddress; }

private:
    QTemporaryDir FFolder;
    QProcess FProcess;
    QString FAddress;
};

// How a stand-in service answers, or why there is none to answer.
enum class TAnswer { Grant, Refuse, WrongType, NoService, NoBus };

struct TCall {
    QString Sender; // the caller's unique name on the bus
    QString Signature;
    QVariantList Args;
};

// Base of the stand-ins: records the calls to one interface and answers them.
class TFakeService : public QDBusVirtualObject {
public:
    TFakeService(QString interface, TAnswer answer)
        : FAnswer(answer), FInterface(std::move(interface)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != FInterface)
            return false;
        std::lock_guard lock(FMutex);
        FCalls[message.member()].push_back(
            {message.service(), message.signature(), message.arguments()});
        return connection.send(Answer(message));
    }

    std::vector<TCall> Calls(const QString& member) const {
        std::lock_guard lock(FMutex);
        const auto found = FCalls.find(member);
        return found == FCalls.end() ? std::vector<TCall>{} : found->second;
    }

protected:
    // Called with the lock held.
    virtual QDBusMessage Answer(const QDBusMessage& message) = 0;

    static QDBusMessage Refusal(const QDBusMessage& message) {
        return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                        QStringLiteral("refused by the test"));
    }
    static QDBusMessage BadArguments(const QDBusMessage& message) {
        return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                        QStringLiteral("wrong signature"));
    }

    const TAnswer FAnswer;

private:
    const QString FInterface;
    mutable std::mutex FMutex;
    std::map<QString, std::vector<TCall>> FCalls;
};

// The screen saver: Inhibit(s application, s reason) -> u cookie, UnInhibit(u).
class TFakeScreenSaver : public TFakeService {
public:
    explicit TFakeScreenSaver(TAnswer answer, quint32 firstCookie)
        : TFakeService(ScreenSaverName, answer), FNextCookie(firstCookie) {}

    std::vector<quint32> Granted() const {
        std::lock_guard lock(FGrantedMutex);
        return FGranted;
    }
    std::vector<quint32> Released() const {
        std::vector<quint32> cookies;
        for (const TCall& call : Calls(QStringLiteral("UnInhibit")))
            if (call.Signature == QLatin1String("u"))
                cookies.push_back(call.Args.at(0).toUInt());
        return cookies;
    }

protected:
    QDBusMessage Answer(const QDBusMessage& message) override {
        if (message.member() == QLatin1String("UnInhibit"))
            return message.signature() == QLatin1String("u") ? message.createReply()
                                                             : BadArguments(message);
        if (message.member() != QLatin1String("Inhibit") ||
            message.signature() != QLatin1String("ss"))
            return BadArguments(message);
        if (FAnswer == TAnswer::Refuse)
            return Refusal(message);
        if (FAnswer == TAnswer::WrongType)
            return message.createReply(QStringLiteral("not a cookie"));
        std::lock_guard lock(FGrantedMutex);
        FGranted.push_back(FNextCookie++);
        return message.createReply(FGranted.back());
    }

private:
    mutable std::mutex FGrantedMutex;
    std::vector<quint32> FGranted;
    quint32 FNextCookie;
};

// The login manager: Inhibit(s what, s who, s why, s mode) -> h, the write end
// of a pipe whose read end the test keeps.
class TFakeLogin : public TFakeService {
public:
    explicit TFakeLogin(TAnswer answer)
        : TFakeService(QStringLiteral("org.freedesktop.login1.Manager"), answer) {}

    // Read end of the pipe handed out by the `index`th granted Inhibit.
    int Reader(std::size_t index) const {
        std::lock_guard lock(FReadersMutex);
        return FReaders.at(index).Get();
    }

protected:
    QDBusMessage Answer(const QDBusMessage& message) override {
        if (message.member() != QLatin1String("Inhibit") ||
            message.signature() != QLatin1String("ssss"))
            return BadArguments(message);
        if (FAnswer == TAnswer::Refuse)
            return Refusal(message);
        if (FAnswer == TAnswer::WrongType)
            return message.createReply(QStringLiteral("not a descriptor"));
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                            QStringLiteral("pipe"));
        const TFd writer(ends[1]);
        std::lock_guard lock(FReadersMutex);
        FReaders.emplace_back(ends[0]);
        return message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(writer.Get())));
    }

private:
    mutable std::mutex FReadersMutex;
    std::vector<TFd> FReaders;
};

// One bus as the power request finds it through its environment variable: a
// private daemon with a stand-in service, a daemon without it, or an address
// where nothing listens.
class TServiceBus {
public:
    TServiceBus(const char* variable, TAnswer answer, const QString& service, const QString& path,
                TFakeService& fake)
        : FVariable(variable) {
        if (answer == TAnswer::NoBus) {
            FVariable.Set(QStringLiteral("unix:path=/nonexistent/tarvo-power-test/bus"));
            return;
        }
        FDaemon.emplace();
        FVariable.Set(FDaemon->Address());
        FConnectionName = QStringLiteral("fake-") + FDaemon->Address();
        QDBusConnection connection =
            QDBusConnection::connectToBus(FDaemon->Address(), FConnectionName);
        if (!connection.isConnected())
            throw std::runtime_error("the test cannot reach its own bus");
        if (answer == TAnswer::NoService)
            return;
        if (!connection.registerVirtualObject(path, &fake) || !connection.registerService(service))
            throw std::runtime_error("the stand-in service could not be registered");
    }
    bool HasOwner(const QString& name) const {
        return QDBusConnection(FConnectionName).interface()->isServiceRegistered(name).value();
    }

    ~TServiceBus() {
        if (!FConnectionName.isEmpty())
            QDBusConnection::disconnectFromBus(FConnectionName);
    }
    TServiceBus(const TServiceBus&) = delete;
    TServiceBus& operator=(const TServiceBus&) = delete;

private:
    TEnvVar FVariable;
    std::optional<TBusDaemon> FDaemon;
    QString FConnectionName;
};

// A thread with an event loop, stopped with the object.
class TServiceThread {
public:
    TServiceThread() { FThread.start(); }
    ~TServiceThread() {
        FThread.quit();
        FThread.wait();
    }
    TServiceThread(const TServiceThread&) = delete;
    TServiceThread& operator=(const TServiceThread&) = delete;
    QThread* Get() { return &FThread; }

private:
    QThread FThread;
};

// Both buses with their stand-ins. The stand-ins answer on a thread of their
// own, since the power request blocks the test's thread while it calls.
class TDesktop {
public:
    TDesktop(TAnswer screenSaver, TAnswer login) : FScreenSaverAnswer(screenSaver) {
        FLogin = Adopt(std::make_unique<TFakeLogin>(login));
        FSystemBus.emplace("DBUS_SYSTEM_BUS_ADDRESS", login, LoginName,
                           QStringLiteral("/org/freedesktop/login1"), *FLogin);
        StartSessionBus();
    }
    TDesktop(const TDesktop&) = delete;
    TDesktop& operator=(const TDesktop&) = delete;

    TFakeScreenSaver& ScreenSaver() const { return *FScreenSaver; }
    TFakeLogin& Login() const { return *FLogin; }
    bool OnSessionBus(const QString& name) const { return FSessionBus->HasOwner(name); }

    // Ends the session bus; with `again` a new one with a new screen saver
    // takes its place, as when the desktop session restarts.
    void StopSessionBus(bool again) {
        FSessionBus.reset();
        if (again)
            StartSessionBus();
    }

private:
    template <class T> T* Adopt(std::unique_ptr<T> fake) {
        fake->moveToThread(FThread.Get());
        T* raw = fake.get();
        FFakes.push_back(std::move(fake));
        return raw;
    }
    void StartSessionBus() {
        // Each screen saver hands out cookies of its own, so a cookie given
        // back can be traced to the service that granted it.
        FScreenSaver = Adopt(std::make_unique<TFakeScreenSaver>(
            FScreenSaverAnswer, 1000 * static_cast<quint32>(FFakes.size()) + 1));
        FSessionBus.emplace("DBUS_SESSION_BUS_ADDRESS", FScreenSaverAnswer, ScreenSaverName,
                            QStringLiteral("/org/freedesktop/ScreenSaver"), *FScreenSaver);
    }

    // Torn down from the last: buses, then the thread, then the stand-ins
    // that lived on it.
    const TAnswer FScreenSaverAnswer;
    std::vector<std::unique_ptr<TFakeService>> FFakes;
    TFakeScreenSaver* FScreenSaver = nullptr;
    TFakeLogin* FLogin = nullptr;
    TServiceThread FThread;
    std::optional<TServiceBus> FSystemBus;
    std::optional<TServiceBus> FSessionBus;
};

void ExpectInhibitedOnce(const TDesktop& desktop) {
    const auto screenSaver = desktop.ScreenSaver().Calls(QStringLiteral("Inhibit"));
    ASSERT_EQ(screenSaver.size(), 1u);
    EXPECT_EQ(screenSaver[0].Signature, QLatin1String("ss"));
    EXPECT_EQ(screenSaver[0].Args.at(0).toString(), QLatin1String("TarvoAdmin"));
    const QString reason = screenSaver[0].Args.at(1).toString();
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_TRUE(IsAscii(reason)) << reason.toStdString();
    // The screen saver drops an inhibition whose caller has left the bus.
    EXPECT_TRUE(desktop.OnSessionBus(screenSaver[0].Sender));

    const auto login = desktop.Login().Calls(QStringLiteral("Inhibit"));
    ASSERT_EQ(login.size(), 1u);
    EXPECT_EQ(login[0].Signature, QLatin1String("ssss"));
    QStringList args;
    for (const QVariant& arg : login[0].Args)
        args << arg.toString();
    EXPECT_EQ(args, (QStringList{QStringLiteral("sleep:idle"), QStringLiteral("TarvoAdmin"), reason,
                                 QStringLiteral("block")}));
}

TEST(PowerRequest, RequestInhibitsOnceOnEachBus) {
    const TDesktop desktop(TAnswer::Grant, TAnswer::Grant);
    TPowerRequest power;
    power.Request();
    ExpectInhibitedOnce(desktop);
    EXPECT_FALSE(WriterClosed(desktop.Login().Reader(0), 0));

    power.Request();
    ExpectInhibitedOnce(desktop);
    EXPECT_TRUE(desktop.ScreenSaver().Released().empty());
    EXPECT_FALSE(WriterClosed(desktop.Login().Reader(0), 0));
}

TEST(PowerRequest, ClearGivesBackBothAndRequestTakesThemAnew) {
    const TDesktop desktop(TAnswer::Grant, TAnswer::Grant);
    TPowerRequest power;
    power.Request();
    power.Clear();
    ASSERT_EQ(desktop.ScreenSaver().Granted().size(), 1u);
    EXPECT_EQ(desktop.ScreenSaver().Released(), desktop.ScreenSaver().Granted());
    EXPECT_TRUE(WriterClosed(desktop.Login().Reader(0), WaitBoundMs));

    power.Clear(); // nothing held, nothing given back
    EXPECT_EQ(desktop.ScreenSaver().Released().size(), 1u);

    power.Request();
    EXPECT_EQ(desktop.ScreenSaver().Calls(QStringLiteral("Inhibit")).size(), 2u);
    EXPECT_EQ(desktop.Login().Calls(QStringLiteral("Inhibit")).size(), 2u);
    EXPECT_FALSE(WriterClosed(desktop.Login().Reader(1), 0));
}

TEST(PowerRequest, DestructorGivesBackBoth) {
    const TDesktop desktop(TAnswer::Grant, TAnswer::Grant);
    {
        TPowerRequest power;
        power.Request();
    }
    ASSERT_EQ(desktop.ScreenSaver().Granted().size(), 1u);
    EXPECT_EQ(desktop.ScreenSaver().Released(), desktop.ScreenSaver().Granted());
    EXPECT_TRUE(WriterClosed(desktop.Login().Reader(0), WaitBoundMs));
}

TEST(PowerRequest, LostSessionBusIsInhibitedAgainOnTheNewOne) {
    TDesktop desktop(TAnswer::Grant, TAnswer::Grant);
    TPowerRequest power;
    power.Request();
    const std::vector<quint32> oldCookies = desktop.ScreenSaver().Granted();

    desktop.StopSessionBus(true);
    power.Request();
    ExpectInhibitedOnce(desktop); // on the new screen saver; login untouched
    EXPECT_FALSE(WriterClosed(desktop.Login().Reader(0), 0));

    power.Clear();
    ASSERT_EQ(desktop.ScreenSaver().Granted().size(), 1u);
    EXPECT_NE(desktop.ScreenSaver().Granted(), oldCookies);
    EXPECT_EQ(desktop.ScreenSaver().Released(), desktop.ScreenSaver().Granted());
    EXPECT_TRUE(WriterClosed(desktop.Login().Reader(0), WaitBoundMs));
}

TEST(PowerRequest, ClearAfterTheSessionBusVanishedStillClosesTheBlock) {
    TDesktop desktop(TAnswer::Grant, TAnswer::Grant);
    TPowerRequest power;
    power.Request();
    desktop.StopSessionBus(false);
    power.Clear();
    EXPECT_TRUE(WriterClosed(desktop.Login().Reader(0), WaitBoundMs));
}

// A failure on one side raises, names that side and what it answered, and
// keeps what the other side granted.
struct TFailureCase {
    const char* Name;
    TAnswer ScreenSaver;
    TAnswer Login;
};

void PrintTo(const TFailureCase& c, std::ostream* out) {
    *out << c.Name;
}

std::string ExpectedText(TAnswer answer, const std::string& bus) {
    switch (answer) {
    case TAnswer::Refuse:
        return "org.freedesktop.DBus.Error.AccessDenied: refused by the test";
    case TAnswer::WrongType:
        return "unexpected answer";
    case TAnswer::NoService:
        return "org.freedesktop.DBus.Error.ServiceUnknown";
    case TAnswer::NoBus:
        return "cannot reach the " + bus + " bus";
    case TAnswer::Grant:
        break;
    }
    return {};
}

class PowerRequestFailure : public testing::TestWithParam<TFailureCase> {};

TEST_P(PowerRequestFailure, RaisesNamingTheFailedSideAndKeepsTheOther) {
    const TFailureCase& c = GetParam();
    const TDesktop desktop(c.ScreenSaver, c.Login);
    auto power = std::make_unique<TPowerRequest>();
    std::string message;
    try {
        power->Request();
        ADD_FAILURE() << "Request did not raise";
    } catch (const std::runtime_error& e) {
        message = e.what();
    }
    const struct {
        const char* Service;
        const char* Bus;
        TAnswer Answer;
    } sides[] = {{"org.freedesktop.ScreenSaver", "session", c.ScreenSaver},
                 {"org.freedesktop.login1", "system", c.Login}};
    for (const auto& [service, bus, answer] : sides) {
        if (answer == TAnswer::Grant) {
            EXPECT_EQ(message.find(service), std::string::npos) << message;
        } else {
            EXPECT_NE(message.find(std::string(service) + ": " + ExpectedText(answer, bus)),
                      std::string::npos)
                << message;
        }
    }

    // A failed side is asked again, a granted one is not.
    EXPECT_THROW(power->Request(), std::runtime_error);
    const auto asked = [](TAnswer answer) -> std::size_t {
        switch (answer) {
        case TAnswer::Grant:
            return 1;
        case TAnswer::Refuse:
        case TAnswer::WrongType:
            return 2;
        case TAnswer::NoService:
        case TAnswer::NoBus:
            break;
        }
        return 0;
    };
    EXPECT_EQ(desktop.ScreenSaver().Calls(QStringLiteral("Inhibit")).size(), asked(c.ScreenSaver));
    EXPECT_EQ(desktop.Login().Calls(QStringLiteral("Inhibit")).size(), asked(c.Login));
    if (c.Login == TAnswer::Grant) {
        EXPECT_FALSE(WriterClosed(desktop.Login().Reader(0), 0));
    }

    power.reset();
    if (c.ScreenSaver == TAnswer::Grant) {
        ASSERT_EQ(desktop.ScreenSaver().Granted().size(), 1u);
        EXPECT_EQ(desktop.ScreenSaver().Released(), desktop.ScreenSaver().Granted());
    } else {
        EXPECT_TRUE(desktop.ScreenSaver().Calls(QStringLiteral("UnInhibit")).empty());
    }
    if (c.Login == TAnswer::Grant) {
        EXPECT_TRUE(WriterClosed(desktop.Login().Reader(0), WaitBoundMs));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sides, PowerRequestFailure,
    testing::Values(TFailureCase{"ScreenSaverRefuses", TAnswer::Refuse, TAnswer::Grant},
                    TFailureCase{"ScreenSaverAnswersNoCookie", TAnswer::WrongType, TAnswer::Grant},
                    TFailureCase{"ScreenSaverMissing", TAnswer::NoService, TAnswer::Grant},
                    TFailureCase{"NoSessionBus", TAnswer::NoBus, TAnswer::Grant},
                    TFailureCase{"LoginRefuses", TAnswer::Grant, TAnswer::Refuse},
                    TFailureCase{"LoginAnswersNoDescriptor", TAnswer::Grant, TAnswer::WrongType},
                    TFailureCase{"LoginMissing", TAnswer::Grant, TAnswer::NoService},
                    TFailureCase{"NoSystemBus", TAnswer::Grant, TAnswer::NoBus},
                    TFailureCase{"NoBusAtAll", TAnswer::NoBus, TAnswer::NoBus},
                    TFailureCase{"BothRefuse", TAnswer::Refuse, TAnswer::Refuse}),
    [](const testing::TestParamInfo<TFailureCase>& param) {
        return std::string(param.param.Name);
    });

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
