#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <unistd.h>

namespace {

constexpr char Knock[] = "raise\n";
constexpr int SocketWaitMs = 2000;

QString Scope() {
    const QByteArray display =
        qgetenv("WAYLAND_DISPLAY").isEmpty() ? qgetenv("DISPLAY") : qgetenv("WAYLAND_DISPLAY");
    return QString::number(getuid()) + '-' + QString::fromLocal8Bit(display);
}

// The user's runtime folder, else the temporary one (the lock's name holds
// the user anyway).
QString RuntimeFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(runtime);
}

} // namespace

TSingleInstance::TSingleInstance(const QString& name) {
    // Socket names are short: the scope goes in as a hash.
    const QByteArray hash =
        QCryptographicHash::hash(Scope().toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    FName = name + '-' + QString::fromLatin1(hash);
}

TSingleInstance::~TSingleInstance() {
    if (FServer)
        FServer->close();
}

bool TSingleInstance::Acquire() {
    FLock = std::make_unique<QLockFile>(RuntimeFolder() + '/' + FName + ".lock");
    // Only a dead owner makes the lock stale, never its age.
    FLock->setStaleLockTime(0);
    if (!FLock->tryLock(0))
        return false;
    FServer = std::make_unique<QLocalServer>();
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file left by a crashed instance would block the listen.
    QLocalServer::removeServer(FName);
    FServer->listen(FName);
    connect(FServer.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = FServer->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().startsWith(QByteArray(Knock).trimmed()) && FHandler)
                    FHandler();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return true;
}

bool TSingleInstance::NotifyRunning() {
    QLocalSocket socket;
    socket.connectToServer(FName);
    if (!socket.waitForConnected(SocketWaitMs))
        return false;
    socket.write(Knock);
    const bool written = socket.waitForBytesWritten(SocketWaitMs);
    socket.disconnectFromServer();
    return written;
}

void TSingleInstance::OnKnock(std::function<void()> handler) {
    FHandler = std::move(handler);
}
