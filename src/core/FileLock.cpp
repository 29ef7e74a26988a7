#include "core/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace quorvel {
namespace {

constexpr mode_t kLockFileMode = 0644;

}  // namespace

std::filesystem::path FileLock::lockFileFor(const std::filesystem::path& guardedFile) {
    // Appended, not "." + name: GCC 12 at -O3 misreads that concatenation as an overlapping copy.
    std::string name = ".";
    name += guardedFile.filename().string();
    name += ".lock";
    return guardedFile.parent_path() / name;
}

FileLock::FileLock(const std::filesystem::path& guardedFile, std::chrono::milliseconds timeout) {
    const std::filesystem::path lockFile = lockFileFor(guardedFile);
    // flock needs no write access, and a lock file that everyone may read still works for the
    // user after a run under sudo has created it as root. It holds nothing.
    // Non-blocking: a pipe planted under the lock file's name must not hang the open.
    int fd = ::open(lockFile.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, kLockFileMode);
    if (fd < 0) return;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return;
    }
    if (info.st_uid == ::geteuid() && (info.st_mode & 0777) != kLockFileMode)
        ::fchmod(fd, kLockFileMode);  // whatever the umask

    // flock has no time-out of its own: poll with a short sleep, which costs nothing in the
    // usual case where the lock is free at once. The sleep stays short so that a waiter is not
    // starved by a writer that takes the lock again and again.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto pause = std::chrono::microseconds(200);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK || errno == EINTR;
        if (!busy || std::chrono::steady_clock::now() >= deadline) {
            timedOut_ = busy;
            ::close(fd);
            return;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(2));
    }
    fd_ = fd;
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the only descriptor releases the lock
}

}  // namespace quorvel
