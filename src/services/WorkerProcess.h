#pragma once
// One launched speech-to-text worker process: its pid, the pipe to its standard input, and two
// background threads — one reads its standard output in blocks, one waits for it to end. Both
// only post to the main thread, tagged with this worker's serial number, so that the notices
// of a replaced worker can be told apart from those of its successor.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quorvel {

class WorkerProcess {
public:
    struct Events {
        // All three run on the main thread, in the order the worker produced them.
        std::function<void(uint64_t serial, std::string chunk)> output;
        std::function<void(uint64_t serial, int fd)> outputClosed;
        std::function<void(uint64_t serial, std::string reason, int status)> exited;
    };

    // Output read but not yet handled on the main thread is kept below this: the reader pauses,
    // and a flooding worker waits in its own writes.
    static constexpr size_t kMaxQueuedBytes = 1 << 20;

    // Starts `executable` with `arguments` and only the descriptors 0–2; standard error is
    // appended to `stderrFile` (or goes to /dev/null when that cannot be opened). On failure
    // returns nothing and sets `error`.
    static std::unique_ptr<WorkerProcess> launch(const std::string& executable,
                                                 const std::vector<std::string>& arguments,
                                                 const std::filesystem::path& stderrFile, uint64_t serial,
                                                 Events events, std::string& error);
    // Asks the worker to stop; its output is no longer read.
    ~WorkerProcess();

    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    uint64_t serial() const { return serial_; }
    pid_t pid() const { return pid_; }
    int outputFd() const { return outputFd_; }

    // Writes one whole line to the worker's input; false when the worker is gone (broken pipe).
    bool writeLine(const std::string& line);

    // Politely asks the worker to stop (SIGTERM) and closes its input; a worker that ignores
    // it is killed a little later. Safe to call more than once and after it has ended.
    void terminate();

    // Stops every worker still running (killing those that ignore the request) and joins the
    // background threads of all workers, so that none posts to the main thread any more. Called
    // on the main thread before the application object goes away.
    static void stopAll();

private:
    friend class WorkerRegistry;
    struct Shared;
    WorkerProcess(pid_t pid, int inputFd, int outputFd, uint64_t serial, std::shared_ptr<Shared> shared);
    void startThreads(Events events);

    pid_t pid_;
    int inputFd_;
    int outputFd_;
    uint64_t serial_;
    std::shared_ptr<Shared> shared_;
    bool killerStarted_ = false;
};

}  // namespace quorvel
