// One running instance per user and display. The first instance holds a
// lock file and listens on a local socket; a later start finds the lock
// taken, knocks on the socket so that the first comes forward, and ends.
#pragma once

#include <QLockFile>
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

    // True when this process is the first instance. A stale lock left by a
    // crashed instance is taken over.
    bool Acquire();
    // Asks the running instance to come forward; true when it was told.
    bool NotifyRunning() const;
    // Called in the first instance whenever a later start knocks.
    void OnKnock(std::function<void()> handler);

private:
    void Answer();

    QString FBase; // folder and name, without the ".lock" or ".sock"
    std::unique_ptr<QLockFile> FLock;
    int FListener = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::function<void()> FHandler;
};
