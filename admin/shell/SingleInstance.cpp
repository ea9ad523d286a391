#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr char Knock[] = "raise\n";
constexpr int KnockWaitMs = 500;

QString Scope() {
    const QByteArray display =
        qgetenv("WAYLAND_DISPLAY").isEmpty() ? qgetenv("DISPLAY") : qgetenv("WAYLAND_DISPLAY");
    return QString::number(getuid()) + '-' + QString::fromLocal8Bit(display);
}

// The user's runtime folder, else the temporary one (the names hold the
// user anyway).
QString RuntimeFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(runtime);
}

// The address of the socket file `path`; false when the path is too long.
bool SocketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    int Release() { return std::exchange(FFd, -1); }

private:
    int FFd;
};

} // namespace

TSingleInstance::TSingleInstance(const QString& name) {
    // Socket paths are short: the scope goes in as a hash.
    const QByteArray hash =
        QCryptographicHash::hash(Scope().toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    FBase = RuntimeFolder() + '/' + name + '-' + QString::fromLatin1(hash);
}

TSingleInstance::~TSingleInstance() {
    FNotifier.reset();
    if (FListener >= 0) {
        ::close(FListener);
        ::unlink((FBase + ".sock").toLocal8Bit().constData());
    }
    // The lock file stays: removing it could let a later start lock a file
    // that another one has just opened. Closing it ends the lock.
    if (FLock >= 0)
        ::close(FLock);
}

bool TSingleInstance::Acquire() {
    const QByteArray lockPath = (FBase + ".lock").toLocal8Bit();
    TFd lock(::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (lock.Get() < 0)
        return true;
    if (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0)
        return errno != EWOULDBLOCK;
    FLock = lock.Release();

    // The lock is ours: a socket file left by a crashed instance goes.
    const std::string path = (FBase + ".sock").toStdString();
    sockaddr_un address{};
    if (!SocketAddress(path, address))
        return true;
    ::unlink(path.c_str());
    TFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (listener.Get() < 0 ||
        ::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return true; // without the socket the program still runs; it only cannot be raised
    ::chmod(path.c_str(), S_IRUSR | S_IWUSR);
    if (::listen(listener.Get(), 4) != 0)
        return true;
    FListener = listener.Release();
    FNotifier = std::make_unique<QSocketNotifier>(FListener, QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, &TSingleInstance::Answer);
    return true;
}

void TSingleInstance::Answer() {
    for (;;) {
        const TFd peer(::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC));
        if (peer.Get() < 0)
            return;
        // The knock is written at once; a peer that says nothing is dropped.
        pollfd wait{peer.Get(), POLLIN, 0};
        char text[sizeof Knock] = {};
        if (::poll(&wait, 1, KnockWaitMs) == 1 &&
            ::read(peer.Get(), text, sizeof text - 1) == static_cast<ssize_t>(sizeof Knock - 1) &&
            std::strcmp(text, Knock) == 0 && FHandler)
            FHandler();
    }
}

bool TSingleInstance::NotifyRunning() const {
    sockaddr_un address{};
    if (!SocketAddress((FBase + ".sock").toStdString(), address))
        return false;
    const TFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.Get() < 0 ||
        ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return false;
    return ::write(socket.Get(), Knock, sizeof Knock - 1) == static_cast<ssize_t>(sizeof Knock - 1);
}

void TSingleInstance::OnKnock(std::function<void()> handler) {
    FHandler = std::move(handler);
}
