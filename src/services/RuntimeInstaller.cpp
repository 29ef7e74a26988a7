#include "services/RuntimeInstaller.h"

#include <QTimer>

#include <system_error>
#include <utility>

#include "core/AppPaths.h"
#include "core/ModelFiles.h"
#include "services/Log.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

constexpr int kErrorLines = 8;
constexpr int kStopWaitMs = 3000;

QString qs(const fs::path& path) {
    return QString::fromStdString(path.string());
}

QString importStatement() {
    return QStringLiteral("import ") + QLatin1String(RuntimeInstaller::kModule);
}

// The last non-empty line of what a process wrote.
QString lastLine(const QByteArray& output) {
    const QList<QByteArray> lines = output.trimmed().split('\n');
    return lines.isEmpty() ? QString() : QString::fromLocal8Bit(lines.last().trimmed()).left(300);
}

}  // namespace

RuntimeInstaller::RuntimeInstaller(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)), checkTimer_(new QTimer(this)) {
    checkTimer_->setSingleShot(true);
    connect(checkTimer_, &QTimer::timeout, this, [this] {
        if (checkProcess_) checkProcess_->kill();  // reported through finished as a crash
    });
}

RuntimeInstaller::~RuntimeInstaller() {
    if (checkProcess_) {
        checkProcess_->disconnect(this);
        checkProcess_->kill();
        checkProcess_->waitForFinished(kStopWaitMs);
    }
    stopInstall();
}

void RuntimeInstaller::setOptions(Options options) {
    options_ = std::move(options);
}

fs::path RuntimeInstaller::venvDir() const {
    if (isInstalling()) return installDir_;
    return options_.venvDir.empty() ? AppPaths::supportDir() / "runtime" : options_.venvDir;
}

QString RuntimeInstaller::venvPython() const {
    return qs(venvDir() / "bin" / "python");
}

QProcessEnvironment RuntimeInstaller::processEnvironment() const {
    QProcessEnvironment environment = options_.environment;
    // Lines as they are written, not in blocks when the pipe's buffer fills; no questions asked.
    environment.insert(QStringLiteral("PYTHONUNBUFFERED"), QStringLiteral("1"));
    environment.insert(QStringLiteral("PIP_DISABLE_PIP_VERSION_CHECK"), QStringLiteral("1"));
    environment.insert(QStringLiteral("PIP_NO_INPUT"), QStringLiteral("1"));
    return environment;
}

void RuntimeInstaller::check(const QString& python) {
    if (checkProcess_) {
        checkProcess_->disconnect(this);
        checkProcess_->kill();
        checkProcess_->waitForFinished(kStopWaitMs);
        checkProcess_->deleteLater();
        checkProcess_ = nullptr;
    }
    auto* process = new QProcess(this);
    checkProcess_ = process;
    process->setProcessEnvironment(processEnvironment());
    process->setProgram(python);
    process->setArguments({QStringLiteral("-c"), importStatement()});
    connect(process, &QProcess::finished, this, [this, process](int code, QProcess::ExitStatus status) {
        onCheckEnded(process, status == QProcess::NormalExit && code == 0);
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) onCheckEnded(process, false);
    });
    checkTimer_->start(options_.checkTimeoutSeconds * 1000);
    process->start();
}

void RuntimeInstaller::onCheckEnded(QProcess* process, bool available) {
    process->deleteLater();
    if (process != checkProcess_) return;
    checkProcess_ = nullptr;
    checkTimer_->stop();
    QString detail;
    if (!available) {
        if (process->error() == QProcess::FailedToStart)
            detail = process->program() + QStringLiteral(": ") + process->errorString();
        else if (process->exitStatus() == QProcess::CrashExit)
            detail = QStringLiteral("%1 gave no answer").arg(process->program());
        else
            detail = lastLine(process->readAllStandardError());
    }
    Q_EMIT checked(process->program(), available, detail);
}

