#include "services/Log.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/CoreLog.h"
#include "core/LocalTime.h"
#include "services/SerialQueue.h"

namespace quorvel::Log {
namespace {

// One background thread writes the lines, one after another, in the order they were queued.
class Writer {
public:
    static Writer& instance() {
        static Writer writer;
        return writer;
    }

    void enqueue(std::string level, std::string message) {
        queue_.enqueue([target = file(), level = std::move(level), message = std::move(message)] {
            append(target, level, message);
        });
    }

    void flush() { queue_.drain(); }

    std::filesystem::path file() {
        std::lock_guard lock(mutex_);
        return file_;
    }

    void setFile(std::filesystem::path path) {
        flush();
        std::lock_guard lock(mutex_);
        file_ = std::move(path);
    }

private:
    Writer() : file_(AppPaths::logURL()) {}

    // The time is taken when the line is written, not when it was asked for.
    static void append(const std::filesystem::path& target, const std::string& level, const std::string& message) {
        const std::string text =
            localtime::formatWithMillis(localtime::nowSeconds()) + " " + level + ": " + message + "\n";
        files::createDirectories(target.parent_path());
        // Close-on-exec: a worker started while the file is open must not keep it.
        const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) return;
        for (size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::close(fd);
    }

    std::mutex mutex_;
    std::filesystem::path file_;  // guarded by mutex_
    SerialQueue queue_;           // declared last, destroyed first: writes what is still queued
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
    Writer::instance().enqueue(level, message);
}

void info(const std::string& message) { write("INFO", message); }
void warn(const std::string& message) { write("WARN", message); }
void error(const std::string& message) { write("ERROR", message); }
void flush() { Writer::instance().flush(); }

namespace {
// Lines of the core (stores, vocabulary) land in the same log as everything else.
[[maybe_unused]] const bool coreLinesRouted = [] {
    corelog::setSink([](corelog::Level level, std::string_view message) {
        write(std::string(corelog::levelName(level)), std::string(message));
    });
    return true;
}();
}  // namespace
std::filesystem::path file() { return Writer::instance().file(); }
void setFile(const std::filesystem::path& path) { Writer::instance().setFile(path); }

}  // namespace quorvel::Log
