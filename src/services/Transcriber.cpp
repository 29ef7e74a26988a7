#include "services/Transcriber.h"

#include <QCoreApplication>
#include <QDir>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/Unicode.h"
#include "core/WavWriter.h"
#include "core/WorkerReply.h"
#include "services/Log.h"
#include "services/MainDispatcher.h"

namespace quorvel {
namespace {

constexpr int64_t kSampleRate = 16000;
constexpr size_t kShownJunkCharacters = 200;  // of a line we cannot parse

// The first `count` code points of a UTF-8 text.
std::string firstCharacters(const std::string& text, size_t count) {
    size_t i = 0, seen = 0;
    while (i < text.size() && seen < count) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
        ++seen;
    }
    return text.substr(0, i);
}

// The request file is scratch: the worker reads it once, right after we send the line, so it
// needs no flush to disk (which would cost more than the rest of the request).
std::optional<std::string> writeRequestAudio(const std::vector<float>& samples, const std::filesystem::path& to) {
    WavWriter::WavWriteError error;
    const auto bytes = WavWriter::encode(samples, kSampleRate, &error);
    if (!bytes) return error.message;
    if (!files::writeScratch(to, *bytes)) return "cannot write " + to.string() + ": " + std::strerror(errno);
    return std::nullopt;
}

std::string requestLine(int64_t id, const std::filesystem::path& wav) {
    return "{\"id\":" + std::to_string(id) + ",\"wav\":" + nlohmann::json(wav.string()).dump() + "}\n";
}

// Completions run from the event loop, never inside a call into the client: they may release
// the client or ask it for more, and it must not be in the middle of anything then. They do not
// depend on the client either, so those it owes when it goes away still run.
void deliver(Transcriber::Completion completion, std::optional<std::string> text) {
    MainDispatcher::dispatch([completion = std::move(completion), text = std::move(text)] { completion(text); });
}

}  // namespace

Transcriber::Transcriber(std::string pythonPath, PrefsProvider prefsProvider)
    : Transcriber(std::move(pythonPath), std::move(prefsProvider),
                  Options{.workerURL = resolveWorker(), .tempDir = defaultTempDir()}) {}

Transcriber::Transcriber(std::string pythonPath, PrefsProvider prefsProvider, Options options)
    : pythonPath_(std::move(pythonPath)),
      prefsProvider_(std::move(prefsProvider)),
      workerURL_(std::move(options.workerURL)),
      tempDir_(privateFolder(options.tempDir)),
      self_(std::make_shared<Transcriber*>(this)) {
    watchdog_.setSingleShot(true);
    watchdog_.setInterval(options.requestTimeout);
    connect(&watchdog_, &QTimer::timeout, this, [this] { onRequestTimeout(watchedID_); });
    startWatchdog_.setSingleShot(true);
    startWatchdog_.setInterval(options.startTimeout);
    connect(&startWatchdog_, &QTimer::timeout, this, [this] { onStartTimeout(); });
    junkTimer_.setSingleShot(true);
    junkTimer_.setInterval(std::chrono::seconds(1));
    connect(&junkTimer_, &QTimer::timeout, this, [this] {
        if (reportHiddenJunk()) junkTimer_.start();
    });
}

Transcriber::~Transcriber() {
    self_.reset();
    worker_.reset();  // asks the worker to stop
    failCurrent();
    failQueued();
    reportHiddenJunk();
}

const char* Transcriber::rawValue(State state) {
    switch (state) {
        case State::stopped: return "stopped";
        case State::starting: return "starting";
        case State::ready: return "ready";
        case State::failed: return "failed";
    }
    return "stopped";
}

std::optional<std::filesystem::path> Transcriber::resolveWorker() {
    std::vector<std::filesystem::path> candidates;
    if (QCoreApplication::instance()) {
        const std::filesystem::path appDir = QCoreApplication::applicationDirPath().toStdString();
        candidates.push_back(appDir.parent_path() / "share" / "quorvel" / "stt_worker.py");
    }
    candidates.push_back(AppPaths::homeDir() / "quorvelkit/Sources/Quorvel/Resources/stt_worker.py");
    for (const auto& candidate : candidates) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec)) return std::filesystem::absolute(candidate, ec);
    }
    return std::nullopt;
}

std::filesystem::path Transcriber::defaultTempDir() {
    return std::filesystem::path(QDir::tempPath().toStdString()) / ("quorvelmac-" + std::to_string(::getuid()));
}

std::filesystem::path Transcriber::runTempDir() {
    return defaultTempDir() / ("run-" + std::to_string(::getpid()));
}

// The request audio is the user's speech: keep it in folders only this user can enter. When the
// shared temporary folder holds someone else's folder under our name, use a fresh one instead.
std::filesystem::path Transcriber::privateFolder(const std::filesystem::path& wanted) {
    const std::filesystem::path base = defaultTempDir();
    const bool underBase = wanted.parent_path() == base;
    if ((!underBase || files::ensurePrivateFolder(base)) && files::ensurePrivateFolder(wanted)) return wanted;
    std::string tmpl = (std::filesystem::path(QDir::tempPath().toStdString()) / "quorvelmac-XXXXXX").string();
    if (::mkdtemp(tmpl.data())) return tmpl;
    return wanted;
}

