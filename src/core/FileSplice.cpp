#include "core/FileSplice.h"

#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace quorvel::files {
namespace {

// Through user memory, for file systems without in-kernel copies.
bool copyThroughBuffer(int from, off_t offset, off_t length, int to) {
    std::string buffer(static_cast<std::size_t>(std::min<off_t>(length, 1 << 20)), '\0');
    while (length > 0) {
        const ssize_t n = ::pread(
            from, buffer.data(),
            static_cast<std::size_t>(std::min<off_t>(length, static_cast<off_t>(buffer.size()))),
            offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;  // the file shrank under us
            return false;
        }
        if (!writeAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(n)))) return false;
        offset += n;
        length -= n;
    }
    return true;
}

bool copyRange(int from, off_t offset, off_t length, int to) {
    while (length > 0) {
        const ssize_t n =
            ::copy_file_range(from, &offset, to, nullptr, static_cast<std::size_t>(length), 0);
        if (n > 0) {
            length -= n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP)
            return copyThroughBuffer(from, offset, length, to);
        return false;
    }
    return true;
}

bool copyAllBut(int from, off_t size, const std::vector<ByteSpan>& drop, int to) {
    off_t position = 0;
    for (const ByteSpan& span : drop) {
        if (!copyRange(from, position, span.offset - position, to)) return false;
        position = span.offset + span.length;
    }
    return copyRange(from, position, size - position, to);
}

// Copies what was appended to `from` beyond `copied` since it was scanned: an append that gave
// up waiting for the lock (its holder stopped for longer than the wait) still writes to the
// file being replaced, and its line must not go with it.
bool carryAppended(int from, off_t copied, int to) {
    for (;;) {
        struct stat info {};
        if (::fstat(from, &info) != 0) return false;
        if (info.st_size <= copied) return true;
        if (!copyRange(from, copied, info.st_size - copied, to)) return false;
        copied = info.st_size;
    }
}

std::string failure(const char* step, int error) {
    return std::string(step) + ": " + std::strerror(error);
}

}  // namespace

bool writeWithout(const std::filesystem::path& requested, int source, off_t sourceSize,
                  const std::vector<ByteSpan>& drop, std::string& why) {
    std::error_code ec;
    std::filesystem::path target = std::filesystem::canonical(requested, ec);
    if (ec) target = requested;
    const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
    std::string temporary;
    const int fd = openTemporary(target, temporary);
    if (fd < 0) {
        why = failure("cannot create a temporary file", errno);
        return false;
    }
    struct stat info {};
    const mode_t mode = ::fstat(source, &info) == 0 ? (info.st_mode & 07777) : 0600;
    bool ok =
        ::fchmod(fd, mode) == 0 && copyAllBut(source, sourceSize, drop, fd) &&
              carryAppended(source, sourceSize, fd) && ::fdatasync(fd) == 0;
    if (!ok) {
        why = failure("cannot write the temporary file", errno);
        if (!temporary.empty()) ::unlink(temporary.c_str());
    } else if (!replaceWithTemporary(fd, temporary, target)) {
        ok = false;
        why = failure("cannot replace the file", errno);
    }
    ::close(fd);  // after the rename: its data is on disk already
    if (!ok) return false;
    if (!syncFolder(dir)) {
        why = failure("cannot flush the folder", errno);
        return false;
    }
    return true;
}

}  // namespace quorvel::files
