#include "core/HistoryStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/CoreLog.h"
#include "core/FileLock.h"
#include "core/FileSplice.h"
#include "core/LineScanner.h"
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

std::string describe(const std::filesystem::path& file, std::string_view what) {
    return "история: " + file.string() + ": " + std::string(what);
}

// Calls `visit` with the non-empty lines of the first `size` bytes, newest first, until it
// returns false: with the line's text, or nothing for a line longer than kMaxLineBytes. Reads
// backwards in blocks, so the cost follows what is asked for, not the size of the history.
template <typename Visit>
bool forEachLineNewestFirst(int fd, off_t size, Visit visit) {
    constexpr off_t kBlock = 64 * 1024;
    std::string block(static_cast<size_t>(kBlock), '\0');
    std::string spill;  // a line that crosses blocks
    off_t pos = size;
    off_t lineEnd = size;  // offset of the line feed (or end of file) closing the current line
    // The line [start, lineEnd) once its start is known; false when reading fails.
    const auto deliver = [&](off_t start, off_t blockEnd, bool& more) {
        const off_t length = lineEnd - start;
        lineEnd = start > 0 ? start - 1 : 0;
        if (length == 0) return true;
        std::optional<std::string_view> text;
        if (start + length <= blockEnd) {
            text = std::string_view(block.data() + (start - pos), static_cast<size_t>(length));
        } else if (length <= static_cast<off_t>(HistoryStore::kMaxLineBytes)) {
            spill.resize(static_cast<size_t>(length));
            if (!preadAll(fd, spill.data(), spill.size(), start)) return false;
            text = spill;
        }
        more = visit(text);
        return true;
    };
    bool more = true;
    while (pos > 0 && more) {
        const off_t length = std::min(kBlock, pos);
        pos -= length;
        if (!preadAll(fd, block.data(), static_cast<size_t>(length), pos)) return false;
        size_t searchEnd = static_cast<size_t>(length);
        while (more && searchEnd > 0) {
            const void* hit = ::memrchr(block.data(), '\n', searchEnd);
            if (!hit) break;
            searchEnd = static_cast<size_t>(static_cast<const char*>(hit) - block.data());
            if (!deliver(pos + static_cast<off_t>(searchEnd) + 1, pos + length, more)) return false;
        }
        if (more && pos == 0 && !deliver(0, length, more)) return false;
    }
    return true;
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

bool equalIgnoringAsciiCase(char a, char b) {
    const auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    };
    return lower(a) == lower(b);
}

// Cheap test before decoding a line: could it hold this id? Ids are hex text; a line with JSON
// \u escapes could spell one differently, so then we cannot rule it out.
class IdFilter {
  public:
    explicit IdFilter(const std::string& id)
        : searcher_(id.begin(), id.end(),
                    [](char c) {
                        return std::hash<char>{}(static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c));
                    },
                    equalIgnoringAsciiCase) {}

    bool mayMention(std::string_view line) const {
        return line.find("\\u") != std::string_view::npos ||
               std::search(line.begin(), line.end(), searcher_) != line.end();
    }

  private:
    std::boyer_moore_horspool_searcher<std::string::const_iterator, std::function<size_t(char)>,
                                       bool (*)(char, char)>
        searcher_;
};

// Cheap test before decoding a line in a clean-up: false only when its one top-level
// "createdAt" is plainly not before the cut-off. Anything less plain (escapes, the key twice,
// spaces, no number) is left to the full decode.
bool mayHaveExpired(std::string_view line, double cutoff) {
    constexpr std::string_view kKey = "\"createdAt\":";
    const size_t at = line.find(kKey);
    if (at == std::string_view::npos || line.find("\\u") != std::string_view::npos ||
        line.find(kKey, at + 1) != std::string_view::npos)
        return true;
    double createdAt = 0;
    const char* start = line.data() + at + kKey.size();
    const auto [end, error] = std::from_chars(start, line.data() + line.size(), createdAt);
    return error != std::errc() || createdAt < cutoff;
}

