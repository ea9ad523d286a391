#include "PowerRequest.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QString>
#include <QVariant>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

// A bus that does not answer holds the user-interface thread this long at most
// per call.
constexpr int CallTimeoutMs = 2000;

struct TService {
    const char* Name;
    const char* Path;
    const char* Interface;
};

constexpr TService ScreenSaver{"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                               "org.freedesktop.ScreenSaver"};
constexpr TService Login{"org.freedesktop.login1", "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager"};

std::string ErrorText(const QDBusError& error) {
    if (!error.isValid())
        return "no answer";
    return (error.name() + QStringLiteral(": ") + error.message()).toStdString();
}

// A connection of our own to one bus, closed with the object. The environment
// is read each time, so a bus that moved is found again.
class TBus {
public:
    TBus(QDBusConnection::BusType type, const QString& name)
        : FName(name), FSession(type == QDBusConnection::SessionBus),
          FConnection(Connect(type, name)) {}
    ~TBus() {
        FConnection = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(FName);
    }
    TBus(const TBus&) = delete;
    TBus& operator=(const TBus&) = delete;

    bool Connected() const { return FConnection.isConnected(); }
    std::string ConnectError() const {
        return std::string("cannot reach the ") + (FSession ? "session" : "system") +
               " bus: " + ErrorText(FConnection.lastError());
    }

    QDBusMessage Call(const TService& service, const char* method, const QVariantList& args) const {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QString::fromLatin1(service.Name), QString::fromLatin1(service.Path),
            QString::fromLatin1(service.Interface), QString::fromLatin1(method));
        call.setArguments(args);
        return FConnection.call(call, QDBus::Block, CallTimeoutMs);
    }

    // Whether the bus still answers on this connection; a daemon that went
    // away shows here even before the connection has noticed it.
    bool Alive() const {
        if (!Connected())
            return false;
        QDBusMessage ping = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
        return FConnection.call(ping, QDBus::Block, CallTimeoutMs).type() ==
               QDBusMessage::ReplyMessage;
    }

private:
    static QDBusConnection Connect(QDBusConnection::BusType type, const QString& name) {
        const char* variable = type == QDBusConnection::SessionBus ? "DBUS_SESSION_BUS_ADDRESS"
                                                                   : "DBUS_SYSTEM_BUS_ADDRESS";
        const QString address = qEnvironmentVariable(variable);
        return address.isEmpty() ? QDBusConnection::connectToBus(type, name)
                                 : QDBusConnection::connectToBus(address, name);
    }

    QString FName;
    bool FSession;
    QDBusConnection FConnection;
};

std::string ReplyError(const QDBusMessage& reply, const char* signature) {
    if (reply.type() == QDBusMessage::ErrorMessage)
        return ErrorText(QDBusError(reply));
    if (reply.type() != QDBusMessage::ReplyMessage)
        return "no answer";
    if (reply.signature() != QLatin1String(signature))
        return "unexpected answer of type \"" + reply.signature().toStdString() + "\"";
    return {};
}

} // namespace

struct TPowerRequest::TImpl {
    // The screen saver service drops an inhibition when its caller's
    // connection closes, so the connection is kept as long as the cookie.
    std::optional<TBus> Session;
    std::optional<quint32> Cookie;
    // The login manager's block lasts while this descriptor is open.
    std::optional<QDBusUnixFileDescriptor> Block;

    QString ConnectionName(const char* bus) const {
        return QStringLiteral("tarvo-power-%1-%2")
            .arg(QLatin1String(bus))
            .arg(reinterpret_cast<quintptr>(this), 0, 16);
    }

    // Empty on success, else what went wrong.
    std::string TakeScreenSaver() {
        if (Cookie && Session->Alive())
            return {};
        Cookie.reset();
        Session.reset(); // a lost connection took its inhibition along
        Session.emplace(QDBusConnection::SessionBus, ConnectionName("session"));
        if (!Session->Connected()) {
            std::string error = Session->ConnectError();
            Session.reset();
            return error;
        }
        const QDBusMessage reply =
            Session->Call(ScreenSaver, "Inhibit",
                          {QString::fromLatin1(Application), QString::fromLatin1(Reason)});
        if (std::string error = ReplyError(reply, "u"); !error.empty()) {
            Session.reset();
            return error;
        }
        Cookie = reply.arguments().at(0).toUInt();
        return {};
    }

    std::string TakeLogin() {
        if (Block)
            return {};
        const TBus system(QDBusConnection::SystemBus, ConnectionName("system"));
        if (!system.Connected())
            return system.ConnectError();
        const QDBusMessage reply =
            system.Call(Login, "Inhibit",
                        {QStringLiteral("sleep:idle"), QString::fromLatin1(Application),
                         QString::fromLatin1(Reason), QStringLiteral("block")});
        if (std::string error = ReplyError(reply, "h"); !error.empty())
            return error;
        auto descriptor = reply.arguments().at(0).value<QDBusUnixFileDescriptor>();
        if (!descriptor.isValid())
            return "no file descriptor in the answer";
        Block = std::move(descriptor);
        return {};
    }

    void ReleaseScreenSaver() {
        if (Cookie && Session->Connected())
            Session->Call(ScreenSaver, "UnInhibit", {*Cookie}); // answer or not, we let go
        Cookie.reset();
        Session.reset();
    }
};

TPowerRequest::TPowerRequest() : FImpl(std::make_unique<TImpl>()) {}

TPowerRequest::~TPowerRequest() {
    Clear();
}

void TPowerRequest::Request() {
    std::string failures;
    const auto note = [&failures](const TService& service, const std::string& error) {
        if (error.empty())
            return;
        if (!failures.empty())
            failures += "; ";
        failures += service.Name;
        failures += ": ";
        failures += error;
    };
    note(ScreenSaver, FImpl->TakeScreenSaver());
    note(Login, FImpl->TakeLogin());
    if (!failures.empty())
        throw std::runtime_error(failures);
}

void TPowerRequest::Clear() noexcept {
    try {
        FImpl->ReleaseScreenSaver();
    } catch (...) {
        FImpl->Cookie.reset();
        FImpl->Session.reset();
    }
    FImpl->Block.reset();
}
