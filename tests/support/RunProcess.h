#pragma once
// Test helper: runs a program to its end while the event loop goes on, so that this process's
// windows keep answering and a program that asks us for the clipboard gets its answer.

#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>

namespace quorvel::testing {

struct ProcessRun {
    bool succeeded = false;  // ended by itself with status 0
    QByteArray output;       // what it wrote to stdout
};

inline ProcessRun runProcess(const QString& program, const QStringList& args,
                             int timeoutMs = 30000) {
    QProcess process;
    process.start(program, args);
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        ADD_FAILURE() << program.toStdString() << " did not finish";
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
            process.readAllStandardOutput()};
}

}  // namespace quorvel::testing
