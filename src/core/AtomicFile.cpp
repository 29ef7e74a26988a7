#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>
#include <system_error>

#include "core/CoreLog.h"

namespace quorvel::files {
namespace {

// A symbolic link (say, into a dotfiles folder) is written through: the file it points to is
// replaced, and the link stays a link.
std::filesystem::path resolveLinks(const std::filesystem::path& target) {
    std::error_code ec;
    std::filesystem::path resolved = target;
    for (int hops = 0; hops < 16 && std::filesystem::is_symlink(resolved, ec); ++hops) {
        const auto next = std::filesystem::read_symlink(resolved, ec);
        if (ec) break;
        resolved = next.is_absolute() ? next : resolved.parent_path() / next;
    }
    return resolved;
}

// "<folder>/.<name>.tmp-XXXXXX" for mkostemp.
std::string temporaryTemplate(const std::filesystem::path& target) {
    const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    // Built with append: GCC 12 at -O3 warns falsely (-Wrestrict) on chained operator+ here.
    std::string name(".");
    name.append(target.filename().string()).append(".tmp-XXXXXX");
    return (dir / name).string();
}

// Gives an unnamed file (O_TMPFILE) a fresh name of the mkostemp pattern beside `target`.
// Through /proc rather than AT_EMPTY_PATH, which needs a capability ordinary users lack.
bool linkUnnamed(int fd, const std::filesystem::path& target, std::string& temporary) {
    constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> letter(0, kLetters.size() - 1);
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = temporaryTemplate(target);
        for (size_t i = temporary.size() - 6; i < temporary.size(); ++i) temporary[i] = kLetters[letter(random)];
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        if (errno != EEXIST) break;
    }
    temporary.clear();
    return false;
}

// Removes a temporary whose writer is gone: nobody holds its lock. The name is removed while we
// hold the lock, and only while it still leads to the file we locked (its writer may just have
// renamed it over the target). A held lock always means a live writer, however long it has been
// stopped; only where the file cannot be opened or locked here does `old` decide.
bool removeIfAbandoned(const std::filesystem::path& temporary, bool old) {
    const int fd = ::open(temporary.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return old && ::unlink(temporary.c_str()) == 0;
    bool abandoned = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        struct stat locked {}, named {};
        abandoned = ::fstat(fd, &locked) == 0 && ::lstat(temporary.c_str(), &named) == 0 &&
                    named.st_ino == locked.st_ino && named.st_dev == locked.st_dev &&
                    ::unlink(temporary.c_str()) == 0;
    } else if (errno != EWOULDBLOCK) {
        abandoned = old && ::unlink(temporary.c_str()) == 0;
    }
    ::close(fd);
    return abandoned;
}

}  // namespace

bool writeAtomically(const std::filesystem::path& requested, std::string_view bytes) {
    const std::filesystem::path target = resolveLinks(requested);
    std::string temporary;
    const int fd = openTemporary(target, temporary);
    if (fd < 0) return false;
    struct stat existing {};
    const mode_t mode = ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0600;
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    if (ok) ok = replaceWithTemporary(fd, temporary, target);
    else if (!temporary.empty()) ::unlink(temporary.c_str());
    ::close(fd);  // after the rename: its data is on disk already
    if (ok) syncFolder(target.has_parent_path() ? target.parent_path() : std::filesystem::path("."));
    return ok;
}

int openTemporary(const std::filesystem::path& requested, std::string& temporary) {
    const std::filesystem::path target = resolveLinks(requested);
    const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    temporary.clear();
    std::error_code ec;
    if (std::filesystem::is_symlink(target, ec)) {  // a loop of links: never replace one of them
        errno = ELOOP;
        return -1;
    }
    // Naming it later goes through /proc: without /proc it is named at once.
    static const bool canNameLater = ::access("/proc/self/fd", X_OK) == 0;
    const int fd = canNameLater ? ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1;
    if (fd >= 0) {
        ::flock(fd, LOCK_EX);  // nobody else can reach it yet
        return fd;
    }
    // Named at once: a cleaner may take it between its creation and our lock. It unlinks what it
    // takes while holding the lock, so a temporary without links once we hold it was taken.
    for (int attempt = 0; attempt < 10; ++attempt) {
        temporary = temporaryTemplate(target);
        const int named = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (named < 0) return -1;
        struct stat info {};
        if (::flock(named, LOCK_EX) != 0 || (::fstat(named, &info) == 0 && info.st_nlink > 0)) return named;
        ::close(named);
    }
    temporary.clear();
    return -1;
}

bool replaceWithTemporary(int fd, std::string& temporary, const std::filesystem::path& requested) {
    const std::filesystem::path target = resolveLinks(requested);
    if (temporary.empty() && !linkUnnamed(fd, target, temporary)) return false;
    if (::rename(temporary.c_str(), target.c_str()) == 0) return true;
    const int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    return false;
}

bool keepUnreadableCopy(const std::filesystem::path& file, std::string_view bytes) {
    // An earlier copy may hold the user's real settings from before the defaults replaced them:
    // never write over it.
    constexpr int kMostCopies = 100;
    for (int n = 1; n <= kMostCopies; ++n) {
        std::filesystem::path copy = file;
        copy += n == 1 ? std::string(".unreadable") : ".unreadable-" + std::to_string(n);
        struct stat info {};
        if (::lstat(copy.c_str(), &info) == 0) continue;
        return writeAtomically(copy, bytes);
    }
    return false;
}

