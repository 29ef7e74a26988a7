#include "core/HistoryStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/LocalTime.h"
#include "core/Uuid.h"

namespace quorvel {
namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

  private:
    int fd_;
};

bool preadAll(int fd, char* out, size_t length, off_t offset) {
    while (length > 0) {
        const ssize_t n = ::pread(fd, out, length, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        length -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
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

// Offset at which the last `limit` non-empty lines begin (0 when the file has fewer). Reads
// backwards in blocks, so the cost follows what is asked for, not the size of the history.
std::optional<off_t> tailOffset(int fd, off_t size, size_t limit) {
    constexpr off_t kBlock = 64 * 1024;
    std::string block(static_cast<size_t>(kBlock), '\0');
    off_t pos = size;
    off_t lineEnd = size;  // offset of the line feed (or end of file) closing the current line
    size_t lines = 0;
    while (pos > 0) {
        const off_t length = std::min(kBlock, pos);
        pos -= length;
        if (!preadAll(fd, block.data(), static_cast<size_t>(length), pos)) return std::nullopt;
        size_t searchEnd = static_cast<size_t>(length);
        while (const void* hit = ::memrchr(block.data(), '\n', searchEnd)) {
            searchEnd = static_cast<size_t>(static_cast<const char*>(hit) - block.data());
            const off_t feed = pos + static_cast<off_t>(searchEnd);
            if (lineEnd - feed > 1 && ++lines == limit) return feed + 1;
            lineEnd = feed;
        }
    }
    return 0;
}

// Calls `visit` for every non-empty line of `text`, in order.
template <typename Visit>
void forEachLine(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const size_t feed = text.find('\n');
        const std::string_view line = text.substr(0, feed);
        if (!line.empty()) visit(line);
        if (feed == std::string_view::npos) break;
        text.remove_prefix(feed + 1);
    }
}

// One line as an entry; nothing for invalid JSON (invalid UTF-8 included) or a wrong type.
std::optional<HistoryEntry> decodeLine(std::string_view line) {
    const auto parsed = json::parse(line);
    if (!parsed) return std::nullopt;
    try {
        return HistoryEntry::fromJson(*parsed);
    } catch (const json::DecodeError&) {
        return std::nullopt;
    }
}

// Every decodable entry of the whole file, oldest first.
std::vector<HistoryEntry> decodeAll(std::string_view text) {
    std::vector<HistoryEntry> entries;
    entries.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    forEachLine(text, [&](std::string_view line) {
        if (auto entry = decodeLine(line)) entries.push_back(std::move(*entry));
    });
    return entries;
}

bool equalIgnoringAsciiCase(char a, char b) {
    const auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    };
    return lower(a) == lower(b);
}

// Cheap test before decoding the whole file: could some line hold this id? Ids are hex text;
// a file with JSON \u escapes could spell one differently, so then we cannot rule it out.
bool mayMention(std::string_view text, std::string_view id) {
    if (text.find("\\u") != std::string_view::npos) return true;
    const std::boyer_moore_horspool_searcher searcher(
        id.begin(), id.end(),
        [](char c) {
            return std::hash<char>{}(static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c));
        },
        equalIgnoringAsciiCase);
    return std::search(text.begin(), text.end(), searcher) != text.end();
}

void removeAudio(const HistoryEntry& entry) {
    if (entry.audioPath) files::removeFile(*entry.audioPath);
}

}  // namespace

HistoryStore::HistoryStore(std::filesystem::path url, std::filesystem::path recordingsDir)
    : url_(std::move(url)), recordingsDir_(std::move(recordingsDir)) {
    files::createDirectories(recordingsDir_);
    files::createDirectories(AppPaths::supportDir());
    if (url_.has_parent_path()) files::createDirectories(url_.parent_path());
}

bool HistoryStore::append(HistoryEntry entry) const {
    if (entry.ts.empty()) entry.ts = localtime::format(localtime::nowSeconds());
    auto line = json::dump(entry.toJson());
    if (!line) return false;
    line->push_back('\n');

    const FileDescriptor fd(::open(url_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.valid()) return true;
    // A write torn off by a crash leaves the last line without its line feed; finish that line
    // first so the new entry does not get glued to it and lost along with it.
    struct stat info {};
    char last = '\n';
    if (::fstat(fd.get(), &info) == 0 && info.st_size > 0)
        preadAll(fd.get(), &last, 1, info.st_size - 1);
    if (last != '\n') line->insert(line->begin(), '\n');
    writeAll(fd.get(), *line);
    return true;
}

std::vector<HistoryEntry> HistoryStore::read(std::size_t limit) const {
    if (limit == 0) return {};
    const FileDescriptor fd(::open(url_.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};

    const auto start = tailOffset(fd.get(), info.st_size, limit);
    if (!start) return {};
    std::string tail(static_cast<size_t>(info.st_size - *start), '\0');
    if (!preadAll(fd.get(), tail.data(), tail.size(), *start)) return {};

    std::vector<std::string_view> lines;
    forEachLine(tail, [&](std::string_view line) { lines.push_back(line); });
    const size_t first = lines.size() > limit ? lines.size() - limit : 0;

    std::vector<HistoryEntry> entries;
    entries.reserve(lines.size() - first);
    for (size_t i = lines.size(); i-- > first;)
        if (auto entry = decodeLine(lines[i])) entries.push_back(std::move(*entry));
    return entries;
}

bool HistoryStore::remove(std::string_view id) const {
    const auto wanted = uuid::canonical(id);
    if (!wanted) return false;
    const auto text = files::readWhole(url_);
    if (!text || !mayMention(*text, *wanted)) return false;

    // The whole file, not only its newest lines: older entries must survive the rewrite.
    std::vector<HistoryEntry> entries = decodeAll(*text);
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const HistoryEntry& e) { return e.id == *wanted; });
    if (found == entries.end()) return false;
    removeAudio(*found);
    entries.erase(found);
    rewrite(entries);
    return true;
}

std::size_t HistoryStore::cleanup(KeepPolicy policy) const {
    const auto retention = policy.retentionSeconds();
    if (!retention) return 0;
    const double cutoff = localtime::nowSeconds() - static_cast<double>(*retention);
    // An unreadable file is left alone: rewriting it from nothing would wipe the history.
    const auto text = files::readWhole(url_);
    if (!text) return 0;

    std::vector<HistoryEntry> entries = decodeAll(*text);
    const auto expired =
        std::stable_partition(entries.begin(), entries.end(),
                              [&](const HistoryEntry& e) { return e.createdAt >= cutoff; });
    const auto count = static_cast<std::size_t>(entries.end() - expired);
    std::for_each(expired, entries.end(), removeAudio);
    entries.erase(expired, entries.end());
    rewrite(entries);
    return count;
}

void HistoryStore::rewrite(const std::vector<HistoryEntry>& entries) const {
    std::string text;
    text.reserve(entries.size() * 512);
    for (const HistoryEntry& entry : entries) {
        // Entries decoded from the file always encode; one that did not would be left out.
        if (auto line = json::dump(entry.toJson())) {
            text += *line;
            text.push_back('\n');
        }
    }
    files::writeAtomically(url_, text);
}

}  // namespace quorvel
