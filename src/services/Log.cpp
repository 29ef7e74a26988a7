#include "services/Log.h"

#include <syslog.h>

#include <condition_variable>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>

#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/LocalTime.h"

namespace quorvel::Log {
namespace {

struct Line {
    std::string level;
    std::string message;
};

// One background thread writes the lines, one after another, in the order they were queued.
class Writer {
public:
    static Writer& instance() {
        static Writer writer;
        return writer;
    }

    void enqueue(Line line) {
        {
            std::lock_guard lock(mutex_);
            lines_.push_back(std::move(line));
            ++queued_;
        }
        wake_.notify_one();
    }

    void flush() {
        std::unique_lock lock(mutex_);
        const uint64_t target = queued_;
        done_.wait(lock, [&] { return written_ >= target; });
    }

    std::filesystem::path file() {
        std::lock_guard lock(mutex_);
        return file_;
    }

    void setFile(std::filesystem::path path) {
        flush();
        std::lock_guard lock(mutex_);
        file_ = std::move(path);
    }

    ~Writer() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }

private:
    Writer() : file_(AppPaths::logURL()), thread_([this] { run(); }) {}

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stopping_ || !lines_.empty(); });
            if (lines_.empty()) return;  // stopping, and everything is written
            Line line = std::move(lines_.front());
            lines_.pop_front();
            const std::filesystem::path target = file_;
            lock.unlock();
            append(target, line);
            lock.lock();
            ++written_;
            done_.notify_all();
        }
    }

    static void append(const std::filesystem::path& target, const Line& line) {
        const std::string text =
            localtime::formatWithMillis(localtime::nowSeconds()) + " " + line.level + ": " + line.message + "\n";
        files::createDirectories(target.parent_path());
        std::ofstream out(target, std::ios::binary | std::ios::app);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<Line> lines_;
    uint64_t queued_ = 0, written_ = 0;
    bool stopping_ = false;
    std::filesystem::path file_;
    std::thread thread_;
};

void mirrorToSystemLog(const std::string& message) {
    static const bool opened = [] {
        ::openlog("com.brellun.quorvel", LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    ::syslog(LOG_NOTICE, "%s", message.c_str());
}

}  // namespace

void write(const std::string& level, const std::string& message) {
    mirrorToSystemLog(message);
    Writer::instance().enqueue({level, message});
}

void info(const std::string& message) { write("INFO", message); }
void warn(const std::string& message) { write("WARN", message); }
void error(const std::string& message) { write("ERROR", message); }
void flush() { Writer::instance().flush(); }
std::filesystem::path file() { return Writer::instance().file(); }
void setFile(const std::filesystem::path& path) { Writer::instance().setFile(path); }

}  // namespace quorvel::Log