bool writeScratch(const std::filesystem::path& target, std::string_view bytes) {
    // A fresh file every time, never through a link someone planted under that name.
    ::unlink(target.c_str());
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool ok = writeAll(fd, bytes);
    return (::close(fd) == 0) && ok;
}

std::optional<std::string> readWhole(const std::filesystem::path& file) {
    ReadResult result = readLimited(file, std::numeric_limits<std::uintmax_t>::max());
    if (result.status != ReadResult::Status::Read) return std::nullopt;
    return std::move(result.bytes);
}

ReadResult readLimited(const std::filesystem::path& file, std::uintmax_t maxBytes) {
    using Status = ReadResult::Status;
    const auto failed = [](Status status, std::string reason) {
        return ReadResult{status, {}, std::move(reason)};
    };
    // Non-blocking, so a FIFO in the file's place cannot hang the caller before fstat sees it.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        // ENOTDIR: a file stands where a folder on the way should be, so this file cannot exist.
        if (error == ENOENT || error == ENOTDIR) return failed(Status::Missing, {});
        return failed(Status::Unreadable, std::strerror(error));
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0) return failed(Status::Unreadable, std::strerror(errno));
    if (S_ISDIR(info.st_mode)) return failed(Status::Unreadable, "a folder stands in its place");
    if (!S_ISREG(info.st_mode)) return failed(Status::Unreadable, "not a regular file");
    const auto tooLarge = [&] {
        return failed(Status::TooLarge, "larger than " + std::to_string(maxBytes) + " bytes");
    };
    const auto size = static_cast<std::uintmax_t>(info.st_size);
    if (size > maxBytes) return tooLarge();

    ReadResult result{Status::Read, {}, {}};
    result.bytes.reserve(static_cast<size_t>(size));
    char buffer[1 << 16];
    for (;;) {
        // One byte beyond the limit is enough to tell that a file grew past it.
        const std::uintmax_t room = maxBytes - std::min(maxBytes, static_cast<std::uintmax_t>(result.bytes.size()));
        const size_t want = room >= sizeof buffer ? sizeof buffer : static_cast<size_t>(room) + 1;
        const ssize_t n = ::read(fd, buffer, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed(Status::Unreadable, std::strerror(errno));
        if (n == 0) break;
        result.bytes.append(buffer, static_cast<size_t>(n));
        if (result.bytes.size() > maxBytes) return tooLarge();
    }
    return result;
}

ReadResult readStoreFile(const std::filesystem::path& file, std::string_view what) {
    removeStaleTemporaries(file);
    ReadResult result = readLimited(file, kMaxStoreFileBytes);
    if (result.status == ReadResult::Status::Unreadable || result.status == ReadResult::Status::TooLarge) {
        std::string line(what);
        line.append(" file ").append(file.string()).append(" exists but cannot be used (");
        line.append(result.reason).append("): working with defaults and leaving the file as it is");
        corelog::error(line);
    }
    return result;
}

StoreLoad loadStoreFile(const std::filesystem::path& file, std::string_view what,
                        const std::function<bool(const std::string&)>& decode) {
    using Status = ReadResult::Status;
    const ReadResult read = readStoreFile(file, what);
    if (read.status == Status::Missing) return StoreLoad::Missing;
    if (read.status != Status::Read) return StoreLoad::KeptAside;
    if (decode(read.bytes)) return StoreLoad::Decoded;
    const bool kept = keepUnreadableCopy(file, read.bytes);
    corelog::error(std::string(what) + " file " + file.string() + " does not decode: working with defaults" +
                   (kept ? ", its bytes kept as " + file.string() + ".unreadable*" : ", and its bytes could not be kept aside"));
    return StoreLoad::Undecodable;
}

int removeStaleTemporaries(const std::filesystem::path& requested, std::chrono::seconds maxAge) {
    const std::filesystem::path target = resolveLinks(requested);
    const std::filesystem::path dir =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string prefix(".");
    prefix.append(target.filename().string()).append(".tmp-");
    const size_t nameLength = prefix.size() + 6;  // mkostemp's six random characters
    const std::time_t now = ::time(nullptr);
    int removed = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(dir, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != nameLength || name.compare(0, prefix.size(), prefix) != 0) continue;
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid()) continue;
        if (removeIfAbandoned(it->path(), now - info.st_mtime >= maxAge.count())) ++removed;
    }
    if (removed > 0) {
        corelog::info("removed " + std::to_string(removed) + " temporary file(s) an interrupted save left beside " +
                      target.string());
    }
    return removed;
}

bool ensurePrivateFolder(const std::filesystem::path& dir) {
    createDirectories(dir);
    struct stat info {};
    if (::lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) return false;
    return (info.st_mode & 0777) == 0700 || ::chmod(dir.c_str(), 0700) == 0;
}

bool createDirectories(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return std::filesystem::is_directory(dir, ec);
}

bool removeFile(const std::filesystem::path& file) {
    std::error_code ec;
    return std::filesystem::remove(file, ec) && !ec;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// A rename is only durable once the folder's entry is on disk too.
bool syncFolder(const std::filesystem::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

}  // namespace quorvel::files
