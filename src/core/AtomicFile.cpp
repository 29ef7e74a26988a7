#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <system_error>

namespace quorvel::files {
namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The rename itself is only durable once the folder's entry is on disk too.
void syncFolder(const std::filesystem::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

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

}  // namespace

bool writeAtomically(const std::filesystem::path& requested, std::string_view bytes) {
    const std::filesystem::path target = resolveLinks(requested);
    const std::filesystem::path dir =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    // Built with append: GCC 12 at -O3 warns falsely (-Wrestrict) on chained operator+ here.
    std::string name(".");
    name.append(target.filename().string()).append(".tmp-XXXXXX");
    std::string tmpl = (dir / name).string();
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) return false;

    struct stat existing {};
    const mode_t mode = ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0600;
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tmpl.c_str(), target.c_str()) == 0) {
        syncFolder(dir);
        return true;
    }
    ::unlink(tmpl.c_str());
    return false;
}

bool keepUnreadableCopy(const std::filesystem::path& file, std::string_view bytes) {
    std::filesystem::path copy = file;
    copy += ".unreadable";
    return writeAtomically(copy, bytes);
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
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string content;
    const auto size = std::filesystem::file_size(file, ec);
    if (!ec) content.reserve(static_cast<size_t>(size));
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return content;
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

}  // namespace quorvel::files
