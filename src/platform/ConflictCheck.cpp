#include "platform/ConflictCheck.h"

#include <QProcess>
#include <QStringList>

namespace quorvel::ConflictCheck {
namespace {

bool isRunning(const std::string& name, std::chrono::milliseconds timeout,
               const std::string& pgrep) {
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QString::fromStdString(pgrep),
                  {QStringLiteral("-i"), QStringLiteral("-l"), QString::fromStdString(name)});
    if (!process.waitForStarted(static_cast<int>(timeout.count()))) return false;
    if (!process.waitForFinished(static_cast<int>(timeout.count()))) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

}  // namespace

const std::vector<std::string>& watchedNames() {
    static const std::vector<std::string> names = {"superwhisper", "whisper"};
    return names;
}

std::vector<std::string> conflictApps(std::chrono::milliseconds timeout, const std::string& pgrep) {
    std::vector<std::string> running;
    for (const std::string& name : watchedNames())
        if (isRunning(name, timeout, pgrep)) running.push_back(name);
    return running;
}

}  // namespace quorvel::ConflictCheck
