#pragma once
// The speech-to-text worker needs the Python module sherpa_onnx. This checks whether an
// interpreter can import it, and installs it into a virtual environment of the program's own
// (supportDir/runtime, made with --system-site-packages so Debian's modules stay visible) with
// that environment's pip. Everything runs as child processes; answers come as signals on the
// main thread, so a window that drives this never waits.
//
// An install either ends with an environment whose interpreter imports the module, or leaves
// nothing behind: a venv it began is removed again on failure and when this object goes away
// mid-install (an environment that was there before is kept).

#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <filesystem>
#include <vector>

class QTimer;

namespace quorvel {

struct RuntimeInstallOptions {
    // Makes the venv; Debian's own interpreter (a python3 earlier on PATH may lack its modules).
    QString baseInterpreter = QStringLiteral("/usr/bin/python3");
    // Empty: AppPaths::supportDir() / "runtime", taken when an install starts.
    std::filesystem::path venvDir;
    // Given to pip before the package name (tests: "--no-index", "--find-links", <folder>).
    QStringList extraPipArguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // An interpreter that has not answered the import check by then counts as unusable.
    int checkTimeoutSeconds = 60;
};

class RuntimeInstaller : public QObject {
    Q_OBJECT

  public:
    using Options = RuntimeInstallOptions;

    static constexpr const char* kModule = "sherpa_onnx";
    static constexpr const char* kPackage = "sherpa-onnx";

    explicit RuntimeInstaller(Options options = Options(), QObject* parent = nullptr);
    ~RuntimeInstaller() override;

    // Takes effect for the next check or install.
    void setOptions(Options options);

    // Asks `python` to import the module, in a child process; checked() answers. A check asked
    // for while another runs replaces it.
    void check(const QString& python);
    bool isChecking() const { return checkProcess_ != nullptr; }

    // Makes (or reuses) the venv and installs the package into it. False when an install runs.
    bool install();
    bool isInstalling() const { return installProcess_ != nullptr; }

    std::filesystem::path venvDir() const;
    // The venv's interpreter, which the worker runs once the install succeeded.
    QString venvPython() const;

  Q_SIGNALS:
    // `detail`: why it cannot ("No module named 'sherpa_onnx'", the interpreter is missing).
    void checked(const QString& python, bool available, const QString& detail);
    // One line that python or pip wrote during the install, as it came.
    void outputLine(const QString& line);
    // On success `python` is the venv's interpreter; on failure `error` ends with the tools'
    // last lines.
    void installFinished(bool ok, const QString& python, const QString& error);

  private:
    struct Step {
        QString program;
        QStringList arguments;
        QString title;  // names the step in an error
    };

    QProcessEnvironment processEnvironment() const;
    void onCheckEnded(QProcess* process, bool available);
    void startStep();
    void readInstallOutput(bool flushAll);
    void onStepEnded(int exitCode, QProcess::ExitStatus status);
    void finishInstall(const QString& error);
    void stopInstall();

    Options options_;
    QProcess* checkProcess_ = nullptr;
    QTimer* checkTimer_ = nullptr;
    QProcess* installProcess_ = nullptr;
    std::filesystem::path installDir_;  // the venv of the running install
    bool createdVenv_ = false;          // it was not there before this install
    std::vector<Step> steps_;
    std::size_t nextStep_ = 0;
    QByteArray pending_;    // output after the last line break
    QStringList lastLines_; // the newest lines, for an error
};

}  // namespace quorvel