// Takes out of the history every line for which `pick` returns an entry (only the first one
// with `firstOnly`), keeping all other bytes as they are, and only once the shorter file is on
// disk deletes the audio files of the entries taken out. Holds the file's lock throughout, so
// no append can slip in between reading and replacing.
template <typename Pick>
HistoryStore::Removal removeLines(const std::filesystem::path& url, bool firstOnly, Pick pick) {
    const HistoryStore::Removal failed{.failed = true};
    const FileLock lock(url);
    if (!lock.held()) {
        corelog::error(describe(url, "нет блокировки файла, ничего не удалено"));
        return failed;
    }
    const FileDescriptor fd(::open(url.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid() && errno == ENOENT) return {};
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        corelog::error(describe(url, "не читается, ничего не удалено"));
        return failed;
    }

    std::vector<files::ByteSpan> drop;
    std::vector<std::string> audio;
    LineScanner scanner(fd.get(), HistoryStore::kMaxLineBytes);
    while (const auto line = scanner.next()) {
        if (!line->text || line->text->empty()) continue;
        auto entry = pick(*line->text);
        if (!entry) continue;
        drop.push_back({line->offset, line->length + (line->hasFeed ? 1 : 0)});
        if (entry->audioPath) audio.push_back(std::move(*entry->audioPath));
        if (firstOnly) break;
    }
    if (scanner.failed() || ::fstat(fd.get(), &info) != 0) {
        corelog::error(describe(url, std::string("ошибка чтения: ") + std::strerror(errno)));
        return failed;
    }
    if (drop.empty()) return {};
    std::string why;
    if (!files::writeWithout(url, fd.get(), info.st_size, drop, why)) {
        corelog::error(describe(url, why + "; ничего не удалено"));
        return failed;
    }
    for (const auto& path : audio) files::removeFile(path);
    return {.removed = drop.size()};
}

}  // namespace

HistoryStore::HistoryStore(std::filesystem::path url, std::filesystem::path recordingsDir)
    : url_(std::move(url)), recordingsDir_(std::move(recordingsDir)) {
    files::createDirectories(recordingsDir_);
    files::createDirectories(AppPaths::supportDir());
    if (url_.has_parent_path()) files::createDirectories(url_.parent_path());
    // A delete or clean-up killed before its rename leaves a copy of the history behind.
    files::removeStaleTemporaries(url_);
}

bool HistoryStore::append(HistoryEntry entry) const {
    if (entry.ts.empty()) entry.ts = localtime::format(localtime::nowSeconds());
    auto line = json::dump(entry.toJson());
    if (!line) return false;
    line->push_back('\n');

    // Without the lock (say, a read-only folder holding a writable file) the entry is still
    // written: a lost dictation is worse than a race with a clean-up.
    const FileLock lock(url_);
    if (!lock.held()) corelog::warn(describe(url_, "нет блокировки файла, запись без неё"));
    const FileDescriptor fd(::open(url_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600));
    if (!fd.valid()) {
        corelog::error(describe(url_, std::string("запись не добавлена: ") + std::strerror(errno)));
        return true;
    }
    // A pipe or device in the file's place would swallow the entry without a trace.
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        corelog::error(describe(url_, "запись не добавлена: это не обычный файл"));
        return true;
    }
    // A write torn off by a crash leaves the last line without its line feed; finish that line
    // first so the new entry does not get glued to it and lost along with it.
    char last = '\n';
    if (info.st_size > 0) preadAll(fd.get(), &last, 1, info.st_size - 1);
    if (last != '\n') line->insert(line->begin(), '\n');
    if (!files::writeAll(fd.get(), *line))
        corelog::error(describe(url_, std::string("запись не добавлена: ") + std::strerror(errno)));
    return true;
}

std::vector<HistoryEntry> HistoryStore::read(std::size_t limit) const {
    if (limit == 0) return {};
    const FileDescriptor fd(::open(url_.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};

    std::vector<HistoryEntry> entries;
    size_t lines = 0, overlong = 0;
    forEachLineNewestFirst(fd.get(), info.st_size, [&](std::optional<std::string_view> line) {
        if (!line)
            ++overlong;
        else if (auto entry = decodeLine(*line))
            entries.push_back(std::move(*entry));
        return ++lines < limit;
    });
    if (overlong > 0)
        corelog::warn(describe(url_, "пропущено строк длиннее " +
                                         std::to_string(kMaxLineBytes >> 20) +
                                         " MiB: " + std::to_string(overlong)));
    return entries;
}

HistoryStore::Removal HistoryStore::remove(std::string_view id) const {
    const auto wanted = uuid::canonical(id);
    if (!wanted) return {};
    const IdFilter filter(*wanted);
    return removeLines(url_, true, [&](std::string_view line) -> std::optional<HistoryEntry> {
        if (!filter.mayMention(line)) return std::nullopt;
        auto entry = decodeLine(line);
        if (!entry || entry->id != *wanted) return std::nullopt;
        return entry;
    });
}

HistoryStore::Removal HistoryStore::cleanup(KeepPolicy policy) const {
    const auto retention = policy.retentionSeconds();
    if (!retention) return {};
    const double cutoff = localtime::nowSeconds() - static_cast<double>(*retention);
    return removeLines(url_, false, [&](std::string_view line) -> std::optional<HistoryEntry> {
        if (!mayHaveExpired(line, cutoff)) return std::nullopt;
        auto entry = decodeLine(line);
        if (!entry || entry->createdAt >= cutoff) return std::nullopt;
        return entry;
    });
}

}  // namespace quorvel
