#include "core/ModelFiles.h"

#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <string_view>
#include <system_error>

#include "core/OnnxHeader.h"

namespace quorvel::modelfiles {
namespace {

namespace fs = std::filesystem;

// Enough of a token list to see its format; a whole list is a few hundred kilobytes.
constexpr std::size_t kTokensHead = 64 * 1024;

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

std::string errnoText() {
    return std::strerror(errno);
}

bool isDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A token list has lines "<token> <id>"; the token itself may hold spaces or be one.
std::optional<std::string> tokensProblem(int fd, std::uint64_t size) {
    std::string head(static_cast<std::size_t>(std::min<std::uint64_t>(size, kTokensHead)), '\0');
    const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
    if (got != static_cast<ssize_t>(head.size())) return "unreadable";
    std::string_view text(head);
    // A line cut by the end of the head is not judged; the file's own last line is.
    if (size > head.size()) text = text.substr(0, text.rfind('\n') + 1);
    int lines = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.empty()) continue;
        const std::size_t space = line.rfind(' ');
        if (space == std::string_view::npos || !isDigits(line.substr(space + 1)))
            return "not a token list";
        ++lines;
    }
    if (lines == 0) return "not a token list";
    return std::nullopt;
}

// What is wrong with the model file `path`, which must be a non-empty regular file.
std::optional<std::string> fileProblem(const fs::path& path) {
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        if (errno == ELOOP) return "a link";
        if (errno == ENOENT) return "missing";
        return "unreadable (" + errnoText() + ")";
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return "unreadable (" + errnoText() + ")";
    if (!S_ISREG(info.st_mode)) return "not a plain file";
    if (info.st_size == 0) return "empty";
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const std::string name = path.filename().string();
    if (name.ends_with(".onnx")) return onnxHeaderProblem(file.get(), size);
    if (name.ends_with("tokens.txt")) return tokensProblem(file.get(), size);
    return std::nullopt;
}

// What `path` is when it is not a real folder, or nothing.
std::optional<std::string> folderKind(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? "missing" : "unreadable (" + errnoText() + ")";
    if (S_ISLNK(info.st_mode)) return "a link";
    if (!S_ISDIR(info.st_mode)) return "not a folder";
    return std::nullopt;
}

bool syncPath(const fs::path& path, int flags) {
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | flags));
    return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

// Gives us write and search permission on `path` and every folder below it, if they are ours.
void openUpFolders(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return;
    if ((info.st_mode & S_IRWXU) != S_IRWXU) ::chmod(path.c_str(), (info.st_mode & 07777) | S_IRWXU);
    std::error_code ec;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        openUpFolders(it->path());
}

}  // namespace

std::optional<std::string> folderProblem(const fs::path& dir,
                                         const std::vector<std::string>& files) {
    if (auto kind = folderKind(dir)) return dir.filename().string() + " is " + *kind;
    for (const std::string& file : files) {
        // Each folder on the way is checked too: a linked subfolder leads anywhere.
        fs::path walked = dir;
        const fs::path relative(file);
        for (auto part = relative.begin(); part != relative.end(); ++part) {
            if (std::next(part) == relative.end()) break;
            walked /= *part;
            if (auto kind = folderKind(walked)) {
                return (walked.lexically_relative(dir)).string() + " is " + *kind;
            }
        }
        if (auto problem = fileProblem(dir / relative)) return file + " is " + *problem;
    }
    return std::nullopt;
}

std::optional<std::string> firstNonPlainEntry(const fs::path& dir) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat info {};
        const std::string name = it->path().lexically_relative(dir).string();
        if (::lstat(it->path().c_str(), &info) != 0)
            return name + " is unreadable (" + errnoText() + ")";
        if (S_ISLNK(info.st_mode)) return name + " is a link";
        if (S_ISREG(info.st_mode) && info.st_nlink > 1) return name + " is a hard link";
        if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) return name + " is not a plain file";
    }
    if (ec) return dir.filename().string() + " is unreadable (" + ec.message() + ")";
    return std::nullopt;
}

TreeUse treeUse(const fs::path& dir, std::size_t maxEntries) {
    TreeUse use;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) == 0 && S_ISREG(info.st_mode))
            use.bytes += static_cast<std::uint64_t>(info.st_size);
        if (++use.entries > maxEntries) break;
    }
    return use;
}

bool removeTree(const fs::path& path) {
    openUpFolders(path);
    std::error_code ec;
    fs::remove_all(path, ec);
    return !ec;
}

bool syncTree(const fs::path& dir) {
    std::error_code ec;
    bool ok = true;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        const bool isFolder = it->symlink_status(typeError).type() == fs::file_type::directory;
        ok = syncPath(it->path(), isFolder ? O_DIRECTORY : 0) && ok;
    }
    return !ec && files::syncFolder(dir) && ok;
}

}  // namespace quorvel::modelfiles
