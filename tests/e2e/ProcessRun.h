#pragma once

#include <gtest/gtest.h>

#include <QProcess>
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
