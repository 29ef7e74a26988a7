#pragma once
// Runs chosen by environment variables at start-up instead of the interactive program:
// QUORVEL_TEST_WAVS (a WAV list), QUORVEL_STRESS and QUORVEL_PROBE.

#include <QCoreApplication>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvel {
class Transcriber;
}

namespace quorvel::HeadlessRunner {

// Whether any headless run was asked for (the variables are looked for in that order).
bool requested();

// Decimal integer with an optional sign; nothing for an empty or malformed value.
std::optional<long long> parseInteger(const std::string& text);

// The worker client of a run: the configured interpreter, the active mode's model and a request
// folder of this process's own.
std::unique_ptr<Transcriber> makeTranscriber();

// Hands a run's object to the application: it goes when the event loop ends, however the run
// ended (a signal may end it early), while the application object still exists.
template <class T>
T* keepUntilQuit(std::unique_ptr<T> object) {
    T* kept = object.release();
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, kept, &QObject::deleteLater);
    return kept;
}

// Starts the requested run; `finished` is called on the main thread with the exit status when
// the run is over. Returns false when the run keeps the process idle (nothing to run).
bool start(std::function<void(int)> finished);

}  // namespace quorvel::HeadlessRunner
