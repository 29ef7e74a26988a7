// quorvel: the Tovik dictation program. Without arguments on a desktop it is the tray program
// (hot key, microphone, pill); `transcribe`, `--help`, `--version` and the headless runs need no
// display.

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/HeadlessRunner.h"
#include "app/TranscribeCommand.h"
#include "services/Log.h"
#include "services/QuitOnSignals.h"
#include "services/Transcriber.h"
#include "services/WorkerProcess.h"

namespace {

constexpr const char* kUsage =
    "usage: quorvel [--help] [--version]\n"
    "       quorvel transcribe [--model ID] [--json] FILE.wav...\n"
    "\n"
    "  transcribe   recognise WAV files on this machine and print each text, corrected with\n"
    "               your vocabulary. --model picks a speech model by id (default: the one your\n"
    "               active mode uses); --json prints one JSON object per file.\n"
    "\n"
    "Headless runs (environment): QUORVEL_TEST_WAVS=list.tsv [QUORVEL_TEST_OUT=out.jsonl]\n"
    "recognises every WAV of a list (\"path<TAB>expected text\" per line) and writes the results.\n"
    "QUORVEL_STRESS=N [QUORVEL_STRESS_WAV=x.wav] runs N record-and-recognise cycles;\n"
    "QUORVEL_PROBE=punct|pipeline|recorder|recordflow_denied|<other: the record flow>\n"
    "[QUORVEL_FORCE_MIC_STATUS=0..3] runs one probe. Both log their results and need no display.\n"
    "\n"
    "Without arguments, on an X11 desktop: the dictation program in the tray.\n";

int runEventLoop(QCoreApplication& app, const std::function<void(std::function<void(int)>)>& start) {
    int status = 0;
    // A terminal's Ctrl+C, a logout or a kill ends the run through the event loop, so the worker
    // threads are joined and the log is flushed.
    quorvel::QuitOnSignals quitOnSignals;
    QTimer::singleShot(0, &app, [&] {
        start([&](int code) {
            status = code;
            QTimer::singleShot(0, &app, [&] { app.quit(); });
        });
    });
    app.exec();
    // Interrupted runs say so, the way shells report a signal.
    if (quitOnSignals.receivedSignal() != 0) status = 128 + quitOnSignals.receivedSignal();
    // No worker thread may post to the application object while it is destroyed.
    quorvel::WorkerProcess::stopAll();
    // The run's own request folder goes however the run ended: it may hold the user's speech.
    std::error_code ec;
    std::filesystem::remove_all(quorvel::Transcriber::runTempDir(), ec);
    quorvel::Log::flush();
    return status;
}

// The tray program needs a display; saying so beats Qt's abort.
bool haveDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

int runTrayProgram(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("quorvel");
    QApplication::setApplicationVersion(QUORVEL_VERSION);
    // The desktop matches our windows to the installed menu entry and its icon; from the build tree
    // the icon theme has no such name and the built-in copy serves.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.brellun.quorvel"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("com.brellun.quorvel"),
                                                 QIcon(QStringLiteral(":/quorvel/com.brellun.quorvel.svg"))));
    // The pill and the tray are all there is: closing some dialog must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    int status = 0;
    {
        quorvel::AppDelegate delegate;
        status = runEventLoop(app, [&](auto done) { delegate.start(done); });
    }
    quorvel::Log::info("=== завершение ===");
    quorvel::Log::flush();
    return status;
}

bool wantsTrayProgram(int argc) {
    return argc <= 1 && !quorvel::HeadlessRunner::requested();
}

// Stress cycles and probes drive the overlay, the pill and the controller: they need widgets.
// They show nothing a user needs to see, so without a display they run offscreen. The store
// churn touches files only, and starts faster without them.
bool headlessRunNeedsWidgets() {
    return !qEnvironmentVariableIsSet("QUORVEL_TEST_WAVS") &&
           (qEnvironmentVariableIsSet("QUORVEL_STRESS") ||
            (qEnvironmentVariableIsSet("QUORVEL_PROBE") && qgetenv("QUORVEL_PROBE") != "store_churn"));
}

int runHeadless(QCoreApplication& app) {
    quorvel::Log::info("=== Tovik запущен ===");
    const int status = runEventLoop(app, [&](auto done) {
        if (!quorvel::HeadlessRunner::start(done)) quorvel::Log::info("headless: nothing to run, staying idle");
    });
    quorvel::Log::info("=== завершение ===");
    quorvel::Log::flush();
    return status;
}

int runHeadlessWithWidgets(int argc, char** argv) {
    if (!haveDisplay()) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("quorvel");
    QApplication::setApplicationVersion(QUORVEL_VERSION);
    QApplication::setQuitOnLastWindowClosed(false);
    return runHeadless(app);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc <= 1 && quorvel::HeadlessRunner::requested() && headlessRunNeedsWidgets())
        return runHeadlessWithWidgets(argc, argv);
    if (wantsTrayProgram(argc)) {
        if (!haveDisplay()) {
            std::fprintf(stderr, "quorvel: no display (DISPLAY is not set): the dictation program needs an X11 desktop.\n\n%s",
                         kUsage);
            return 1;
        }
        return runTrayProgram(argc, argv);
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("quorvel");
    QCoreApplication::setApplicationVersion(QUORVEL_VERSION);
    const std::vector<std::string> words(argv + 1, argv + argc);

    if (!words.empty() && (words[0] == "--help" || words[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!words.empty() && words[0] == "--version") {
        std::printf("quorvel %s\n", QUORVEL_VERSION);
        return 0;
    }
    if (!words.empty() && words[0] == "transcribe") {
        quorvel::TranscribeCommand::Arguments arguments;
        std::string error;
        if (!quorvel::TranscribeCommand::parse({words.begin() + 1, words.end()}, arguments, error)) {
            std::fprintf(stderr, "quorvel transcribe: %s\n\n%s", error.c_str(), kUsage);
            return 2;
        }
        return runEventLoop(app, [&](auto done) { quorvel::TranscribeCommand::run(arguments, done); });
    }
    if (!words.empty()) {
        std::fprintf(stderr, "quorvel: unknown command \"%s\"\n\n%s", words[0].c_str(), kUsage);
        return 2;
    }
    if (quorvel::HeadlessRunner::requested()) return runHeadless(app);
    return 1;  // not reached: no arguments and no headless run is the tray program
}