bool RuntimeInstaller::install() {
    if (isInstalling()) return false;
    installDir_ = options_.venvDir.empty() ? AppPaths::supportDir() / "runtime" : options_.venvDir;
    std::error_code ec;
    createdVenv_ = !fs::exists(fs::symlink_status(installDir_, ec));
    const QString python = qs(installDir_ / "bin" / "python");
    steps_ = {
        {options_.baseInterpreter,
         {QStringLiteral("-m"), QStringLiteral("venv"), QStringLiteral("--system-site-packages"), qs(installDir_)},
         QStringLiteral("python3 -m venv")},
        // pip through the interpreter: the pip script's #! line breaks on a long folder path.
        {python,
         QStringList{QStringLiteral("-m"), QStringLiteral("pip"), QStringLiteral("install")} +
             options_.extraPipArguments + QStringList{QLatin1String(kPackage)},
         QStringLiteral("pip install ") + QLatin1String(kPackage)},
        // What the worker will do first: the install counts only if this works.
        {python, {QStringLiteral("-c"), importStatement()}, importStatement()},
    };
    nextStep_ = 0;
    pending_.clear();
    lastLines_.clear();
    Log::info("установка среды распознавания в " + installDir_.string());
    installProcess_ = new QProcess(this);
    installProcess_->setProcessEnvironment(processEnvironment());
    installProcess_->setProcessChannelMode(QProcess::MergedChannels);
    connect(installProcess_, &QProcess::readyReadStandardOutput, this, [this] { readInstallOutput(false); });
    connect(installProcess_, &QProcess::finished, this, &RuntimeInstaller::onStepEnded);
    connect(installProcess_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        const Step& step = steps_[nextStep_];
        finishInstall(step.title + QStringLiteral(": ") + step.program + QStringLiteral(": ") +
                      installProcess_->errorString());
    });
    // Started from the event loop, so installFinished never comes from inside this call.
    QMetaObject::invokeMethod(this, &RuntimeInstaller::startStep, Qt::QueuedConnection);
    return true;
}

void RuntimeInstaller::startStep() {
    if (!installProcess_) return;
    const Step& step = steps_[nextStep_];
    Q_EMIT outputLine(QStringLiteral("$ ") + step.title);
    installProcess_->start(step.program, step.arguments);
}

void RuntimeInstaller::readInstallOutput(bool flushAll) {
    if (!installProcess_) return;
    pending_ += installProcess_->readAllStandardOutput();
    // pip redraws some lines with a carriage return: each drawing counts as a line.
    pending_.replace('\r', '\n');
    qsizetype end = pending_.lastIndexOf('\n');
    if (flushAll) end = pending_.size();
    if (end < 0) return;
    const QByteArray complete = pending_.left(end);
    pending_.remove(0, end < pending_.size() ? end + 1 : end);
    for (const QByteArray& raw : complete.split('\n')) {
        const QString line = QString::fromLocal8Bit(raw).trimmed();
        if (line.isEmpty()) continue;
        lastLines_.append(line);
        if (lastLines_.size() > kErrorLines) lastLines_.removeFirst();
        Q_EMIT outputLine(line);
    }
}

void RuntimeInstaller::onStepEnded(int exitCode, QProcess::ExitStatus status) {
    readInstallOutput(true);
    if (!installProcess_) return;  // a listener of outputLine stopped the install
    const Step& step = steps_[nextStep_];
    if (status != QProcess::NormalExit || exitCode != 0) {
        const QString how = status != QProcess::NormalExit ? QStringLiteral("crashed")
                                                           : QStringLiteral("exit %1").arg(exitCode);
        QString error = step.title + QStringLiteral(" failed (") + how + QStringLiteral(")");
        if (!lastLines_.isEmpty()) error += QStringLiteral(":\n") + lastLines_.join(QLatin1Char('\n'));
        finishInstall(error);
        return;
    }
    if (++nextStep_ < steps_.size()) {
        lastLines_.clear();
        startStep();
        return;
    }
    finishInstall({});
}

void RuntimeInstaller::finishInstall(const QString& error) {
    const QString python = venvPython();
    const bool ok = error.isEmpty();
    if (ok) {
        installProcess_->disconnect(this);
        installProcess_->deleteLater();
        installProcess_ = nullptr;
        Log::info("среда распознавания установлена: " + python.toStdString());
    } else {
        stopInstall();
        Log::error("установка среды распознавания неудачна: " + error.toStdString());
    }
    Q_EMIT installFinished(ok, ok ? python : QString(), error);
}

void RuntimeInstaller::stopInstall() {
    if (!installProcess_) return;
    installProcess_->disconnect(this);
    installProcess_->kill();
    // Dead before its folder goes, so pip cannot write into it again.
    installProcess_->waitForFinished(kStopWaitMs);
    installProcess_->deleteLater();
    installProcess_ = nullptr;
    if (createdVenv_) modelfiles::removeTree(installDir_);
}

}  // namespace quorvel
