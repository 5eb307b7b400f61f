#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTest>
#include <functional>
#include <string>

// One run of a program as a script runs it: its exit status (-1 when it crashed or did not
// end), standard output and standard error.
struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs program with args in env; a run that is still going after timeoutMs is killed and
// fails the test.
inline Result runProcess(const QString& program, const QStringList& args,
                         const QProcessEnvironment& env, int timeoutMs) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    Result result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << program.toStdString()
                      << " did not finish: " << args.join(' ').toStdString();
        return result;
    }
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

// Waits for an event (a line in a trace, a unit's result, a process's end) with a generous
// deadline, running the event loop meanwhile; whether it came. Never a fixed sleep.
inline bool waitUntil(const std::function<bool()>& happened, int deadlineMs = 30000) {
    return QTest::qWaitFor(happened, deadlineMs);
}

// A file's bytes, or nothing when it is not there (yet).
inline QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The bytes a trace file shows sent to the device ("TX" lines), in order.
inline QByteArray sentIn(const QString& trace) {
    QByteArray bytes;
    for (const QByteArray& line : fileBytes(trace).split('\n')) {
        const int tx = line.indexOf(" TX ");
        if (tx < 0) {
            continue;
        }
        const QByteArray hex = line.mid(tx + 4, line.indexOf('|') - tx - 4).simplified();
        bytes += QByteArray::fromHex(hex);
    }
    return bytes;
}
