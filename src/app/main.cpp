// quorvel: the Tovik dictation program. The interactive desktop part (hot keys, microphone, pill,
// settings) is still being built; this binary already offers the recognition path: the headless
// WAV-list run and the `transcribe` command.

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

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
    "recognises every WAV of a list (\"path<TAB>expected text\" per line) and writes the results.\n";

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

}  // namespace

int main(int argc, char** argv) {
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

    quorvel::Log::info("=== Tovik запущен ===");
    if (quorvel::HeadlessRunner::requested()) {
        const int status = runEventLoop(app, [&](auto done) {
            if (!quorvel::HeadlessRunner::start(done)) quorvel::Log::info("headless: nothing to run, staying idle");
        });
        quorvel::Log::info("=== завершение ===");
        quorvel::Log::flush();
        return status;
    }
    std::fprintf(stderr,
                 "quorvel: the interactive dictation (hot key, microphone, tray) is not part of this build yet.\n\n%s",
                 kUsage);
    quorvel::Log::info("=== завершение ===");
    quorvel::Log::flush();
    return 1;
}
