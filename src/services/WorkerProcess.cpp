#include "services/WorkerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <cstring>
#include <thread>

#include "services/MainDispatcher.h"

extern char** environ;

namespace quorvel {

// State the background threads share with the handle; it outlives whichever ends last.
struct WorkerProcess::Shared {
    std::atomic<bool> exited{false};
    // The exit notice waits for the end of the output, so a last reply is never overtaken.
    std::mutex mutex;
    std::condition_variable outputEnded;
    bool outputDone = false;
};

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
    int errFd = ::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (errFd < 0) errFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    if (errFd >= 0) posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);

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
    std::unique_ptr<WorkerProcess> worker(
        new WorkerProcess(pid, input[1], output[0], serial, std::make_shared<Shared>()));
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

    // The reader owns the output descriptor and closes it at the end of the stream.
    std::thread([fd, serial, sink, shared] {
        std::string block(kReadBlock, '\0');
        for (;;) {
            const ssize_t n = ::read(fd, block.data(), block.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            MainDispatcher::dispatch([sink, serial, chunk = block.substr(0, static_cast<size_t>(n))]() mutable {
                sink->output(serial, std::move(chunk));
            });
        }
        ::close(fd);
        MainDispatcher::dispatch([sink, serial, fd] { sink->outputClosed(serial, fd); });
        {
            std::lock_guard lock(shared->mutex);
            shared->outputDone = true;
        }
        shared->outputEnded.notify_all();
    }).detach();

    std::thread([pid = pid_, serial, sink, shared] {
        // Wait without reaping: until `exited` is set the pid cannot be reused, so terminate()
        // never signals a stranger.
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
        }
        shared->exited = true;
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        {
            // A grandchild may keep the output open; do not wait for it for long.
            std::unique_lock lock(shared->mutex);
            shared->outputEnded.wait_for(lock, kOutputGrace, [&] { return shared->outputDone; });
        }
        int code = 0;
        std::string reason = describeEnd(status, code);
        MainDispatcher::dispatch([sink, serial, reason, code] { sink->exited(serial, reason, code); });
    }).detach();
}

WorkerProcess::~WorkerProcess() { terminate(); }

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
    if (shared_->exited) return;
    ::kill(pid_, SIGTERM);
    // A worker stuck in native code may ignore SIGTERM; make sure it does not linger.
    std::thread([pid = pid_, shared = shared_] {
        const auto deadline = std::chrono::steady_clock::now() + kKillGrace;
        while (!shared->exited && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!shared->exited) ::kill(pid, SIGKILL);
    }).detach();
}

}  // namespace quorvel
