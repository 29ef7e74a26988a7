#pragma once
// Turns blocks of 16 kHz mono samples into text through a long-lived speech-to-text worker
// process: starts it with the current model settings, writes each request as a WAV file plus
// one JSON line on the worker's input, reads reply lines, watches two time-outs and restarts the
// worker when its settings change or a request times out. Main thread only.

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/WorkerPrefs.h"
#include "services/WorkerProcess.h"

namespace quorvel {

struct TranscriberOptions {
    std::chrono::milliseconds startTimeout{40000};    // launch → "ready"
    std::chrono::milliseconds requestTimeout{45000};  // request sent → reply
    std::optional<std::filesystem::path> workerURL;   // default: Transcriber::resolveWorker()
    std::filesystem::path tempDir;                     // default: Transcriber::defaultTempDir()
};

class Transcriber : public QObject {
    Q_OBJECT
public:
    enum class State { stopped, starting, ready, failed };
    using Completion = std::function<void(std::optional<std::string>)>;
    using PrefsProvider = std::function<std::optional<WorkerPrefs>()>;

    using Options = TranscriberOptions;

    Transcriber(std::string pythonPath, PrefsProvider prefsProvider);
    Transcriber(std::string pythonPath, PrefsProvider prefsProvider, Options options);
    ~Transcriber() override;

    // The completion runs later, on the main thread, exactly once, never inside a call into
    // this client: with the text ("" at once for empty input, which starts nothing), or nothing
    // on any failure, also when the client goes away first.
    void transcribe(std::vector<float> samples, Completion completion);
    void restart();

    State state() const { return state_; }
    static const char* rawValue(State state);
    // Each change of state, later, on the main thread, in order (like completions: never
    // inside a call into the client, so it may run a dialog's loop or release the client).
    std::function<void(State)> onStateChange;

    const std::string& pythonPath() const { return pythonPath_; }
    void setPythonPath(std::string path) { pythonPath_ = std::move(path); }  // used at the next start
    const std::optional<std::filesystem::path>& workerURL() const { return workerURL_; }
    const std::filesystem::path& tempDir() const { return tempDir_; }
    std::optional<pid_t> workerPid() const;

    // stt_worker.py next to the program (<prefix>/share/quorvel, also in the build tree), else
    // in a developer's checkout under HOME.
    static std::optional<std::filesystem::path> resolveWorker();
    static std::filesystem::path defaultTempDir();  // <temp>/quorvelmac-<uid>, mode 0700
    // A folder of this process's own inside it, for one-off runs beside the desktop program.
    static std::filesystem::path runTempDir();

    // Longest worker output line we keep; longer ones are dropped.
    static constexpr size_t kMaxLineBytes = 1 << 20;

private:
    struct Request {
        int64_t id;
        std::vector<float> samples;
        Completion completion;
    };

    static std::filesystem::path privateFolder(const std::filesystem::path& wanted);
    void ensureStarted();
    bool launchWorker(const WorkerPrefs& prefs);
    void pump();
    void terminate();
    void setState(State state);
    void failCurrent();
    void failQueued();
    void clearOutput();
    void consumeStdout(uint64_t serial, const std::string& chunk);
    void handleLine(const std::string& line);
    void reportJunk(const std::string& line);
    void reportUnusable(const std::string& message);
    bool reportHiddenJunk();
    void handleReady();
    void handleFatal(const std::string& reason);
    void handleReply(int64_t id, const std::string& text);
    void handleWorkerDeath(uint64_t serial);
    void onRequestTimeout(int64_t id);
    void onStartTimeout();
    std::filesystem::path wavPath(int64_t id) const;

    State state_ = State::stopped;
    std::string pythonPath_;
    PrefsProvider prefsProvider_;
    std::optional<std::filesystem::path> workerURL_;
    std::filesystem::path tempDir_;
    std::optional<WorkerPrefs> currentPrefs_;
    std::unique_ptr<WorkerProcess> worker_;
    uint64_t nextSerial_ = 1;
    std::string stdoutBuf_;
    size_t lineStart_ = 0;  // where the first line not yet handled begins in stdoutBuf_
    bool discardingLongLine_ = false;
    QTimer junkTimer_;  // runs for a second after unusable output was logged
    uint64_t junkHidden_ = 0;
    std::deque<Request> queue_;
    int64_t nextID_ = 1;
    std::optional<Request> current_;
    QTimer watchdog_;
    QTimer startWatchdog_;
    int64_t watchedID_ = 0;
    std::shared_ptr<Transcriber*> self_;  // background notices hold it weakly
};

}  // namespace quorvel
