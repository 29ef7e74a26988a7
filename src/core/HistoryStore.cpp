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

// The whole file; nothing when it is missing, not a regular file or unreadable.
std::optional<std::string> readAll(const std::filesystem::path& path) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::string text(static_cast<size_t>(info.st_size), '\0');
    if (!preadAll(fd.get(), text.data(), text.size(), 0)) return std::nullopt;
    return text;
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

// JSON string escaping exactly as the JSON library writes it (UTF-8 kept as is, control
// characters escaped, "\u" with lower-case hex digits).
void appendQuoted(std::string& out, std::string_view text) {
    out.push_back('"');
    size_t plain = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text.substr(plain, i - plain));
        plain = i + 1;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default: {
                constexpr char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out.push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 0x0F]);
            }
        }
    }
    out.append(text.substr(plain));
    out.push_back('"');
}

void appendKey(std::string& out, std::string_view key) {
    out.push_back(',');
    appendQuoted(out, key);
    out.push_back(':');
}

void appendMember(std::string& out, std::string_view key, std::string_view value) {
    appendKey(out, key);
    appendQuoted(out, value);
}

void appendMember(std::string& out, std::string_view key, int64_t value) {
    appendKey(out, key);
    out += std::to_string(value);
}

template <typename T>
void appendOptional(std::string& out, std::string_view key, const std::optional<T>& value) {
    if (value) appendMember(out, key, *value);
}

// One line of the file: byte for byte `entry.toJson().dump()` plus a line feed, without building
// a JSON document, which would dominate rewriting a long history. Only for entries decoded from
// the file, whose texts the JSON parser has already checked to be valid UTF-8.
void appendLine(std::string& out, const HistoryEntry& entry) {
    out += "{\"id\":";
    appendQuoted(out, entry.id);
    appendMember(out, "ts", entry.ts);
    appendMember(out, "text", entry.text);
    appendOptional(out, "originalText", entry.originalText);
    appendMember(out, "elapsedMs", entry.elapsedMs);
    appendMember(out, "modeName", entry.modeName);
    appendOptional(out, "translatedTo", entry.translatedTo);
    appendOptional(out, "audioPath", entry.audioPath);
    appendOptional(out, "durationMs", entry.durationMs);
    appendOptional(out, "modelName", entry.modelName);
    appendOptional(out, "sourceApp", entry.sourceApp);
    appendKey(out, "createdAt");
    out += json::Json(entry.createdAt).dump();  // the library's own shortest number form
    out += "}\n";
}

// The new file text from every line of `text`, not only the newest ones (older entries must
// survive): each decodable entry re-encoded unless `leaves` says it goes; undecodable lines
// are dropped. Streams line by line so that a long history is never held twice as records.
template <typename Leaves>
std::string rewriteLines(std::string_view text, Leaves leaves) {
    std::string out;
    out.reserve(text.size());
    forEachLine(text, [&](std::string_view line) {
        const auto entry = decodeLine(line);
        if (entry && !leaves(*entry)) appendLine(out, *entry);
    });
    return out;
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
    const auto text = readAll(url_);
    if (!text || !mayMention(*text, *wanted)) return false;

    std::optional<HistoryEntry> found;
    const std::string rewritten = rewriteLines(*text, [&](const HistoryEntry& entry) {
        if (found || entry.id != *wanted) return false;
        found = entry;
        return true;
    });
    if (!found) return false;
    removeAudio(*found);
    files::writeAtomically(url_, rewritten);
    return true;
}

std::size_t HistoryStore::cleanup(KeepPolicy policy) const {
    const auto retention = policy.retentionSeconds();
    if (!retention) return 0;
    const double cutoff = localtime::nowSeconds() - static_cast<double>(*retention);
    // An unreadable file is left alone: rewriting it from nothing would wipe the history.
    const auto text = readAll(url_);
    if (!text) return 0;

    std::size_t expired = 0;
    const std::string rewritten = rewriteLines(*text, [&](const HistoryEntry& entry) {
        if (entry.createdAt >= cutoff) return false;
        removeAudio(entry);
        ++expired;
        return true;
    });
    files::writeAtomically(url_, rewritten);
    return expired;
}

}  // namespace quorvel
