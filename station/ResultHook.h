#pragma once

#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

// A command run through /bin/sh after a unit ends, with the unit's result in its environment:
// how a label printer or a factory's own database is reached. It runs beside the station,
// never in its way: in a process group of its own, cut off (with everything it started)
// after its time limit.
class ResultHook : public QObject {
    Q_OBJECT
public:
    struct Outcome {
        std::optional<int> status;  // its exit status, when it exited
        std::string firstLine;      // of what it printed (standard output and error)
        std::string problem;        // empty when it exited 0: why it counts as failed
    };
    static constexpr int kLimitMs = 30000;

    ResultHook(const QString& command, const QProcessEnvironment& environment, int limitMs,
               std::function<void(const Outcome&)> done);
    ~ResultHook() override;

private:
    void finish(Outcome outcome);
    void read();

    QProcess m_process;
    QTimer m_limit;
    std::function<void(const Outcome&)> m_done;
    std::string m_output;
    int m_limitMs;
    bool m_finished = false;
};
