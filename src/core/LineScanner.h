#pragma once
// Reads a file front to back one line at a time while holding at most one block and one line of
// bounded length, so that a file of any size (or one endless line) costs little memory.

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

class LineScanner {
  public:
    struct Line {
        off_t offset = 0;      // where the line starts in the file
        off_t length = 0;      // its bytes, the line feed not counted
        bool hasFeed = false;  // false only for a last line the file ends in
        // The line's bytes; nothing when it is longer than the scanner's limit. Valid until the
        // next call to next().
        std::optional<std::string_view> text;
    };

    // Scans `fd` (not owned) from `offset` on; lines longer than `maxLine` bytes are stepped over.
    LineScanner(int fd, std::size_t maxLine, off_t offset = 0);

    // The next line, empty ones included; nothing at the end of the file or after a read error.
    std::optional<Line> next();

    // A read error ended the scan before the end of the file.
    bool failed() const { return failed_; }

  private:
    bool refill();
    void collect(std::string_view piece, bool& overlong);

    int fd_;
    std::size_t maxLine_;
    std::string block_;
    off_t blockOffset_;      // file offset of block_[0]
    std::size_t begin_ = 0;  // first byte of block_ not yet handed out
    std::size_t end_ = 0;    // bytes in block_
    std::string carry_;      // the start of a line that continues in the next block
    bool failed_ = false;
};

}  // namespace quorvel
