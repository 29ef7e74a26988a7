#pragma once
// An exclusive advisory lock (flock) on a small lock file next to the data it guards. Held from
// construction to destruction; excludes other threads and other processes alike, because each
// lock opens its own descriptor. Files that are replaced by rename cannot carry the lock
// themselves, so the lock lives in "<folder>/.<name>.lock".

#include <chrono>
#include <filesystem>

namespace quorvel {

class FileLock {
public:
    // Waits for the lock at most `timeout`. Not held when the lock file cannot be opened
    // (read-only folder) or the wait runs out: the caller decides whether to go on unguarded.
    explicit FileLock(const std::filesystem::path& guardedFile,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return fd_ >= 0; }
    // Not held because another holder kept it for the whole wait (say, a process stopped while
    // holding it), rather than because the lock file could not be opened.
    bool timedOut() const { return timedOut_; }

    // The lock file that guards `guardedFile`.
    static std::filesystem::path lockFileFor(const std::filesystem::path& guardedFile);

private:
    int fd_ = -1;
    bool timedOut_ = false;
};

}  // namespace quorvel