std::optional<pid_t> Transcriber::workerPid() const {
    if (!worker_) return std::nullopt;
    return worker_->pid();
}

std::filesystem::path Transcriber::wavPath(int64_t id) const {
    return tempDir_ / ("req_" + std::to_string(id) + ".wav");
}

// Told later, from the event loop, like completions: the handler may run a dialog's loop, in
// which a completion may release the client, so it must not run in the middle of the client's
// own handling. Each change is told, in order, while the client exists.
void Transcriber::setState(State state) {
    if (state == state_) return;  // a worker repeating "ready" must not flood the handler
    state_ = state;
    MainDispatcher::dispatch(this, [this, state] {
        if (const auto notify = onStateChange) notify(state);  // a copy: the handler may release the client
    });
}

void Transcriber::transcribe(std::vector<float> samples, Completion completion) {
    if (samples.empty()) return deliver(std::move(completion), std::string());
    queue_.push_back(Request{nextID_++, std::move(samples), std::move(completion)});
    ensureStarted();
    pump();
}

void Transcriber::restart() {
    Log::info("STT worker restart запрошен");
    terminate();
    ensureStarted();
}

void Transcriber::ensureStarted() {
    const std::optional<WorkerPrefs> prefs = prefsProvider_ ? prefsProvider_() : std::nullopt;
    if (prefs && currentPrefs_ && *prefs != *currentPrefs_) {
        Log::info("prefs модели изменились (" + currentPrefs_->dir + " → " + prefs->dir + ") — restart");
        terminate();
    }
    if (state_ == State::starting || state_ == State::ready) return;

    auto fail = [this](const std::string& message) {
        Log::error(message);
        setState(State::failed);
        failQueued();
    };
    std::error_code ec;
    if (!workerURL_) return fail("stt_worker.py не найден");
    if (!prefs) return fail("модель STT недоступна (не скачана?)");
    if (!std::filesystem::exists(prefs->dir, ec)) return fail("каталог модели не существует: " + prefs->dir);
    if (!std::filesystem::exists(pythonPath_, ec)) return fail("python не найден: " + pythonPath_);

    currentPrefs_ = prefs;
    setState(State::starting);
    if (!launchWorker(*prefs)) {
        failQueued();
        return;
    }
    startWatchdog_.start();
}

bool Transcriber::launchWorker(const WorkerPrefs& prefs) {
    // The notices find the client through a weak token, but must not hold it while they run: a
    // completion called from there may release the client, and that has to be visible.
    const std::weak_ptr<Transcriber*> weak = self_;
    auto client = [weak]() -> Transcriber* {
        const auto self = weak.lock();
        return self ? *self : nullptr;
    };
    WorkerProcess::Events events;
    events.output = [client](uint64_t serial, std::string chunk) {
        if (Transcriber* t = client()) t->consumeStdout(serial, chunk);
    };
    events.outputClosed = [client](uint64_t serial, int fd) {
        if (Transcriber* t = client()) {
            Log::warn("stdout read завершён (fd=" + std::to_string(fd) + ")");
            t->handleWorkerDeath(serial);
        }
    };
    events.exited = [client](uint64_t serial, std::string reason, int status) {
        if (Transcriber* t = client()) {
            Log::warn("worker terminated: " + reason + " code " + std::to_string(status));
            t->handleWorkerDeath(serial);
        }
    };
    const std::vector<std::string> arguments{workerURL_->string(), "--model-dir", prefs.dir, "--model-type",
                                             prefs.type,           "--language",  prefs.language};
    std::string error;
    auto worker = WorkerProcess::launch(pythonPath_, arguments, tempDir_ / "worker_stderr.log", nextSerial_++,
                                        std::move(events), error);
    if (!worker) {
        Log::error("worker run failed: " + error);
        setState(State::failed);
        return false;
    }
    worker_ = std::move(worker);
    clearOutput();
    Log::info("worker стартовал: " + pythonPath_ + " " + workerURL_->string());
    Log::info("stdout read thread: fd=" + std::to_string(worker_->outputFd()));
    return true;
}

void Transcriber::pump() {
    while (state_ == State::ready && !current_ && !queue_.empty() && worker_) {
        current_ = std::move(queue_.front());
        queue_.pop_front();
        const int64_t id = current_->id;
        if (auto error = writeRequestAudio(current_->samples, wavPath(id))) {
            Log::error("wav write failed: " + *error);
            failCurrent();
            continue;
        }
        if (!worker_->writeLine(requestLine(id, wavPath(id)))) {
            Log::warn("worker: запрос #" + std::to_string(id) + " не записан (worker завершился)");
            handleWorkerDeath(worker_->serial());
            return;
        }
        Log::info("STT request #" + std::to_string(id) + " отправлен (" + std::to_string(current_->samples.size()) +
                  " samples)");
        watchedID_ = id;
        watchdog_.start();
    }
}

void Transcriber::failCurrent() {
    if (!current_) return;
    deliver(std::move(current_->completion), std::nullopt);
    current_.reset();
}

