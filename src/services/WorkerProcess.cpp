#include "services/WorkerProcess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "services/MainDispatcher.h"

extern char** environ;

namespace quorvel {

namespace {

constexpr size_t kReadBlock = 65536;
constexpr auto kKillGrace = std::chrono::seconds(3);
constexpr auto kOutputGrace = std::chrono::seconds(2);

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string describeEnd(int status, int& code) {
    if (WIFSIGNALED(status)) {
        code = WTERMSIG(status);
        return "uncaughtSignal";
    }
    code = WIFEXITED(status) ? WEXITSTATUS(status) : status;
    return "exit";
}

}  // namespace

// State the background threads share with the handle; it outlives whichever ends last.
struct WorkerProcess::Shared {
    explicit Shared(pid_t pid) : pid(pid) {}
    ~Shared() {
        closeFd(wake[0]);
        closeFd(wake[1]);
    }

    // Signals the worker unless it has been reaped: until `exited` is set under the same lock
    // the pid stays ours, so no stranger that got it afterwards is ever signalled.
    void signal(int number) {
        std::lock_guard lock(mutex);
        if (!exited) ::kill(pid, number);
    }

    // Kills the worker if it has not ended within `grace` of being asked to stop.
    void killAfter(std::chrono::steady_clock::duration grace) {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, grace, [this] { return exited; })) ::kill(pid, SIGKILL);
    }

    // Nobody wants the output any more: the reader stops, even while a grandchild keeps the
    // pipe open or the main thread no longer takes what it posted.
    void stop() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        if (wake[1] >= 0) (void)!::write(wake[1], "x", 1);
    }

    // Back-pressure: waits until the main thread has taken enough of what was read.
    bool waitForRoom() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return stopping || queuedBytes < kMaxQueuedBytes; });
        return !stopping;
    }

    void adjustQueued(ssize_t delta) {
        {
            std::lock_guard lock(mutex);
            queuedBytes = static_cast<size_t>(static_cast<ssize_t>(queuedBytes) + delta);
        }
        changed.notify_all();
    }

    const pid_t pid;
    int wake[2] = {-1, -1};  // a byte written here wakes the reader
    std::mutex mutex;
    std::condition_variable changed;
    bool exited = false;  // guarded by mutex
    bool outputDone = false;
    bool stopping = false;
    size_t queuedBytes = 0;
};

// Every background thread of every worker, and the workers still running, so that all can be
// stopped and joined before the program ends.
class WorkerRegistry {
public:
    static WorkerRegistry& instance() {
        static WorkerRegistry registry;
        return registry;
    }

    void add(const std::shared_ptr<WorkerProcess::Shared>& worker) {
        std::lock_guard lock(mutex_);
        std::erase_if(workers_, [](const auto& weak) { return weak.expired(); });
        workers_.push_back(worker);
    }

    void startThread(std::function<void()> body) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([body = std::move(body), done] {
            body();
            *done = true;
        });
        std::lock_guard lock(mutex_);
        joinFinished();
        threads_.push_back({std::move(thread), std::move(done)});
    }

    std::vector<std::shared_ptr<WorkerProcess::Shared>> liveWorkers() {
        std::lock_guard lock(mutex_);
        std::vector<std::shared_ptr<WorkerProcess::Shared>> live;
        for (const auto& weak : workers_)
            if (auto worker = weak.lock()) live.push_back(std::move(worker));
        return live;
    }

    void joinAll() {
        std::vector<Thread> all;
        {
            std::lock_guard lock(mutex_);
            all.swap(threads_);
        }
        for (auto& entry : all) entry.thread.join();
    }

    // At exit without stopAll() (no application object): wait for none of them.
    ~WorkerRegistry() {
        for (auto& entry : threads_) *entry.done ? entry.thread.join() : entry.thread.detach();
    }

private:
    struct Thread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void joinFinished() {
        std::erase_if(threads_, [](Thread& entry) {
            if (!*entry.done) return false;
            entry.thread.join();
            return true;
        });
    }

    std::mutex mutex_;
    std::vector<std::weak_ptr<WorkerProcess::Shared>> workers_;
    std::vector<Thread> threads_;
};

