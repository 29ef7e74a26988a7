#include "core/LineScanner.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quorvel {
namespace {

constexpr std::size_t kBlock = 256 * 1024;

}  // namespace

LineScanner::LineScanner(int fd, std::size_t maxLine, off_t offset)
    : fd_(fd), maxLine_(maxLine), block_(kBlock, '\0'), blockOffset_(offset) {}

bool LineScanner::refill() {
    blockOffset_ += static_cast<off_t>(end_);
    begin_ = end_ = 0;
    while (true) {
        const ssize_t n = ::pread(fd_, block_.data(), block_.size(), blockOffset_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed_ = true;
        end_ = n > 0 ? static_cast<std::size_t>(n) : 0;
        return n > 0;
    }
}

// Keeps a piece of a line that crosses blocks, until the line turns out too long to keep.
void LineScanner::collect(std::string_view piece, bool& overlong) {
    if (overlong) return;
    if (carry_.size() + piece.size() > maxLine_) {
        overlong = true;
        carry_.clear();
        carry_.shrink_to_fit();
        return;
    }
    carry_.append(piece);
}

std::optional<LineScanner::Line> LineScanner::next() {
    if (failed_) return std::nullopt;
    Line line;
    line.offset = blockOffset_ + static_cast<off_t>(begin_);
    carry_.clear();
    bool overlong = false;
    bool pending = false;  // bytes of this line came before the current block
    while (true) {
        if (begin_ == end_ && !refill()) {
            if (failed_ || (!pending)) return std::nullopt;
            break;  // the file ends in a line without a line feed
        }
        const char* start = block_.data() + begin_;
        const auto* feed = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
        const std::size_t length = feed ? static_cast<std::size_t>(feed - start) : end_ - begin_;
        const std::string_view piece(start, length);
        begin_ += length;
        if (!feed) {
            collect(piece, overlong);
            pending = true;
            continue;
        }
        ++begin_;  // the line feed
        line.hasFeed = true;
        if (!pending && length <= maxLine_) {
            line.length = static_cast<off_t>(length);
            line.text = piece;
            return line;
        }
        collect(piece, overlong);
        break;
    }
    line.length = blockOffset_ + static_cast<off_t>(begin_) - line.offset - (line.hasFeed ? 1 : 0);
    if (!overlong) line.text = std::string_view(carry_);
    return line;
}

}  // namespace quorvel