// No worker can run now: nobody may wait for one forever.
void Transcriber::failQueued() {
    for (auto& request : queue_) deliver(std::move(request.completion), std::nullopt);
    queue_.clear();
}

void Transcriber::clearOutput() {
    stdoutBuf_.clear();
    lineStart_ = 0;
    discardingLongLine_ = false;
}

// Each line leaves the buffer before it is handled, so that handling it may feed this again.
void Transcriber::consumeStdout(uint64_t serial, const std::string& chunk) {
    if (!worker_ || worker_->serial() != serial) return;  // output of a replaced worker
    stdoutBuf_ += chunk;
    const std::weak_ptr<Transcriber*> alive = self_;
    for (size_t lf; (lf = stdoutBuf_.find('\n', lineStart_)) != std::string::npos;) {
        const std::string line = stdoutBuf_.substr(lineStart_, lf - lineStart_);
        lineStart_ = lf + 1;
        if (discardingLongLine_) {
            discardingLongLine_ = false;  // the rest of an over-long line ends here
            continue;
        }
        handleLine(line);
        if (alive.expired()) return;                          // released while handling it
        if (!worker_ || worker_->serial() != serial) return;  // the line replaced the worker
    }
    stdoutBuf_.erase(0, lineStart_);
    lineStart_ = 0;
    if (stdoutBuf_.size() > kMaxLineBytes) {
        if (!discardingLongLine_)
            Log::warn("worker: строка вывода длиннее " + std::to_string(kMaxLineBytes) + " байт отброшена");
        discardingLongLine_ = true;
        stdoutBuf_.clear();
    }
}

void Transcriber::handleLine(const std::string& line) {
    const WorkerReply reply = parseWorkerReply(line);
    switch (reply.kind) {
        case WorkerReply::Kind::junk: return reportJunk(line);
        case WorkerReply::Kind::ready: return handleReady();
        case WorkerReply::Kind::fatal: return handleFatal(reply.text);
        case WorkerReply::Kind::reply: return handleReply(reply.id, reply.text);
    }
}

void Transcriber::reportJunk(const std::string& line) {
    std::string shown = unicode::isValidUtf8(line) ? firstCharacters(line, kShownJunkCharacters) : "?";
    if (shown.size() < line.size() && shown != "?") shown += "…";
    reportUnusable("worker: неразборчивый вывод: " + shown);
}

// A worker that floods lines we cannot use must not flood the log: one line a second, the
// rest counted.
void Transcriber::reportUnusable(const std::string& message) {
    if (junkTimer_.isActive()) {
        ++junkHidden_;
        return;
    }
    Log::warn(message);
    junkTimer_.start();
}

bool Transcriber::reportHiddenJunk() {
    if (junkHidden_ == 0) return false;
    Log::warn("worker: ещё " + std::to_string(junkHidden_) + " строк вывода не показаны");
    junkHidden_ = 0;
    return true;
}

void Transcriber::handleReady() {
    startWatchdog_.stop();
    setState(State::ready);
    pump();
}

void Transcriber::handleFatal(const std::string& reason) {
    Log::error("worker fatal: " + reason);
    // The worker said it cannot go on: stop it now, so it is gone before any new start.
    worker_.reset();
    startWatchdog_.stop();
    watchdog_.stop();
    setState(State::failed);
    // Nothing starts a worker again before the next request, and the stopped worker's own
    // death notices are ignored: fail the waiting requests too, or they would wait forever.
    failCurrent();
    failQueued();
}

void Transcriber::handleReply(int64_t id, const std::string& text) {
    if (!current_ || current_->id != id) {
        // The request in flight keeps its time-out: a stray reply must not disarm it.
        reportUnusable("STT: ответ на несуществующий запрос #" + std::to_string(id));
        return;
    }
    watchdog_.stop();
    Log::info("STT #" + std::to_string(id) + " → " + firstCharacters(text, 80));
    files::removeFile(wavPath(id));
    deliver(std::move(current_->completion), text);
    current_.reset();
    pump();
}

void Transcriber::handleWorkerDeath(uint64_t serial) {
    if (!worker_ || worker_->serial() != serial) return;  // a replaced worker's late notice
    startWatchdog_.stop();
    watchdog_.stop();
    worker_.reset();  // a worker that only closed its output is asked to stop as well
    clearOutput();
    currentPrefs_.reset();
    setState(State::failed);
    failCurrent();
    failQueued();
}

void Transcriber::onRequestTimeout(int64_t id) {
    Log::error("STT request #" + std::to_string(id) + " timeout");
    failCurrent();
    Log::info("STT worker restart запрошен");
    terminate();
    ensureStarted();
    pump();
}

void Transcriber::onStartTimeout() {
    if (state_ != State::starting || !worker_) return;
    Log::error("worker не стал ready за 40 с (см. worker_stderr.log)");
    handleWorkerDeath(worker_->serial());
}

void Transcriber::terminate() {
    watchdog_.stop();
    worker_.reset();
    clearOutput();
    currentPrefs_.reset();
    setState(State::stopped);
    // Whoever waits for the request in flight must hear back, not wait forever.
    failCurrent();
}

}  // namespace quorvel