std::unique_ptr<WorkerProcess> WorkerProcess::launch(const std::string& executable,
                                                     const std::vector<std::string>& arguments,
                                                     const std::filesystem::path& stderrFile, uint64_t serial,
                                                     Events events, std::string& error) {
    // A worker that dies while we write to it must give EPIPE, not kill the program.
    ::signal(SIGPIPE, SIG_IGN);

    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    if (::pipe2(output, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        ::close(input[0]);
        ::close(input[1]);
        return nullptr;
    }
    // Appended across restarts, so the previous worker's last words stay readable; started afresh
    // once it has grown large, so a chatty worker cannot fill the disk over many runs.
    constexpr off_t kStderrKeepBytes = 4 << 20;
    struct stat existing {};
    const bool tooLarge = ::lstat(stderrFile.c_str(), &existing) == 0 && existing.st_size > kStderrKeepBytes;
    int errFd = ::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | (tooLarge ? O_TRUNC : 0), 0600);
    if (errFd < 0) errFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    if (errFd >= 0) posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    // Descriptors other threads open without close-on-exec (or libraries we do not control)
    // must not keep files and pipes of ours open in the worker.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    if (errFd >= 0) ::close(errFd);
    if (rc != 0) {
        error = std::strerror(rc);
        ::close(input[1]);
        ::close(output[0]);
        return nullptr;
    }
    auto shared = std::make_shared<Shared>(pid);
    if (::pipe2(shared->wake, O_CLOEXEC | O_NONBLOCK) != 0) shared->wake[0] = shared->wake[1] = -1;
    std::unique_ptr<WorkerProcess> worker(new WorkerProcess(pid, input[1], output[0], serial, std::move(shared)));
    worker->startThreads(std::move(events));
    return worker;
}

WorkerProcess::WorkerProcess(pid_t pid, int inputFd, int outputFd, uint64_t serial, std::shared_ptr<Shared> shared)
    : pid_(pid), inputFd_(inputFd), outputFd_(outputFd), serial_(serial), shared_(std::move(shared)) {}

void WorkerProcess::startThreads(Events events) {
    auto shared = shared_;
    const uint64_t serial = serial_;
    const int fd = outputFd_;
    auto sink = std::make_shared<Events>(std::move(events));
    WorkerRegistry::instance().add(shared);

    // The reader owns the output descriptor and closes it at the end of the stream.
    WorkerRegistry::instance().startThread([fd, serial, sink, shared] {
        std::string block(kReadBlock, '\0');
        pollfd watched[2] = {{fd, POLLIN, 0}, {shared->wake[0], POLLIN, 0}};
        while (shared->waitForRoom()) {
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (watched[1].revents != 0) break;  // stopped
            const ssize_t n = ::read(fd, block.data(), block.size());
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) break;
            shared->adjustQueued(n);
            MainDispatcher::dispatch([sink, serial, shared, n, chunk = block.substr(0, static_cast<size_t>(n))]() mutable {
                shared->adjustQueued(-n);
                sink->output(serial, std::move(chunk));
            });
        }
        ::close(fd);
        MainDispatcher::dispatch([sink, serial, fd] { sink->outputClosed(serial, fd); });
        {
            std::lock_guard lock(shared->mutex);
            shared->outputDone = true;
        }
        shared->changed.notify_all();
    });

    WorkerRegistry::instance().startThread([serial, sink, shared] {
        // Wait without reaping: until `exited` is set the pid cannot be reused.
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(shared->pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
        }
        {
            std::lock_guard lock(shared->mutex);
            shared->exited = true;
        }
        shared->changed.notify_all();
        int status = 0;
        while (::waitpid(shared->pid, &status, 0) < 0 && errno == EINTR) {
        }
        {
            // A grandchild may keep the output open; do not wait for it for long.
            std::unique_lock lock(shared->mutex);
            shared->changed.wait_for(lock, kOutputGrace, [&] { return shared->outputDone || shared->stopping; });
        }
        int code = 0;
        std::string reason = describeEnd(status, code);
        MainDispatcher::dispatch([sink, serial, reason, code] { sink->exited(serial, reason, code); });
    });
}

WorkerProcess::~WorkerProcess() {
    terminate();
    shared_->stop();
}

bool WorkerProcess::writeLine(const std::string& line) {
    if (inputFd_ < 0) return false;
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(inputFd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void WorkerProcess::terminate() {
    closeFd(inputFd_);
    shared_->signal(SIGTERM);
    // A worker stuck in native code may ignore SIGTERM; make sure it does not linger.
    if (killerStarted_) return;
    killerStarted_ = true;
    WorkerRegistry::instance().startThread([shared = shared_] { shared->killAfter(kKillGrace); });
}

void WorkerProcess::stopAll() {
    const auto live = WorkerRegistry::instance().liveWorkers();
    for (const auto& worker : live) {
        worker->signal(SIGTERM);
        worker->stop();
    }
    for (const auto& worker : live) worker->killAfter(kKillGrace);
    WorkerRegistry::instance().joinAll();
}

}  // namespace quorvel
