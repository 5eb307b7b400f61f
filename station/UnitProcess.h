#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>

class QSocketNotifier;
class UnitLauncher;

// A unit's process as a run on several units sees it: what it writes to the unit's standard
// input, what the unit writes on its standard output and error, and how it ended.
class UnitProcess : public QObject {
    Q_OBJECT
public:
    // Queues bytes for the unit's standard input; they go as the pipe takes them.
    virtual void write(const QByteArray& bytes) = 0;
    // What came on standard output, or standard error, since the last call.
    virtual QByteArray readOutput() = 0;
    virtual QByteArray readErrors() = 0;
    // 0 once it has ended, or when it never started.
    virtual pid_t pid() const = 0;

signals:
    void outputReady();
    // crashed: ended by a signal, whose number code is; otherwise code is its exit status.
    // Everything it wrote can be read by then.
    void ended(int code, bool crashed);
    // It never ran; ended() does not follow.
    void failedToStart(const QString& why);
};

// Starts units: forked by the launcher when there is one, otherwise program started afresh
// (with the process group and the parent-death signal a unit needs).
class UnitStarter : public QObject {
    Q_OBJECT
public:
    explicit UnitStarter(UnitLauncher* launcher, QString program = {},
                         QStringList arguments = {"--unit-report"});
    ~UnitStarter() override;
    std::unique_ptr<UnitProcess> start();

private:
    void launcherReported();

    UnitLauncher* m_launcher;
    QString m_program;
    QStringList m_arguments;
    std::unique_ptr<QSocketNotifier> m_reports;
    std::map<pid_t, class LaunchedUnit*> m_launched;
    friend class LaunchedUnit;
};
