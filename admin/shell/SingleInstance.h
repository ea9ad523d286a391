// One running instance per user and display. The first instance holds a
// lock on a file and listens on a local socket; a later start finds the lock
// taken, knocks on the socket so that the first comes forward, and ends. The
// lock is the kernel's (flock): it goes with the process that held it, crash
// or not, so there is never a stale lock to judge.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <functional>
#include <memory>

class TSingleInstance : public QObject {
    Q_OBJECT

public:
    // `name` identifies the program; the user and the display are added.
    explicit TSingleInstance(const QString& name);
    ~TSingleInstance() override;
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    // True when this process is the first instance, and also when the lock
    // file cannot be opened at all (the program then runs on its own rather
    // than not at all).
    bool Acquire();
    // Asks the running instance to come forward; true when it was told.
    bool NotifyRunning() const;
    // Called in the first instance whenever a later start knocks.
    void OnKnock(std::function<void()> handler);

private:
    void Answer();

    QString FBase;  // folder and name, without the ".lock" or ".sock"
    int FLock = -1; // the locked file, open for the life of the instance
    int FListener = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::function<void()> FHandler;
};
