// One running instance per user and display. The first instance holds a
// lock file and listens on a local socket; a later start finds the lock
// taken, asks the first to come forward and ends.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class TSingleInstance : public QObject {
    Q_OBJECT

public:
    // `name` identifies the program; the user and the display are added.
    explicit TSingleInstance(const QString& name);
    ~TSingleInstance() override;

    // True when this process is the first instance. A stale lock left by a
    // crashed instance is taken over.
    bool Acquire();
    // Asks the running instance to come forward; true when it was told.
    bool NotifyRunning();
    // Called in the first instance whenever a later start knocks.
    void OnKnock(std::function<void()> handler);

    QString ServerName() const { return FName; }

private:
    QString FName;
    std::unique_ptr<QLockFile> FLock;
    std::unique_ptr<QLocalServer> FServer;
    std::function<void()> FHandler;
};
